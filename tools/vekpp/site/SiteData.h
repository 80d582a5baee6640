// The data file of a site, read again whenever it changes.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "VekStdTags.h"

class TSiteData {
 public:
  /// Path: the JSON file ("" for none: an empty object). Optional: a file
  /// that does not exist counts as an empty object (a site's _data.json
  /// may come later).
  TSiteData(std::string Path, bool Optional);

  /// The data as the file now holds it: read again when its size, time or
  /// identity changed since the last read. Throws std::runtime_error naming
  /// the file when it cannot be read or parsed (and again on every call
  /// until it changes). Safe from any thread.
  std::shared_ptr<const TVekData> Get();
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  bool FOptional;
  std::mutex FMutex;
  bool FRead = false;
  ino_t FIno = 0;
  off_t FSize = -1;
  std::timespec FTime{};
  std::shared_ptr<const TVekData> FData;
  std::string FError;
};
