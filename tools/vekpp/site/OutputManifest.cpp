// The manifest of a build's output: read, compared with what was written,
// stale files removed, the new one written through a file renamed into place.
#include "site/OutputManifest.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <unordered_set>

#include "site/BuildState.h"

namespace fs = std::filesystem;

namespace {

// A manifest entry that names a file inside the folder: relative, no "..".
bool Inside(const std::string& Name) {
  if (Name.empty() || Name[0] == '/' || Name.find('\0') != std::string::npos) return false;
  for (const auto& part : fs::path(Name))
    if (part == ".." || part == ".") return false;
  return true;
}

// Whether a folder between Out and its file Name is a link (or not a
// folder): removing through it would remove outside the output.
bool ThroughLink(const fs::path& Out, const std::string& Name) {
  std::error_code ec;
  fs::path dir = Out;
  const fs::path name(Name);
  for (auto part = name.begin(); part != name.end() && std::next(part) != name.end(); ++part) {
    dir /= *part;
    if (!fs::is_directory(fs::symlink_status(dir, ec)) || ec) return true;
  }
  return false;
}

}  // namespace

void VekKeepOutputExact(const fs::path& Out, const std::vector<std::string>& Outputs,
                        bool ReportForeign) {
  std::unordered_set<std::string> now;
  for (const std::string& o : Outputs)
    if (!o.empty()) now.insert(o);
  const fs::path manifest = Out / kOutputManifestName;
  std::error_code ec;
  const fs::path root = fs::canonical(Out, ec);
  if (ec) return;
  size_t removed = 0;
  {
    std::ifstream in(manifest);
    std::string line;
    while (std::getline(in, line)) {
      if (now.count(line) || !Inside(line) || ThroughLink(Out, line)) continue;
      const fs::path file = Out / line;
      // Never through a folder that became a link out of the output.
      const fs::path parent = fs::canonical(file.parent_path(), ec);
      if (ec || parent.lexically_relative(root).native().rfind("..", 0) == 0) continue;
      const auto st = fs::symlink_status(file, ec);
      if (ec || !(fs::is_regular_file(st) || fs::is_symlink(st))) continue;
      if (!fs::remove(file, ec)) continue;
      ++removed;
      // Folders the build made and left empty go too.
      for (fs::path dir = file.parent_path(); dir != Out && dir.has_relative_path();
           dir = dir.parent_path()) {
        if (!fs::is_empty(dir, ec) || ec || !fs::remove(dir, ec)) break;
      }
    }
  }
  {
    const fs::path tmp = manifest.string() + ".vekpp-tmp";
    fs::remove(tmp, ec);  // a link planted there is removed, never written through
    std::ofstream o(tmp, std::ios::trunc);
    std::vector<std::string> sorted(now.begin(), now.end());
    std::sort(sorted.begin(), sorted.end());
    for (const std::string& s : sorted) o << s << '\n';
    if (o.flush()) fs::rename(tmp, manifest, ec);
  }
  if (removed) std::cerr << "vekpp: " << removed << " files of an earlier build removed\n";
  if (!ReportForeign) return;
  std::vector<std::string> foreign;
  size_t foreignCount = 0;
  fs::recursive_directory_iterator it(Out, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec)) continue;
    const std::string name = it->path().lexically_relative(Out).generic_string();
    if (now.count(name) || name == kOutputManifestName || name == kBuildStateName) continue;
    if (++foreignCount <= 3) foreign.push_back(name);
  }
  if (foreignCount) {
    std::cerr << "vekpp: " << foreignCount << " files in " << Out.string()
              << " were not written by vekpp and are left alone:";
    for (const std::string& f : foreign) std::cerr << " " << f;
    if (foreignCount > foreign.size()) std::cerr << " ...";
    std::cerr << "\n";
  }
}
