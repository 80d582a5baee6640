// vekpp check: what render refuses in templates, and warnings; its options.
#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VekStdTags.h"
#include "base/Messages.h"
#include "base/Printable.h"
#include "cli/Command.h"
#include "cli/CommonOptions.h"
#include "data/DataFiles.h"
#include "site/SiteCheck.h"
#include "site/SiteConfig.h"
#include "site/SiteNames.h"
#include "site/SitePages.h"

namespace fs = std::filesystem;

namespace {

struct TCheckOptions {
  TCommonOptions Common;
  std::vector<std::string> Templates;
  std::string Data;  // warn of the names the templates use that it lacks
};

// The line of Text holding the 1-based Line, at most 160 bytes of it around
// the byte Column, then a caret under that column (tabs kept, a character
// of several bytes one column wide), each with a line break.
std::string SourceAndCaret(const std::string& Text, const std::vector<size_t>& LineStarts, int Line,
                           int Column) {
  if (Line < 1 || static_cast<size_t>(Line) > LineStarts.size() || Column < 1) return "";
  const size_t begin = LineStarts[static_cast<size_t>(Line) - 1];
  size_t end = Text.find('\n', begin);
  if (end == std::string::npos) end = Text.size();
  if (end > begin && Text[end - 1] == '\r') --end;
  const size_t at = std::min(end, begin + static_cast<size_t>(Column) - 1);
  auto continuation = [&](size_t i) {
    return i < Text.size() && (static_cast<unsigned char>(Text[i]) & 0xC0) == 0x80;
  };
  size_t from = at > begin + 80 ? at - 80 : begin;
  while (from < at && continuation(from)) ++from;
  size_t to = std::min(end, from + 160);
  while (to < end && continuation(to)) ++to;
  // The template's bytes as a terminal may show them (control bytes written
  // as escapes, so a caret after one stands a little left).
  std::string out = (from > begin ? "..." : "") + VekTerminalText(Text.substr(from, to - from)) +
                    (to < end ? "..." : "") + "\n";
  std::string caret = from > begin ? "   " : "";
  for (size_t i = from; i < at; ++i) {
    const unsigned char c = static_cast<unsigned char>(Text[i]);
    if (c == '\t') {
      caret += '\t';
    } else if ((c & 0xC0) != 0x80) {
      caret += ' ';
    }
  }
  return out + caret + "^\n";
}

// The root of the site a file lies in: the nearest folder, from the file's
// own up, that holds vekpp.toml; "" when none does.
fs::path SiteRootOf(const std::string& Path) {
  std::error_code ec;
  fs::path dir = fs::weakly_canonical(fs::absolute(Path), ec).parent_path();
  if (ec) return {};
  for (;;) {
    if (fs::is_regular_file(dir / kSiteConfigName, ec)) return dir;
    if (!dir.has_relative_path()) return {};
    dir = dir.parent_path();
  }
}

// True for a name relative to a site that build renders as a page.
bool PublishedPage(const std::string& Name) {
  if (!VekSitePageName(Name)) return false;
  for (const auto& part : fs::path(Name)) {
    if (VekPrivateName(part.string())) return false;
  }
  return true;
}

// Prints Findings: each as "file:line:column: message" (a warning marked)
// with its source line and a caret; Shown gives the path shown for a file
// of the root. Sets Status to 1 for an error. Counts name the pages that
// met a finding of a shared file when InSite.
void Print(const std::vector<TSiteFinding>& Findings,
           const std::function<std::string(const std::string&)>& Shown,
           const std::function<const std::string&(const std::string&)>& TextOf, bool InSite,
           int& Status, size_t& Errors, size_t& Warnings) {
  std::map<std::string, std::vector<size_t>> lineStarts;
  for (const TSiteFinding& f : Findings) {
    std::string message = WithFlags(f.Message);
    if (InSite && f.Pages > 1) {
      message += " (in " + std::to_string(f.Pages) + " pages)";
    } else if (InSite && f.File != f.Page) {
      message += " (in the page " + f.Page + ")";
    }
    std::cout << Shown(f.File);
    if (f.Line > 0) std::cout << ":" << f.Line << ":" << f.Column;
    std::cout << ": " << (f.Warning ? "warning: " : "") << VekTerminalText(message) << "\n";
    const std::string& text = TextOf(f.File);
    if (f.Line > 0 && !text.empty()) {
      auto starts = lineStarts.find(f.File);
      if (starts == lineStarts.end()) {
        std::vector<size_t> s{0};
        for (size_t i = 0; i < text.size(); ++i)
          if (text[i] == '\n') s.push_back(i + 1);
        starts = lineStarts.emplace(f.File, std::move(s)).first;
      }
      std::cout << SourceAndCaret(text, starts->second, f.Line, f.Column);
    }
    if (f.Warning) {
      ++Warnings;
    } else {
      ++Errors;
      Status = std::max(Status, 1);
    }
  }
}

// The data of a check: the --data file, else the root's _data.* (null when
// there is none and the check is not strict: names are then not looked for).
std::shared_ptr<const TVekData> CheckData(const TCheckOptions& Options,
                                          const std::shared_ptr<const TVekData>& Given,
                                          const fs::path& Root) {
  if (Given) return Given;
  const std::string file = DefaultDataFile(Root.string());
  if (file.empty() && !Options.Common.Tags.Strict) return nullptr;
  return LoadData({file}, {});
}

// One template checked as render expands it, from the root Root; the names
// it uses are looked for in the data WithData.
int CheckTemplate(const TCheckOptions& Options, const std::shared_ptr<const TVekData>& Given,
                  const std::string& Path, const fs::path& Root, bool WithData) {
  try {
    const TVekTemplateRoot root(Root);
    const TVekTemplateFile file = root.LocatePath(Path);
    const std::string text = root.Read(file);
    const auto data = WithData ? CheckData(Options, Given, root.Dir()) : nullptr;
    const std::vector<TSiteFinding> found =
        VekCheckPage(root, file.Name, text, data.get(), TagOptions(Options.Common));
    // Other files of the root are shown as paths from here.
    const fs::path prefix = root.Dir().lexically_proximate(fs::current_path());
    std::map<std::string, std::string> texts{{file.Name, text}};
    const auto shown = [&](const std::string& Name) {
      return VekQuoteName(Name == file.Name ? Path
                                            : (prefix / Name).lexically_normal().generic_string());
    };
    const auto textOf = [&](const std::string& Name) -> const std::string& {
      auto it = texts.find(Name);
      if (it == texts.end()) {
        std::string read;
        try {
          read = root.Read(root.Locate("", Name));
        } catch (const std::exception&) {
          // shown without its line
        }
        it = texts.emplace(Name, std::move(read)).first;
      }
      return it->second;
    };
    int status = 0;
    size_t errors = 0, warnings = 0;
    Print(found, shown, textOf, false, status, errors, warnings);
    return status;
  } catch (const EVekTemplateError& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";  // names the file itself
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekQuoteName(Path) << ": " << VekTerminalText(e.what()) << "\n";
  }
  return 2;
}

// A site checked from its root Dir: every page, or only Page (shown as
// ShownPage); Shown is how Dir is shown.
int CheckSite(const TCheckOptions& Options, const std::shared_ptr<const TVekData>& Given,
              const fs::path& Dir, const std::string& Shown, const std::string& Page,
              const std::string& ShownPage) {
  try {
    const TVekTemplateRoot root(Dir);
    auto data = CheckData(Options, Given, root.Dir());
    if (!data) data = std::make_shared<const TVekData>(TVekData::object());
    const TSiteCheck check = VekCheckSite(root, *data, TagOptions(Options.Common), Page);
    // A file that is no page of the site (one in its output folder) is a
    // template of the site's root.
    if (!Page.empty() && check.Pages == 0)
      return CheckTemplate(Options, Given, ShownPage, Dir, false);
    static const std::string kNone;
    const auto shown = [&](const std::string& Name) {
      return VekQuoteName(!Page.empty() && Name == Page
                              ? ShownPage
                              : (fs::path(Shown) / Name).lexically_normal().generic_string());
    };
    const auto textOf = [&](const std::string& Name) -> const std::string& {
      const auto it = check.Texts.find(Name);
      return it == check.Texts.end() ? kNone : it->second;
    };
    int status = 0;
    size_t errors = 0, warnings = 0;
    Print(check.Findings, shown, textOf, Page.empty(), status, errors, warnings);
    if (check.More)
      std::cout << "vekpp: and " << check.More << " more findings, not listed (the first "
                << check.Findings.size() << " met are)\n";
    if (Page.empty()) {
      std::cerr << "vekpp: " << check.Pages << (check.Pages == 1 ? " page" : " pages") << " of "
                << VekQuoteName(Shown) << " checked: " << errors
                << (errors == 1 ? " error, " : " errors, ") << warnings
                << (warnings == 1 ? " warning" : " warnings") << "\n";
    }
    return status;
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }
}

int RunCheck(const TCheckOptions& Options) {
  int status = 0;
  std::shared_ptr<const TVekData> given;
  if (!Options.Data.empty()) {
    try {
      given = LoadData({Options.Data}, {}, &std::cin);
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
      return 2;
    }
  }
  for (const auto& path : Options.Templates) {
    std::error_code ec;
    int result = 0;
    if (fs::is_directory(path, ec)) {
      // A folder is a site, checked from it as its root.
      result = CheckSite(Options, given, path, path, "", "");
    } else if (const std::string problem = FileProblem(path); !problem.empty()) {
      std::cerr << "vekpp: " << problem << "\n";
      result = 2;
    } else if (const fs::path site = Options.Common.Root.empty() ? SiteRootOf(path) : fs::path();
               !site.empty()) {
      // A file of a site: a page as build renders it, a partial or a layout
      // from the site's root (the names it uses are looked for through the
      // pages that use it, which give it page).
      const std::string name =
          fs::weakly_canonical(fs::absolute(path), ec).lexically_relative(site).generic_string();
      const std::string shown = site.lexically_proximate(fs::current_path()).generic_string();
      result = PublishedPage(name) ? CheckSite(Options, given, site, shown, name, path)
                                   : CheckTemplate(Options, given, path, site, false);
    } else {
      result = CheckTemplate(Options, given, path, TemplateRootFor(Options.Common, path), true);
    }
    status = std::max(status, result);
  }
  std::cout.flush();
  return status;
}

}  // namespace

CLI::App* AddCheckCommand(CLI::App& App, TCommandRun& Run) {
  auto options = std::make_shared<TCheckOptions>();
  CLI::App* command = App.add_subcommand(
      "check",
      "Report what render refuses in templates or the pages of a site (exit 1 when any is found), "
      "and warnings");
  command
      ->add_option("templates", options->Templates,
                   "Template files, or folders each checked as a site from its root")
      ->required();
  command->add_option("--data", options->Data,
                      "Data file (.json, .yaml, .yml or .toml; default: _data.json, .yaml or "
                      ".toml of the root): warn of names the templates use that it lacks");
  command->add_flag("--strict", options->Common.Tags.Strict,
                    "A name the data lacks is an error, as a strict render refuses it");
  AddTemplateOptions(*command, options->Common, true);
  Run = [options] { return RunCheck(*options); };
  return command;
}
