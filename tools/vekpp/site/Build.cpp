// One build of a site: every page rendered into a folder, on every core,
// and its other files copied.
#include "site/Build.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "base/Messages.h"
#include "data/DataFiles.h"
#include "site/PageRender.h"
#include "site/SiteData.h"
#include "site/SiteNames.h"
#include "site/SitePages.h"

namespace fs = std::filesystem;

namespace {

// A file of the site: a page to render, or a file to copy.
struct TItem {
  std::string Name;  // relative to the site, "/" separators
  bool Page;
};

// The site's files, private names left out (and what is below such a
// directory), and the output folder too when it lies inside.
// Directory links are not followed.
std::vector<TItem> SiteFiles(const fs::path& Src, const fs::path& Out) {
  std::vector<TItem> items;
  std::error_code ec;
  fs::recursive_directory_iterator it(Src, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string leaf = it->path().filename().string();
    const bool dir = it->is_directory(ec);
    if (VekPrivateName(leaf) || (dir && it->path() == Out)) {
      if (dir) it.disable_recursion_pending();
      continue;
    }
    if (dir) continue;
    const std::string name = it->path().lexically_relative(Src).generic_string();
    if (name == kSiteConfigName) continue;
    const bool page = (name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0) ||
                      (name.size() > 3 && name.compare(name.size() - 3, 3, ".md") == 0);
    items.push_back({name, page});
  }
  std::sort(items.begin(), items.end(),
            [](const TItem& A, const TItem& B) { return A.Name < B.Name; });
  return items;
}

// Writes Bytes to Path through a file beside it, renamed into place: a
// reader never sees half a page.
bool WriteFile(const fs::path& Path, const std::string& Bytes) {
  std::error_code ec;
  fs::create_directories(Path.parent_path(), ec);
  const fs::path tmp = Path.string() + ".vekpp-tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    if (!out.flush()) return false;
  }
  fs::rename(tmp, Path, ec);
  return !ec;
}

}  // namespace

int VekBuildSite(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options) {
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<TVekTemplateRoot> root;
  std::shared_ptr<const TVekData> data;
  fs::path out;
  TSitePagesOptions pageOptions;
  try {
    root = std::make_unique<TVekTemplateRoot>(Options.Src);
    TSiteData site(Options.Data.empty() ? DefaultDataFileOrJson(root->Dir()) : Options.Data,
                   Options.Data.empty());
    data = site.Get();
    pageOptions.Config = VekReadSiteConfig(root->Dir().string());
    const std::string outDir = !Options.Out.empty() ? Options.Out
                               : !pageOptions.Config.Output.empty()
                                   ? (fs::path(Options.Src) / pageOptions.Config.Output).string()
                                   : "";
    if (outDir.empty())
      throw std::runtime_error("no output folder: give -o, or output in vekpp.toml");
    std::error_code ec;
    fs::create_directories(outDir, ec);
    out = fs::canonical(outDir);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << e.what() << "\n";
    return 2;
  }

  const std::vector<TItem> items = SiteFiles(root->Dir(), out);
  // Every page read first: each template sees the site's lists of pages.
  pageOptions.Drafts = Options.Drafts;
  pageOptions.Future = Options.Future;
  pageOptions.UglyUrls = Options.UglyUrls;
  pageOptions.TagBeg = TagOptions.TagBeg;
  pageOptions.TagEnd = TagOptions.TagEnd;
  std::vector<std::string> pageNames;
  std::vector<size_t> pageOf(items.size(), 0);
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].Page) continue;
    pageOf[i] = pageNames.size();
    pageNames.push_back(items[i].Name);
  }
  const TSitePages sitePages = VekReadSitePages(*root, pageNames, *data, pageOptions, Options.Jobs);
  std::atomic<size_t> skipped{0};
  std::vector<std::string> failures(items.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> pages{0}, files{0};
  const auto work = [&] {
    for (size_t i; (i = next++) < items.size();) {
      const TItem& item = items[i];
      try {
        // Located first: a link that leaves the site is refused, for a page
        // and a copied file alike.
        const TVekTemplateFile file = root->Locate("", item.Name);
        if (item.Page) {
          const TSitePage& sitePage = sitePages.Pages[pageOf[i]];
          if (sitePage.Error.empty() && !sitePage.Published) {
            ++skipped;
            continue;
          }
          const std::string page = VekRenderSitePage(*root, sitePages, sitePage, TagOptions);
          if (!WriteFile(out / sitePage.Output, page))
            throw std::runtime_error("cannot be written");
          ++pages;
        } else {
          std::error_code ec;
          fs::create_directories((out / item.Name).parent_path(), ec);
          fs::copy_file(file.Path, out / item.Name, fs::copy_options::overwrite_existing, ec);
          if (ec) throw std::runtime_error("cannot be copied: " + ec.message());
          ++files;
        }
      } catch (const std::exception& e) {
        // An error that names the page itself (and where known its line and
        // column) is shown as a path from here; others after the page's path.
        const std::string message = WithFlags(e.what());
        const std::string src = (fs::path(Options.Src) / "").generic_string();
        const auto* error = dynamic_cast<const EVekTemplateError*>(&e);
        const bool named = (error && error->File() == item.Name) ||
                           (item.Page && !sitePages.Pages[pageOf[i]].Error.empty());
        failures[i] = named ? src + message : src + item.Name + ": " + message;
      }
    }
  };
  const unsigned jobs =
      Options.Jobs ? Options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs; ++t) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();

  size_t failed = 0;
  for (const auto& f : failures) {
    if (f.empty()) continue;
    std::cerr << f << "\n";
    ++failed;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.3f", seconds);
  std::cerr << "vekpp: " << pages << " pages rendered, " << files << " files copied into "
            << out.string() << " in " << took << " s";
  if (skipped) std::cerr << "; " << skipped << " drafts or future pages left out";
  if (failed) std::cerr << "; " << failed << " failed";
  std::cerr << std::endl;
  return failed ? 1 : 0;
}
