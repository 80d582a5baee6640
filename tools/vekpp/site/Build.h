// vekpp build's work: a site rendered into a folder once.
#pragma once

#include <string>

#include "VekStdTags.h"

/// What one build reads and writes.
struct TSiteBuild {
  std::string Src;
  std::string Out;
  std::string Data;   ///< data file; "" for SRC/_data.json (or .yaml, .yml, .toml), if any
  unsigned Jobs = 0;  ///< pages rendered at once; 0: one per core
};

/// Renders every page (*.html) of Options.Src into Options.Out, with
/// TagOptions, and copies its other files; private names (VekPrivateName)
/// and the output folder are left out. Failures are listed on standard
/// error, each with its path, and a summary line after them. Returns the
/// exit status: 0, 1 when a page or file failed, 2 when the build could
/// not start (the site, its data or the output folder).
int VekBuildSite(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options);
