// TVekTemplateRoot: finding and reading files confined to a directory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "VekStdTags.h"

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

}  // namespace

TVekTemplateRoot::TVekTemplateRoot(const fs::path& Dir) {
  std::error_code ec;
  FDir = fs::canonical(Dir, ec);
  if (ec) throw EVekTemplateError("template root " + Quoted(Dir.string()) + ": " + ec.message());
  if (!fs::is_directory(FDir, ec))
    throw EVekTemplateError("template root " + Quoted(Dir.string()) + ": not a directory");
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

AnsiString TVekTemplateRoot::Read(const TVekTemplateFile& File) const {
  auto fail = [&](int err) -> EVekTemplateError {
    return EVekTemplateError("cannot read " + Quoted(File.Name) + ": " + std::strerror(err));
  };
  // No blocking open of a pipe, no following a link put there since Locate.
  TFd f{::open(File.Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK)};
  if (f.fd < 0) throw fail(errno);
  struct stat st {};
  if (::fstat(f.fd, &st) != 0) throw fail(errno);
  if (!S_ISREG(st.st_mode))
    throw EVekPathError(EVekPathError::pkNotAFile, Quoted(File.Name) + " is not a file");
  // Where the opened file really is: a directory on the way may have been
  // swapped for a link between Locate and open.
  std::error_code ec;
  const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(f.fd), ec);
  if (!ec && !IsInside(opened, FDir)) {
    throw EVekPathError(EVekPathError::pkOutside,
                        Quoted(File.Name) + " leaves the template root through a symbolic link");
  }
  AnsiString text;
  text.reserve(static_cast<size_t>(st.st_size));
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(f.fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    if (n == 0) break;
    text.append(buf, static_cast<size_t>(n));
  }
  return text;
}
