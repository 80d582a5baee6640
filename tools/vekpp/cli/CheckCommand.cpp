// vekpp check: what render refuses in templates, and warnings; its options.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "VekStdTags.h"
#include "base/Messages.h"
#include "base/Printable.h"
#include "cli/Command.h"
#include "cli/CommonOptions.h"
#include "data/DataFiles.h"

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

int RunCheck(const TCheckOptions& Options) {
  const TCommonOptions& Common = Options.Common;
  const std::vector<std::string>& Templates = Options.Templates;
  const std::string& DataFile = Options.Data;
  int status = 0;
  std::shared_ptr<const TVekData> data;
  if (!DataFile.empty()) {
    try {
      data = LoadData({DataFile}, {}, &std::cin);
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
      return 2;
    }
  }
  for (const auto& path : Templates) {
    if (const std::string problem = FileProblem(path); !problem.empty()) {
      std::cerr << "vekpp: " << problem << "\n";
      status = 2;
      continue;
    }
    try {
      TVekTemplateRoot root(TemplateRootFor(Common, path));
      const TVekTemplateFile file = root.LocatePath(path);
      const AnsiString text = root.Read(file);
      const TVekStdTagsOptions options = TagOptions(Common);
      auto issues = VekCheckTemplate(text, file.Name, &root, options);
      if (data) {
        for (auto& w : VekCheckDataNames(text, file.Name, root, *data, options))
          issues.push_back(std::move(w));
        std::stable_sort(issues.begin(), issues.end(), [](const auto& a, const auto& b) {
          return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
        });
      }
      std::vector<size_t> lineStarts{0};
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') lineStarts.push_back(i + 1);
      }
      for (const auto& issue : issues) {
        std::cout << VekQuoteName(path) << ":" << issue.Line << ":" << issue.Column << ": "
                  << (issue.Warning ? "warning: " : "") << VekTerminalText(WithFlags(issue.Message))
                  << "\n"
                  << SourceAndCaret(text, lineStarts, issue.Line, issue.Column);
        if (!issue.Warning && status == 0) status = 1;
      }
    } catch (const EVekTemplateError& e) {
      std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";  // names the file itself
      status = 2;
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << VekQuoteName(path) << ": " << VekTerminalText(e.what()) << "\n";
      status = 2;
    }
  }
  std::cout.flush();
  return status;
}

}  // namespace

CLI::App* AddCheckCommand(CLI::App& App, TCommandRun& Run) {
  auto options = std::make_shared<TCheckOptions>();
  CLI::App* command = App.add_subcommand(
      "check", "Report what render refuses in templates (exit 1 when any is found), and warnings");
  command->add_option("templates", options->Templates, "Template files")->required();
  command->add_option("--data", options->Data,
                      "Data file (.json, .yaml, .yml or .toml): warn of names the templates use "
                      "that it lacks");
  AddTemplateOptions(*command, options->Common, true);
  Run = [options] { return RunCheck(*options); };
  return command;
}
