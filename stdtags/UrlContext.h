// The part of a URL attribute's value the HTML context tokenizer has reached,
// and the judgement of its scheme from the literal text before a value.
#pragma once

#include <cstdint>
#include <string>

namespace vekstd {

enum class TUrlPart : uint8_t {
  Start,       ///< nothing but blanks yet
  Scheme,      ///< literal bytes that may still become a scheme
  AfterValue,  ///< a value stood where the scheme is still open
  Path,        ///< scheme settled (an allowed one, or none)
  Query,       ///< after '?' or '#'
  BadScheme,   ///< a literal scheme that is not allowed
};

struct TUrlState {
  static constexpr size_t kMaxPrefix = 64;

  TUrlPart Part = TUrlPart::Start;
  std::string Prefix;  ///< literal text while the scheme is open, at most kMaxPrefix bytes

  bool operator==(const TUrlState& O) const { return Part == O.Part && Prefix == O.Prefix; }
  bool operator!=(const TUrlState& O) const { return !(*this == O); }
  /// Appends the state as bytes, for cache keys.
  void AppendKey(std::string& Key) const;
};

/// Advances State over one literal byte of a URL. Sets Problem when the byte
/// makes a value before it unsafe (a ':' right after a value at the start).
void UrlStep(TUrlState& State, unsigned char C, std::string& Problem);

}  // namespace vekstd
