// One build of a site: every page rendered into a folder, on every core,
// and its other files copied.
#include "site/Build.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "base/Messages.h"
#include "base/PathWithin.h"
#include "base/Printable.h"
#include "data/DataFiles.h"
#include "site/OutputFolder.h"
#include "site/PageRender.h"
#include "site/SiteData.h"
#include "site/SiteNames.h"

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
    const bool page = name.size() > 5 && name.compare(name.size() - 5, 5, ".html") == 0;
    items.push_back({name, page});
  }
  std::sort(items.begin(), items.end(),
            [](const TItem& A, const TItem& B) { return A.Name < B.Name; });
  return items;
}

// Why Out may not receive a build of Src (both canonical), or "": the
// output may not be the site, nor hold it, nor lie inside it where the
// site's files are published (a page written there would be read back as a
// source by the next build); inside a private folder of the site it may.
std::string OutputProblem(const fs::path& Src, const fs::path& Out) {
  if (Out == Src) return "is the site itself: its templates would be overwritten";
  if (VekPathWithin(Src, Out)) return "holds the site: its templates could be overwritten";
  if (!VekPathWithin(Out, Src)) return "";
  for (const auto& part : Out.lexically_relative(Src)) {
    if (VekPrivateName(part.string())) return "";
  }
  return "lies inside the site, where its files are published: choose a folder outside it, "
         "or one inside whose name begins with \"_\" or \".\"";
}

// The line of a failure of the page Name: an error of the page itself
// (NamesPage: its message opens with the page's name, and where known its
// line and column) is shown as a path from here; others after the page's path.
std::string FailureLine(const std::string& Src, const std::string& Name, const std::string& Message,
                        bool NamesPage) {
  const std::string dir = (fs::path(Src) / "").generic_string();
  if (NamesPage && Message.compare(0, Name.size() + 1, Name + ":") == 0)
    return VekQuoteName(dir + Name) + VekTerminalText(Message.substr(Name.size()));
  return VekQuoteName(dir + Name) + ": " + VekTerminalText(Message);
}

}  // namespace

int VekBuildSite(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options) {
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<TVekTemplateRoot> root;
  std::unique_ptr<TOutputFolder> output;
  std::shared_ptr<const TVekData> data;
  fs::path out;
  try {
    root = std::make_unique<TVekTemplateRoot>(Options.Src);
    std::error_code ec;
    out = fs::weakly_canonical(fs::absolute(Options.Out), ec);
    if (ec) throw std::runtime_error(VekQuoteName(Options.Out) + ": " + ec.message());
    if (const std::string problem = OutputProblem(root->Dir(), out); !problem.empty())
      throw std::runtime_error("the output folder " + VekQuoteName(Options.Out) + " " + problem);
    TSiteData site(Options.Data.empty() ? DefaultDataFileOrJson(root->Dir()) : Options.Data,
                   Options.Data.empty());
    data = site.Get();
    output = std::make_unique<TOutputFolder>(out);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }

  const std::vector<TItem> items = SiteFiles(root->Dir(), out);
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
          output->Write(item.Name, VekRenderPage(*root, data, TagOptions, item.Name));
          ++pages;
        } else {
          output->Copy(item.Name, file.Path);
          ++files;
        }
      } catch (const std::exception& e) {
        // An error that names the page itself (and where known its line and
        // column) is shown as a path from here; others after the page's path.
        const auto* error = dynamic_cast<const EVekTemplateError*>(&e);
        failures[i] = FailureLine(Options.Src, item.Name, WithFlags(e.what()),
                                  error && error->File() == item.Name);
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
            << VekQuoteName(out.string()) << " in " << took << " s";
  if (failed) std::cerr << "; " << failed << " failed";
  std::cerr << std::endl;
  return failed ? 1 : 0;
}
