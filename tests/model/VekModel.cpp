#include "VekModel.h"

#include "TextRoutines.h"  // AnsiUpperCase only

namespace vekmodel {

namespace {

const std::size_t npos = std::string::npos;

bool Blank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

bool Quote(char c) {
  return c == '\'' || c == '"';
}

// Bytes From..To of S, both included, or "" when that range is empty.
std::string Slice(const std::string& S, long long From, long long To) {
  std::string out;
  for (long long i = From; i <= To; ++i) out += S[static_cast<std::size_t>(i)];
  return out;
}

}  // namespace

std::string JoinLines(const Params& Lines) {
  std::string out;
  for (const std::string& line : Lines) out += line + "\r\n";
  return out;
}

Params SplitLines(const std::string& Text) {
  Params lines;
  std::string line;
  bool open = false;  // bytes have come since the last break
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      open = false;
      if (c == '\r' && i + 1 < Text.size() && Text[i + 1] == '\n') ++i;
    } else {
      line += c;
      open = true;
    }
  }
  if (open) lines.push_back(line);
  return lines;
}

std::string BeforeNul(const std::string& S) {
  std::string out;
  for (char c : S) {
    if (c == '\0') break;
    out += c;
  }
  return out;
}

std::string TrimBlanks(const std::string& S) {
  std::size_t b = 0, e = S.size();
  while (b < e && Blank(S[b])) ++b;
  while (e > b && Blank(S[e - 1])) --e;
  return S.substr(b, e - b);
}

std::size_t FindFrom(const std::string& Hay, const std::string& Needle, std::size_t From) {
  if (Needle.empty() || Hay.empty()) return npos;
  for (std::size_t i = From; i + Needle.size() <= Hay.size(); ++i) {
    bool all = true;
    for (std::size_t k = 0; k < Needle.size(); ++k)
      if (Hay[i + k] != Needle[k]) all = false;
    if (all) return i;
  }
  return npos;
}

// ---- Scanner ---------------------------------------------------------------

bool Producer::ExtractNextTag(const std::string& Text, std::size_t& Pos, std::string* Before,
                              std::string& Tag) const {
  Tag = "";
  // S is the text from Pos up to its NUL; Find stops there by itself, so
  // the scan costs only the bytes it passes over.
  auto visible = [&](std::size_t i) { return i < Text.size() && Text[i] != '\0'; };
  // A delimiter is searched as its bytes before any NUL it holds.
  const std::string beg = BeforeNul(VekTagBeg), end = BeforeNul(VekTagEnd);
  auto find = [&](const std::string& d, std::size_t from) {
    if (d.empty()) return npos;
    for (std::size_t i = from; visible(i); ++i) {
      std::size_t k = 0;
      while (k < d.size() && visible(i + k) && Text[i + k] == d[k]) ++k;
      if (k == d.size()) return i;
    }
    return npos;
  };
  const std::size_t off = find(beg, Pos);
  if (off == npos) {
    if (Before != nullptr)
      for (std::size_t i = Pos; visible(i); ++i) *Before += Text[i];
    return false;
  }
  if (Before != nullptr) *Before += Text.substr(Pos, off - Pos);
  const std::size_t e = find(end, off + beg.size());
  if (e == npos) return false;
  Tag = TrimBlanks(Text.substr(off + beg.size(), e - (off + beg.size())));
  Pos = e + end.size();
  return true;
}

// ---- Parser ----------------------------------------------------------------

void Producer::ExtractTagParams(const std::string& TagText, std::string& Name, Params* List) {
  const std::string text = TagText;  // Name or a line of List may be TagText itself
  Name = "";
  if (List != nullptr) List->clear();
  const std::string S = TrimBlanks(text) + " ";
  const long long len = static_cast<long long>(S.size());

  enum { Between, Word, Quoted } state = Between;
  char q = 0;
  long long start = 0, stop = 0;
  std::string prefix;
  bool done = false;

  auto emit = [&] {
    std::string value;
    if (!(start >= len || start > stop)) value = TrimBlanks(Slice(S, start, stop));
    value = prefix + value;
    prefix = "";
    if (!value.empty()) {
      if (Name.empty())
        Name = value;
      else if (List != nullptr)
        List->push_back(value);
      if (List == nullptr) done = true;
    }
  };

  for (long long i = 0; i < len && !done; ++i) {
    const char c = S[static_cast<std::size_t>(i)];
    if (c == '\0') break;
    if (state == Between) {
      if (Blank(c)) {
      } else if (Quote(c)) {
        start = i;
        q = c;
        state = Quoted;
      } else {
        start = i;
        state = Word;
      }
    } else if (state == Word) {
      if (Quote(c)) {
        prefix = TrimBlanks(Slice(S, start, i - 1));
        start = i;
        q = c;
        state = Quoted;
      } else if (Blank(c)) {
        stop = i - 1;
        emit();
        state = Between;
      }
    } else {  // Quoted
      if (c == q) {
        start = start + 1;
        stop = i - 1;
        emit();
        state = Between;
      }
    }
  }
  if (!done && state == Quoted) {
    start = start + 1;
    stop = len - 1;
    emit();
  }
}

// ---- Pair matcher ----------------------------------------------------------

void Producer::ExtractInnerText(const std::string& Name, const std::string& Text, std::size_t& Pos,
                                std::string& Inner) const {
  Inner = "";
  const std::string open = AnsiUpperCase(Name);
  const std::string close = "/" + open;
  long long depth = 1;
  const std::string S = BeforeNul(Text.substr(Pos));
  const std::size_t rest = S.size();
  std::size_t p = 0, last = 0;
  while (p < rest) {
    last = p;
    std::string tag;
    if (!ExtractNextTag(S, p, nullptr, tag)) break;
    std::string name;
    ExtractTagParams(tag, name, nullptr);
    name = AnsiUpperCase(name);
    if (name == open)
      depth += 1;
    else if (name == close)
      depth -= 1;
    if (depth <= 0) break;
  }
  if (depth > 0) return;
  std::size_t b = FindFrom(S, BeforeNul(VekTagBeg), last);
  if (b == npos) b = p;
  // The position moves only once the body is taken.
  Inner = S.substr(0, b);
  Pos += p;
}

// ---- Expansion loop ----------------------------------------------------------

std::string Producer::Execute(std::string Doc) {
  if (VekTagBeg.empty() || VekTagEnd.empty() || Doc.empty()) return "";
  std::string result;
  std::size_t pos = 0;
  const std::size_t len = Doc.size();
  while (pos < len) {
    std::string tag;
    if (!ExtractNextTag(Doc, pos, &result, tag)) break;
    ExtractTagParams(tag, TagName, &TagParams);
    std::string text;
    int state = 0;
    if (OnVekTag) OnVekTag(*this, TagName, &TagParams, text, state);
    result += text;
    if (state == 1) break;
    if (state != 2) continue;

    // The pair step: a failure while matching is an empty body.
    std::string body;
    try {
      if (BeforeMatch) BeforeMatch();
      ExtractInnerText(TagName, Doc, pos, body);
    } catch (...) {
      body = "";
    }
    if (body.empty()) continue;
    text = "";
    state = 0;
    if (OnVekPairTag) OnVekPairTag(*this, TagName, &TagParams, body, text, state);
    result += text;
    if (state == 1) break;
  }
  return result;
}

// ---- Entry points ------------------------------------------------------------

std::string Producer::ContentFromStream(const std::string& StreamRest) {
  ResultList = SplitLines(StreamRest);
  const std::string text = JoinLines(ResultList);
  ResultList.clear();
  return Execute(text);
}

const Params& Producer::HTMLResult() {
  const std::string result = Content();
  ResultList = SplitLines(result);
  return ResultList;
}

}  // namespace vekmodel
