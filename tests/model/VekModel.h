// A second, deliberately plain implementation of the page producer: the
// scanner, the parser, the expansion loop, the pair matcher and the entry
// points' line handling, written to be obviously right rather than fast.
// The fuzz targets and some tests compare the component with it byte for
// byte. It shares no code with the component; from the host layer it uses
// only AnsiUpperCase (the locale's upper-casing, which the matcher relies on).
//
// Positions are size_t and the template is held by value, so the model
// never overflows and never sees a handler's later changes to the string it
// was given.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace vekmodel {

using Params = std::vector<std::string>;

class Producer;

/// OnVekTag: (sender, name, params, text, state), as the component's.
using TagHandler = std::function<void(Producer& Sender, const std::string& Name, Params* List,
                                      std::string& Text, int& State)>;
/// OnVekPairTag: (sender, name, params, body, text, state).
using PairHandler = std::function<void(Producer& Sender, const std::string& Name, Params* List,
                                       const std::string& Body, std::string& Text, int& State)>;

/// Lines joined, every one followed by CR LF.
std::string JoinLines(const Params& Lines);
/// Text split at CR LF, CR or LF; a final line break adds no empty line.
Params SplitLines(const std::string& Text);

/// The bytes of S before its first NUL.
std::string BeforeNul(const std::string& S);
/// S without the bytes of value 32 or less at both ends.
std::string TrimBlanks(const std::string& S);
/// Offset of the first occurrence of Needle in Hay at or after From, or
/// npos. An empty Needle or an empty Hay gives npos.
std::size_t FindFrom(const std::string& Hay, const std::string& Needle, std::size_t From);

class Producer {
 public:
  std::string VekTagBeg = "<#";
  std::string VekTagEnd = "#>";
  std::string TagName;
  Params TagParams;
  Params HTMLDoc;
  Params ResultList;
  TagHandler OnVekTag;
  PairHandler OnVekPairTag;
  /// Called inside the pair step's guard before the body is matched; a test
  /// makes it throw to stand for a failure while matching.
  std::function<void()> BeforeMatch;

  /// The expansion. Doc is taken by value.
  std::string Execute(std::string Doc);

  /// Entry points.
  std::string Content() { return Execute(JoinLines(HTMLDoc)); }
  std::string ExecuteLines(const Params& Lines) { return Execute(JoinLines(Lines)); }
  /// StreamRest: the stream's bytes from its position to its end.
  std::string ContentFromStream(const std::string& StreamRest);
  std::string ContentFromString(const std::string& S) { return Execute(S); }
  const Params& HTMLResult();

  /// The public steps. Text is the whole template (the part after a NUL is
  /// invisible); Pos is an offset into it.
  bool ExtractNextTag(const std::string& Text, std::size_t& Pos, std::string* Before,
                      std::string& Tag) const;
  static void ExtractTagParams(const std::string& TagText, std::string& Name, Params* List);
  void ExtractInnerText(const std::string& Name, const std::string& Text, std::size_t& Pos,
                        std::string& Inner) const;
};

}  // namespace vekmodel
