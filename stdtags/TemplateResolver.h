// The one place that finds, loads and judges the templates a page uses (its
// includes and the layouts it extends) and decides what a render refuses of
// them, with one set of options and one wording per fault. The renderer,
// VekCheckTemplate and VekCheckDataNames all go through it. Internal to the
// standard tags.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "VekStdTags.h"
#include "VekTemplate.h"

namespace vekstd {

/// " (the limit Option)": how a message names the option whose limit was
/// reached.
std::string TheLimit(const std::string& Option);

/// What a render refuses, and where: a byte offset of the template In (no
/// place when In is null), the message, and the option whose limit was
/// reached, if one was. None when Message is empty. A template's faults are
/// all in Message, one a line: the first without its place (Offset is
/// its), each other as "name:line:column: message".
struct TRefusal {
  std::shared_ptr<const TTemplate> In;
  int Offset = 0;
  std::string Message;
  std::string Limit;
  explicit operator bool() const { return !Message.empty(); }
  /// The error a render throws for it, reached through the include tags
  /// IncludedFrom (innermost first).
  EVekTemplateError Error(std::vector<EVekTemplateError::TPlace> IncludedFrom = {}) const;
};

/// "the template is N bytes, more than Max (the limit MaxTemplateSize)" when
/// Size exceeds Max (Max < 0: no limit); else "".
std::string TooLarge(unsigned long long Size, long long Max);

/// "and N more errors after these (the first Listed are listed)": what
/// follows the faults listed of a template that holds Count.
std::string MoreErrors(size_t Count, size_t Listed);

/// Pairs of T nested deeper than MaxDepth (none when MaxDepth < 0).
TRefusal TooDeep(const std::shared_ptr<const TTemplate>& T, int MaxDepth);

/// A template being expanded, for the judgement of cycles and depth.
struct TOpenTemplate {
  AnsiString Name;
  std::filesystem::path Path;
};

/// An include or extends resolved: the template and its file, or the fault
/// (a message told at the tag's place; it names its own place when the
/// fault lies inside the template named).
struct TResolved {
  std::shared_ptr<const TTemplate> Template;
  TVekTemplateFile File;
  std::string Fault;
};

/// A page and the layouts it extends, the page first and the outermost
/// layout last, each template's blocks placed where the next one puts them;
/// or the fault that stops the chain.
struct TLayoutChain {
  std::vector<std::shared_ptr<const TTemplate>> Templates;
  std::vector<std::filesystem::path> Paths;
  TRefusal Fault;
};

/// The macros a template can call: the template (Templates[0]) and every
/// file its imports bring, followed through their own imports, each file
/// once; or the fault that stops them.
struct TImported {
  std::vector<std::shared_ptr<const TTemplate>> Templates;
  /// Per template, what its import tags bring (indices in Templates), in
  /// the order of the tags.
  std::vector<std::vector<int>> Imports;
  /// A fault at an import tag of Templates[0] (it names the place within
  /// an imported file when it lies there).
  TRefusal Fault;

  /// The macro Name as a call in Templates[Module] finds it: that
  /// template's own, else the first of the files it imports that defines
  /// it. {-1, -1} when none does.
  std::pair<int, int> Find(int Module, const std::string& Name) const;
};

class TResolver {
 public:
  /// Root and Options are not owned and must outlive the resolver. Options
  /// give the delimiters, Lenient, MaxDepth, MaxIncludeDepth and the cache
  /// (none: each template is read and parsed anew).
  TResolver(const TVekTemplateRoot& Root, const TVekStdTagsOptions& Options);

  /// What a render refuses of T itself: its first error (unless lenient),
  /// then pairs nested deeper than MaxDepth, then what ImportFault finds.
  /// None when it renders.
  TRefusal Refusal(const std::shared_ptr<const TTemplate>& T) const;

  /// The files T imports, resolved like includes (from T's directory, never
  /// outside the root, through the cache). Faults: a file that cannot be
  /// found or read, or that a render refuses; a cycle; imports nested
  /// deeper than MaxIncludeDepth. Walked with an explicit stack.
  TImported Imports(const std::shared_ptr<const TTemplate>& T) const;

  /// Unless lenient, what a render refuses of T's calls of the macros it
  /// imports (and of the calls within them): the faults of Imports, a
  /// macro no file defines, an argument the macro does not take, a body
  /// that cannot stand where it is called. None for a template that imports
  /// nothing.
  TRefusal ImportFault(const std::shared_ptr<const TTemplate>& T) const;

  /// The template the include or extends tag N of From names. Open holds the
  /// templates being expanded, outermost first, From last. An include is
  /// parsed in the HTML state it stands in, a layout from the start. Faults:
  /// a file that cannot be found or read; a cycle (the file is open); more
  /// than MaxIncludeDepth nested; the template itself refused; an included
  /// template that ends in another HTML state than it begins in (unless
  /// lenient).
  TResolved Resolve(const TTemplate& From, const TNode& N,
                    const std::vector<TOpenTemplate>& Open) const;

  /// The layouts Page (the file Path; empty for a text without a file)
  /// extends, with their blocks placed. The page's own refusal after placing
  /// is left to the caller (a render refuses it, a check lists every error).
  TLayoutChain Layouts(std::shared_ptr<const TTemplate> Page,
                       const std::filesystem::path& Path) const;

  /// The template File parsed from State, from the cache when the options
  /// have one. Throws EVekTemplateError for a file larger than
  /// MaxTemplateSize (before reading it), and what the root's Read throws.
  std::shared_ptr<const TTemplate> Get(const TVekTemplateFile& File, const THtmlState& State) const;

 private:
  TRefusal OwnRefusal(const std::shared_ptr<const TTemplate>& T) const;

  const TVekTemplateRoot& FRoot;
  const TVekStdTagsOptions& FOptions;
};

}  // namespace vekstd
