// The site's pages read in parallel (front matter, Markdown), then its lists
// made once, sorted newest first; and a page rendered with them.
#include "site/SitePages.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "site/BuildGraph.h"
#include "site/BuildState.h"
#include "site/PageRead.h"
#include "site/SiteLists.h"

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

std::string NowUtc() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

}  // namespace

namespace {

using TEntryPtr = std::shared_ptr<const TSiteReadCache::TEntry>;

}  // namespace

// What the last read made, kept to be updated in place by the next when
// only pages' contents changed (not which pages there are, nor their place
// in the lists).
struct TSiteReadCache::TLast {
  std::vector<std::string> Names;
  TVekData SiteData;
  bool TagPages = false, Drafts = false, Future = false;
  std::vector<TEntryPtr> Entries;  // by page
  TSitePages Site;                 // sharing its data with the pages handed out
  TListRefs Refs;
};

namespace {

// Reads the page P, or takes it from Cache when its file's stamp is the one
// kept (Reused set); a page read is kept there (its stamp taken before it is
// read, so that a change while it is read is seen next time). Without a
// cache, or with an Encoded one, the read is handed out in Read; with
// another cache it stays in the entry.
TEntryPtr ReadOrReuse(const TVekTemplateRoot& Root, TSitePage& P, const TSitePagesOptions& O,
                      const TSiteReadCache* Cache, char& Reused, TPageRead& Read) {
  if (!Cache) {
    Read = VekReadPage(Root, P, O);
    return std::make_shared<TSiteReadCache::TEntry>();
  }
  const auto it = Cache->Pages.find(P.Source);
  // A kept page's file, found again as the same regular file (not a link)
  // of the same stamp, is the file the kept page was read (and located)
  // from: the names come from a walk that follows no folder link.
  TVekFileStamp stamp;
  if (it != Cache->Pages.end() && VekPlainFileStamp(Root.Dir() / P.Source, stamp) &&
      it->second->Stamp == stamp) {
    const TSiteReadCache::TEntry& e = *it->second;
    if (!Cache->Encoded) {
      P.Output = e.Output;
      P.Text = e.Text;
      P.Markdown = e.Markdown;
      Reused = 1;
      return it->second;
    }
    // A Markdown page's bytes, and its template made again from them; a
    // kept read that cannot be used is read again from its file.
    try {
      if (e.Markdown) {
        Read = VekPageReadFromBytes(e.Bytes);
        std::string text = VekMarkdownPageText(P.Source, Read, O);
        if (!text.empty()) {
          P.Output = e.Output;
          P.Text = std::move(text);
          P.Markdown = true;
          Reused = 1;
          return it->second;
        }
      }
    } catch (const std::exception&) {
    }
  }
  auto entry = std::make_shared<TSiteReadCache::TEntry>();
  entry->Stamp = Root.Stamp(Root.Locate("", P.Source));
  // A file modified in the last second may change again with the same size
  // and time (the file system's clock ticks coarser than its times read):
  // its stamp is not trusted, and the page is read again next time.
  const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  if (entry->Stamp.ModifiedNs >= now - 1000000000LL) entry->Stamp = kUntrustedStamp;
  Read = VekReadPage(Root, P, O);
  entry->Output = P.Output;
  entry->Text = P.Text;
  entry->Markdown = P.Markdown;
  if (!Cache->Encoded) entry->Read = std::move(Read);
  return entry;
}

// Fill's members added to Into where it has none of that name: the data's
// site keeps its own members (site.name) and gets the build's; a page keeps
// the build's and gets those of the data's page. Into null takes Fill
// whole; Into of another kind than an object stays as it is.
void AddUnder(TVekData& Into, TVekData Fill) {
  if (Into.is_null()) {
    Into = std::move(Fill);
    return;
  }
  if (!Into.is_object() || !Fill.is_object()) return;
  for (auto it = Fill.begin(); it != Fill.end(); ++it)
    if (!Into.contains(it.key())) Into[it.key()] = std::move(it.value());
}

// Two pages written to one place (x.md beside x.html, x.html beside
// x/index.html, two tags of one folder name): the second is a fault, never
// a silent overwrite.
void CheckOutputs(TSitePages& Site) {
  std::unordered_map<std::string, std::string> writers;
  for (auto* list : {&Site.Pages, &Site.Generated}) {
    for (TSitePage& p : *list) {
      if (!p.Error.empty() || !p.Published) continue;
      const auto placed = writers.emplace(p.Output, p.Source);
      if (!placed.second) {
        p.Error = p.Source + ": its page " + p.Output + " is written by " + placed.first->second +
                  " already";
      }
    }
  }
}

}  // namespace

bool VekPlainFileStamp(const fs::path& Path, TVekFileStamp& Stamp) {
  struct stat st {};
  if (lstat(Path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  Stamp.Device = static_cast<unsigned long long>(st.st_dev);
  Stamp.Inode = static_cast<unsigned long long>(st.st_ino);
  Stamp.Size = static_cast<unsigned long long>(st.st_size);
  Stamp.ModifiedNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

bool VekSitePageName(const std::string& Name) {
  return EndsWith(Name, ".html") || EndsWith(Name, ".md") || EndsWith(Name, ".xml");
}

void VekPageOutput(const std::string& Source, bool UglyUrls, std::string& Output,
                   std::string& Url) {
  const size_t dot = Source.rfind('.');
  const std::string base = Source.substr(0, dot);
  const size_t slash = base.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : base.substr(0, slash + 1);
  if (base.substr(dir.size()) == "index") {
    Output = dir + "index.html";
    Url = "/" + dir;
  } else if (UglyUrls) {
    Output = base + ".html";
    Url = "/" + Output;
  } else {
    Output = base + "/index.html";
    Url = "/" + base + "/";
  }
}

namespace {

// Reads every page of Names into Site.Pages and Entries on Jobs threads
// (from Cache where kept: Reused), and into Reads without a cache or with
// an Encoded one; a page that fails keeps its Error and has no entry. Cache then holds the pages of
// this read only: a removed page is forgotten.
void ReadAll(const TVekTemplateRoot& Root, const std::vector<std::string>& Names,
             const TSitePagesOptions& O, unsigned Jobs, TSiteReadCache* Cache, TSitePages& Site,
             std::vector<TEntryPtr>& Entries, std::vector<char>& Reused,
             std::vector<TPageRead>& Reads) {
  if (Cache) {
    std::string context = VekPageReadContext(Root, O);
    if (context != Cache->Context) {
      Cache->Pages.clear();
      Cache->Last.reset();
    }
    Cache->Context = std::move(context);
  }
  Site.Pages.resize(Names.size());
  Entries.assign(Names.size(), nullptr);
  Reused.assign(Names.size(), 0);
  Reads.clear();
  Reads.resize(Names.size());
  const bool handedOut = !Cache || Cache->Encoded;
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next++) < Names.size();) {
      TSitePage& p = Site.Pages[i];
      p.Source = Names[i];
      try {
        Entries[i] = ReadOrReuse(Root, p, O, Cache, Reused[i], Reads[i]);
        p.Published = VekPagePublished(handedOut ? Reads[i] : Entries[i]->Read, O);
      } catch (const std::exception& e) {
        Entries[i] = nullptr;
        p.Error = e.what();
        p.Fault = std::current_exception();
      }
    }
  };
  const unsigned jobs = Jobs ? Jobs : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs && t < Names.size(); ++t) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();
  if (!Cache) return;
  const size_t before = Cache->Pages.size();
  Cache->Pages.clear();
  Cache->Hits = 0;
  Cache->Pages.reserve(before);
  for (size_t i = 0; i < Names.size(); ++i) {
    if (!Entries[i]) continue;
    Cache->Pages.emplace(Names[i], Entries[i]);
    Cache->Hits += Reused[i];
  }
}

// A page's data: {"page": Page, with the data file's page members it lacks}.
std::shared_ptr<TVekData> PageData(TVekData Page, const TVekData& SiteData) {
  auto data = std::make_shared<TVekData>(TVekData::object());
  (*data)["page"] = std::move(Page);
  if (const auto own = SiteData.find("page"); SiteData.is_object() && own != SiteData.end())
    AddUnder((*data)["page"], *own);
  return data;
}

// Each page's data, and the further pages of paginated pages.
void MakePageData(std::vector<TPageRead>& Reads, const TVekData& SiteData,
                  const TSitePagesOptions& O, TSitePages& Site, TListRefs* Refs) {
  const TVekData& siteData = (*Site.Globals)["site"];
  for (size_t i = 0; i < Reads.size(); ++i) {
    TSitePage& p = Site.Pages[i];
    auto data = PageData(std::move(Reads[i].Page), SiteData);
    if (p.Error.empty() && p.Published) {
      try {
        VekPaginate(p, *data, siteData, O, Site.Generated, i, Reads.size(), Refs);
      } catch (const std::exception& e) {
        p.Error = e.what();
      }
    }
    p.Data = std::move(data);
  }
}

// Sets the DataHash of every page that has none: of the data it renders
// with (a tag page's list, when shared, in its page.pages).
void HashData(TSitePages& Site) {
  for (auto* list : {&Site.Pages, &Site.Generated})
    for (TSitePage& p : *list)
      if (p.Data && !p.DataHash) p.DataHash = VekHashPageData(*p.Data, p.Listed);
}

// The globals of a read: the data file's members, and "site".
std::shared_ptr<const TVekData> MakeGlobals(const TVekData& SiteData, TVekData SiteObject) {
  auto globals = std::make_shared<TVekData>(SiteData.is_object() ? SiteData : TVekData::object());
  AddUnder((*globals)["site"], std::move(SiteObject));
  return globals;
}

// Whether the changes since Last can be made to it in place: the same pages
// under the same options and data file, none failed, each changed page with
// the same place (published, output, listed, date, section, tags, not
// paginated), and nothing else holding Last's data. Changed gets the pages
// read again.
bool InPlace(const TSiteReadCache::TLast& Last, const std::vector<std::string>& Names,
             const TVekData& SiteData, const TSitePagesOptions& O, bool TagPages,
             const TSitePages& Site, const std::vector<TEntryPtr>& Entries,
             std::vector<size_t>& Changed) {
  if (Last.Names != Names || Last.TagPages != TagPages || Last.Drafts != O.Drafts ||
      Last.Future != O.Future || Last.Site.Globals.use_count() != 1 || Last.SiteData != SiteData)
    return false;
  for (const auto* list : {&Last.Site.Pages, &Last.Site.Generated})
    for (const TSitePage& p : *list)
      if (!p.Error.empty() || p.Data.use_count() != 1) return false;
  const auto paginated = [](const TPageRead& R) {
    return R.Page.at("params").is_object() && R.Page.at("params").contains("paginate");
  };
  for (size_t i = 0; i < Names.size(); ++i) {
    const TSitePage &now = Site.Pages[i], &was = Last.Site.Pages[i];
    if (!now.Error.empty() || now.Published != was.Published) return false;
    if (Entries[i] == Last.Entries[i]) continue;
    const TPageRead &a = Last.Entries[i]->Read, &b = Entries[i]->Read;
    if (now.Output != was.Output || a.Listed != b.Listed || a.SortDate != b.SortDate ||
        a.Page.at("section") != b.Page.at("section") || a.Page.at("tags") != b.Page.at("tags") ||
        paginated(a) || paginated(b))
      return false;
    Changed.push_back(i);
  }
  return true;
}

// The read made by updating Cache's last read in place (see InPlace); false
// when it cannot be, leaving Site as ReadAll made it.
bool UpdateInPlace(TSiteReadCache& Cache, const std::vector<std::string>& Names,
                   const TVekData& SiteData, const TSitePagesOptions& O, bool TagPages,
                   TSitePages& Site, const std::vector<TEntryPtr>& Entries) {
  if (!Cache.Last) return false;
  TSiteReadCache::TLast& last = *Cache.Last;
  std::vector<size_t> changed;
  if (!InPlace(last, Names, SiteData, O, TagPages, Site, Entries, changed)) return false;
  // Last's data is held by it alone (InPlace): it may change. Its globals
  // hold the build's site object (a data file's own "site" keeps no Last).
  auto& globals = const_cast<TVekData&>(*last.Site.Globals);
  globals["site"]["time"] = O.Now;
  std::vector<char> dirty(Names.size() + last.Site.Generated.size(), 0);
  for (const size_t i : changed) {
    TVekData page = Entries[i]->Read.Page;
    VekAddTagLinks(page, TagPages);
    TVekData entry = VekListEntry(page);
    const auto& refs = last.Refs.OfPage[i];
    if (!refs.empty() && *refs.front().Entry != entry) {
      for (const auto& ref : refs) {
        *ref.Entry = entry;
        if (ref.Owner != kSiteListsOwner) dirty[ref.Owner] = 1;
      }
    }
    TSitePage& p = Site.Pages[i];
    p.Data = PageData(std::move(page), SiteData);
    last.Site.Pages[i] = std::move(p);
  }
  for (size_t k = 0; k < dirty.size(); ++k) {
    if (!dirty[k]) continue;
    (k < Names.size() ? last.Site.Pages[k] : last.Site.Generated[k - Names.size()]).DataHash = 0;
  }
  HashData(last.Site);
  last.Entries = Entries;
  Site = last.Site;
  return true;
}

}  // namespace

TSitePages VekReadSitePages(const TVekTemplateRoot& Root, const std::vector<std::string>& Names,
                            const TVekData& SiteData, const TSitePagesOptions& Options,
                            unsigned Jobs, TSiteReadCache* Cache) {
  TSitePagesOptions o = Options;
  if (o.Now.empty()) o.Now = NowUtc();
  TSitePages site;
  std::vector<TEntryPtr> entries;
  std::vector<char> reused;
  std::vector<TPageRead> reads;
  ReadAll(Root, Names, o, Jobs, Cache, site, entries, reused, reads);
  std::error_code ec;
  const bool tagPages = fs::is_regular_file(Root.Dir() / "_tag.html", ec);
  // An encoded cache is kept for the state file only: no later read of
  // this process updates its lists.
  const bool keepLast = Cache && !Cache->Encoded;
  if (keepLast && UpdateInPlace(*Cache, Names, SiteData, o, tagPages, site, entries)) return site;
  if (keepLast)
    for (size_t i = 0; i < Names.size(); ++i)
      if (entries[i]) reads[i] = entries[i]->Read;
  CheckOutputs(site);
  const std::vector<size_t> order = VekListOrder(site, reads);
  TVekData siteObject = TVekData::object();
  siteObject["title"] = o.Config.Title;
  siteObject["base_url"] = o.Config.BaseUrl;
  siteObject["time"] = o.Now;
  siteObject["config"] = o.Config.Data;
  for (TPageRead& r : reads) VekAddTagLinks(r.Page, tagPages);
  // Where the entries go is kept for the next read, unless the data file
  // has a site of its own (whose lists would stand in for the build's).
  auto last = keepLast && !(SiteData.is_object() && SiteData.contains("site"))
                  ? std::make_shared<TSiteReadCache::TLast>()
                  : nullptr;
  TListRefs* refs = last ? &last->Refs : nullptr;
  if (refs) refs->OfPage.resize(Names.size());
  VekMakeLists(reads, order, siteObject, refs);
  // The tag pages' lists are left in site.tags only where site.tags is the
  // build's own.
  const bool shared =
      o.ShareLists && !keepLast && !(SiteData.is_object() && SiteData.contains("site"));
  VekMakeTagPages(siteObject, tagPages, o, site.Generated, Names.size(), refs, shared);
  site.Globals = MakeGlobals(SiteData, std::move(siteObject));
  MakePageData(reads, SiteData, o, site, refs);
  CheckOutputs(site);
  if (Cache && Cache->Encoded) {
    // Each kept Markdown page's read is its data from here on (the state
    // file writes it from there), not a second copy of it. The entries
    // are this read's own or its cache's, which only it uses.
    for (size_t i = 0; i < Names.size(); ++i) {
      if (!entries[i] || !site.Pages[i].Markdown) continue;
      auto& e = const_cast<TSiteReadCache::TEntry&>(*entries[i]);
      e.Data = site.Pages[i].Data;
      e.Read.SortDate = reads[i].SortDate;
      e.Read.Listed = reads[i].Listed;
      e.Read.Draft = reads[i].Draft;
      std::string().swap(e.Bytes);
    }
  }
  if (Cache) {
    HashData(site);
    if (last) {
      last->Names = Names;
      last->SiteData = SiteData;
      last->TagPages = tagPages;
      last->Drafts = o.Drafts;
      last->Future = o.Future;
      last->Entries = std::move(entries);
      last->Site = site;
    }
    Cache->Last = std::move(last);
  }
  return site;
}

std::string VekRenderSitePage(const TVekTemplateRoot& Root, const TSitePages& Site,
                              const TSitePage& Page, TVekStdTagsOptions Options) {
  if (Page.Fault) std::rethrow_exception(Page.Fault);
  if (!Page.Error.empty()) throw std::runtime_error(Page.Error);
  Options.Globals = Site.Globals;
  struct TThreadProducer {
    TComponent Owner{nullptr};  // frees the producer
    TVekPageProducer* Producer = new TVekPageProducer(&Owner);
  };
  thread_local TThreadProducer own;
  std::shared_ptr<const TVekData> data = Page.Data;
  if (Page.Listed) {
    auto full = std::make_shared<TVekData>(*Page.Data);
    (*full)["page"]["pages"] = *Page.Listed;
    data = std::move(full);
  }
  TVekStdTags tags(own.Producer, Root, data, Options);
  if (Page.Text.empty()) {
    const AnsiString text = tags.Load(Page.Source);
    TCustomContentProducer* content = own.Producer;
    return content->ContentFromString(text);
  }
  return tags.RenderText(Page.Text, Page.Source);
}
