// Live reload for vekpp serve: pages carry a small script that follows an
// event stream and reloads the page when a file of the site changes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "http/EventStream.h"

class TLiveReload {
 public:
  /// The path the script follows; it begins with "_", so no file of the
  /// site can take it.
  static constexpr const char* kPath = "/_vekpp/live";

  /// How many may follow, and for how long without a reload.
  struct TLimits {
    size_t MaxStreams = 2048;        ///< followers in all
    size_t MaxPerClient = 32;        ///< followers from one address
    std::chrono::seconds Idle{600};  ///< a follower sent no reload this long is ended
  };

  /// Starts the stream, with a comment every 15 s that finds the followers
  /// that have gone, and ends those idle for longer than Limits.Idle (a
  /// browser follows again by itself).
  explicit TLiveReload(TLimits Limits);
  /// Closes the stream: every follower's answer ends.
  ~TLiveReload();
  TLiveReload(const TLiveReload&) = delete;
  TLiveReload& operator=(const TLiveReload&) = delete;

  /// True when one more follower from Client stays within the limits.
  bool Admit(const std::string& Client) const;
  /// The stream a follower's answer is tied to.
  std::shared_ptr<TEventStream> Stream() const { return FStream; }
  /// Page with the script added before its last </body>, or at its end.
  std::string Inject(std::string Page) const;
  /// Tells every follower to reload: a template, data or static file
  /// changed.
  void Changed();
  /// Ends the stream now (before the server stops).
  void Close();

 private:
  TLimits FLimits;
  std::shared_ptr<TEventStream> FStream = std::make_shared<TEventStream>();
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FClosed = false;
  std::thread FPing;
};
