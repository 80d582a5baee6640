// Live reload for vekpp serve: pages carry a small script that follows an
// event stream and reloads the page when a file of the site changes.
#pragma once

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

  /// Starts the stream, with a comment every 15 s that finds the followers
  /// that have gone.
  TLiveReload();
  /// Closes the stream: every follower's answer ends.
  ~TLiveReload();
  TLiveReload(const TLiveReload&) = delete;
  TLiveReload& operator=(const TLiveReload&) = delete;

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
  std::shared_ptr<TEventStream> FStream = std::make_shared<TEventStream>();
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FClosed = false;
  std::thread FPing;
};
