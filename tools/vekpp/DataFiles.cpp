// The data of vekpp: JSON, YAML and TOML files read by their extension,
// merged in order, with --set values on top. Data files are hostile: every
// conversion walks with an explicit stack, nesting is capped before a
// library parser may recurse on it, and YAML aliases may not multiply the
// data beyond a bound.
#include <yaml-cpp/yaml.h>
#include <toml.hpp>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "base/Messages.h"
#include "site/DataFiles.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

const int kMaxNesting = 512;  // lists and objects within each other, in any data file

std::runtime_error Fault(const std::string& Name, const std::string& Message) {
  return std::runtime_error(Name + ": " + Message);
}

// The deepest nesting of flow brackets outside quoted strings and comments:
// enough to refuse what would make a recursive parser overflow its stack.
int FlowDepth(const std::string& Text, bool HashComments) {
  int depth = 0, deepest = 0;
  char quote = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (quote) {
      if (c == '\\' && quote == '"') {
        ++i;
      } else if (c == quote || c == '\n') {
        quote = 0;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '#' && HashComments) {
      while (i < Text.size() && Text[i] != '\n') ++i;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return deepest;
}

// The nesting of a converted tree, walked with a stack.
void CheckNesting(const json& Data, const std::string& Name) {
  std::vector<std::pair<const json*, int>> stack{{&Data, 1}};
  while (!stack.empty()) {
    const auto [v, depth] = stack.back();
    stack.pop_back();
    if (!v->is_structured()) continue;
    if (depth > kMaxNesting)
      throw Fault(Name, "lists and objects nested deeper than " + std::to_string(kMaxNesting));
    for (const auto& e : *v) stack.push_back({&e, depth + 1});
  }
}

// A plain YAML scalar as the value YAML's core schema gives it.
json YamlScalar(const YAML::Node& N) {
  const std::string& s = N.Scalar();
  if (N.Tag() != "?") return s;  // quoted, or tagged: a string
  if (s.empty() || s == "~" || s == "null" || s == "Null" || s == "NULL") return nullptr;
  if (s == "true" || s == "True" || s == "TRUE") return true;
  if (s == "false" || s == "False" || s == "FALSE") return false;
  const char c = s[0];
  if (c == '-' || c == '+' || (c >= '0' && c <= '9') || c == '.') {
    json n = json::parse(s[0] == '+' ? s.substr(1) : s, nullptr, false);
    if (!n.is_discarded() && n.is_number()) return n;
  }
  return s;
}

json FromYaml(const std::string& Text, const std::string& Name) {
  if (FlowDepth(Text, true) > kMaxNesting)
    throw Fault(Name, "lists and objects nested deeper than " + std::to_string(kMaxNesting));
  YAML::Node root;
  try {
    root = YAML::Load(Text);
  } catch (const YAML::Exception& e) {
    throw Fault(Name, e.what());
  }
  // Aliases share nodes; copied out they could multiply the data: the values
  // made are bounded by the size of the text.
  const size_t budget = Text.size() * 4 + 4096;
  size_t made = 0;
  json out;
  std::vector<std::pair<YAML::Node, json*>> stack{{root, &out}};
  while (!stack.empty()) {
    auto [node, target] = stack.back();
    stack.pop_back();
    if (++made > budget)
      throw Fault(Name, "the data expands to more than " + std::to_string(budget) +
                            " values (aliases that repeat themselves?)");
    switch (node.Type()) {
      case YAML::NodeType::Scalar:
        *target = YamlScalar(node);
        break;
      case YAML::NodeType::Sequence: {
        *target = json::array();
        for (size_t i = 0; i < node.size(); ++i) target->push_back(nullptr);
        for (size_t i = node.size(); i-- > 0;) stack.push_back({node[i], &(*target)[i]});
        break;
      }
      case YAML::NodeType::Map: {
        // All members first: the object's storage moves while it grows.
        *target = json::object();
        std::vector<std::pair<std::string, YAML::Node>> members;
        for (auto it = node.begin(); it != node.end(); ++it) {
          if (!it->first.IsScalar()) throw Fault(Name, "a key that is not a plain value");
          (*target)[it->first.Scalar()] = nullptr;
          members.push_back({it->first.Scalar(), it->second});
        }
        for (auto m = members.rbegin(); m != members.rend(); ++m)
          stack.push_back({m->second, &(*target)[m->first]});
        break;
      }
      default:
        *target = nullptr;
        break;
    }
  }
  return out;
}

template <class V>
std::string TomlText(const V& Value) {
  std::ostringstream os;
  os << Value;
  return os.str();
}

json FromToml(const std::string& Text, const std::string& Name) {
  if (FlowDepth(Text, true) > kMaxNesting)
    throw Fault(Name, "lists and tables nested deeper than " + std::to_string(kMaxNesting));
  toml::value root;
  try {
    std::istringstream in(Text);
    root = toml::parse(in, Name);
  } catch (const std::exception& e) {
    throw std::runtime_error(e.what());  // toml11 names the file and the place
  }
  json out;
  std::vector<std::pair<const toml::value*, json*>> stack{{&root, &out}};
  while (!stack.empty()) {
    auto [v, target] = stack.back();
    stack.pop_back();
    switch (v->type()) {
      case toml::value_t::boolean:
        *target = v->as_boolean();
        break;
      case toml::value_t::integer:
        *target = v->as_integer();
        break;
      case toml::value_t::floating:
        *target = v->as_floating();
        break;
      case toml::value_t::string:
        *target = v->as_string().str;
        break;
      case toml::value_t::offset_datetime:
        *target = TomlText(v->as_offset_datetime());
        break;
      case toml::value_t::local_datetime:
        *target = TomlText(v->as_local_datetime());
        break;
      case toml::value_t::local_date:
        *target = TomlText(v->as_local_date());
        break;
      case toml::value_t::local_time:
        *target = TomlText(v->as_local_time());
        break;
      case toml::value_t::array: {
        const auto& a = v->as_array();
        *target = json::array();
        for (size_t i = 0; i < a.size(); ++i) target->push_back(nullptr);
        for (size_t i = 0; i < a.size(); ++i) stack.push_back({&a[i], &(*target)[i]});
        break;
      }
      case toml::value_t::table: {
        // Tables are unordered in toml11: members go in the order they were
        // written, by where each value stands in the file.
        std::vector<std::pair<const std::string*, const toml::value*>> members;
        for (const auto& kv : v->as_table()) members.push_back({&kv.first, &kv.second});
        std::stable_sort(members.begin(), members.end(), [](const auto& a, const auto& b) {
          const auto la = a.second->location(), lb = b.second->location();
          return la.line() != lb.line() ? la.line() < lb.line() : la.column() < lb.column();
        });
        *target = json::object();
        for (const auto& m : members) (*target)[*m.first] = nullptr;
        for (const auto& m : members) stack.push_back({m.second, &(*target)[*m.first]});
        break;
      }
      default:
        *target = nullptr;
        break;
    }
  }
  return out;
}

json Parse(const std::string& Text, const std::string& Name, const std::string& Ext) {
  if (Ext == ".yaml" || Ext == ".yml") return FromYaml(Text, Name);
  if (Ext == ".toml") return FromToml(Text, Name);
  try {
    return json::parse(Text);
  } catch (const json::exception& e) {
    throw Fault(Name, e.what());
  }
}

// Into merges Over: members of objects on both sides merge, anything else
// is replaced. Walks with a stack.
void Merge(json& Into, json Over) {
  std::vector<std::pair<json*, json*>> stack{{&Into, &Over}};
  while (!stack.empty()) {
    auto [into, over] = stack.back();
    stack.pop_back();
    if (!into->is_object() || !over->is_object()) {
      *into = std::move(*over);
      continue;
    }
    // New members first: the object's storage moves while it grows.
    std::vector<std::pair<std::string, json*>> both;
    for (auto& [key, value] : over->items()) {
      if (into->contains(key)) {
        both.push_back({key, &value});
      } else {
        (*into)[key] = std::move(value);
      }
    }
    for (auto& [key, value] : both) stack.push_back({&(*into)[key], value});
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

}  // namespace

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
      text.assign(std::istreambuf_iterator<char>(*Stdin), std::istreambuf_iterator<char>());
      name = "<stdin>";
      ext = ".json";
    } else {
      errno = 0;
      std::ifstream in(path, std::ios::binary);
      if (!in)
        throw errno ? std::runtime_error(FileMessage(path, errno)) : Fault(path, "cannot be read");
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      ext = fs::path(path).extension().string();
      std::transform(ext.begin(), ext.end(), ext.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    }
    json one = Parse(text, name, ext);
    CheckNesting(one, name);
    Merge(*data, std::move(one));
  }
  for (const auto& set : Sets) ApplySet(*data, set);
  return data;
}
