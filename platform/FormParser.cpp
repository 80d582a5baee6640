// The parser of form text: splits it into lines, reads each with a small
// lexer and builds the parse tree (FormTree.h), checking the syntax.
#include <memory>

#include "FormStreaming.h"
#include "FormTree.h"
#include "TextRoutines.h"

namespace vek_form {
namespace {

const char kEscapes[] = "expected an escape after the backslash (\\\\ \\\" \\t \\r \\n or \\xHH)";

// One line of the form, read from left to right.
class FormLineLexer {
 public:
  FormLineLexer(const AnsiString& text, size_t beg, size_t end, size_t line)
      : FText(text), FPos(beg), FEnd(end), FLine(line) {}

  size_t Line() const { return FLine; }

  [[noreturn]] void Fail(const AnsiString& what) const { throw EFormError(FLine, what); }

  void SkipBlanks() {
    while (FPos < FEnd && (FText[FPos] == ' ' || FText[FPos] == '\t')) ++FPos;
  }
  bool AtEnd() const { return FPos >= FEnd; }
  bool Peek(char c) const { return FPos < FEnd && FText[FPos] == c; }

  // What stands at the current position, for an error message.
  AnsiString Found() const {
    if (AtEnd()) return "the end of the line";
    size_t n = 0;
    while (FPos + n < FEnd && n < 24 && FText[FPos + n] != ' ' && FText[FPos + n] != '\t') ++n;
    return Quoted(FText.substr(FPos, n)) + (FPos + n < FEnd && n == 24 ? "..." : "");
  }

  bool ReadIdent(AnsiString& out) {
    const auto identByte = [&](size_t k, bool first) {
      const unsigned char c = static_cast<unsigned char>(FText[k]);
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
             (!first && c >= '0' && c <= '9');
    };
    if (AtEnd() || !identByte(FPos, true)) return false;
    const size_t b = FPos;
    while (FPos < FEnd && identByte(FPos, FPos == b)) ++FPos;
    out.assign(FText, b, FPos - b);
    return true;
  }

  // Consumes c (after blanks) or fails with "expected <what>".
  void Expect(char c, const AnsiString& what) {
    SkipBlanks();
    if (!Peek(c)) Fail("expected " + what + ", found " + Found());
    ++FPos;
  }

  // Nothing but blanks may follow.
  void ExpectEnd(const AnsiString& after) {
    SkipBlanks();
    if (!AtEnd()) Fail("expected the end of the line after " + after + ", found " + Found());
  }

  // A quoted string at the current position (which holds '"').
  AnsiString ReadString() {
    AnsiString out;
    ++FPos;
    for (;;) {
      if (AtEnd())
        Fail(
            "expected a closing \" of the string, found the end of the line"
            " (write a line break inside a string as \\n or \\r)");
      const unsigned char c = static_cast<unsigned char>(FText[FPos++]);
      if (c == '"') return out;
      if (c == '\\') {
        out += ReadEscape();
      } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
        const AnsiString hex{kHex[c >> 4], kHex[c & 0xF]};
        Fail("expected the control byte 0x" + hex + " written as \\x" + hex +
             " inside the string, found it as a raw byte");
      } else {
        out += static_cast<char>(c);
      }
    }
  }

 private:
  static int HexValue(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  }

  // A byte of the form as an error message shows it.
  static AnsiString ByteText(unsigned char c) {
    if (c > 0x20 && c < 0x7F) return AnsiString("\"") + static_cast<char>(c) + "\"";
    return AnsiString("the byte 0x") + kHex[c >> 4] + kHex[c & 0xF];
  }

  // The escape after a backslash.
  char ReadEscape() {
    if (AtEnd()) Fail(AnsiString(kEscapes) + ", found the end of the line");
    const unsigned char c = static_cast<unsigned char>(FText[FPos++]);
    switch (c) {
      case '\\':
        return '\\';
      case '"':
        return '"';
      case 't':
        return '\t';
      case 'r':
        return '\r';
      case 'n':
        return '\n';
      case 'x': {
        int value = 0;
        for (int k = 0; k < 2; ++k) {
          const int d = AtEnd() ? -1 : HexValue(static_cast<unsigned char>(FText[FPos]));
          if (d < 0)
            Fail("expected two hex digits after \\x, found " +
                 (AtEnd() ? AnsiString("the end of the line")
                          : ByteText(static_cast<unsigned char>(FText[FPos]))));
          value = value * 16 + d;
          ++FPos;
        }
        return static_cast<char>(value);
      }
      default:
        Fail(AnsiString(kEscapes) + ", found " + ByteText(c));
    }
  }

  const AnsiString& FText;
  size_t FPos, FEnd, FLine;
};

// Builds the tree of a form, checking its syntax. Lines end at CR LF, CR or
// LF; blank lines and lines whose first non-blank byte is '#' are skipped.
class FormParser {
 public:
  explicit FormParser(const AnsiString& text) : FText(text) {}

  std::unique_ptr<FormObject> Parse() {
    const size_t n = FText.size();
    size_t pos = 0, line = 0;
    for (;;) {
      ++line;
      size_t end = pos;
      while (end < n && FText[end] != '\r' && FText[end] != '\n') ++end;
      ParseLine(FormLineLexer(FText, pos, end, line));
      if (end == n) break;
      pos = end + ((FText[end] == '\r' && end + 1 < n && FText[end + 1] == '\n') ? 2 : 1);
    }
    // `line` is now the last line, where the form ends.
    if (FList != nullptr)
      throw EFormError(line, "expected \"]\" closing the list " + FList->Name + " of line " +
                                 std::to_string(FList->Line) + ", found the end of the form");
    if (!FRoot)
      throw EFormError(line,
                       "expected \"component\" beginning the form, found the end of the form");
    if (!FOpen.empty())
      throw EFormError(line, "expected \"end\" of component " + Describe(*FOpen.back()) +
                                 " of line " + std::to_string(FOpen.back()->Line) +
                                 ", found the end of the form");
    return std::move(FRoot);
  }

 private:
  void ParseLine(FormLineLexer lx) {
    lx.SkipBlanks();
    if (lx.AtEnd() || lx.Peek('#')) return;
    if (FList != nullptr) return ParseListLine(lx);
    if (FDone)
      lx.Fail("expected nothing after the \"end\" of the form's component on line " +
              std::to_string(FDoneLine) + ", found " + lx.Found());
    if (!FRoot) {
      AnsiString word;
      const bool ident = lx.ReadIdent(word);
      if (!ident || word != "component") {
        lx.Fail("expected \"component\" beginning the form, found " +
                (ident ? Quoted(word) : lx.Found()));
      }
      FRoot = ParseHeader(lx);
      FOpen.push_back(FRoot.get());
      return;
    }
    FormObject& cur = *FOpen.back();
    AnsiString word;
    if (!lx.ReadIdent(word))
      lx.Fail("expected a property (Name = value), \"component\" or \"end\" in component " +
              Describe(cur) + ", found " + lx.Found());
    lx.SkipBlanks();
    if (word == "end" && lx.AtEnd()) {
      FOpen.pop_back();
      if (FOpen.empty()) {
        FDone = true;
        FDoneLine = lx.Line();
      }
      return;
    }
    if (word == "component" && !lx.Peek('=')) {
      if (static_cast<int>(FOpen.size()) >= kMaxDepth)
        lx.Fail("expected at most " + std::to_string(kMaxDepth) +
                " levels of nested components, found a deeper one");
      std::unique_ptr<FormObject> child = ParseHeader(lx);
      if (!child->Name.empty()) {
        const auto [it, added] = cur.ChildLines.emplace(NameKey(child->Name), child->Line);
        if (!added)
          lx.Fail("expected a component name not yet used in " + Describe(cur) + ", found " +
                  child->Name + " again (first on line " + std::to_string(it->second) + ")");
      }
      cur.Children.push_back(std::move(child));
      FOpen.push_back(cur.Children.back().get());
      return;
    }
    ParseProperty(lx, cur, word);
  }

  // "component [Name]: Class", after the keyword.
  std::unique_ptr<FormObject> ParseHeader(FormLineLexer& lx) {
    auto node = std::make_unique<FormObject>();
    node->Line = lx.Line();
    lx.SkipBlanks();
    lx.ReadIdent(node->Name);
    lx.Expect(':', node->Name.empty() ? "a component name or \":\" after \"component\""
                                      : "\":\" and a class name after the component name");
    lx.SkipBlanks();
    if (!lx.ReadIdent(node->ClassName))
      lx.Fail("expected a class name after \":\", found " + lx.Found());
    lx.ExpectEnd("the class name");
    return node;
  }

  void ParseProperty(FormLineLexer& lx, FormObject& cur, const AnsiString& name) {
    lx.Expect('=', "\"=\" after the property name " + name);
    if (!cur.Children.empty())
      lx.Fail("expected the properties of " + Describe(cur) +
              " before its nested components, found the property " + name + " after them");
    const auto [it, added] = cur.PropertyLines.emplace(NameKey(name), lx.Line());
    if (!added)
      lx.Fail("expected each property once, found " + name + " again (first on line " +
              std::to_string(it->second) + ")");
    FormProperty prop;
    prop.Name = name;
    prop.Line = lx.Line();
    FormValue& v = prop.Value;
    lx.SkipBlanks();
    AnsiString word;
    if (lx.Peek('"')) {
      v.Kind = FormValue::kString;
      v.Text = lx.ReadString();
      lx.ExpectEnd("the string");
    } else if (lx.Peek('[')) {
      v.Kind = FormValue::kList;
      lx.Expect('[', "\"[\"");
      lx.SkipBlanks();
      if (lx.Peek(']')) {
        lx.Expect(']', "\"]\"");
        lx.ExpectEnd("\"[]\"");
      } else {
        lx.ExpectEnd("\"[\" (each string of a list stands on a line of its own)");
        cur.Properties.push_back(std::move(prop));
        FList = &cur.Properties.back();
        return;
      }
    } else if (lx.ReadIdent(word)) {
      v.Kind = word == "unset" ? FormValue::kUnset : FormValue::kMethod;
      v.Text = word;
      lx.ExpectEnd("the method name");
    } else {
      lx.Fail("expected a value for " + name +
              ": a quoted string, \"[\" beginning a list of strings, a method name or \"unset\", "
              "found " +
              lx.Found());
    }
    cur.Properties.push_back(std::move(prop));
  }

  void ParseListLine(FormLineLexer& lx) {
    if (lx.Peek(']')) {
      lx.Expect(']', "\"]\"");
      lx.ExpectEnd("\"]\"");
      FList = nullptr;
      return;
    }
    if (!lx.Peek('"'))
      lx.Fail("expected a quoted string or \"]\" in the list " + FList->Name + " of line " +
              std::to_string(FList->Line) + ", found " + lx.Found());
    FList->Value.Lines.push_back(lx.ReadString());
    lx.ExpectEnd("the string");
  }

  const AnsiString& FText;
  std::unique_ptr<FormObject> FRoot;
  std::vector<FormObject*> FOpen;  // the open components, innermost last
  FormProperty* FList = nullptr;   // the list being read, if any
  bool FDone = false;              // the top component has ended
  size_t FDoneLine = 0;
};

}  // namespace

std::unique_ptr<FormObject> ParseForm(const AnsiString& Text) {
  return FormParser(Text).Parse();
}

}  // namespace vek_form
