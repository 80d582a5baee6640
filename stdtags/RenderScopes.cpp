// Name look-up in a render's scopes: positions of the innermost loop, and
// dotted paths from the innermost scope out.
#include "RenderScopes.h"

#include "DataPath.h"

namespace vekstd {

namespace {

// The loop position @Name of the scope S in Scratch; false for an unknown name.
bool Position(const std::string& Name, const TScope& S, TVekData& Scratch) {
  if (Name == "@index") {
    Scratch = S.Index;
  } else if (Name == "@number") {
    Scratch = S.Index + 1;
  } else if (Name == "@count") {
    Scratch = S.Count;
  } else if (Name == "@first") {
    Scratch = S.Index == 0;
  } else if (Name == "@last") {
    Scratch = S.Index == S.Count - 1;
  } else if (Name == "@key") {
    if (S.Key) {
      Scratch = *S.Key;
    } else {
      Scratch = S.Index;
    }
  } else {
    return false;
  }
  return true;
}

}  // namespace

const TVekData* TScopes::Lookup(const std::string& Path, TVekData& Scratch) const {
  if (Path == ".") return FScopes.back().Value;
  if (!Path.empty() && Path[0] == '@') {
    for (auto it = FScopes.rbegin(); it != FScopes.rend(); ++it) {
      if (it->Index < 0) continue;
      return Position(Path, *it, Scratch) ? &Scratch : nullptr;
    }
    return nullptr;
  }
  // The first name is looked up from the innermost scope outwards; the rest
  // of the path only below what it found.
  const size_t dot = Path.find('.');
  const std::string first = Path.substr(0, dot);
  if (first.empty()) return nullptr;
  const TVekData* v = nullptr;
  for (auto it = FScopes.rbegin(); it != FScopes.rend() && !v; ++it) {
    if (it->Value->is_object()) v = DataStep(it->Value, first);
  }
  size_t start = dot;
  while (v && start != std::string::npos) {
    const size_t next = Path.find('.', start + 1);
    const std::string key =
        Path.substr(start + 1, next == std::string::npos ? std::string::npos : next - start - 1);
    if (key.empty()) return nullptr;
    v = DataStep(v, key);
    start = next;
  }
  return v;
}

}  // namespace vekstd
