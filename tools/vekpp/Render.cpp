// vekpp render and vekpp check.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "Commands.h"
#include "VekStdTags.h"

namespace fs = std::filesystem;
using json = TVekData;

namespace {

// The template root: the one given, or the template's own directory.
fs::path RootFor(const TCommonOptions& Common, const std::string& Template) {
  if (!Common.Root.empty()) return Common.Root;
  return fs::absolute(Template).parent_path();
}

}  // namespace

std::string DefaultDataFile(const std::string& Root) {
  std::error_code ec;
  const fs::path path = fs::path(Root) / "_data.json";
  return fs::is_regular_file(path, ec) ? path.string() : std::string();
}

std::shared_ptr<const json> LoadData(const std::string& Path,
                                     const std::vector<std::string>& Sets) {
  auto data = std::make_shared<json>(json::object());
  if (!Path.empty()) {
    std::ifstream in(Path, std::ios::binary);
    if (!in) throw std::runtime_error(Path + ": cannot be read");
    try {
      *data = json::parse(in);
    } catch (const json::exception& e) {
      throw std::runtime_error(Path + ": " + e.what());
    }
  }
  for (const auto& set : Sets) {
    const size_t eq = set.find('=');
    if (eq == std::string::npos || eq == 0)
      throw std::runtime_error("--set " + set + ": expected name=value");
    const std::string name = set.substr(0, eq);
    json* node = data.get();
    size_t start = 0;
    for (;;) {
      const size_t dot = name.find('.', start);
      const std::string key = name.substr(start, dot == std::string::npos ? dot : dot - start);
      if (key.empty()) throw std::runtime_error("--set " + set + ": empty part in the name");
      if (!node->is_object()) {
        throw std::runtime_error("--set " + set + ": " +
                                 (start ? "\"" + name.substr(0, start - 1) + "\"" : "the data") +
                                 " is not an object");
      }
      node = &(*node)[key];
      if (dot == std::string::npos) break;
      if (node->is_null()) *node = json::object();
      start = dot + 1;
    }
    *node = set.substr(eq + 1);
  }
  return data;
}

TVekStdTagsOptions TagOptions(const TCommonOptions& Common) {
  TVekStdTagsOptions o;
  o.Strict = Common.Strict;
  o.Lenient = Common.Lenient;
  o.TagBeg = Common.TagBeg;
  o.TagEnd = Common.TagEnd;
  o.MaxIncludes = Common.MaxIncludes;
  o.MaxOutput = Common.MaxOutput;
  o.MaxDepth = Common.MaxDepth;
  o.Cache = std::make_shared<TVekTemplateCache>();
  return o;
}

int RunRender(const TCommonOptions& Common, const TRenderOptions& Options) {
  std::shared_ptr<const json> data;
  try {
    const std::string dataFile = Options.Data.empty()
                                     ? DefaultDataFile(RootFor(Common, Options.Template).string())
                                     : Options.Data;
    data = LoadData(dataFile, Options.Sets);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }
  std::unique_ptr<TVekTemplateRoot> root;
  TVekTemplateFile file;
  AnsiString text;
  try {
    root = std::make_unique<TVekTemplateRoot>(RootFor(Common, Options.Template));
    file = root->LocatePath(Options.Template);
    text = root->Read(file);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }
  AnsiString page;
  try {
    TVekPageProducer producer(nullptr);
    TVekStdTags tags(&producer, *root, data, TagOptions(Common));
    page = tags.RenderText(text, file.Name);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 1;
  }
  // Written only once the whole page is there: a failure leaves no half page.
  if (Options.Output.empty() || Options.Output == "-") {
    std::cout.write(page.data(), static_cast<std::streamsize>(page.size()));
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "vekpp: cannot write to standard output\n";
      return 2;
    }
    return 0;
  }
  std::ofstream out(Options.Output, std::ios::binary | std::ios::trunc);
  out.write(page.data(), static_cast<std::streamsize>(page.size()));
  out.close();
  if (!out) {
    std::cerr << "vekpp: " << Options.Output << ": cannot be written\n";
    return 2;
  }
  return 0;
}

int RunCheck(const TCommonOptions& Common, const std::vector<std::string>& Templates,
             const std::string& DataFile) {
  int status = 0;
  std::shared_ptr<const json> data;
  if (!DataFile.empty()) {
    try {
      data = LoadData(DataFile, {});
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << e.what() << "\n";
      return 2;
    }
  }
  for (const auto& path : Templates) {
    try {
      TVekTemplateRoot root(RootFor(Common, path));
      const TVekTemplateFile file = root.LocatePath(path);
      const AnsiString text = root.Read(file);
      auto issues =
          VekCheckTemplate(text, file.Name, &root, Common.TagBeg, Common.TagEnd, Common.MaxDepth);
      if (data) {
        for (auto& w :
             VekCheckDataNames(text, file.Name, root, *data, Common.TagBeg, Common.TagEnd))
          issues.push_back(std::move(w));
        std::stable_sort(issues.begin(), issues.end(), [](const auto& a, const auto& b) {
          return a.Line != b.Line ? a.Line < b.Line : a.Column < b.Column;
        });
      }
      for (const auto& issue : issues) {
        std::cout << path << ":" << issue.Line << ":" << issue.Column << ": "
                  << (issue.Warning ? "warning: " : "") << issue.Message << "\n";
        if (!issue.Warning && status == 0) status = 1;
      }
    } catch (const std::exception& e) {
      std::cerr << "vekpp: " << path << ": " << e.what() << "\n";
      status = 2;
    }
  }
  std::cout.flush();
  return status;
}
