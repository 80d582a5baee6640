// The commands of vekpp. Each returns the process's exit status: 0 when all
// went well, 1 when the templates or data have a fault, 2 when the command
// could not run (a file that cannot be read, a port that cannot be bound).
#pragma once

#include <filesystem>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "HttpServer.h"
#include "VekStdTags.h"

/// Options that every command shares.
struct TCommonOptions {
  std::string TagBeg = "<#";
  std::string TagEnd = "#>";
  std::string Root;  ///< template root; "" for the template's own directory
  bool Strict = false;
  bool Lenient = false;
  long long MaxIncludes = 10000;
  long long MaxOutput = 256LL << 20;
  long long MaxSteps = 100000000;
  int MaxDepth = 256;
};

struct TRenderOptions {
  std::string Template;
  std::vector<std::string> Data;  ///< data files, merged in order; "-" for standard input
  std::vector<std::string> Sets;  ///< name=value
  std::string Output;             ///< "" or "-" for standard output
};

struct TServeOptions {
  std::string Dir;
  std::string Data;  ///< data file; "" for DIR/_data.json (or .yaml, .yml, .toml), if any
  int Port = 8080;
  std::string Bind = "127.0.0.1";
  bool Quiet = false;
  int LiveReload = -1;  ///< 1 on, 0 off, -1 on when bound to loopback
  bool Cache = true;    ///< keep rendered pages while the site does not change
  THttpLimits Limits;
};

struct TBuildOptions {
  std::string Src;
  std::string Out;
  std::string Data;   ///< data file; "" for SRC/_data.json (or .yaml, .yml, .toml), if any
  unsigned Jobs = 0;  ///< 0: one per core
  bool Watch = false;
};

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

/// The options of the standard tags that Common asks for, with a template
/// cache to share between the binders made from them.
TVekStdTagsOptions TagOptions(const TCommonOptions& Common);

int RunRender(const TCommonOptions& Common, const TRenderOptions& Options);
/// Checks Templates; with a DataFile, also warns of the names they use that
/// the data lacks.
int RunCheck(const TCommonOptions& Common, const std::vector<std::string>& Templates,
             const std::string& DataFile);
int RunServe(const TCommonOptions& Common, const TServeOptions& Options);
/// Renders every page of a site into a folder and copies its other files.
int RunBuild(const TCommonOptions& Common, const TBuildOptions& Options);
