// What one build of a site keeps for the next (vekpp build --watch): for
// each output, what it was made from, so that a change re-renders only the
// pages it affects.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "VekStdTags.h"
#include "site/SitePages.h"

/// A stamp no file has: what read a file of this stamp is read or rendered
/// again.
constexpr TVekFileStamp kUntrustedStamp{~0ULL, ~0ULL, ~0ULL, -1};

/// The dependency graph of a site's outputs. A page's output depends on
///  - its own data (front matter, rendered Markdown, URL, pager, the entries
///    of a tag page) and the template text made for it;
///  - the template files its last render read (the page itself, layouts,
///    includes, imports), by their stamps;
///  - the members of the site and of the data file that those templates and
///    that text name (site.title, site.pages, site.sections.posts,
///    site.tags, a data file's key ...), by a hash of their values. A global
///    value is reached in a template only by writing its name, so a page
///    whose templates never name site.pages does not depend on the list.
/// A copied file depends on its source's stamp. A page that failed, whose
/// output is missing, or that is new, is always rendered. Files modified
/// less than a second before a build began are not trusted by the next
/// (a change made while the build read them is seen).
class TBuildGraph {
 public:
  /// The pages read by the last build, reused by the next (SitePages.h).
  TSiteReadCache Reads;

  /// The outputs the last build rendered or copied (those it kept as they
  /// were are not listed), sorted. For the tests.
  std::vector<std::string> Written;

  /// The builds finished (Finish) with this graph.
  size_t Builds = 0;

  /// What the last build's outputs depend on besides the site's files
  /// (the state's key, Build.cpp): its state is written under this key,
  /// not one made later, when vekpp.toml may have changed since.
  std::string StateKey;

  /// Starts a build whose site (page lists, data file) is Globals, which
  /// must outlive Finish; files modified after StartNs (less a second) are
  /// not trusted. What is noted from here on replaces what was kept.
  void Begin(const TVekData& Globals, int64_t StartNs);
  /// True, and Page noted for the next build, when Page (not failed) would
  /// render as the last build rendered it: same data and text, same stamps
  /// of the template files it read, same values of the globals those name.
  bool Unchanged(const TVekTemplateRoot& Root, const TSitePage& Page);
  /// Notes that Page was rendered, reading FilesRead (as the render listed
  /// them).
  void Rendered(const TVekTemplateRoot& Root, const TSitePage& Page,
                const std::vector<AnsiString>& FilesRead);
  /// True, and noted, when the file Name has the stamp it had when copied.
  bool CopyUnchanged(const std::string& Name, const TVekFileStamp& Stamp);
  void Copied(const std::string& Name, const TVekFileStamp& Stamp);
  /// Ends the build: outputs it did not note are forgotten.
  void Finish();

 private:
  struct TEntry {
    std::string Source;
    uint64_t Key = 0;
    std::vector<std::string> Files;  // template files read, by name
    std::vector<TVekFileStamp> Stamps;
    std::vector<std::string> Names;  // global names the templates name
  };
  uint64_t GlobalHash(const std::string& Path);
  // The stamp of the template file Name at this build, false when it cannot
  // be located; each file located once per build.
  bool CurrentStamp(const TVekTemplateRoot& Root, const std::string& Name, TVekFileStamp& Stamp);
  // The global names File's text names, kept by the file's stamp.
  std::vector<std::string> FileNames(const TVekTemplateRoot& Root, const std::string& File,
                                     const TVekFileStamp& Stamp);
  // Page's key with the stamps and names of E.
  uint64_t Key(const TSitePage& Page, const TEntry& E);
  // Stamp, or a stamp that never matches for a file modified too recently.
  TVekFileStamp Trusted(TVekFileStamp Stamp) const;

  friend struct TBuildStateCodec;  // the state file (BuildState.cpp)

  std::mutex FMutex;
  std::unordered_map<std::string, TEntry> FPages, FNextPages;
  std::unordered_map<std::string, TVekFileStamp> FCopies, FNextCopies;
  std::unordered_map<std::string, std::pair<TVekFileStamp, std::vector<std::string>>> FScans;
  std::unordered_map<std::string, uint64_t> FGlobalHashes;  // of this build's globals
  // The stamps of template files seen by this build (false: not found).
  std::unordered_map<std::string, std::pair<bool, TVekFileStamp>> FStamps;
  const TVekData* FGlobals = nullptr;
  int64_t FStartNs = 0;
};

/// A hash of Value's type and contents (object members in their order);
/// walks without recursion.
uint64_t VekHashData(const TVekData& Value);

/// The hash of a page's Data rendered with Listed (when not null) as its
/// page.pages (a tag page's shared list), without a copy that holds both.
uint64_t VekHashPageData(const TVekData& Data, const TVekData* Listed);

/// The names of global values Text names, each as a dotted path cut after
/// its third part (site.sections.posts), and cut before a part holding "-"
/// too (a name, or a subtraction); sorted, each once.
std::vector<std::string> VekNamedGlobals(const std::string& Text);
