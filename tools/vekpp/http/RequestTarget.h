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

/// Target in origin form ("/path"): Target itself when it begins with "/";
/// for an absolute-form target ("http://host:port/path", as sent to a
/// proxy), its path ("/" when it has none) when its authority names this
/// server: the request's Host header (compared without case). False
/// (answer 400) for any other target. Linear in Target.
bool VekOriginForm(const std::string& Target, const std::string& Host, std::string& Path);

/// "?" and Query for a Location header, "" for an empty Query: bytes that
/// may not stand in a URL (controls, blanks, quotes, angle brackets and
/// the like, and bytes of 0x80 and above) percent-encoded.
std::string VekLocationQuery(const std::string& Query);
