// The scopes of a render: the data, each loop's element and position, an
// include's parameters; and how a name is looked up in them (innermost
// first), @index and the other positions included (RenderScopes.cpp). Internal to the
// standard tags.
#pragma once

#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "DataPath.h"
#include "VekStdTags.h"

namespace vekstd {

/// A name bound by set or by an include's parameter: a list or an object
/// stays where it is in the data (Ref), anything else is held (Own).
struct TVar {
  TVekData Own;
  const TVekData* Ref = nullptr;
  bool Missing = false;  ///< a macro's parameter neither given nor defaulted
  const TVekData* Value() const { return Missing ? nullptr : Ref ? Ref : &Own; }
  void Assign(const TVekData* V) {
    if (V && (V->is_array() || V->is_object())) {
      Ref = V;
      Own = nullptr;
    } else {
      Ref = nullptr;
      Own = V ? *V : TVekData();
    }
  }
};

/// One scope: a value names are looked up in, and for a loop's element its
/// position; or the names set in one block.
struct TScope {
  const TVekData* Value = nullptr;
  long long Index = -1;  ///< position within the list of an each, -1 for other scopes
  long long Count = 0;
  const std::string* Key = nullptr;   ///< the member's name, when an each walks an object
  TVekData Own;                       ///< the number of a range
  const std::string* Name = nullptr;  ///< a named loop's element name: found by it alone
  bool IsVars = false;                ///< a scope of names (Vars), with no Value
  /// A macro's parameters: names not found in it or in scopes above it are
  /// looked up in the globals only, not in the caller's scopes.
  bool Sealed = false;
  /// The names of a scope of names, in the order they were first bound;
  /// indexed by a hash once there are more than a few.
  std::vector<std::pair<std::string_view, TVar>> Vars;
  std::unordered_map<std::string_view, size_t> VarIndex;

  /// The variable Name of a scope of names, made when missing. Name's
  /// bytes must outlive the scope (a template's text or details).
  TVar& Bind(std::string_view Name);
  /// Forgets the names bound (keeping the room they took).
  void ClearVars() {
    Vars.clear();
    VarIndex.clear();
  }
  /// The variable Name, or nullptr.
  const TVar* FindVar(std::string_view Name) const;

  /// Becomes S, whose names' room it takes; S is left with this scope's
  /// former room, its names forgotten.
  void Take(TScope& S) {
    Value = S.Value;
    Index = S.Index;
    Count = S.Count;
    Key = S.Key;
    Own = std::move(S.Own);
    Name = S.Name;
    IsVars = S.IsVars;
    Sealed = S.Sealed;
    Vars.swap(S.Vars);
    VarIndex.swap(S.VarIndex);
    S.ClearVars();
  }
};

inline const TVar* TScope::FindVar(std::string_view Name) const {
  if (!VarIndex.empty()) {
    const auto hit = VarIndex.find(Name);
    return hit == VarIndex.end() ? nullptr : &Vars[hit->second].second;
  }
  for (const auto& v : Vars) {
    if (v.first.size() == Name.size() && SameBytes(v.first.data(), Name.data(), Name.size()))
      return &v.second;
  }
  return nullptr;
}

/// The whole-number loop position Name (@index, @number, @count) of the
/// scope S into Out; false for any other name.
inline bool WholeLoopPosition(std::string_view Name, const TScope& S, long long& Out) {
  if (Name == "@index") {
    Out = S.Index;
  } else if (Name == "@number") {
    Out = S.Index + 1;
  } else if (Name == "@count") {
    Out = S.Count;
  } else {
    return false;
  }
  return true;
}

/// The loop position Name (@index, @number, @count, @first, @last, @key) of
/// the scope S, made in Scratch; false for an unknown name.
bool LoopPosition(const std::string& Name, const TScope& S, TVekData& Scratch);

/// The stack of scopes, innermost last. A scope's Own stays where it is
/// while scopes are pushed and popped above it.
class TScopes {
 public:
  TScopes() = default;
  TScopes(const TScopes&) = delete;  // FStack points into FScopes
  TScopes& operator=(const TScopes&) = delete;
  /// Pushes S (taking its place of a scope popped before, whose room for
  /// names S is then left with: a call's scope of parameters made again
  /// and again allocates nothing).
  void Push(TScope&& S) {
    if (FUsed == FScopes.size()) FScopes.emplace_back();
    TScope& slot = FScopes[FUsed++];
    slot.Take(S);
    FStack.push_back(&slot);
  }
  /// Pushes the globals, the first scope: what a macro's body sees besides
  /// its parameters.
  void PushGlobals(TScope&& S) {
    Push(std::move(S));
    FGlobals = FStack.size();
  }
  /// Pops the innermost scope; its place, and its room for names, is kept
  /// for the next Push.
  void Pop() {
    TScope& s = *FStack.back();
    FStack.pop_back();
    --FUsed;
    s.ClearVars();
    if (!s.Own.is_null()) s.Own = nullptr;
  }
  /// The innermost scope, or the one Below scopes under it.
  TScope& Innermost(size_t Below = 0) { return *FStack[FStack.size() - 1 - Below]; }

  /// The value at Path: "." for the innermost scope's value, @index, @number,
  /// @count, @first, @last and @key of the innermost loop (made in Scratch),
  /// or a dotted path whose first name is looked up from the innermost scope
  /// outwards and the rest below what it found. nullptr when there is none.
  /// Hint, when given, is the place of the member found the last time this
  /// path was looked up (see DataStep), kept by the caller per tag.
  const TVekData* Lookup(const std::string& Path, TVekData& Scratch,
                         uint32_t* Hint = nullptr) const;

  /// The whole-number position Path (@index, @number or @count) of the
  /// innermost loop into Out, without making a value as Lookup does; false
  /// for any other path, or where Lookup finds no loop.
  bool WholePosition(const std::string& Path, long long& Out) const;

  /// What Lookup(Path, Scratch, &Hint) gives, found without a walk when it
  /// is near: a name alone, the member at Hint of the innermost scope's
  /// object (a loop's element met again, found with one compare), or a
  /// name bound in the scopes of names on top (set, a macro's parameters)
  /// or a named loop's element right below them, and that value's member
  /// at Hint ("item.price"). nullptr when it is none of those (then look
  /// Path up).
  const TVekData* HintedMember(const std::string& Path, uint32_t Hint) const;

  /// For a Path that finds nothing: Path with its first part that finds
  /// nothing replaced by the nearest name there is where it was looked for,
  /// or "" when no name is near.
  std::string NearestPath(const std::string& Path) const;

 private:
  /// HintedMember where the innermost scope is one of names or a named loop's.
  const TVekData* NamedMember(const std::string& Path, uint32_t Hint) const;
  /// The member Name (N bytes) of the object V when it is the one at Hint.
  static const TVekData* MemberAt(const TVekData& V, const char* Name, size_t N, uint32_t Hint);

  std::deque<TScope> FScopes;   // a deque: a scope's Own stays where it is
  size_t FUsed = 0;             // the scopes of FScopes in use; those above are kept for reuse
  std::vector<TScope*> FStack;  // the same scopes, for a walk without the deque's steps
  size_t FGlobals = 0;          // the scopes at the bottom that hold the globals
};

inline const TVekData* TScopes::HintedMember(const std::string& Path, uint32_t Hint) const {
  // "@x" is a position, even where a member is named so.
  if (FStack.empty() || Path.empty() || Path[0] == '@') return nullptr;
  const TScope& s = *FStack.back();
  if (s.IsVars || s.Name) return NamedMember(Path, Hint);
  if (!s.Value->is_object()) return nullptr;
  return MemberAt(*s.Value, Path.data(), Path.size(), Hint);
}

inline const TVekData* TScopes::MemberAt(const TVekData& V, const char* Name, size_t N,
                                         uint32_t Hint) {
  const auto& members = V.get_ref<const TVekData::object_t&>();
  if (Hint >= members.size()) return nullptr;
  const auto& m = *(members.begin() + Hint);
  if (m.first.size() != N || !SameBytes(m.first.data(), Name, N)) return nullptr;
  // A member's name only: "a.b" is a step below "a".
  for (size_t i = 0; i < N; ++i) {
    if (Name[i] == '.') return nullptr;
  }
  return &m.second;
}

inline bool TScopes::WholePosition(const std::string& Path, long long& Out) const {
  if (Path.size() < 6 || Path[0] != '@') return false;
  for (size_t i = FStack.size(); i-- > 0;) {
    const TScope& s = *FStack[i];
    if (s.Sealed) return false;
    if (s.Index < 0) continue;
    return WholeLoopPosition(Path, s, Out);
  }
  return false;
}

// Inline: every value of a page is looked up.
inline const TVekData* TScopes::Lookup(const std::string& Path, TVekData& Scratch,
                                       uint32_t* Hint) const {
  TScope* const* const bottom = FStack.data();
  TScope* const* top = bottom + FStack.size();
  if (Path.size() == 1 && Path[0] == '.') {
    while (top != bottom) {
      const TScope& s = **--top;
      if (s.Sealed) return nullptr;
      if (!s.IsVars) return s.Value;
    }
    return nullptr;
  }
  if (!Path.empty() && Path[0] == '@') {
    while (top != bottom) {
      const TScope& s = **--top;
      if (s.Sealed) return nullptr;
      if (s.Index < 0) continue;
      return LoopPosition(Path, s, Scratch) ? &Scratch : nullptr;
    }
    return nullptr;
  }
  // The first name is looked up from the innermost scope outwards; the rest
  // of the path only below what it found.
  const std::string_view path(Path);
  size_t dot = 0;
  while (dot < path.size() && path[dot] != '.') ++dot;  // names are short
  if (dot == path.size()) dot = std::string_view::npos;
  const std::string_view first = path.substr(0, dot);
  if (first.empty()) return nullptr;
  const TVekData* v = nullptr;
  while (top != bottom && !v) {
    const TScope& s = **--top;
    if (s.IsVars) {
      if (const TVar* hit = s.FindVar(first)) {
        v = hit->Value();
        if (!v) return nullptr;  // a parameter missing: not looked for further out
      }
      // A macro's body sees its parameters, then the globals.
      if (s.Sealed && !v) top = bottom + FGlobals;
    } else if (s.Name) {
      if (*s.Name == first) v = s.Value;
    } else if (s.Value->is_object()) {
      v = Hint ? DataStep(s.Value, first, Hint) : DataStep(s.Value, first);
    }
  }
  size_t start = dot;
  while (v && start != std::string_view::npos) {
    const size_t next = path.find('.', start + 1);
    const std::string_view key = path.substr(
        start + 1, next == std::string_view::npos ? std::string_view::npos : next - start - 1);
    if (key.empty()) return nullptr;
    v = Hint ? DataStep(v, key, Hint) : DataStep(v, key);
    start = next;
  }
  return v;
}

}  // namespace vekstd
