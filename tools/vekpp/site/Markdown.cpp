// Markdown rendered by md4c's HTML renderer, then a second pass that gives
// headings their ids (the renderer writes them as bare <h1>..<h6>).
#include "site/Markdown.h"

#include <md4c-html.h>

#include <array>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

bool Blank(unsigned char C) {
  return C <= 32;
}

void Collect(const MD_CHAR* Text, MD_SIZE Size, void* User) {
  static_cast<std::string*>(User)->append(Text, Size);
}

// The id text of a heading's inner HTML: tags and character references
// dropped, letters lowered, runs of other ASCII made one "-".
std::string Slug(const char* Begin, const char* End) {
  std::string s;
  bool dash = false;
  for (const char* p = Begin; p < End; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '<') {
      while (p < End && *p != '>') ++p;
      continue;
    }
    if (c == '&') {
      const char* q = p + 1;
      while (q < End && q - p < 12 && *q != ';' && *q != '&') ++q;
      if (q < End && *q == ';') {
        p = q;
        dash = !s.empty();
        continue;
      }
    }
    const bool keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c >= 128 || c == '_';
    if (keep || (c >= 'A' && c <= 'Z')) {
      if (dash) s += '-';
      dash = false;
      s += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    } else {
      dash = !s.empty();
    }
  }
  return s.empty() ? "section" : s;
}

// Html with id="…" added to every <hN> that has its </hN>. The closing tags
// of each level are found in one pass, and each opening takes the first
// closing after it: linear whatever the nesting of raw HTML.
std::string WithHeadingIds(const std::string& Html) {
  std::array<std::vector<size_t>, 7> closes;
  for (size_t at = Html.find("</h"); at != std::string::npos; at = Html.find("</h", at + 3)) {
    if (at + 4 < Html.size() && Html[at + 3] >= '1' && Html[at + 3] <= '6' && Html[at + 4] == '>')
      closes[static_cast<size_t>(Html[at + 3] - '0')].push_back(at);
  }
  std::array<size_t, 7> nextClose{};
  std::unordered_set<std::string> used;
  std::unordered_map<std::string, size_t> counts;
  std::string out;
  out.reserve(Html.size() + Html.size() / 16);
  size_t copied = 0;
  for (size_t at = Html.find("<h"); at != std::string::npos; at = Html.find("<h", at + 2)) {
    if (at + 3 >= Html.size() || Html[at + 2] < '1' || Html[at + 2] > '6' || Html[at + 3] != '>')
      continue;
    const size_t level = static_cast<size_t>(Html[at + 2] - '0');
    std::vector<size_t>& c = closes[level];
    size_t& n = nextClose[level];
    while (n < c.size() && c[n] < at) ++n;
    if (n == c.size()) continue;
    const std::string base = Slug(Html.data() + at + 4, Html.data() + c[n]);
    std::string id = base;
    // A repeated id takes the next free number of its text.
    for (size_t& k = counts[base]; !used.insert(id).second;) id = base + "-" + std::to_string(++k);
    out.append(Html, copied, at + 3 - copied);
    out += " id=\"";
    out += id;  // only letters, digits, "-", "_" and bytes >= 128
    out += '"';
    copied = at + 3;
  }
  out.append(Html, copied, std::string::npos);
  return out;
}

}  // namespace

std::string VekMarkdownHtml(const std::string& Text, const TMarkdownOptions& Options,
                            const std::string& Name) {
  if (Text.size() > kMaxMarkdownBytes) {
    throw std::runtime_error(Name + ": " + std::to_string(Text.size()) +
                             " bytes of Markdown: more than the " +
                             std::to_string(kMaxMarkdownBytes >> 20) + " MiB a page may hold");
  }
  unsigned flags = MD_DIALECT_GITHUB;
  if (!Options.Unsafe) flags |= MD_FLAG_NOHTML;
  std::string html;
  html.reserve(Text.size() + Text.size() / 4);
  if (md_html(Text.data(), static_cast<MD_SIZE>(Text.size()), Collect, &html, flags,
              MD_HTML_FLAG_SKIP_UTF8_BOM) != 0)
    throw std::runtime_error(Name + ": the Markdown parser gave up (out of memory?)");
  return WithHeadingIds(html);
}

std::string VekHtmlText(const std::string& Html) {
  static const std::pair<const char*, char> kRefs[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string out;
  out.reserve(Html.size());
  bool space = false;
  for (size_t i = 0; i < Html.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(Html[i]);
    if (c == '<') {
      // Dropped: blocks end with a line break, which separates words.
      const size_t end = Html.find('>', i);
      if (end == std::string::npos) break;
      i = end;
      continue;
    }
    if (Blank(c)) {
      space = !out.empty();
      continue;
    }
    if (space) out += ' ';
    space = false;
    if (c == '&') {
      bool decoded = false;
      for (const auto& r : kRefs) {
        const size_t n = std::char_traits<char>::length(r.first);
        if (Html.compare(i, n, r.first) == 0) {
          out += r.second;
          i += n - 1;
          decoded = true;
          break;
        }
      }
      if (decoded) continue;
    }
    out += static_cast<char>(c);
  }
  return out;
}

std::size_t VekWordCount(const std::string& Text) {
  std::size_t words = 0;
  bool in = false;
  for (const char ch : Text) {
    const bool blank = Blank(static_cast<unsigned char>(ch));
    if (!blank && !in) ++words;
    in = !blank;
  }
  return words;
}

std::string VekFirstWords(const std::string& Text, std::size_t MaxWords) {
  std::size_t words = 0;
  bool in = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const bool blank = Blank(static_cast<unsigned char>(Text[i]));
    if (!blank && !in && words++ == MaxWords) {
      size_t end = i;
      while (end > 0 && Blank(static_cast<unsigned char>(Text[end - 1]))) --end;
      return Text.substr(0, end) + "…";
    }
    in = !blank;
  }
  return Text;
}
