// TEventStream: published events queued for each subscribed connection.
#include "http/EventStream.h"

#include <algorithm>
#include <cstring>

void TEventStream::Publish(const std::string& Frame, bool Event) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(FMutex);
  for (const auto& s : FSubscribers) {
    if (s->Ended) continue;
    if (Event) s->LastUse = now;
    if (s->Pending.size() + Frame.size() <= kMaxPending) s->Pending += Frame;
    if (s->Parked && !s->Pending.empty()) {
      s->Parked = false;
      s->Wake();
    }
  }
}

void TEventStream::Expire(std::chrono::steady_clock::time_point Before) {
  std::lock_guard<std::mutex> lock(FMutex);
  for (const auto& s : FSubscribers) {
    if (s->Ended || s->LastUse >= Before) continue;
    s->Ended = true;
    if (s->Parked) {
      s->Parked = false;
      s->Wake();
    }
  }
}

void TEventStream::Close() {
  std::lock_guard<std::mutex> lock(FMutex);
  FClosed = true;
  for (const auto& s : FSubscribers) {
    if (s->Parked) {
      s->Parked = false;
      s->Wake();
    }
  }
}

bool TEventStream::Closed() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FClosed;
}

std::shared_ptr<TEventStream::TSubscriber> TEventStream::Subscribe(std::function<void()> Wake,
                                                                   std::string First,
                                                                   std::string Client) {
  auto s = std::make_shared<TSubscriber>();
  s->Wake = std::move(Wake);
  s->Pending = std::move(First);
  s->Client = std::move(Client);
  s->LastUse = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(FMutex);
  FSubscribers.push_back(s);
  return s;
}

void TEventStream::Unsubscribe(const std::shared_ptr<TSubscriber>& Subscriber) {
  std::lock_guard<std::mutex> lock(FMutex);
  FSubscribers.remove(Subscriber);
}

long TEventStream::Take(TSubscriber& Subscriber, char* Buf, size_t Max,
                        const std::function<void()>& Park) {
  std::lock_guard<std::mutex> lock(FMutex);
  if (!Subscriber.Pending.empty()) {
    const size_t n = std::min(Max, Subscriber.Pending.size());
    std::memcpy(Buf, Subscriber.Pending.data(), n);
    Subscriber.Pending.erase(0, n);
    return static_cast<long>(n);
  }
  if (FClosed || Subscriber.Ended) return -1;
  Park();
  Subscriber.Parked = true;
  return 0;
}

size_t TEventStream::Count() const {
  std::lock_guard<std::mutex> lock(FMutex);
  return FSubscribers.size();
}

size_t TEventStream::Count(const std::string& Client) const {
  std::lock_guard<std::mutex> lock(FMutex);
  size_t n = 0;
  for (const auto& s : FSubscribers) n += s->Client == Client;
  return n;
}
