// The grammar of a data path as templates write it ("items[0].name" or
// "items.0.name"), for the paths of --set, which must read alike.
#pragma once

#include <string>
#include <vector>

/// The parts of Path ("a.b[0].c" gives "a", "b", "0", "c"), read as the
/// standard tags read a path in a template: parts joined by ".", "[N]"
/// (decimal digits only) the same as ".N" after a part, then "." or "[" or
/// the end. Empty when Path is malformed (an empty part, "[]", "[x]", a
/// "[" first, text right after "]"), with Error saying what is wrong.
/// Linear in Path.
std::vector<std::string> VekDataPathParts(const std::string& Path, std::string& Error);
