// VekLoopbackAddress: loopback told by the address's text.
#include "http/Loopback.h"

bool VekLoopbackAddress(const std::string& Address) {
  const std::string mapped = "::ffff:";
  const std::string v4 =
      Address.compare(0, mapped.size(), mapped) == 0 ? Address.substr(mapped.size()) : Address;
  return v4.compare(0, 4, "127.") == 0 || Address == "::1" || Address == "localhost";
}
