// A render's loop positions: @index, @number, @count, @first, @last, @key.
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

}  // namespace vekstd
