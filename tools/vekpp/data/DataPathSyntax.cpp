// VekDataPathParts: a data path split into its parts, or why it cannot be.
#include "data/DataPathSyntax.h"

std::vector<std::string> VekDataPathParts(const std::string& Path, std::string& Error) {
  std::vector<std::string> parts;
  const auto refuse = [&](const char* Why) {
    Error = Why;
    parts.clear();
    return parts;
  };
  size_t i = 0;
  bool afterIndex = false;  // just after "]": only ".", "[" or the end may follow
  while (i < Path.size()) {
    const char c = Path[i];
    if (c == '[') {
      if (parts.empty()) return refuse("\"[\" before any name");
      const size_t close = Path.find(']', i);
      if (close == std::string::npos) return refuse("\"[\" without \"]\"");
      if (close == i + 1) return refuse("empty [] in the name");
      const std::string index = Path.substr(i + 1, close - i - 1);
      if (index.find_first_not_of("0123456789") != std::string::npos)
        return refuse("only digits may stand in []");
      parts.push_back(index);
      i = close + 1;
      afterIndex = true;
    } else if (c == '.' && afterIndex) {
      afterIndex = false;
      ++i;
      if (i == Path.size() || Path[i] == '.' || Path[i] == '[')
        return refuse("empty part in the name");
    } else if (afterIndex || c == ']') {
      return refuse(c == ']' ? "\"]\" without \"[\"" : "a name right after \"]\"");
    } else {
      size_t end = i;
      while (end < Path.size() && Path[end] != '.' && Path[end] != '[' && Path[end] != ']') ++end;
      if (end == i) return refuse("empty part in the name");
      parts.push_back(Path.substr(i, end - i));
      i = end;
      if (i < Path.size() && Path[i] == '.') {
        ++i;
        if (i == Path.size() || Path[i] == '.' || Path[i] == '[')
          return refuse("empty part in the name");
      }
    }
  }
  if (parts.empty()) return refuse("empty name");
  return parts;
}
