// The site's lists made from its pages read: site.pages, site.sections,
// site.tags, the tag pages and the further pages of paginated pages.
#include "site/SiteLists.h"

#include <algorithm>
#include <cctype>

namespace {

// Where the tag pages go in the output.
const char* const kTagsFolder = "tags/";

bool EndsWith(const std::string& S, const std::string& Tail) {
  return S.size() >= Tail.size() && S.compare(S.size() - Tail.size(), Tail.size(), Tail) == 0;
}

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

}  // namespace

std::vector<size_t> VekListOrder(const TSitePages& Site, const std::vector<TPageRead>& Reads) {
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

TVekData VekListEntry(const TVekData& Page) {
  TVekData entry = TVekData::object();
  for (auto it = Page.cbegin(); it != Page.cend(); ++it)
    if (it.key() != "content") entry[it.key()] = *it;
  return entry;
}

void VekAddTagLinks(TVekData& Page, bool TagPages) {
  if (!Page.is_object()) return;
  TVekData links = TVekData::array();
  for (const auto& t : Page["tags"]) {
    const std::string slug = TagSlug(t.get<std::string>());
    links.push_back(
        {{"name", t},
         {"url", TagPages && !slug.empty() ? "/" + std::string(kTagsFolder) + slug + "/" : ""}});
  }
  Page["tag_links"] = std::move(links);
}

void VekMakeLists(const std::vector<TPageRead>& Reads, const std::vector<size_t>& Order,
                  TVekData& SiteObject, TListRefs* Refs) {
  TVekData pages = TVekData::array(), sections = TVekData::object(), tags = TVekData::object();
  for (const size_t i : Order) {
    TVekData page = VekListEntry(Reads[i].Page);
    const std::string& section = page["section"].get_ref<const std::string&>();
    if (!section.empty()) sections[section].push_back(page);
    for (const auto& t : page["tags"]) tags[t.get<std::string>()].push_back(page);
    pages.push_back(std::move(page));
  }
  if (Refs) {
    // The lists are complete: their entries stay where they are from here.
    std::unordered_map<std::string, size_t> sectionAt, tagAt;
    const auto note = [&](size_t I, TVekData& Entry) {
      Refs->Add(I, &Entry, kSiteListsOwner);
      Refs->PageOfEntry.emplace(&Entry, I);
    };
    for (size_t k = 0; k < Order.size(); ++k) {
      const size_t i = Order[k];
      const TVekData& page = pages[k];
      note(i, pages[k]);
      const std::string& section = page["section"].get_ref<const std::string&>();
      if (!section.empty()) note(i, sections[section][sectionAt[section]++]);
      for (const auto& t : page["tags"]) {
        const std::string& tag = t.get_ref<const std::string&>();
        note(i, tags[tag][tagAt[tag]++]);
      }
    }
  }
  SiteObject["pages"] = std::move(pages);
  SiteObject["sections"] = std::move(sections);
  SiteObject["tags"] = std::move(tags);
}

void VekPaginate(TSitePage& P, TVekData& Data, const TVekData& Site, const TSitePagesOptions& O,
                 std::vector<TSitePage>& Generated, size_t Index, size_t Count, TListRefs* Refs) {
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
  // Where the entries of the pager of Owner went, once in place.
  const auto noteEntries = [&](TVekData& Pager, size_t From, size_t Owner) {
    if (!Refs) return;
    TVekData& entries = Pager["pages"];
    for (size_t j = 0; j < entries.size(); ++j) {
      const auto page = Refs->PageOfEntry.find(&(*list)[From + j]);
      if (page != Refs->PageOfEntry.end()) Refs->Add(page->second, &entries[j], Owner);
    }
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
      noteEntries(Data["pager"], 0, Index);
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
    noteEntries((*data)["pager"], (k - 1) * per, Count + Generated.size());
    g.Data = std::move(data);
    Generated.push_back(std::move(g));
  }
}

void VekMakeTagPages(TVekData& SiteObject, bool TagPages, const TSitePagesOptions& O,
                     std::vector<TSitePage>& Generated, size_t Count, TListRefs* Refs,
                     bool Shared) {
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
                         {"path", "_tag.html"}, {"section", "tags"}, {"pages", nullptr}};
      if (Shared)
        g.Listed = &it.value();
      else
        (*data)["page"]["pages"] = it.value();
      if (Refs) {
        TVekData& entries = (*data)["page"]["pages"];
        for (size_t j = 0; j < entries.size(); ++j)
          Refs->Add(Refs->PageOfEntry.at(&it.value()[j]), &entries[j], Count + Generated.size());
      }
      g.Data = std::move(data);
      Generated.push_back(std::move(g));
    }
    tagList.push_back({{"name", it.key()}, {"url", url}, {"count", it.value().size()}});
  }
  SiteObject["tag_list"] = std::move(tagList);
}
