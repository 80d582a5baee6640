// The path of a request target, percent-decoded and checked.
#pragma once

#include <string>

/// Decodes Target (the path of the request line, without the query) into
/// Path. False (answer 400) for a malformed escape, an escaped or raw NUL
/// byte, or a path that does not begin with "/". Linear in Target.
bool VekDecodeTarget(const std::string& Target, std::string& Path);

/// Name as a Location path: every byte but the unreserved ones and "/"
/// percent-encoded.
std::string VekPercentEncode(const std::string& Name);
