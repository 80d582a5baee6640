// The shared options of vekpp's commands, bound to the library's option set.
#include "cli/CommonOptions.h"

#include <memory>

namespace {

std::string NotEmpty(const std::string& S) {
  return S.empty() ? "must not be empty" : "";
}

}  // namespace

void AddTemplateOptions(CLI::App& Command, TCommonOptions& Options, bool WithRoot) {
  TVekStdTagsOptions& tags = Options.Tags;
  Command.add_option("--tag-begin", tags.TagBeg, "Opening delimiter of a tag")
      ->capture_default_str()
      ->check(NotEmpty);
  Command.add_option("--tag-end", tags.TagEnd, "Closing delimiter of a tag")
      ->capture_default_str()
      ->check(NotEmpty);
  Command
      .add_option("--max-depth", tags.MaxDepth, "Deepest nesting of pairs and includes together")
      ->capture_default_str()
      ->check(CLI::Range(0, 1 << 20));
  if (WithRoot) {
    Command.add_option("--root", Options.Root,
                       "Directory that includes may read from (default: the template's own)");
  }
}

void AddRenderOptions(CLI::App& Command, TCommonOptions& Options, const char* StrictHelp) {
  TVekStdTagsOptions& tags = Options.Tags;
  Command.add_flag("--strict", tags.Strict, StrictHelp);
  Command.add_flag("--lenient", tags.Lenient,
                   "Render malformed templates as the producer alone would, instead of "
                   "refusing them");
  Command.add_option("--max-includes", tags.MaxIncludes, "Most includes in one page")
      ->capture_default_str()
      ->check(CLI::Range(0LL, 1LL << 40));
  Command.add_option("--max-output", tags.MaxOutput, "Most bytes of one page")
      ->capture_default_str()
      ->check(CLI::Range(0LL, 1LL << 46));
  Command
      .add_option("--max-steps", tags.MaxSteps,
                  "Most tags and texts one page may visit (loops within loops)")
      ->capture_default_str()
      ->check(CLI::Range(0LL, 1LL << 50));
}

TVekStdTagsOptions TagOptions(const TCommonOptions& Common) {
  TVekStdTagsOptions o = Common.Tags;
  o.Cache = std::make_shared<TVekTemplateCache>();
  return o;
}

std::filesystem::path TemplateRootFor(const TCommonOptions& Common, const std::string& Template) {
  if (!Common.Root.empty()) return Common.Root;
  return std::filesystem::absolute(Template).parent_path();
}
