// Standard tags for TVekPageProducer: values, loops, conditionals and
// includes, read from a JSON data tree.
//
//   <#user.name#>                     the value at that path, HTML-escaped
//   <#user.name raw#>                 the same, unescaped
//   <#each items#>...<#/each#>        the body once per element of a list;
//                                     inside it, names are looked up in the
//                                     element first, <#.#> is the element
//                                     itself, <#@index#> its position from 0,
//                                     <#@first#> and <#@last#> true or false
//   <#if name#>...<#else#>...<#/if#>  the first part when the value is truthy,
//                                     else the optional second part
//   <#unless name#>...<#/unless#>     the opposite of if
//   <#include file="part.html"#>      another template, expanded in place;
//                                     resolved from the including template's
//                                     directory, never outside the root
//   <#include file="part.html" title="Menu"#>
//                                     the same, with <#title#> set inside it
//
// A value is falsy when it is missing, null, false, 0, "", [] or {}.
//
//   TVekTemplateRoot root("site");
//   TVekPageProducer producer(nullptr);
//   TVekStdTags tags(&producer, root, std::make_shared<nlohmann::json>(data));
//   AnsiString page = tags.Render("index.html");
//
// Bodies and included templates are expanded through the same producer, so
// one producer with its TVekStdTags serves one expansion at a time; give each
// thread its own pair. A root and a data tree may be shared by any number of
// them, since both are only read.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "VekPgProd.h"

#if defined(VEKSTDTAGS_BUILDING)
#define VEKSTDTAGS_API VEK_DLL_EXPORT
#else
#define VEKSTDTAGS_API VEK_DLL_IMPORT
#endif

/// A template or its data cannot be expanded: a bad include, or under the
/// strict option a missing value or a malformed tag. The message names the
/// template (and, where known, the line and column).
class VEKSTDTAGS_API EVekTemplateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A path that cannot be served from a template root; Kind says why.
class VEKSTDTAGS_API EVekPathError : public EVekTemplateError {
 public:
  enum TKind {
    pkInvalid,   ///< empty, absolute, or holding a NUL byte
    pkOutside,   ///< leaves the root, by ".." or through a symbolic link
    pkNotFound,  ///< nothing of that name exists
    pkNotAFile,  ///< exists, but is not a regular file (a directory, a device ...)
  };
  EVekPathError(TKind Kind, const std::string& Message) : EVekTemplateError(Message), FKind(Kind) {}
  TKind Kind() const noexcept { return FKind; }

 private:
  TKind FKind;
};

/// A file found inside a template root.
struct TVekTemplateFile {
  AnsiString Name;             ///< relative to the root, with "/" separators
  std::filesystem::path Path;  ///< absolute, all symbolic links resolved
};

/// A directory of templates and the files they may use. Every file handed
/// out lies inside it: a name that leaves it, by ".." or through a symbolic
/// link, is refused, and so is an absolute name.
class VEKSTDTAGS_API TVekTemplateRoot {
 public:
  /// Throws EVekTemplateError when Dir is not an existing directory.
  explicit TVekTemplateRoot(const std::filesystem::path& Dir);

  /// The root directory, absolute, all symbolic links resolved.
  const std::filesystem::path& Dir() const noexcept { return FDir; }

  /// Finds the regular file Ref, a relative name with "/" separators, taken
  /// relative to the directory of the template named From ("" for the root
  /// itself). Throws EVekPathError (see its kinds).
  TVekTemplateFile Locate(const AnsiString& From, const AnsiString& Ref) const;

  /// Finds a file given by a path of the file system (absolute, or relative
  /// to the working directory), which must lie inside the root.
  /// Throws EVekPathError.
  TVekTemplateFile LocatePath(const std::filesystem::path& Path) const;

  /// The whole contents of File. Throws EVekTemplateError when it cannot be
  /// read, and EVekPathError (pkOutside) when what was opened no longer lies
  /// inside the root (a directory replaced by a link in the meantime).
  AnsiString Read(const TVekTemplateFile& File) const;

 private:
  std::filesystem::path FDir;
};

/// One finding of VekCheckTemplate. Line and Column count from 1; the column
/// counts bytes.
struct TVekTemplateIssue {
  int Line = 0;
  int Column = 0;
  AnsiString Message;
};

/// Checks a template written for the standard tags, the way the producer
/// will read it: an opening delimiter without a closing one (and the bytes
/// that will be cut from the output), a tag text holding an opening
/// delimiter, each/if/unless without their closing tag, a closing tag
/// without an opener, else outside if/unless, tags the standard set does not
/// know and malformed standard tags. With a Root, includes are resolved
/// against it from the template Name and a failure is reported too.
/// Returns the findings in the order of the text; none for a sound template.
VEKSTDTAGS_API std::vector<TVekTemplateIssue> VekCheckTemplate(const AnsiString& Text,
                                                               const AnsiString& Name,
                                                               const TVekTemplateRoot* Root,
                                                               const AnsiString& TagBeg = "<#",
                                                               const AnsiString& TagEnd = "#>");

/// Options of TVekStdTags.
struct TVekStdTagsOptions {
  /// Every name must exist in the data (null counts as existing), and every
  /// template is checked with VekCheckTemplate before it is expanded: a
  /// missing value or a finding throws EVekTemplateError. Without it a
  /// missing value is empty and a tag that makes no sense outputs nothing.
  bool Strict = false;
  /// The delimiters set on the producer.
  AnsiString TagBeg = "<#";
  AnsiString TagEnd = "#>";
  /// How deep includes may nest; one more is an error.
  int MaxIncludeDepth = 16;
};

/// Binds the standard tags to a producer: its OnVekTag and OnVekPairTag
/// handlers and its delimiters.
class VEKSTDTAGS_API TVekStdTags {
 public:
  /// Sets Producer's handlers and delimiters. Producer and Root are not
  /// owned and must outlive this object; Data (not null) is shared and only
  /// read. Throws std::invalid_argument for a null Producer or Data.
  TVekStdTags(TVekPageProducer* Producer, const TVekTemplateRoot& Root,
              std::shared_ptr<const nlohmann::json> Data, TVekStdTagsOptions Options = {});
  /// Unsets the producer's handlers.
  ~TVekStdTags();
  TVekStdTags(const TVekStdTags&) = delete;
  TVekStdTags& operator=(const TVekStdTags&) = delete;

  /// Reads the template Name (relative to the root) and makes it the one
  /// that includes are resolved from and that error messages name; returns
  /// its text, to be expanded by any entry point of the producer. Under the
  /// strict option the text is checked first. Throws EVekPathError and
  /// EVekTemplateError.
  AnsiString Load(const AnsiString& Name);
  /// Load(Name), then expanded by the producer's ContentFromString.
  /// Throws what Load and the handlers throw.
  AnsiString Render(const AnsiString& Name);
  /// Expands Text as if it were the template Name (whose directory includes
  /// are resolved from; the file itself need not exist).
  AnsiString RenderText(const AnsiString& Text, const AnsiString& Name);

  const TVekStdTagsOptions& Options() const noexcept { return FOptions; }

 private:
  struct TScope {
    const nlohmann::json* Value;
    long Index;  // position within the list of an each, -1 for the root
    long Count;
  };
  struct TInclude {
    AnsiString Name;
    std::filesystem::path Path;
  };

  void Tag(const AnsiString& Name, TStrings* Params, AnsiString& RetText, int& RetState);
  void PairTag(const AnsiString& Name, TStrings* Params, const AnsiString& Inner,
               AnsiString& RetText);
  AnsiString Include(const AnsiString& Ref, const nlohmann::json& Args);
  AnsiString Value(const AnsiString& Path, bool Raw);
  const nlohmann::json* Lookup(const AnsiString& Path, nlohmann::json& Scratch) const;
  const nlohmann::json* Require(const AnsiString& Path, nlohmann::json& Scratch) const;
  void Check(const AnsiString& Text, const AnsiString& Name) const;
  [[noreturn]] void Fail(const AnsiString& Message) const;
  AnsiString Where() const;

  TVekPageProducer* FProducer;
  const TVekTemplateRoot& FRoot;
  std::shared_ptr<const nlohmann::json> FData;
  TVekStdTagsOptions FOptions;
  std::vector<TScope> FScopes;
  std::vector<TInclude> FIncludes;
};

/// S with &, <, >, " and ' replaced by their character references.
VEKSTDTAGS_API AnsiString VekHtmlEscape(const AnsiString& S);
