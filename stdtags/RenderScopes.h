// The scopes of a render: the data, each loop's element and position, an
// include's parameters; and how a name is looked up in them (innermost
// first), @index and the other positions included (RenderScopes.cpp). Internal to the
// standard tags.
#pragma once

#include <deque>
#include <string>

#include "DataPath.h"
#include "VekStdTags.h"

namespace vekstd {

/// One scope: a value names are looked up in, and for a loop's element its
/// position.
struct TScope {
  const TVekData* Value = nullptr;
  long long Index = -1;  ///< position within the list of an each, -1 for other scopes
  long long Count = 0;
  const std::string* Key = nullptr;   ///< the member's name, when an each walks an object
  TVekData Own;                       ///< the number of a range
  const std::string* Name = nullptr;  ///< a named loop's element name: found by it alone
};

/// The loop position Name (@index, @number, @count, @first, @last, @key) of
/// the scope S, made in Scratch; false for an unknown name.
bool LoopPosition(const std::string& Name, const TScope& S, TVekData& Scratch);

/// The stack of scopes, innermost last. A scope's Own stays where it is
/// while scopes are pushed and popped above it.
class TScopes {
 public:
  void Push(TScope S) { FScopes.push_back(std::move(S)); }
  void Pop() { FScopes.pop_back(); }
  TScope& Innermost() { return FScopes.back(); }

  /// The value at Path: "." for the innermost scope's value, @index, @number,
  /// @count, @first, @last and @key of the innermost loop (made in Scratch),
  /// or a dotted path whose first name is looked up from the innermost scope
  /// outwards and the rest below what it found. nullptr when there is none.
  const TVekData* Lookup(const std::string& Path, TVekData& Scratch) const;

 private:
  std::deque<TScope> FScopes;  // a deque: a scope's Own stays where it is
};

// Inline: every value of a page is looked up.
inline const TVekData* TScopes::Lookup(const std::string& Path, TVekData& Scratch) const {
  if (Path == ".") return FScopes.back().Value;
  if (!Path.empty() && Path[0] == '@') {
    for (auto it = FScopes.rbegin(); it != FScopes.rend(); ++it) {
      if (it->Index < 0) continue;
      return LoopPosition(Path, *it, Scratch) ? &Scratch : nullptr;
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
    if (it->Name) {
      if (*it->Name == first) v = it->Value;
    } else if (it->Value->is_object()) {
      v = DataStep(it->Value, first);
    }
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
