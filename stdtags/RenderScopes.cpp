// A render's loop positions (@index, @number, @count, @first, @last, @key)
// and the names bound in a scope of names.
#include "RenderScopes.h"

#include "Suggest.h"

namespace vekstd {

// The loop position @Name of the scope S in Scratch; false for an unknown name.
bool LoopPosition(const std::string& Path, const TScope& S, TVekData& Scratch) {
  const std::string_view Name(Path);
  long long whole = 0;
  if (WholeLoopPosition(Name, S, whole)) {
    Scratch = whole;
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

const TVekData* TScopes::NamedMember(const std::string& Path, uint32_t Hint) const {
  const char* p = Path.data();
  size_t n = Path.size();
  TScope* const* top = FStack.data() + FStack.size() - 1;
  const TScope* s = *top;
  // The first name, bound in a scope of names or naming a loop's element.
  size_t dot = 0;
  while (dot < n && p[dot] != '.') ++dot;
  if (dot == 0 || dot + 1 == n) return nullptr;  // ".", ".a", "a.": looked up in full
  const std::string_view first(p, dot);
  const TVekData* v = nullptr;
  while (s->IsVars) {
    if (const TVar* hit = s->FindVar(first)) {
      v = hit->Value();
      if (!v) return nullptr;
      break;
    }
    // Not found among a macro's parameters: the globals are next.
    if (s->Sealed || top == FStack.data()) return nullptr;
    s = *--top;
  }
  if (!v) {
    if (!s->Name || s->Name->size() != dot || !SameBytes(s->Name->data(), p, dot)) return nullptr;
    v = s->Value;
  }
  if (dot == n) return v;
  if (!v->is_object()) return nullptr;
  return MemberAt(*v, p + dot + 1, n - dot - 1, Hint);
}

std::string TScopes::NearestPath(const std::string& Path) const {
  if (Path.empty() || Path[0] == '@' || Path == ".") return "";
  TVekData scratch;
  size_t end = Path.find('.');
  size_t start = 0;
  while (Lookup(Path.substr(0, end), scratch)) {
    if (end == std::string::npos) return "";
    start = end + 1;
    end = Path.find('.', start);
  }
  const size_t kMost = 1000;  // members of one object compared
  std::vector<std::string> names;
  auto members = [&](const TVekData* V) {
    if (!V || !V->is_object()) return;
    size_t i = 0;
    for (auto it = V->begin(); it != V->end() && i < kMost; ++it, ++i) names.push_back(it.key());
  };
  if (start == 0) {
    for (const TScope* const scope : FStack) {
      const TScope& s = *scope;
      if (s.IsVars) {
        for (const auto& v : s.Vars) names.emplace_back(v.first);
      } else if (s.Name) {
        names.push_back(*s.Name);
      } else {
        members(s.Value);
      }
    }
  } else {
    members(Lookup(Path.substr(0, start - 1), scratch));
  }
  const std::string part = Path.substr(start, end == std::string::npos ? end : end - start);
  const std::string near = Nearest(part, names);
  if (near.empty()) return "";
  return Path.substr(0, start) + near + (end == std::string::npos ? "" : Path.substr(end));
}

TVar& TScope::Bind(std::string_view Name) {
  if (VarIndex.empty()) {
    for (auto& v : Vars) {
      if (v.first.size() == Name.size() && SameBytes(v.first.data(), Name.data(), Name.size()))
        return v.second;
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
