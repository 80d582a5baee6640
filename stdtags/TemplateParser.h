// The parser's first walk: the template's text to a flat list of nodes, with
// the producer's own scanner; pairs matched by per-name stacks as the
// producer matches them; each tag handed to the small handler of its kind
// (TagHandlers.cpp). Internal to the standard tags.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "TagExpr.h"
#include "VekTemplate.h"

namespace vekstd {

/// The pairs: tags that take a closing tag.
enum class TPair : uint8_t { Each, If, Unless, Block, Macro };
constexpr int kPairCount = 5;

/// What one tag says, read once and handed to the handler of its kind.
struct TTagRead {
  int Node = 0;
  int Begin = 0;               ///< offset of the opening delimiter
  AnsiString Name;             ///< the tag's name, as the producer reads it
  TStringList Params;          ///< its parameters, as the producer reads them
  std::vector<TToken> Tokens;  ///< the words after the trim markers
  TTagFault Syntax;            ///< a quote left open, at an offset of the tag's inner text
  bool Plain = false;          ///< the name is a plain word: Tokens[0]
  int RawBase = 0;             ///< 1 after a "<#-" trim marker: added to token offsets
};

class TParser {
 public:
  /// Extensions (may be null) name the application's tags and modifiers.
  TParser(TTemplate& T, const AnsiString& Beg, const AnsiString& End,
          const TVekExtensions* Extensions = nullptr);
  /// Fills T's nodes, blocks and findings from its text.
  void Run();

  // The handlers of TagHandlers.cpp, one per kind of tag.
  void OnEach(TTagRead& R);
  void OnIf(TTagRead& R);  ///< if and unless
  void OnBlock(TTagRead& R);
  void OnElse(TTagRead& R);  ///< else and elif
  void OnInclude(TTagRead& R);
  void OnExtends(TTagRead& R);
  void OnSuper(TTagRead& R);
  void OnSet(TTagRead& R);
  void OnVerbatim(TTagRead& R);
  void OnMacro(TTagRead& R);
  void OnCall(TTagRead& R);
  void OnImport(TTagRead& R);
  void OnClosing(TTagRead& R, TPair Pair);
  void OnOther(TTagRead& R);  ///< a value, or a tag the language does not know

 private:
  struct TOpen {
    int Node;
    int ElseHead = -1, ElseTail = -1;  // else and elif tags seen at this pair's level
  };
  enum class TOpenState : uint8_t { None, Open, Closed, Degraded };

  void Scan();
  void OnTag(int Begin, int End, const AnsiString& Text);
  int AddNode(TNodeKind Kind, int Begin, int End);
  TNode& Node(int I) { return T.Nodes[static_cast<size_t>(I)]; }
  std::string Tag(const std::string& Inner) const { return FBeg + Inner + FEnd; }
  std::string RawText(int Begin, int End) const;
  void Error(int Offset, std::string Message) {
    if (!FMuted) T.AddError(Offset, std::move(Message));
  }
  // A syntax fault within a tag, at the byte Offset of its inner text.
  void TagError(int Node, int RawOffset, const std::string& Message);
  TDetails& DetailsFor(int Node);

  // Pairs: opened, closed, or left without a closing tag.
  void OpenPair(const TTagRead& R, TNodeKind Kind);
  bool OneName(const TTagRead& R, const std::string& Example);
  void Degrade(const std::string& Why);
  void Close(int Closer);
  void MoveElses(int& Head, int& Tail, int FromHead, int FromTail);
  void ElseOutside(int Node, const std::string& Why);
  void IncludeArgs(TTagRead& R, bool Include);
  // NAME=VALUE arguments from token From on into T.Includes[At]; File: the
  // file= of an include, read as the producer reads it.
  void Args(const TTagRead& R, size_t From, int At, bool File);
  bool MacroParams(const TTagRead& R, TMacro& M);

  void Condition(int Node, const std::vector<TToken>& Tokens, bool Plain);
  void EachTarget(int Node, const TToken& Token);

  TTemplate& T;
  const TVekExtensions* FExtensions;
  AnsiString FBeg, FEnd;
  TVekPageProducer FScanner;  // its delimiters and scanner only; no handlers
  AnsiString FUpper[kPairCount], FUpperClose[kPairCount];
  std::vector<int> FByName[kPairCount];  // tags of each pair name, by the producer's count
  std::vector<TOpen> FOpen;
  std::vector<TOpenState> FOpenState;
  std::vector<int> FNextElse;
  std::set<int> FElif;                // the nodes of elif tags
  std::set<std::string> FBlockNames;  // of the blocks defined
  int FOpenBlocks = 0;
  int FOpenMacros = 0;
  bool FSawTag = false;  // a tag before which extends may no longer stand
  bool FMuted = false;   // the tag holds a further opening delimiter: told once
  int FResume = -1;      // where the scan goes on after a verbatim text, or -1
  int FTopElseHead = -1, FTopElseTail = -1;
};

/// The name of a pair's opening tag ("each") and its node kind.
const char* PairName(TPair P);
TNodeKind PairKind(TPair P);

}  // namespace vekstd
