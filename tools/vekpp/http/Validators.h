// Conditional requests: ETag and Last-Modified of an answer, and whether
// the client's copy is still good (304 Not Modified).
#pragma once

#include <ctime>
#include <string>

#include "http/HttpTypes.h"

/// T as an HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT").
std::string VekHttpDate(std::time_t T);
/// Reads an HTTP date in the form VekHttpDate writes; false for any other.
bool VekParseHttpDate(const std::string& S, std::time_t& T);
/// A strong entity tag for a body, from its bytes.
std::string VekContentETag(const std::string& Body);
/// True when the request's If-None-Match names ETag (or is "*"), or, with
/// no If-None-Match, its If-Modified-Since is not before Modified (-1: none)
/// and not after the present (a date to come is ignored).
bool VekNotModified(const THttpRequest& Request, const std::string& ETag, std::time_t Modified);
