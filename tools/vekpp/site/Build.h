// vekpp build's work: a site rendered into a folder once.
#pragma once

#include <string>

#include "VekStdTags.h"

class TBuildGraph;

/// What one build reads and writes.
struct TSiteBuild {
  std::string Src;
  std::string Out;
  bool OutFromConfig = false;  ///< Out is the output of SRC/vekpp.toml: it may lie inside SRC
  std::string Data;            ///< data file; "" for SRC/_data.json (or .yaml, .yml, .toml), if any
  unsigned Jobs = 0;           ///< pages rendered at once; 0: one per core
  bool Drafts = false;         ///< build and list pages with draft: true
  bool Future = false;         ///< build and list pages dated in the future
  bool UglyUrls = false;       ///< posts/x.md -> posts/x.html (else posts/x/index.html)
  /// What the previous build of the same site with the same options kept
  /// (BuildGraph.h): only the pages a change affects are rendered again,
  /// and only changed files copied. Null for a full build. Not owned.
  TBuildGraph* Graph = nullptr;
  /// The build keeps its graph in OUT/.vekpp-build (BuildState.h), and a
  /// build without Graph starts from the one found there: a second build
  /// of an unchanged site renders nothing. A state written by another
  /// version or for other options, or that cannot be read, is not used.
  bool KeepState = true;
  /// With KeepState, the state is written at the end of the build (else
  /// only removed: VekWriteBuildState writes it later).
  bool SaveState = true;
  /// The state found in OUT is not used: every page is rendered (and the
  /// state written anew when KeepState).
  bool Full = false;
  /// No progress line on a terminal, and no summary line when nothing failed.
  bool Quiet = false;
  std::string Now;  ///< the build's time, "YYYY-MM-DDTHH:MM:SSZ"; "" for the clock's
};

/// Renders every page (*.html, and *.md through a layout) of Options.Src
/// into Options.Out (or the output folder of SRC/vekpp.toml when Out is
/// empty), each page x at x/index.html unless UglyUrls, with TagOptions; its
/// other files are copied. Private names (VekPrivateName), vekpp.toml and
/// the output folder are left out, and so are drafts and pages dated in the
/// future unless Drafts or Future. With KeepState (and not Full), only
/// what changed since the state in Out was written is rendered (a line
/// says why when there is no state to use). Failures are listed on standard
/// error, each with its path, and a summary line after them. Returns the
/// exit status: 0, 1 when a page or file failed, 2 when the build could
/// not start (the site, its data or the output folder).
int VekBuildSite(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options);

/// Writes the state of Graph, the graph of the last build of Options
/// (which named Out), into Out/.vekpp-build under the key that build ran
/// with: for a watch, which writes it once it stops instead of after every
/// build. A failure is told on standard error; nothing is thrown.
void VekWriteBuildState(const TSiteBuild& Options, const TBuildGraph& Graph);
