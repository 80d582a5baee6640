// VekSiteFiles: a site's directory walked once, its published files sorted.
#include "site/SiteFiles.h"

#include <algorithm>

#include "site/SiteConfig.h"
#include "site/SiteNames.h"
#include "site/SitePages.h"

namespace fs = std::filesystem;

std::vector<TSiteFile> VekSiteFiles(const fs::path& Src, const fs::path& Out) {
  std::vector<TSiteFile> items;
  std::error_code ec;
  fs::recursive_directory_iterator it(Src, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string leaf = it->path().filename().string();
    const bool dir = it->is_directory(ec);
    if (VekPrivateName(leaf) || (dir && !Out.empty() && it->path() == Out)) {
      if (dir) it.disable_recursion_pending();
      continue;
    }
    if (dir) continue;
    const std::string name = it->path().lexically_relative(Src).generic_string();
    if (name == kSiteConfigName) continue;
    items.push_back({name, VekSitePageName(name)});
  }
  std::sort(items.begin(), items.end(),
            [](const TSiteFile& A, const TSiteFile& B) { return A.Name < B.Name; });
  return items;
}
