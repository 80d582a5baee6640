// The pages of a site as one model, read before any is rendered: each
// page's front matter and Markdown, its place in the output (pretty URLs),
// and the site's lists of pages (site.pages, site.sections, site.tags)
// that every template sees.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "VekStdTags.h"
#include "site/SiteConfig.h"

/// How the pages of a build are chosen and placed.
struct TSitePagesOptions {
  bool Drafts = false;    ///< pages with draft: true are built and listed
  bool Future = false;    ///< pages dated after the build's time likewise
  bool UglyUrls = false;  ///< posts/x.md -> posts/x.html instead of posts/x/index.html
  TSiteConfig Config;
  AnsiString TagBeg = "<#", TagEnd = "#>";  ///< of the templates made for pages
  std::string Now;  ///< the build's time, "YYYY-MM-DDTHH:MM:SSZ"; "" for the clock's
  /// Tag pages' page.pages made only while each renders (TSitePage::Listed),
  /// so that their entries are held once, in site.tags, not once more per
  /// tag page. Only for rendering: ignored by a read with a cache that is
  /// not Encoded.
  bool ShareLists = false;
};

/// One page of the site.
struct TSitePage {
  std::string Source;  ///< relative to the site: "posts/x.md"
  std::string Output;  ///< relative to the output folder: "posts/x/index.html"
  bool Markdown = false;
  bool Published = true;  ///< not a draft nor in the future (or allowed by the options)
  /// The template text to render in place of the file itself ("" for the
  /// file): made for Markdown pages and pages with front matter.
  std::string Text;
  std::shared_ptr<const TVekData> Data;  ///< {"page": the page's object}
  /// VekHashData of Data, made by a read with a cache (0: not made): what
  /// decides whether a kept output is still the page's.
  uint64_t DataHash = 0;
  /// A tag page's list (in the globals) that VekRenderSitePage puts in its
  /// page.pages, null in Data (TSitePagesOptions::ShareLists); else null.
  const TVekData* Listed = nullptr;
  std::string Error;  ///< why the page cannot be built, with its place
  std::exception_ptr
      Fault;  ///< what reading it threw (EVekPathError ...), when that was the reason
};

/// Where a page's output goes and its URL: "x/index.html" and "/x/" for a
/// page x.md or x.html (pretty), "x.html" and "/x.html" with UglyUrls; an
/// index page stays "index.html" with the URL of its folder.
void VekPageOutput(const std::string& Source, bool UglyUrls, std::string& Output, std::string& Url);

/// True for the names of pages: .html, .md and .xml files.
bool VekSitePageName(const std::string& Name);

/// Every page (.html, .md and .xml) of Names, relative to Root, read with
/// Jobs threads (0: one per core); SiteData is the site's data file. Pages
/// that fail keep their Error. Generated holds the pages made by the build:
/// one per tag from _tag.html, and the second and later pages of paginated
/// pages. Globals holds the data members and "site".
struct TSitePages {
  std::vector<TSitePage> Pages;      ///< one per name, in the order of Names
  std::vector<TSitePage> Generated;  ///< tag pages and further pages of lists
  std::shared_ptr<const TVekData> Globals;
};
struct TSiteReadCache;
TSitePages VekReadSitePages(const TVekTemplateRoot& Root, const std::vector<std::string>& Names,
                            const TVekData& SiteData, const TSitePagesOptions& Options,
                            unsigned Jobs, TSiteReadCache* Cache = nullptr);

/// Sets Stamp to that of the regular file Path and returns true; false for
/// a link (not followed), anything else, or nothing there.
bool VekPlainFileStamp(const std::filesystem::path& Path, TVekFileStamp& Stamp);

/// What reading a site's pages keeps for the next read of the same site
/// (vekpp build --watch, vekpp serve): each page's front matter, Markdown and
/// place, by the stamp of its file (device, inode, size, modification time).
/// A page whose file has the same stamp is not read again, as long as what
/// else its reading depends on is the same (vekpp.toml, the options, the
/// files of _layouts/); else everything is read again. Failed pages are
/// never kept. When the same pages are read again and those whose files
/// changed keep their place in the site's lists, the last read's data is
/// updated in place (only the changed pages' entries rewritten) instead of
/// made anew, as long as no one else holds it. Use from one read at a time.
struct TSiteReadCache {
  struct TEntry;
  struct TLast;
  std::string Context;  ///< what reading depended on besides the files
  std::unordered_map<std::string, std::shared_ptr<const TEntry>> Pages;  ///< by source name
  size_t Hits = 0;  ///< pages of the last read taken from here
  /// Pages are kept as the state file's bytes (TEntry::Bytes, Markdown
  /// pages only), not as data, and no last read is kept: for a build that
  /// reads once and keeps its reading only for the state file.
  bool Encoded = false;
  std::shared_ptr<TLast> Last;  ///< the last read's result, null when it cannot be updated
};

/// Renders Page with Options (whose Globals are set to Site's). Throws as
/// VekRenderPage does; for a page with an Error, what reading it threw
/// (EVekPathError for a page that leaves the root), else std::runtime_error.
std::string VekRenderSitePage(const TVekTemplateRoot& Root, const TSitePages& Site,
                              const TSitePage& Page, TVekStdTagsOptions Options);
