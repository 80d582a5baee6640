// The output of an expansion, appended to piece by piece. Internal to the
// component; inline, since the expansion loop writes through it at every tag.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "AnsiString.h"

namespace vek {

/// Most pieces are short (text between close tags, a handler's answer), and a
/// string's append is out of line: the sink keeps a few hundred zero bytes
/// past the written part inside the string's reserved buffer and copies short
/// pieces there. Finish() cuts that margin off again.
class OutputSink {
 public:
  /// Out is empty, with its buffer reserved; it must outlive the sink.
  explicit OutputSink(AnsiString& Out) : FOut(Out), FUsed(0) {
    FOut.resize(std::min(kMargin, FOut.capacity()));
  }
  void Put(const char* p, std::size_t n) {
    if (n > FOut.size() - FUsed) return Grow(p, n);
    char* d = &FOut[FUsed];
    FUsed += n;
    if (n > 32) {
      std::memcpy(d, p, n);
    } else if (n >= 16) {  // two 16-byte moves, overlapping in the middle
      CopyEnds<16>(d, p, n);
    } else if (n >= 8) {
      CopyEnds<8>(d, p, n);
    } else if (n >= 4) {
      CopyEnds<4>(d, p, n);
    } else if (n > 0) {
      d[0] = p[0];
      d[n / 2] = p[n / 2];
      d[n - 1] = p[n - 1];
    }
  }
  void Put(const AnsiString& s) { Put(s.data(), s.size()); }
  void Finish() { FOut.resize(FUsed); }

 private:
  static constexpr std::size_t kMargin = 512;
  // n bytes (K <= n <= 2K) as the first K and the last K, without a call.
  template <std::size_t K>
  static void CopyEnds(char* d, const char* p, std::size_t n) {
    char head[K], tail[K];
    std::memcpy(head, p, K);
    std::memcpy(tail, p + n - K, K);
    std::memcpy(d, head, K);
    std::memcpy(d + n - K, tail, K);
  }
  void Grow(const char* p, std::size_t n) {
    FOut.resize(FUsed);
    FOut.append(p, n);
    FUsed = FOut.size();
    // Never past the reserved buffer: the margin never reallocates.
    FOut.resize(FUsed + std::min(kMargin, FOut.capacity() - FUsed));
  }
  AnsiString& FOut;
  std::size_t FUsed;
};

}  // namespace vek
