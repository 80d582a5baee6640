// The private-name rule of a site and request paths checked part by part.
#include "site/SiteNames.h"

bool VekPrivateName(const std::string& Part) {
  return Part.empty() || Part[0] == '_' || Part[0] == '.';
}

TSiteNameAnswer VekSiteName(const std::string& Path, std::string& Name) {
  Name.clear();
  size_t start = Path.empty() || Path[0] != '/' ? 0 : 1;
  while (start <= Path.size()) {
    size_t slash = Path.find('/', start);
    if (slash == std::string::npos) slash = Path.size();
    const size_t length = slash - start;
    const size_t at = start;
    start = slash + 1;
    if (length == 0 || (length == 1 && Path[at] == '.')) continue;
    if (length == 2 && Path[at] == '.' && Path[at + 1] == '.') return TSiteNameAnswer::Parent;
    if (VekPrivateName(Path.substr(at, length))) return TSiteNameAnswer::Private;
    if (!Name.empty()) Name += '/';
    Name.append(Path, at, length);
  }
  return TSiteNameAnswer::Public;
}
