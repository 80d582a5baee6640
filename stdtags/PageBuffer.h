// The page a render writes: a string grown ahead of what is written into it,
// so that an append is a bounds check, a copy and a length, with no call
// into the string per value. Internal to the standard tags.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace vekstd {

class TPageBuffer {
 public:
  /// The bytes written so far.
  size_t Size() const { return FLen; }
  const char* Data() const { return FBuf.data(); }

  /// Room for N more bytes at the end: where to write them. Commit says how
  /// many were written; the pointer is valid until the next Room or Append.
  char* Room(size_t N) {
    if (FBuf.size() - FLen < N) Grow(N);
    return &FBuf[0] + FLen;
  }
  void Commit(size_t N) { FLen += N; }

  void Append(const char* Bytes, size_t N) {
    char* const w = Room(N);
    // Short pieces (most text between tags, most values) copied inline.
    if (N <= 16) {
      if (N >= 8) {
        std::memcpy(w, Bytes, 8);
        std::memcpy(w + N - 8, Bytes + N - 8, 8);
      } else if (N >= 4) {
        std::memcpy(w, Bytes, 4);
        std::memcpy(w + N - 4, Bytes + N - 4, 4);
      } else {
        for (size_t i = 0; i < N; ++i) w[i] = Bytes[i];
      }
    } else {
      std::memcpy(w, Bytes, N);
    }
    FLen += N;
  }
  void Append(std::string_view S) { Append(S.data(), S.size()); }

  /// Forgets the bytes written, keeping the room.
  void Clear() { FLen = 0; }
  /// The bytes written, as a string (moved out: no copy); the buffer is left
  /// empty.
  std::string Take() {
    FBuf.resize(FLen);
    FLen = 0;
    return std::move(FBuf);
  }

 private:
  void Grow(size_t N) { FBuf.resize(std::max({FBuf.size() * 2, FLen + N, size_t(4096)})); }

  std::string FBuf;  // its size is the room; bytes past FLen are not the page's
  size_t FLen = 0;
};

}  // namespace vekstd
