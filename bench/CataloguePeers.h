// The catalogue page of vek_stdtags_bench written for peer engines, each
// escaping its values for HTML: ctemplate with auto-escape and kainjow
// mustache. Their templates are parsed and their data built once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Engines.h"

namespace bench {

/// One item of the catalogue, as the standard tags' data holds it.
struct CatalogueItem {
  long long Id = 0;
  std::string Name;
  std::string Price;
  bool Sale = false;
};

/// The items of the catalogue page: Count of them, the same as
/// vek_stdtags_bench's data.
std::vector<CatalogueItem> CatalogueItems(int Count);

/// A peer rendering the catalogue of Items under Title: "ctemplate" (with
/// auto-escape in the HTML context) or "mustache" (kainjow, {{name}}
/// escaped). Null for an unknown name. Items must outlive the engine.
std::unique_ptr<Engine> MakeCataloguePeer(const std::string& Name,
                                          const std::vector<CatalogueItem>& Items,
                                          const std::string& Title);

}  // namespace bench
