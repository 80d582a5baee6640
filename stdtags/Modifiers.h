// The modifiers of a value tag: those that choose the escaping (raw, html,
// attr, url, js, css, json) and those that change the value, applied in the
// order written (default, upper, lower, capitalize, trim, truncate, replace,
// join, length, number with group and point, date).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "TagExpr.h"

class TVekExtensions;

namespace vekstd {

/// The escaping a value tag asks for.
enum class TModifier : uint8_t { None, Raw, Html, Attr, Url, Js, Css, Json };

struct TModStep {
  enum class TKind : uint8_t {
    Default,
    Upper,
    Lower,
    Capitalize,
    Trim,
    Truncate,
    Replace,
    Join,
    Length,
    Number,
    Date,
    Custom  ///< the application's modifier A, with the argument B when N is 1
  };
  TKind Kind = TKind::Default;
  std::string A, B;  ///< default, replace (from, to), join, date; number: group
  std::string C;     ///< number: the decimal point
  long long N = 0;   ///< truncate, number: the count
};

/// Reads the modifiers in Tokens[From...]: words, or word=value where value
/// is a word or a quoted string. Sets Escape from an escaping modifier (a
/// second, different one is an error). Returns the fault of an unknown
/// modifier or a malformed value (at a token's offset), or none. The
/// modifiers of Extensions (may be null) are known too.
TTagFault ParseModifiers(const std::vector<TToken>& Tokens, size_t From,
                         std::vector<TModStep>& Steps, TModifier& Escape,
                         const TVekExtensions* Extensions = nullptr);

/// True when Steps hold a default: a missing value is then no error.
bool HasDefault(const std::vector<TModStep>& Steps);

/// The text a value outputs: a string as it is, a number as JSON writes it,
/// true or false; "" for null. Lists and objects give false (no text).
bool ValueText(const TData& V, std::string& Text);

/// What modifiers made of a value: text, or a value (V itself when no step
/// changed it into text, or one of Own's). The text is View: a part of the
/// value's own string, of a step's text, or of Text, the text a step made;
/// valid while the value and the steps are, until the next ApplyModifiers.
struct TModResult {
  bool IsText = false;
  std::string_view View;
  std::string Text;
  const TData* Value = nullptr;  ///< when not text: nullptr for a missing value
  TData Own;
  std::string Scratch;  ///< a step's work space, kept for its capacity
};

/// What an application's modifier threw, worded for the tag's place.
struct TModifierFault : std::runtime_error {
  using std::runtime_error::runtime_error;
};

/// Applies Steps in order to V (nullptr for a missing value) into R. Costs
/// time linear in the value and the output; copies V only where a step
/// changes it. A custom step calls its function from Extensions; what that
/// throws (or a function missing) is thrown as TModifierFault.
void ApplyModifiers(const std::vector<TModStep>& Steps, const TData* V, TModResult& R,
                    const TVekExtensions* Extensions = nullptr);

}  // namespace vekstd
