// Changes under a directory tree, seen through inotify.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class TDirWatcher {
 public:
  /// The paths that changed in one burst, in the order seen, each once;
  /// at most kMaxPaths, then "" for the rest.
  using TChanges = std::vector<std::string>;

  /// Watches Dir and every directory below it (new ones too, up to
  /// kMaxDirs), and calls OnChange on its own thread, at most once per
  /// burst of changes (those that come within 50 ms of each other), with
  /// the paths changed (Dir itself when it was replaced). Dir is watched
  /// by its name: when the folder is moved away, removed or replaced (by
  /// `mv new Dir`), the folder that then bears the name is watched.
  /// Throws std::runtime_error when inotify cannot be used.
  TDirWatcher(const std::filesystem::path& Dir, std::function<void(const TChanges&)> OnChange);
  /// Stops the thread.
  ~TDirWatcher();
  TDirWatcher(const TDirWatcher&) = delete;
  TDirWatcher& operator=(const TDirWatcher&) = delete;

  /// Sets Generation to a number that grows with every change, and returns
  /// true, when no change waits to be seen: what was built from the tree's
  /// files after a call that set one value may be used again while calls
  /// set the same. False while a change waits (use and keep nothing then).
  /// A change made before the call (its write returned) is always seen.
  /// Safe from any thread.
  bool Settled(uint64_t& Generation) const;
  /// False when a directory could not be watched (too many, or the limit of
  /// inotify reached): a change there would go unseen.
  bool Complete() const { return FComplete; }

  static constexpr size_t kMaxDirs = 10000;
  static constexpr size_t kMaxPaths = 1000;

 private:
  void Add(const std::filesystem::path& Dir);
  void AddTree(const std::filesystem::path& Dir);
  // Forgets every watch of the tree and watches what bears its name now.
  void WatchAgain();
  // Reads the events waiting, noting what changed in Changes.
  void ReadEvents(TChanges& Changes);
  void Run();

  int FInotify = -1;
  int FStop = -1;  // an eventfd that ends Run
  std::filesystem::path FRoot;
  int FParent = -1;  // the watch of the root's parent, which sees it replaced
  std::unordered_map<int, std::filesystem::path> FDirs;
  std::function<void(const TChanges&)> FOnChange;
  std::atomic<uint64_t> FGeneration{0};
  std::atomic<bool> FComplete{true};
  std::thread FThread;
};
