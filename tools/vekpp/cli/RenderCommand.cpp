// vekpp render: one template expanded with its data into a page; its options.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "VekStdTags.h"
#include "base/Messages.h"
#include "base/Printable.h"
#include "cli/Command.h"
#include "cli/CommonOptions.h"
#include "data/DataFiles.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

struct TRenderOptions {
  TCommonOptions Common;
  std::string Template;
  std::vector<std::string> Data;  // data files, merged in order; "-" for standard input
  std::vector<std::string> Sets;  // name=value
  std::string Output;             // "" or "-" for standard output
};

int RunRender(const TRenderOptions& Options) {
  const TCommonOptions& Common = Options.Common;
  const bool templateFromStdin = Options.Template == "-";
  if (!templateFromStdin) {
    if (const std::string problem = FileProblem(Options.Template); !problem.empty()) {
      std::cerr << "vekpp: " << problem << "\n";
      return 2;
    }
  }
  const fs::path rootDir = templateFromStdin && Common.Root.empty()
                               ? fs::current_path()
                               : TemplateRootFor(Common, Options.Template);
  std::shared_ptr<const TVekData> data;
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
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
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
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }
  AnsiString page;
  try {
    TVekPageProducer producer(nullptr);
    TVekStdTags tags(&producer, *root, data, TagOptions(Common));
    page = tags.RenderText(text, file.Name);
  } catch (const std::exception& e) {
    // A template's faults are listed one a line.
    std::cerr << "vekpp: " << VekTerminalLines(WithFlags(e.what())) << "\n";
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
                        : VekQuoteName(Options.Output) + ": cannot be written")
              << "\n";
    return 2;
  }
  return 0;
}

}  // namespace

CLI::App* AddRenderCommand(CLI::App& App, TCommandRun& Run) {
  auto options = std::make_shared<TRenderOptions>();
  CLI::App* command =
      App.add_subcommand("render", "Expand a template and write the page (exit 1 on a fault)");
  command->add_option("template", options->Template, "Template file, or - for standard input")
      ->required();
  command
      ->add_option("--data", options->Data,
                   "Data file: .json, .yaml, .yml or .toml; - for JSON from standard input; "
                   "several merge in order (default: _data.json, .yaml or .toml of the root)")
      ->allow_extra_args(false);
  command
      ->add_option("--set", options->Sets,
                   "path=value: the value (JSON when it parses, else a string) at a path such as "
                   "a.b or items[0].name (repeatable)")
      ->allow_extra_args(false);
  command->add_option("-o,--output", options->Output, "Output file (default: standard output)");
  AddRenderOptions(*command, options->Common,
                   "A missing value, or a list where a value belongs, is an error");
  AddTemplateOptions(*command, options->Common, true);
  Run = [options] { return RunRender(*options); };
  return command;
}
