// The delimiter search of the expansion loop: the first exact occurrence of a
// short byte string in a byte range. Internal to the component.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vek {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

/// The search done plainly (memchr for the needle's first byte, then a
/// compare): what FindBytes does on targets without SSE2, and what the tests
/// compare it with. Same contract as FindBytes.
std::size_t FindBytesPlain(const char* Data, std::size_t Size, std::size_t From, const char* Needle,
                           std::size_t NeedleSize) noexcept;

/// The first position from From at which the needle starts (wholly inside
/// Data[0..Size)) or a NUL byte stands, whichever comes first; kNotFound
/// when neither does. The needle holds no NUL (a delimiter's searched part),
/// so a needle found never spans one. Done plainly, for targets without SSE2
/// and for the tests; same contract as FindBytesOrNul.
std::size_t FindBytesOrNulPlain(const char* Data, std::size_t Size, std::size_t From,
                                const char* Needle, std::size_t NeedleSize) noexcept;

namespace detail {
// The rarely taken parts of FindBytes, out of line.
const char* VerifyCandidates(const char* p, std::uint64_t Mask, const char* Needle,
                             std::size_t NeedleSize) noexcept;
// The first of the starts in Candidates (bit k: p + k, its first and last
// bytes equal to the needle's) whose middle bytes match too, and of the NULs
// in Nuls (bit k: a NUL at p + k); null when none.
const char* FirstCandidateOrNul(const char* p, std::uint64_t Candidates, std::uint64_t Nuls,
                                const char* Needle, std::size_t NeedleSize) noexcept;
std::size_t FindNearEnd(const char* Data, const char* p, const char* End, const char* Needle,
                        std::size_t NeedleSize) noexcept;
}  // namespace detail

/// A needle prepared for FindBytes: its bytes (not owned; they must outlive
/// it) and, with SSE2, its first and last bytes in every lane.
struct Needle {
  const char* data = nullptr;
  std::size_t size = 0;
#if defined(__SSE2__)
  __m128i first = _mm_setzero_si128(), last = _mm_setzero_si128();
#endif
  Needle() = default;
  Needle(const char* Data, std::size_t Size) : data(Data), size(Size) {
#if defined(__SSE2__)
    if (Size != 0) {
      first = _mm_set1_epi8(Data[0]);
      last = _mm_set1_epi8(Data[Size - 1]);
    }
#endif
  }
};

namespace detail {

/// Searches on from p (the starts before it already ruled out) to End, one
/// past the last possible start: the long stretches. Uses 32-byte vectors
/// where the processor has them (AVX2), else the 16-byte ones.
std::size_t FindFar(const char* Data, const char* p, const char* End, const Needle& N) noexcept;
/// The same with the vector width chosen by the caller (Wide: AVX2, which
/// the processor must have), for the tests.
std::size_t FindFarWith(const char* Data, const char* p, const char* End, const Needle& N,
                        bool Wide) noexcept;
/// Whether FindFar uses AVX2 on this processor.
bool HasWideVectors() noexcept;

#if defined(__SSE2__)
// Tests 32 starts at a time from p, at most Blocks times and while they fit
// before End (32 starts read up to p + 31 + size - 1). Returns the match, or
// null with p moved past the starts tested. A needle of one byte is its own
// first and last byte.
inline const char* ScanBlocks(const char*& p, const char* End, const Needle& N,
                              std::size_t Blocks) noexcept {
  const std::size_t n = N.size;
  // Bit k of a mask: the first byte at p[k] and the last at p[k + n - 1].
  const auto candidates = [&](const char* q) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + n - 1));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, N.first), _mm_cmpeq_epi8(b, N.last))));
  };
  for (; Blocks != 0 && End - p >= 32; --Blocks, p += 32) {
    const unsigned lo = candidates(p), hi = candidates(p + 16);
    if ((lo | hi) == 0) continue;
    const std::uint64_t mask = lo | (static_cast<std::uint64_t>(hi) << 16);
    if (n <= 2) return p + __builtin_ctzll(mask);
    if (const char* f = VerifyCandidates(p, mask, N.data, n)) return f;
  }
  return nullptr;
}
// ScanBlocks that stops at a NUL byte too: at the first NUL among the bytes
// of the starts it tests, or at a start of the needle before it.
inline const char* ScanBlocksOrNul(const char*& p, const char* End, const Needle& N,
                                   std::size_t Blocks) noexcept {
  const std::size_t n = N.size;
  const __m128i zero = _mm_setzero_si128();
  for (; Blocks != 0 && End - p >= 32; --Blocks, p += 32) {
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 1));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n + 15));
    const __m128i c0 = _mm_and_si128(_mm_cmpeq_epi8(a0, N.first), _mm_cmpeq_epi8(b0, N.last));
    const __m128i c1 = _mm_and_si128(_mm_cmpeq_epi8(a1, N.first), _mm_cmpeq_epi8(b1, N.last));
    const __m128i z0 = _mm_cmpeq_epi8(a0, zero), z1 = _mm_cmpeq_epi8(a1, zero);
    const unsigned events = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(c0, z0))) |
                            (static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(c1, z1))) << 16);
    if (events == 0) continue;
    if (n <= 2) return p + __builtin_ctz(events);  // a candidate is a match
    const unsigned z = static_cast<unsigned>(_mm_movemask_epi8(z0)) |
                       (static_cast<unsigned>(_mm_movemask_epi8(z1)) << 16);
    if (const char* f = FirstCandidateOrNul(p, events & ~z, z, N.data, n)) return f;
  }
  return nullptr;
}
#endif

/// FindBytesOrNul from p on, the starts before it ruled out and the bytes
/// before it free of NUL: the long stretches, with 64-byte vectors (AVX-512)
/// or 32-byte ones (AVX2) where the processor has them.
std::size_t FindFarOrNul(const char* Data, std::size_t Size, const char* p,
                         const Needle& N) noexcept;
/// The same with the vector width chosen by the caller (64, 32 or 16 bytes;
/// the processor must have it), for the tests.
std::size_t FindFarOrNulWith(const char* Data, std::size_t Size, const char* p, const Needle& N,
                             int Width) noexcept;
/// The widest vectors FindFarOrNul uses on this processor: 64, 32 or 16.
int OrNulWidth() noexcept;

}  // namespace detail

/// FindBytesOrNulPlain's answer, vectorised where the target allows: the
/// expansion loop searches the template and checks it for a NUL (where a
/// template ends) in the same pass. The first 64 starts inline.
inline std::size_t FindBytesOrNul(const char* Data, std::size_t Size, std::size_t From,
                                  const Needle& N) noexcept {
#if defined(__SSE2__)
  const std::size_t n = N.size;
  if (n == 0 || From >= Size) return FindBytesOrNulPlain(Data, Size, From, N.data, n);
  const char* p = Data + From;
  if (Size - From >= n) {
    const char* const end = Data + (Size - n) + 1;  // one past the last possible start
    if (const char* f = detail::ScanBlocksOrNul(p, end, N, 2))
      return static_cast<std::size_t>(f - Data);
  }
  return detail::FindFarOrNul(Data, Size, p, N);
#else
  return FindBytesOrNulPlain(Data, Size, From, N.data, N.size);
#endif
}

/// Offset (from Data) of the first occurrence of the needle that lies wholly
/// inside Data[From..Size), or kNotFound. An empty needle is never found.
/// Every byte is an ordinary byte, NUL included. Reads nothing outside
/// Data[0..Size) and the needle (bytes before From may be read, never used).
///
/// With SSE2 (every x86-64) it tests 32 candidate starts at a time, comparing
/// the needle's first and last bytes, so that text full of the needle's first
/// byte (the '<' of HTML for "<#") costs no more than any other text; past
/// the first 64 bytes it goes on out of line, with AVX2 where available.
/// Inline: the loop calls it twice per tag, mostly over a few dozen bytes.
inline std::size_t FindBytes(const char* Data, std::size_t Size, std::size_t From,
                             const Needle& N) noexcept {
#if defined(__SSE2__)
  const std::size_t n = N.size;
  if (n == 0 || From > Size || Size - From < n) return kNotFound;
  const char* p = Data + From;
  const char* const end = Data + (Size - n) + 1;  // one past the last possible start
  if (const char* f = detail::ScanBlocks(p, end, N, 2)) return static_cast<std::size_t>(f - Data);
  if (end - p < 32) return detail::FindNearEnd(Data, p, end, N.data, n);
  return detail::FindFar(Data, p, end, N);
#else
  return FindBytesPlain(Data, Size, From, N.data, N.size);
#endif
}

/// The same for a needle given as bytes.
inline std::size_t FindBytes(const char* Data, std::size_t Size, std::size_t From,
                             const char* NeedleData, std::size_t NeedleSize) noexcept {
  return FindBytes(Data, Size, From, Needle(NeedleData, NeedleSize));
}

}  // namespace vek
