// VekCheckSite and VekCheckPage: the site read as build reads it, each page
// checked by the standard tags' checks, and findings that name a place in
// another file (a layout, an include) moved there and told once.
#include "site/SiteCheck.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <tuple>

#include "site/SiteConfig.h"
#include "site/SiteFiles.h"
#include "site/SitePages.h"

namespace fs = std::filesystem;

namespace {

bool Digits(const std::string& S, size_t& I, int& Value) {
  const size_t from = I;
  long long v = 0;
  while (I < S.size() && S[I] >= '0' && S[I] <= '9' && I - from < 9) v = v * 10 + (S[I++] - '0');
  Value = static_cast<int>(v);
  return I > from && v > 0;
}

// Reads "NAME:LINE:COLUMN: " at From of S, NAME a template of Root: true,
// with the place and where the rest of the message begins.
bool PlaceAt(const TVekTemplateRoot& Root, const std::string& S, size_t From, TSiteFinding& F,
             size_t& Rest) {
  for (size_t colon = S.find(':', From); colon != std::string::npos;
       colon = S.find(':', colon + 1)) {
    size_t i = colon + 1;
    int line = 0, column = 0;
    if (!Digits(S, i, line) || i >= S.size() || S[i++] != ':' || !Digits(S, i, column) ||
        S.compare(i, 2, ": ") != 0)
      continue;
    const std::string name = S.substr(From, colon - From);
    if (name.empty() || name.find('\n') != std::string::npos) return false;
    try {
      Root.Locate("", name);
    } catch (const EVekTemplateError&) {
      return false;
    }
    F.File = name;
    F.Line = line;
    F.Column = column;
    Rest = i + 2;
    return true;
  }
  return false;
}

bool StartsWith(const std::string& S, size_t At, const char* Head) {
  return S.compare(At, std::char_traits<char>::length(Head), Head) == 0;
}

// The findings of one issue of the template Name: where its message names a
// place in another template through "include: " or "extends: " (however
// deep) or "(used at ...)", the finding stands there; each further line of
// the message ("name:line:column: message") is a finding of its own.
void Split(const TVekTemplateRoot& Root, const std::string& Name, const TVekTemplateIssue& Issue,
           std::vector<TSiteFinding>& Out) {
  TSiteFinding f;
  f.File = Name;
  f.Line = Issue.Line;
  f.Column = Issue.Column;
  f.Warning = Issue.Warning;
  f.Pages = 1;
  f.Page = Name;
  const std::string& m = Issue.Message;
  const size_t lineEnd = std::min(m.find('\n'), m.size());
  std::string first = m.substr(0, lineEnd);
  // A name missing from the data, used in an included file or a layout.
  static const std::string kUsedAt = " (used at ";
  if (const size_t used = first.rfind(kUsedAt);
      used != std::string::npos && !first.empty() && first.back() == ')') {
    const std::string at = first.substr(used + kUsedAt.size(), first.size() - used - 11) + ": ";
    size_t rest = 0;
    if (PlaceAt(Root, at, 0, f, rest)) first.resize(used);
  }
  size_t from = 0;
  for (;;) {
    size_t rest = 0;
    const bool nested =
        StartsWith(first, from, "include: ") || StartsWith(first, from, "extends: ");
    if (!nested || !PlaceAt(Root, first, from + 9, f, rest)) break;
    from = rest;
  }
  f.Message = first.substr(from);
  Out.push_back(f);
  // The further faults of the same template, each on a line of its own.
  for (size_t at = lineEnd; at < m.size();) {
    const size_t begin = at + 1;
    const size_t end = std::min(m.find('\n', begin), m.size());
    TSiteFinding g = f;
    size_t rest = begin;
    const std::string line = m.substr(begin, end - begin);
    if (PlaceAt(Root, line, 0, g, rest)) {
      g.Message = line.substr(rest);
    } else {
      g.Message = line;
    }
    Out.push_back(std::move(g));
    at = end;
  }
}

// The site's pages: the pages build renders (drafts and future ones too),
// the tag page once, _404.html when there is one.
struct TCheckedPage {
  std::string Name;
  std::string Text;  // the template made for it; "" for the file itself
  bool Markdown = false;
  std::shared_ptr<const TVekData> Data;
  std::string Error;
};

}  // namespace

std::vector<TSiteFinding> VekCheckPage(const TVekTemplateRoot& Root, const std::string& Name,
                                       const std::string& Text, const TVekData* Data,
                                       const TVekStdTagsOptions& Options) {
  std::vector<TVekTemplateIssue> issues = VekCheckTemplate(Text, Name, &Root, Options);
  if (Data) {
    for (auto& w : VekCheckDataNames(Text, Name, Root, *Data, Options)) {
      // A strict render refuses a missing name.
      w.Warning = !Options.Strict;
      issues.push_back(std::move(w));
    }
  }
  std::vector<TSiteFinding> found;
  for (const auto& issue : issues) Split(Root, Name, issue, found);
  std::stable_sort(found.begin(), found.end(), [](const TSiteFinding& A, const TSiteFinding& B) {
    return std::tie(A.File, A.Line, A.Column) < std::tie(B.File, B.Line, B.Column);
  });
  // The same finding met twice (a layout's fault through two blocks) is one.
  found.erase(std::unique(found.begin(), found.end(),
                          [](const TSiteFinding& A, const TSiteFinding& B) {
                            return std::tie(A.File, A.Line, A.Column, A.Message, A.Warning) ==
                                   std::tie(B.File, B.Line, B.Column, B.Message, B.Warning);
                          }),
              found.end());
  return found;
}

TSiteCheck VekCheckSite(const TVekTemplateRoot& Root, const TVekData& Data,
                        const TVekStdTagsOptions& Options, const std::string& Only, unsigned Jobs) {
  TSitePagesOptions pageOptions;
  pageOptions.Config = VekReadSiteConfig(Root.Dir().string());
  pageOptions.Drafts = pageOptions.Future = true;  // every page is checked
  pageOptions.TagBeg = Options.TagBeg;
  pageOptions.TagEnd = Options.TagEnd;
  std::vector<std::string> names;
  // The output folder of vekpp.toml is left out, as build leaves it out.
  std::error_code ec;
  const fs::path out = pageOptions.Config.Output.empty()
                           ? fs::path()
                           : fs::weakly_canonical(Root.Dir() / pageOptions.Config.Output, ec);
  for (const TSiteFile& f : VekSiteFiles(Root.Dir(), out))
    if (f.Page) names.push_back(f.Name);
  const TSitePages site = VekReadSitePages(Root, names, Data, pageOptions, Jobs);
  TVekStdTagsOptions options = Options;
  options.Globals = site.Globals;

  std::vector<TCheckedPage> pages;
  std::set<std::string> seen;
  auto add = [&](const TSitePage& P) {
    if (!Only.empty() && P.Source != Only) return;
    if (!seen.insert(P.Source).second) return;  // further pages of a list, tag pages
    pages.push_back({P.Source, P.Text, P.Markdown, P.Data, P.Error});
  };
  for (const TSitePage& p : site.Pages) add(p);
  for (const TSitePage& p : site.Generated) add(p);
  if ((Only.empty() || Only == "_404.html") && fs::is_regular_file(Root.Dir() / "_404.html", ec))
    pages.push_back({"_404.html", "", false, std::make_shared<TVekData>(TVekData::object()), ""});

  // Findings by file and place, each with the pages that met it.
  using TKey = std::tuple<std::string, int, int, std::string, bool>;
  std::map<TKey, TSiteFinding> all;
  TSiteCheck check;
  std::map<std::string, std::string>& texts = check.Texts;
  check.Pages = pages.size();
  for (const TCheckedPage& p : pages) {
    std::vector<TSiteFinding> found;
    std::string fileText;
    try {
      fileText = Root.Read(Root.Locate("", p.Name));
      if (!p.Error.empty()) throw std::runtime_error(p.Error);
      found = VekCheckPage(Root, p.Name, p.Text.empty() ? fileText : p.Text, p.Data.get(), options);
    } catch (const std::exception& e) {
      TSiteFinding f;
      f.File = f.Page = p.Name;
      f.Pages = 1;
      f.Message = e.what();
      // A message that opens with the page's name has it once.
      if (f.Message.compare(0, p.Name.size() + 2, p.Name + ": ") == 0)
        f.Message.erase(0, p.Name.size() + 2);
      found.push_back(std::move(f));
    }
    // Past the cap, a finding not met before is counted, not kept: memory
    // stays bounded however many pages hold faults.
    bool own = false;
    for (TSiteFinding& f : found) {
      const TKey key{f.File, f.Line, f.Column, f.Message, f.Warning};
      if (const auto it = all.find(key); it != all.end()) {
        ++it->second.Pages;
      } else if (all.size() < kMaxSiteFindings) {
        own |= f.File == p.Name;
        all.emplace(key, std::move(f));
      } else {
        ++check.More;
      }
    }
    // A Markdown page's lines are those of the template made for it.
    if (own) texts.emplace(p.Name, p.Markdown ? "" : std::move(fileText));
  }
  for (auto& entry : all) {
    TSiteFinding& f = entry.second;
    if (texts.find(f.File) == texts.end()) {
      std::string read;
      try {
        read = Root.Read(Root.Locate("", f.File));
      } catch (const std::exception&) {
        // told without its line
      }
      texts.emplace(f.File, std::move(read));
    }
    check.Findings.push_back(std::move(f));
  }
  return check;
}
