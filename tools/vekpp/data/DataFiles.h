// The data of a site or a render: JSON, YAML and TOML files read by their
// extension and merged, with --set values on top (data/DataFiles.cpp, a
// reader per format beside it).
#pragma once

#include <cstddef>
#include <filesystem>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include "VekStdTags.h"

/// The data file of a template root when none is named: the first of
/// Root/_data.json, _data.yaml, _data.yml and _data.toml that exists, else "".
std::string DefaultDataFile(const std::string& Root);
/// As DefaultDataFile, but Root/_data.json when none exists (for a site
/// whose data file may appear later).
std::string DefaultDataFileOrJson(const std::filesystem::path& Root);

/// Reads the data files Paths in order, each by its extension (.yaml and
/// .yml as YAML, .toml as TOML, anything else as JSON; "-" reads JSON from
/// Stdin, once), merging each into what came before (objects member by
/// member, anything else replaced), then applies the PATH=VALUE settings:
/// VALUE as JSON when it parses, else as a string; PATH dotted, with list
/// elements as "items.0" or "items[0]", missing objects made on the way.
/// Throws std::runtime_error with a message naming the file or the setting.
std::shared_ptr<const TVekData> LoadData(const std::vector<std::string>& Paths,
                                         const std::vector<std::string>& Sets,
                                         std::istream* Stdin = nullptr);

/// The most bytes one data file (or standard input) may hold.
constexpr std::size_t kMaxDataFileBytes = std::size_t{64} << 20;
/// The deepest lists and objects may nest within each other in a data file.
constexpr int kMaxDataNesting = 512;

/// Text parsed by the format its extension Ext names (".yaml", ".yml",
/// ".toml"; anything else is JSON), in time linear in the text. Objects keep
/// their members in the order written; a key repeated within one JSON or
/// YAML object keeps its first place and takes the last value (TOML refuses
/// it, as TOML does). Throws std::runtime_error whose message starts with
/// Name, as "Name:line:column: ..." where the place is known, for text that
/// does not parse, nests deeper than kMaxDataNesting, is longer than
/// kMaxDataFileBytes, or (YAML) whose aliases would expand the data beyond
/// a bound proportional to the text's size.
TVekData ParseDataText(const std::string& Text, const std::string& Name, const std::string& Ext);
