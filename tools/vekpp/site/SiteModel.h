// What serve knows of a site's pages as build reads them (front matter,
// Markdown, page and site): the pages of one generation of the site's
// files, found by the name a request leads to.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "VekStdTags.h"
#include "site/SitePages.h"

/// The pages of a site at one generation of its files and one data.
struct TSiteModel {
  TSitePages Pages;
  std::unordered_map<std::string, const TSitePage*> ByName;  ///< output and source names
  uint64_t Generation = 0;
  std::shared_ptr<const TVekData> Data;
};

/// Reads the pages of Root (as vekpp build would, drafts and future pages
/// left out) again when the site's files or data changed. Safe from any
/// thread.
class TSiteModels {
 public:
  explicit TSiteModels(const TVekTemplateRoot& Root, AnsiString TagBeg, AnsiString TagEnd)
      : FRoot(Root), FTagBeg(std::move(TagBeg)), FTagEnd(std::move(TagEnd)) {}

  /// The model for Generation and Data; with Settled false (no watcher, or
  /// files changing) it is read anew. Throws std::runtime_error for a
  /// vekpp.toml that cannot be read.
  std::shared_ptr<const TSiteModel> Get(bool Settled, uint64_t Generation,
                                        const std::shared_ptr<const TVekData>& Data);

  /// The page Name leads to ("posts/x/index.html", "index.html", or a
  /// source name such as "about.html"), or null for a name no page has.
  static const TSitePage* Find(const TSiteModel& Model, const std::string& Name);

 private:
  const TVekTemplateRoot& FRoot;
  AnsiString FTagBeg, FTagEnd;
  std::mutex FMutex;
  std::shared_ptr<const TSiteModel> FModel;
  TSiteReadCache FReads;  // pages whose files did not change are not read again
};
