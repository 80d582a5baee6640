// The data file of a site: read at start, and again whenever it changes,
// off the threads that answer requests.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "VekStdTags.h"

class TSiteData {
 public:
  /// What the reading thread tells (either may be null; never once this
  /// object is being destroyed).
  struct TEvents {
    /// A changed file could not be read or parsed: why, naming the file.
    std::function<void(const std::string& Problem)> OnProblem;
    /// New data is ready (pages shown with the data before are stale).
    std::function<void()> OnChanged;
  };

  /// Path: the data file ("" for none: an empty object). Optional: a file
  /// that does not exist counts as an empty object (a site's _data.json
  /// may come later).
  TSiteData(std::string Path, bool Optional, TEvents Events = {});
  /// Waits for a read in progress, unless it blocks (a pipe as the data
  /// file): that one is left to finish on its own.
  ~TSiteData();
  TSiteData(const TSiteData&) = delete;
  TSiteData& operator=(const TSiteData&) = delete;

  /// The data as the file now holds it, read on this thread when it
  /// changed since the last read (its size, time or identity). Throws
  /// std::runtime_error naming the file when it cannot be read or parsed.
  std::shared_ptr<const TVekData> Get();
  /// The data of the last good read: when the file changed since (one
  /// stat), a read starts on a thread of its own, waited for at most Wait,
  /// and the data read before is answered until the new data is ready
  /// (Fresh, when given, is then set false, else true); a changed file that
  /// cannot be parsed is reported through OnProblem and leaves the data as
  /// it was. Throws std::runtime_error when no read ever succeeded. Safe
  /// from any thread.
  std::shared_ptr<const TVekData> Current(
      std::chrono::milliseconds Wait = std::chrono::milliseconds(0), bool* Fresh = nullptr);
  const std::string& Path() const { return FPath; }

 private:
  struct TStamp {
    bool Exists = false;
    ino_t Ino = 0;
    off_t Size = -1;
    std::timespec Time{};
    bool operator==(const TStamp& O) const {
      return Exists == O.Exists && Ino == O.Ino && Size == O.Size && Time.tv_sec == O.Time.tv_sec &&
             Time.tv_nsec == O.Time.tv_nsec;
    }
  };
  // What the reading thread shares with this object; outlives it when a
  // read is left to finish.
  struct TShared;

  TStamp StampNow() const;
  // Reads the file as Stamp found it: the data, or throws.
  static std::shared_ptr<const TVekData> Read(const std::string& Path, bool Optional,
                                              const TStamp& Stamp);
  static void ReadLoop(std::shared_ptr<TShared> Shared);

  std::string FPath;
  bool FOptional;
  std::shared_ptr<TShared> FShared;
  std::thread FReader;  // started by the first read Current asks for
};
