// One page of the site read: its front matter, its Markdown, its place in
// the output and the template made for it. Internal to the site's model
// (site/SitePages.cpp).
#pragma once

#include <string>

#include "VekStdTags.h"
#include "site/SitePages.h"

/// A page as read, before the site's lists are made.
struct TPageRead {
  TVekData Page;         ///< page's object: title, date, url, tags, params ...
  std::string SortDate;  ///< the date as it sorts ("YYYY-MM-DDTHH:MM:SS"), "" for none
  bool Listed = false;   ///< in site.pages: not an index, list or .xml page
  bool Draft = false;
};

/// A page as read, kept with the stamp of its file when it was read
/// (TSiteReadCache, and the build's state file).
struct TSiteReadCache::TEntry {
  TVekFileStamp Stamp;
  TPageRead Read;
  std::string Output, Text;
  bool Markdown = false;
  /// In an Encoded cache: Read as the state file holds it, until the page's
  /// Data is made (Read then keeps its SortDate, Listed and Draft only).
  std::string Bytes;
  /// In an Encoded cache, the page's data once made: its page's members up
  /// to params are the read's page (what VekReadPage makes; the members
  /// after it are added by the lists and the data file).
  std::shared_ptr<const TVekData> Data;
};

/// Reads the page P.Source of Root (front matter, Markdown) and sets
/// P.Output, P.Markdown and P.Text. Throws std::runtime_error naming the page
/// for what its file or front matter cannot hold (too large, a bad date,
/// draft or tags, a layout outside _layouts/ or missing), and what
/// Root.Locate, Root.Read and the Markdown reader throw.
TPageRead VekReadPage(const TVekTemplateRoot& Root, TSitePage& P, const TSitePagesOptions& O);

/// The template made for the Markdown page Source read as Read (its layout
/// extended, page.content and the blocks its front matter sets placed in
/// it), as VekReadPage makes it; "" when Read's layout is not a name inside
/// _layouts/ (a page read by this build never has such a layout).
std::string VekMarkdownPageText(const std::string& Source, const TPageRead& Read,
                                const TSitePagesOptions& O);

/// Whether a page read is built and listed at the build's time (O.Now):
/// not a draft nor dated later, unless O allows it.
bool VekPagePublished(const TPageRead& R, const TSitePagesOptions& O);

/// What reading a page depends on besides its file: the settings, and
/// which layouts exist (a section's own layout, a named layout's existence).
std::string VekPageReadContext(const TVekTemplateRoot& Root, const TSitePagesOptions& O);
