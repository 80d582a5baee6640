// Character references in attribute values, decoded byte by byte as the
// browser decodes them before a URL's scheme is judged or an event handler's
// JavaScript runs.
#pragma once

#include <string>

namespace vekstd {

/// What a reference decodes to, for the lexers that read the attribute.
enum class TCharRefResult {
  Plain,    ///< not (or not yet) a reference: Out holds bytes as they are
  Unknown,  ///< a named reference this decoder does not know
};

/// Feeds C, one byte of an attribute's value, to a reference being read
/// (Pending, "&..." up to 32 bytes, empty outside one). Appends to Out the
/// bytes the attribute's language reads: plain bytes, and decoded references
/// (a character from 128 up as one byte 0x80, a space for the ones
/// JavaScript takes as blanks, U+2028/U+2029 in UTF-8).
TCharRefResult CharRefStep(std::string& Pending, unsigned char C, std::string& Out);

/// At the end of the value: decodes or passes on what Pending holds.
TCharRefResult CharRefFlush(std::string& Pending, std::string& Out);

}  // namespace vekstd
