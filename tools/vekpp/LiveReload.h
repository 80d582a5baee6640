// Live reload for vekpp serve: pages carry a small script that follows an
// event stream and reloads the page when a file of the site changes.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "DirWatcher.h"
#include "EventStream.h"

class TLiveReload {
 public:
  /// The path the script follows; it begins with "_", so no file of the
  /// site can take it.
  static constexpr const char* kPath = "/_vekpp/live";

  /// Watches Site (templates, data and static files alike). Throws
  /// std::runtime_error when it cannot be watched.
  explicit TLiveReload(const std::filesystem::path& Site);
  /// Closes the stream (every follower's answer ends) and stops watching.
  ~TLiveReload();
  TLiveReload(const TLiveReload&) = delete;
  TLiveReload& operator=(const TLiveReload&) = delete;

  /// The stream a follower's answer is tied to.
  std::shared_ptr<TEventStream> Stream() const { return FStream; }
  /// Page with the script added before its last </body>, or at its end.
  std::string Inject(std::string Page) const;
  /// Ends the stream now (before the server stops).
  void Close();

 private:
  std::shared_ptr<TEventStream> FStream = std::make_shared<TEventStream>();
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FClosed = false;
  std::thread FPing;
  std::unique_ptr<TDirWatcher> FWatcher;
};
