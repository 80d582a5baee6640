// The output of an expansion, appended to piece by piece: into a string, or
// through a bounded buffer into a stream. Internal to the component; inline,
// since the expansion loop writes through it at every tag.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "AnsiString.h"
#include "Streams.h"

namespace vek {

/// Most pieces are short (text between close tags, a handler's answer), and a
/// string's append is out of line: the sink keeps a few hundred zero bytes
/// past the written part inside the string's reserved buffer and copies short
/// pieces there. Finish() cuts that margin off again.
///
/// With a stream, Out is only a buffer: whenever a piece does not fit in it,
/// what it holds is written to the stream (WriteBuffer: a short write throws
/// EWriteError), so that the sink holds at most kChunk bytes.
class OutputSink {
 public:
  static constexpr std::size_t kChunk = 64 * 1024;

  /// Out is empty, with its buffer reserved; it must outlive the sink.
  explicit OutputSink(AnsiString& Out) : FOut(Out), FUsed(0) {
    FOut.resize(std::min(kMargin, FOut.capacity()));
  }
  /// Writes to Stream through Out, an empty string used as the buffer.
  OutputSink(AnsiString& Out, TStream& Stream) : FOut(Out), FUsed(0), FStream(&Stream) {
    FOut.reserve(kChunk);
    FOut.resize(kChunk);
  }
  /// Appends the n bytes at p. Readable: how many bytes after them may be
  /// read too (a piece of the template has the rest of it behind): a long
  /// piece then brings the margin along in the same copy, instead of zeros
  /// written after it.
  void Put(const char* p, std::size_t n, std::size_t Readable = 0) {
    if (n > FOut.size() - FUsed) return Grow(p, n, Readable);
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
  /// A point of the output to come back to: what is written after it can be
  /// taken back while none of it has gone to the stream.
  struct Mark {
    std::size_t used;
    unsigned long long flushes;
  };
  Mark Here() const { return {FUsed, FFlushes}; }
  /// Takes back what was written since M, when it is all still buffered.
  void Rewind(const Mark& M) {
    if (M.flushes == FFlushes && M.used <= FUsed) FUsed = M.used;
  }
  /// Ends the output: cuts the margin off, or writes the rest to the stream.
  void Finish() {
    if (FStream != nullptr) return Flush();
    FOut.resize(FUsed);
  }

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
  void Flush() {
    const std::size_t n = FUsed;
    FUsed = 0;
    ++FFlushes;
    if (n != 0) FStream->WriteBuffer(FOut.data(), static_cast<std::int64_t>(n));
  }
  void Grow(const char* p, std::size_t n, std::size_t Readable) {
    if (FStream != nullptr) {  // the buffer is full: write it out
      Flush();
      if (n >= FOut.size()) return FStream->WriteBuffer(p, static_cast<std::int64_t>(n));
      return Put(p, n);
    }
    const std::size_t room = FOut.capacity() - FUsed;
    if (n + kMargin <= room && Readable >= kMargin) {
      // The margin's bytes are never output: any bytes serve. A whole margin
      // only: a short one would send the next pieces here again.
      FOut.replace(FUsed, FOut.size() - FUsed, p, n + kMargin);
      FUsed += n;
      return;
    }
    FOut.resize(FUsed);
    FOut.append(p, n);
    FUsed = FOut.size();
    // Never past the reserved buffer: the margin never reallocates.
    FOut.resize(FUsed + std::min(kMargin, FOut.capacity() - FUsed));
  }
  AnsiString& FOut;
  std::size_t FUsed;
  TStream* FStream = nullptr;
  unsigned long long FFlushes = 0;  // times the buffer went to the stream
};

}  // namespace vek
