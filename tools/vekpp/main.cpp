// vekpp: expands templates with the standard tags, checks them, serves them.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <iostream>
#include <thread>

#include "Commands.h"

int main(int argc, char** argv) {
  CLI::App app{"Expands, checks and serves templates written with the standard tags.", "vekpp"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("vekpp ") + VEK_VERSION,
                       "Print the version and exit");
  app.footer("Run `vekpp help COMMAND` or `vekpp COMMAND --help` for a command's options.");

  TCommonOptions common;
  // The options of a render: how tolerant, and its limits.
  auto addRender = [&common](CLI::App* Command, const char* StrictHelp) {
    Command->add_flag("--strict", common.Strict, StrictHelp);
    Command->add_flag("--lenient", common.Lenient,
                      "Render malformed templates as the producer alone would, instead of "
                      "refusing them");
    Command->add_option("--max-includes", common.MaxIncludes, "Most includes in one page")
        ->capture_default_str()
        ->check(CLI::Range(0LL, 1LL << 40));
    Command->add_option("--max-output", common.MaxOutput, "Most bytes of one page")
        ->capture_default_str()
        ->check(CLI::Range(0LL, 1LL << 46));
    Command
        ->add_option("--max-steps", common.MaxSteps,
                     "Most tags and texts one page may visit (loops within loops)")
        ->capture_default_str()
        ->check(CLI::Range(0LL, 1LL << 50));
  };
  auto addCommon = [&common](CLI::App* Command, bool WithRoot) {
    Command->add_option("--tag-begin", common.TagBeg, "Opening delimiter of a tag")
        ->capture_default_str()
        ->check([](const std::string& s) { return s.empty() ? "must not be empty" : ""; });
    Command->add_option("--tag-end", common.TagEnd, "Closing delimiter of a tag")
        ->capture_default_str()
        ->check([](const std::string& s) { return s.empty() ? "must not be empty" : ""; });
    Command
        ->add_option("--max-depth", common.MaxDepth,
                     "Deepest nesting of pairs and includes together")
        ->capture_default_str()
        ->check(CLI::Range(0, 1 << 20));
    if (WithRoot) {
      Command->add_option("--root", common.Root,
                          "Directory that includes may read from (default: the template's own)");
    }
  };

  TRenderOptions render;
  CLI::App* renderCmd =
      app.add_subcommand("render", "Expand a template and write the page (exit 1 on a fault)");
  renderCmd->add_option("template", render.Template, "Template file, or - for standard input")
      ->required();
  renderCmd
      ->add_option("--data", render.Data,
                   "Data file: .json, .yaml, .yml or .toml; - for JSON from standard input; "
                   "several merge in order (default: _data.json, .yaml or .toml of the root)")
      ->allow_extra_args(false);
  renderCmd
      ->add_option("--set", render.Sets,
                   "path=value: the value (JSON when it parses, else a string) at a path such as "
                   "a.b or items[0].name (repeatable)")
      ->allow_extra_args(false);
  renderCmd->add_option("-o,--output", render.Output, "Output file (default: standard output)");
  addRender(renderCmd, "A missing value, or a list where a value belongs, is an error");
  addCommon(renderCmd, true);

  std::vector<std::string> checkFiles;
  std::string checkData;
  CLI::App* checkCmd = app.add_subcommand(
      "check", "Report what render refuses in templates (exit 1 when any is found), and warnings");
  checkCmd->add_option("templates", checkFiles, "Template files")->required();
  checkCmd->add_option("--data", checkData,
                       "Data file (.json, .yaml, .yml or .toml): warn of names the templates use "
                       "that it lacks");
  addCommon(checkCmd, true);

  TServeOptions serve;
  serve.Limits.Workers = std::max(2u, std::thread::hardware_concurrency());
  CLI::App* serveCmd = app.add_subcommand(
      "serve", "Serve DIR over HTTP: /path answers DIR/path.html expanded, / answers index.html");
  serveCmd->add_option("dir", serve.Dir, "Directory of the site")->required();
  serveCmd->add_option("--data", serve.Data,
                       "Data file (.json, .yaml, .yml or .toml), read again when it changes "
                       "(default: DIR/_data.json, .yaml or .toml, if any)");
  serveCmd->add_option("--port", serve.Port, "Port (0: any free one)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  serveCmd->add_option("--bind", serve.Bind, "Address to listen on")->capture_default_str();
  serveCmd->add_option("--threads", serve.Limits.Workers, "Threads that render pages")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  serveCmd->add_option("--io-threads", serve.Limits.IoThreads, "Threads that handle connections")
      ->capture_default_str()
      ->check(CLI::Range(1, 64));
  serveCmd->add_option("--max-connections", serve.Limits.MaxConnections, "Connections in total")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  serveCmd
      ->add_option("--max-per-client", serve.Limits.MaxPerClient,
                   "Connections from one address (raise it behind a proxy)")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  serveCmd
      ->add_option("--request-timeout", serve.Limits.RequestSeconds,
                   "Seconds in which a whole request must arrive")
      ->capture_default_str()
      ->check(CLI::Range(1, 3600));
  bool liveOn = false, liveOff = false;
  serveCmd->add_flag("--live-reload,--watch", liveOn,
                     "Reload open pages when a file of the site changes "
                     "(the default when bound to loopback)");
  serveCmd->add_flag("--no-live-reload", liveOff, "No live reload")->excludes("--live-reload");
  bool noCache = false;
  serveCmd->add_flag("--no-cache", noCache,
                     "Render every page for every request (by default a rendered page is kept "
                     "until a file of the site or the data changes)");
  serveCmd->add_flag("--quiet", serve.Quiet, "No log line per request");
  addRender(serveCmd, "A missing value, or a list where a value belongs, is an error (500)");
  addCommon(serveCmd, false);

  TBuildOptions build;
  CLI::App* buildCmd = app.add_subcommand(
      "build", "Render every page of SRC into OUT and copy its other files (exit 1 on a fault)");
  buildCmd->add_option("src", build.Src, "Directory of the site")->required();
  buildCmd->add_option("-o,--output", build.Out, "Directory to write the site to")->required();
  buildCmd->add_option("--data", build.Data,
                       "Data file (.json, .yaml, .yml or .toml; default: SRC/_data.json, .yaml or "
                       ".toml, if any)");
  buildCmd->add_option("-j,--jobs", build.Jobs, "Pages rendered at once (default: one per core)")
      ->check(CLI::Range(1, 1024));
  buildCmd->add_flag("--watch", build.Watch, "Build again whenever a file of SRC changes");
  addRender(buildCmd, "A missing value, or a list where a value belongs, is an error");
  addCommon(buildCmd, false);

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
    for (const CLI::App* command : {renderCmd, checkCmd, serveCmd, buildCmd}) {
      if (command->get_name() == helpTopic) {
        std::cout << command->help("vekpp");
        return 0;
      }
    }
    std::cerr << "vekpp: help: no command named " << helpTopic << "\n";
    return 2;
  }
  if (*renderCmd) return RunRender(common, render);
  if (*checkCmd) return RunCheck(common, checkFiles, checkData);
  if (*buildCmd) return RunBuild(common, build);
  if (liveOn || liveOff) serve.LiveReload = liveOn ? 1 : 0;
  serve.Cache = !noCache;
  return RunServe(common, serve);
}
