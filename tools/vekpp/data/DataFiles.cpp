// The data of vekpp: JSON, YAML and TOML files read by their extension,
// merged in order, with --set values on top. Data files are hostile: each
// format's reader (JsonData.cpp, YamlData.cpp, TomlData.cpp) builds the data
// in one pass (objects grow by appending, with a hash index of the keys of
// the objects still open), nesting is refused as it opens (before a parser
// recurses further), YAML aliases may not multiply the data beyond a bound,
// and a file's size is capped.
#include "data/DataFiles.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <unordered_map>

#include "base/Messages.h"
#include "data/DataBuilder.h"
#include "data/DataPathSyntax.h"

namespace fs = std::filesystem;
using vekdata::CheckNesting;
using vekdata::Fault;
using vekdata::FromJson;
using vekdata::FromToml;
using vekdata::FromYaml;
using vekdata::json;

namespace {

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

void ApplySet(json& Data, const std::string& Set) {
  const size_t eq = Set.find('=');
  if (eq == std::string::npos || eq == 0)
    throw std::runtime_error("--set " + Set + ": expected name=value");
  std::string error;
  const std::vector<std::string> parts = VekDataPathParts(Set.substr(0, eq), error);
  if (parts.empty()) throw std::runtime_error("--set " + Set + ": " + error);
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
