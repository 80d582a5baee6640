// The data of vekpp: JSON, YAML and TOML files read by their extension,
// merged in order, with --set values on top. Data files are hostile: each
// parser's events build the data in one pass (objects grow by appending,
// with a hash index of the keys of the objects still open), nesting is
// refused as it opens (before a parser recurses further), YAML aliases may
// not multiply the data beyond a bound, and a file's size is capped.
#include <toml++/toml.h>
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/exceptions.h>
#include <yaml-cpp/mark.h>
#include <yaml-cpp/parser.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "base/Messages.h"
#include "site/DataFiles.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

const std::string kTooDeep =
    "lists and objects nested deeper than " + std::to_string(kMaxDataNesting);

std::runtime_error Fault(const std::string& Name, const std::string& Message) {
  return std::runtime_error(Name + ": " + Message);
}

// "Name:line:column: Message", Line and Column counted from 1.
std::runtime_error FaultAt(const std::string& Name, size_t Line, size_t Column,
                           const std::string& Message) {
  return std::runtime_error(Name + ":" + std::to_string(Line) + ":" + std::to_string(Column) +
                            ": " + Message);
}

// The line and column (from 1) of byte Offset of Text.
std::pair<size_t, size_t> LineColumn(const std::string& Text, size_t Offset) {
  size_t line = 1, start = 0;
  for (size_t i = 0; i < Offset && i < Text.size(); ++i) {
    if (Text[i] == '\n') {
      ++line;
      start = i + 1;
    }
  }
  return {line, Offset - start + 1};
}

// The offset of the first bracket outside strings that opens deeper than
// Limit (JSON's strings), or npos: where the JSON parser was stopped.
size_t DeepJsonBracket(const std::string& Text, int Limit) {
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '[' || c == '{') {
      if (++depth > Limit) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return std::string::npos;
}

// The nesting of a converted tree, walked with a stack.
void CheckNesting(const json& Data, const std::string& Name) {
  std::vector<std::pair<const json*, int>> stack{{&Data, 1}};
  while (!stack.empty()) {
    const auto [v, depth] = stack.back();
    stack.pop_back();
    if (!v->is_structured()) continue;
    if (depth > kMaxDataNesting) throw Fault(Name, kTooDeep);
    for (const auto& e : *v) stack.push_back({&e, depth + 1});
  }
}

// Builds a TVekData from a parser's events in one pass. Values go into the
// innermost open list or object; an object's members are appended to its
// storage, a repeated key found through the open object's hash index (the
// ordered object type would search its members one by one).
class TDataBuilder {
 public:
  /// The number of lists and objects open.
  int Depth() const { return static_cast<int>(FOpen.size()); }
  /// The innermost open container is an object.
  bool InObject() const { return !FOpen.empty() && FOpen.back().Node->is_object(); }
  /// The name of the next member of the innermost open object.
  void Key(std::string Key) { FKey = std::move(Key); }
  /// A value where the next one goes.
  void Add(json Value) { *Slot() = std::move(Value); }
  /// An empty list or object where the next value goes, open for its own.
  void Open(bool Object) {
    json* node = Slot();
    *node = Object ? json::object() : json::array();
    FOpen.push_back({node, {}});
  }
  /// Closes the innermost open container and returns it.
  const json& Close() {
    const json* node = FOpen.back().Node;
    FOpen.pop_back();
    return *node;
  }
  json Take() { return std::move(FRoot); }

 private:
  struct TOpen {
    json* Node;
    std::unordered_map<std::string, size_t> Index;  // objects: key -> member
  };
  json* Slot() {
    if (FOpen.empty()) return &FRoot;
    TOpen& top = FOpen.back();
    if (top.Node->is_array()) {
      top.Node->push_back(nullptr);
      return &top.Node->back();
    }
    auto& members = static_cast<json::object_t::Container&>(*top.Node->get_ptr<json::object_t*>());
    const auto [at, added] = top.Index.emplace(FKey, members.size());
    if (added) {
      members.emplace_back(std::move(FKey), nullptr);
      return &members.back().second;
    }
    json& existing = members[at->second].second;  // a repeated key: the last value wins
    existing = nullptr;
    return &existing;
  }
  json FRoot;
  std::vector<TOpen> FOpen;
  std::string FKey;
};

// JSON: nlohmann's SAX parser (it keeps its own nesting in a vector) feeds
// the builder; nesting past the limit stops it.
class TJsonEvents {
 public:
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using string_t = json::string_t;
  using binary_t = json::binary_t;

  bool TooDeep = false;
  TDataBuilder Builder;

  bool null() { return Add(nullptr); }
  bool boolean(bool V) { return Add(V); }
  bool number_integer(number_integer_t V) { return Add(V); }
  bool number_unsigned(number_unsigned_t V) { return Add(V); }
  bool number_float(number_float_t V, const string_t&) { return Add(V); }
  bool string(string_t& V) { return Add(std::move(V)); }
  bool binary(binary_t&) { return Add(nullptr); }  // JSON text has none
  bool start_object(std::size_t) { return Open(true); }
  bool key(string_t& V) {
    Builder.Key(std::move(V));
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(false); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& E) {
    throw std::runtime_error(E.what());
  }

 private:
  bool Add(json V) {
    Builder.Add(std::move(V));
    return true;
  }
  bool Open(bool Object) {
    if (Builder.Depth() >= kMaxDataNesting) return !(TooDeep = true);
    Builder.Open(Object);
    return true;
  }
  bool Close() {
    Builder.Close();
    return true;
  }
};

json FromJson(const std::string& Text, const std::string& Name) {
  TJsonEvents events;
  try {
    json::sax_parse(Text, &events);
  } catch (const std::exception& e) {
    throw Fault(Name, e.what());
  }
  if (events.TooDeep) {
    const auto [line, column] = LineColumn(Text, DeepJsonBracket(Text, kMaxDataNesting));
    throw FaultAt(Name, line, column, kTooDeep);
  }
  return events.Builder.Take();
}

// A plain YAML scalar as the value YAML's core schema gives it.
json YamlScalar(const std::string& Tag, const std::string& S) {
  if (Tag != "?") return S;  // quoted, or tagged: a string
  if (S.empty() || S == "~" || S == "null" || S == "Null" || S == "NULL") return nullptr;
  if (S == "true" || S == "True" || S == "TRUE") return true;
  if (S == "false" || S == "False" || S == "FALSE") return false;
  const char c = S[0];
  if (c == '-' || c == '+' || (c >= '0' && c <= '9') || c == '.') {
    json n = json::parse(S[0] == '+' ? S.substr(1) : S, nullptr, false);
    if (!n.is_discarded() && n.is_number()) return n;
  }
  return S;
}

// YAML: yaml-cpp's parser events (its parser recurses once per level of
// nesting: the level past the limit throws before it goes deeper) feed the
// builder. Aliases copy their anchor's value; every value made, copies
// included, counts against a budget proportional to the text.
class TYamlEvents : public YAML::EventHandler {
 public:
  TYamlEvents(const std::string& Name, size_t Budget) : FName(Name), FBudget(Budget) {}
  TDataBuilder Builder;

  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark& M, YAML::anchor_t A) override {
    Anchor(A, nullptr, nullptr);
    if (TakeKey(M, nullptr)) return;
    Value(M, nullptr);
  }
  void OnAlias(const YAML::Mark& M, YAML::anchor_t A) override {
    const auto found = FAnchors.find(A);
    if (found == FAnchors.end()) throw At(M, "an alias of a node that holds it");
    if (TakeKey(M, found->second.Text.get())) return;
    Made(M, found->second.Values);
    Builder.Add(found->second.Value);
    AfterValue();
  }
  void OnScalar(const YAML::Mark& M, const std::string& Tag, YAML::anchor_t A,
                const std::string& S) override {
    json v = YamlScalar(Tag, S);
    Anchor(A, v, &S);
    if (TakeKey(M, &S)) return;
    Value(M, std::move(v));
  }
  void OnSequenceStart(const YAML::Mark& M, const std::string&, YAML::anchor_t A,
                       YAML::EmitterStyle::value) override {
    Open(M, false, A);
  }
  void OnSequenceEnd() override { Close(); }
  void OnMapStart(const YAML::Mark& M, const std::string&, YAML::anchor_t A,
                  YAML::EmitterStyle::value) override {
    Open(M, true, A);
  }
  void OnMapEnd() override { Close(); }

 private:
  struct TAnchor {
    json Value;
    size_t Values;                      // in Value
    std::unique_ptr<std::string> Text;  // a scalar's text, for an alias as a key
  };
  struct TLevel {
    YAML::anchor_t Anchor;
    size_t MadeAtOpen;
    bool WantKey;  // objects: the next event is a key
  };

  std::runtime_error At(const YAML::Mark& M, const std::string& Message) const {
    return FaultAt(FName, static_cast<size_t>(M.line) + 1, static_cast<size_t>(M.column) + 1,
                   Message);
  }
  void Made(const YAML::Mark& M, size_t N) {
    FMade += N;
    if (FMade > FBudget)
      throw At(M, "the data expands to more than " + std::to_string(FBudget) +
                      " values (aliases that repeat themselves?)");
  }
  // When an object waits for a key, Text (a scalar's) is that key.
  bool TakeKey(const YAML::Mark& M, const std::string* Text) {
    if (FLevels.empty() || !FLevels.back().WantKey) return false;
    if (!Text) throw At(M, "a key that is not a plain value");
    Builder.Key(*Text);
    FLevels.back().WantKey = false;
    return true;
  }
  void AfterValue() {
    if (!FLevels.empty() && Builder.InObject()) FLevels.back().WantKey = true;
  }
  // A scalar's anchor: its value, and its text for an alias as a key.
  void Anchor(YAML::anchor_t A, const json& V, const std::string* Text) {
    if (A != YAML::NullAnchor)
      FAnchors[A] = {V, 1, Text ? std::make_unique<std::string>(*Text) : nullptr};
  }
  void Value(const YAML::Mark& M, json V) {
    Made(M, 1);
    Builder.Add(std::move(V));
    AfterValue();
  }
  void Open(const YAML::Mark& M, bool Object, YAML::anchor_t A) {
    if (!FLevels.empty() && FLevels.back().WantKey) throw At(M, "a key that is not a plain value");
    if (Builder.Depth() >= kMaxDataNesting) throw At(M, kTooDeep);
    Made(M, 1);
    Builder.Open(Object);
    FLevels.push_back({A, FMade - 1, Object});
  }
  void Close() {
    const TLevel level = FLevels.back();
    FLevels.pop_back();
    const json& closed = Builder.Close();
    if (level.Anchor != YAML::NullAnchor) {
      const size_t values = FMade - level.MadeAtOpen;
      Made(YAML::Mark(), values);  // the copy kept for aliases
      FAnchors[level.Anchor] = {closed, values, nullptr};
    }
    AfterValue();
  }

  const std::string& FName;
  const size_t FBudget;
  size_t FMade = 0;
  std::vector<TLevel> FLevels;
  std::unordered_map<YAML::anchor_t, TAnchor> FAnchors;
};

// The offset where the flow brackets of a YAML text nest deeper than
// Limit, or npos. yaml-cpp's scanner holds every token of nested flow
// collections until their keys are resolved (hundreds of bytes a bracket),
// so deep ones are refused before it runs. A quote opens a string only
// where a node starts and '#' a comment only after a blank, as in YAML, so
// that plain text (don't, a#b) hides no bracket: the count may come out
// too high (brackets in block scalars), never too low.
size_t YamlTooDeep(const std::string& Text, int Limit) {
  const auto blank = [&](size_t I) {
    return I >= Text.size() || Text[I] == ' ' || Text[I] == '\t' || Text[I] == '\r' ||
           Text[I] == '\n';
  };
  int depth = 0;
  bool nodeStart = true;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c == '\n') {
      nodeStart = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      continue;
    } else if (c == '#' && (i == 0 || blank(i - 1))) {
      while (i + 1 < Text.size() && Text[i + 1] != '\n') ++i;
    } else if ((c == '"' || c == '\'') && nodeStart) {
      for (++i; i < Text.size(); ++i) {
        if (c == '"' && Text[i] == '\\') {
          ++i;
        } else if (Text[i] == c) {
          if (c == '\'' && i + 1 < Text.size() && Text[i + 1] == '\'') {
            ++i;  // '' is a quote inside
          } else {
            break;
          }
        }
      }
      nodeStart = false;
    } else if (c == '[' || c == '{') {
      if (++depth > Limit) return i;
      nodeStart = true;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
      nodeStart = false;
    } else {
      // An indicator starts a node: a comma, a colon before a blank, a dash
      // or question mark between blanks (or after a bracket or comma).
      const bool after =
          i == 0 || blank(i - 1) || Text[i - 1] == '[' || Text[i - 1] == '{' || Text[i - 1] == ',';
      nodeStart = c == ',' || (c == ':' && blank(i + 1)) ||
                  ((c == '-' || c == '?') && blank(i + 1) && after);
    }
  }
  return std::string::npos;
}

// The first document of a YAML text; null for none.
json FromYaml(const std::string& Text, const std::string& Name) {
  const size_t deep = YamlTooDeep(Text, kMaxDataNesting);
  if (deep != std::string::npos) {
    const auto [line, column] = LineColumn(Text, deep);
    throw FaultAt(Name, line, column, kTooDeep);
  }
  TYamlEvents events(Name, Text.size() * 4 + 4096);
  try {
    std::istringstream in(Text);
    YAML::Parser parser(in);
    parser.HandleNextDocument(events);
  } catch (const YAML::DeepRecursion& e) {
    throw FaultAt(Name, static_cast<size_t>(e.mark.line) + 1,
                  static_cast<size_t>(e.mark.column) + 1,
                  "lists and objects nested deeper than the YAML parser allows");
  } catch (const YAML::Exception& e) {
    throw Fault(Name, e.what());
  }
  return events.Builder.Take();
}

// Past a TOML string starting at I (a quote), or Text.size() when it does
// not end: basic and literal strings, on one line or several.
size_t PastTomlString(const std::string& Text, size_t I) {
  const char q = Text[I];
  const bool multi = Text.compare(I, 3, std::string(3, q)) == 0;
  size_t i = I + (multi ? 3 : 1);
  while (i < Text.size()) {
    const char c = Text[i];
    if (c == '\\' && q == '"') {
      i += 2;
    } else if (!multi && (c == q || c == '\n')) {
      return i + 1;
    } else if (multi && Text.compare(i, 3, std::string(3, q)) == 0) {
      i += 3;
      for (int extra = 0; extra < 2 && i < Text.size() && Text[i] == q; ++extra) ++i;
      return i;
    } else {
      ++i;
    }
  }
  return Text.size();
}

// The offset where a TOML text nests deeper than Limit, or npos. Counted
// before the parser runs, which recurses on brackets and builds a table
// per part of a key: the parts of a table header, then those of a dotted
// key, and the brackets of a value with the keys inside its inline tables.
// Arrays of tables may add a level per part: the converted data is
// checked again after.
size_t TomlTooDeep(const std::string& Text, int Limit) {
  struct TLevel {
    char Bracket;
    int Depth;
  };
  std::vector<TLevel> open;   // inline arrays and tables of the current value
  int header = 1, depth = 1;  // levels of the current table, of the current place
  bool lineStart = true, inKey = false;
  for (size_t i = 0; i < Text.size();) {
    const char c = Text[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (c == '\n') {
      if (open.empty()) lineStart = true;
      ++i;
    } else if (c == '#') {
      while (i < Text.size() && Text[i] != '\n') ++i;
    } else if (lineStart && open.empty() && c == '[') {
      // A table header: [a.b] or [[a.b]].
      lineStart = false;
      header = 2;
      i += Text.compare(i, 2, "[[") == 0 ? 2 : 1;
      while (i < Text.size() && Text[i] != ']' && Text[i] != '\n') {
        if (Text[i] == '"' || Text[i] == '\'') {
          i = PastTomlString(Text, i);
          continue;
        }
        if (Text[i] == '.' && ++header > Limit) return i;
        ++i;
      }
    } else if (lineStart && open.empty()) {
      // A key/value line: the key's parts below the header's.
      lineStart = false;
      inKey = true;
      depth = header;
    } else if (c == '"' || c == '\'') {
      i = PastTomlString(Text, i);
    } else {
      if (inKey && c == '.') {
        if (++depth > Limit) return i;
      } else if (c == '=') {
        inKey = false;
      } else if (c == '[' || c == '{') {
        open.push_back({c, depth});
        if (++depth > Limit) return i;
        inKey = c == '{';
      } else if ((c == ']' || c == '}') && !open.empty()) {
        depth = open.back().Depth;
        open.pop_back();
        inKey = false;
      } else if (c == ',' && !open.empty()) {
        depth = open.back().Depth + 1;
        inKey = open.back().Bracket == '{';
      }
      ++i;
    }
  }
  return std::string::npos;
}

template <class V>
std::string TomlText(const V& Value) {
  std::ostringstream os;
  os << Value;
  return os.str();
}

// TOML: toml++ parses (it refuses inline nesting past its own limit); its
// tables are sorted by key, so members are put back in the order written
// by where each key stands.
json FromToml(const std::string& Text, const std::string& Name) {
  const size_t deep = TomlTooDeep(Text, kMaxDataNesting);
  if (deep != std::string::npos) {
    const auto [line, column] = LineColumn(Text, deep);
    throw FaultAt(Name, line, column, kTooDeep);
  }
  toml::table root;
  try {
    root = toml::parse(Text, Name);
  } catch (const toml::parse_error& e) {
    throw FaultAt(Name, e.source().begin.line, e.source().begin.column,
                  std::string(e.description()));
  }
  json out;
  std::vector<std::pair<const toml::node*, json*>> stack{{&root, &out}};
  while (!stack.empty()) {
    auto [v, target] = stack.back();
    stack.pop_back();
    switch (v->type()) {
      case toml::node_type::boolean:
        *target = v->as_boolean()->get();
        break;
      case toml::node_type::integer:
        *target = v->as_integer()->get();
        break;
      case toml::node_type::floating_point:
        *target = v->as_floating_point()->get();
        break;
      case toml::node_type::string:
        *target = v->as_string()->get();
        break;
      case toml::node_type::date:
        *target = TomlText(v->as_date()->get());
        break;
      case toml::node_type::time:
        *target = TomlText(v->as_time()->get());
        break;
      case toml::node_type::date_time:
        *target = TomlText(v->as_date_time()->get());
        break;
      case toml::node_type::array: {
        const toml::array& a = *v->as_array();
        *target = json::array();
        auto& items = *target->get_ptr<json::array_t*>();
        items.resize(a.size());
        for (size_t i = a.size(); i-- > 0;) stack.push_back({&a[i], &items[i]});
        break;
      }
      case toml::node_type::table: {
        std::vector<std::pair<const toml::key*, const toml::node*>> members;
        for (const auto& [key, value] : *v->as_table()) members.push_back({&key, &value});
        std::sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
          const auto &pa = a.first->source().begin, &pb = b.first->source().begin;
          return pa.line != pb.line ? pa.line < pb.line : pa.column < pb.column;
        });
        *target = json::object();
        auto& into = static_cast<json::object_t::Container&>(*target->get_ptr<json::object_t*>());
        into.reserve(members.size());
        for (const auto& m : members) into.emplace_back(std::string(m.first->str()), nullptr);
        for (size_t i = members.size(); i-- > 0;)
          stack.push_back({members[i].second, &into[i].second});
        break;
      }
      default:
        *target = nullptr;
        break;
    }
  }
  return out;
}

// Into merges Over: members of objects on both sides merge, anything else
// is replaced. Walks with a stack; each object pair is matched through a
// hash index of Into's keys.
void Merge(json& Into, json Over) {
  std::vector<std::pair<json*, json*>> stack{{&Into, &Over}};
  while (!stack.empty()) {
    auto [into, over] = stack.back();
    stack.pop_back();
    if (!into->is_object() || !over->is_object() || into->empty()) {
      *into = std::move(*over);
      continue;
    }
    auto& members = static_cast<json::object_t::Container&>(*into->get_ptr<json::object_t*>());
    std::unordered_map<std::string, size_t> index;
    for (size_t i = 0; i < members.size(); ++i) index.emplace(members[i].first, i);
    // New members first: the object's storage moves while it grows.
    std::vector<std::pair<size_t, json*>> both;
    for (auto& [key, value] : *over->get_ptr<json::object_t*>()) {
      const auto [at, added] = index.emplace(key, members.size());
      if (added) {
        members.emplace_back(key, std::move(value));
      } else {
        both.push_back({at->second, &value});
      }
    }
    for (const auto& [at, value] : both) stack.push_back({&members[at].second, value});
  }
}

bool Index(const std::string& Key, size_t& Out) {
  if (Key.empty() || Key.size() > 18 || Key.find_first_not_of("0123456789") != std::string::npos)
    return false;
  Out = static_cast<size_t>(std::stoull(Key));
  return true;
}

// "a.b[0].c" as its parts "a", "b", "0", "c".
std::vector<std::string> PathParts(const std::string& Path, const std::string& Set) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i <= Path.size(); ++i) {
    const char c = i < Path.size() ? Path[i] : '.';
    if (c == '.' || c == '[') {
      if (part.empty() && !(c == '[' && i > 0 && Path[i - 1] == ']'))
        throw std::runtime_error("--set " + Set + ": empty part in the name");
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else if (c == ']') {
      if (part.empty()) throw std::runtime_error("--set " + Set + ": empty [] in the name");
      parts.push_back(part);
      part.clear();
      if (i + 1 < Path.size() && Path[i + 1] == '.') ++i;
    } else {
      part += c;
    }
  }
  return parts;
}

void ApplySet(json& Data, const std::string& Set) {
  const size_t eq = Set.find('=');
  if (eq == std::string::npos || eq == 0)
    throw std::runtime_error("--set " + Set + ": expected name=value");
  const std::vector<std::string> parts = PathParts(Set.substr(0, eq), Set);
  json* node = &Data;
  std::string walked = "the data";
  for (size_t k = 0; k < parts.size(); ++k) {
    const std::string& key = parts[k];
    size_t index = 0;
    if (node->is_array()) {
      if (!Index(key, index) || index >= node->size())
        throw std::runtime_error("--set " + Set + ": " + walked + " has no element " + key);
      node = &(*node)[index];
    } else {
      if (node->is_null()) *node = json::object();
      if (!node->is_object())
        throw std::runtime_error("--set " + Set + ": " + walked + " is not an object");
      node = &(*node)[key];
    }
    walked = "\"" + key + "\"";
  }
  // JSON when it parses (false, 0, [1,2], {"a":1}), else the text as it is.
  const std::string value = Set.substr(eq + 1);
  json parsed = json::parse(value, nullptr, false);
  if (parsed.is_discarded()) {
    *node = value;
  } else {
    CheckNesting(parsed, "--set " + Set.substr(0, eq));
    *node = std::move(parsed);
  }
}

// All of In, or a fault naming Name when it holds more than
// kMaxDataFileBytes.
std::string ReadLimited(std::istream& In, const std::string& Name) {
  std::string text;
  char buffer[65536];
  while (In.read(buffer, sizeof buffer) || In.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(In.gcount()));
    if (text.size() > kMaxDataFileBytes)
      throw Fault(Name, "larger than the limit of " + std::to_string(kMaxDataFileBytes >> 20) +
                            " MiB for a data file");
  }
  return text;
}

}  // namespace

TVekData ParseDataText(const std::string& Text, const std::string& Name, const std::string& Ext) {
  if (Text.size() > kMaxDataFileBytes)
    throw Fault(Name, "larger than the limit of " + std::to_string(kMaxDataFileBytes >> 20) +
                          " MiB for a data file");
  json data = Ext == ".yaml" || Ext == ".yml" ? FromYaml(Text, Name)
              : Ext == ".toml"                ? FromToml(Text, Name)
                                              : FromJson(Text, Name);
  CheckNesting(data, Name);
  return data;
}

std::string DefaultDataFile(const std::string& Root) {
  std::error_code ec;
  for (const char* name : {"_data.json", "_data.yaml", "_data.yml", "_data.toml"}) {
    const fs::path path = fs::path(Root) / name;
    if (fs::is_regular_file(path, ec)) return path.string();
  }
  return std::string();
}

std::string DefaultDataFileOrJson(const std::filesystem::path& Root) {
  const std::string found = DefaultDataFile(Root.string());
  return found.empty() ? (Root / "_data.json").string() : found;
}

std::shared_ptr<const json> LoadData(const std::vector<std::string>& Paths,
                                     const std::vector<std::string>& Sets, std::istream* Stdin) {
  auto data = std::make_shared<json>(json::object());
  bool stdinUsed = false;
  for (const auto& path : Paths) {
    if (path.empty()) continue;
    std::string text, name = path, ext;
    if (path == "-") {
      if (!Stdin || stdinUsed)
        throw std::runtime_error("-: standard input is read once, for one file");
      stdinUsed = true;
      name = "<stdin>";
      text = ReadLimited(*Stdin, name);
      ext = ".json";
    } else {
      errno = 0;
      std::ifstream in(path, std::ios::binary);
      if (!in)
        throw errno ? std::runtime_error(FileMessage(path, errno)) : Fault(path, "cannot be read");
      text = ReadLimited(in, path);
      ext = fs::path(path).extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    json one = ParseDataText(text, name, ext);
    Merge(*data, std::move(one));
  }
  for (const auto& set : Sets) ApplySet(*data, set);
  return data;
}
