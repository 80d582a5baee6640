// The build's state kept in its output folder: the dependency graph and the
// pages read, so that the next vekpp build renders only what changed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "VekStdTags.h"
#include "site/SitePages.h"

class TBuildGraph;

/// The state's file inside the output folder (a name no site publishes).
constexpr const char* kBuildStateName = ".vekpp-build";

/// A state file is read only up to this size; a larger state is not written.
constexpr size_t kMaxBuildStateBytes = size_t{1} << 30;

/// A value of a page's data nested deeper than this is not kept.
constexpr size_t kMaxBuildStateDepth = 256;

/// The bytes of Graph's state (its outputs and what they were made from,
/// and its pages read) under Key, which says what else the outputs depend
/// on (the tool's version, the options that change output, vekpp.toml).
/// Only Markdown pages' reads are kept. Throws std::length_error when the
/// state would pass kMaxBuildStateBytes or a value kMaxBuildStateDepth.
std::string VekBuildStateBytes(const std::string& Key, const TBuildGraph& Graph);

/// The same bytes handed to Sink a piece at a time (about a megabyte
/// each), never held whole. Throws what Sink throws, and as
/// VekBuildStateBytes does (the bytes handed out by then are not a whole
/// state).
void VekStreamBuildState(const std::string& Key, const TBuildGraph& Graph,
                         const std::function<void(const char*, size_t)>& Sink);

/// Reads Bytes into Graph (its outputs and its pages read) when they are a
/// whole state written under Key; a page's place and template are made
/// again from its source's name and its data with O, never taken from the
/// file. Returns "" then, else why the state was not used (one line), and
/// Graph is left as it was. Bytes are hostile: any length, any contents
/// are refused with a reason, in time linear in their size, without
/// recursion.
std::string VekReadBuildState(const std::string& Bytes, const std::string& Key,
                              const TSitePagesOptions& O, TBuildGraph& Graph);

struct TPageRead;

/// A page as read, as the state file holds it (TSiteReadCache::Encoded).
/// Throws std::length_error as VekBuildStateBytes does.
std::string VekPageReadBytes(const TPageRead& Read);
/// The page read that Bytes (from VekPageReadBytes, or a state file read)
/// hold. Throws std::runtime_error when they are not one whole read.
TPageRead VekPageReadFromBytes(const std::string& Bytes);

/// Rewrites the checksum at the end of Bytes (at least 8 bytes) to match the
/// rest: for tests that change a state and want it read past the checksum.
void VekSealBuildState(std::string& Bytes);
