// vekpp serve: the site, its data and live reload wired to the HTTP core;
// runs until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/resource.h>

#include <iostream>
#include <mutex>

#include "Commands.h"
#include "DirWatcher.h"
#include "HttpServer.h"
#include "LiveReload.h"
#include "Site.h"
#include "SiteData.h"

namespace {

bool IsLoopback(const std::string& Address) {
  return Address.rfind("127.", 0) == 0 || Address == "::1" || Address == "localhost";
}

// As many descriptors as the hard limit allows: each connection takes one.
void RaiseDescriptorLimit() {
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
}

}  // namespace

int RunServe(const TCommonOptions& Common, const TServeOptions& Options) {
  std::unique_ptr<TVekTemplateRoot> root;
  std::unique_ptr<TSiteData> data;
  try {
    root = std::make_unique<TVekTemplateRoot>(Options.Dir);
    data = Options.Data.empty()
               ? std::make_unique<TSiteData>(DefaultDataFileOrJson(root->Dir()), true)
               : std::make_unique<TSiteData>(Options.Data, false);
    data->Get();
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
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
  // site when what it kept is out of date.
  const bool live = Options.LiveReload < 0 ? IsLoopback(Options.Bind) : Options.LiveReload > 0;
  std::unique_ptr<TLiveReload> liveReload;
  if (live) liveReload = std::make_unique<TLiveReload>();
  std::unique_ptr<TDirWatcher> watcher;
  if (live || Options.Cache) {
    try {
      TLiveReload* reload = liveReload.get();
      watcher = std::make_unique<TDirWatcher>(root->Dir(), [reload](const std::string&) {
        if (reload) reload->Changed();
      });
    } catch (const std::exception& e) {
      std::cerr << "vekpp: live reload and page keeping off: " << e.what() << "\n";
      liveReload.reset();
    }
  }
  TSite site(*root, *data, tagOptions, liveReload.get(), Options.Cache ? watcher.get() : nullptr);
  std::mutex logMutex;
  THttpLogger logger;
  if (!Options.Quiet) {
    logger = [&logMutex](const std::string& Line) {
      std::lock_guard<std::mutex> lock(logMutex);
      std::fwrite(Line.data(), 1, Line.size(), stderr);
      std::fputc('\n', stderr);
    };
  }
  std::unique_ptr<THttpServer> server;
  try {
    server =
        std::make_unique<THttpServer>(Options.Bind, Options.Port, Options.Limits, site, logger);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }
  const bool v6 = Options.Bind.find(':') != std::string::npos;
  std::cerr << "vekpp: serving " << root->Dir().string() << " on http://"
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
