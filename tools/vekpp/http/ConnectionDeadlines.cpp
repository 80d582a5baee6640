// TConnectionDeadlines: connections whose request has not arrived in time
// are shut down by a watchdog thread.
#include "http/ConnectionDeadlines.h"

#include <sys/socket.h>

#include <atomic>

using TClock = std::chrono::steady_clock;

// Since and Receiving are set by the connection's event thread without the
// set's lock, and read by the watchdog: a request costs no lock shared with
// the other event threads.
struct TConnectionDeadlines::TConnection {
  int Fd = -1;
  std::atomic<TClock::rep> Since{0};  // opened, or its previous answer done
  std::atomic<bool> Receiving{true};  // a request is awaited or arriving
  bool Cut = false;                   // shut down by the watchdog
};

TConnectionDeadlines::TConnectionDeadlines(unsigned RequestSeconds)
    : FLimit(RequestSeconds), FWatchdog([this] { Watch(); }) {}

TConnectionDeadlines::~TConnectionDeadlines() {
  Stop();
}

void* TConnectionDeadlines::Opened(int Fd) {
  auto* c = new TConnection;
  c->Fd = Fd;
  c->Since = TClock::now().time_since_epoch().count();
  std::lock_guard<std::mutex> lock(FMutex);
  FConnections.insert(c);
  return c;
}

void TConnectionDeadlines::Closed(void* Entry) {
  auto* c = static_cast<TConnection*>(Entry);
  if (!c) return;
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FConnections.erase(c);
  }
  delete c;
}

void TConnectionDeadlines::Receiving(void* Entry, bool On) {
  auto* c = static_cast<TConnection*>(Entry);
  if (!c) return;
  // The time first: the watchdog never sees a new request with the time
  // of the one before.
  if (On) c->Since.store(TClock::now().time_since_epoch().count(), std::memory_order_relaxed);
  c->Receiving.store(On, std::memory_order_release);
}

void TConnectionDeadlines::Stop() {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    FStopping = true;
  }
  FWake.notify_all();
  if (FWatchdog.joinable()) FWatchdog.join();
}

// The sockets are shut down, not closed: libmicrohttpd sees the end and
// closes them itself. An entry leaves the set before its socket is closed,
// so a shut-down descriptor is never one reused by a new connection.
void TConnectionDeadlines::Watch() {
  std::unique_lock<std::mutex> lock(FMutex);
  while (!FStopping) {
    FWake.wait_for(lock, std::chrono::milliseconds(250));
    const auto limit = (TClock::now() - FLimit).time_since_epoch().count();
    for (TConnection* c : FConnections) {
      if (c->Receiving.load(std::memory_order_acquire) && !c->Cut &&
          c->Since.load(std::memory_order_relaxed) < limit) {
        c->Cut = true;
        shutdown(c->Fd, SHUT_RDWR);
      }
    }
  }
}
