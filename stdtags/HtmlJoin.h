// Joining the HTML contexts that the ways through a condition or loop end in:
// the state after them, or why no value after them could be escaped for all.
#pragma once

#include <string>

#include "HtmlState.h"

namespace vekstd {

/// The outcome of JoinHtml.
struct THtmlJoin {
  bool Joined = false;
  THtmlState State;      ///< the joined state, when Joined
  std::string Conflict;  ///< else: the two places, in words ("... on one way and ... on another")
};

/// Joins A and B, the states two ways through an if, elif, else, unless or
/// each end in. They join when equal, and where they differ only in what no
/// later value's escaping depends on:
/// - places between the attributes of the same tag (after its name, an
///   attribute's name, or a quoted value): a later '=' is refused;
/// - parts of one URL attribute: a later value in the same URL is refused;
/// - JavaScript code that differs in what a '/' would be: a later '/' is refused.
/// Everything else (inside a value on one way, outside it on another; a
/// string and code) is a conflict.
THtmlJoin JoinHtml(const THtmlState& A, const THtmlState& B);

/// Whether text that was read from Into reads the same from From: a block of a
/// page ends in From where the layout's block ended in Into. True when they
/// join to Into, apart from the last word of JavaScript code (a value or a
/// word there ends an expression alike).
bool JoinsInto(const THtmlState& Into, const THtmlState& From);

}  // namespace vekstd
