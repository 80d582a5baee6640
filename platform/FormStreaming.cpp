#include "FormStreaming.h"

#include <cstring>
#include <memory>
#include <unordered_map>

#include "Encoding.h"
#include "Streams.h"
#include "StringList.h"
#include "TextRoutines.h"

namespace {

using std::size_t;

// Components nest at most this deep, so that reading and writing recurse a
// bounded number of levels whatever the input.
constexpr int kMaxDepth = 64;

const char kHex[] = "0123456789ABCDEF";
const char kEscapes[] = "expected an escape after the backslash (\\\\ \\\" \\t \\r \\n or \\xHH)";

// ---- Quoting -------------------------------------------------------------------

// S between double quotes. Quote, backslash, tab, CR and LF are written as
// \" \\ \t \r \n; other control bytes and every byte >= 0x80 that is not part
// of well-formed UTF-8 as \xHH. Everything else, UTF-8 text included, is
// written as it is, so the form stays readable and is itself valid UTF-8.
void AppendQuoted(AnsiString& out, const AnsiString& s) {
  out += '"';
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    switch (c) {
      case '"':
        out += "\\\"";
        continue;
      case '\\':
        out += "\\\\";
        continue;
      case '\t':
        out += "\\t";
        continue;
      case '\r':
        out += "\\r";
        continue;
      case '\n':
        out += "\\n";
        continue;
      default:
        break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
      continue;
    }
    if (c >= 0x80) {
      char32_t cp;
      if (const size_t len = vek_encoding::DecodeUtf8(s, i, cp); len != 0) {
        out.append(s, i, len);
        i += len - 1;
        continue;
      }
    }
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  out += '"';
}

// An identifier with its ASCII letters upper-cased: the key under which
// names that differ only in letter case are the same.
AnsiString NameKey(AnsiString s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

// Line (or index) of each name seen so far, by NameKey.
using NameIndex = std::unordered_map<AnsiString, size_t>;

AnsiString Quoted(const AnsiString& s) {
  AnsiString out;
  AppendQuoted(out, s);
  return out;
}

// ---- Parse tree ------------------------------------------------------------------

struct ValueNode {
  enum Kind { kString, kList, kMethod, kUnset } kind = kString;
  AnsiString text;                // kString: the string; kMethod: the name
  std::vector<AnsiString> lines;  // kList
};

struct PropNode {
  AnsiString name;
  size_t line = 0;
  ValueNode value;
};

struct ObjNode {
  AnsiString name, cls;
  size_t line = 0;
  std::vector<PropNode> props;
  std::vector<std::unique_ptr<ObjNode>> children;
  NameIndex propLines, childLines;  // while parsing: the names used so far
};

const char* KindText(ValueNode::Kind k) {
  switch (k) {
    case ValueNode::kString:
      return "a quoted string";
    case ValueNode::kList:
      return "a list of strings";
    case ValueNode::kMethod:
      return "a method name";
    case ValueNode::kUnset:
      return "\"unset\"";
  }
  return "a value";
}

// ---- Parser ----------------------------------------------------------------------

// One line of the form, read from left to right.
class LineLexer {
 public:
  LineLexer(const AnsiString& text, size_t beg, size_t end, size_t line)
      : s_(text), i_(beg), end_(end), line_(line) {}

  size_t Line() const { return line_; }

  [[noreturn]] void Fail(const AnsiString& what) const { throw EFormError(line_, what); }

  void SkipBlanks() {
    while (i_ < end_ && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
  }
  bool AtEnd() const { return i_ >= end_; }
  bool Peek(char c) const { return i_ < end_ && s_[i_] == c; }

  // What stands at the current position, for an error message.
  AnsiString Found() const {
    if (AtEnd()) return "the end of the line";
    size_t n = 0;
    while (i_ + n < end_ && n < 24 && s_[i_ + n] != ' ' && s_[i_ + n] != '\t') ++n;
    return Quoted(s_.substr(i_, n)) + (i_ + n < end_ && n == 24 ? "..." : "");
  }

  bool ReadIdent(AnsiString& out) {
    const auto identByte = [&](size_t k, bool first) {
      const unsigned char c = static_cast<unsigned char>(s_[k]);
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
             (!first && c >= '0' && c <= '9');
    };
    if (AtEnd() || !identByte(i_, true)) return false;
    const size_t b = i_;
    while (i_ < end_ && identByte(i_, i_ == b)) ++i_;
    out.assign(s_, b, i_ - b);
    return true;
  }

  // Consumes c (after blanks) or fails with "expected <what>".
  void Expect(char c, const AnsiString& what) {
    SkipBlanks();
    if (!Peek(c)) Fail("expected " + what + ", found " + Found());
    ++i_;
  }

  // Nothing but blanks may follow.
  void ExpectEnd(const AnsiString& after) {
    SkipBlanks();
    if (!AtEnd()) Fail("expected the end of the line after " + after + ", found " + Found());
  }

  // A quoted string at the current position (which holds '"').
  AnsiString ReadString() {
    AnsiString out;
    ++i_;
    for (;;) {
      if (AtEnd())
        Fail(
            "expected a closing \" of the string, found the end of the line"
            " (write a line break inside a string as \\n or \\r)");
      const unsigned char c = static_cast<unsigned char>(s_[i_++]);
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
    const unsigned char c = static_cast<unsigned char>(s_[i_++]);
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
          const int d = AtEnd() ? -1 : HexValue(static_cast<unsigned char>(s_[i_]));
          if (d < 0)
            Fail("expected two hex digits after \\x, found " +
                 (AtEnd() ? AnsiString("the end of the line")
                          : ByteText(static_cast<unsigned char>(s_[i_]))));
          value = value * 16 + d;
          ++i_;
        }
        return static_cast<char>(value);
      }
      default:
        Fail(AnsiString(kEscapes) + ", found " + ByteText(c));
    }
  }

  const AnsiString& s_;
  size_t i_, end_, line_;
};

AnsiString Describe(const ObjNode& n) {
  return n.name.empty() ? "the unnamed " + n.cls : n.name;
}

// Builds the tree of a form, checking its syntax. Lines end at CR LF, CR or
// LF; blank lines and lines whose first non-blank byte is '#' are skipped.
class Parser {
 public:
  explicit Parser(const AnsiString& text) : text_(text) {}

  std::unique_ptr<ObjNode> Parse() {
    const size_t n = text_.size();
    size_t pos = 0, line = 0;
    for (;;) {
      ++line;
      size_t end = pos;
      while (end < n && text_[end] != '\r' && text_[end] != '\n') ++end;
      ParseLine(LineLexer(text_, pos, end, line));
      if (end == n) break;
      pos = end + ((text_[end] == '\r' && end + 1 < n && text_[end + 1] == '\n') ? 2 : 1);
    }
    // `line` is now the last line, where the form ends.
    if (list_ != nullptr)
      throw EFormError(line, "expected \"]\" closing the list " + list_->name + " of line " +
                                 std::to_string(list_->line) + ", found the end of the form");
    if (!root_)
      throw EFormError(line,
                       "expected \"component\" beginning the form, found the end of the form");
    if (!stack_.empty())
      throw EFormError(line, "expected \"end\" of component " + Describe(*stack_.back()) +
                                 " of line " + std::to_string(stack_.back()->line) +
                                 ", found the end of the form");
    return std::move(root_);
  }

 private:
  void ParseLine(LineLexer lx) {
    lx.SkipBlanks();
    if (lx.AtEnd() || lx.Peek('#')) return;
    if (list_ != nullptr) return ParseListLine(lx);
    if (done_)
      lx.Fail("expected nothing after the \"end\" of the form's component on line " +
              std::to_string(doneLine_) + ", found " + lx.Found());
    if (!root_) {
      AnsiString word;
      const bool ident = lx.ReadIdent(word);
      if (!ident || word != "component") {
        lx.Fail("expected \"component\" beginning the form, found " +
                (ident ? Quoted(word) : lx.Found()));
      }
      root_ = ParseHeader(lx);
      stack_.push_back(root_.get());
      return;
    }
    ObjNode& cur = *stack_.back();
    AnsiString word;
    if (!lx.ReadIdent(word))
      lx.Fail("expected a property (Name = value), \"component\" or \"end\" in component " +
              Describe(cur) + ", found " + lx.Found());
    lx.SkipBlanks();
    if (word == "end" && lx.AtEnd()) {
      stack_.pop_back();
      if (stack_.empty()) {
        done_ = true;
        doneLine_ = lx.Line();
      }
      return;
    }
    if (word == "component" && !lx.Peek('=')) {
      if (static_cast<int>(stack_.size()) >= kMaxDepth)
        lx.Fail("expected at most " + std::to_string(kMaxDepth) +
                " levels of nested components, found a deeper one");
      std::unique_ptr<ObjNode> child = ParseHeader(lx);
      if (!child->name.empty()) {
        const auto [it, added] = cur.childLines.emplace(NameKey(child->name), child->line);
        if (!added)
          lx.Fail("expected a component name not yet used in " + Describe(cur) + ", found " +
                  child->name + " again (first on line " + std::to_string(it->second) + ")");
      }
      cur.children.push_back(std::move(child));
      stack_.push_back(cur.children.back().get());
      return;
    }
    ParseProperty(lx, cur, word);
  }

  // "component [Name]: Class", after the keyword.
  std::unique_ptr<ObjNode> ParseHeader(LineLexer& lx) {
    auto node = std::make_unique<ObjNode>();
    node->line = lx.Line();
    lx.SkipBlanks();
    lx.ReadIdent(node->name);
    lx.Expect(':', node->name.empty() ? "a component name or \":\" after \"component\""
                                      : "\":\" and a class name after the component name");
    lx.SkipBlanks();
    if (!lx.ReadIdent(node->cls)) lx.Fail("expected a class name after \":\", found " + lx.Found());
    lx.ExpectEnd("the class name");
    return node;
  }

  void ParseProperty(LineLexer& lx, ObjNode& cur, const AnsiString& name) {
    lx.Expect('=', "\"=\" after the property name " + name);
    if (!cur.children.empty())
      lx.Fail("expected the properties of " + Describe(cur) +
              " before its nested components, found the property " + name + " after them");
    const auto [it, added] = cur.propLines.emplace(NameKey(name), lx.Line());
    if (!added)
      lx.Fail("expected each property once, found " + name + " again (first on line " +
              std::to_string(it->second) + ")");
    PropNode prop;
    prop.name = name;
    prop.line = lx.Line();
    ValueNode& v = prop.value;
    lx.SkipBlanks();
    AnsiString word;
    if (lx.Peek('"')) {
      v.kind = ValueNode::kString;
      v.text = lx.ReadString();
      lx.ExpectEnd("the string");
    } else if (lx.Peek('[')) {
      v.kind = ValueNode::kList;
      lx.Expect('[', "\"[\"");
      lx.SkipBlanks();
      if (lx.Peek(']')) {
        lx.Expect(']', "\"]\"");
        lx.ExpectEnd("\"[]\"");
      } else {
        lx.ExpectEnd("\"[\" (each string of a list stands on a line of its own)");
        cur.props.push_back(std::move(prop));
        list_ = &cur.props.back();
        return;
      }
    } else if (lx.ReadIdent(word)) {
      v.kind = word == "unset" ? ValueNode::kUnset : ValueNode::kMethod;
      v.text = word;
      lx.ExpectEnd("the method name");
    } else {
      lx.Fail("expected a value for " + name +
              ": a quoted string, \"[\" beginning a list of strings, a method name or \"unset\", "
              "found " +
              lx.Found());
    }
    cur.props.push_back(std::move(prop));
  }

  void ParseListLine(LineLexer& lx) {
    if (lx.Peek(']')) {
      lx.Expect(']', "\"]\"");
      lx.ExpectEnd("\"]\"");
      list_ = nullptr;
      return;
    }
    if (!lx.Peek('"'))
      lx.Fail("expected a quoted string or \"]\" in the list " + list_->name + " of line " +
              std::to_string(list_->line) + ", found " + lx.Found());
    list_->value.lines.push_back(lx.ReadString());
    lx.ExpectEnd("the string");
  }

  const AnsiString& text_;
  std::unique_ptr<ObjNode> root_;
  std::vector<ObjNode*> stack_;  // the open components, innermost last
  PropNode* list_ = nullptr;     // the list being read, if any
  bool done_ = false;            // the top component has ended
  size_t doneLine_ = 0;
};

// ---- Methods -----------------------------------------------------------------------

// The published method Name for an event of C: C's own, else its owner's, and
// so on. Sets *Publisher to the component that publishes it.
const TPublishedMethod* ResolveMethod(TComponent* C, const AnsiString& Name,
                                      TComponent** Publisher) {
  for (TComponent* o = C; o != nullptr; o = o->Owner())
    if (const TPublishedMethod* m = o->FindMethod(Name)) {
      *Publisher = o;
      return m;
    }
  return nullptr;
}

AnsiString Describe(const TComponent* c) {
  return c->Name().empty() ? "the unnamed " + c->ClassName() : c->Name();
}

// "Producer, DemoModule": where a method name is looked up.
AnsiString SearchPath(const TComponent* c) {
  AnsiString out;
  for (const TComponent* o = c; o != nullptr; o = o->Owner())
    out += (out.empty() ? "" : ", ") + Describe(o);
  return out;
}

// ---- Reader ------------------------------------------------------------------------

class Applier {
 public:
  explicit Applier(const TClassTable& classes) : classes_(classes) {}

  // Destroys what was created when an error left the read unfinished.
  ~Applier() {
    if (committed_) return;
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) delete *it;
  }

  void Commit() { committed_ = true; }

  TComponent* Create(const ObjNode& n, TComponent* owner) {
    const TComponentCreator* create = classes_.Find(n.cls);
    if (create == nullptr)
      throw EFormError(n.line, "expected a registered class, found the unknown class " + n.cls);
    TComponent* c = (*create)(owner);
    if (c == nullptr) throw EFormError(n.line, "the class table created no " + n.cls);
    created_.push_back(c);
    if (owner != nullptr && c->Owner() != owner) owner->InsertComponent(c);
    if (!SameText(c->ClassName(), n.cls))
      throw EFormError(n.line, "the class table created a " + c->ClassName() + " for " + n.cls);
    c->SetName(n.name);
    return c;
  }

  void Fill(const ObjNode& n, TComponent* c) {
    TPropertyList props;
    c->DeclareProperties(props);
    for (const PropNode& p : n.props) Assign(p, props, c);
    if (n.children.empty()) return;
    // The components c owned before, by name: the form's names are distinct,
    // so components created below are never looked up.
    std::unordered_map<AnsiString, TComponent*> owned;
    for (int i = 0; i < c->ComponentCount(); ++i)
      if (!c->Components(i)->Name().empty())
        owned.emplace(NameKey(c->Components(i)->Name()), c->Components(i));
    for (const auto& child : n.children) {
      TComponent* existing = nullptr;
      if (!child->name.empty())
        if (const auto it = owned.find(NameKey(child->name)); it != owned.end())
          existing = it->second;
      if (existing != nullptr && !SameText(existing->ClassName(), child->cls))
        throw EFormError(child->line, "expected " + Describe(existing) + " of " + Describe(c) +
                                          " to be a " + child->cls + ", found a " +
                                          existing->ClassName());
      Fill(*child, existing != nullptr ? existing : Create(*child, c));
    }
  }

 private:
  void Assign(const PropNode& p, const TPropertyList& props, TComponent* c) {
    const TPropertyInfo* info = props.Find(p.name);
    if (info == nullptr)
      throw EFormError(p.line, "expected a published property of " + c->ClassName() +
                                   ", found the unknown property " + p.name);
    const ValueNode& v = p.value;
    const auto wrongKind = [&](const char* expected) {
      throw EFormError(p.line, AnsiString("expected ") + expected + " for " + info->Name +
                                   ", found " + KindText(v.kind));
    };
    switch (info->Kind) {
      case TPropertyKind::pkString:
        if (v.kind != ValueNode::kString) wrongKind("a quoted string");
        info->SetString(v.text);
        break;
      case TPropertyKind::pkStrings: {
        if (v.kind != ValueNode::kList) wrongKind("a list of strings in [ ]");
        TStringList list;
        for (const AnsiString& s : v.lines) list.Add(s);
        info->SetStrings(&list);
        break;
      }
      case TPropertyKind::pkEvent: {
        if (v.kind == ValueNode::kUnset) {
          info->SetEvent(nullptr);
          break;
        }
        if (v.kind != ValueNode::kMethod) wrongKind("a method name or \"unset\"");
        TComponent* publisher = nullptr;
        const TPublishedMethod* m = ResolveMethod(c, v.text, &publisher);
        if (m == nullptr)
          throw EFormError(p.line, "expected a published method for " + info->Name +
                                       ", found the unknown method " + v.text + " (looked in " +
                                       SearchPath(c) + ")");
        if (std::strcmp(m->Signature, info->EventSignature) != 0)
          throw EFormError(p.line, "expected a method with the parameters of " + info->Name +
                                       ", found " + m->Name + " of " + Describe(publisher) +
                                       ", which has others");
        info->SetEvent(m);
        break;
      }
    }
  }

  const TClassTable& classes_;
  std::vector<TComponent*> created_;  // in order of creation
  bool committed_ = false;
};

// ---- Writer ------------------------------------------------------------------------

[[noreturn]] void CannotStore(const TComponent* c, const AnsiString& why) {
  throw EFormError(0, "Cannot store " + Describe(c) + ": " + why);
}

void WriteEvent(AnsiString& out, TComponent* c, const TPropertyInfo& p) {
  const TEventBinding b = p.GetEvent();
  if (!b.Assigned) {
    out += "unset";
    return;
  }
  if (b.MethodName.empty())
    CannotStore(c, p.Name + " is bound to a handler that is not a published method");
  TComponent* publisher = nullptr;
  const TPublishedMethod* m = ResolveMethod(c, b.MethodName, &publisher);
  if (m == nullptr)
    CannotStore(c, p.Name + " is bound to the method " + b.MethodName + ", which none of " +
                       SearchPath(c) + " publishes");
  if (std::strcmp(m->Signature, p.EventSignature) != 0)
    CannotStore(c, p.Name + " is bound to " + b.MethodName + ", but " + m->Name + " of " +
                       Describe(publisher) + " has other parameters");
  if (m->Object != b.Object)
    CannotStore(c, p.Name + " is bound to " + b.MethodName + " of another object than " +
                       Describe(publisher) + ", which publishes it");
  out += m->Name;
}

void WriteObject(AnsiString& out, TComponent* c, int depth) {
  if (depth >= kMaxDepth)
    CannotStore(c, "components nest deeper than " + std::to_string(kMaxDepth) + " levels");
  const AnsiString cls = c->ClassName();
  if (!c->Name().empty() && !IsValidIdent(c->Name()))
    CannotStore(c, "its name " + Quoted(c->Name()) + " is not an identifier");
  if (!IsValidIdent(cls)) CannotStore(c, "its class name " + Quoted(cls) + " is not an identifier");
  const AnsiString indent(static_cast<size_t>(depth) * 2, ' ');
  out += indent + "component" + (c->Name().empty() ? "" : " " + c->Name()) + ": " + cls + "\n";

  TPropertyList props;
  c->DeclareProperties(props);
  for (int i = 0; i < props.Count(); ++i) {
    const TPropertyInfo& p = props[i];
    out += indent + "  " + p.Name + " = ";
    switch (p.Kind) {
      case TPropertyKind::pkString:
        AppendQuoted(out, p.GetString());
        break;
      case TPropertyKind::pkStrings: {
        const TStrings* list = p.GetStrings();
        if (list == nullptr || list->Count() == 0) {
          out += "[]";
          break;
        }
        out += "[\n";
        for (const AnsiString& s : *list) {
          out += indent + "    ";
          AppendQuoted(out, s);
          out += '\n';
        }
        out += indent + "  ]";
        break;
      }
      case TPropertyKind::pkEvent:
        WriteEvent(out, c, p);
        break;
    }
    out += '\n';
  }

  NameIndex names;
  for (int i = 0; i < c->ComponentCount(); ++i) {
    TComponent* child = c->Components(i);
    if (!child->Name().empty() &&
        !names.emplace(NameKey(child->Name()), static_cast<size_t>(i)).second)
      CannotStore(c, "it owns two components named " + child->Name());
    WriteObject(out, child, depth + 1);
  }
  out += indent + "end\n";
}

}  // namespace

// ---- Public interface ----------------------------------------------------------------

EFormError::EFormError(std::size_t Line, const AnsiString& Message)
    : std::runtime_error(Line == 0 ? Message : "line " + std::to_string(Line) + ": " + Message),
      FLine(Line) {}

void TClassTable::Register(const AnsiString& ClassName, TComponentCreator Create) {
  if (!IsValidIdent(ClassName))
    throw std::invalid_argument("RegisterClass: \"" + ClassName + "\" is not a valid class name");
  if (!Create) throw std::invalid_argument("RegisterClass: no creator for " + ClassName);
  if (Find(ClassName) != nullptr)
    throw std::invalid_argument("RegisterClass: " + ClassName + " is already registered");
  FClasses.emplace_back(ClassName, std::move(Create));
}

const TComponentCreator* TClassTable::Find(const AnsiString& ClassName) const noexcept {
  for (const auto& [name, create] : FClasses)
    if (SameText(name, ClassName)) return &create;
  return nullptr;
}

AnsiString WriteComponentText(TComponent* Root) {
  if (Root == nullptr) throw std::invalid_argument("WriteComponentText: Root is null");
  AnsiString out;
  WriteObject(out, Root, 0);
  return out;
}

void WriteComponentToStream(TStream* Stream, TComponent* Root) {
  if (Stream == nullptr) throw std::invalid_argument("WriteComponentToStream: Stream is null");
  const AnsiString text = WriteComponentText(Root);
  Stream->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

void ReadComponentText(const AnsiString& Text, TComponent* Root, const TClassTable& Classes) {
  if (Root == nullptr) throw std::invalid_argument("ReadComponentText: Root is null");
  const std::unique_ptr<ObjNode> top = Parser(Text).Parse();
  if (!SameText(top->cls, Root->ClassName()))
    throw EFormError(top->line,
                     "expected a form of a " + Root->ClassName() + ", found one of a " + top->cls);
  Applier applier(Classes);
  Root->SetName(top->name);
  applier.Fill(*top, Root);
  applier.Commit();
}

void ReadComponentFromStream(TStream* Stream, TComponent* Root, const TClassTable& Classes) {
  if (Stream == nullptr) throw std::invalid_argument("ReadComponentFromStream: Stream is null");
  ReadComponentText(Stream->ReadToEnd(), Root, Classes);
}

TComponent* CreateComponentFromText(const AnsiString& Text, TComponent* Owner,
                                    const TClassTable& Classes) {
  const std::unique_ptr<ObjNode> top = Parser(Text).Parse();
  if (Owner != nullptr && !top->name.empty() && Owner->FindComponent(top->name) != nullptr)
    throw EFormError(top->line, "expected a component name not yet used in " + Describe(Owner) +
                                    ", found " + top->name);
  Applier applier(Classes);
  TComponent* c = applier.Create(*top, Owner);
  applier.Fill(*top, c);
  applier.Commit();
  return c;
}
