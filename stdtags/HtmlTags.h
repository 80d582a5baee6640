// What tags and attributes mean to the HTML context tokenizer: the kind of an
// attribute's value, the element a start tag opens (raw text, SVG, MathML),
// and the attribute an SVG animation targets. Internal to the tracker.
#pragma once

#include <string>

#include "HtmlState.h"

namespace vekstd {

/// The kind of the value of the attribute S.AttrName of the tag being read.
TAttrKind AttrKindOf(const THtmlState& S);

/// A start tag's name has been read: notes an SVG animation element.
void TagNameEnded(THtmlState& S);

/// The end of an attribute's value: notes an animation's target, and forgets
/// what the value held, so that equal places compare equal.
void AttrValueEnded(THtmlState& S);

/// The end of a tag: element text, or the raw text of the element it opens,
/// with SVG and MathML followed as the browser's tree builder does. Nothing
/// else of the tag is kept. Sets Problem where the tracker cannot follow.
void EmitTag(THtmlState& S, bool SelfClosing, std::string& Problem);

/// A fresh state in Mode, keeping what lasts beyond a tag (SVG and MathML).
void ResetAfterTag(THtmlState& S, THtmlMode Mode);

}  // namespace vekstd
