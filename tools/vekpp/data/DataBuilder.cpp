// The faults the format readers share, and the nesting check of a tree.
#include "data/DataBuilder.h"

namespace vekdata {

const std::string kTooDeep =
    "lists and objects nested deeper than " + std::to_string(kMaxDataNesting);

std::runtime_error Fault(const std::string& Name, const std::string& Message) {
  return std::runtime_error(Name + ": " + Message);
}

std::runtime_error FaultAt(const std::string& Name, size_t Line, size_t Column,
                           const std::string& Message) {
  return std::runtime_error(Name + ":" + std::to_string(Line) + ":" + std::to_string(Column) +
                            ": " + Message);
}

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

}  // namespace vekdata
