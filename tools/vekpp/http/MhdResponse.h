// Internal to the HTTP core: an answer as a libmicrohttpd response (a
// memory buffer, a file descriptor, multipart ranges, an event stream).
#pragma once

#include <microhttpd.h>

#include <cstdint>
#include <string>

#include "http/HttpTypes.h"

/// The response that sends Reply on Connection (from the address Client),
/// with Reply's headers; the response takes over Reply's body, file and
/// event stream. Sets Sent to the bytes of the body as sent. Null when
/// libmicrohttpd cannot make one.
MHD_Response* VekMhdResponse(MHD_Connection* Connection, const std::string& Client,
                             THttpReply& Reply, uint64_t& Sent);

/// The response of Reply, made at the first call and kept in Reply: queued
/// on any number of connections, never destroyed by the caller (Reply frees
/// it). Null when libmicrohttpd cannot make one.
MHD_Response* VekMhdFixedResponse(const THttpFixedReply& Reply);
