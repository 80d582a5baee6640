// vekpp.toml read into the settings a build uses, each checked for its type.
#include "site/SiteConfig.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "data/DataFiles.h"

namespace fs = std::filesystem;

TSiteConfig VekReadSiteConfig(const std::string& Dir) {
  TSiteConfig c;
  const fs::path path = fs::path(Dir) / kSiteConfigName;
  std::error_code ec;
  if (!fs::exists(path, ec)) return c;
  const std::string name = path.string();
  if (fs::file_size(path, ec) > kMaxDataFileBytes)
    throw std::runtime_error(name + ": larger than a data file may be");
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in) throw std::runtime_error(name + ": cannot be read");
  c.Data = ParseDataText(text.str(), name, ".toml");
  const auto text_of = [&](const char* Key, std::string& Out) {
    const auto it = c.Data.find(Key);
    if (it == c.Data.end()) return;
    if (!it->is_string()) throw std::runtime_error(name + ": " + Key + " must be a string");
    Out = it->get<std::string>();
  };
  text_of("title", c.Title);
  text_of("base_url", c.BaseUrl);
  while (!c.BaseUrl.empty() && c.BaseUrl.back() == '/') c.BaseUrl.pop_back();
  text_of("layout", c.Layout);
  text_of("output", c.Output);
  if (const auto it = c.Data.find("paginate"); it != c.Data.end()) {
    if (!it->is_number_integer() || it->get<long long>() < 1)
      throw std::runtime_error(name + ": paginate must be a whole number of 1 or more");
    c.Paginate = it->get<long long>();
  }
  if (const auto md = c.Data.find("markdown"); md != c.Data.end() && md->is_object()) {
    if (const auto it = md->find("unsafe"); it != md->end()) {
      if (!it->is_boolean())
        throw std::runtime_error(name + ": markdown.unsafe must be true or false");
      c.Markdown.Unsafe = it->get<bool>();
    }
  }
  return c;
}
