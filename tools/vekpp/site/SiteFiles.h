// The files of a site as build and check see them: pages to render and
// files to copy, private names and the output folder left out.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

/// A file of the site: a page to render, or a file to copy.
struct TSiteFile {
  std::string Name;  ///< relative to the site, "/" separators
  bool Page = false;
};

/// The files under Src sorted by name: private names (VekPrivateName) and
/// what lies below such a directory left out, and so are vekpp.toml and the
/// folder Out (empty for none) when it lies inside. Directory links are not
/// followed. Never throws: a directory that cannot be read ends the walk.
std::vector<TSiteFile> VekSiteFiles(const std::filesystem::path& Src,
                                    const std::filesystem::path& Out);
