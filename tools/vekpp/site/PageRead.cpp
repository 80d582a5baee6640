// One page of the site read: its front matter, its Markdown, its place in
// the output and the template made for it (its layout extended).
#include "site/PageRead.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <stdexcept>

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

}  // namespace

TPageRead VekReadPage(const TVekTemplateRoot& Root, TSitePage& P, const TSitePagesOptions& O) {
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
  TPageRead r;
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

std::string VekMarkdownPageText(const std::string& Source, const TPageRead& Read,
                                const TSitePagesOptions& O) {
  const auto layout = Read.Page.find("layout");
  const auto params = Read.Page.find("params");
  if (!Read.Page.is_object() || layout == Read.Page.end() || !layout->is_string() ||
      !LayoutName(layout->get_ref<const std::string&>()) || params == Read.Page.end())
    return "";
  return LayoutText(Source, layout->get<std::string>(), *params, O, true, "", 0);
}

bool VekPagePublished(const TPageRead& R, const TSitePagesOptions& O) {
  const bool future = !R.SortDate.empty() && R.SortDate > O.Now;
  return (!R.Draft || O.Drafts) && (!future || O.Future);
}

std::string VekPageReadContext(const TVekTemplateRoot& Root, const TSitePagesOptions& O) {
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
