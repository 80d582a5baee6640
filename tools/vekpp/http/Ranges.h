// The Range header of a request for a file: which bytes to send.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TByteRange {
  uint64_t Offset = 0;
  uint64_t Length = 0;
};

enum class TRangeAnswer {
  Whole,          ///< send the whole file (no usable Range header)
  Partial,        ///< send the ranges found (206)
  Unsatisfiable,  ///< none of the ranges lies in the file (416)
};

/// Reads Value, a Range header ("bytes=0-99,200-", "bytes=-500"), for a
/// file of Size bytes. Ranges that start beyond the end are dropped and the
/// rest clipped to the file; a number past 2^64 - 1 counts as 2^64 - 1.
/// A header that is malformed, holds more than MaxRanges ranges, or whose
/// ranges overlap or touch answers Whole: the client then receives the
/// file once, never a part twice. Out holds the ranges in the order asked
/// when the answer is Partial. Linear in Value.
TRangeAnswer VekParseRanges(const std::string& Value, uint64_t Size, size_t MaxRanges,
                            std::vector<TByteRange>& Out);
