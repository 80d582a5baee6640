// TOML data: toml++ parses, members put back in the order written; header
// and key parts counted before the parser runs.
#include <toml++/toml.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "data/DataBuilder.h"

namespace vekdata {
namespace {

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

}  // namespace

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

}  // namespace vekdata
