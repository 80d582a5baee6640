// The site's pages read in parallel (front matter, Markdown), then its lists
// made once, sorted newest first; and a page rendered with them.
#include "site/SitePages.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "site/FrontMatter.h"
#include "site/Markdown.h"

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

std::string Stem(const std::string& Source) {
  const std::string leaf = fs::path(Source).filename().string();
  return leaf.substr(0, leaf.rfind('.'));
}

// A name that goes into a template made for a page: letters, digits and
// "_" only, so no data can close the tag it stands in.
bool PlainName(const std::string& S) {
  if (S.empty() || S.size() > 64) return false;
  for (const unsigned char c : S)
    if (!std::isalnum(c) && c != '_') return false;
  return true;
}

// A layout named in front matter: a relative name inside _layouts/.
bool LayoutName(const std::string& S) {
  if (S.empty() || S.size() > 200 || S[0] == '/') return false;
  for (const unsigned char c : S)
    if (!std::isalnum(c) && c != '_' && c != '-' && c != '.' && c != '/') return false;
  return S.find("..") == std::string::npos;
}

std::string NowUtc() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

// A front-matter date as it sorts: "YYYY-MM-DD", with "T" between date and
// time. Throws for anything else.
std::string SortableDate(const std::string& Date, const std::string& Name) {
  const auto digits = [&](size_t From, size_t N) {
    for (size_t i = From; i < From + N; ++i)
      if (i >= Date.size() || Date[i] < '0' || Date[i] > '9') return false;
    return true;
  };
  if (!(digits(0, 4) && Date[4] == '-' && digits(5, 2) && Date[7] == '-' && digits(8, 2)))
    throw std::runtime_error(Name + ": date \"" + Date.substr(0, 40) +
                             "\" is not written YYYY-MM-DD (a time may follow)");
  std::string s = Date;
  if (s.size() > 10 && s[10] == ' ') s[10] = 'T';
  return s;
}

struct TRead {
  TVekData Page;
  std::string SortDate;
  bool Listed = false;  // in site.pages: not an index, list or .xml page
  bool Draft = false;
};

// A tag as a folder name: ASCII letters lowered, blanks and "/" made "-";
// letters, digits, "-", "_" and other UTF-8 bytes kept, the rest dropped.
// "" when nothing is left.
std::string TagSlug(const std::string& Tag) {
  std::string s;
  for (const unsigned char c : Tag) {
    if (c >= 'A' && c <= 'Z')
      s += static_cast<char>(c - 'A' + 'a');
    else if (std::isalnum(c) || c == '-' || c == '_' || c >= 128)
      s += static_cast<char>(c);
    else if (c <= 32 || c == '/')
      s += '-';
  }
  return s.size() > 200 ? s.substr(0, 200) : s;
}

// The folder of a page's output, where its further pages go: "posts/" for
// posts/index.html or posts/x/index.html ("posts/x/"), "posts/x/" for the
// ugly posts/x.html.
std::string OutputFolder(const std::string& Output) {
  if (EndsWith(Output, "index.html")) return Output.substr(0, Output.size() - 10);
  return Output.substr(0, Output.size() - 5) + "/";
}

// The template made for a page: its layout extended, the content and the
// blocks its front matter sets placed in the layout's blocks. Values are
// never written into the text; it names where they are.
std::string LayoutText(const std::string& Source, const std::string& Layout, const TVekData& Params,
                       const TSitePagesOptions& O, bool Markdown, const std::string& Body,
                       int FrontLines) {
  const std::string b = O.TagBeg, e = O.TagEnd;
  std::string up;
  for (const char c : Source)
    if (c == '/') up += "../";
  std::string t;
  if (!Layout.empty()) t += b + "extends file=\"" + up + "_layouts/" + Layout + "\"" + e;
  if (Markdown) {
    t += b + "block content" + e + b + "page.content" + e + b + "/block" + e + "\n";
  } else {
    if (!Layout.empty()) t += b + "block content" + e;
    // The front matter's lines kept as a comment, so that the body's lines
    // keep their numbers in messages.
    t += b + "--" + std::string(static_cast<size_t>(FrontLines > 0 ? FrontLines - 1 : 0), '\n') +
         "--" + e + "\n" + Body;
    if (!Layout.empty()) t += b + "/block" + e;
  }
  if (!Layout.empty()) {
    const auto blocks = Params.find("blocks");
    if (blocks != Params.end() && blocks->is_object()) {
      for (auto it = blocks->begin(); it != blocks->end(); ++it) {
        if (!PlainName(it.key()) || it.key() == "content") continue;
        t += b + "block " + it.key() + e + b + "page.params.blocks." + it.key() + e + b + "/block" +
             e;
      }
    }
  }
  return t;
}

TRead ReadPage(const TVekTemplateRoot& Root, TSitePage& P, const TSitePagesOptions& O) {
  const std::string& name = P.Source;
  const TVekTemplateFile file = Root.Locate("", name);
  std::error_code ec;
  const auto size = fs::file_size(file.Path, ec);
  if (!ec && size > kMaxMarkdownBytes) {
    throw std::runtime_error(name + ": " + std::to_string(size) + " bytes: more than the " +
                             std::to_string(kMaxMarkdownBytes >> 20) + " MiB a page may hold");
  }
  const std::string text = Root.Read(file);
  TFrontMatter fm = VekReadFrontMatter(text, name);
  const TVekData& params = fm.Data;
  TRead r;
  TVekData& page = r.Page;
  page = TVekData::object();
  std::string url;
  const bool xml = EndsWith(name, ".xml");
  if (xml) {
    P.Output = name;
    url = "/" + name;
  } else {
    VekPageOutput(name, O.UglyUrls, P.Output, url);
  }
  const auto str = [&](const char* Key) {
    const auto it = params.find(Key);
    return it != params.end() && it->is_string() ? it->get<std::string>() : std::string();
  };
  r.Listed = !xml && Stem(name) != "index" && !params.contains("paginate");
  std::string title = str("title");
  if (title.empty()) title = Stem(name) == "index" ? O.Config.Title : Stem(name);
  page["title"] = title;
  std::string date;
  if (const auto it = params.find("date"); it != params.end() && !it->is_null()) {
    if (!it->is_string()) throw std::runtime_error(name + ": date must be a date");
    date = it->get<std::string>();
    r.SortDate = SortableDate(date, name);
  }
  page["date"] = date;
  page["url"] = url;
  // One value for absolute links: a second value inside a URL attribute is
  // escaped as a component ("/" as %2F).
  page["permalink"] = O.Config.BaseUrl + url;
  page["path"] = name;
  const size_t slash = name.find('/');
  page["section"] = slash == std::string::npos ? std::string() : name.substr(0, slash);
  bool draft = false;
  if (const auto it = params.find("draft"); it != params.end()) {
    if (!it->is_boolean()) throw std::runtime_error(name + ": draft must be true or false");
    draft = it->get<bool>();
  }
  page["draft"] = draft;
  TVekData tags = TVekData::array();
  if (const auto it = params.find("tags"); it != params.end()) {
    if (it->is_string()) tags.push_back(*it);
    for (const auto& t : it->is_array() ? *it : TVekData::array()) {
      if (!t.is_string() || t.get<std::string>().empty())
        throw std::runtime_error(name + ": tags must be a list of names");
      tags.push_back(t);
    }
  }
  page["tags"] = std::move(tags);

  P.Markdown = EndsWith(name, ".md");
  std::string layout = str("layout");
  if (!layout.empty() && !LayoutName(layout))
    throw std::runtime_error(name + ": layout \"" + layout.substr(0, 80) +
                             "\" is not a name inside _layouts/");
  const std::string body = text.substr(fm.BodyOffset);
  if (P.Markdown) {
    const std::string html = VekMarkdownHtml(body, O.Config.Markdown, name);
    const std::string plain = VekHtmlText(html);
    page["words"] = VekWordCount(plain);
    std::string summary = str("summary");
    page["summary"] = summary.empty() ? VekFirstWords(plain, 50) : summary;
    page["content"] = TVekData::binary(std::vector<std::uint8_t>(html.begin(), html.end()));
    if (layout.empty()) {
      // The section's own layout, else the site's default.
      const std::string section = page["section"].get<std::string>();
      std::error_code e2;
      layout = !section.empty() && PlainName(section) &&
                       fs::is_regular_file(Root.Dir() / "_layouts" / (section + ".html"), e2)
                   ? section + ".html"
                   : O.Config.Layout;
    }
    if (!fs::is_regular_file(Root.Dir() / "_layouts" / layout, ec))
      throw std::runtime_error(name + ": its layout _layouts/" + layout + " does not exist");
  } else {
    page["words"] = 0;
    page["summary"] = str("summary");
  }
  page["layout"] = layout;
  page["params"] = std::move(fm.Data);
  if (P.Markdown || fm.Present)
    P.Text = LayoutText(name, layout, page["params"], O, P.Markdown, body, fm.Lines);
  r.Draft = draft;
  return r;
}

// Whether a page read is built and listed at the build's time.
bool Published(const TRead& R, const TSitePagesOptions& O) {
  const bool future = !R.SortDate.empty() && R.SortDate > O.Now;
  return (!R.Draft || O.Drafts) && (!future || O.Future);
}

// What reading a page depends on besides its file: the settings, and which
// layouts exist (a section's own layout, a named layout's existence).
std::string ReadContext(const TVekTemplateRoot& Root, const TSitePagesOptions& O) {
  std::string c = O.Config.Data.dump();
  c += '\0' + O.Config.Title + '\0' + O.Config.BaseUrl + '\0' + O.Config.Layout + '\0';
  c += std::to_string(O.Config.Paginate) + (O.Config.Markdown.Unsafe ? "u" : "s");
  c += O.UglyUrls ? "U" : "P";
  c += '\0' + O.TagBeg + '\0' + O.TagEnd + '\0';
  std::vector<std::string> layouts;
  std::error_code ec;
  fs::recursive_directory_iterator it(Root.Dir() / "_layouts", ec), end;
  for (size_t n = 0; !ec && it != end && n < 10000; it.increment(ec), ++n)
    layouts.push_back(it->path().lexically_relative(Root.Dir()).generic_string() +
                      (it->is_regular_file(ec) ? "f" : "d"));
  std::sort(layouts.begin(), layouts.end());
  for (const auto& l : layouts) c += l + '\0';
  return c;
}

}  // namespace

// A page as read, kept with the stamp of its file when it was read.
struct TSiteReadCache::TEntry {
  TVekFileStamp Stamp;
  TRead Read;
  std::string Output, Text;
  bool Markdown = false;
};

namespace {

// Reads the page P, or takes it from Cache when its file's stamp is the one
// kept; a page read is kept there (its stamp taken before it is read, so
// that a change while it is read is seen next time).
TRead ReadOrReuse(const TVekTemplateRoot& Root, TSitePage& P, const TSitePagesOptions& O,
                  const TSiteReadCache* Cache, std::shared_ptr<const TSiteReadCache::TEntry>& Kept,
                  char& Reused) {
  if (!Cache) return ReadPage(Root, P, O);
  const auto it = Cache->Pages.find(P.Source);
  // A kept page's file, found again as the same regular file (not a link)
  // of the same stamp, is the file the kept page was read (and located)
  // from: the names come from a walk that follows no folder link.
  TVekFileStamp stamp;
  if (it != Cache->Pages.end() && VekPlainFileStamp(Root.Dir() / P.Source, stamp) &&
      it->second->Stamp == stamp) {
    const TSiteReadCache::TEntry& e = *it->second;
    P.Output = e.Output;
    P.Text = e.Text;
    P.Markdown = e.Markdown;
    Kept = it->second;
    Reused = 1;
    return e.Read;
  }
  stamp = Root.Stamp(Root.Locate("", P.Source));
  TRead r = ReadPage(Root, P, O);
  auto entry = std::make_shared<TSiteReadCache::TEntry>();
  entry->Stamp = stamp;
  entry->Read = r;
  entry->Output = P.Output;
  entry->Text = P.Text;
  entry->Markdown = P.Markdown;
  Kept = std::move(entry);
  return r;
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

// A page whose front matter says paginate: N (or true, for vekpp.toml's
// size) over site.pages, or over the section named by list: it gets pager
// (number, count, prev, next, first, last: URLs, "" where none; pages: the
// entries of this page), and one more page per further N entries, at
// FOLDER/page/K/.
void Paginate(TSitePage& P, TVekData& Data, const TVekData& Site, const TSitePagesOptions& O,
              std::vector<TSitePage>& Generated) {
  const TVekData& params = Data["page"]["params"];
  const auto it = params.find("paginate");
  if (it == params.end() || it->is_null() || (it->is_boolean() && !it->get<bool>())) return;
  long long size = O.Config.Paginate;
  if (it->is_number_integer() && it->get<long long>() >= 1)
    size = it->get<long long>();
  else if (!it->is_boolean())
    throw std::runtime_error(P.Source + ": paginate must be a whole number of 1 or more, or true");
  const TVekData* list = &Site["pages"];
  static const TVekData kEmpty = TVekData::array();
  if (const auto l = params.find("list"); l != params.end()) {
    if (!l->is_string()) throw std::runtime_error(P.Source + ": list must name a section");
    const auto& sections = Site["sections"];
    const auto s = sections.find(l->get<std::string>());
    list = s == sections.end() ? &kEmpty : &*s;
  }
  const size_t n = list->size();
  const size_t per = static_cast<size_t>(size);
  const size_t count = n == 0 ? 1 : (n + per - 1) / per;
  const std::string folder = OutputFolder(P.Output);
  const std::string first = Data["page"]["url"].get<std::string>();
  const auto urlOf = [&](size_t K) {
    return K == 1 ? first : "/" + folder + "page/" + std::to_string(K) + "/";
  };
  for (size_t k = 1; k <= count; ++k) {
    TVekData pager = {{"number", k},
                      {"count", count},
                      {"prev", k > 1 ? urlOf(k - 1) : ""},
                      {"next", k < count ? urlOf(k + 1) : ""},
                      {"first", urlOf(1)},
                      {"last", urlOf(count)}};
    TVekData entries = TVekData::array();
    for (size_t i = (k - 1) * per; i < n && i < k * per; ++i) entries.push_back((*list)[i]);
    pager["pages"] = std::move(entries);
    if (k == 1) {
      Data["pager"] = std::move(pager);
      continue;
    }
    TSitePage g;
    g.Source = P.Source;
    g.Output = folder + "page/" + std::to_string(k) + "/index.html";
    g.Markdown = P.Markdown;
    g.Text = P.Text;
    auto data = std::make_shared<TVekData>(TVekData::object());
    (*data)["page"] = Data["page"];
    (*data)["page"]["url"] = urlOf(k);
    (*data)["pager"] = std::move(pager);
    g.Data = std::move(data);
    Generated.push_back(std::move(g));
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

// Reads every page of Names into Site.Pages and Reads on Jobs threads
// (from Cache where kept); a page that fails keeps its Error. Cache then
// holds the pages of this read only: a removed page is forgotten.
void ReadAll(const TVekTemplateRoot& Root, const std::vector<std::string>& Names,
             const TSitePagesOptions& O, unsigned Jobs, TSiteReadCache* Cache, TSitePages& Site,
             std::vector<TRead>& Reads) {
  if (Cache) {
    std::string context = ReadContext(Root, O);
    if (context != Cache->Context) Cache->Pages.clear();
    Cache->Context = std::move(context);
  }
  Site.Pages.resize(Names.size());
  Reads.resize(Names.size());
  std::vector<std::shared_ptr<const TSiteReadCache::TEntry>> kept(Names.size());
  std::vector<char> reused(Names.size(), 0);
  std::atomic<size_t> next{0};
  const auto work = [&] {
    for (size_t i; (i = next++) < Names.size();) {
      TSitePage& p = Site.Pages[i];
      p.Source = Names[i];
      try {
        Reads[i] = ReadOrReuse(Root, p, O, Cache, kept[i], reused[i]);
        p.Published = Published(Reads[i], O);
      } catch (const std::exception& e) {
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
    if (!kept[i]) continue;
    Cache->Pages.emplace(Names[i], kept[i]);
    Cache->Hits += reused[i];
  }
}

// The listed pages: published pages other than index pages, newest first
// (pages without a date last, by path).
std::vector<size_t> ListOrder(const TSitePages& Site, const std::vector<TRead>& Reads) {
  std::vector<size_t> order;
  for (size_t i = 0; i < Reads.size(); ++i) {
    const TSitePage& p = Site.Pages[i];
    if (p.Error.empty() && p.Published && Reads[i].Listed) order.push_back(i);
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t A, size_t B) {
    const std::string &a = Reads[A].SortDate, &b = Reads[B].SortDate;
    if (a != b) return a > b;
    return Site.Pages[A].Source < Site.Pages[B].Source;
  });
  return order;
}

const char* const kTagsFolder = "tags/";

// Each page's tags with the URLs of their pages (when the site has
// _tag.html): page.tag_links.
void AddTagLinks(std::vector<TRead>& Reads, bool TagPages) {
  for (TRead& r : Reads) {
    if (!r.Page.is_object()) continue;
    TVekData links = TVekData::array();
    for (const auto& t : r.Page["tags"]) {
      const std::string slug = TagSlug(t.get<std::string>());
      links.push_back(
          {{"name", t},
           {"url", TagPages && !slug.empty() ? "/" + std::string(kTagsFolder) + slug + "/" : ""}});
    }
    r.Page["tag_links"] = std::move(links);
  }
}

// site.pages, site.sections and site.tags in Order. List entries carry all
// but the content: a list of ten thousand pages would otherwise hold each
// page's HTML once per list it is in.
void MakeLists(const std::vector<TRead>& Reads, const std::vector<size_t>& Order,
               TVekData& SiteObject) {
  TVekData pages = TVekData::array(), sections = TVekData::object(), tags = TVekData::object();
  for (const size_t i : Order) {
    TVekData page = TVekData::object();
    for (auto it = Reads[i].Page.cbegin(); it != Reads[i].Page.cend(); ++it)
      if (it.key() != "content") page[it.key()] = *it;
    pages.push_back(page);
    const std::string& section = page["section"].get_ref<const std::string&>();
    if (!section.empty()) sections[section].push_back(page);
    for (const auto& t : page["tags"]) tags[t.get<std::string>()].push_back(page);
  }
  SiteObject["pages"] = std::move(pages);
  SiteObject["sections"] = std::move(sections);
  SiteObject["tags"] = std::move(tags);
}

// A page per tag of SiteObject's tags, from _tag.html when TagPages
// (page.tag, page.pages, page.url), into Generated; and site.tag_list.
void MakeTagPages(TVekData& SiteObject, bool TagPages, const TSitePagesOptions& O,
                  std::vector<TSitePage>& Generated) {
  TVekData tagList = TVekData::array();
  const TVekData& tags = SiteObject["tags"];
  for (auto it = tags.begin(); it != tags.end(); ++it) {
    const std::string slug = TagSlug(it.key());
    std::string url, output;
    if (TagPages) {
      TSitePage g;
      g.Source = "_tag.html";
      if (slug.empty()) {
        g.Error = "_tag.html: the tag \"" + it.key().substr(0, 80) + "\" makes no folder name";
      } else {
        output = kTagsFolder + slug + (O.UglyUrls ? ".html" : "/index.html");
        url = "/" + std::string(kTagsFolder) + slug + (O.UglyUrls ? ".html" : "/");
      }
      g.Output = output;
      auto data = std::make_shared<TVekData>(TVekData::object());
      (*data)["page"] = {{"title", it.key()},   {"tag", it.key()},   {"url", url},
                         {"path", "_tag.html"}, {"section", "tags"}, {"pages", it.value()}};
      g.Data = std::move(data);
      Generated.push_back(std::move(g));
    }
    tagList.push_back({{"name", it.key()}, {"url", url}, {"count", it.value().size()}});
  }
  SiteObject["tag_list"] = std::move(tagList);
}

// Each page's data ({"page": ...}, with the data file's page members it
// lacks), and the further pages of paginated pages.
void MakePageData(std::vector<TRead>& Reads, const TVekData& SiteData, const TSitePagesOptions& O,
                  TSitePages& Site) {
  const TVekData& siteData = (*Site.Globals)["site"];
  for (size_t i = 0; i < Reads.size(); ++i) {
    TSitePage& p = Site.Pages[i];
    auto data = std::make_shared<TVekData>(TVekData::object());
    (*data)["page"] = std::move(Reads[i].Page);
    if (const auto own = SiteData.find("page"); SiteData.is_object() && own != SiteData.end())
      AddUnder((*data)["page"], *own);
    if (p.Error.empty() && p.Published) {
      try {
        Paginate(p, *data, siteData, O, Site.Generated);
      } catch (const std::exception& e) {
        p.Error = e.what();
      }
    }
    p.Data = std::move(data);
  }
}

}  // namespace

TSitePages VekReadSitePages(const TVekTemplateRoot& Root, const std::vector<std::string>& Names,
                            const TVekData& SiteData, const TSitePagesOptions& Options,
                            unsigned Jobs, TSiteReadCache* Cache) {
  TSitePagesOptions o = Options;
  if (o.Now.empty()) o.Now = NowUtc();
  TSitePages site;
  std::vector<TRead> reads;
  ReadAll(Root, Names, o, Jobs, Cache, site, reads);
  CheckOutputs(site);
  const std::vector<size_t> order = ListOrder(site, reads);
  TVekData siteObject = TVekData::object();
  siteObject["title"] = o.Config.Title;
  siteObject["base_url"] = o.Config.BaseUrl;
  siteObject["time"] = o.Now;
  siteObject["config"] = o.Config.Data;
  std::error_code ec;
  const bool tagPages = fs::is_regular_file(Root.Dir() / "_tag.html", ec);
  AddTagLinks(reads, tagPages);
  MakeLists(reads, order, siteObject);
  MakeTagPages(siteObject, tagPages, o, site.Generated);
  auto globals = std::make_shared<TVekData>(SiteData.is_object() ? SiteData : TVekData::object());
  AddUnder((*globals)["site"], std::move(siteObject));
  site.Globals = std::move(globals);
  MakePageData(reads, SiteData, o, site);
  CheckOutputs(site);
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
  TVekStdTags tags(own.Producer, Root, Page.Data, Options);
  if (Page.Text.empty()) {
    const AnsiString text = tags.Load(Page.Source);
    TCustomContentProducer* content = own.Producer;
    return content->ContentFromString(text);
  }
  return tags.RenderText(Page.Text, Page.Source);
}
