// Parsing one data file's text (JSON, YAML or TOML) into TVekData, in time
// linear in the text and with its nesting and size bounded.
#pragma once

#include <cstddef>
#include <string>

#include "VekStdTags.h"

/// The most bytes one data file (or standard input) may hold.
constexpr std::size_t kMaxDataFileBytes = std::size_t{64} << 20;
/// The deepest lists and objects may nest within each other in a data file.
constexpr int kMaxDataNesting = 512;

/// Text parsed by the format its extension Ext names (".yaml", ".yml",
/// ".toml"; anything else is JSON). Objects keep their members in the
/// order written; a key repeated within one JSON or YAML object keeps its
/// first place and takes the last value (TOML refuses it, as TOML does).
/// Throws std::runtime_error whose message starts with Name, and with
/// "Name:line:column:" where the place is known, for text that does not
/// parse, nests deeper than kMaxDataNesting, is longer than
/// kMaxDataFileBytes, or (YAML) whose aliases would expand the data beyond
/// a bound proportional to the text's size.
TVekData ParseDataText(const std::string& Text, const std::string& Name, const std::string& Ext);
