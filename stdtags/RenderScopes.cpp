// A render's loop positions (@index, @number, @count, @first, @last, @key)
// and the names bound in a scope of names.
#include "RenderScopes.h"

namespace vekstd {

// The loop position @Name of the scope S in Scratch; false for an unknown name.
bool LoopPosition(const std::string& Name, const TScope& S, TVekData& Scratch) {
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

TVar& TScope::Bind(std::string_view Name) {
  if (VarIndex.empty()) {
    for (auto& v : Vars) {
      if (v.first == Name) return v.second;
    }
  } else {
    const auto hit = VarIndex.find(Name);
    if (hit != VarIndex.end()) return Vars[hit->second].second;
  }
  Vars.emplace_back(Name, TVar());
  // Beyond a few names, a hash index keeps each look-up constant.
  const size_t kLinear = 8;
  if (Vars.size() > kLinear) {
    if (VarIndex.empty()) {
      for (size_t i = 0; i + 1 < Vars.size(); ++i) VarIndex.emplace(Vars[i].first, i);
    }
    VarIndex.emplace(Name, Vars.size() - 1);
  }
  return Vars.back().second;
}

}  // namespace vekstd
