// TReloadFilter: hidden parts by name, the server's own files by identity.
#include "site/ReloadFilter.h"

#include <sys/stat.h>

#include "base/PathWithin.h"

TReloadFilter::TReloadFilter(std::filesystem::path Root) : FRoot(std::move(Root)) {
  for (const int fd : {1, 2}) {
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) FOwnFiles.emplace_back(st.st_dev, st.st_ino);
  }
}

bool TReloadFilter::Matters(const std::string& Path) const {
  if (Path.empty()) return true;
  const std::filesystem::path path(Path);
  if (VekPathWithin(path, FRoot)) {
    for (const auto& part : path.lexically_relative(FRoot)) {
      const std::string name = part.string();
      if (!name.empty() && name[0] == '.' && name != "." && name != "..") return false;
    }
  }
  if (!FOwnFiles.empty()) {
    struct stat st {};
    if (stat(Path.c_str(), &st) == 0) {
      for (const auto& own : FOwnFiles) {
        if (st.st_dev == own.first && st.st_ino == own.second) return false;
      }
    }
  }
  return true;
}
