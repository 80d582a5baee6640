// The options that every command of vekpp shares: delimiters, limits and
// tolerance of a render (the library's own option set, with its defaults),
// and the template root.
#pragma once

#include <CLI/CLI.hpp>

#include <filesystem>
#include <string>

#include "VekStdTags.h"

struct TCommonOptions {
  /// Filled from the command line; what is not given keeps the library's
  /// default. Its Cache is left null here (see TagOptions).
  TVekStdTagsOptions Tags;
  std::string Root;  ///< template root; "" for the template's own directory
};

/// Adds --tag-begin, --tag-end, --max-depth and, WithRoot, --root.
void AddTemplateOptions(CLI::App& Command, TCommonOptions& Options, bool WithRoot);
/// Adds --strict (described by StrictHelp), --lenient, --max-includes,
/// --max-output and --max-steps.
void AddRenderOptions(CLI::App& Command, TCommonOptions& Options, const char* StrictHelp);

/// The options of the standard tags that Common asks for, with a template
/// cache to share between the binders made from them.
TVekStdTagsOptions TagOptions(const TCommonOptions& Common);

/// The template root for Template: Common.Root when given, else the
/// template's own directory.
std::filesystem::path TemplateRootFor(const TCommonOptions& Common, const std::string& Template);
