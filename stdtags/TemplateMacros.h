// The judgement of a template's calls to its own macros: each call's macro
// found, its arguments named by the macro's parameters, and its body walked
// from the HTML state of every place it is called from. Internal to the
// standard tags.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <tuple>

#include "VekTemplate.h"

namespace vekstd {

/// Judges the calls of T (after its structural walk): with Names, every
/// call's macro and arguments (a macro T does not define is left to its
/// imports, an error when T imports nothing); then every call outside the
/// macros' bodies, whose body (and the calls within it, followed with an
/// explicit stack, each macro once per state) must stand in the state the
/// call stands in and end where it began. The faults become T's errors at
/// the calls.
void JudgeCalls(TTemplate& T, bool Names);

/// The state the walk goes on from after a call standing in State: as
/// after a value there, joined (JoinHtml) with the places a body may end in
/// that no later value can tell apart: between a tag's attributes after a
/// name or a quoted value; JavaScript code whichever a '/' would be.
THtmlState AfterCall(const THtmlState& State);

/// The first fault of the body Body (a MacroBody of the macro named Name,
/// called in its StartState) itself: an error of its walk, or an end that
/// what follows the call cannot be read from. "" when none; it names its
/// own place. Its end must read as AfterCall of its start.
std::string BodyFault(const TTemplate& Body, const std::string& Name);

/// "the macro M has no parameter x" for an argument of At that M does not
/// take, or "".
std::string ArgumentFault(const TMacro& M, const TIncludeAt& At);

/// Where a call finds its macro: the template that defines it, its index
/// there, and the module (a number the finder gives) its own calls are
/// found from. No Home: the call is not judged.
struct TMacroRef {
  const TTemplate* Home = nullptr;
  int Macro = -1;
  int Module = -1;
};

/// Judges calls: the macro each finds is walked from the state the call
/// stands in, the calls within its body followed with an explicit stack,
/// each macro once per module and state (remembered across Judge calls).
class TCallJudge {
 public:
  /// Finds the macro the call N of the template In (standing in Module)
  /// calls, or sets Fault.
  using TFind =
      std::function<TMacroRef(int Module, const TTemplate& In, const TNode& N, std::string& Fault)>;
  explicit TCallJudge(TFind Find) : FFind(std::move(Find)) {}
  /// The first fault a render of Call (a node of In, in Module) could meet
  /// in the macros it reaches: a body that cannot stand where it is called,
  /// a call the finder refuses, a macro that calls itself on every way
  /// through. "" for none; it names its places.
  std::string Judge(int Module, const TTemplate& In, const TNode& Call);

 private:
  using TKey = std::tuple<int, int, std::string>;
  TFind FFind;
  std::map<TKey, std::string> FJudged;
};

}  // namespace vekstd
