// The parser's walk over the nodes: the nesting depth, the HTML context of
// every value (its escaping), and the states blocks and includes begin and
// end in. Internal to the standard tags.
#pragma once

#include <string>
#include <vector>

#include "VekTemplate.h"

namespace vekstd {

/// Walks T's nodes once, with explicit stacks, and sets T's escapes, block
/// and include states, FirstAtDepth and EndState, adding its findings. With
/// a Parent (the layout T extends), the blocks outside any other block begin
/// where the Parent's block of the same name begins.
///
/// A macro's body is walked only where it is called (a walk over the nodes
/// [Begin, End) from T's StartState: MacroBody); the walk of the whole
/// template passes over it.
class TStructure {
 public:
  TStructure(TTemplate& T, const TTemplate* Parent, int Begin = 0, int End = -1)
      : T(T), FParent(Parent), FBegin(Begin), FEnd(End) {}
  void Run();

 private:
  // States are kept once per run of equal ones (FKept): deep nesting in one
  // place keeps one.
  struct TLevel {
    int Node;
    int AtOpen, End;  // in FKept; End is -1 until one way through has ended
    bool SawElse = false, Told = false;
  };
  struct TBlock {
    int Node;
    const TNode* Parent;  // the layout's block of the same name, if placed by it
  };

  void Text(const TNode& N, bool Outside);
  void Block(size_t I);
  void Branch(const TNode& N);
  void Close();
  void Super(const TNode& N);
  void Value(TNode& N);
  void Open(size_t I);
  void Meet(TLevel& L, const THtmlState& State);
  int Keep(const THtmlState& S);
  void Keep(TNode& N, TEscape E);
  void Error(int Offset, std::string Message) { T.AddError(Offset, std::move(Message)); }
  void Warn(int Offset, std::string Message) { T.AddWarning(Offset, std::move(Message)); }

  TTemplate& T;
  const TTemplate* FParent;
  int FBegin, FEnd;   // the nodes walked; FEnd -1 for all
  THtmlState FState;  // after the nodes walked so far
  std::vector<TLevel> FLevels;
  std::vector<THtmlState> FKept;
  std::vector<TBlock> FBlocks;  // the blocks open
};

}  // namespace vekstd
