// The delimiter search (see FindBytes.h): the plain search, the rarely taken
// candidate checks and the long stretches with 16- or 32-byte vectors.
#include "FindBytes.h"

#include <cstring>

#if defined(__SSE2__) && defined(__x86_64__)
#include <immintrin.h>
#endif

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

// The first candidate start in Mask (bit k: a start at p + k, its first and
// last bytes already equal to the needle's) whose middle bytes match too.
const char* VerifyCandidates(const char* p, std::uint64_t Mask, const char* Needle,
                             std::size_t NeedleSize) noexcept {
  if (NeedleSize <= 2) return Mask == 0 ? nullptr : p + __builtin_ctzll(Mask);
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

#if defined(__SSE2__) && defined(__x86_64__)

bool HasWideVectors() noexcept {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

namespace {

// 64 starts at a time with 32-byte vectors, while they fit before End.
// Returns the match, or null with p moved past the starts tested.
__attribute__((target("avx2"))) const char* ScanWide(const char*& p, const char* End,
                                                     const char* Needle,
                                                     std::size_t NeedleSize) noexcept {
  const __m256i first = _mm256_set1_epi8(Needle[0]);
  const __m256i last = _mm256_set1_epi8(Needle[NeedleSize - 1]);
  for (; End - p >= 64; p += 64) {
    // (A lambda would not inherit the target: the four loads are written out.)
    const auto* a = reinterpret_cast<const __m256i*>(p);
    const auto* b = reinterpret_cast<const __m256i*>(p + NeedleSize - 1);
    const __m256i lo = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(a), first),
                                        _mm256_cmpeq_epi8(_mm256_loadu_si256(b), last));
    const __m256i hi = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_loadu_si256(a + 1), first),
                                        _mm256_cmpeq_epi8(_mm256_loadu_si256(b + 1), last));
    const __m256i any = _mm256_or_si256(lo, hi);
    if (_mm256_testz_si256(any, any)) continue;
    const std::uint64_t mask =
        static_cast<std::uint32_t>(_mm256_movemask_epi8(lo)) |
        (static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(hi))) << 32);
    if (const char* f = VerifyCandidates(p, mask, Needle, NeedleSize)) return f;
  }
  return nullptr;
}

}  // namespace

#else

bool HasWideVectors() noexcept {
  return false;
}

#endif

std::size_t FindFarWith(const char* Data, const char* p, const char* End, const Needle& N,
                        bool Wide) noexcept {
#if defined(__SSE2__)
#if defined(__x86_64__)
  if (Wide)
    if (const char* f = ScanWide(p, End, N.data, N.size)) return static_cast<std::size_t>(f - Data);
#else
  (void)Wide;
#endif
  if (const char* f = ScanBlocks(p, End, N, static_cast<std::size_t>(-1)))
    return static_cast<std::size_t>(f - Data);
  return FindNearEnd(Data, p, End, N.data, N.size);
#else
  (void)Wide;
  return FindBytesPlain(Data, static_cast<std::size_t>(End - Data) + N.size - 1,
                        static_cast<std::size_t>(p - Data), N.data, N.size);
#endif
}

std::size_t FindFar(const char* Data, const char* p, const char* End, const Needle& N) noexcept {
  return FindFarWith(Data, p, End, N, HasWideVectors());
}

}  // namespace detail
}  // namespace vek
