// A stream of Server-Sent Events that any number of connections follow:
// what is published is queued for each of them, and a connection that
// waits for more is woken when it comes.
#pragma once

#include <chrono>
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
    std::string Client;                             ///< the address it follows from
    std::chrono::steady_clock::time_point LastUse;  ///< subscribed, or sent an event
    bool Ended = false;                             ///< expired: ends once Pending is taken
  };

  /// Queues Frame (a whole event, "data: ...\n\n") for every subscriber and
  /// wakes those that wait. A subscriber that does not read keeps at most
  /// kMaxPending bytes; what would go beyond is dropped. An Event counts as
  /// use of the subscribers (see Expire); a keep-alive comment does not.
  void Publish(const std::string& Frame, bool Event = true);
  /// Ends the subscribers that no event was published to since Before:
  /// their next Take answers -1 once their pending bytes are taken.
  void Expire(std::chrono::steady_clock::time_point Before);
  /// Ends the stream: every subscriber's next Take answers -1.
  void Close();
  bool Closed() const;

  /// Adds a subscriber from the address Client with First pending (so that
  /// the answer starts at once); Wake resumes it once it has parked.
  std::shared_ptr<TSubscriber> Subscribe(std::function<void()> Wake, std::string First,
                                         std::string Client);
  void Unsubscribe(const std::shared_ptr<TSubscriber>& Subscriber);
  /// Moves up to Max pending bytes of Subscriber into Buf and returns how
  /// many. With none pending, calls Park (under the stream's lock, so that
  /// no wake can come before it), marks the subscriber parked and returns
  /// 0; once closed, returns -1.
  long Take(TSubscriber& Subscriber, char* Buf, size_t Max, const std::function<void()>& Park);
  /// Subscribers now, in all and from Client.
  size_t Count() const;
  size_t Count(const std::string& Client) const;

  static constexpr size_t kMaxPending = 4096;

 private:
  mutable std::mutex FMutex;
  std::list<std::shared_ptr<TSubscriber>> FSubscribers;
  bool FClosed = false;
};
