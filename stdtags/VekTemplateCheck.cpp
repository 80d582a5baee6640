// VekCheckTemplate: finds what a template author most likely did not mean,
// mirroring how the producer and the standard handlers will read the text.
#include <algorithm>
#include <cctype>
#include <string>

#include "TagScan.h"
#include "TextRoutines.h"
#include "VekStdTags.h"

namespace vekstd {

bool NextTag(TVekPageProducer& Scanner, const AnsiString& Text, int& Pos, TTagAt& Tag,
             int& Unclosed) {
  AnsiString before, tagText;
  const int from = Pos;
  Unclosed = -1;
  if (!Scanner.ExtractNextTag(Text.c_str(), Pos, &before, &tagText)) {
    // The literal text runs up to an unclosed opening delimiter, if any.
    const int stop = from + static_cast<int>(before.size());
    if (stop < static_cast<int>(StrLen(Text.c_str()))) Unclosed = stop;
    return false;
  }
  Tag.Begin = from + static_cast<int>(before.size());
  Tag.End = Pos;
  Tag.Text = tagText;
  TStringList params;
  TVekPageProducer::ExtractTagParams(tagText, Tag.Name, &params);
  Tag.Params.assign(params.begin(), params.end());
  return true;
}

bool IsPairName(const AnsiString& Name) {
  return Name == "each" || Name == "if" || Name == "unless";
}

AnsiString ClosedName(const AnsiString& Name) {
  if (Name.size() < 2 || Name[0] != '/') return "";
  AnsiString rest = Name.substr(1);
  std::transform(rest.begin(), rest.end(), rest.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return IsPairName(rest) ? rest : "";
}

bool FindElse(TVekPageProducer& Scanner, const AnsiString& Body, int& Begin, int& End) {
  int pos = 0, unclosed = -1;
  TTagAt tag;
  while (NextTag(Scanner, Body, pos, tag, unclosed)) {
    if (tag.Name == "else") {
      Begin = tag.Begin;
      End = tag.End;
      return true;
    }
    if (IsPairName(tag.Name)) {
      // A nested pair's body is its own: step over it when it is closed.
      AnsiString inner;
      Scanner.ExtractInnerText(tag.Name, Body.c_str(), pos, inner);
    }
  }
  return false;
}

}  // namespace vekstd

namespace {

using vekstd::TTagAt;

// A short, printable excerpt of the bytes S[From...].
std::string Excerpt(const AnsiString& S, size_t From) {
  const size_t kMax = 40;
  size_t stop = std::min(S.size(), From + kMax);
  // Do not cut a UTF-8 sequence in two.
  while (stop < S.size() && stop > From && (static_cast<unsigned char>(S[stop]) & 0xC0) == 0x80)
    --stop;
  std::string out = "\"";
  for (size_t i = From; i < stop; ++i) {
    const unsigned char c = static_cast<unsigned char>(S[i]);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 32 || c == 127) {
      static const char hex[] = "0123456789abcdef";
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  out += stop < S.size() ? "\"..." : "\"";
  return out;
}

class TChecker {
 public:
  TChecker(const AnsiString& Text, const AnsiString& Name, const TVekTemplateRoot* Root,
           const AnsiString& TagBeg, const AnsiString& TagEnd)
      : FText(Text), FName(Name), FRoot(Root), FBeg(TagBeg), FEnd(TagEnd), FScanner(nullptr) {
    FScanner.SetVekTagBeg(TagBeg);
    FScanner.SetVekTagEnd(TagEnd);
    FLineStarts.push_back(0);
    for (size_t i = 0; i < Text.size(); ++i) {
      if (Text[i] == '\n' || (Text[i] == '\r' && (i + 1 == Text.size() || Text[i + 1] != '\n')))
        FLineStarts.push_back(static_cast<int>(i + 1));
    }
  }

  std::vector<TVekTemplateIssue> Run() {
    if (!FBeg.empty() && !FEnd.empty()) Walk(FText, 0, false);
    std::stable_sort(FIssues.begin(), FIssues.end(), [](const auto& a, const auto& b) {
      return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
    });
    return std::move(FIssues);
  }

 private:
  // A tag as written, with this template's delimiters.
  std::string T(const std::string& Inner) const { return FBeg + Inner + FEnd; }

  void Report(int Offset, const std::string& Message) {
    const auto it = std::upper_bound(FLineStarts.begin(), FLineStarts.end(), Offset);
    const int line = static_cast<int>(it - FLineStarts.begin());
    FIssues.push_back({line, Offset - FLineStarts[line - 1] + 1, Message});
  }

  // Checks Text, which starts at offset Base of the whole template and is
  // expanded on its own (the whole template, or the body of a pair).
  void Walk(const AnsiString& Text, int Base, bool InCondition) {
    int pos = 0, unclosed = -1;
    bool sawElse = false;
    TTagAt tag;
    while (vekstd::NextTag(FScanner, Text, pos, tag, unclosed)) {
      const int at = Base + tag.Begin;
      if (tag.Text.find(FBeg) != AnsiString::npos) {
        Report(at, "this tag holds a further \"" + FBeg +
                       "\": the tag before it probably lacks its \"" + FEnd + "\"");
        continue;  // what it says is not what was meant
      }
      if (vekstd::IsPairName(tag.Name)) {
        if (tag.Params.size() != 1 || tag.Params[0].find('=') != AnsiString::npos)
          Report(at, T(tag.Name) + " takes one name, as in " + T(tag.Name + " items"));
        AnsiString inner;
        int after = pos;
        FScanner.ExtractInnerText(tag.Name, Text.c_str(), after, inner);
        if (after == pos) {
          Report(at, T(tag.Name + (tag.Params.empty() ? "" : " " + tag.Params[0])) +
                         " has no closing " + T("/" + tag.Name) +
                         ": what follows is output as if the tag were not there");
        } else {
          Walk(inner, Base + pos, tag.Name != "each");
          pos = after;
        }
      } else if (tag.Name == "else") {
        if (!InCondition) {
          Report(at, T("else") + " outside " + T("if") + " or " + T("unless"));
        } else if (sawElse) {
          Report(at, "a second " + T("else") + " in the same " + T("if") + " or " + T("unless"));
        }
        if (!tag.Params.empty()) Report(at, T("else") + " takes no parameters");
        sawElse = true;
      } else if (tag.Name == "include") {
        CheckInclude(tag, at);
      } else if (!tag.Name.empty() && tag.Name[0] == '/') {
        const AnsiString closed = vekstd::ClosedName(tag.Name);
        if (!closed.empty()) {
          Report(at, "closing tag " + T(tag.Name) + " without an opening " + T(closed));
        } else {
          Report(at, "unknown closing tag " + T(tag.Name) + ": only " + T("/each") + ", " +
                         T("/if") + " and " + T("/unless") + " close a pair");
        }
      } else if (tag.Name.empty()) {
        Report(at, "empty tag " + T("") + ": it has no name and outputs nothing");
      } else {
        for (const auto& p : tag.Params) {
          if (p == "raw") continue;
          Report(at, "unknown tag " + T(tag.Text) + ": a value tag takes only \"raw\", and " +
                         "the other standard tags are each, if, unless, else and include");
          break;
        }
      }
    }
    if (unclosed >= 0) {
      const size_t from = static_cast<size_t>(Base + unclosed);
      const size_t cut = StrLen(Text.c_str()) - static_cast<size_t>(unclosed);
      Report(static_cast<int>(from), "\"" + FBeg + "\" without a closing \"" + FEnd +
                                         "\": the output stops here, cutting " +
                                         std::to_string(cut) + " bytes: " + Excerpt(FText, from));
    }
  }

  void CheckInclude(const TTagAt& Tag, int At) {
    TStringList params;
    for (const auto& p : Tag.Params) params.Add(p);
    const AnsiString file = params.Values("file");
    if (file.empty()) {
      Report(At,
             T("include") + " needs the file to include, as in " + T("include file=\"part.html\""));
      return;
    }
    for (int i = 0; i < params.Count(); ++i) {
      if (params.Names(i).empty()) {
        Report(At, T("include") + " takes name=value parameters only, not \"" + params[i] + "\"");
      }
    }
    if (!FRoot) return;
    try {
      FRoot->Locate(FName, file);
    } catch (const EVekPathError& e) {
      Report(At, std::string("include: ") + e.what());
    }
  }

  const AnsiString& FText;
  const AnsiString& FName;
  const TVekTemplateRoot* FRoot;
  AnsiString FBeg, FEnd;
  TVekPageProducer FScanner;  // its delimiters and scanner only; no handlers
  std::vector<int> FLineStarts;
  std::vector<TVekTemplateIssue> FIssues;
};

}  // namespace

std::vector<TVekTemplateIssue> VekCheckTemplate(const AnsiString& Text, const AnsiString& Name,
                                                const TVekTemplateRoot* Root,
                                                const AnsiString& TagBeg,
                                                const AnsiString& TagEnd) {
  return TChecker(Text, Name, Root, TagBeg, TagEnd).Run();
}
