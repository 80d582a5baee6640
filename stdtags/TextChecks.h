// What the parser checks of a template's bytes before its tags: a foreign
// byte-order mark, a NUL byte, text that is not UTF-8; and the short
// printable excerpts of the text that messages quote.
#pragma once

#include <string>
#include <vector>

#include "VekTemplate.h"

namespace vekstd {

/// The findings about Text's encoding, in text order: a byte-order mark of
/// UTF-16 or UTF-32 (then nothing else), the first NUL byte, the first byte
/// that starts no valid UTF-8 sequence before it.
std::vector<TFinding> EncodingFindings(const AnsiString& Text);

/// A short, printable excerpt of the bytes S[From...], quoted, with "..."
/// when cut; a UTF-8 sequence is never cut in two.
std::string Excerpt(const AnsiString& S, size_t From);

/// A blank: a byte value of 32 or less (bytes are unsigned).
inline bool IsBlankByte(char C) {
  return static_cast<unsigned char>(C) <= 32;
}

}  // namespace vekstd
