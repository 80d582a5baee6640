// Whether an address is this machine's own (loopback).
#pragma once

#include <string>

/// True for an IPv4 address in 127.0.0.0/8 (also as ::ffff:127.x.y.z), for
/// ::1 and for "localhost".
bool VekLoopbackAddress(const std::string& Address);
