// The scopes of a render: the data, each loop's element and position, an
// include's parameters; and how a name is looked up in them (innermost
// first), @index and the other positions included. Internal to the
// standard tags.
#pragma once

#include <deque>
#include <string>

#include "VekStdTags.h"

namespace vekstd {

/// One scope: a value names are looked up in, and for a loop's element its
/// position.
struct TScope {
  const TVekData* Value = nullptr;
  long long Index = -1;  ///< position within the list of an each, -1 for other scopes
  long long Count = 0;
  const std::string* Key = nullptr;  ///< the member's name, when an each walks an object
  TVekData Own;                      ///< the number of a range
};

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

}  // namespace vekstd
