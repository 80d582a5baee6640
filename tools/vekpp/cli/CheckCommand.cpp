// vekpp check: what render refuses in templates, and warnings; its options.
#include <algorithm>
#include <iostream>
#include <memory>

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
      for (const auto& issue : issues) {
        std::cout << VekQuoteName(path) << ":" << issue.Line << ":" << issue.Column << ": "
                  << (issue.Warning ? "warning: " : "") << VekTerminalText(WithFlags(issue.Message))
                  << "\n";
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
