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

std::size_t FindBytesOrNulPlain(const char* Data, std::size_t Size, std::size_t From,
                                const char* Needle, std::size_t NeedleSize) noexcept {
  if (From >= Size) return kNotFound;
  const void* nul = std::memchr(Data + From, 0, Size - From);
  const std::size_t limit =
      nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - Data) : Size;
  const std::size_t f = FindBytesPlain(Data, limit, From, Needle, NeedleSize);
  return f != kNotFound ? f : nul ? limit : kNotFound;
}

namespace detail {

const char* FirstCandidateOrNul(const char* p, std::uint64_t Candidates, std::uint64_t Nuls,
                                const char* Needle, std::size_t NeedleSize) noexcept {
  for (std::uint64_t events = Candidates | Nuls; events != 0; events &= events - 1) {
    const int k = __builtin_ctzll(events);
    const char* c = p + k;
    if ((Nuls >> k) & 1) return c;
    if (NeedleSize <= 2 || std::memcmp(c + 1, Needle + 1, NeedleSize - 2) == 0) return c;
  }
  return nullptr;
}

// The answer when the first NUL from p on stands at z: a start of the needle
// before it, else z.
static const char* BeforeNul(const char* Data, const char* p, const char* z,
                             const Needle& N) noexcept {
  const std::size_t f = FindBytesPlain(Data, static_cast<std::size_t>(z - Data),
                                       static_cast<std::size_t>(p - Data), N.data, N.size);
  return f == kNotFound ? z : Data + f;
}

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

// The wide steps test 64 starts at a time, first only on the needle's last
// byte and for a NUL (one load and two compares with 64-byte vectors): for
// "<#" in HTML the rare '#' sets few blocks apart, which are then tested
// fully (BlockMasks). On entry the bytes before p + n - 1 hold no NUL, and so
// after each step. The loops call nothing, so that no wide register is kept
// on the stack across a call (which MinGW's compiler does not align).

// The first block from p on, while blocks fit before Limit, whose quick test
// fires; else the position after the blocks tested.
__attribute__((target("avx512f,avx512bw"))) const char* QuickOrNul64(const char* p,
                                                                     const char* Limit,
                                                                     const Needle& N) noexcept {
  const std::size_t n = N.size;
  const __m512i last = _mm512_set1_epi8(N.data[n - 1]);
  for (; static_cast<std::size_t>(Limit - p) >= n + 63; p += 64) {
    const __m512i b = _mm512_loadu_si512(p + n - 1);
    if ((_mm512_testn_epi8_mask(b, b) | _mm512_cmpeq_epi8_mask(b, last)) != 0) return p;
  }
  return p;
}

// The masks of the block at p: C the starts with the needle's first and last
// bytes, ZA the NULs among p[0..64), ZB those among p[n - 1..n + 63).
struct BlockMasks {
  std::uint64_t c, za, zb;
};

__attribute__((target("avx512f,avx512bw"))) BlockMasks MasksOf64(const char* p,
                                                                 const Needle& N) noexcept {
  const std::size_t n = N.size;
  const __m512i a = _mm512_loadu_si512(p), b = _mm512_loadu_si512(p + n - 1);
  const __mmask64 c = _mm512_cmpeq_epi8_mask(a, _mm512_set1_epi8(N.data[0])) &
                      _mm512_cmpeq_epi8_mask(b, _mm512_set1_epi8(N.data[n - 1]));
  return {c, _mm512_testn_epi8_mask(a, a), _mm512_testn_epi8_mask(b, b)};
}

// The same with 32-byte vectors.
__attribute__((target("avx2"))) const char* QuickOrNul32(const char* p, const char* Limit,
                                                         const Needle& N) noexcept {
  const std::size_t n = N.size;
  const __m256i last = _mm256_set1_epi8(N.data[n - 1]);
  const __m256i zero = _mm256_setzero_si256();
  for (; static_cast<std::size_t>(Limit - p) >= n + 63; p += 64) {
    const auto* bp = reinterpret_cast<const __m256i*>(p + n - 1);
    const __m256i b0 = _mm256_loadu_si256(bp), b1 = _mm256_loadu_si256(bp + 1);
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(b0, last), _mm256_cmpeq_epi8(b1, last)),
                        _mm256_or_si256(_mm256_cmpeq_epi8(b0, zero), _mm256_cmpeq_epi8(b1, zero)));
    if (!_mm256_testz_si256(any, any)) return p;
  }
  return p;
}

// Two 32-bit masks as one of 64 bits.
std::uint64_t Bits(int Lo, int Hi) {
  return static_cast<std::uint32_t>(Lo) |
         (static_cast<std::uint64_t>(static_cast<std::uint32_t>(Hi)) << 32);
}

__attribute__((target("avx2"))) BlockMasks MasksOf32(const char* p, const Needle& N) noexcept {
  const std::size_t n = N.size;
  const __m256i first = _mm256_set1_epi8(N.data[0]), last = _mm256_set1_epi8(N.data[n - 1]);
  const __m256i zero = _mm256_setzero_si256();
  const auto* ap = reinterpret_cast<const __m256i*>(p);
  const auto* bp = reinterpret_cast<const __m256i*>(p + n - 1);
  const __m256i a0 = _mm256_loadu_si256(ap), a1 = _mm256_loadu_si256(ap + 1);
  const __m256i b0 = _mm256_loadu_si256(bp), b1 = _mm256_loadu_si256(bp + 1);
  // (A lambda would not inherit the target: the masks are written out.)
  const __m256i c0 = _mm256_and_si256(_mm256_cmpeq_epi8(a0, first), _mm256_cmpeq_epi8(b0, last));
  const __m256i c1 = _mm256_and_si256(_mm256_cmpeq_epi8(a1, first), _mm256_cmpeq_epi8(b1, last));
  return {Bits(_mm256_movemask_epi8(c0), _mm256_movemask_epi8(c1)),
          Bits(_mm256_movemask_epi8(_mm256_cmpeq_epi8(a0, zero)),
               _mm256_movemask_epi8(_mm256_cmpeq_epi8(a1, zero))),
          Bits(_mm256_movemask_epi8(_mm256_cmpeq_epi8(b0, zero)),
               _mm256_movemask_epi8(_mm256_cmpeq_epi8(b1, zero)))};
}

// From p on with the wide steps while whole blocks fit: the answer, or null
// with p moved past the starts tested.
const char* ScanOrNulWide(const char* Data, const char*& At, const char* Limit, const Needle& N,
                          int Width) noexcept {
  const char* p = At;  // local: through the reference each step would store it
  for (;;) {
    p = Width == 64 ? QuickOrNul64(p, Limit, N) : QuickOrNul32(p, Limit, N);
    if (static_cast<std::size_t>(Limit - p) < N.size + 63) break;
    const BlockMasks m = Width == 64 ? MasksOf64(p, N) : MasksOf32(p, N);
    if (const char* f = FirstCandidateOrNul(p, m.c, m.za, N.data, N.size)) return f;
    // A NUL past the block ends the text there, unless a start before it matches.
    if (m.zb != 0) return BeforeNul(Data, p + 64, p + N.size - 1 + __builtin_ctzll(m.zb), N);
    p += 64;
  }
  At = p;
  return nullptr;
}

}  // namespace

int OrNulWidth() noexcept {
  static const int width = __builtin_cpu_supports("avx512bw") ? 64 : HasWideVectors() ? 32 : 16;
  return width;
}

#else

bool HasWideVectors() noexcept {
  return false;
}

int OrNulWidth() noexcept {
  return 16;
}

#endif

std::size_t FindFarOrNulWith(const char* Data, std::size_t Size, const char* p, const Needle& N,
                             int Width) noexcept {
  const std::size_t n = N.size;
  const char* const limit = Data + Size;
#if defined(__SSE2__) && defined(__x86_64__)
  if (Width > 16 && n != 0 && static_cast<std::size_t>(limit - p) >= n + 63) {
    // The wide steps take the bytes before p + n - 1 as checked.
    for (const char* q = p; q < p + n - 1; ++q)
      if (*q == '\0') return static_cast<std::size_t>(BeforeNul(Data, p, q, N) - Data);
    if (const char* f = ScanOrNulWide(Data, p, limit, N, Width))
      return static_cast<std::size_t>(f - Data);
  }
#else
  (void)Width;
#endif
#if defined(__SSE2__)
  if (n != 0 && static_cast<std::size_t>(limit - p) >= n) {
    if (const char* f = ScanBlocksOrNul(p, Data + (Size - n) + 1, N, static_cast<std::size_t>(-1)))
      return static_cast<std::size_t>(f - Data);
  }
#endif
  return FindBytesOrNulPlain(Data, Size, static_cast<std::size_t>(p - Data), N.data, n);
}

std::size_t FindFarOrNul(const char* Data, std::size_t Size, const char* p,
                         const Needle& N) noexcept {
  return FindFarOrNulWith(Data, Size, p, N, OrNulWidth());
}

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
