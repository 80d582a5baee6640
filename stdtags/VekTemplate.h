// A parsed template: its text, its tags as a flat list of nodes in the order
// of the text (a pair's body is the run of nodes up to its closing tag), the
// findings about it, and the parser that makes one.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "HtmlContext.h"
#include "Modifiers.h"
#include "TagExpr.h"
#include "VekPgProd.h"
#include "VekStdTags.h"

namespace vekstd {

enum class TNodeKind : uint8_t {
  Text,   ///< literal text, copied
  Value,  ///< a value tag
  Each,   ///< the opening tag of a pair whose closing tag was found
  If,
  Unless,
  Block,    ///< a named block of a layout or of a template extending one
  Elif,     ///< an elif of an if
  Else,     ///< the else of an if, unless or each
  Close,    ///< the closing tag of a pair
  Include,  ///< an include tag
  Extends,  ///< the layout this template fills, as its first tag
  Super,    ///< the parent layout's content of the enclosing block
  Set,      ///< a name bound to a value to the end of the enclosing block
  Macro,    ///< a macro's definition: its body is output only where it is called
  Call,     ///< a macro called, with its arguments
  Import,   ///< the macros of another file brought in
  Ignored,  ///< a tag that outputs nothing: a comment, or a faulty tag
};

struct TNode {
  TNodeKind Kind = TNodeKind::Text;
  TModifier Modifier = TModifier::None;
  bool Standalone = false;  ///< a tag that vanishes with a line of its own
  bool TrimBefore = false;  ///< written <#- : blanks before it are dropped
  bool TrimAfter = false;   ///< written -#> : blanks after it are dropped
  int Begin = 0;            ///< offset of the text, or of the tag's opening delimiter
  int End = 0;              ///< offset just past it
  int Close = -1;           ///< a pair's closing tag (also set on its elif and else)
  int Else = -1;            ///< the next branch (elif or else) of an if, unless or each
  // The node's record in the table of its kind: one name per kind, one
  // place (a node is one kind), so that the list stays small.
  union {
    int Escape = -1;  ///< a value's escaping: its index in TTemplate::Escapes
    int Include;      ///< an include's or extends' details: in TTemplate::Includes
    int States;       ///< a block's HTML states: in TTemplate::BlockStates
    int Macro;        ///< a macro's definition: in TTemplate::Macros (-1 when faulty)
  };
  int Details = -1;  ///< a condition, a value's modifiers or a range: in Details
  AnsiString Path;   ///< a value's or each's data path; an include's, extends' or import's
                     ///< file; a block's, macro's or call's name
};

/// What an include tag says besides its file, and where it stands; the
/// same for a call tag's arguments.
struct TIncludeAt {
  TData Args;  ///< the further parameters written quoted (literal text), as an object
  /// The further parameters written unquoted: each name with its
  /// expression, evaluated where the include stands.
  std::vector<std::pair<std::string, std::vector<TCondOp>>> Exprs;
  THtmlState State;  ///< the HTML state the included template starts in
  /// A call's macro when this template defines it (its index in
  /// TTemplate::Macros); -1 for one found through the imports.
  int Macro = -1;
};

/// The HTML states where a block begins and where it ends.
struct TBlockAt {
  THtmlState Begin, End;
};

/// A macro's parameter: its name, and its default when it has one.
struct TMacroParam {
  std::string Name;
  bool HasDefault = false;
  TData Default;
};

/// A macro defined in a template: its name, its definition's node (its body
/// runs to that node's Close) and its parameters in order.
struct TMacro {
  std::string Name;
  int Node = -1;
  std::vector<TMacroParam> Params;
};

struct TTemplate;

/// The bodies of a template's macros made for the HTML states they are
/// called in (MacroBody), shared by the copies of the template.
struct TMacroBodies {
  struct TEntry {
    int Macro;
    THtmlState State;
    std::shared_ptr<const TTemplate> Body;
  };
  std::mutex Lock;
  std::vector<TEntry> Entries;
};

/// A template's blocks placed within the layouts it extends (PlaceBlocks),
/// by layout, kept with the template (see PlaceBlocksKept).
struct TPlacements {
  struct TEntry {
    std::shared_ptr<const TTemplate> Parent, Placed;
  };
  std::mutex Lock;
  std::vector<TEntry> Entries;
};

/// The language's further details of a tag.
struct TDetails {
  std::vector<TCondOp> Cond;   ///< the condition of if, elif and unless; a set's value
  std::vector<TModStep> Mods;  ///< a value's modifiers, in order
  /// An each over FROM..TO: its two ends, literals or paths; else empty.
  std::vector<TCondOp> Range;
  /// A named loop (each NAME in ...): the element's name; a set's name;
  /// else empty.
  std::string LoopName;
  /// An application tag: its index in TTemplate::AppTags; else -1.
  int AppTag = -1;
};

/// A tag answered by the application (VekExtensions.h): its name and its
/// parameters as the producer reads them.
struct TAppTag {
  std::string Name;
  std::vector<std::pair<std::string, std::string>> Params;
};

/// A finding, at a byte offset of the text (or of the text of the template
/// it is reported in).
struct TFinding {
  int Offset = 0;
  std::string Message;
};

/// The most errors (and warnings) a parsed template keeps.
constexpr size_t kMaxFindings = 1000;

struct TTemplate {
  AnsiString Name;  ///< for messages: relative to the template root
  AnsiString Text;
  std::vector<TNode> Nodes;
  std::vector<TEscape> Escapes;  ///< of the values (equal neighbours shared)
  std::vector<TIncludeAt> Includes;
  std::vector<TBlockAt> BlockStates;
  std::vector<TDetails> Details;
  std::vector<TAppTag> AppTags;
  /// What a loud render refuses, in text order: the first kMaxFindings by
  /// offset of ErrorCount in all (a text of faults keeps little of each).
  std::vector<TFinding> Errors;
  std::vector<TFinding> Warnings;  ///< what check reports besides; capped alike
  size_t ErrorCount = 0, WarningCount = 0;
  /// FirstAtDepth[d] is the first pair nested d + 1 deep.
  std::vector<int> FirstAtDepth;
  THtmlState StartState, EndState;
  std::vector<int> LineStarts;
  int Extends = -1;  ///< the extends node, or -1
  /// The blocks of this template by name, each with its node.
  std::vector<std::pair<AnsiString, int>> Blocks;
  /// The macros defined here, in text order, and the import tags' nodes.
  std::vector<TMacro> Macros;
  std::vector<int> Imports;
  /// The macros' bodies by the states they are called in; null without
  /// macros, and in a macro's body itself.
  std::shared_ptr<TMacroBodies> Bodies;
  /// Its blocks placed by layout (PlaceBlocksKept); null unless it extends
  /// a layout, and in every copy made of it.
  std::shared_ptr<TPlacements> Placements;

  /// Adds a finding to Errors or Warnings (In), counted in Count; beyond
  /// kMaxFindings only those of the lowest offsets are kept.
  static void AddFinding(std::vector<TFinding>& In, size_t& Count, int Offset, std::string Message);
  void AddError(int Offset, std::string Message) {
    AddFinding(Errors, ErrorCount, Offset, std::move(Message));
  }
  void AddWarning(int Offset, std::string Message) {
    AddFinding(Warnings, WarningCount, Offset, std::move(Message));
  }

  /// The node of the block Name, or -1.
  int FindBlock(const AnsiString& Name) const;
  /// The macro Name defined here (its index in Macros), or -1.
  int FindMacro(const std::string& Name) const;
  const TEscape& EscapeOf(const TNode& Value) const {
    return Escapes[static_cast<size_t>(Value.Escape)];
  }
  const TIncludeAt& IncludeOf(const TNode& Include) const {
    return Includes[static_cast<size_t>(Include.Include)];
  }
  const TBlockAt& BlockOf(const TNode& Block) const {
    return BlockStates[static_cast<size_t>(Block.States)];
  }
  /// The details of a node; empty ones for a node without.
  const TDetails& DetailsOf(const TNode& Node) const {
    return Node.Details < 0 ? kNoDetails : Details[static_cast<size_t>(Node.Details)];
  }
  /// The details of a node that has none.
  static const TDetails kNoDetails;

  /// "name:line:col" of a byte offset; columns count bytes from 1.
  std::string Where(int Offset) const;
  /// The name, line and column of a byte offset.
  EVekTemplateError::TPlace Place(int Offset) const;
  /// A tag's text with its delimiters, for messages.
  std::string TagAt(const TNode& Node) const;
};

/// Parses Text (the template Name) with the delimiters Beg and End, starting
/// in the HTML state Start. Walks the text once with the producer's own
/// scanner; pairs are matched as the producer matches them (names compared
/// upper-cased by the user's locale, nesting counted per name) in the same
/// walk. Conditions, modifiers and ranges are read from each tag's raw text
/// (quotes kept). Lines that hold only block tags are dropped, and blanks at
/// <#- and -#>. The names of Extensions (may be null) are known tags and
/// modifiers. Never throws for a malformed template: its faults become
/// Errors, and its nodes then say what the producer's own tolerance would
/// output.
/// Throws EVekTemplateError for a text of 2 GiB or more.
/// The parser is TemplateParser.cpp and TagHandlers.cpp (tags to nodes),
/// TemplateLines.cpp (lines of block tags, trims) and TemplateStructure.cpp
/// (nesting and the HTML context of every value and block).
std::shared_ptr<const TTemplate> ParseTemplate(AnsiString Text, const AnsiString& Name,
                                               const AnsiString& Beg, const AnsiString& End,
                                               const THtmlState& Start = THtmlState(),
                                               const TVekExtensions* Extensions = nullptr);

/// A copy of T (a template that extends a layout) whose blocks outside any
/// other block start in the HTML state that the block of the same name
/// starts in within the layout Parent, with its escaping and findings made
/// again from there. Parent's blocks give the states; blocks it lacks keep
/// their own.
std::shared_ptr<const TTemplate> PlaceBlocks(const TTemplate& T, const TTemplate& Parent);
/// The same, made once per Parent (by identity: Parent is held) and kept in
/// T.Placements (thread-safe; at most 8 layouts, then all dropped); made
/// anew when T has none. A page rendered again with the same layouts takes
/// the placed copy without walking it again.
std::shared_ptr<const TTemplate> PlaceBlocksKept(const TTemplate& T,
                                                 const std::shared_ptr<const TTemplate>& Parent);

/// The template T's macro Macro (its index in T.Macros) as it stands where
/// a call leaves the HTML state State: a copy of T whose nodes of that body
/// are escaped from State (its Errors: what cannot stand there; EndState:
/// where the body ends). Made once per macro and state, kept in T.Bodies
/// (thread-safe); made anew when T has none.
std::shared_ptr<const TTemplate> MacroBody(const TTemplate& T, int Macro, const THtmlState& State);

}  // namespace vekstd
