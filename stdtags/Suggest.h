// The nearest known word to a misspelled one, for messages that end in
// "did you mean ...?". Internal to the standard tags.
#pragma once

#include <string>
#include <vector>

namespace vekstd {

/// The word of Known nearest to Word by edit distance (insertions,
/// deletions, substitutions and swaps of neighbours, each counting 1), if
/// it is at most 1 for words of up to 4 bytes and at most 2 otherwise; ""
/// when none is that near. Words longer than 64 bytes are never near: the
/// cost stays bounded whatever the template holds.
std::string Nearest(const std::string& Word, const std::vector<std::string>& Known);

/// " (did you mean X?)" for the nearest word X, or "".
std::string DidYouMean(const std::string& Word, const std::vector<std::string>& Known,
                       const std::string& Before = "", const std::string& After = "");

}  // namespace vekstd
