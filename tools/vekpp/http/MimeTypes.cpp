// The table of media types by file extension.
#include "http/MimeTypes.h"

#include <algorithm>
#include <cctype>
#include <utility>

const char* VekContentType(const std::string& Name) {
  static const std::pair<const char*, const char*> types[] = {
      {".html", "text/html; charset=utf-8"},
      {".htm", "text/html; charset=utf-8"},
      {".css", "text/css; charset=utf-8"},
      {".js", "text/javascript; charset=utf-8"},
      {".mjs", "text/javascript; charset=utf-8"},
      {".json", "application/json"},
      {".txt", "text/plain; charset=utf-8"},
      {".xml", "application/xml"},
      {".svg", "image/svg+xml"},
      {".png", "image/png"},
      {".jpg", "image/jpeg"},
      {".jpeg", "image/jpeg"},
      {".gif", "image/gif"},
      {".webp", "image/webp"},
      {".ico", "image/vnd.microsoft.icon"},
      {".woff", "font/woff"},
      {".woff2", "font/woff2"},
      {".pdf", "application/pdf"},
      {".wasm", "application/wasm"},
  };
  const size_t dot = Name.rfind('.');
  if (dot != std::string::npos && Name.find('/', dot) == std::string::npos) {
    std::string ext = Name.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const auto& t : types) {
      if (ext == t.first) return t.second;
    }
  }
  return "application/octet-stream";
}
