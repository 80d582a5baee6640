// Changes under a directory tree, seen through inotify.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>

class TDirWatcher {
 public:
  /// Watches Dir and every directory below it (new ones too, up to
  /// kMaxDirs), and calls OnChange on its own thread, at most once per
  /// burst of changes (those that come within 50 ms of each other), with
  /// the path of one changed file. Throws std::runtime_error when inotify
  /// cannot be used.
  TDirWatcher(const std::filesystem::path& Dir,
              std::function<void(const std::string& Changed)> OnChange);
  /// Stops the thread.
  ~TDirWatcher();
  TDirWatcher(const TDirWatcher&) = delete;
  TDirWatcher& operator=(const TDirWatcher&) = delete;

  static constexpr size_t kMaxDirs = 10000;

 private:
  void Add(const std::filesystem::path& Dir);
  void Run();

  int FInotify = -1;
  int FStop = -1;  // an eventfd that ends Run
  std::unordered_map<int, std::filesystem::path> FDirs;
  std::function<void(const std::string&)> FOnChange;
  std::thread FThread;
};
