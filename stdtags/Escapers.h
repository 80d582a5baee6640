// The escapers of values: one function per language a value can stand in,
// and the one that applies a whole TEscape.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "HtmlContext.h"

namespace vekstd {

/// An ASCII letter or digit (never a byte of 128 or more).
inline bool IsAlnum(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/// c as two upper-case hex digits appended to Out.
inline void AppendHex2(std::string& Out, unsigned char c) {
  static const char kHex[] = "0123456789ABCDEF";
  Out += kHex[c >> 4];
  Out += kHex[c & 15];
}

/// &, <, >, ", ' and CR as character references.
std::string EscapeHtml(const std::string& S);
/// For an unquoted attribute value (and the attr modifier): every ASCII byte
/// but letters, digits, '-', '_' and '.' as a numeric character reference.
std::string EscapeAttrUnquoted(const std::string& S);
/// For the inside of an HTML comment: as EscapeHtml, and '-' and '!' too.
std::string EscapeComment(const std::string& S);
/// Percent-encoding of every byte but the unreserved ones (RFC 3986).
std::string EscapeUrlComponent(const std::string& S);
/// The inside of a JavaScript string literal (any quote, or a template
/// literal): quotes, backslash, <, >, &, /, $, backtick, control bytes and
/// U+2028/U+2029 as escapes; with Dashes, '-' too (in a script after "<!--").
std::string EscapeJsString(const std::string& S, bool Dashes = false);
/// The inside of a JavaScript regular-expression literal: every ASCII byte
/// but letters, digits and space as \xHH (so that it matches itself and can
/// end neither the literal nor the script), U+2028/U+2029 as \u escapes; an
/// empty value as (?:), since "//" would begin a comment.
std::string EscapeJsRegexp(const std::string& S);
/// The inside of a CSS string or comment: every ASCII byte but letters,
/// digits, space and - _ . , # % ! as a hex escape.
std::string EscapeCss(const std::string& S);
/// A CSS value outside strings: S as written (CSS escapes decoded) when it is
/// a safe value (a colour, a length, a percentage, names, a selector's
/// parts), else kUnsafeCss. Unsafe: quotes, brackets, ( ) / ; @ \ ` < >,
/// control bytes, "--", and the names expression and mozbinding.
std::string FilterCssValue(const std::string& S);
/// What stands in for a CSS value that is not safe.
extern const char* const kUnsafeCss;
/// The inside of a CSS url(): percent-encoding of every byte but letters,
/// digits and - . _ ~ : / ? # [ ] @ ! $ & * + , ; = %.
std::string EscapeCssUrl(const std::string& S);
/// A srcset value at a candidate's start (after Prefix, the literal text of
/// the candidate before it): each candidate's URL whose scheme is unsafe
/// replaced by kUnsafeUrl.
std::string FilterSrcset(const std::string& Prefix, const std::string& S);
/// A meta element's content (after Prefix, its literal text before): S, or
/// kUnsafeUrl when Prefix + S is a refresh to a URL of an unsafe scheme.
std::string FilterMetaRefresh(const std::string& Prefix, const std::string& S);
/// V as JSON for a script: <, >, &, ', `, / and U+2028/U+2029 as escapes, so
/// that it can close neither the script element, an attribute nor a regexp;
/// padded with a space on both sides when it begins or ends with a letter or
/// digit, so that it never joins a word beside it (`typeof<#v#>`).
std::string JsonForScript(const nlohmann::ordered_json& V);

/// True when a browser would take Url to have the scheme http, https,
/// mailto or tel, or none (a relative reference). The scheme is judged as
/// browsers judge it: tabs and line breaks dropped anywhere, blanks and
/// control bytes at both ends, letters folded.
bool SafeUrlScheme(const std::string& Url);
/// What stands in for a URL of any other scheme.
extern const char* const kUnsafeUrl;

/// Appends S to Out as EscapeHtml would give it.
void AppendHtml(std::string& Out, std::string_view S);
/// Writes S at W as EscapeHtml would give it, at most 6 bytes for each of
/// S's, and returns the end of what it wrote.
char* WriteHtml(char* W, std::string_view S);

/// True when E escapes a value as HTML text and nothing else (element text,
/// or a quoted attribute value that is no URL, script or style): bytes that
/// are neither markup nor quotes (digits, '-', '.', letters) go out as they are.
inline bool HtmlEscapeOnly(const TEscape& E) {
  return (E.Inner == TInner::Html && E.Wrap == TWrap::None) ||
         (E.Inner == TInner::None && E.Wrap == TWrap::Quoted);
}

/// Appends Text escaped as ApplyEscape gives it to Out, without a copy on
/// the common ways (element text, a quoted attribute).
void AppendEscaped(std::string& Out, const TEscape& E, const std::string& Text,
                   const nlohmann::ordered_json& Json);

/// Escapes Value (the text of a value; Json is the value itself, for JSON
/// contexts) as E says.
std::string ApplyEscape(const TEscape& E, const std::string& Text,
                        const nlohmann::ordered_json& Json);

}  // namespace vekstd
