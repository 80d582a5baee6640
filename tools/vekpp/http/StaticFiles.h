// Files of the site sent as they are: streamed from their descriptor, with
// validators, 304 and byte ranges.
#pragma once

#include <filesystem>
#include <string>

#include "http/HttpTypes.h"

/// How many ranges one request may ask for; more are answered with the
/// whole file.
constexpr size_t kVekMaxRanges = 8;

/// Fills Reply with the file at Path (already checked to lie inside the
/// site; Name gives its type): 200 with the whole file, 206 with the
/// ranges asked, or 304 when the client's copy is current. Returns 0 when
/// Reply is filled, else the status of the error to answer: 404 when the
/// file cannot be opened as a regular file, 416 when no range lies in it
/// (Reply then holds its Content-Range header).
int VekFileReply(const std::filesystem::path& Path, const std::string& Name,
                 const THttpRequest& Request, THttpReply& Reply);
