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
#include "site/OutputManifest.h"
#include "site/PageRender.h"
#include "site/SiteData.h"
#include "site/SiteFiles.h"
#include "site/SiteNames.h"
#include "site/SitePages.h"

namespace fs = std::filesystem;

namespace {

// Why Out may not receive a build of Src (both canonical), or "": the
// output may not be the site, nor hold it, nor lie inside it where the
// site's files are published (a page written there would be read back as a
// source by the next build) unless Chosen (named by the site's own
// vekpp.toml, so left out of its files); inside a private folder of the site
// it may.
std::string OutputProblem(const fs::path& Src, const fs::path& Out, bool Chosen) {
  if (Out == Src) return "is the site itself: its templates would be overwritten";
  if (VekPathWithin(Src, Out)) return "holds the site: its templates could be overwritten";
  if (Chosen || !VekPathWithin(Out, Src)) return "";
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
    return VekQuoteName(dir + Name) + VekTerminalLines(Message.substr(Name.size()));
  return VekQuoteName(dir + Name) + ": " + VekTerminalLines(Message);
}

}  // namespace

int VekBuildSite(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options) {
  const auto started = std::chrono::steady_clock::now();
  std::unique_ptr<TVekTemplateRoot> root;
  std::unique_ptr<TOutputFolder> output;
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
    out = fs::weakly_canonical(fs::absolute(outDir), ec);
    if (ec) throw std::runtime_error(VekQuoteName(outDir) + ": " + ec.message());
    const std::string problem =
        OutputProblem(root->Dir(), out, Options.Out.empty() || Options.OutFromConfig);
    if (!problem.empty())
      throw std::runtime_error("the output folder " + VekQuoteName(outDir) + " " + problem);
    output = std::make_unique<TOutputFolder>(out);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }

  std::vector<TSiteFile> items = VekSiteFiles(root->Dir(), out);
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
  // The pages the build makes (tag pages, further pages of lists) follow.
  std::vector<const TSitePage*> allPages;
  for (const TSitePage& p : sitePages.Pages) allPages.push_back(&p);
  for (const TSitePage& p : sitePages.Generated) {
    pageOf.push_back(allPages.size());
    allPages.push_back(&p);
    items.push_back({p.Source, true});
  }
  std::atomic<size_t> skipped{0};
  std::vector<std::string> failures(items.size());
  // What each item writes (or, when it failed, would have written): the
  // output manifest keeps these.
  std::vector<std::string> outputs(items.size());
  std::atomic<size_t> next{0};
  std::atomic<size_t> pages{0}, files{0};
  const auto work = [&] {
    for (size_t i; (i = next++) < items.size();) {
      const TSiteFile& item = items[i];
      try {
        // Located first: a link that leaves the site is refused, for a page
        // and a copied file alike.
        const TVekTemplateFile file = root->Locate("", item.Name);
        outputs[i] = item.Page ? allPages[pageOf[i]]->Output : item.Name;
        if (item.Page) {
          const TSitePage& sitePage = *allPages[pageOf[i]];
          if (sitePage.Error.empty() && !sitePage.Published) {
            outputs[i].clear();
            ++skipped;
            continue;
          }
          const std::string page = VekRenderSitePage(*root, sitePages, sitePage, TagOptions);
          output->Write(sitePage.Output, page);
          ++pages;
        } else {
          output->Copy(item.Name, file.Path);
          ++files;
        }
      } catch (const std::exception& e) {
        // An error that names the page itself (and where known its line and
        // column) is shown as a path from here; others after the page's path.
        const auto* error = dynamic_cast<const EVekTemplateError*>(&e);
        const bool named = (error && error->File() == item.Name) ||
                           (item.Page && !allPages[pageOf[i]]->Error.empty());
        failures[i] = FailureLine(Options.Src, item.Name, WithFlags(e.what()), named);
      }
    }
  };
  const unsigned jobs =
      Options.Jobs ? Options.Jobs : std::max(1u, std::thread::hardware_concurrency());
  std::vector<std::thread> threads;
  for (unsigned t = 1; t < jobs; ++t) threads.emplace_back(work);
  work();
  for (auto& t : threads) t.join();

  VekKeepOutputExact(out, outputs);
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
  if (skipped) std::cerr << "; " << skipped << " drafts or future pages left out";
  if (failed) std::cerr << "; " << failed << " failed";
  std::cerr << std::endl;
  return failed ? 1 : 0;
}
