// TDataBuilder: the data of a parser's events built in one pass, and the
// faults the format readers share (a file's name, with its place if known).
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "data/DataFiles.h"

namespace vekdata {

using json = TVekData;

/// "lists and objects nested deeper than kMaxDataNesting".
extern const std::string kTooDeep;

/// "Name: Message".
std::runtime_error Fault(const std::string& Name, const std::string& Message);
/// "Name:line:column: Message", Line and Column counted from 1.
std::runtime_error FaultAt(const std::string& Name, size_t Line, size_t Column,
                           const std::string& Message);
/// The line and column (from 1) of byte Offset of Text.
std::pair<size_t, size_t> LineColumn(const std::string& Text, size_t Offset);
/// Throws Fault(Name, kTooDeep) when Data nests deeper than kMaxDataNesting;
/// walks with a stack.
void CheckNesting(const json& Data, const std::string& Name);

/// The readers of each format, each in time linear in Text; they throw as
/// ParseDataText says.
json FromJson(const std::string& Text, const std::string& Name);
json FromYaml(const std::string& Text, const std::string& Name);
json FromToml(const std::string& Text, const std::string& Name);

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

}  // namespace vekdata
