// THttpServer on libmicrohttpd: the request's way from its first byte to
// the log line, the connection deadline, and the answers as libmicrohttpd
// responses (memory, file descriptor, multipart ranges, event stream).
#include "HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_set>

#include "WorkerPool.h"

using TClock = std::chrono::steady_clock;

namespace {

bool SameName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return std::tolower(static_cast<unsigned char>(X)) ==
                  std::tolower(static_cast<unsigned char>(Y));
         });
}

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

// A connection, as the deadline watchdog sees it.
struct TConnection {
  int Fd = -1;
  TClock::time_point Since;  // opened, or its previous answer done
  bool Receiving = true;     // a request is awaited or arriving
  bool Cut = false;          // closed by the watchdog
};

// One request, from its request line to its log line.
struct TExchange {
  enum TState { stFresh, stReading, stWorking, stAnswered };
  TState State = stFresh;
  TClock::time_point Start = TClock::now();
  std::string Target;  // as sent, without the query
  std::string Method;
  std::string Client;
  uint64_t BodyBytes = 0;
  bool TooLarge = false;
  int Status = 0;
  uint64_t Sent = 0;
  THttpRequest Request;  // for the worker
  THttpReply Reply;      // built by the worker
};

// The pieces of a multipart/byteranges body: text, or bytes of the file.
struct TMultipart {
  struct TPiece {
    std::string Text;
    uint64_t Offset = 0, Length = 0;  // of the file, when Text is empty
    uint64_t Size() const { return Text.empty() ? Length : Text.size(); }
  };
  int Fd = -1;
  std::vector<TPiece> Pieces;
  size_t Index = 0;  // the piece that holds Done
  uint64_t Done = 0, IndexStart = 0;
  ~TMultipart() {
    if (Fd >= 0) close(Fd);
  }
};

ssize_t ReadMultipart(void* Cls, uint64_t Pos, char* Buf, size_t Max) {
  auto* m = static_cast<TMultipart*>(Cls);
  // The position only moves forward, by what was returned.
  while (m->Index < m->Pieces.size() && Pos >= m->IndexStart + m->Pieces[m->Index].Size()) {
    m->IndexStart += m->Pieces[m->Index].Size();
    ++m->Index;
  }
  if (m->Index >= m->Pieces.size()) return MHD_CONTENT_READER_END_OF_STREAM;
  const TMultipart::TPiece& p = m->Pieces[m->Index];
  const uint64_t within = Pos - m->IndexStart;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(Max, p.Size() - within));
  if (!p.Text.empty()) {
    std::memcpy(Buf, p.Text.data() + within, n);
    return static_cast<ssize_t>(n);
  }
  const ssize_t got = pread(m->Fd, Buf, n, static_cast<off_t>(p.Offset + within));
  return got > 0 ? got : MHD_CONTENT_READER_END_WITH_ERROR;
}

void FreeMultipart(void* Cls) {
  delete static_cast<TMultipart*>(Cls);
}

// A connection following an event stream.
struct TFollower {
  std::shared_ptr<TEventStream> Stream;
  std::shared_ptr<TEventStream::TSubscriber> Subscriber;
  MHD_Connection* Connection = nullptr;
};

ssize_t ReadEvents(void* Cls, uint64_t, char* Buf, size_t Max) {
  auto* f = static_cast<TFollower*>(Cls);
  const long n =
      f->Stream->Take(*f->Subscriber, Buf, Max, [f] { MHD_suspend_connection(f->Connection); });
  return n < 0 ? MHD_CONTENT_READER_END_OF_STREAM : static_cast<ssize_t>(n);
}

void FreeEvents(void* Cls) {
  auto* f = static_cast<TFollower*>(Cls);
  f->Stream->Unsubscribe(f->Subscriber);
  delete f;
}

void FreeString(void* Cls) {
  delete static_cast<std::string*>(Cls);
}

void FreeShared(void* Cls) {
  delete static_cast<std::shared_ptr<const std::string>*>(Cls);
}

// The path of the request line untouched: the handler decodes and checks it.
size_t KeepEscapes(void*, MHD_Connection*, char* S) {
  return std::strlen(S);
}

}  // namespace

const std::string* THttpRequest::Header(const std::string& Name) const {
  for (const auto& h : Headers) {
    if (SameName(h.first, Name)) return &h.second;
  }
  return nullptr;
}

THttpReply::THttpReply(THttpReply&& Other) noexcept {
  *this = std::move(Other);
}

THttpReply& THttpReply::operator=(THttpReply&& Other) noexcept {
  if (this != &Other) {
    if (Fd >= 0) close(Fd);
    Status = Other.Status;
    Headers = std::move(Other.Headers);
    Body = std::move(Other.Body);
    SharedBody = std::move(Other.SharedBody);
    Fd = Other.Fd;
    Other.Fd = -1;
    FileSize = Other.FileSize;
    Parts = std::move(Other.Parts);
    PartType = std::move(Other.PartType);
    Events = std::move(Other.Events);
  }
  return *this;
}

THttpReply::~THttpReply() {
  if (Fd >= 0) close(Fd);
}

uint64_t THttpReply::BodySize() const {
  if (SharedBody) return SharedBody->size();
  if (Fd < 0) return Body.size();
  uint64_t n = 0;
  for (const auto& p : Parts) n += p.Length;
  return n;
}

struct THttpServer::TImpl {
  TImpl(const THttpLimits& Limits, THttpHandler& Handler, THttpLogger Logger)
      : Limits(Limits), Handler(Handler), Logger(std::move(Logger)), Pool(Limits.Workers) {}

  THttpLimits Limits;
  THttpHandler& Handler;
  THttpLogger Logger;
  TWorkerPool Pool;
  MHD_Daemon* Daemon = nullptr;
  int Port = 0;
  std::string Boundary = "vekpp-part-boundary-7e4b1c";

  std::mutex ConnMutex;
  std::condition_variable ConnWake;
  std::unordered_set<TConnection*> Connections;
  bool Stopping = false;
  std::thread Watchdog;
  std::atomic<bool> Stopped{false};
  std::atomic<long> InFlight{0};  // requests begun and not yet done

  // The connection's deadline starts, or stops counting.
  void Receiving(MHD_Connection* Connection, bool On) {
    const MHD_ConnectionInfo* info =
        MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    if (!info || !info->socket_context) return;
    auto* c = static_cast<TConnection*>(info->socket_context);
    std::lock_guard<std::mutex> lock(ConnMutex);
    c->Receiving = On;
    if (On) c->Since = TClock::now();
  }

  // Closes the connections whose request has not arrived in time. Their
  // sockets are shut down, not closed: libmicrohttpd sees the end and
  // closes them itself. An entry leaves the set before its socket is closed,
  // so a shut-down descriptor is never one reused by a new connection.
  void WatchDeadlines() {
    std::unique_lock<std::mutex> lock(ConnMutex);
    while (!Stopping) {
      ConnWake.wait_for(lock, std::chrono::milliseconds(250));
      const auto limit = TClock::now() - std::chrono::seconds(Limits.RequestSeconds);
      for (TConnection* c : Connections) {
        if (c->Receiving && !c->Cut && c->Since < limit) {
          c->Cut = true;
          shutdown(c->Fd, SHUT_RDWR);
        }
      }
    }
  }

  static void OnConnection(void* Cls, MHD_Connection* Connection, void** SocketContext,
                           MHD_ConnectionNotificationCode Code) {
    auto* self = static_cast<TImpl*>(Cls);
    if (Code == MHD_CONNECTION_NOTIFY_STARTED) {
      auto* c = new TConnection;
      const MHD_ConnectionInfo* info =
          MHD_get_connection_info(Connection, MHD_CONNECTION_INFO_CONNECTION_FD);
      c->Fd = info ? info->connect_fd : -1;
      c->Since = TClock::now();
      std::lock_guard<std::mutex> lock(self->ConnMutex);
      self->Connections.insert(c);
      *SocketContext = c;
    } else {
      auto* c = static_cast<TConnection*>(*SocketContext);
      if (!c) return;
      {
        std::lock_guard<std::mutex> lock(self->ConnMutex);
        self->Connections.erase(c);
      }
      delete c;
      *SocketContext = nullptr;
    }
  }

  static void* OnRequestLine(void* Cls, const char* Uri, MHD_Connection*) {
    if (Cls) ++static_cast<TImpl*>(Cls)->InFlight;
    auto* ex = new TExchange;
    const char* query = std::strchr(Uri, '?');
    ex->Target.assign(Uri, query ? static_cast<size_t>(query - Uri) : std::strlen(Uri));
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
    MHD_Response* response = nullptr;
    Ex.Status = Reply.Status;
    Ex.Sent = Reply.BodySize();
    if (Reply.Events) {
      auto* f = new TFollower;
      f->Stream = Reply.Events;
      f->Connection = Connection;
      f->Subscriber = Reply.Events->Subscribe([Connection] { MHD_resume_connection(Connection); },
                                              "retry: 1000\n\n");
      response =
          MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 1024, ReadEvents, f, FreeEvents);
      if (!response) FreeEvents(f);
    } else if (Reply.Fd >= 0 && Reply.Parts.size() == 1) {
      response = MHD_create_response_from_fd_at_offset64(Reply.Parts[0].Length, Reply.Fd,
                                                         Reply.Parts[0].Offset);
      if (response) Reply.Fd = -1;  // the response closes it
    } else if (Reply.Fd >= 0) {
      auto* m = new TMultipart;
      uint64_t total = 0;
      for (const auto& p : Reply.Parts) {
        m->Pieces.push_back({"\r\n--" + Boundary + "\r\nContent-Type: " + Reply.PartType +
                                 "\r\nContent-Range: bytes " + std::to_string(p.Offset) + "-" +
                                 std::to_string(p.Offset + p.Length - 1) + "/" +
                                 std::to_string(Reply.FileSize) + "\r\n\r\n",
                             0, 0});
        if (p.Length) m->Pieces.push_back({"", p.Offset, p.Length});
      }
      m->Pieces.push_back({"\r\n--" + Boundary + "--\r\n", 0, 0});
      for (const auto& p : m->Pieces) total += p.Size();
      m->Fd = Reply.Fd;
      Reply.Fd = -1;
      Ex.Sent = total;
      response =
          MHD_create_response_from_callback(total, 64 * 1024, ReadMultipart, m, FreeMultipart);
      if (!response) delete m;
      Reply.AddHeader("Content-Type", "multipart/byteranges; boundary=" + Boundary);
    } else if (Reply.SharedBody) {
      auto* body = new std::shared_ptr<const std::string>(std::move(Reply.SharedBody));
      response = MHD_create_response_from_buffer_with_free_callback_cls(
          (*body)->size(), const_cast<char*>((*body)->data()), FreeShared, body);
      if (!response) delete body;
    } else {
      // The page moves into the response: sent as built, never copied.
      auto* body = new std::string(std::move(Reply.Body));
      response = MHD_create_response_from_buffer_with_free_callback_cls(body->size(), body->data(),
                                                                        FreeString, body);
      if (!response) delete body;
    }
    if (!response) return MHD_NO;
    for (const auto& h : Reply.Headers) {
      MHD_add_response_header(response, h.first.c_str(), h.second.c_str());
    }
    const MHD_Result queued =
        MHD_queue_response(Connection, static_cast<unsigned>(Reply.Status), response);
    MHD_destroy_response(response);
    Ex.State = TExchange::stAnswered;
    Receiving(Connection, false);
    return queued;
  }

  MHD_Result AnswerError(MHD_Connection* Connection, TExchange& Ex, int Status) {
    THttpReply reply;
    Handler.Error(Status, reply);
    return Answer(Connection, Ex, reply);
  }

  MHD_Result OnRequest(MHD_Connection* Connection, const char* Method, const char* UploadData,
                       size_t* UploadSize, void** Context) {
    auto* ex = static_cast<TExchange*>(*Context);
    if (!ex) *Context = ex = static_cast<TExchange*>(OnRequestLine(this, "", Connection));
    switch (ex->State) {
      case TExchange::stFresh: {
        ex->Method = Method;
        ex->Client = ClientOf(Connection);
        const int headers =
            MHD_get_connection_values(Connection, MHD_HEADER_KIND, nullptr, nullptr);
        if (headers < 0 || static_cast<unsigned>(headers) > Limits.MaxHeaders)
          return AnswerError(Connection, *ex, 431);
        // A compressed body is refused before a byte of it is read: inflating
        // it would let a few bytes cost any amount of memory.
        const char* coding =
            MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, "Content-Encoding");
        if (coding && std::strcmp(coding, "identity") != 0)
          return AnswerError(Connection, *ex, 415);
        const char* length =
            MHD_lookup_connection_value(Connection, MHD_HEADER_KIND, "Content-Length");
        if (length && std::strtoull(length, nullptr, 10) > Limits.MaxBodyBytes)
          return AnswerError(Connection, *ex, 413);
        if (ex->Method != "GET" && ex->Method != "HEAD") return AnswerError(Connection, *ex, 405);
        ex->State = TExchange::stReading;
        return MHD_YES;
      }
      case TExchange::stReading:
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
      case TExchange::stWorking:
        return Answer(Connection, *ex, ex->Reply);
      case TExchange::stAnswered:
        break;
    }
    return MHD_YES;
  }

  MHD_Result Dispatch(MHD_Connection* Connection, TExchange& Ex) {
    THttpRequest& req = Ex.Request;
    req.Method = Ex.Method;
    req.Target = Ex.Target;
    req.Client = Ex.Client;
    MHD_get_connection_values_n(Connection, MHD_HEADER_KIND, CollectHeader, &req.Headers);
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
    Ex.State = TExchange::stWorking;
    Receiving(Connection, false);
    MHD_suspend_connection(Connection);
    TExchange* ex = &Ex;
    const bool queued = Pool.Enqueue([this, ex, Connection] {
      try {
        Handler.Slow(ex->Request, ex->Reply);
      } catch (const std::exception&) {
        ex->Reply = THttpReply();
        Handler.Error(500, ex->Reply);
      }
      MHD_resume_connection(Connection);
    });
    if (!queued) {
      Handler.Error(503, Ex.Reply);
      MHD_resume_connection(Connection);
    }
    return MHD_YES;
  }

  static MHD_Result OnAccess(void* Cls, MHD_Connection* Connection, const char*, const char* Method,
                             const char*, const char* UploadData, size_t* UploadSize,
                             void** Context) {
    return static_cast<TImpl*>(Cls)->OnRequest(Connection, Method, UploadData, UploadSize, Context);
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
  impl->Daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &TImpl::OnAccess, impl,
                                  MHD_OPTION_ARRAY, options, MHD_OPTION_END);
  if (!impl->Daemon) {
    impl->Pool.Stop();
    throw std::runtime_error("cannot listen on " + Address + " port " + std::to_string(Port));
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(impl->Daemon, MHD_DAEMON_INFO_BIND_PORT);
  impl->Port = info ? info->port : Port;
  impl->Watchdog = std::thread([impl] { impl->WatchDeadlines(); });
}

THttpServer::~THttpServer() {
  Stop();
}

int THttpServer::Port() const {
  return FImpl->Port;
}

void THttpServer::Stop() {
  if (FImpl->Stopped.exchange(true)) return;
  // No new connections; the answers being built are finished and queued,
  // and sent (for up to 3 s: a proxy in front then loses no answer); then
  // every connection is closed. Suspended connections must all be resumed
  // before the daemon stops: the workers resume theirs, the event streams
  // (closed by their owner first) theirs.
  MHD_quiesce_daemon(FImpl->Daemon);
  FImpl->Pool.Stop();
  for (int i = 0; i < 300 && FImpl->InFlight > 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  {
    std::lock_guard<std::mutex> lock(FImpl->ConnMutex);
    FImpl->Stopping = true;
  }
  FImpl->ConnWake.notify_all();
  FImpl->Watchdog.join();
  MHD_stop_daemon(FImpl->Daemon);
}
