// Which changes under a served site call for a reload of open pages: not a
// hidden file, and not a file the server itself writes (its log).
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

class TReloadFilter {
 public:
  /// Root: the site's folder, as the watcher names it. The regular files
  /// open now as standard output and error are the server's own.
  explicit TReloadFilter(std::filesystem::path Root);

  /// True when a change of Path ("" for changes not listed one by one)
  /// calls for a reload: false for a path with a part below Root beginning
  /// with "." (editors' swap files, version control) and for the server's
  /// own files.
  bool Matters(const std::string& Path) const;

 private:
  std::filesystem::path FRoot;
  std::vector<std::pair<dev_t, ino_t>> FOwnFiles;
};
