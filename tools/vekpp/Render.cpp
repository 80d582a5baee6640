// vekpp render and vekpp check.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "Commands.h"
#include "Messages.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

// The template root: the one given, or the template's own directory.
fs::path RootFor(const TCommonOptions& Common, const std::string& Template) {
  if (!Common.Root.empty()) return Common.Root;
  return fs::absolute(Template).parent_path();
}

}  // namespace

TVekStdTagsOptions TagOptions(const TCommonOptions& Common) {
  TVekStdTagsOptions o;
  o.Strict = Common.Strict;
  o.Lenient = Common.Lenient;
  o.TagBeg = Common.TagBeg;
  o.TagEnd = Common.TagEnd;
  o.MaxIncludes = Common.MaxIncludes;
  o.MaxOutput = Common.MaxOutput;
  o.MaxSteps = Common.MaxSteps;
  o.MaxDepth = Common.MaxDepth;
  o.Cache = std::make_shared<TVekTemplateCache>();
  return o;
}

int RunRender(const TCommonOptions& Common, const TRenderOptions& Options) {
  const bool templateFromStdin = Options.Template == "-";
  if (!templateFromStdin) {
    if (const std::string problem = FileProblem(Options.Template); !problem.empty()) {
      std::cerr << "vekpp: " << problem << "\n";
      return 2;
    }
  }
  const fs::path rootDir = templateFromStdin && Common.Root.empty()
                               ? fs::current_path()
                               : RootFor(Common, Options.Template);
  std::shared_ptr<const json> data;
  AnsiString text;
  try {
    std::vector<std::string> files = Options.Data;
    if (files.empty()) files.push_back(DefaultDataFile(rootDir.string()));
    if (templateFromStdin && std::count(files.begin(), files.end(), "-") > 0)
      throw std::runtime_error("-: standard input is read once: for the template or for data");
    data = LoadData(files, Options.Sets, templateFromStdin ? nullptr : &std::cin);
    if (templateFromStdin) {
      text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
      if (std::cin.bad()) throw std::runtime_error("-: standard input cannot be read");
    }
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }
  std::unique_ptr<TVekTemplateRoot> root;
  TVekTemplateFile file;
  try {
    root = std::make_unique<TVekTemplateRoot>(rootDir);
    if (templateFromStdin) {
      file.Name = "<stdin>";
    } else {
      file = root->LocatePath(Options.Template);
      text = root->Read(file);
    }
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }
  AnsiString page;
  try {
    TVekPageProducer producer(nullptr);
    TVekStdTags tags(&producer, *root, data, TagOptions(Common));
    page = tags.RenderText(text, file.Name);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << WithFlags(e.what()) << "\n";
    return 1;
  }
  // Written only once the whole page is there: a failure leaves no half page.
  if (Options.Output.empty() || Options.Output == "-") {
    std::cout.write(page.data(), static_cast<std::streamsize>(page.size()));
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "vekpp: cannot write to standard output\n";
      return 2;
    }
    return 0;
  }
  errno = 0;
  std::ofstream out(Options.Output, std::ios::binary | std::ios::trunc);
  out.write(page.data(), static_cast<std::streamsize>(page.size()));
  out.close();
  if (!out) {
    std::cerr << "vekpp: "
              << (errno ? FileMessage(Options.Output, errno)
                        : Options.Output + ": cannot be written")
              << "\n";
    return 2;
  }
  return 0;
}

int RunCheck(const TCommonOptions& Common, const std::vector<std::string>& Templates,
             const std::string& DataFile) {
  int status = 0;
  std::shared_ptr<const json> data;
  if (!DataFile.empty()) {
    try {
      data = LoadData({DataFile}, {}, &std::cin);
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << e.what() << "\n";
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
      TVekTemplateRoot root(RootFor(Common, path));
      const TVekTemplateFile file = root.LocatePath(path);
      const AnsiString text = root.Read(file);
      auto issues = VekCheckTemplate(text, file.Name, &root, TagOptions(Common));
      if (data) {
        for (auto& w : VekCheckDataNames(text, file.Name, root, *data, TagOptions(Common)))
          issues.push_back(std::move(w));
        std::stable_sort(issues.begin(), issues.end(), [](const auto& a, const auto& b) {
          return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
        });
      }
      for (const auto& issue : issues) {
        std::cout << path << ":" << issue.Line << ":" << issue.Column << ": "
                  << (issue.Warning ? "warning: " : "") << WithFlags(issue.Message) << "\n";
        if (!issue.Warning && status == 0) status = 1;
      }
    } catch (const EVekTemplateError& e) {
      std::cerr << "vekpp: " << e.what() << "\n";  // names the file itself
      status = 2;
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << path << ": " << e.what() << "\n";
      status = 2;
    }
  }
  std::cout.flush();
  return status;
}
