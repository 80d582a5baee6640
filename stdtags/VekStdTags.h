// Standard tags for TVekPageProducer: values, loops, conditionals and
// includes, read from a JSON data tree.
//
//   <#user.name#>                     the value at that path, escaped for
//                                     where it stands in the page (element
//                                     text, an attribute, a URL, a script, a
//                                     style sheet: see docs/escaping.md)
//   <#user.name raw#>                 the same, unescaped; other modifiers
//                                     choose the escaping: html, attr, url,
//                                     js, css, json
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
// and the rest of the template language (docs/template-language.md): elif
// and conditions with comparisons (<#if role == "admin" and n > 2#>),
// modifiers (<#price number=2 group#>, <#name trim upper#>), @number, @count
// and @key, else in each, ranges (<#each 1..5#>), comments <#-- ... --#>,
// lines of block tags that vanish, <#- and -#>, and layouts (<#extends
// file="_layout.html"#>, <#block NAME#>...<#/block#>, <#super#>).
//
// A value is falsy when it is missing, null, false, 0, "", [] or {}.
//
//   TVekTemplateRoot root("site");
//   TVekPageProducer producer(nullptr);
//   TVekStdTags tags(&producer, root, std::make_shared<TVekData>(data));
//   AnsiString page = tags.Render("index.html");
//
// A template is parsed once, with the producer's own scanner and its rules
// for matching pairs, and kept while its file is unchanged; a page is
// rendered by walking the parsed template, in time linear in the template
// and the page. A malformed template (a tag without its closing delimiter, a
// pair without its closing tag, a stray closing tag or else, an unknown tag,
// a NUL byte, text that is not UTF-8) is refused with its file, line and
// column, unless the lenient option asks for the producer's own tolerance.
//
// One TVekStdTags renders one page at a time; give each thread its own, with
// its own producer. A root, a data tree and a TVekTemplateCache may be
// shared by any number of them. This is the lower level: TVekEngine
// (VekEngine.h) is one object for all threads, with loaders, extensions and
// streamed output.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "VekPgProd.h"

/// The data a template is rendered with: a JSON tree whose objects keep
/// their members in the order they were read (so that each over an object
/// walks them in the data's order).
using TVekData = nlohmann::ordered_json;

namespace vekstd {
struct TTemplate;
struct THtmlState;
}  // namespace vekstd

class TVekTemplateLoader;  // VekTemplateLoader.h
class TVekExtensions;      // VekExtensions.h
class TVekEngine;          // VekEngine.h

#if defined(VEKSTDTAGS_BUILDING)
#define VEKSTDTAGS_API VEK_DLL_EXPORT
#else
#define VEKSTDTAGS_API VEK_DLL_IMPORT
#endif

/// A template or its data cannot be expanded: a malformed template, a bad
/// include, a limit reached, or under the strict option a missing value.
/// Its fields say where: the template's name (relative to the template
/// root), the line and column there (from 1; the column counts bytes; 0
/// when the fault has no place inside the file), the include tags that led
/// to that template (innermost first), and the message. A limit reached
/// names the option of TVekStdTagsOptions that sets it (Limit()), and the
/// message says "(the limit MaxSteps)". what() formats them all:
/// "page.html:3:7: message (included from a.html:1:2, from index.html:4:1)",
/// "page.html: message" without a line, the message alone without a file.
/// A message of several lines (a template's further faults, each with its
/// place) has the include chain at the end of its first line.
/// Copying one never throws.
class VEKSTDTAGS_API EVekTemplateError : public std::runtime_error {
 public:
  /// A place in a template: its name, line and column (0 when unknown).
  struct TPlace {
    AnsiString File;
    int Line = 0;
    int Column = 0;
  };
  /// An error without a place: what() is Message.
  explicit EVekTemplateError(const std::string& Message);
  /// An error at Where, reached through the include tags IncludedFrom
  /// (innermost first); Limit names the option whose limit was reached.
  EVekTemplateError(TPlace Where, const std::string& Message, std::vector<TPlace> IncludedFrom = {},
                    const std::string& Limit = {});

  const AnsiString& File() const noexcept;
  int Line() const noexcept;
  int Column() const noexcept;
  /// The message alone, without the place and the include chain.
  const std::string& Message() const noexcept;
  /// Where the include tags that led to File stand, innermost first.
  const std::vector<TPlace>& IncludedFrom() const noexcept;
  /// The option whose limit was reached ("MaxSteps"), or "".
  const std::string& Limit() const noexcept;

  /// The text what() gives for these fields.
  static std::string Format(const TPlace& Where, const std::string& Message,
                            const std::vector<TPlace>& IncludedFrom);

 private:
  struct TFields;
  std::shared_ptr<const TFields> FFields;  // shared: copies never throw
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
  EVekPathError(TKind Kind, TPlace Where, const std::string& Message)
      : EVekTemplateError(std::move(Where), Message), FKind(Kind) {}
  TKind Kind() const noexcept { return FKind; }

 private:
  TKind FKind;
};

/// What tells one version of a file from another: where it is and its size
/// and modification time.
struct TVekFileStamp {
  unsigned long long Device = 0, Inode = 0, Size = 0;
  long long ModifiedNs = 0;
  bool operator==(const TVekFileStamp& O) const {
    return Device == O.Device && Inode == O.Inode && Size == O.Size && ModifiedNs == O.ModifiedNs;
  }
};

/// A file found inside a template root.
struct TVekTemplateFile {
  AnsiString Name;             ///< relative to the root, with "/" separators
  std::filesystem::path Path;  ///< absolute, all symbolic links resolved
};

/// A directory of templates and the files they may use. Every file handed
/// out lies inside it: a name that leaves it, by ".." or through a symbolic
/// link, is refused, and so is an absolute name.
///
/// A root may instead take its templates from a loader (VekTemplateLoader.h:
/// an in-memory map, a callback, or a class of your own): names are then
/// resolved by their text alone, with the same rules (relative, never above
/// the root), and the loader is asked for what they hold.
class VEKSTDTAGS_API TVekTemplateRoot {
 public:
  /// Throws EVekTemplateError when Dir is not an existing directory.
  explicit TVekTemplateRoot(const std::filesystem::path& Dir);
  /// Templates from Loader (shared, only read; not null, else
  /// std::invalid_argument). Dir() is then a name that stands for the
  /// loader, under which no file of the system is ever opened.
  explicit TVekTemplateRoot(std::shared_ptr<const TVekTemplateLoader> Loader);

  /// The root directory, absolute, all symbolic links resolved.
  const std::filesystem::path& Dir() const noexcept { return FDir; }
  /// The loader, or null for a directory.
  const TVekTemplateLoader* Loader() const noexcept { return FLoader.get(); }

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
  /// The stamp of File, with the same checks as Read. Throws as Read does.
  TVekFileStamp Stamp(const TVekTemplateFile& File) const;

 private:
  friend class TVekTrustedFiles;
  struct TMemo;  // what Locate and Stamp found, for TVekTrustedFiles
  // Locate's work after the name is checked by its text.
  TVekTemplateFile Find(const std::filesystem::path& Name, const AnsiString& Ref) const;
  bool Recall(const std::string& Key, bool Stamp, TVekTemplateFile* File, TVekFileStamp* St) const;
  void Remember(const std::string& Key, const TVekTemplateFile* File,
                const TVekFileStamp* St) const;

  std::filesystem::path FDir;
  std::shared_ptr<const TVekTemplateLoader> FLoader;
  std::shared_ptr<TMemo> FMemo;  // shared by copies of the root
};

/// While one lives, Locate and Stamp of Root called on the thread that made
/// it answer what they found before at the same Generation without asking
/// the file system again (what they find anew is remembered for it). For a
/// caller that watches the root's files and knows that none changed since
/// Generation was taken (vekpp serve, with its inotify watcher): Generation
/// must grow with every change, and be taken before the files are looked
/// at. Faults are never remembered: a name not found is looked up again.
/// Scopes nest (the innermost counts); a root of a loader ignores them. At
/// most 4096 names and stamps are remembered, all dropped when a newer
/// generation is seen or the bound is reached.
class VEKSTDTAGS_API TVekTrustedFiles {
 public:
  TVekTrustedFiles(const TVekTemplateRoot& Root, uint64_t Generation);
  ~TVekTrustedFiles();
  TVekTrustedFiles(const TVekTrustedFiles&) = delete;
  TVekTrustedFiles& operator=(const TVekTrustedFiles&) = delete;

 private:
  const void* FOuterMemo;
  uint64_t FOuterGeneration;
};

/// One finding of VekCheckTemplate. Line and Column count from 1; the column
/// counts bytes. A warning is something a render does not refuse.
struct TVekTemplateIssue {
  int Line = 0;
  int Column = 0;
  AnsiString Message;
  bool Warning = false;
};

/// Parsed templates by file, kept while the file is unchanged (its stamp);
/// at most 4096 of them. Safe to share between threads.
class VEKSTDTAGS_API TVekTemplateCache {
 public:
  TVekTemplateCache();
  ~TVekTemplateCache();
  TVekTemplateCache(const TVekTemplateCache&) = delete;
  TVekTemplateCache& operator=(const TVekTemplateCache&) = delete;

  /// The template File of Root, parsed with the delimiters Beg and End from
  /// the HTML state Start and with the names of Extensions (may be null):
  /// from the cache when the file's stamp is unchanged, else read and
  /// parsed. Throws what TVekTemplateRoot::Read throws.
  std::shared_ptr<const vekstd::TTemplate> Get(const TVekTemplateRoot& Root,
                                               const TVekTemplateFile& File, const AnsiString& Beg,
                                               const AnsiString& End,
                                               const vekstd::THtmlState& Start,
                                               const TVekExtensions* Extensions = nullptr);
  /// How many times Get parsed a file (a miss), for tests.
  unsigned long long Parses() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

/// Options of TVekStdTags.
struct TVekStdTagsOptions {
  /// Every name must exist in the data (null counts as existing), each must
  /// name a list and a value tag a value (a list or object only where JSON
  /// is output): else EVekTemplateError. Without it a missing value is empty.
  bool Strict = false;
  /// Render malformed templates as the producer alone would (a tag that
  /// makes no sense outputs nothing, an unclosed pair is a single tag, the
  /// text ends at a NUL byte or an unclosed delimiter) instead of refusing
  /// them. Limits, includes and (under Strict) missing values still fail.
  bool Lenient = false;
  /// The delimiters set on the producer.
  AnsiString TagBeg = "<#";
  AnsiString TagEnd = "#>";
  /// How deep includes may nest; one more is an error.
  int MaxIncludeDepth = 16;
  /// The most bytes of one template (page, include or layout): a larger one
  /// is refused before it is read, naming the limit. Parsing takes memory
  /// of about 30 times a template's size at worst; -1 for no limit.
  long long MaxTemplateSize = 16LL << 20;
  /// Limits of one render, each reported as an error naming the limit and
  /// where it was reached: includes expanded in all, bytes of output, and
  /// the depth of nested pairs and includes together.
  long long MaxIncludes = 10000;
  long long MaxOutput = 256LL << 20;
  int MaxDepth = 256;
  /// The most tags and texts one render may visit: loops within loops over
  /// data with empty bodies output nothing and would otherwise run on.
  long long MaxSteps = 100000000;
  /// An object whose members are found by names that the data lacks (the
  /// outermost scope of every render), shared and only read; null for none.
  /// vekpp gives each page its own small data and the site's here.
  std::shared_ptr<const TVekData> Globals;
  /// Where parsed templates are kept; null for a cache of this binder's own.
  std::shared_ptr<TVekTemplateCache> Cache;
  /// Custom modifiers and application tags (VekExtensions.h), known to the
  /// parser, the render and the check alike; null for none. Not to be
  /// changed while a render or a check uses them.
  std::shared_ptr<const TVekExtensions> Extensions;
  /// When set, the name (relative to the root) of every template file a
  /// render or load reads (the page, its layouts, includes and imports) is
  /// appended, once per time it is read; not owned. vekpp keeps these to
  /// know which pages a changed file affects.
  std::vector<AnsiString>* FilesRead = nullptr;
};

/// Checks a template written for the standard tags with the parser that
/// rendering uses, so that it finds exactly what a render refuses: an
/// opening delimiter without a closing one (and the bytes that would be cut),
/// a tag text holding an opening delimiter, each/if/unless without their
/// closing tag, a closing tag without an opener, else outside if/unless or a
/// second else, tags the standard set does not know, malformed standard
/// tags, a NUL byte, text that is not UTF-8, a value where no value can be
/// escaped (inside a tag), branches that leave the page in different HTML
/// contexts, and nesting deeper than MaxDepth. Warnings: a raw value in a
/// script, style sheet, event or URL attribute. With a Root, includes are
/// resolved against it from the template Name and a failure is reported too.
/// Includes are followed through the templates they include, so that a cycle
/// or includes nested deeper than MaxIncludeDepth are found where a render
/// would meet them; layouts likewise.
/// Returns the findings in the order of the text; none for a sound template.
/// Throws EVekTemplateError for a text of 2 GiB or more.
VEKSTDTAGS_API std::vector<TVekTemplateIssue> VekCheckTemplate(
    const AnsiString& Text, const AnsiString& Name, const TVekTemplateRoot* Root,
    const AnsiString& TagBeg = "<#", const AnsiString& TagEnd = "#>", int MaxDepth = 256);

/// The same with the options a render is given: their delimiters, MaxDepth
/// and MaxIncludeDepth decide what is refused, as they decide it for the
/// render (Lenient is ignored: check reports what a loud render refuses).
VEKSTDTAGS_API std::vector<TVekTemplateIssue> VekCheckTemplate(const AnsiString& Text,
                                                               const AnsiString& Name,
                                                               const TVekTemplateRoot* Root,
                                                               const TVekStdTagsOptions& Options);

/// Warnings of the names that the template Text (named Name in Root) and
/// the templates it includes use and that Data lacks, such as a typo in
/// `<#user.nmae#>`. A name counts as present when it is found in the data,
/// in an element of a list that an enclosing each walks, or among an
/// include's parameters. Each included file is looked at once; the findings
/// in one stand at the include tag and name their own place.
VEKSTDTAGS_API std::vector<TVekTemplateIssue> VekCheckDataNames(
    const AnsiString& Text, const AnsiString& Name, const TVekTemplateRoot& Root,
    const TVekData& Data, const AnsiString& TagBeg = "<#", const AnsiString& TagEnd = "#>");
/// The same with the options a render is given (delimiters,
/// MaxIncludeDepth, the cache); the members of Options.Globals count as
/// present, as a render finds them where the data lacks a name.
VEKSTDTAGS_API std::vector<TVekTemplateIssue> VekCheckDataNames(const AnsiString& Text,
                                                                const AnsiString& Name,
                                                                const TVekTemplateRoot& Root,
                                                                const TVekData& Data,
                                                                const TVekStdTagsOptions& Options);

/// Binds the standard tags to a producer: its OnVekTag handler and its
/// delimiters, through which a loaded template is expanded by any entry
/// point of the producer. This is the lower level: TVekEngine (VekEngine.h)
/// renders with no producer of the caller's, from any thread, to a string,
/// a stream or a callback.
class VEKSTDTAGS_API TVekStdTags {
 public:
  /// Sets Producer's handlers and delimiters. Producer and Root are not
  /// owned and must outlive this object; Data (not null) is shared and only
  /// read. Throws std::invalid_argument for a null Producer or Data.
  TVekStdTags(TVekPageProducer* Producer, const TVekTemplateRoot& Root,
              std::shared_ptr<const TVekData> Data, TVekStdTagsOptions Options = {});
  /// The same for data held as nlohmann::json, copied into a TVekData (its
  /// objects keep nlohmann::json's order: sorted by name).
  TVekStdTags(TVekPageProducer* Producer, const TVekTemplateRoot& Root,
              std::shared_ptr<const nlohmann::json> Data, TVekStdTagsOptions Options = {});
  /// Unsets the producer's handler.
  ~TVekStdTags();
  TVekStdTags(const TVekStdTags&) = delete;
  TVekStdTags& operator=(const TVekStdTags&) = delete;

  /// Reads and parses the template Name (relative to the root), or takes it
  /// from the cache, and returns its text: expanded by any entry point of the
  /// producer (ContentFromString, as a web dispatcher does), it gives the
  /// page. The producer copies the text before the first tag (returned as
  /// the template outputs it: without a line of block tags, and empty before
  /// an extends); its handler renders the rest from the parsed template and
  /// stops the expansion.
  /// Expanding other text than the last one loaded is an error, as far as it
  /// is noticed (its first tag must be the loaded template's).
  /// Throws EVekPathError, and EVekTemplateError for a malformed template
  /// (unless lenient); the expansion throws EVekTemplateError.
  AnsiString Load(const AnsiString& Name);
  /// The page of the template Name. Throws what Load and the expansion throw.
  AnsiString Render(const AnsiString& Name);
  /// The page of Text taken as the template Name (whose directory includes
  /// are resolved from; the file itself need not exist). Not cached.
  AnsiString RenderText(const AnsiString& Text, const AnsiString& Name);

  const TVekStdTagsOptions& Options() const noexcept { return FOptions; }

 private:
  friend class TVekEngine;  // renders through TRenderer without a producer
  struct TPage {
    std::shared_ptr<const vekstd::TTemplate> Template;
    std::filesystem::path Path;
  };
  class TRenderer;  // one walk over a parsed template (VekRender.cpp)

  void Tag(const AnsiString& Name, AnsiString& RetText, int& RetState);
  TPage Parse(const TVekTemplateFile& File);
  void Refuse(const std::shared_ptr<const vekstd::TTemplate>& T) const;
  AnsiString Walk(const TPage& Page, int FirstNode);

  TVekPageProducer* FProducer;
  const TVekTemplateRoot& FRoot;
  std::shared_ptr<const TVekData> FData;
  TVekStdTagsOptions FOptions;
  TPage FLoaded;  // what Load returned last
};

/// S with &, <, >, " and ' replaced by their character references, and a
/// carriage return by &#13; (a browser would read it as a line feed).
VEKSTDTAGS_API AnsiString VekHtmlEscape(const AnsiString& S);
