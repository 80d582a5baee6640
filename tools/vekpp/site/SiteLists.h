// The site's lists made from its pages read (site.pages, site.sections,
// site.tags), the tag pages and the further pages of paginated pages, with
// where each page's entries went. Internal to the site's model
// (site/SitePages.cpp).
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "VekStdTags.h"
#include "site/PageRead.h"
#include "site/SitePages.h"

/// The owner of an entry of the site's own lists (site.pages, sections, tags).
constexpr std::size_t kSiteListsOwner = ~std::size_t{0};

/// Where each page's list entries are in a read's data: what a later read
/// rewrites in place when a page changed but not its place in the lists.
struct TListRefs {
  struct TRef {
    TVekData* Entry;
    // The page holding it (Pages, then Generated); kSiteListsOwner for the
    // site's lists.
    size_t Owner;
  };
  std::vector<std::vector<TRef>> OfPage;  // by page
  // The page of each entry of site.pages, a section or a tag.
  std::unordered_map<const TVekData*, size_t> PageOfEntry;
  void Add(size_t Page, TVekData* Entry, size_t Owner) { OfPage[Page].push_back({Entry, Owner}); }
};

/// The listed pages: published pages other than index pages, newest first
/// (pages without a date last, by path).
std::vector<size_t> VekListOrder(const TSitePages& Site, const std::vector<TPageRead>& Reads);

/// A page's entry in the lists: all but the content, since a list of ten
/// thousand pages would otherwise hold each page's HTML once per list it is in.
TVekData VekListEntry(const TVekData& Page);

/// A page's tags with the URLs of their pages (when the site has
/// _tag.html): page.tag_links.
void VekAddTagLinks(TVekData& Page, bool TagPages);

/// site.pages, site.sections and site.tags in Order; Refs (may be null)
/// learns where each page's entries are.
void VekMakeLists(const std::vector<TPageRead>& Reads, const std::vector<size_t>& Order,
                  TVekData& SiteObject, TListRefs* Refs);

/// A page whose front matter says paginate: N (or true, for vekpp.toml's
/// size) over site.pages, or over the section named by list: it gets pager
/// (number, count, prev, next, first, last: URLs, "" where none; pages: the
/// entries of this page), and one more page per further N entries, at
/// FOLDER/page/K/. P is page Index of Count; Refs (may be null) learns where
/// the entries went.
void VekPaginate(TSitePage& P, TVekData& Data, const TVekData& Site, const TSitePagesOptions& O,
                 std::vector<TSitePage>& Generated, size_t Index, size_t Count, TListRefs* Refs);

/// A page per tag of SiteObject's tags, from _tag.html when TagPages
/// (page.tag, page.pages, page.url), into Generated (after Count pages); and
/// site.tag_list. Refs (may be null) learns where each page's entries went.
/// Shared: each tag page's list stays in SiteObject (TSitePage::Listed), which
/// must then become the globals' site as it is.
void VekMakeTagPages(TVekData& SiteObject, bool TagPages, const TSitePagesOptions& O,
                     std::vector<TSitePage>& Generated, size_t Count, TListRefs* Refs, bool Shared);
