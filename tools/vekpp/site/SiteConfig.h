// A site's settings: SRC/vekpp.toml, with the command line's on top.
#pragma once

#include <string>

#include "VekStdTags.h"
#include "site/Markdown.h"

/// What vekpp.toml may set; templates see the whole file as site.config.
struct TSiteConfig {
  std::string Title;
  std::string BaseUrl;               ///< base_url, without its trailing "/"
  std::string Layout = "page.html";  ///< default layout of Markdown pages, in _layouts/
  std::string Output;                ///< output folder, relative to the site ("" for none)
  long long Paginate = 10;           ///< list entries per page of a paginated page
  TMarkdownOptions Markdown;         ///< [markdown] unsafe = true|false
  TVekData Data = TVekData::object();
};

/// The name of the settings file at a site's root; never built nor served.
constexpr const char* kSiteConfigName = "vekpp.toml";

/// Reads Dir/vekpp.toml (defaults when there is none) with the data files'
/// TOML reader and limits. Throws std::runtime_error naming the file and,
/// where known, the line for a file that does not parse or a key of the
/// wrong type.
TSiteConfig VekReadSiteConfig(const std::string& Dir);
