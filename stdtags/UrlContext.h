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
  Unknown,     ///< ways through a condition end in different parts
};

struct TUrlState {
  static constexpr size_t kMaxPrefix = 64;

  TUrlPart Part = TUrlPart::Start;
  std::string Prefix;  ///< literal text while the scheme is open, at most kMaxPrefix bytes

  bool operator==(const TUrlState& O) const { return Part == O.Part && Prefix == O.Prefix; }
  bool operator!=(const TUrlState& O) const { return !(*this == O); }
  /// Appends the state as bytes, for cache keys.
  void AppendKey(std::string& Key) const;
  /// The part reached, in words ("the path of", ...).
  const char* Describe() const;
};

/// Joins the parts two ways through a condition end in: equal ones stay, an
/// unsafe scheme on either way stays unsafe, others become Unknown (a value
/// there is refused; literal text may still reach the query).
TUrlState JoinUrl(const TUrlState& A, const TUrlState& B);

/// Advances State over one literal byte of a URL. Sets Problem when the byte
/// makes a value before it unsafe (a ':' right after a value at the start).
void UrlStep(TUrlState& State, unsigned char C, std::string& Problem);

}  // namespace vekstd
