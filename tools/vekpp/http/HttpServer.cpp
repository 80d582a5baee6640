// THttpServer on libmicrohttpd: the request's way from its first byte to
// the log line, handed to the handler on the event thread or to a worker.
#include "http/HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "base/Messages.h"
#include "http/ConnectionDeadlines.h"
#include "http/MhdResponse.h"
#include "http/RequestTarget.h"
#include "http/WorkerPool.h"

using TClock = std::chrono::steady_clock;

namespace {

// S with control bytes, quotes and backslashes escaped, for the log.
std::string Printable(const std::string& S) {
  std::string out;
  for (const unsigned char c : S) {
    if (c < 32 || c >= 127 || c == '"' || c == '\\') {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// One request, from its request line to its log line.
struct TExchange {
  enum class TState { Fresh, Reading, Working, Answered };
  TState State = TState::Fresh;
  TClock::time_point Start = TClock::now();
  std::string Target;  // as sent, without the query
  std::string Query;   // what followed "?"
  std::string Method;
  std::string Client;
  uint64_t BodyBytes = 0;
  bool TooLarge = false;
  int Status = 0;
  uint64_t Sent = 0;
  THttpRequest Request;  // for the worker
  THttpReply Reply;      // built by the worker
};

// The path of the request line untouched: the handler decodes and checks it.
size_t KeepEscapes(void*, MHD_Connection*, char* S) {
  return std::strlen(S);
}

}  // namespace

struct THttpServer::TImpl {
  TImpl(const THttpLimits& Limits, THttpHandler& Handler, THttpLogger Logger)
      : Limits(Limits),
        Handler(Handler),
        Logger(std::move(Logger)),
        Pool(Limits.Workers),
        Deadlines(Limits.RequestSeconds) {}

  THttpLimits Limits;
  THttpHandler& Handler;
  THttpLogger Logger;
  TWorkerPool Pool;
  TConnectionDeadlines Deadlines;
  MHD_Daemon* Daemon = nullptr;
  int Port = 0;
  std::atomic<bool> Stopped{false};
  std::atomic<long> InFlight{0};  // requests begun and not yet done

  // The connection's deadline starts, or stops counting.
  void Receiving(MHD_Connection* Connection, bool On) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (info) Deadlines.Receiving(info->socket_context, On);
  }

  static void OnConnection(void* Cls, MHD_Connection* Connection, void** SocketContext,
                           MHD_ConnectionNotificationCode Code) {
    auto* self = static_cast<TImpl*>(Cls);
    if (Code == MHD_CONNECTION_NOTIFY_STARTED) {
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      *SocketContext = self->Deadlines.Opened(info ? info->connect_fd : -1);
    } else {
      self->Deadlines.Closed(*SocketContext);
      *SocketContext = nullptr;
    }
  }

  static void* OnRequestLine(void* Cls, const char* Uri, MHD_Connection*) {
    if (Cls) ++static_cast<TImpl*>(Cls)->InFlight;
    auto* ex = new TExchange;
    const char* query = std::strchr(Uri, '?');
    ex->Target.assign(Uri, query ? static_cast<size_t>(query - Uri) : std::strlen(Uri));
    if (query) ex->Query = query + 1;
    return ex;
  }

  static void OnCompleted(void* Cls, MHD_Connection* Connection, void** Context,
                          MHD_RequestTerminationCode Code) {
    auto* self = static_cast<TImpl*>(Cls);
    auto* ex = static_cast<TExchange*>(*Context);
    *Context = nullptr;
    if (!ex) return;
    if (self->Logger) {
      char tail[64];
      if (ex->Status) {
        const auto us =
            std::chrono::duration_cast<std::chrono::microseconds>(TClock::now() - ex->Start);
        std::snprintf(tail, sizeof tail, "%d %llu %.3fms", ex->Status,
                      static_cast<unsigned long long>(ex->Sent),
                      static_cast<double>(us.count()) / 1000.0);
      } else {
        std::snprintf(tail, sizeof tail, "- 0 closed before an answer (%d)",
                      static_cast<int>(Code));
      }
      std::string client = ex->Client;
      if (client.empty()) client = ClientOf(Connection);
      self->Logger(client + " \"" + Printable(ex->Method.empty() ? "-" : ex->Method) + " " +
                   Printable(ex->Target) + "\" " + tail);
    }
    delete ex;
    --self->InFlight;
    if (Code == MHD_REQUEST_TERMINATED_COMPLETED_OK) self->Receiving(Connection, true);
  }

  static std::string ClientOf(MHD_Connection* Connection) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr) return "-";
    char buf[INET6_ADDRSTRLEN] = "-";
    if (info->client_addr->sa_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr, buf,
                sizeof buf);
    } else if (info->client_addr->sa_family == AF_INET6) {
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(info->client_addr)->sin6_addr, buf,
                sizeof buf);
    }
    return buf;
  }

  static MHD_Result CollectHeader(void* Cls, MHD_ValueKind, const char* Key, size_t KeySize,
                                  const char* Value, size_t ValueSize) {
    auto* headers = static_cast<std::vector<std::pair<std::string, std::string>>*>(Cls);
    headers->emplace_back(std::string(Key, KeySize),
                          Value ? std::string(Value, ValueSize) : std::string());
    return MHD_YES;
  }

  // Queues Reply on Connection and notes what the log line says.
  MHD_Result Answer(MHD_Connection* Connection, TExchange& Ex, THttpReply& Reply) {
    // A fixed reply's response is made once and queued on every connection
    // that asks for it; the reply keeps its hold on it.
    const bool fixed = Reply.Fixed != nullptr;
    MHD_Response* response = nullptr;
    if (fixed) {
      Ex.Status = Reply.Fixed->Status;
      Ex.Sent = Reply.BodySize();
      response = VekMhdFixedResponse(*Reply.Fixed);
    } else {
      Ex.Status = Reply.Status;
      response = VekMhdResponse(Connection, Ex.Client, Reply, Ex.Sent);
    }
    if (!response) return MHD_NO;
    const MHD_Result queued =
        MHD_queue_response(Connection, static_cast<unsigned>(Ex.Status), response);
    if (!fixed) MHD_destroy_response(response);
    Ex.State = TExchange::TState::Answered;
    Receiving(Connection, false);
    return queued;
  }

  MHD_Result AnswerError(MHD_Connection* Connection, TExchange& Ex, int Status) {
    THttpReply reply;
    Handler.Error(Status, reply);
    return Answer(Connection, Ex, reply);
  }

  // Counts the Content-Length headers of a request and notes whether
  // their values differ.
  struct TLengths {
    unsigned Count = 0;
    std::string First;
    bool Differ = false;
  };
  static MHD_Result NoteLength(void* Cls, MHD_ValueKind, const char* Key, size_t KeySize,
                               const char* Value, size_t ValueSize) {
    static const char name[] = "content-length";
    if (KeySize != sizeof name - 1) return MHD_YES;
    for (size_t i = 0; i < KeySize; ++i) {
      if (std::tolower(static_cast<unsigned char>(Key[i])) != name[i]) return MHD_YES;
    }
    auto* lengths = static_cast<TLengths*>(Cls);
    const std::string value = Value ? std::string(Value, ValueSize) : std::string();
    if (lengths->Count++ == 0) {
      lengths->First = value;
    } else if (value != lengths->First) {
      lengths->Differ = true;
    }
    return MHD_YES;
  }

  // What a request whose head has arrived is refused with before its body
  // is read, or 0: too many headers, HTTP/1.1 without Host, lengths that
  // disagree, a compressed or too large body, a method other than GET and
  // HEAD.
  int Screen(MHD_Connection* Connection, const char* Version) const {
    const int headers = MHD_get_connection_values(Connection, MHD_HEADER_KIND, nullptr, nullptr);
    if (headers < 0 || static_cast<unsigned>(headers) > Limits.MaxHeaders) return 431;
    if (Version && std::strcmp(Version, MHD_HTTP_VERSION_1_1) == 0 &&
        !MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST))
      return 400;
    // Two lengths that differ leave the body's end to whoever reads it: a
    // proxy in front may take another end than this server does.
    TLengths lengths;
    MHD_get_connection_values_n(Connection, MHD_HEADER_KIND, NoteLength, &lengths);
    if (lengths.Differ) return 400;
    // A compressed body is refused before a byte of it is read: inflating
    // it would let a few bytes cost any amount of memory.
    const char* coding =
        MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, "Content-Encoding");
    if (coding && std::strcmp(coding, "identity") != 0) return 415;
    const char* length = MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, "Content-Length");
    if (length && std::strtoull(length, nullptr, 10) > Limits.MaxBodyBytes) return 413;
    return 0;
  }

  MHD_Result OnRequest(MHD_Connection* Connection, const char* Method, const char* Version,
                       const char* UploadData, size_t* UploadSize, void** Context) {
    auto* ex = static_cast<TExchange*>(*Context);
    if (!ex) *Context = ex = static_cast<TExchange*>(OnRequestLine(this, "", Connection));
    switch (ex->State) {
      case TExchange::TState::Fresh: {
        ex->Method = Method;
        ex->Client = ClientOf(Connection);
        if (const int status = Screen(Connection, Version))
          return AnswerError(Connection, *ex, status);
        if (ex->Method != "GET" && ex->Method != "HEAD") return AnswerError(Connection, *ex, 405);
        ex->State = TExchange::TState::Reading;
        return MHD_YES;
      }
      case TExchange::TState::Reading:
        if (*UploadSize) {
          // A body is counted as it comes and dropped: nothing here reads
          // one. Past the limit the rest is dropped too, and 413 answered at
          // its end (libmicrohttpd cannot answer in the middle of a body);
          // the request deadline bounds how long that may take.
          (void)UploadData;
          ex->BodyBytes += *UploadSize;
          *UploadSize = 0;
          if (ex->BodyBytes > Limits.MaxBodyBytes) ex->TooLarge = true;
          return MHD_YES;
        }
        if (ex->TooLarge) return AnswerError(Connection, *ex, 413);
        return Dispatch(Connection, *ex);
      case TExchange::TState::Working:
        return Answer(Connection, *ex, ex->Reply);
      case TExchange::TState::Answered:
        break;
    }
    return MHD_YES;
  }

  MHD_Result Dispatch(MHD_Connection* Connection, TExchange& Ex) {
    THttpRequest& req = Ex.Request;
    req.Method = Ex.Method;
    req.Query = Ex.Query;
    req.Client = Ex.Client;
    MHD_get_connection_values_n(Connection, MHD_HEADER_KIND, CollectHeader, &req.Headers);
    // An absolute-form target names this server by its Host, else 400.
    const std::string* host = req.Header("Host");
    if (!VekOriginForm(Ex.Target, host ? *host : std::string(), req.Target))
      return AnswerError(Connection, Ex, 400);
    THttpReply reply;
    // Nothing may leave a callback of the C library: a handler's failure
    // (memory, the file system) is a 500.
    try {
      if (Handler.Quick(req, reply)) return Answer(Connection, Ex, reply);
    } catch (const std::exception&) {
      reply = THttpReply();
      Handler.Error(500, reply);
      return Answer(Connection, Ex, reply);
    }
    // The connection waits, suspended, while a worker builds the answer;
    // the worker resumes it, and the answer is queued on this thread.
    Ex.State = TExchange::TState::Working;
    Receiving(Connection, false);
    MHD_suspend_connection(Connection);
    TExchange* ex = &Ex;
    // A job the pool drops when stopping answers 503 instead.
    const bool queued = Pool.Enqueue([this, ex, Connection](bool Run) {
      try {
        if (Run) Handler.Slow(ex->Request, ex->Reply);
      } catch (const std::exception&) {
        ex->Reply = THttpReply();
        Handler.Error(500, ex->Reply);
      }
      if (!Run) Handler.Error(503, ex->Reply);
      MHD_resume_connection(Connection);
    });
    if (!queued) {
      Handler.Error(503, Ex.Reply);
      MHD_resume_connection(Connection);
    }
    return MHD_YES;
  }

  static MHD_Result OnAccess(void* Cls, MHD_Connection* Connection, const char*, const char* Method,
                             const char* Version, const char* UploadData, size_t* UploadSize,
                             void** Context) {
    return static_cast<TImpl*>(Cls)->OnRequest(Connection, Method, Version, UploadData, UploadSize,
                                               Context);
  }
};

THttpServer::THttpServer(const std::string& Address, int Port, const THttpLimits& Limits,
                         THttpHandler& Handler, THttpLogger Logger)
    : FImpl(std::make_unique<TImpl>(Limits, Handler, std::move(Logger))) {
  sockaddr_in v4{};
  sockaddr_in6 v6{};
  const sockaddr* addr = nullptr;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
  if (inet_pton(AF_INET, Address.c_str(), &v4.sin_addr) == 1) {
    v4.sin_family = AF_INET;
    v4.sin_port = htons(static_cast<uint16_t>(Port));
    addr = reinterpret_cast<const sockaddr*>(&v4);
  } else if (inet_pton(AF_INET6, Address.c_str(), &v6.sin6_addr) == 1) {
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(static_cast<uint16_t>(Port));
    addr = reinterpret_cast<const sockaddr*>(&v6);
    flags |= MHD_USE_IPv6;
  } else {
    throw std::runtime_error("not an IP address: " + Address);
  }
  TImpl* impl = FImpl.get();
  const size_t pool = Limits.MaxHeaderBytes;
  MHD_OptionItem options[] = {
      {MHD_OPTION_SOCK_ADDR, 0, const_cast<sockaddr*>(addr)},
      {MHD_OPTION_CONNECTION_LIMIT, Limits.MaxConnections, nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, Limits.MaxPerClient, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, Limits.IdleSeconds, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(pool), nullptr},
      {MHD_OPTION_THREAD_POOL_SIZE, Limits.IoThreads > 1 ? Limits.IoThreads : 0, nullptr},
      {MHD_OPTION_LISTEN_BACKLOG_SIZE, 1024, nullptr},
      {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&TImpl::OnConnection), impl},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&TImpl::OnCompleted), impl},
      {MHD_OPTION_URI_LOG_CALLBACK, reinterpret_cast<intptr_t>(&TImpl::OnRequestLine), impl},
      {MHD_OPTION_UNESCAPE_CALLBACK, reinterpret_cast<intptr_t>(&KeepEscapes), nullptr},
      {MHD_OPTION_END, 0, nullptr},
  };
  errno = 0;
  impl->Daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &TImpl::OnAccess, impl,
                                  MHD_OPTION_ARRAY, options, MHD_OPTION_END);
  if (!impl->Daemon) {
    const int error = errno;  // left by the bind or listen that failed
    impl->Pool.Stop();
    impl->Deadlines.Stop();
    throw std::runtime_error(error != 0
                                 ? ListenMessage(Address, Port, error)
                                 : "cannot listen on " + Address + " port " + std::to_string(Port));
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(impl->Daemon, MHD_DAEMON_INFO_BIND_PORT);
  impl->Port = info ? info->port : Port;
}

THttpServer::~THttpServer() {
  Stop();
}

int THttpServer::Port() const {
  return FImpl->Port;
}

void THttpServer::Stop() {
  if (FImpl->Stopped.exchange(true)) return;
  // No new connections; the requests still queued for a worker are
  // answered 503 at once (a proxy in front sends them to another server),
  // the answers being built are finished; all are sent (for up to 3 s),
  // then every connection is closed. Suspended connections must all be
  // resumed before the daemon stops: the pool resumes theirs, the event
  // streams (closed by their owner first) theirs.
  MHD_quiesce_daemon(FImpl->Daemon);
  FImpl->Pool.Stop();
  for (int i = 0; i < 300 && FImpl->InFlight > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  FImpl->Deadlines.Stop();
  MHD_stop_daemon(FImpl->Daemon);
}
