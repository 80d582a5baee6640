// vekpp check of a site: every page checked as build renders it (front
// matter, Markdown, layouts, the site's data with page and site), and a
// fault of a layout or include that pages share told once, with the count
// of the pages that meet it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "VekStdTags.h"

/// One finding of a site's check.
struct TSiteFinding {
  std::string File;  ///< relative to the site root ("_layouts/base.html")
  int Line = 0;      ///< from 1; 0 when the finding has no place in the file
  int Column = 0;
  std::string Message;
  bool Warning = false;  ///< what a render does not refuse
  /// The pages whose check met it: one for a page's own finding, and for a
  /// shared file's as many as include or extend it on the way to the fault.
  size_t Pages = 0;
  std::string Page;  ///< the first page that met it (relative to the site)
};

/// What a check of a site found.
struct TSiteCheck {
  std::vector<TSiteFinding> Findings;  ///< sorted by file, line and column
  size_t Pages = 0;                    ///< the pages checked
  /// Findings met once kMaxSiteFindings were kept, not listed (one met on
  /// several pages counts once per page).
  size_t More = 0;
  /// The text of each file a finding stands in, that its lines and columns
  /// count in; "" where there is no line to show (a Markdown page's
  /// findings stand in the template made for it, a file that cannot be read).
  std::map<std::string, std::string> Texts;
};

/// The most findings one check of a site keeps and lists (those met first,
/// page by page in name order); the rest are counted.
constexpr size_t kMaxSiteFindings = 1000;

/// The findings of the template Text named Name in Root (VekCheckTemplate,
/// and with Data VekCheckDataNames: a missing name a warning, an error
/// under Options.Strict), sorted by file and place. A finding whose message
/// places it in another template (a fault of an include or a layout,
/// however deep, or a name used there) stands in that template, and each
/// further fault of a template listed in one message is a finding of its
/// own. Throws EVekTemplateError for a text of 2 GiB or more.
std::vector<TSiteFinding> VekCheckPage(const TVekTemplateRoot& Root, const std::string& Name,
                                       const std::string& Text, const TVekData* Data,
                                       const TVekStdTagsOptions& Options);

/// Checks the pages of the site Root (its *.html, *.md and *.xml pages,
/// drafts and future pages too, _tag.html once when the site has tags,
/// _404.html when there is one), or only the page Only ("" for all), each
/// with VekCheckTemplate and with VekCheckDataNames against the site's Data
/// as build gives it (page, pager, site and Data's members): a missing name
/// is a warning, an error under Options.Strict (a strict render refuses
/// it). The output folder of vekpp.toml is left out, as build leaves it
/// out; Pages is 0 when Only names no page of the site. Jobs threads read
/// the pages (0: one per core). Throws std::runtime_error for a vekpp.toml
/// that cannot be read.
TSiteCheck VekCheckSite(const TVekTemplateRoot& Root, const TVekData& Data,
                        const TVekStdTagsOptions& Options, const std::string& Only = "",
                        unsigned Jobs = 0);
