// A command of vekpp as main's table sees it: a subcommand added to the
// command line with its own options and help, and what runs it.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>

/// Runs a chosen command and returns the process's exit status: 0 when all
/// went well, 1 when the templates or data have a fault, 2 when the command
/// could not run (a file that cannot be read, a port that cannot be bound).
using TCommandRun = std::function<int()>;

/// Adds one command to App, with its options and help, and sets Run to what
/// runs it once it is chosen (its options live in Run's captures). Returns
/// the subcommand, for help and for telling which one was chosen.
using TAddCommand = CLI::App* (*)(CLI::App& App, TCommandRun& Run);

// One per file of cli/.
CLI::App* AddRenderCommand(CLI::App& App, TCommandRun& Run);
CLI::App* AddCheckCommand(CLI::App& App, TCommandRun& Run);
CLI::App* AddServeCommand(CLI::App& App, TCommandRun& Run);
CLI::App* AddBuildCommand(CLI::App& App, TCommandRun& Run);
CLI::App* AddNewCommand(CLI::App& App, TCommandRun& Run);
