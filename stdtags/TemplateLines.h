// The parser's pass over whitespace: lines of block tags, and trims at
// <#- and -#>. Internal to the standard tags.
#pragma once

#include "VekTemplate.h"

namespace vekstd {

/// Lines that hold only standalone tags (block tags, comments) and blanks
/// vanish, line break and all: the text nodes at their edges are cut.
void StripLines(TTemplate& T);

/// <#- drops the blanks before a tag, -#> those after it, line breaks too.
void ApplyTrims(TTemplate& T);

}  // namespace vekstd
