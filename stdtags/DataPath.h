// One step down a data path, shared by the renderer and the data-name check
// so that both resolve names alike. Internal to the standard tags.
#pragma once

#include <string>

#include "VekStdTags.h"

namespace vekstd {

/// The member Key of an object, or the element of a list at the decimal
/// position Key; nullptr when there is none (or V is neither).
inline const TVekData* DataStep(const TVekData* V, const std::string& Key) {
  if (V->is_object()) {
    const auto it = V->find(Key);
    return it == V->end() ? nullptr : &*it;
  }
  if (V->is_array() && !Key.empty() && Key.size() < 19 &&
      Key.find_first_not_of("0123456789") == std::string::npos) {
    const auto index = std::stoull(Key);
    return index < V->size() ? &(*V)[static_cast<size_t>(index)] : nullptr;
  }
  return nullptr;
}

}  // namespace vekstd
