// The one call through which vekpp expands a page of a site, for serve and
// build alike.
#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "VekStdTags.h"

/// Expands the template Name (relative to Root) with Data, through the
/// content-producer interface of this thread's own producer, as a web
/// dispatcher would. Throws EVekPathError when the template cannot be
/// found or leaves the root, and another std::exception, whose message
/// names the template and where known its line and column, for a fault of
/// the template or its data.
AnsiString VekRenderPage(const TVekTemplateRoot& Root, std::shared_ptr<const TVekData> Data,
                         const TVekStdTagsOptions& Options, const std::string& Name);
