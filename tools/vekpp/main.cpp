// vekpp: expands templates with the standard tags, checks them, builds and
// serves sites. Each command is one file of cli/, registered in the table
// below.
#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <vector>

#include "cli/Command.h"

namespace {

// The commands, in the order the help lists them.
const TAddCommand kCommands[] = {AddRenderCommand, AddCheckCommand, AddServeCommand,
                                 AddBuildCommand, AddNewCommand};

struct TAdded {
  CLI::App* Command;
  TCommandRun Run;
};

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Expands, checks and serves templates written with the standard tags.", "vekpp"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vekpp ") + VEK_VERSION,
                       "Print the version and exit");
  app.footer("Run `vekpp help COMMAND` or `vekpp COMMAND --help` for a command's options.");

  std::vector<TAdded> commands;
  for (const TAddCommand add : kCommands) {
    TAdded added{nullptr, nullptr};
    added.Command = add(app, added.Run);
    commands.push_back(std::move(added));
  }
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
    for (const TAdded& added : commands) {
      if (added.Command->get_name() == helpTopic) {
        std::cout << added.Command->help("vekpp");
        return 0;
      }
    }
    std::cerr << "vekpp: help: no command named " << helpTopic << "\n";
    return 2;
  }
  for (const TAdded& added : commands) {
    if (*added.Command) return added.Run();
  }
  return 2;
}
