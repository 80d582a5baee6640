#include "FindBytes.h"

#include <cstring>

namespace vek {

std::size_t FindBytesPlain(const char* Data, std::size_t Size, std::size_t From, const char* Needle,
                           std::size_t NeedleSize) noexcept {
  if (NeedleSize == 0 || From > Size || Size - From < NeedleSize) return kNotFound;
  const char* const last = Data + (Size - NeedleSize);  // the last possible start
  for (const char* p = Data + From; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, Needle[0], static_cast<std::size_t>(last - p) + 1));
    if (p == nullptr) break;
    if (std::memcmp(p + 1, Needle + 1, NeedleSize - 1) == 0)
      return static_cast<std::size_t>(p - Data);
  }
  return kNotFound;
}

namespace detail {

std::size_t FindOneByte(const char* Data, std::size_t Size, std::size_t From, char c) noexcept {
  if (From >= Size) return kNotFound;
  const void* f = std::memchr(Data + From, c, Size - From);
  return f == nullptr ? kNotFound : static_cast<std::size_t>(static_cast<const char*>(f) - Data);
}

// The first candidate start in Mask (bit k: a start at p + k, its first and
// last bytes already equal to the needle's) whose middle bytes match too.
const char* VerifyCandidates(const char* p, std::uint64_t Mask, const char* Needle,
                             std::size_t NeedleSize) noexcept {
  for (; Mask != 0; Mask &= Mask - 1) {
    const char* c = p + __builtin_ctzll(Mask);
    if (std::memcmp(c + 1, Needle + 1, NeedleSize - 2) == 0) return c;
  }
  return nullptr;
}

// The starts from p up to End, fewer than 32. With SSE2 they are covered by
// blocks of 16, the last one ending at End and overlapping starts already
// tested (those are masked off); only data shorter than one block is left to
// the plain search.
std::size_t FindNearEnd(const char* Data, const char* p, const char* End, const char* Needle,
                        std::size_t NeedleSize) noexcept {
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(Needle[0]), last = _mm_set1_epi8(Needle[NeedleSize - 1]);
  auto candidates = [&](const char* q) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + NeedleSize - 1));
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, last))));
  };
  while (p < End && End - Data >= 16) {
    const char* q = End - p >= 16 ? p : End - 16;  // the last block ends at End
    const unsigned mask = candidates(q) & (~0u << (p - q));
    if (const char* f = mask == 0 ? nullptr : VerifyCandidates(q, mask, Needle, NeedleSize))
      return static_cast<std::size_t>(f - Data);
    p = q + 16;
  }
#endif
  if (p >= End) return kNotFound;
  const std::size_t size = static_cast<std::size_t>(End - Data) + NeedleSize - 1;
  return FindBytesPlain(Data, size, static_cast<std::size_t>(p - Data), Needle, NeedleSize);
}

}  // namespace detail
}  // namespace vek
