// TVekTemplateRoot: finding and reading files confined to a directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <unordered_map>

#include "VekStdTags.h"
#include "VekTemplateLoader.h"

namespace fs = std::filesystem;

namespace {

// True when P (absolute, normalised) is Root or lies below it.
bool IsInside(const fs::path& P, const fs::path& Root) {
  const fs::path rel = P.lexically_relative(Root);
  return !rel.empty() && *rel.begin() != "..";
}

std::string Quoted(const std::string& S) {
  return "\"" + S + "\"";
}

// Holds a file descriptor and closes it.
struct TFd {
  int fd;
  ~TFd() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens Path (absolute, lexically normal) with Flags in one call that
// follows no symbolic link on the whole path: the descriptor, or -1 with
// errno set (ELOOP where a link is on the way). A path below the root
// (absolute, all links resolved) reached that way lies in the root, whatever
// was renamed or replaced since. ENOSYS where the kernel (or a sandbox's
// filter) has no such call, after which it is not tried again.
int OpenWithoutLinks(const fs::path& Path, int Flags) {
#ifdef SYS_openat2
  static std::atomic<bool> missing{false};
  if (!missing.load(std::memory_order_relaxed)) {
    struct open_how how {};
    how.flags = static_cast<unsigned long long>(Flags | O_CLOEXEC);
    how.resolve = RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const long fd = ::syscall(SYS_openat2, AT_FDCWD, Path.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    if (errno != ENOSYS && errno != EPERM) return -1;
    missing.store(true, std::memory_order_relaxed);
  }
#else
  (void)Path, (void)Flags;
#endif
  errno = ENOSYS;
  return -1;
}

// The root whose files the innermost TVekTrustedFiles of this thread
// vouches for (its memo), and at which generation.
thread_local const void* tTrustedMemo = nullptr;
thread_local uint64_t tTrustedGeneration = 0;

const size_t kMaxRemembered = 4096;

}  // namespace

struct TVekTemplateRoot::TMemo {
  std::mutex Mutex;
  uint64_t Generation = 0;
  std::unordered_map<std::string, TVekTemplateFile> Files;  // by name within the root
  std::unordered_map<std::string, TVekFileStamp> Stamps;    // by path
};

TVekTrustedFiles::TVekTrustedFiles(const TVekTemplateRoot& Root, uint64_t Generation)
    : FOuterMemo(tTrustedMemo), FOuterGeneration(tTrustedGeneration) {
  tTrustedMemo = Root.FMemo.get();
  tTrustedGeneration = Generation;
}

TVekTrustedFiles::~TVekTrustedFiles() {
  tTrustedMemo = FOuterMemo;
  tTrustedGeneration = FOuterGeneration;
}

bool TVekTemplateRoot::Recall(const std::string& Key, bool Stamp, TVekTemplateFile* File,
                              TVekFileStamp* St) const {
  if (!FMemo || tTrustedMemo != FMemo.get()) return false;
  std::lock_guard<std::mutex> lock(FMemo->Mutex);
  if (FMemo->Generation != tTrustedGeneration) return false;
  if (Stamp) {
    const auto it = FMemo->Stamps.find(Key);
    if (it == FMemo->Stamps.end()) return false;
    *St = it->second;
  } else {
    const auto it = FMemo->Files.find(Key);
    if (it == FMemo->Files.end()) return false;
    *File = it->second;
  }
  return true;
}

void TVekTemplateRoot::Remember(const std::string& Key, const TVekTemplateFile* File,
                                const TVekFileStamp* St) const {
  if (!FMemo || tTrustedMemo != FMemo.get()) return;
  std::lock_guard<std::mutex> lock(FMemo->Mutex);
  // A render that began before a change may end after one that began
  // since: what it found belongs to the older generation and is dropped.
  if (tTrustedGeneration < FMemo->Generation) return;
  if (tTrustedGeneration > FMemo->Generation || FMemo->Files.size() >= kMaxRemembered ||
      FMemo->Stamps.size() >= kMaxRemembered) {
    FMemo->Files.clear();
    FMemo->Stamps.clear();
    FMemo->Generation = tTrustedGeneration;
  }
  if (File) FMemo->Files[Key] = *File;
  if (St) FMemo->Stamps[Key] = *St;
}

TVekTemplateRoot::TVekTemplateRoot(const fs::path& Dir) : FMemo(std::make_shared<TMemo>()) {
  std::error_code ec;
  FDir = fs::canonical(Dir, ec);
  if (ec) throw EVekTemplateError("template root " + Quoted(Dir.string()) + ": " + ec.message());
  if (!fs::is_directory(FDir, ec))
    throw EVekTemplateError("template root " + Quoted(Dir.string()) + ": not a directory");
}

TVekTemplateRoot::TVekTemplateRoot(std::shared_ptr<const TVekTemplateLoader> Loader)
    : FLoader(std::move(Loader)) {
  if (!FLoader) throw std::invalid_argument("TVekTemplateRoot: no loader");
  // A name no file has: includes are resolved by their text under it, and
  // the cache tells this loader's templates from another's by it.
  char id[40];
  std::snprintf(id, sizeof id, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(FLoader.get())));
  FDir = fs::path("/") / (std::string(".vek-loader-") + id);
}

TVekTemplateFile TVekTemplateRoot::Locate(const AnsiString& From, const AnsiString& Ref) const {
  if (Ref.empty()) throw EVekPathError(EVekPathError::pkInvalid, "empty file name");
  if (Ref.find('\0') != AnsiString::npos)
    throw EVekPathError(EVekPathError::pkInvalid, "file name holds a NUL byte");
  if (Ref[0] == '/')
    throw EVekPathError(EVekPathError::pkInvalid,
                        Quoted(Ref) + ": an absolute name is not allowed, only one relative to " +
                            "the including template");
  // Resolved by the text of the names first, so that ".." can never step
  // above the root, whatever the directories on the way are.
  const fs::path name = (fs::path(From).parent_path() / Ref).lexically_normal();
  if (name.empty() || *name.begin() == "..")
    throw EVekPathError(EVekPathError::pkOutside, Quoted(Ref) + " leaves the template root");
  if (name == ".") throw EVekPathError(EVekPathError::pkNotAFile, Quoted(Ref) + " is not a file");
  if (FLoader) {
    const std::string n = name.generic_string();
    TVekFileStamp stamp;
    if (!FLoader->Find(n, stamp))
      throw EVekPathError(EVekPathError::pkNotFound, Quoted(n) + " not found in the templates");
    return {n, FDir / name};
  }

  const std::string key = name.generic_string();
  TVekTemplateFile found;
  if (Recall(key, false, &found, nullptr)) return found;
  found = Find(name, Ref);
  Remember(key, &found, nullptr);
  return found;
}

TVekTemplateFile TVekTemplateRoot::Find(const fs::path& Name, const AnsiString& Ref) const {
  const fs::path& name = Name;
  {
    // A name reached without links is its own real path below the root:
    // one call instead of a walk over every part of the path.
    const fs::path path = FDir / name;
    TFd f{OpenWithoutLinks(path, O_PATH)};
    struct stat st {};
    if (f.fd >= 0 && ::fstat(f.fd, &st) == 0 && S_ISREG(st.st_mode))
      return {name.generic_string(), path};
    if (f.fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
      throw EVekPathError(EVekPathError::pkNotFound,
                          Quoted(name.generic_string()) + " not found in the template root");
    }
    // A link on the way, not a file, or no such call: the walk decides.
  }
  std::error_code ec;
  const fs::path real = fs::canonical(FDir / name, ec);
  if (ec) {
    throw EVekPathError(EVekPathError::pkNotFound,
                        Quoted(name.generic_string()) + " not found in the template root");
  }
  // A symbolic link may still lead out.
  if (!IsInside(real, FDir)) {
    throw EVekPathError(EVekPathError::pkOutside,
                        Quoted(Ref) + " leaves the template root through a symbolic link");
  }
  if (!fs::is_regular_file(real, ec))
    throw EVekPathError(EVekPathError::pkNotAFile,
                        Quoted(name.generic_string()) + " is not a file");
  return {name.generic_string(), real};
}

TVekTemplateFile TVekTemplateRoot::LocatePath(const fs::path& Path) const {
  if (FLoader) {
    const fs::path rel = Path.lexically_normal().lexically_relative(FDir);
    if (rel.empty() || *rel.begin() == "..") {
      throw EVekPathError(EVekPathError::pkOutside,
                          Quoted(Path.string()) + " is not among the loader's templates");
    }
    return Locate("", rel.generic_string());
  }
  std::error_code ec;
  const fs::path real = fs::canonical(Path, ec);
  if (ec)
    throw EVekPathError(EVekPathError::pkNotFound, Quoted(Path.string()) + ": " + ec.message());
  if (!IsInside(real, FDir)) {
    throw EVekPathError(
        EVekPathError::pkOutside,
        Quoted(Path.string()) + " is not inside the template root " + Quoted(FDir.string()));
  }
  if (!fs::is_regular_file(real, ec))
    throw EVekPathError(EVekPathError::pkNotAFile, Quoted(Path.string()) + " is not a file");
  return {real.lexically_relative(FDir).generic_string(), real};
}

// Opens File for reading with every check of Read: no blocking open of a
// pipe, no following a link put there since Locate, a regular file, and
// still inside the root. Fills St.
static int OpenChecked(const TVekTemplateFile& File, const fs::path& Root, struct stat& St) {
  auto fail = [&](int err) -> EVekTemplateError {
    return EVekTemplateError("cannot read " + Quoted(File.Name) + ": " + std::strerror(err));
  };
  TFd f{::open(File.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
  if (f.fd < 0) throw fail(errno);
  if (::fstat(f.fd, &St) != 0) throw fail(errno);
  if (!S_ISREG(St.st_mode))
    throw EVekPathError(EVekPathError::pkNotAFile, Quoted(File.Name) + " is not a file");
  // Where the opened file really is: a directory on the way may have been
  // swapped for a link between Locate and open.
  std::error_code ec;
  const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(f.fd), ec);
  if (!ec && !IsInside(opened, Root)) {
    throw EVekPathError(EVekPathError::pkOutside,
                        Quoted(File.Name) + " leaves the template root through a symbolic link");
  }
  const int fd = f.fd;
  f.fd = -1;
  return fd;
}

TVekFileStamp TVekTemplateRoot::Stamp(const TVekTemplateFile& File) const {
  if (FLoader) {
    TVekFileStamp s;
    if (!FLoader->Find(File.Name, s))
      throw EVekPathError(EVekPathError::pkNotFound,
                          Quoted(File.Name) + " not found in the templates");
    return s;
  }
  TVekFileStamp s;
  if (Recall(File.Path.native(), true, nullptr, &s)) return s;
  struct stat st {};
  // The real path below the root, opened in one call where no link is on
  // the way; anything else takes the checks of OpenChecked.
  TFd f{IsInside(File.Path, FDir) ? OpenWithoutLinks(File.Path, O_RDONLY | O_NONBLOCK) : -1};
  if (f.fd >= 0 && (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(f.fd);
    f.fd = -1;
  }
  if (f.fd < 0) f.fd = OpenChecked(File, FDir, st);
  s.Device = static_cast<unsigned long long>(st.st_dev);
  s.Inode = static_cast<unsigned long long>(st.st_ino);
  s.Size = static_cast<unsigned long long>(st.st_size);
  s.ModifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  Remember(File.Path.native(), nullptr, &s);
  return s;
}

AnsiString TVekTemplateRoot::Read(const TVekTemplateFile& File) const {
  if (FLoader) return FLoader->Read(File.Name);
  struct stat st {};
  TFd f{OpenChecked(File, FDir, st)};
  AnsiString text;
  text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw EVekTemplateError("cannot read " + Quoted(File.Name) + ": " + std::strerror(errno));
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}
