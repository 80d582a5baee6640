// vekpp build: its options, one build, and with --watch a build again on
// every change of the site until SIGINT or SIGTERM.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "base/PathWithin.h"
#include "base/Printable.h"
#include "cli/Command.h"
#include "cli/CommonOptions.h"
#include "site/Build.h"
#include "site/BuildGraph.h"
#include "site/DirWatcher.h"
#include "site/SiteConfig.h"

namespace fs = std::filesystem;

namespace {

struct TBuildOptions {
  TCommonOptions Common;
  TSiteBuild Site;
  bool Watch = false;
  bool Full = false;
};

int RunBuild(const TBuildOptions& Options) {
  const TVekStdTagsOptions tagOptions = TagOptions(Options.Common);
  TSiteBuild site = Options.Site;
  site.Full = Options.Full;
  if (site.Out.empty()) {
    // The output folder of vekpp.toml, named here so that --watch knows
    // what the build writes.
    try {
      const std::string out = VekReadSiteConfig(site.Src).Output;
      if (!out.empty()) {
        site.Out = (fs::path(site.Src) / out).string();
        site.OutFromConfig = true;
      }
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << e.what() << "\n";
      return 2;
    }
  }
  if (!Options.Watch) return VekBuildSite(tagOptions, site);

  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::mutex mutex;
  std::condition_variable changed;
  bool pending = false;
  std::unique_ptr<TDirWatcher> watcher;
  try {
    std::error_code ec;
    const fs::path out = fs::weakly_canonical(fs::absolute(site.Out), ec);
    watcher = std::make_unique<TDirWatcher>(
        fs::canonical(site.Src), [&, out](const TDirWatcher::TChanges& Changes) {
          // What the build writes into a folder inside the site is no
          // change; any other path of the burst is ("" stands for many).
          const bool source = std::any_of(Changes.begin(), Changes.end(), [&](const auto& P) {
            return P.empty() || out.empty() || !VekPathWithin(P, out);
          });
          if (!source) return;
          std::lock_guard<std::mutex> lock(mutex);
          pending = true;
          changed.notify_one();
        });
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }
  // Each build renders only what the change affects (the first, what
  // changed since the state of the last build), unless --full.
  TBuildGraph graph;
  if (!Options.Full) site.Graph = &graph;
  // Built once the watcher is there: a change made while (or just after)
  // this build runs is seen and builds again.
  int status = VekBuildSite(tagOptions, site);
  if (status == 2) return status;
  // Later builds write no state each (the state of 10,000 pages is tens of
  // megabytes): it is written when the watch stops.
  site.SaveState = false;
  std::cerr << "vekpp: watching " << VekQuoteName(site.Src) << " (Ctrl-C stops)" << std::endl;
  std::atomic<bool> stop{false};
  std::thread signals([&] {
    int sig = 0;
    while (sigwait(&stopSignals, &sig) != 0) {
    }
    std::lock_guard<std::mutex> lock(mutex);
    stop = true;
    changed.notify_one();
  });
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [&] { return pending || stop; });
      if (stop) break;
      pending = false;
    }
    status = VekBuildSite(tagOptions, site);
  }
  signals.join();
  if (site.Graph && site.Graph->Builds > 1) VekWriteBuildState(site, *site.Graph);
  return 0;
}

}  // namespace

CLI::App* AddBuildCommand(CLI::App& App, TCommandRun& Run) {
  auto options = std::make_shared<TBuildOptions>();
  TSiteBuild& site = options->Site;
  CLI::App* command = App.add_subcommand(
      "build", "Render every page of SRC into OUT and copy its other files (exit 1 on a fault)");
  command->add_option("src", site.Src, "Directory of the site")->required();
  command->add_option("-o,--output", site.Out,
                      "Directory to write the site to (default: output in SRC/vekpp.toml)");
  command->add_option("--data", site.Data,
                      "Data file (.json, .yaml, .yml or .toml; default: SRC/_data.json, .yaml or "
                      ".toml, if any)");
  command->add_option("-j,--jobs", site.Jobs, "Pages rendered at once (default: one per core)")
      ->check(CLI::Range(1, 1024));
  command->add_flag("--drafts", site.Drafts, "Build and list pages marked draft: true");
  command->add_flag("--future", site.Future, "Build and list pages dated after now");
  command->add_flag("--ugly-urls", site.UglyUrls,
                    "Write page x as x.html (default: x/index.html, linked as /x/)");
  command->add_flag("--watch", options->Watch,
                    "Build again whenever a file of SRC changes: only the pages the change "
                    "affects");
  command->add_flag("-q,--quiet", site.Quiet,
                    "No progress line on a terminal, no summary line unless a page failed");
  command->add_flag("--full", options->Full,
                    "Render every page, not only what changed since the last build (whose "
                    "state OUT/.vekpp-build keeps); with --watch, on each change");
  AddRenderOptions(*command, options->Common,
                   "A missing value, or a list where a value belongs, is an error");
  AddTemplateOptions(*command, options->Common, false);
  Run = [options] { return RunBuild(*options); };
  return command;
}
