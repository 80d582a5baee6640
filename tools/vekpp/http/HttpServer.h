// The HTTP core of vekpp serve: an event-driven server (libmicrohttpd, one
// epoll thread or several) with the limits that keep slow or hostile
// clients from stalling it, and a pool of workers that slow answers are
// handed to.
//
// Waiting connections (idle, slow to send their headers, slow to read)
// cost the event thread a socket and a small buffer each, never a worker:
// a request reaches a worker only once it has fully arrived, and the
// connection is suspended until the worker has built the answer.
#pragma once

#include <memory>
#include <string>

#include "http/HttpTypes.h"

/// The server. Listens on construction, serves until Stop.
class THttpServer {
 public:
  /// Binds Address (IPv4 or IPv6 text) and Port (0: a free one) and starts
  /// the event and worker threads. Handler must outlive the server. Throws
  /// std::runtime_error when the address cannot be bound.
  THttpServer(const std::string& Address, int Port, const THttpLimits& Limits,
              THttpHandler& Handler, THttpLogger Logger);
  /// Stops, if not stopped yet.
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  /// The port listened on.
  int Port() const;
  /// Stops listening, lets the workers finish, ends the event streams and
  /// closes every connection.
  void Stop();

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};
