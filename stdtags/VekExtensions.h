// What application code adds to the standard tags: custom modifiers
// (<#price euros=2#>), functions for expressions (<#if overdue(due, today)#>)
// and application tags (<#user name="Ann"#>), kept in a TVekExtensions that
// the parser, the render and the check share.
//
//   auto ext = std::make_shared<TVekExtensions>();
//   ext->AddModifier("reverse", [](const TVekData& V, const std::vector<std::string>&) {
//     std::string s = V.is_string() ? V.get<std::string>() : V.dump();
//     return TVekData(std::string(s.rbegin(), s.rend()));
//   });
//   ext->AddFunction("max", [](const TVekArgs& A) {
//     if (A.size() != 2) throw std::invalid_argument("takes two numbers");
//     return A[0] < A[1] ? A[1] : A[0];
//   });
//   ext->AddTag("user", [](const TVekTagCall& Call) {
//     return TVekTagAnswer{"<b>" + Call.Param("name") + "</b>", true};  // trusted HTML
//   });
//   options.Extensions = ext;  // or TVekEngine::AddModifier, AddFunction, AddTag
#pragma once

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "VekStdTags.h"

/// A custom modifier: the value it is given (null for a missing value; a
/// string where modifiers before it made text) and its arguments (the one
/// after "=" in `name=arg`, or none), to the value it makes, which is then
/// escaped where the tag stands like any value. It may throw any
/// std::exception: the render then throws EVekTemplateError at the tag's
/// place with the message "modifier "NAME": WHAT".
using TVekModifier =
    std::function<TVekData(const TVekData& Value, const std::vector<std::string>& Args)>;

/// The arguments of a call of a custom function, as the expression gave
/// them: values of paths, literals, results of operators and other calls.
/// A missing value reads as null. Valid until the function returns.
class VEKSTDTAGS_API TVekArgs {
 public:
  /// Made by the render: Count values, each null for a missing value.
  TVekArgs(const TVekData* const* Args, size_t Count) noexcept : FArgs(Args), FCount(Count) {}
  size_t size() const noexcept { return FCount; }
  bool empty() const noexcept { return FCount == 0; }
  /// The argument I (a null value for a missing one). Throws
  /// std::out_of_range when I is not below size(), which the render reports
  /// at the tag as any failure of the function.
  const TVekData& operator[](size_t I) const;

 private:
  const TVekData* const* FArgs;
  size_t FCount;
};

/// A custom function, called in an expression as NAME(ARG, ...): its value
/// takes part in the expression like any other value. It may throw any
/// std::exception: the render then throws EVekTemplateError at the tag's
/// place with the message "function "NAME": WHAT".
using TVekFunction = std::function<TVekData(const TVekArgs& Args)>;

/// What an application tag's handler is given: the tag's name, its
/// parameters as the producer reads them (name=value, or a bare word with an
/// empty name), and the values of the render at the tag's place.
class VEKSTDTAGS_API TVekTagCall {
 public:
  using TParams = std::vector<std::pair<std::string, std::string>>;
  /// Made by the render. Scopes is the render's (internal) scope stack.
  TVekTagCall(const std::string& Name, const TParams& Params, const void* Scopes)
      : FName(Name), FParams(Params), FScopes(Scopes) {}

  const std::string& Name() const noexcept { return FName; }
  const TParams& Params() const noexcept { return FParams; }
  /// The value of the parameter Key ("" when the tag has none of that name).
  std::string Param(const std::string& Key) const;
  /// The value at a data path as a value tag at this place would find it
  /// ("user.name", "." for a loop's element, "@index"), or null when there is
  /// none. The pointer is valid until the handler returns.
  const TVekData* Value(const std::string& Path) const;

 private:
  const std::string& FName;
  const TParams& FParams;
  const void* FScopes;
  mutable TVekData FScratch;  // a loop position made for Value
};

/// A handler's answer: the text that stands for the tag. It is escaped for
/// where the tag stands (element text, an attribute, a URL, a script ...)
/// unless TrustedHtml is set and the tag stands in element text, where it is
/// then written as it is: it must be whole HTML that ends where it began (no
/// element left open), since the escaping of what follows assumes so.
/// TrustedHtml anywhere else is escaped all the same.
struct TVekTagAnswer {
  std::string Text;
  bool TrustedHtml = false;
};

/// An application tag's handler. It may throw any std::exception: the
/// render then throws EVekTemplateError at the tag's place with the message
/// "tag "NAME": WHAT".
using TVekTagHandler = std::function<TVekTagAnswer(const TVekTagCall& Call)>;

/// Custom modifiers, functions and application tags by name. A template's
/// tag whose name is a registered tag is answered by its handler (a tag the
/// standard tags do not know is an error otherwise); a modifier or a
/// function whose name is registered calls its function (an unknown one is
/// an error of the template, found by the parse and by check).
/// Registering is not safe while a render or check uses the object; the
/// functions themselves are called from every thread that renders, so they
/// must be safe to call at the same time.
class VEKSTDTAGS_API TVekExtensions {
 public:
  /// Adds or replaces the modifier Name: a word of letters, digits and '_'
  /// that begins with a letter, and no standard modifier's name. Throws
  /// std::invalid_argument for another name or an empty function.
  void AddModifier(const std::string& Name, TVekModifier Function);
  /// Adds or replaces the application tag Name: a word as for a modifier,
  /// and no name of a standard tag (each, if, elif, else, unless, set,
  /// include, extends, block, super, verbatim). Throws std::invalid_argument as AddModifier.
  void AddTag(const std::string& Name, TVekTagHandler Handler);
  /// Adds or replaces the function Name: a word as for a modifier, and none
  /// of the words of expressions (and, or, not, in, true, false, null).
  /// Throws std::invalid_argument as AddModifier.
  void AddFunction(const std::string& Name, TVekFunction Function);

  /// The modifier, tag or function of that name, or null.
  const TVekModifier* Modifier(const std::string& Name) const;
  const TVekTagHandler* Tag(const std::string& Name) const;
  const TVekFunction* Function(const std::string& Name) const;
  /// The names of the functions, in order (for "did you mean" in messages).
  std::vector<std::string> FunctionNames() const;
  /// The names registered, as one text: templates parsed with other names
  /// are told apart by it in a shared cache.
  const std::string& Key() const noexcept { return FKey; }

 private:
  void Rekey();

  std::map<std::string, TVekModifier> FModifiers;
  std::map<std::string, TVekTagHandler> FTags;
  std::map<std::string, TVekFunction> FFunctions;
  std::string FKey;
};
