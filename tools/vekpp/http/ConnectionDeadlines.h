// Internal to the HTTP core: the request deadline of every connection,
// kept by a watchdog thread that cuts the connections that miss it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

class TConnectionDeadlines {
 public:
  /// Starts the watchdog: a connection receiving a request for longer than
  /// RequestSeconds is shut down (checked every 250 ms).
  explicit TConnectionDeadlines(unsigned RequestSeconds);
  /// Stops the watchdog (see Stop).
  ~TConnectionDeadlines();
  TConnectionDeadlines(const TConnectionDeadlines&) = delete;
  TConnectionDeadlines& operator=(const TConnectionDeadlines&) = delete;

  /// A connection on socket Fd opened, awaiting its first request; returns
  /// its entry, to pass to the calls below and to Closed.
  void* Opened(int Fd);
  /// The connection of Entry closed; Entry is freed.
  void Closed(void* Entry);
  /// The connection's deadline starts (a request is awaited or arriving),
  /// or stops counting (an answer is built or sent).
  void Receiving(void* Entry, bool On);
  /// Ends the watchdog thread; connections are cut no more.
  void Stop();

 private:
  struct TConnection;
  void Watch();

  const std::chrono::seconds FLimit;
  std::mutex FMutex;
  std::condition_variable FWake;
  std::unordered_set<TConnection*> FConnections;
  bool FStopping = false;
  std::thread FWatchdog;
};
