// The CSS lexer: one small step function per mode; the inside of url( ... )
// is followed as a URL attribute's value is.
#include "CssLexer.h"

namespace vekstd {

namespace {

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool IsNameByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || c >= 0x80;
}

void ValueStep(TCssState& S, unsigned char c, TCssPending Flag, std::string&) {
  if (c == '*' && Flag == TCssPending::Slash) {
    S.Mode = TCssMode::Comment;
  } else if (c == '/') {
    S.Pending = TCssPending::Slash;
  } else if (c == '"') {
    S.Mode = TCssMode::DoubleQuote;
  } else if (c == '\'') {
    S.Mode = TCssMode::SingleQuote;
  } else if (c == '(' && S.Word == "url") {
    S.Mode = TCssMode::UrlOpen;
    S.Url = TUrlState();
  }
  if (IsNameByte(c)) {
    if (S.Word.size() < 4) S.Word += static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  } else {
    S.Word.clear();
  }
}

void QuotedStep(TCssState& S, unsigned char c, TCssPending Flag, std::string&) {
  if (Flag == TCssPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TCssPending::Backslash;
  } else if (c == (S.Mode == TCssMode::SingleQuote ? '\'' : '"') || c == '\n') {
    S.Mode = TCssMode::Value;
  }
}

void CommentStep(TCssState& S, unsigned char c, TCssPending Flag, std::string&) {
  if (c == '*') {
    S.Pending = TCssPending::Star;
  } else if (c == '/' && Flag == TCssPending::Star) {
    S.Mode = TCssMode::Value;
  }
}

void UrlStep(TCssState& S, unsigned char c, TCssPending Flag, std::string& Problem) {
  if (S.Mode == TCssMode::UrlOpen) {
    if (IsBlank(c)) return;
    if (c == '"' || c == '\'') {
      S.Mode = c == '"' ? TCssMode::UrlDouble : TCssMode::UrlSingle;
      return;
    }
    S.Mode = TCssMode::Url;
  }
  if (S.Mode == TCssMode::Url
          ? c == ')'
          : (Flag != TCssPending::Backslash && c == (S.Mode == TCssMode::UrlSingle ? '\'' : '"'))) {
    // After the quoted form, the ')' is read as any other byte.
    S.Mode = TCssMode::Value;
    S.Url = TUrlState();
    return;
  }
  if (c == '\\' && Flag != TCssPending::Backslash) {
    S.Pending = TCssPending::Backslash;
    return;
  }
  vekstd::UrlStep(S.Url, c, Problem);
}

using TStep = void (*)(TCssState&, unsigned char, TCssPending, std::string&);
// Indexed by TCssMode.
const TStep kSteps[] = {ValueStep, QuotedStep, QuotedStep, CommentStep,
                        UrlStep,   UrlStep,    UrlStep,    UrlStep};
static_assert(sizeof kSteps / sizeof kSteps[0] == static_cast<size_t>(TCssMode::UrlDouble) + 1,
              "one step function per mode");

}  // namespace

void TCssState::AppendKey(std::string& Key) const {
  Key += static_cast<char>(Mode);
  Key += static_cast<char>(Pending);
  Key += static_cast<char>(Word.size());
  Key += Word;
  Url.AppendKey(Key);
}

const char* TCssState::Describe() const {
  switch (Mode) {
    case TCssMode::Value:
      return "CSS";
    case TCssMode::SingleQuote:
    case TCssMode::DoubleQuote:
      return "a CSS string";
    case TCssMode::Comment:
      return "a CSS comment";
    default:
      return "a CSS url()";
  }
}

void CssStep(TCssState& State, unsigned char C, std::string& Problem) {
  const TCssPending flag = State.Pending;
  State.Pending = TCssPending::None;
  kSteps[static_cast<size_t>(State.Mode)](State, C, flag, Problem);
}

}  // namespace vekstd
