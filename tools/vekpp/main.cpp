// vekpp: expands templates with the standard tags, checks them, serves them.
#include <CLI/CLI.hpp>

#include <iostream>

#include "Commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Expands, checks and serves templates written with the standard tags.", "vekpp"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vekpp ") + VEK_VERSION,
                       "Print the version and exit");
  app.footer("Run `vekpp help COMMAND` or `vekpp COMMAND --help` for a command's options.");

  TCommonOptions common;
  auto addCommon = [&common](CLI::App* Command, bool WithRoot) {
    Command->add_option("--tag-begin", common.TagBeg, "Opening delimiter of a tag")
        ->capture_default_str()
        ->check([](const std::string& s) { return s.empty() ? "must not be empty" : ""; });
    Command->add_option("--tag-end", common.TagEnd, "Closing delimiter of a tag")
        ->capture_default_str()
        ->check([](const std::string& s) { return s.empty() ? "must not be empty" : ""; });
    if (WithRoot) {
      Command->add_option("--root", common.Root,
                          "Directory that includes may read from (default: the template's own)");
    }
  };

  TRenderOptions render;
  CLI::App* renderCmd =
      app.add_subcommand("render", "Expand a template and write the page (exit 1 on a fault)");
  renderCmd->add_option("template", render.Template, "Template file")->required();
  renderCmd->add_option("--data", render.Data,
                        "JSON file with the data (default: _data.json of the root, if any)");
  renderCmd->add_option("--set", render.Sets, "name=value: a string at a dotted name (repeatable)")
      ->allow_extra_args(false);
  renderCmd->add_option("-o,--output", render.Output, "Output file (default: standard output)");
  renderCmd->add_flag("--strict", common.Strict,
                      "A missing value or a malformed template is an error");
  addCommon(renderCmd, true);

  std::vector<std::string> checkFiles;
  CLI::App* checkCmd =
      app.add_subcommand("check", "Report likely faults of templates (exit 1 when any is found)");
  checkCmd->add_option("templates", checkFiles, "Template files")->required();
  addCommon(checkCmd, true);

  TServeOptions serve;
  CLI::App* serveCmd = app.add_subcommand(
      "serve", "Serve DIR over HTTP: /path answers DIR/path.html expanded, / answers index.html");
  serveCmd->add_option("dir", serve.Dir, "Directory of the site")->required();
  serveCmd->add_option("--data", serve.Data,
                       "JSON file with the data (default: DIR/_data.json, if any)");
  serveCmd->add_option("--port", serve.Port, "Port (0: any free one)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  serveCmd->add_option("--bind", serve.Bind, "Address to listen on")->capture_default_str();
  serveCmd->add_option("--threads", serve.Threads, "Worker threads")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  serveCmd->add_flag("--quiet", serve.Quiet, "No log line per request");
  serveCmd->add_flag("--strict", common.Strict,
                     "A missing value or a malformed template is an error (500)");
  addCommon(serveCmd, false);

  std::string helpTopic;
  CLI::App* helpCmd = app.add_subcommand("help", "Print this help, or a command's");
  helpCmd->add_option("command", helpTopic, "The command to describe");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (*helpCmd) {
    if (helpTopic.empty()) {
      // app.help() would describe the selected command, which is help itself.
      std::cout << app.get_formatter()->make_help(&app, "vekpp", CLI::AppFormatMode::Normal);
      return 0;
    }
    for (const CLI::App* command : {renderCmd, checkCmd, serveCmd}) {
      if (command->get_name() == helpTopic) {
        std::cout << command->help("vekpp");
        return 0;
      }
    }
    std::cerr << "vekpp: help: no command named " << helpTopic << "\n";
    return 2;
  }
  if (*renderCmd) return RunRender(common, render);
  if (*checkCmd) return RunCheck(common, checkFiles);
  return RunServe(common, serve);
}
