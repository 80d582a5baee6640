// The CSS lexer: one small step function per mode.
#include "CssLexer.h"

namespace vekstd {

namespace {

void ValueStep(TCssState& S, unsigned char c, TCssPending Flag) {
  if (c == '*' && Flag == TCssPending::Slash) {
    S.Mode = TCssMode::Comment;
  } else if (c == '/') {
    S.Pending = TCssPending::Slash;
  } else if (c == '"') {
    S.Mode = TCssMode::DoubleQuote;
  } else if (c == '\'') {
    S.Mode = TCssMode::SingleQuote;
  }
}

void QuotedStep(TCssState& S, unsigned char c, TCssPending Flag) {
  if (Flag == TCssPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TCssPending::Backslash;
  } else if (c == (S.Mode == TCssMode::SingleQuote ? '\'' : '"') || c == '\n') {
    S.Mode = TCssMode::Value;
  }
}

void CommentStep(TCssState& S, unsigned char c, TCssPending Flag) {
  if (c == '*') {
    S.Pending = TCssPending::Star;
  } else if (c == '/' && Flag == TCssPending::Star) {
    S.Mode = TCssMode::Value;
  }
}

using TStep = void (*)(TCssState&, unsigned char, TCssPending);
// Indexed by TCssMode.
const TStep kSteps[] = {ValueStep, QuotedStep, QuotedStep, CommentStep};

}  // namespace

void TCssState::AppendKey(std::string& Key) const {
  Key += static_cast<char>(Mode);
  Key += static_cast<char>(Pending);
}

void CssStep(TCssState& State, unsigned char C) {
  const TCssPending flag = State.Pending;
  State.Pending = TCssPending::None;
  kSteps[static_cast<size_t>(State.Mode)](State, C, flag);
}

}  // namespace vekstd
