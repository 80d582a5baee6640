// The JavaScript lexer: one small step function per mode.
#include "JsLexer.h"

#include <cstring>

namespace vekstd {

namespace {

void ExprStep(TJsState& S, unsigned char c, TJsPending Flag) {
  if (Flag == TJsPending::Slash && c == '/') {
    S.Mode = TJsMode::LineComment;
  } else if (Flag == TJsPending::Slash && c == '*') {
    S.Mode = TJsMode::BlockComment;
  } else if (c == '\'') {
    S.Mode = TJsMode::SingleQuote;
  } else if (c == '"') {
    S.Mode = TJsMode::DoubleQuote;
  } else if (c == '`') {
    S.Mode = TJsMode::Template;
  } else if (c == '/') {
    S.Pending = TJsPending::Slash;
  } else if (c == '{' && S.TemplateDepth > 0) {
    ++S.Braces[S.TemplateDepth - 1];
  } else if (c == '}' && S.TemplateDepth > 0) {
    // The brace that closes ${ returns to the template literal's text.
    if (S.Braces[S.TemplateDepth - 1] == 0) {
      --S.TemplateDepth;
      S.Mode = TJsMode::Template;
    } else {
      --S.Braces[S.TemplateDepth - 1];
    }
  }
}

void QuotedStep(TJsState& S, unsigned char c, TJsPending Flag) {
  if (Flag == TJsPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TJsPending::Backslash;
  } else if (c == (S.Mode == TJsMode::SingleQuote ? '\'' : '"') || c == '\n' || c == '\r') {
    S.Mode = TJsMode::Expr;
  }
}

void TemplateStep(TJsState& S, unsigned char c, TJsPending Flag) {
  if (Flag == TJsPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TJsPending::Backslash;
  } else if (c == '`') {
    S.Mode = TJsMode::Expr;
  } else if (c == '$') {
    S.Pending = TJsPending::Dollar;
  } else if (c == '{' && Flag == TJsPending::Dollar) {
    if (S.TemplateDepth < TJsState::kMaxTemplateDepth) {
      S.Braces[S.TemplateDepth++] = 0;
      S.Mode = TJsMode::Expr;
    }
    // Deeper nesting is taken as the literal's text: a value there is
    // escaped as a string, which cannot end the literal either.
  }
}

void LineCommentStep(TJsState& S, unsigned char c, TJsPending) {
  if (c == '\n' || c == '\r') S.Mode = TJsMode::Expr;
}

void BlockCommentStep(TJsState& S, unsigned char c, TJsPending Flag) {
  if (c == '*') {
    S.Pending = TJsPending::Star;
  } else if (c == '/' && Flag == TJsPending::Star) {
    S.Mode = TJsMode::Expr;
  }
}

using TStep = void (*)(TJsState&, unsigned char, TJsPending);
// Indexed by TJsMode.
const TStep kSteps[] = {ExprStep,     QuotedStep,      QuotedStep,
                        TemplateStep, LineCommentStep, BlockCommentStep};

}  // namespace

bool TJsState::operator==(const TJsState& O) const {
  return Mode == O.Mode && Pending == O.Pending && TemplateDepth == O.TemplateDepth &&
         std::memcmp(Braces, O.Braces, sizeof Braces) == 0;
}

void TJsState::AppendKey(std::string& Key) const {
  Key += static_cast<char>(Mode);
  Key += static_cast<char>(Pending);
  Key += static_cast<char>(TemplateDepth);
  Key.append(reinterpret_cast<const char*>(Braces), sizeof Braces);
}

void JsStep(TJsState& State, unsigned char C) {
  const TJsPending flag = State.Pending;
  State.Pending = TJsPending::None;
  kSteps[static_cast<size_t>(State.Mode)](State, C, flag);
}

}  // namespace vekstd
