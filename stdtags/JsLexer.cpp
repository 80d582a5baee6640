// The JavaScript lexer: one small step function per mode. Whether a '/'
// divides or begins a regular expression is judged by the token before it,
// as the ECMAScript grammar leaves it to the parser: after an expression's
// end (a name, a number, a literal, ')' or ']') it divides, after an operator,
// an opening bracket or a keyword such as `return` it begins a regexp.
#include "JsLexer.h"

namespace vekstd {

namespace {

bool IsBlank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool IsLineBreak(unsigned char c) {
  return c == '\n' || c == '\r';
}
bool IsDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
// A byte of an identifier or a number (bytes from 128 up: letters of other
// scripts; '\\' begins a \u escape in an identifier).
bool IsWordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' || c == '$' ||
         c == '\\' || c == '#' || c >= 0x80;
}

// Words after which a '/' begins a regular expression.
bool IsRegexpKeyword(const std::string& W) {
  static const char* const words[] = {"break", "case",    "continue", "delete",     "do",
                                      "else",  "finally", "in",       "instanceof", "return",
                                      "throw", "try",     "typeof",   "void"};
  for (const char* w : words) {
    if (W == w) return true;
  }
  return false;
}

// A byte of code that is not blank, not the start of a literal or comment,
// and not a '/': what a '/' after it would be.
void CodeByte(TJsState& S, unsigned char c) {
  if (IsWordByte(c)) {
    const bool unknown = S.Last == TJsState::kUnknownLast ||
                         (!S.Word.empty() && S.Word[0] == TJsState::kUnknownLast);
    if (IsWordByte(static_cast<unsigned char>(S.Last)) || S.Last == TJsState::kUnknownLast) {
      if (S.Word.size() <= TJsState::kMaxKeyword) S.Word += static_cast<char>(c);
    } else {
      S.Word.assign(1, static_cast<char>(c));
    }
    if (unknown) {
      // The word may continue one the lexer did not see.
      S.Word.assign(1, TJsState::kUnknownLast);
      S.Slash = TJsSlash::Unknown;
    } else {
      S.Slash = IsRegexpKeyword(S.Word) ? TJsSlash::Regexp : TJsSlash::DivOp;
    }
    S.Last = static_cast<char>(c);
    return;
  }
  S.Word.clear();
  if (c == '+' || c == '-') {
    // "++" and "--" end an expression; a single '+' or '-' is an operator.
    if (S.Last == TJsState::kUnknownLast) {
      S.Slash = TJsSlash::Unknown;
    } else {
      S.RunOdd = S.Last == static_cast<char>(c) ? !S.RunOdd : true;
      S.Slash = S.RunOdd ? TJsSlash::Regexp : TJsSlash::DivOp;
    }
  } else if (c == '.') {
    // "42." is a number; any other '.' is followed by a name.
    S.Slash =
        S.Last == TJsState::kUnknownLast
            ? TJsSlash::Unknown
            : (IsDigit(static_cast<unsigned char>(S.Last)) ? TJsSlash::DivOp : TJsSlash::Regexp);
  } else if (c == ')' || c == ']') {
    S.Slash = TJsSlash::DivOp;
  } else {
    // Every other punctuator, '}' included (a block's end is far likelier
    // before a regexp than an object literal before a division).
    S.Slash = TJsSlash::Regexp;
  }
  S.Last = static_cast<char>(c);
}

// A '/' that is neither a comment nor a regexp: the division operator.
void Division(TJsState& S) {
  S.Word.clear();
  S.Slash = TJsSlash::Regexp;
  S.Last = '/';
}

void EndLiteral(TJsState& S) {
  S.Mode = TJsMode::Expr;
  S.Slash = TJsSlash::DivOp;
  S.Word.clear();
  S.Last = ')';
}

void ExprByte(TJsState& S, unsigned char c, TJsPending Flag, std::string& Problem);

// The byte after a '/' of code.
void AfterSlash(TJsState& S, unsigned char c, std::string& Problem) {
  if (c == '/') {
    S.Mode = TJsMode::LineComment;
    return;
  }
  if (c == '*') {
    S.Mode = TJsMode::BlockComment;
    return;
  }
  S.LineStart = false;
  if (S.Slash == TJsSlash::Unknown) {
    Problem =
        "a '/' here could begin a regular expression or divide, depending on the way taken "
        "through the condition or the macro's body before it";
  }
  if (S.Slash == TJsSlash::Regexp) {
    S.Mode = TJsMode::Regexp;
    S.Word.clear();
    if (IsLineBreak(c)) {
      Problem = "a line break inside a regular-expression literal";
    } else if (c == '\\') {
      S.Pending = TJsPending::Backslash;
    } else if (c == '[') {
      S.Mode = TJsMode::RegexpClass;
    }
    return;
  }
  Division(S);
  ExprByte(S, c, TJsPending::None, Problem);
}

// The sequences "<!--" and (at a line's start) "-->" begin a comment in a
// classic script, as "//" does.
bool CommentOpener(TJsState& S, unsigned char c, TJsPending Flag) {
  if (Flag == TJsPending::LtBangDash && c == '-') {
    S.Mode = TJsMode::LineComment;
    return true;
  }
  if (Flag == TJsPending::DashDash && c == '>') {
    S.Mode = TJsMode::LineComment;
    return true;
  }
  return false;
}

void ExprByte(TJsState& S, unsigned char c, TJsPending Flag, std::string& Problem) {
  if (Flag == TJsPending::Slash) {
    AfterSlash(S, c, Problem);
    return;
  }
  if (CommentOpener(S, c, Flag)) return;
  if (IsBlank(c)) {
    if (IsLineBreak(c)) S.LineStart = true;
    if (S.Last != TJsState::kUnknownLast) S.Last = ' ';
    S.Word.clear();
    return;
  }
  const bool lineStart = S.LineStart;
  S.LineStart = false;
  switch (c) {
    case '\'':
      S.Mode = TJsMode::SingleQuote;
      return;
    case '"':
      S.Mode = TJsMode::DoubleQuote;
      return;
    case '`':
      S.Mode = TJsMode::Template;
      return;
    case '/':
      S.LineStart = lineStart;  // "/* */ -->" still begins a line
      S.Pending = TJsPending::Slash;
      return;
    case '{':
      if (!S.Braces.empty()) {
        if (static_cast<unsigned char>(S.Braces.back()) == 255) {
          Problem = "more than 255 braces open inside one ${...} of a template literal";
        } else {
          ++S.Braces.back();
        }
      }
      break;
    case '}':
      if (!S.Braces.empty()) {
        if (S.Braces.back() == 0) {
          // The brace that closes ${ returns to the template literal's text.
          S.Braces.pop_back();
          S.Mode = TJsMode::Template;
          return;
        }
        --S.Braces.back();
      }
      break;
    default:
      break;
  }
  CodeByte(S, c);
  if (c == '<') {
    S.Pending = TJsPending::Lt;
  } else if (c == '!' && Flag == TJsPending::Lt) {
    S.Pending = TJsPending::LtBang;
  } else if (c == '-' && Flag == TJsPending::LtBang) {
    S.Pending = TJsPending::LtBangDash;
  } else if (c == '-' && Flag == TJsPending::Dash) {
    S.Pending = TJsPending::DashDash;
  } else if (c == '-' && lineStart) {
    S.Pending = TJsPending::Dash;
    S.LineStart = true;
  }
}

void QuotedByte(TJsState& S, unsigned char c, TJsPending Flag, std::string&) {
  if (Flag == TJsPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TJsPending::Backslash;
  } else if (c == (S.Mode == TJsMode::SingleQuote ? '\'' : '"') || IsLineBreak(c)) {
    EndLiteral(S);
  }
}

void TemplateByte(TJsState& S, unsigned char c, TJsPending Flag, std::string& Problem) {
  if (Flag == TJsPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TJsPending::Backslash;
  } else if (c == '`') {
    EndLiteral(S);
  } else if (c == '$') {
    S.Pending = TJsPending::Dollar;
  } else if (c == '{' && Flag == TJsPending::Dollar) {
    if (S.Braces.size() >= TJsState::kMaxTemplateDepth) {
      Problem = "template literals nested through ${ more than 32 deep";
      return;
    }
    S.Braces.push_back(0);
    S.Mode = TJsMode::Expr;
    S.Slash = TJsSlash::Regexp;
    S.Word.clear();
    S.Last = '{';
  }
}

void RegexpByte(TJsState& S, unsigned char c, TJsPending Flag, std::string& Problem) {
  if (IsLineBreak(c)) Problem = "a line break inside a regular-expression literal";
  if (Flag == TJsPending::Backslash) return;
  if (c == '\\') {
    S.Pending = TJsPending::Backslash;
  } else if (S.Mode == TJsMode::RegexpClass) {
    if (c == ']') S.Mode = TJsMode::Regexp;
  } else if (c == '[') {
    S.Mode = TJsMode::RegexpClass;
  } else if (c == '/') {
    // Flags after the literal read as a word that ends an expression.
    EndLiteral(S);
    S.Last = '/';
  }
}

void LineCommentByte(TJsState& S, unsigned char c, TJsPending, std::string&) {
  if (IsLineBreak(c)) {
    S.Mode = TJsMode::Expr;
    S.LineStart = true;
    if (S.Last != TJsState::kUnknownLast) S.Last = ' ';
  }
}

void BlockCommentByte(TJsState& S, unsigned char c, TJsPending Flag, std::string&) {
  if (IsLineBreak(c)) S.LineStart = true;
  if (c == '*') {
    S.Pending = TJsPending::Star;
  } else if (c == '/' && Flag == TJsPending::Star) {
    S.Mode = TJsMode::Expr;
    if (S.Last != TJsState::kUnknownLast) S.Last = ' ';
  }
}

using TStep = void (*)(TJsState&, unsigned char, TJsPending, std::string&);
// Indexed by TJsMode.
const TStep kSteps[] = {ExprByte,   QuotedByte, QuotedByte,      TemplateByte,
                        RegexpByte, RegexpByte, LineCommentByte, BlockCommentByte};
static_assert(sizeof kSteps / sizeof kSteps[0] == static_cast<size_t>(TJsMode::BlockComment) + 1,
              "one step function per mode");

// U+2028 and U+2029 (E2 80 A8, E2 80 A9) end a line as LF does, where lines
// matter: in code, comments and regexps. Returns true when C is held back.
bool LineSeparator(TJsState& S, unsigned char& C, TJsPending& Flag) {
  const bool lines = S.Mode == TJsMode::Expr || S.Mode == TJsMode::LineComment ||
                     S.Mode == TJsMode::BlockComment || S.Mode == TJsMode::Regexp ||
                     S.Mode == TJsMode::RegexpClass;
  if (!lines) return false;
  if (C == 0xE2 && Flag != TJsPending::Backslash) {
    S.Pending = TJsPending::E2;
    return true;
  }
  if (Flag == TJsPending::E2 && C == 0x80) {
    S.Pending = TJsPending::E280;
    return true;
  }
  if (Flag == TJsPending::E280 && (C == 0xA8 || C == 0xA9)) {
    C = '\n';
    Flag = TJsPending::None;
  } else if (Flag == TJsPending::E2 || Flag == TJsPending::E280) {
    Flag = TJsPending::None;  // another letter of a non-Latin script: its last byte stands for it
  }
  return false;
}

}  // namespace

bool TJsState::operator==(const TJsState& O) const {
  return Mode == O.Mode && Pending == O.Pending && Slash == O.Slash && LineStart == O.LineStart &&
         RunOdd == O.RunOdd && Last == O.Last && Word == O.Word && Braces == O.Braces;
}

void TJsState::AppendKey(std::string& Key) const {
  for (const uint8_t b :
       {static_cast<uint8_t>(Mode), static_cast<uint8_t>(Pending), static_cast<uint8_t>(Slash),
        static_cast<uint8_t>(LineStart), static_cast<uint8_t>(RunOdd), static_cast<uint8_t>(Last)})
    Key += static_cast<char>(b);
  for (const std::string* s : {&Word, &Braces}) {
    Key += static_cast<char>(s->size());
    Key += *s;
  }
}

const char* TJsState::Describe() const {
  switch (Mode) {
    case TJsMode::Expr:
      return "JavaScript code";
    case TJsMode::SingleQuote:
      return "a JavaScript string in '...'";
    case TJsMode::DoubleQuote:
      return "a JavaScript string in \"...\"";
    case TJsMode::Template:
      return "a JavaScript template literal";
    case TJsMode::Regexp:
    case TJsMode::RegexpClass:
      return "a JavaScript regular expression";
    case TJsMode::LineComment:
    case TJsMode::BlockComment:
      return "a JavaScript comment";
  }
  return "JavaScript";
}

void TJsState::BeforeValue(std::string& Problem) {
  if (Pending != TJsPending::Slash) return;
  Pending = TJsPending::None;
  LineStart = false;
  if (Slash == TJsSlash::Unknown) {
    Problem =
        "a value right after a '/' that could begin a regular expression or divide, depending on "
        "the way taken through the condition before it";
  } else if (Slash == TJsSlash::Regexp) {
    Mode = TJsMode::Regexp;
    Word.clear();
  } else {
    Division(*this);
  }
}

void TJsState::AfterValue() {
  Pending = TJsPending::None;
  if (Mode != TJsMode::Expr) return;
  Slash = TJsSlash::DivOp;
  LineStart = false;
  Word.clear();
  Last = ' ';
}

void JsStep(TJsState& State, unsigned char C, std::string& Problem) {
  TJsPending flag = State.Pending;
  State.Pending = TJsPending::None;
  if (LineSeparator(State, C, flag)) return;
  kSteps[static_cast<size_t>(State.Mode)](State, C, flag, Problem);
}

bool JoinJs(const TJsState& A, const TJsState& B, TJsState& Out) {
  if (A.Mode != B.Mode || A.Braces != B.Braces || A.Pending != B.Pending) return false;
  Out = A;
  if (A.Mode != TJsMode::Expr) return A == B;
  if (A.Slash != B.Slash) Out.Slash = TJsSlash::Unknown;
  if (A.Last != B.Last || A.Word != B.Word || A.RunOdd != B.RunOdd) {
    Out.Last = TJsState::kUnknownLast;
    Out.Word.clear();
    Out.RunOdd = false;
  }
  // Where only one way stands at a line's start, "-->" is read as code: a
  // value escaped for code is safe in a comment as well.
  Out.LineStart = A.LineStart && B.LineStart;
  return true;
}

}  // namespace vekstd
