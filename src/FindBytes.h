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

namespace detail {
// The rarely taken parts of FindBytes, out of line.
std::size_t FindOneByte(const char* Data, std::size_t Size, std::size_t From, char c) noexcept;
const char* VerifyCandidates(const char* p, std::uint64_t Mask, const char* Needle,
                             std::size_t NeedleSize) noexcept;
std::size_t FindNearEnd(const char* Data, const char* p, const char* End, const char* Needle,
                        std::size_t NeedleSize) noexcept;
}  // namespace detail

/// Offset (from Data) of the first occurrence of Needle[0..NeedleSize) that
/// lies wholly inside Data[From..Size), or kNotFound. An empty needle is never
/// found. Every byte is an ordinary byte, NUL included. Reads nothing outside
/// Data[From..Size) and Needle[0..NeedleSize).
///
/// With SSE2 (every x86-64) it tests 32 candidate starts at a time, comparing
/// the needle's first and last bytes, so that text full of the needle's first
/// byte (the '<' of HTML for "<#") costs no more than any other text. Inline:
/// the loop calls it twice per tag, mostly over a few dozen bytes.
inline std::size_t FindBytes(const char* Data, std::size_t Size, std::size_t From,
                             const char* Needle, std::size_t NeedleSize) noexcept {
#if defined(__SSE2__)
  if (NeedleSize < 2)
    return NeedleSize == 0 ? kNotFound : detail::FindOneByte(Data, Size, From, Needle[0]);
  if (From > Size || Size - From < NeedleSize) return kNotFound;
  const __m128i first = _mm_set1_epi8(Needle[0]);
  const __m128i last = _mm_set1_epi8(Needle[NeedleSize - 1]);
  // Bit k of a mask: the first byte at p[k] and the last at p[k + NeedleSize - 1].
  const auto candidates = [&](const char* p) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + NeedleSize - 1));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
  };
  // 32 starts from p read up to p + 31 + NeedleSize - 1: they fit while
  // p + 32 <= end, end being one past the last possible start.
  const char* p = Data + From;
  const char* const end = Data + (Size - NeedleSize) + 1;
  for (; end - p >= 32; p += 32) {
    const unsigned lo = candidates(p), hi = candidates(p + 16);
    if ((lo | hi) == 0) continue;
    const std::uint64_t mask = lo | (static_cast<std::uint64_t>(hi) << 16);
    if (NeedleSize == 2) return static_cast<std::size_t>(p - Data) + __builtin_ctzll(mask);
    if (const char* f = detail::VerifyCandidates(p, mask, Needle, NeedleSize))
      return static_cast<std::size_t>(f - Data);
  }
  return detail::FindNearEnd(Data, p, end, Needle, NeedleSize);
#else
  return FindBytesPlain(Data, Size, From, Needle, NeedleSize);
#endif
}

}  // namespace vek
