// What the HTTP core of vekpp serve and its handler exchange: the limits,
// a request, an answer (a body, parts of a file, or an event stream), the
// handler's interface and the log line.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http/EventStream.h"

/// The limits of THttpServer. Each is reached by a client, never raised by
/// one; what happens when it is reached is said beside it.
struct THttpLimits {
  unsigned MaxConnections = 4096;  ///< in total; more are accepted and closed at once
  unsigned MaxPerClient = 64;      ///< from one address; more are closed at once
  /// A request (request line, headers and body) must have arrived this many
  /// seconds after its connection opened or the previous answer was sent,
  /// else the connection is closed: slow senders cannot hold it open.
  unsigned RequestSeconds = 10;
  /// Seconds without any progress, while an answer is sent too.
  unsigned IdleSeconds = 30;
  /// Bytes of request line and headers (431, or 414 for a long target).
  size_t MaxHeaderBytes = 16 * 1024;
  unsigned MaxHeaders = 64;           ///< header lines (431)
  uint64_t MaxBodyBytes = 64 * 1024;  ///< request body, chunked or not (413)
  unsigned IoThreads = 1;             ///< event threads
  unsigned Workers = 2;               ///< threads that build slow answers
};

/// A request as the handler sees it. Target is the path as sent (still
/// percent-encoded, without the query; an absolute-form target is given
/// as its path), Query what followed the first "?" (as sent, "" for none).
struct THttpRequest {
  std::string Method;
  std::string Target;
  std::string Query;
  std::string Client;  ///< the peer's address
  std::vector<std::pair<std::string, std::string>> Headers;
  /// The value of header Name (any case), or nullptr.
  const std::string* Header(const std::string& Name) const;
};

/// An answer made once and sent unchanged many times (a kept page): its
/// status, headers and body are fixed when it is made. The HTTP core keeps
/// its own form of the answer in it (made at the first send, freed with
/// it), so that a later send builds nothing. Safe from any thread.
class THttpFixedReply {
 public:
  using THeaders = std::vector<std::pair<std::string, std::string>>;
  /// Body null: no body (a 304).
  THttpFixedReply(int Status, THeaders Headers, std::shared_ptr<const std::string> Body);
  ~THttpFixedReply();
  THttpFixedReply(const THttpFixedReply&) = delete;
  THttpFixedReply& operator=(const THttpFixedReply&) = delete;

  const int Status;
  const THeaders Headers;
  const std::shared_ptr<const std::string> Body;

  /// The HTTP core's form of this answer: the one Make made at the first
  /// call, later ones get it again; Free frees it with this reply. Make
  /// returns null when it cannot make one (asked again next time).
  void* Native(void* (*Make)(const THttpFixedReply&), void (*Free)(void*)) const;

 private:
  mutable std::atomic<void*> FNative{nullptr};
  mutable std::atomic<void (*)(void*)> FFree{nullptr};
};

/// An answer. Its body is Body, or Parts of the open file
/// Fd (which the reply owns and closes), or an event stream; or it is all
/// Fixed, when set.
struct THttpReply {
  int Status = 200;
  std::vector<std::pair<std::string, std::string>> Headers;
  std::string Body;
  /// An answer made before, sent as it is: Status and the rest are unused.
  std::shared_ptr<const THttpFixedReply> Fixed;

  struct TPart {
    uint64_t Offset = 0;
    uint64_t Length = 0;
  };
  int Fd = -1;
  uint64_t FileSize = 0;
  std::vector<TPart> Parts;  ///< more than one: sent as multipart/byteranges
  std::string PartType;      ///< the file's type, for the parts' headers

  /// Server-Sent Events: the connection stays open and receives what is
  /// published to the stream.
  std::shared_ptr<TEventStream> Events;

  THttpReply() = default;
  THttpReply(THttpReply&& Other) noexcept;
  THttpReply& operator=(THttpReply&& Other) noexcept;
  THttpReply(const THttpReply&) = delete;
  THttpReply& operator=(const THttpReply&) = delete;
  ~THttpReply();

  void AddHeader(std::string Name, std::string Value) {
    Headers.emplace_back(std::move(Name), std::move(Value));
  }
  /// Bytes of the body as sent.
  uint64_t BodySize() const;
};

/// What answers the requests. The calls may run at the same time on
/// several threads; what Quick or Slow throws is answered 500, Error must
/// not throw.
class THttpHandler {
 public:
  virtual ~THttpHandler() = default;
  /// Called on an event thread once a GET or HEAD request has arrived:
  /// answers at once what is cheap (a file, an error) and returns true, or
  /// returns false to have Slow called on a worker.
  virtual bool Quick(const THttpRequest& Request, THttpReply& Reply) = 0;
  /// Called on a worker thread.
  virtual void Slow(const THttpRequest& Request, THttpReply& Reply) = 0;
  /// The page of an error the server answers itself (400, 405, 413, 415,
  /// 431, 503).
  virtual void Error(int Status, THttpReply& Reply) = 0;
};

/// One line per answered request, as "client \"METHOD target\" status
/// bytes 1.234ms"; null for none.
using THttpLogger = std::function<void(const std::string& Line)>;
