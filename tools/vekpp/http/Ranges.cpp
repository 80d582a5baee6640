// VekParseRanges: the byte ranges of a Range header.
#include "http/Ranges.h"

#include <algorithm>

namespace {

bool IsBlank(char C) {
  return C == ' ' || C == '\t';
}

// Reads decimal digits at S[I]; false when there are none. A value past
// 2^64 - 1 is held there, never wrapped: no file is that large, so a range
// that starts there lies beyond every file and one that ends there runs to
// the file's end.
bool Number(const std::string& S, size_t& I, uint64_t& Out) {
  const size_t start = I;
  const uint64_t most = ~uint64_t{0};
  Out = 0;
  while (I < S.size() && S[I] >= '0' && S[I] <= '9') {
    const uint64_t digit = static_cast<uint64_t>(S[I] - '0');
    Out = Out > (most - digit) / 10 ? most : Out * 10 + digit;
    ++I;
  }
  return I > start;
}

}  // namespace

TRangeAnswer VekParseRanges(const std::string& Value, uint64_t Size, size_t MaxRanges,
                            std::vector<TByteRange>& Out) {
  Out.clear();
  const std::string unit = "bytes=";
  if (Value.compare(0, unit.size(), unit) != 0) return TRangeAnswer::Whole;
  size_t i = unit.size();
  size_t asked = 0;
  for (;;) {
    while (i < Value.size() && IsBlank(Value[i])) ++i;
    if (++asked > MaxRanges) return TRangeAnswer::Whole;
    uint64_t first = 0, last = 0;
    bool hasFirst = Number(Value, i, first);
    if (i >= Value.size() || Value[i] != '-') return TRangeAnswer::Whole;
    ++i;
    const bool hasLast = Number(Value, i, last);
    if (!hasFirst && !hasLast) return TRangeAnswer::Whole;
    if (hasFirst && hasLast && last < first) return TRangeAnswer::Whole;
    if (!hasFirst) {  // the last N bytes
      if (last > 0 && Size > 0) Out.push_back({Size - std::min(last, Size), std::min(last, Size)});
    } else if (first < Size) {
      const uint64_t end = hasLast ? std::min(last, Size - 1) : Size - 1;
      Out.push_back({first, end - first + 1});
    }
    while (i < Value.size() && IsBlank(Value[i])) ++i;
    if (i == Value.size()) break;
    if (Value[i] != ',') return TRangeAnswer::Whole;
    ++i;
  }
  if (Out.empty()) return TRangeAnswer::Unsatisfiable;
  std::vector<TByteRange> sorted = Out;
  std::sort(sorted.begin(), sorted.end(),
            [](const TByteRange& A, const TByteRange& B) { return A.Offset < B.Offset; });
  for (size_t k = 1; k < sorted.size(); ++k) {
    if (sorted[k].Offset <= sorted[k - 1].Offset + sorted[k - 1].Length) {
      Out.clear();
      return TRangeAnswer::Whole;
    }
  }
  return TRangeAnswer::Partial;
}
