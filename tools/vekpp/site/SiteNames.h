// Which names of a site are published: the one private-name rule that build
// and serve both follow, and a request path checked against it.
#pragma once

#include <string>

/// True for a name that is never served nor copied into a built site, nor
/// anything below it: one that begins with "_" (partials, layouts, data,
/// the 404 page) or "." (hidden files), or is empty.
bool VekPrivateName(const std::string& Part);

/// What a decoded request path ("/docs/a.html") names inside the site.
enum class TSiteNameAnswer {
  Public,   ///< Name holds the path's parts joined by "/" ("" for the root)
  Parent,   ///< a part is ".." (403)
  Private,  ///< a part is private (404)
};

/// Checks Path part by part before the file system is asked anything:
/// empty parts and "." drop out (so "//docs" and "/./docs" name "docs"),
/// ".." is refused, and so is a private part. Linear in Path.
TSiteNameAnswer VekSiteName(const std::string& Path, std::string& Name);
