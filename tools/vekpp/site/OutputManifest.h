// The output folder of a build kept exact: what an earlier build wrote and
// this one no longer writes is removed; what no build wrote is left alone
// and reported.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

/// The list of files the last build wrote, inside the output folder.
constexpr const char* kOutputManifestName = ".vekpp-manifest";

/// Outputs: what each item of the build wrote or, having failed, would have
/// written (relative to Out, "/" separators; "" for nothing). Removes the
/// files that Out/.vekpp-manifest lists and Outputs does not (and folders
/// left empty by that), writes the new manifest, and, with ReportForeign,
/// lists on standard error the files of Out that neither names (a walk of
/// the whole folder). Entries of an old manifest that leave Out, or are not
/// files, are ignored; links are removed, never followed.
void VekKeepOutputExact(const std::filesystem::path& Out, const std::vector<std::string>& Outputs,
                        bool ReportForeign = true);
