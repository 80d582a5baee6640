// Whether one path lies in another, judged part by part.
#pragma once

#include <filesystem>

/// True when Path is Dir or lies below it, comparing whole parts: "site/pub"
/// does not hold "site/public". Both are taken as written (lexically
/// normal: make them canonical first when links matter).
inline bool VekPathWithin(const std::filesystem::path& Path, const std::filesystem::path& Dir) {
  auto p = Path.begin();
  for (auto d = Dir.begin(); d != Dir.end(); ++d, ++p) {
    if (d->empty() && std::next(d) == Dir.end()) break;  // a trailing "/"
    if (p == Path.end() || *p != *d) return false;
  }
  return true;
}
