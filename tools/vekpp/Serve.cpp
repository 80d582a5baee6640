// vekpp serve: a small web server over a directory of templates.
//
// GET /path answers the template DIR/path.html expanded with the standard
// tags (/ and /dir/ answer index.html), any other file under DIR as it is.
// Names that begin with "." or "_" (partials, hidden files) are never served.
// Every worker thread owns one producer, which the request handler reaches
// through the content-producer interface, as a web dispatcher would.
#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Commands.h"
#include "VekStdTags.h"

namespace {

// What one worker thread owns: a producer and the standard tags bound to it.
struct TWorker {
  TWorker(const TVekTemplateRoot& Root, std::shared_ptr<const TVekData> Data,
          const TVekStdTagsOptions& Options)
      : Producer(new TVekPageProducer(&Owner)), Tags(Producer, Root, std::move(Data), Options) {}
  TComponent Owner{nullptr};  // frees the producer
  TVekPageProducer* Producer;
  TVekStdTags Tags;
  TCustomContentProducer* Content() { return Producer; }
};

thread_local TWorker* tlsWorker = nullptr;
thread_local std::chrono::steady_clock::time_point tlsStart{};

// The server's task queue: a fixed set of threads, each with its own worker,
// running the connections it is handed one after the other.
class TWorkerPool : public httplib::TaskQueue {
 public:
  TWorkerPool(int Threads, std::function<std::unique_ptr<TWorker>()> Make)
      : FMake(std::move(Make)) {
    for (int i = 0; i < Threads; ++i) FThreads.emplace_back([this] { Run(); });
  }
  ~TWorkerPool() override { shutdown(); }

  void enqueue(std::function<void()> Job) override {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FJobs.push_back(std::move(Job));
    }
    FReady.notify_one();
  }

  void shutdown() override {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FStopping = true;
    }
    FReady.notify_all();
    for (auto& t : FThreads) {
      if (t.joinable()) t.join();
    }
  }

 private:
  void Run() {
    std::unique_ptr<TWorker> worker = FMake();
    tlsWorker = worker.get();
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(FMutex);
        FReady.wait(lock, [this] { return FStopping || !FJobs.empty(); });
        if (FJobs.empty()) break;  // stopping, and nothing left to do
        job = std::move(FJobs.front());
        FJobs.pop_front();
      }
      job();
    }
    tlsWorker = nullptr;
  }

  std::function<std::unique_ptr<TWorker>()> FMake;
  std::vector<std::thread> FThreads;
  std::mutex FMutex;
  std::condition_variable FReady;
  std::deque<std::function<void()>> FJobs;
  bool FStopping = false;
};

const char* ContentType(const std::string& Name) {
  static const std::pair<const char*, const char*> types[] = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".xml", "application/xml"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".webp", "image/webp"},
      {".ico", "image/vnd.microsoft.icon"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
      {".pdf", "application/pdf"},
      {".wasm", "application/wasm"},
  };
  const size_t dot = Name.rfind('.');
  if (dot != std::string::npos && Name.find('/', dot) == std::string::npos) {
    std::string ext = Name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& t : types) {
      if (ext == t.first) return t.second;
    }
  }
  return "application/octet-stream";
}

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

// A path for a Location header: every byte but the unreserved ones and "/"
// percent-encoded.
std::string PercentEncode(const std::string& S) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const unsigned char c : S) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// S with control bytes escaped, for one log line per request.
std::string Printable(const std::string& S) {
  std::string out;
  for (const unsigned char c : S) {
    if (c < 32 || c == 127 || c == '"' || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

const char* StatusText(int Status) {
  switch (Status) {
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 416:
      return "Range Not Satisfiable";
    case 500:
      return "Internal Server Error";
    default:
      return Status < 500 ? "Client Error" : "Server Error";
  }
}

void ErrorPage(httplib::Response& Res, int Status, const std::string& Detail) {
  const char* title = StatusText(Status);
  Res.status = Status;
  std::string body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                     std::to_string(Status) + " " + title + "</title></head>\n<body><h1>" +
                     std::to_string(Status) + " " + title + "</h1>\n";
  if (!Detail.empty()) body += "<pre>" + VekHtmlEscape(Detail) + "</pre>\n";
  body += "</body></html>\n";
  Res.set_content(body, "text/html; charset=utf-8");
}

class TSite {
 public:
  explicit TSite(const TVekTemplateRoot& Root) : FRoot(Root) {}

  void Handle(const httplib::Request& Req, httplib::Response& Res) const {
    const std::string& path = Req.path;  // already percent-decoded
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
      return ErrorPage(Res, 400, "");
    // The name inside DIR, checked part by part before the file system is
    // asked anything: no "..", nothing hidden.
    std::string name;
    size_t start = 1;
    while (start <= path.size()) {
      size_t slash = path.find('/', start);
      if (slash == std::string::npos) slash = path.size();
      const std::string part = path.substr(start, slash - start);
      start = slash + 1;
      if (part.empty() || part == ".") continue;
      if (part == "..") return ErrorPage(Res, 403, "");
      if (part[0] == '.' || part[0] == '_') return ErrorPage(Res, 404, "");
      name += (name.empty() ? "" : "/") + part;
    }
    try {
      if (name.empty() || path.back() == '/') {
        Page(name.empty() ? "index.html" : name + "/index.html", Res);
      } else if (EndsWith(name, ".html")) {
        Page(name, Res);
      } else if (!Page(name + ".html", Res, true)) {
        File(name, path, Res);
      }
    } catch (const EVekPathError& e) {
      switch (e.Kind()) {
        case EVekPathError::pkOutside:
          return ErrorPage(Res, 403, "");
        case EVekPathError::pkInvalid:
          return ErrorPage(Res, 400, "");
        default:
          return ErrorPage(Res, 404, "");
      }
    } catch (const std::exception& e) {
      // A fault of the template or its data: shown to whoever runs the
      // server, which by default is only this machine.
      return ErrorPage(Res, 500, e.what());
    }
  }

 private:
  // Expands the template Name. With Optional, a template that does not exist
  // answers false instead of throwing.
  bool Page(const std::string& Name, httplib::Response& Res, bool Optional = false) const {
    TWorker& worker = *tlsWorker;
    AnsiString text;
    try {
      text = worker.Tags.Load(Name);
    } catch (const EVekPathError& e) {
      if (Optional && e.Kind() == EVekPathError::pkNotFound) return false;
      throw;
    }
    const AnsiString page = worker.Content()->ContentFromString(text);
    Res.set_header("Cache-Control", "no-cache");
    Res.set_content(page, "text/html; charset=utf-8");
    return true;
  }

  void File(const std::string& Name, const std::string& Path, httplib::Response& Res) const {
    TVekTemplateFile file;
    try {
      file = FRoot.Locate("", Name);
    } catch (const EVekPathError& e) {
      std::error_code ec;
      if (e.Kind() == EVekPathError::pkNotAFile &&
          std::filesystem::is_directory(FRoot.Dir() / Name, ec)) {
        Res.set_redirect(PercentEncode(Path + "/"), 301);
        return;
      }
      throw;
    }
    Res.set_content(FRoot.Read(file), ContentType(file.Name));
  }

  const TVekTemplateRoot& FRoot;
};

}  // namespace

int RunServe(const TCommonOptions& Common, const TServeOptions& Options) {
  std::shared_ptr<const TVekData> data;
  std::unique_ptr<TVekTemplateRoot> root;
  try {
    data = LoadData(Options.Data.empty() ? std::vector<std::string>{DefaultDataFile(Options.Dir)}
                                         : Options.Data,
                    {});
    root = std::make_unique<TVekTemplateRoot>(Options.Dir);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }
  const TVekStdTagsOptions tagOptions = TagOptions(Common);

  // SIGINT and SIGTERM are taken by one thread that stops the server; every
  // other thread, the workers included, inherits the blocked mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  httplib::Server server;
  const TSite site(*root);
  server.new_task_queue = [&] {
    return new TWorkerPool(Options.Threads,
                           [&] { return std::make_unique<TWorker>(*root, data, tagOptions); });
  };
  // Address reuse lets a restarted server bind while old connections linger;
  // unlike the library's default, no port sharing: a second server on a
  // port in use must fail, not take part of its requests.
  server.set_socket_options([](socket_t Sock) {
    int yes = 1;
    setsockopt(Sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Headers and body go out in separate writes: without this, the second
  // waits for the client's delayed acknowledgement (some 40 ms a request).
  server.set_tcp_nodelay(true);
  server.set_keep_alive_timeout(2);
  server.set_keep_alive_max_count(1000);
  server.set_payload_max_length(1 << 20);
  server.set_pre_routing_handler([](const httplib::Request&, httplib::Response&) {
    tlsStart = std::chrono::steady_clock::now();
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.Get(".*", [&site](const httplib::Request& Req, httplib::Response& Res) {
    site.Handle(Req, Res);
  });
  const auto notAllowed = [](const httplib::Request&, httplib::Response& Res) {
    ErrorPage(Res, 405, "");
    Res.set_header("Allow", "GET, HEAD");
  };
  server.Post(".*", notAllowed);
  server.Put(".*", notAllowed);
  server.Patch(".*", notAllowed);
  server.Delete(".*", notAllowed);
  server.Options(".*", notAllowed);
  // Answers that the handlers above did not write (another method, a request
  // that cannot be parsed) get a page too.
  server.set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& Res) {
        if (!Res.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        ErrorPage(Res, Res.status, "");
        return httplib::Server::HandlerResponse::Handled;
      }));
  std::mutex logMutex;
  if (!Options.Quiet) {
    server.set_logger([&logMutex](const httplib::Request& Req, const httplib::Response& Res) {
      char ms[32] = "-";
      if (tlsStart != std::chrono::steady_clock::time_point{}) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - tlsStart);
        std::snprintf(ms, sizeof ms, "%.3fms", static_cast<double>(us.count()) / 1000.0);
        tlsStart = {};
      }
      const std::string line = Req.remote_addr + " \"" + Printable(Req.method) + " " +
                               Printable(Req.path) + "\" " + std::to_string(Res.status) + " " +
                               std::to_string(Res.body.size()) + " " + ms + "\n";
      std::lock_guard<std::mutex> lock(logMutex);
      std::fwrite(line.data(), 1, line.size(), stderr);
    });
  }

  int port = Options.Port;
  if (port == 0) {
    port = server.bind_to_any_port(Options.Bind);
  } else if (!server.bind_to_port(Options.Bind, port)) {
    port = -1;
  }
  if (port <= 0) {
    std::cerr << "vekpp: cannot listen on " << Options.Bind << " port " << Options.Port << "\n";
    return 2;
  }
  const bool v6 = Options.Bind.find(':') != std::string::npos;
  std::cerr << "vekpp: serving " << root->Dir().string() << " on http://"
            << (v6 ? "[" + Options.Bind + "]" : Options.Bind) << ":" << port << "/ (Ctrl-C stops)"
            << std::endl;

  std::atomic<bool> done{false};
  std::thread waiter([&] {
    while (!done) {
      const timespec tick{0, 200 * 1000 * 1000};
      if (sigtimedwait(&stopSignals, nullptr, &tick) > 0) {
        server.stop();
        return;
      }
    }
  });
  const bool ok = server.listen_after_bind();
  done = true;
  waiter.join();
  std::cerr << "vekpp: stopped" << std::endl;
  return ok ? 0 : 2;
}
