// What vekpp serve computed from the files of a site (routes, rendered
// pages), kept while none of them changes.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

/// Values by key, each valid for the generation of the site's files (see
/// TDirWatcher::Generation) and the data it was computed from. Bounded: once
/// MaxEntries or MaxBytes would be passed, everything is dropped (a hostile
/// client asking for ever new names only empties it). Safe from any thread.
template <typename TValue>
class TSiteCache {
 public:
  TSiteCache(size_t MaxEntries, size_t MaxBytes) : FMaxEntries(MaxEntries), FMaxBytes(MaxBytes) {}

  /// The value stored for Key at Generation with Data, if any.
  bool Find(const std::string& Key, uint64_t Generation, const std::shared_ptr<const void>& Data,
            TValue& Out) {
    std::lock_guard<std::mutex> lock(FMutex);
    const auto it = FEntries.find(Key);
    if (it == FEntries.end() || it->second.Generation != Generation || it->second.Data != Data)
      return false;
    Out = it->second.Value;
    return true;
  }

  /// Keeps Value (of Bytes bytes) for Key at Generation with Data. The
  /// entry holds Data, so that its address cannot be reused by other data.
  void Store(const std::string& Key, uint64_t Generation, std::shared_ptr<const void> Data,
             TValue Value, size_t Bytes) {
    std::lock_guard<std::mutex> lock(FMutex);
    if (Bytes > FMaxBytes / 4) return;
    auto it = FEntries.find(Key);
    if (it != FEntries.end()) {
      FBytes -= it->second.Bytes;
      FEntries.erase(it);
    }
    if (FEntries.size() >= FMaxEntries || FBytes + Bytes > FMaxBytes) {
      FEntries.clear();
      FBytes = 0;
    }
    FEntries.emplace(Key, TEntry{Generation, std::move(Data), std::move(Value), Bytes});
    FBytes += Bytes;
  }

 private:
  struct TEntry {
    uint64_t Generation;
    std::shared_ptr<const void> Data;
    TValue Value;
    size_t Bytes;
  };
  const size_t FMaxEntries, FMaxBytes;
  std::mutex FMutex;
  std::unordered_map<std::string, TEntry> FEntries;
  size_t FBytes = 0;
};
