// A parsed template: its text, its tags as a flat list of nodes in the order
// of the text (a pair's body is the run of nodes up to its closing tag), the
// findings about it, and the parser that makes one.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "HtmlContext.h"
#include "VekPgProd.h"

namespace vekstd {

enum class TNodeKind : uint8_t {
  Text,   ///< literal text, copied
  Value,  ///< a value tag
  Each,   ///< the opening tag of a pair whose closing tag was found
  If,
  Unless,
  Else,     ///< the else of an if or unless
  Close,    ///< the closing tag of a pair
  Include,  ///< an include tag
  Ignored,  ///< a tag that outputs nothing (only in a template with findings)
};

/// Value modifiers, as written after the name.
enum class TModifier : uint8_t { None, Raw, Html, Attr, Url, Js, Css, Json };

struct TNode {
  TNodeKind Kind = TNodeKind::Text;
  TModifier Modifier = TModifier::None;
  int Begin = 0;    ///< offset of the text, or of the tag's opening delimiter
  int End = 0;      ///< offset just past it
  int Close = -1;   ///< a pair's closing tag
  int Else = -1;    ///< the else of an if or unless, or -1
  int Extra = -1;   ///< a value's escaping (Escapes), an include's details (Includes)
  AnsiString Path;  ///< a value's or a pair's data path; an include's file
};

/// What an include tag says besides its file, and where it stands.
struct TIncludeAt {
  nlohmann::json Args;  ///< the further parameters, as an object
  THtmlState State;     ///< the HTML state the included template starts in
};

/// A finding, at a byte offset of the text.
struct TFinding {
  int Offset = 0;
  std::string Message;
};

struct TTemplate {
  AnsiString Name;  ///< for messages: relative to the template root
  AnsiString Text;
  std::vector<TNode> Nodes;
  std::vector<TEscape> Escapes;  ///< of the values (equal neighbours shared)
  std::vector<TIncludeAt> Includes;
  std::vector<TFinding> Errors;    ///< what a loud render refuses; in text order
  std::vector<TFinding> Warnings;  ///< what check reports besides
  /// FirstAtDepth[d] is the first pair nested d + 1 deep.
  std::vector<int> FirstAtDepth;
  THtmlState StartState, EndState;
  std::vector<int> LineStarts;

  /// "name:line:col" of a byte offset; columns count bytes from 1.
  std::string Where(int Offset) const;
  /// Line and column of a byte offset.
  void Position(int Offset, int& Line, int& Column) const;
  const TEscape& EscapeOf(const TNode& Value) const {
    return Escapes[static_cast<size_t>(Value.Extra)];
  }
  const TIncludeAt& IncludeOf(const TNode& Include) const {
    return Includes[static_cast<size_t>(Include.Extra)];
  }
  /// A tag's text with its delimiters, for messages.
  std::string TagAt(const TNode& Node) const;
};

/// Parses Text (the template Name) with the delimiters Beg and End, starting
/// in the HTML state Start. Walks the text once with the producer's own
/// scanner; pairs are matched as the producer matches them (names compared
/// upper-cased by the user's locale, nesting counted per name) in the same
/// walk. Never throws for a malformed template: its faults become Errors,
/// and its nodes then say what the producer's own tolerance would output.
/// Throws EVekTemplateError for a text of 2 GiB or more.
std::shared_ptr<const TTemplate> ParseTemplate(AnsiString Text, const AnsiString& Name,
                                               const AnsiString& Beg, const AnsiString& End,
                                               const THtmlState& Start = THtmlState());

}  // namespace vekstd
