// The host's byte-string type. It is the standard std::string: a counted
// sequence of bytes with value semantics, so callers pass ordinary strings.
// Positions and lengths are byte offsets and counts; empty and absent are the
// same.
#pragma once

#include <string>

using AnsiString = std::string;
