// vekpp serve: the site, its data and live reload wired to the HTTP core,
// run until SIGINT or SIGTERM; its options.
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "base/Printable.h"
#include "cli/Command.h"
#include "cli/CommonOptions.h"
#include "data/DataFiles.h"
#include "http/HttpServer.h"
#include "http/LiveReload.h"
#include "http/Loopback.h"
#include "site/DirWatcher.h"
#include "site/ReloadFilter.h"
#include "site/Site.h"
#include "site/SiteData.h"

namespace {

struct TServeOptions {
  TCommonOptions Common;
  std::string Dir;
  std::string Data;  // data file; "" for DIR/_data.json (or .yaml, .yml, .toml), if any
  int Port = 8080;
  std::string Bind = "127.0.0.1";
  bool Quiet = false;
  int LiveReload = -1;  // 1 on, 0 off, -1 on when bound to loopback
  bool Cache = true;    // keep rendered pages while the site does not change
  THttpLimits Limits;
};

// As many descriptors as the hard limit allows: each connection takes one.
void RaiseDescriptorLimit() {
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
}

// Lines to standard error, one at a time, from any thread.
class TErrorLog {
 public:
  void Line(const std::string& Text) {
    std::lock_guard<std::mutex> lock(FMutex);
    std::fwrite(Text.data(), 1, Text.size(), stderr);
    std::fputc('\n', stderr);
  }

 private:
  std::mutex FMutex;
};

// Live reload's limits: streams take at most half of the connections in
// all and from one address, so that pages can always be asked for.
TLiveReload::TLimits ReloadLimits(const THttpLimits& Limits) {
  TLiveReload::TLimits l;
  l.MaxStreams = std::max(1u, Limits.MaxConnections / 2);
  l.MaxPerClient = std::max(1u, Limits.MaxPerClient / 2);
  return l;
}

int RunServe(const TServeOptions& Options) {
  const TCommonOptions& Common = Options.Common;
  TErrorLog log;
  const bool live =
      Options.LiveReload < 0 ? VekLoopbackAddress(Options.Bind) : Options.LiveReload > 0;
  std::unique_ptr<TLiveReload> liveReload;
  if (live) liveReload = std::make_unique<TLiveReload>(ReloadLimits(Options.Limits));
  std::unique_ptr<TVekTemplateRoot> root;
  std::unique_ptr<TSiteData> data;
  try {
    root = std::make_unique<TVekTemplateRoot>(Options.Dir);
    TSiteData::TEvents events;
    events.OnProblem = [&log](const std::string& Problem) {
      log.Line("vekpp: " + VekTerminalText(Problem) +
               " (the data read before is used until the file is mended)");
    };
    TLiveReload* reload = liveReload.get();
    events.OnChanged = [reload] {
      if (reload) reload->Changed();
    };
    data = Options.Data.empty()
               ? std::make_unique<TSiteData>(DefaultDataFileOrJson(root->Dir()), true, events)
               : std::make_unique<TSiteData>(Options.Data, false, events);
    data->Get();
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }
  const TVekStdTagsOptions tagOptions = TagOptions(Common);

  // SIGINT and SIGTERM are taken by this thread, which stops the server;
  // every other thread inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  RaiseDescriptorLimit();

  // One watcher of the site: it tells live reload what changed, and the
  // site when what it kept (routes, the list of pages, rendered pages
  // unless --no-cache) is out of date.
  std::unique_ptr<TDirWatcher> watcher;
  try {
    TLiveReload* reload = liveReload.get();
    auto filter = std::make_shared<TReloadFilter>(root->Dir());
    watcher = std::make_unique<TDirWatcher>(
        root->Dir(), [reload, filter](const TDirWatcher::TChanges& Changes) {
          if (reload && std::any_of(Changes.begin(), Changes.end(),
                                    [&](const auto& P) { return filter->Matters(P); }))
            reload->Changed();
        });
  } catch (const std::exception& e) {
    std::cerr << "vekpp: live reload and page keeping off: " << VekTerminalText(e.what()) << "\n";
    liveReload.reset();
  }
  TSiteFaults faults;
  faults.Log = [&log](const std::string& Detail) { log.Line("vekpp: " + VekTerminalText(Detail)); };
  faults.ShowOnLoopback = VekLoopbackAddress(Options.Bind);
  TSite site(*root, *data, tagOptions, liveReload.get(), watcher.get(), faults, Options.Cache);
  THttpLogger logger;
  if (!Options.Quiet) logger = [&log](const std::string& Line) { log.Line(Line); };
  std::unique_ptr<THttpServer> server;
  try {
    server =
        std::make_unique<THttpServer>(Options.Bind, Options.Port, Options.Limits, site, logger);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }
  const bool v6 = Options.Bind.find(':') != std::string::npos;
  std::cerr << "vekpp: serving " << VekQuoteName(root->Dir().string()) << " on http://"
            << (v6 ? "[" + Options.Bind + "]" : Options.Bind) << ":" << server->Port()
            << "/ (Ctrl-C stops)" << (liveReload ? ", live reload on" : "") << std::endl;

  int sig = 0;
  while (sigwait(&stopSignals, &sig) != 0) {
  }
  if (liveReload) liveReload->Close();
  server->Stop();
  std::cerr << "vekpp: stopped" << std::endl;
  return 0;
}

}  // namespace

CLI::App* AddServeCommand(CLI::App& App, TCommandRun& Run) {
  auto options = std::make_shared<TServeOptions>();
  TServeOptions& o = *options;
  THttpLimits& limits = o.Limits;
  limits.Workers = std::max(2u, std::thread::hardware_concurrency());
  limits.IoThreads = std::max(1u, std::thread::hardware_concurrency());
  CLI::App* command = App.add_subcommand(
      "serve", "Serve DIR over HTTP: /path answers DIR/path.html expanded, / answers index.html");
  command->add_option("dir", o.Dir, "Directory of the site")->required();
  command->add_option("--data", o.Data,
                      "Data file (.json, .yaml, .yml or .toml), read again when it changes "
                      "(default: DIR/_data.json, .yaml or .toml, if any)");
  command->add_option("--port", o.Port, "Port (0: any free one)")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  command->add_option("--bind", o.Bind, "Address to listen on")->capture_default_str();
  command->add_option("--threads", limits.Workers, "Threads that render pages")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  command
      ->add_option("--io-threads", limits.IoThreads,
                   "Threads that handle connections (default: one per core)")
      ->capture_default_str()
      ->check(CLI::Range(1, 64));
  command->add_option("--max-connections", limits.MaxConnections, "Connections in total")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  command
      ->add_option("--max-per-client", limits.MaxPerClient,
                   "Connections from one address (raise it behind a proxy)")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000000));
  command
      ->add_option("--request-timeout", limits.RequestSeconds,
                   "Seconds in which a whole request must arrive")
      ->capture_default_str()
      ->check(CLI::Range(1, 3600));
  auto liveOn = std::make_shared<bool>(false), liveOff = std::make_shared<bool>(false);
  command->add_flag("--live-reload,--watch", *liveOn,
                    "Reload open pages when a file of the site changes "
                    "(the default when bound to loopback)");
  command->add_flag("--no-live-reload", *liveOff, "No live reload")->excludes("--live-reload");
  auto noCache = std::make_shared<bool>(false);
  command->add_flag("--no-cache", *noCache,
                    "Render every page for every request (by default a rendered page is kept "
                    "until a file of the site or the data changes)");
  command->add_flag("--quiet", o.Quiet, "No log line per request");
  AddRenderOptions(*command, o.Common,
                   "A missing value, or a list where a value belongs, is an error (500)");
  AddTemplateOptions(*command, o.Common, false);
  Run = [options, liveOn, liveOff, noCache] {
    if (*liveOn || *liveOff) options->LiveReload = *liveOn ? 1 : 0;
    options->Cache = !*noCache;
    return RunServe(*options);
  };
  return command;
}
