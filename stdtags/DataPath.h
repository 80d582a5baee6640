// One step down a data path, shared by the renderer and the data-name check
// so that both resolve names alike. Internal to the standard tags.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "VekStdTags.h"

namespace vekstd {

/// The member Key of an object, or the element of a list at the decimal
/// position Key; nullptr when there is none (or V is neither).
inline const TVekData* DataStep(const TVekData* V, std::string_view Key) {
  if (V->is_object()) {
    // The members in order, compared without making a key string.
    for (const auto& m : V->get_ref<const TVekData::object_t&>()) {
      if (m.first.size() == Key.size() && std::string_view(m.first) == Key) return &m.second;
    }
    return nullptr;
  }
  if (V->is_array() && !Key.empty() && Key.size() < 19 &&
      Key.find_first_not_of("0123456789") == std::string_view::npos) {
    unsigned long long index = 0;
    for (const char c : Key) index = index * 10 + static_cast<unsigned long long>(c - '0');
    return index < V->size() ? &(*V)[static_cast<size_t>(index)] : nullptr;
  }
  return nullptr;
}

/// True when the N bytes at A and B are the same; inline for the short
/// names of data.
inline bool SameBytes(const char* A, const char* B, size_t N) {
  if (N > 16) return std::memcmp(A, B, N) == 0;
  for (size_t i = 0; i < N; ++i) {
    if (A[i] != B[i]) return false;
  }
  return true;
}

/// DataStep, trying first the member at *Hint of an object, and setting
/// *Hint to the member found: a value tag met again for the next element of
/// a loop finds its member with one compare. Member names are unique, so the
/// answer is DataStep's.
inline const TVekData* DataStep(const TVekData* V, std::string_view Key, uint32_t* Hint) {
  if (!V->is_object()) return DataStep(V, Key);
  const auto& members = V->get_ref<const TVekData::object_t&>();
  if (*Hint < members.size()) {
    const auto& m = *(members.begin() + *Hint);
    if (m.first.size() == Key.size() && SameBytes(m.first.data(), Key.data(), Key.size()))
      return &m.second;
  }
  for (auto it = members.begin(); it != members.end(); ++it) {
    if (it->first.size() == Key.size() && SameBytes(it->first.data(), Key.data(), Key.size())) {
      *Hint = static_cast<uint32_t>(it - members.begin());
      return &it->second;
    }
  }
  return nullptr;
}

}  // namespace vekstd
