// Walking the tags of a template the way the producer reads them; shared by
// the checker and the handlers of the standard tags.
#pragma once

#include <vector>

#include "VekPgProd.h"

namespace vekstd {

/// One tag of a template: where it stands and what it says.
struct TTagAt {
  int Begin = 0;  // offset of its opening delimiter
  int End = 0;    // offset just past its closing delimiter
  AnsiString Text;
  AnsiString Name;
  std::vector<AnsiString> Params;
};

/// Finds the next tag of Text from Pos on with Scanner's delimiters and moves
/// Pos past it. At the end returns false and sets Unclosed to the offset of
/// an opening delimiter left without a closing one, or -1.
bool NextTag(TVekPageProducer& Scanner, const AnsiString& Text, int& Pos, TTagAt& Tag,
             int& Unclosed);

/// True for the names of the standard pair tags: each, if, unless.
bool IsPairName(const AnsiString& Name);

/// When Name is "/" and a standard pair tag's name (any letter case), that name.
AnsiString ClosedName(const AnsiString& Name);

/// Finds the else of an if or unless body: the first else tag not inside a
/// nested pair. Sets Begin and End to its offsets and returns true, or
/// returns false.
bool FindElse(TVekPageProducer& Scanner, const AnsiString& Body, int& Begin, int& End);

}  // namespace vekstd
