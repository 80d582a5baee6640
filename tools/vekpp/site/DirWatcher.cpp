// TDirWatcher: one inotify watch per directory, events gathered in bursts.
#include "site/DirWatcher.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unordered_set>

namespace fs = std::filesystem;

namespace {
constexpr uint32_t kEvents = IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                             IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF;
// What, in the root's parent, may replace the root.
constexpr uint32_t kParentEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ONLYDIR;
}  // namespace

TDirWatcher::TDirWatcher(const fs::path& Dir, std::function<void(const TChanges&)> OnChange)
    : FRoot(Dir.lexically_normal()), FOnChange(std::move(OnChange)) {
  FInotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  FStop = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (FInotify < 0 || FStop < 0) {
    if (FInotify >= 0) close(FInotify);
    if (FStop >= 0) close(FStop);
    throw std::runtime_error(std::string("inotify: ") + std::strerror(errno));
  }
  if (FRoot.filename().empty() && FRoot.has_parent_path()) FRoot = FRoot.parent_path();  // "a/"
  if (FRoot.has_parent_path() && FRoot.parent_path() != FRoot)
    FParent = inotify_add_watch(FInotify, FRoot.parent_path().c_str(), kParentEvents);
  AddTree(FRoot);
  FThread = std::thread([this] { Run(); });
}

TDirWatcher::~TDirWatcher() {
  const uint64_t one = 1;
  if (write(FStop, &one, sizeof one) < 0) {
    // The eventfd cannot be full: nothing to do.
  }
  if (FThread.joinable()) FThread.join();
  close(FInotify);
  close(FStop);
}

bool TDirWatcher::Settled(uint64_t& Generation) const {
  // The kernel queues an event before the write that caused it returns; the
  // thread below counts a change before it reads the events. So a change is
  // either still queued here, or already counted.
  pollfd fd{FInotify, POLLIN, 0};
  if (poll(&fd, 1, 0) != 0) return false;
  Generation = FGeneration.load(std::memory_order_acquire);
  return true;
}

void TDirWatcher::AddTree(const fs::path& Dir) {
  // Walked without recursion and without following links.
  std::error_code ec;
  Add(Dir);
  for (fs::recursive_directory_iterator it(Dir, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) Add(it->path());
  }
}

void TDirWatcher::Add(const fs::path& Dir) {
  const int wd =
      FDirs.size() < kMaxDirs ? inotify_add_watch(FInotify, Dir.c_str(), kEvents | IN_ONLYDIR) : -1;
  if (wd >= 0) {
    FDirs[wd] = Dir;
  } else {
    FComplete = false;
  }
}

void TDirWatcher::WatchAgain() {
  for (const auto& [wd, dir] : FDirs) inotify_rm_watch(FInotify, wd);
  FDirs.clear();
  FComplete = true;
  std::error_code ec;
  if (fs::is_directory(FRoot, ec)) AddTree(FRoot);
  FGeneration.fetch_add(1, std::memory_order_acq_rel);
}

void TDirWatcher::ReadEvents(TChanges& Changes) {
  alignas(inotify_event) char buf[16 * 1024];
  std::unordered_set<std::string> seen(Changes.begin(), Changes.end());
  const auto note = [&](const std::string& Path) {
    if (Changes.size() > kMaxPaths) return;
    if (Changes.size() == kMaxPaths) {
      Changes.push_back("");  // more than can be listed
    } else if (seen.insert(Path).second) {
      Changes.push_back(Path);
    }
  };
  const ssize_t n = read(FInotify, buf, sizeof buf);
  bool replaced = false;
  for (ssize_t i = 0; i < n;) {
    const auto* ev = reinterpret_cast<const inotify_event*>(buf + i);
    i += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
    // Events were lost: a change may go unseen from now on.
    if (ev->mask & IN_Q_OVERFLOW) FComplete = false;
    if (ev->wd == FParent && FParent >= 0) {
      if (ev->len && FRoot.filename() == ev->name) replaced = true;
      continue;
    }
    const auto dir = FDirs.find(ev->wd);
    if (dir == FDirs.end()) continue;
    const fs::path path = ev->len ? dir->second / ev->name : dir->second;
    if ((ev->mask & IN_ISDIR) && (ev->mask & (IN_CREATE | IN_MOVED_TO))) {
      // What was written into the new directory before it was watched
      // has no event: whatever was built until now is out of date.
      AddTree(path);
      FGeneration.fetch_add(1, std::memory_order_acq_rel);
    }
    if (ev->mask & IN_IGNORED) FDirs.erase(dir);
    note(path.string());
  }
  if (replaced) {
    WatchAgain();
    note(FRoot.string());
  }
}

void TDirWatcher::Run() {
  TChanges changed;
  for (;;) {
    pollfd fds[2] = {{FInotify, POLLIN, 0}, {FStop, POLLIN, 0}};
    // Waiting for the first event of a burst, then 50 ms for the rest.
    const int ready = poll(fds, 2, changed.empty() ? -1 : 50);
    if (ready < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (ready == 0) {
      FOnChange(changed);
      changed.clear();
      continue;
    }
    if (!(fds[0].revents & POLLIN)) continue;
    FGeneration.fetch_add(1, std::memory_order_acq_rel);
    ReadEvents(changed);
  }
}
