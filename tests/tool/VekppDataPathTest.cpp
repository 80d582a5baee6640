// The grammar of --set paths, the same as of paths in templates: a table of
// paths and their parts or refusal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "data/DataPathSyntax.h"

namespace {

TEST(VekppDataPath, PartsOrRefusal) {
  struct TCase {
    const char* Path;
    std::vector<std::string> Parts;  // empty: refused
  };
  const TCase cases[] = {
      {"a", {"a"}},
      {"a.b.c", {"a", "b", "c"}},
      {"items[0].name", {"items", "0", "name"}},
      {"items.0.name", {"items", "0", "name"}},
      {"m[0][12]", {"m", "0", "12"}},
      {"a[01]", {"a", "01"}},
      {"a-b.c_d", {"a-b", "c_d"}},
      {"a[x]", {}},
      {"a[]", {}},
      {"a[0", {}},
      {"a]", {}},
      {"a[0]b", {}},
      {"[0]", {}},
      {"a.[0]", {}},
      {"a..b", {}},
      {".a", {}},
      {"a.", {}},
      {"a[0].", {}},
      {".", {}},
      {"", {}},
  };
  for (const TCase& c : cases) {
    std::string error;
    EXPECT_EQ(VekDataPathParts(c.Path, error), c.Parts) << c.Path;
    EXPECT_EQ(error.empty(), !c.Parts.empty()) << c.Path << ": " << error;
  }
}

}  // namespace
