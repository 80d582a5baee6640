// A stream of Server-Sent Events that any number of connections follow:
// what is published is queued for each of them, and a connection that
// waits for more is woken when it comes.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class TEventStream {
 public:
  /// One connection following the stream.
  struct TSubscriber {
    std::string Pending;         ///< published, not yet taken
    std::function<void()> Wake;  ///< called, under the stream's lock, when parked
    bool Parked = false;
  };

  /// Queues Frame (a whole event, "data: ...\n\n") for every subscriber and
  /// wakes those that wait. A subscriber that does not read keeps at most
  /// kMaxPending bytes; what would go beyond is dropped.
  void Publish(const std::string& Frame);
  /// Ends the stream: every subscriber's next Take answers -1.
  void Close();
  bool Closed() const;

  /// Adds a subscriber with First pending (so that the answer starts at
  /// once); Wake resumes it once it has parked.
  std::shared_ptr<TSubscriber> Subscribe(std::function<void()> Wake, std::string First);
  void Unsubscribe(const std::shared_ptr<TSubscriber>& Subscriber);
  /// Moves up to Max pending bytes of Subscriber into Buf and returns how
  /// many. With none pending, calls Park (under the stream's lock, so that
  /// no wake can come before it), marks the subscriber parked and returns
  /// 0; once closed, returns -1.
  long Take(TSubscriber& Subscriber, char* Buf, size_t Max, const std::function<void()>& Park);
  /// Subscribers now.
  size_t Count() const;

  static constexpr size_t kMaxPending = 4096;

 private:
  mutable std::mutex FMutex;
  std::list<std::shared_ptr<TSubscriber>> FSubscribers;
  bool FClosed = false;
};
