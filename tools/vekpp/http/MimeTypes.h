// The Content-Type of a file served by vekpp, from its name.
#pragma once

#include <string>

/// The media type for Name by its extension (any case);
/// "application/octet-stream" for one not known.
const char* VekContentType(const std::string& Name);
