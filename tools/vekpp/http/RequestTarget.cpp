// Request targets: percent-decoding in, percent-encoding out.
#include "http/RequestTarget.h"

namespace {

int HexDigit(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'a' && C <= 'f') return C - 'a' + 10;
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

char Lower(char C) {
  return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

bool Unreserved(unsigned char C) {
  return (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') || C == '-' ||
         C == '.' || C == '_' || C == '~';
}

}  // namespace

bool VekDecodeTarget(const std::string& Target, std::string& Path) {
  Path.clear();
  Path.reserve(Target.size());
  for (size_t i = 0; i < Target.size(); ++i) {
    char c = Target[i];
    if (c == '%') {
      const int hi = i + 2 < Target.size() ? HexDigit(Target[i + 1]) : -1;
      const int lo = hi >= 0 ? HexDigit(Target[i + 2]) : -1;
      if (hi < 0 || lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      i += 2;
    }
    if (c == '\0') return false;
    Path += c;
  }
  return !Path.empty() && Path[0] == '/';
}

std::string VekPercentEncode(const std::string& Name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(Name.size());
  for (const unsigned char c : Name) {
    if (Unreserved(c) || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

bool VekOriginForm(const std::string& Target, const std::string& Host, std::string& Path) {
  if (!Target.empty() && Target[0] == '/') {
    Path = Target;
    return true;
  }
  static const std::string scheme = "http://";
  if (Target.size() < scheme.size()) return false;
  for (size_t i = 0; i < scheme.size(); ++i) {
    if (Lower(Target[i]) != scheme[i]) return false;
  }
  const size_t slash = Target.find('/', scheme.size());
  const size_t end = slash == std::string::npos ? Target.size() : slash;
  const size_t length = end - scheme.size();
  if (length == 0 || length != Host.size()) return false;
  for (size_t i = 0; i < length; ++i) {
    if (Lower(Target[scheme.size() + i]) != Lower(Host[i])) return false;
  }
  Path = slash == std::string::npos ? "/" : Target.substr(slash);
  return true;
}

std::string VekLocationQuery(const std::string& Query) {
  if (Query.empty()) return "";
  static const char hex[] = "0123456789ABCDEF";
  static const std::string unsafe = "\"<>\\^`{|}#";
  std::string out = "?";
  for (const unsigned char c : Query) {
    if (c <= ' ' || c >= 0x7f || unsafe.find(static_cast<char>(c)) != std::string::npos) {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}
