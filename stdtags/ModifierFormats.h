// The formats of the number= and date= modifiers (internal to the
// standard tags).
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "Modifiers.h"

namespace vekstd {

/// V (or Text, a number written as text, when V is not a number) with
/// S.N decimals, grouped by S.B, into Out, without the locale; false when
/// neither holds a number.
bool FormatNumber(const TData* V, const std::string_view* Text, const TModStep& S,
                  std::string& Out);

/// True when FormatNumber of the text Text (V not a number) gives Text
/// itself: a plain decimal ("42.50") already written with S.N decimals, a
/// point ".", no grouping and no leading zeros; then no text need be made.
bool NumberAsWritten(std::string_view Text, const TModStep& S);

/// An ISO 8601 date or date and time (YYYY-MM-DD, then optionally T or a
/// blank, hh:mm, :ss, a fraction, and Z or an offset, kept as written) into
/// Tm with its weekday and day of the year; false when S is none.
bool ParseIsoDate(std::string_view S, std::tm& Tm);

}  // namespace vekstd
