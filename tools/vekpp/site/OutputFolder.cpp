// TOutputFolder: every folder below the root opened with O_NOFOLLOW, every
// file written beside its place and renamed into it.
#include "site/OutputFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::runtime_error Failure(const std::string& What, int Errno) {
  return std::runtime_error(What + ": " + std::strerror(Errno));
}

struct TFd {
  int Fd;
  ~TFd() {
    if (Fd >= 0) close(Fd);
  }
};

void WriteAll(int Fd, const char* Data, size_t Size) {
  while (Size > 0) {
    const ssize_t n = write(Fd, Data, Size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Failure("cannot be written", n < 0 ? errno : EIO);
    Data += n;
    Size -= static_cast<size_t>(n);
  }
}

}  // namespace

TOutputFolder::TOutputFolder(const fs::path& Dir) {
  std::error_code ec;
  fs::create_directories(Dir, ec);
  FDir = open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FDir < 0) throw Failure(Dir.string(), errno);
}

TOutputFolder::~TOutputFolder() {
  if (FDir >= 0) close(FDir);
}

int TOutputFolder::OpenParent(const std::string& Name, std::string& Leaf) const {
  int dir = dup(FDir);
  if (dir < 0) throw Failure("cannot be written", errno);
  size_t start = 0;
  for (size_t slash; (slash = Name.find('/', start)) != std::string::npos; start = slash + 1) {
    const std::string part = Name.substr(start, slash - start);
    if (mkdirat(dir, part.c_str(), 0777) != 0 && errno != EEXIST) {
      const int error = errno;
      close(dir);
      throw Failure("folder " + Name.substr(0, slash) + " cannot be made", error);
    }
    const int next = openat(dir, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = errno;
    close(dir);
    if (next < 0) {
      if (error == ELOOP || error == ENOTDIR)
        throw std::runtime_error(Name.substr(0, slash) +
                                 " in the output folder is a link or a file, not a folder: "
                                 "not followed");
      throw Failure("folder " + Name.substr(0, slash) + " cannot be opened", error);
    }
    dir = next;
  }
  Leaf = Name.substr(start);
  return dir;
}

template <typename TFill>
void TOutputFolder::Replace(int Dir, const std::string& Name, const std::string& Leaf,
                            TFill Fill) const {
  static std::atomic<unsigned long> counter{0};
  // Begins with ".": a name no site publishes, so never one of the files.
  const std::string temp =
      "." + Leaf + ".vekpp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  TFd out{openat(Dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666)};
  if (out.Fd < 0) throw Failure("cannot be written", errno);
  try {
    Fill(out.Fd);
    if (close(out.Fd) != 0) {
      out.Fd = -1;
      throw Failure("cannot be written", errno);
    }
    out.Fd = -1;
    // A link in the file's place is replaced itself, never followed.
    if (renameat(Dir, temp.c_str(), Dir, Leaf.c_str()) != 0)
      throw Failure(Name + " cannot be replaced", errno);
  } catch (...) {
    unlinkat(Dir, temp.c_str(), 0);
    throw;
  }
}

bool TOutputFolder::Exists(const std::string& Name) const {
  struct stat st {};
  return fstatat(FDir, Name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

void TOutputFolder::Write(const std::string& Name, const std::string& Bytes) const {
  std::string leaf;
  TFd dir{OpenParent(Name, leaf)};
  Replace(dir.Fd, Name, leaf, [&](int Fd) { WriteAll(Fd, Bytes.data(), Bytes.size()); });
}

void TOutputFolder::WriteWith(
    const std::string& Name,
    const std::function<void(const std::function<void(const char*, size_t)>&)>& Fill) const {
  std::string leaf;
  TFd dir{OpenParent(Name, leaf)};
  Replace(dir.Fd, Name, leaf, [&](int Fd) {
    const std::function<void(const char*, size_t)> write = [Fd](const char* Data, size_t Size) {
      WriteAll(Fd, Data, Size);
    };
    Fill(write);
  });
}

void TOutputFolder::Copy(const std::string& Name, const fs::path& Source) const {
  TFd in{open(Source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
  struct stat st {};
  if (in.Fd < 0 || fstat(in.Fd, &st) != 0) throw Failure("cannot be read", errno);
  if (!S_ISREG(st.st_mode)) throw std::runtime_error("is not a regular file");
  std::string leaf;
  TFd dir{OpenParent(Name, leaf)};
  Replace(dir.Fd, Name, leaf, [&](int Fd) {
    char buf[64 * 1024];
    for (;;) {
      const ssize_t n = read(in.Fd, buf, sizeof buf);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) throw Failure("cannot be read", errno);
      if (n == 0) break;
      WriteAll(Fd, buf, static_cast<size_t>(n));
    }
    fchmod(Fd, st.st_mode & 0777);
  });
}
