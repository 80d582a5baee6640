// One build of a site: every page rendered into a folder, on every core,
// and its other files copied.
#include "site/Build.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/Messages.h"
#include "base/PathWithin.h"
#include "base/Printable.h"
#include "data/DataFiles.h"
#include "site/BuildGraph.h"
#include "site/BuildState.h"
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

// A line on standard error, rewritten in place while a long build runs:
// the outputs done of all and the rate. Only on a terminal, and only once
// the build has run for half a second.
class TProgress {
 public:
  TProgress(bool On, const std::atomic<size_t>& Done, size_t Total) : FDone(Done), FTotal(Total) {
    if (On && isatty(STDERR_FILENO)) FThread = std::thread([this] { Run(); });
  }
  ~TProgress() {
    {
      std::lock_guard<std::mutex> lock(FMutex);
      FStop = true;
    }
    FWake.notify_one();
    if (FThread.joinable()) FThread.join();
    if (FShown) std::cerr << "\r\x1b[K" << std::flush;
  }

 private:
  void Run() {
    const auto start = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(FMutex);
    if (FWake.wait_for(lock, std::chrono::milliseconds(500), [this] { return FStop; })) return;
    do {
      const double s =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const size_t done = FDone;
      char line[96];
      std::snprintf(line, sizeof line, "\rvekpp: %zu/%zu outputs, %.0f a second\x1b[K", done,
                    FTotal, s > 0 ? done / s : 0.0);
      std::cerr << line << std::flush;
      FShown = true;
    } while (!FWake.wait_for(lock, std::chrono::milliseconds(250), [this] { return FStop; }));
  }

  const std::atomic<size_t>& FDone;
  const size_t FTotal;
  std::mutex FMutex;
  std::condition_variable FWake;
  bool FStop = false;
  bool FShown = false;
  std::thread FThread;
};

// What the outputs depend on besides the site's files, as the key of the
// build's state: the tool, the site and data file, the options that change
// output, and vekpp.toml's bytes.
std::string StateKey(const TVekStdTagsOptions& T, const TSiteBuild& O, const fs::path& Src) {
  std::ostringstream k;
  k << "vekpp " << VEK_VERSION << " " << __VERSION__ << " " << sizeof(void*) << '\0' << Src.string()
    << '\0';
  std::error_code ec;
  k << (O.Data.empty() ? std::string() : fs::weakly_canonical(fs::absolute(O.Data), ec).string())
    << '\0' << O.Drafts << O.Future << O.UglyUrls << T.Strict << T.Lenient << '\0' << T.TagBeg
    << '\0' << T.TagEnd << '\0' << T.MaxIncludeDepth << ' ' << T.MaxTemplateSize << ' '
    << T.MaxIncludes << ' ' << T.MaxOutput << ' ' << T.MaxDepth << ' ' << T.MaxSteps << '\0';
  std::ifstream config(Src / "vekpp.toml", std::ios::binary);
  k << config.rdbuf();
  return k.str();
}

// The state in Out read into Graph: "" when used, else why not.
std::string LoadState(const fs::path& Out, const std::string& Key, const TSitePagesOptions& O,
                      TBuildGraph& Graph) {
  const int fd = open((Out / kBuildStateName).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? "no state of an earlier build" : "its state cannot be read";
  std::string bytes;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (ok && static_cast<unsigned long long>(st.st_size) > kMaxBuildStateBytes) {
    close(fd);
    return "its state is larger than a state may be";
  }
  if (ok) {
    bytes.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (ok && got < bytes.size()) {
      const ssize_t n = read(fd, &bytes[got], bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0)
        ok = false;
      else
        got += static_cast<size_t>(n);
    }
  }
  close(fd);
  if (!ok) return "its state cannot be read";
  const std::string why = VekReadBuildState(bytes, Key, O, Graph);
  return why.empty() ? why : "its state is " + why;
}

// Graph's state written into Out under Key; when it cannot be, the old
// state is removed, so that no later build starts from it.
void SaveState(const TOutputFolder& Out, const fs::path& Dir, const std::string& Key,
               const TBuildGraph& Graph) {
  try {
    Out.WriteWith(kBuildStateName, [&](const std::function<void(const char*, size_t)>& Write) {
      VekStreamBuildState(Key, Graph, Write);
    });
  } catch (const std::exception& e) {
    std::error_code ec;
    fs::remove(Dir / kBuildStateName, ec);
    std::cerr << "vekpp: the build's state is not kept (" << VekTerminalText(e.what())
              << "): the next build renders every page\n";
  }
}

// What a build starts from: the site, its data and options, the output folder.
struct TBuildStart {
  std::unique_ptr<TVekTemplateRoot> Root;
  std::unique_ptr<TOutputFolder> Output;
  std::shared_ptr<const TVekData> Data;
  fs::path Out;
  TSitePagesOptions PageOptions;
};

// Opens the site, its data file and vekpp.toml, and the output folder
// (checked against the site). Throws with what prevents the build.
TBuildStart StartBuild(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options) {
  TBuildStart b;
  b.Root = std::make_unique<TVekTemplateRoot>(Options.Src);
  TSiteData site(Options.Data.empty() ? DefaultDataFileOrJson(b.Root->Dir()) : Options.Data,
                 Options.Data.empty());
  b.Data = site.Get();
  TSitePagesOptions& o = b.PageOptions;
  o.Config = VekReadSiteConfig(b.Root->Dir().string());
  const std::string outDir = !Options.Out.empty() ? Options.Out
                             : !o.Config.Output.empty()
                                 ? (fs::path(Options.Src) / o.Config.Output).string()
                                 : "";
  if (outDir.empty())
    throw std::runtime_error("no output folder: give -o, or output in vekpp.toml");
  std::error_code ec;
  b.Out = fs::weakly_canonical(fs::absolute(outDir), ec);
  if (ec) throw std::runtime_error(VekQuoteName(outDir) + ": " + ec.message());
  const std::string problem =
      OutputProblem(b.Root->Dir(), b.Out, Options.Out.empty() || Options.OutFromConfig);
  if (!problem.empty())
    throw std::runtime_error("the output folder " + VekQuoteName(outDir) + " " + problem);
  b.Output = std::make_unique<TOutputFolder>(b.Out);
  o.Drafts = Options.Drafts;
  o.Future = Options.Future;
  o.UglyUrls = Options.UglyUrls;
  o.Now = Options.Now;
  o.TagBeg = TagOptions.TagBeg;
  o.TagEnd = TagOptions.TagEnd;
  o.ShareLists = true;
  return b;
}

// The outputs of one build, made on several threads: each item (a page
// read, a page the build made, a file to copy) rendered, copied or kept.
class TBuildOutputs {
 public:
  TBuildOutputs(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options,
                const TBuildStart& Start, const TSitePages& Site, std::vector<TSiteFile> AllItems,
                std::vector<const TSitePage*> ItemPages, TBuildGraph* Graph)
      : Items(std::move(AllItems)),
        PageOf(std::move(ItemPages)),
        Failures(Items.size()),
        Outputs(Items.size()),
        FTagOptions(TagOptions),
        FOptions(Options),
        FStart(Start),
        FSite(Site),
        FGraph(Graph) {}

  // Every item, on Jobs threads, with a progress line.
  void Run(unsigned Jobs) {
    TProgress progress(!FOptions.Quiet, Done, Items.size());
    const auto work = [this] {
      for (size_t i; (i = FNext++) < Items.size(); ++Done) One(i);
    };
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < Jobs; ++t) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
  }

  const std::vector<TSiteFile> Items;
  const std::vector<const TSitePage*> PageOf;  // the page of each item; null for a file
  std::vector<std::string> Failures;           // each item's failure line, "" for none
  // What each item writes (or, when it failed, would have written): the
  // output manifest keeps these.
  std::vector<std::string> Outputs;
  std::atomic<size_t> Done{0}, Skipped{0}, Pages{0}, Files{0}, Kept{0};

 private:
  void One(size_t I) {
    const TSiteFile& item = Items[I];
    try {
      if (item.Page)
        Page(I, *PageOf[I]);
      else
        Copy(I, item.Name);
    } catch (const std::exception& e) {
      // An error that names the page itself (and where known its line and
      // column) is shown as a path from here; others after the page's path.
      const auto* error = dynamic_cast<const EVekTemplateError*>(&e);
      const bool named =
          (error && error->File() == item.Name) || (item.Page && !PageOf[I]->Error.empty());
      Failures[I] = FailureLine(FOptions.Src, item.Name, WithFlags(e.what()), named);
    }
  }

  void Page(size_t I, const TSitePage& P) {
    if (P.Error.empty() && !P.Published) {
      ++Skipped;
      return;
    }
    const TVekTemplateRoot& root = *FStart.Root;
    // Read (and located) without fault, and as the last build rendered it:
    // kept.
    if (FGraph && P.Error.empty() && FStart.Output->Exists(P.Output) &&
        FGraph->Unchanged(root, P)) {
      Outputs[I] = P.Output;
      ++Kept;
      return;
    }
    // Located first: a link that leaves the site is refused, for a page and
    // a copied file alike.
    root.Locate("", Items[I].Name);
    Outputs[I] = P.Output;
    std::vector<AnsiString> read;
    TVekStdTagsOptions tagOptions = FTagOptions;
    if (FGraph) tagOptions.FilesRead = &read;
    const std::string page = VekRenderSitePage(root, FSite, P, tagOptions);
    FStart.Output->Write(P.Output, page);
    if (FGraph) FGraph->Rendered(root, P, read);
    ++Pages;
  }

  void Copy(size_t I, const std::string& Name) {
    const TVekTemplateRoot& root = *FStart.Root;
    // A regular file (no link) of the stamp it had when copied.
    TVekFileStamp stamp;
    if (FGraph && VekPlainFileStamp(root.Dir() / Name, stamp) && FStart.Output->Exists(Name) &&
        FGraph->CopyUnchanged(Name, stamp)) {
      Outputs[I] = Name;
      ++Kept;
      return;
    }
    const TVekTemplateFile file = root.Locate("", Name);
    Outputs[I] = Name;
    if (FGraph) stamp = root.Stamp(file);
    FStart.Output->Copy(Name, file.Path);
    if (FGraph) FGraph->Copied(Name, stamp);
    ++Files;
  }

  const TVekStdTagsOptions& FTagOptions;
  const TSiteBuild& FOptions;
  const TBuildStart& FStart;
  const TSitePages& FSite;
  TBuildGraph* const FGraph;
  std::atomic<size_t> FNext{0};
};

// The failures, each on a line, then the summary line (unless Quiet and
// none failed). Returns the exit status.
int Report(const TSiteBuild& Options, const TBuildOutputs& B, const fs::path& Out,
           std::chrono::steady_clock::time_point Started) {
  size_t failed = 0;
  for (const auto& f : B.Failures) {
    if (f.empty()) continue;
    std::cerr << f << "\n";
    ++failed;
  }
  if (Options.Quiet && !failed) return 0;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - Started).count();
  char took[32];
  std::snprintf(took, sizeof took, "%.3f", seconds);
  std::cerr << "vekpp: " << B.Pages << " pages rendered, " << B.Files << " files copied into "
            << VekQuoteName(Out.string()) << " in " << took << " s";
  if (B.Kept) std::cerr << "; " << B.Kept << " unchanged";
  if (B.Skipped) std::cerr << "; " << B.Skipped << " drafts or future pages left out";
  if (failed) std::cerr << "; " << failed << " failed";
  std::cerr << std::endl;
  return failed ? 1 : 0;
}

}  // namespace

int VekBuildSite(const TVekStdTagsOptions& TagOptions, const TSiteBuild& Options) {
  const auto started = std::chrono::steady_clock::now();
  TBuildStart start;
  try {
    start = StartBuild(TagOptions, Options);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: " << VekTerminalText(e.what()) << "\n";
    return 2;
  }
  const TVekTemplateRoot& root = *start.Root;
  std::vector<TSiteFile> items = VekSiteFiles(root.Dir(), start.Out);
  // Every page read first: each template sees the site's lists of pages.
  std::vector<std::string> pageNames;
  for (const TSiteFile& item : items)
    if (item.Page) pageNames.push_back(item.Name);
  // A build without a graph of its own starts from the state of the last.
  TBuildGraph own;
  own.Reads.Encoded = true;
  TBuildGraph* graph = Options.Graph ? Options.Graph : Options.KeepState ? &own : nullptr;
  std::string key;
  if (Options.KeepState) {
    key = StateKey(TagOptions, Options, root.Dir());
    graph->StateKey = key;
    if (graph->Builds == 0 && !Options.Full) {
      const std::string why = LoadState(start.Out, key, start.PageOptions, *graph);
      if (!why.empty() && !Options.Quiet)
        std::cerr << "vekpp: " << VekQuoteName(start.Out.string()) << ": " << why
                  << ": every page rendered" << std::endl;
    }
  }
  const int64_t startNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
  const TSitePages sitePages = VekReadSitePages(root, pageNames, *start.Data, start.PageOptions,
                                                Options.Jobs, graph ? &graph->Reads : nullptr);
  if (graph) graph->Begin(*sitePages.Globals, startNs);
  // The state read no longer holds once an output is written: a build
  // stopped halfway leaves none, and the next renders every page.
  unlink((start.Out / kBuildStateName).c_str());
  // Each item's page; the pages the build makes (tag pages, further pages
  // of lists) follow.
  std::vector<const TSitePage*> pageOf(items.size(), nullptr);
  for (size_t i = 0, k = 0; i < items.size(); ++i)
    if (items[i].Page) pageOf[i] = &sitePages.Pages[k++];
  for (const TSitePage& p : sitePages.Generated) {
    pageOf.push_back(&p);
    items.push_back({p.Source, true});
  }
  TBuildOutputs outputs(TagOptions, Options, start, sitePages, std::move(items), std::move(pageOf),
                        graph);
  outputs.Run(Options.Jobs ? Options.Jobs : std::max(1u, std::thread::hardware_concurrency()));
  if (graph) graph->Finish();
  // Files no build wrote are reported by the first build of a watch only:
  // the walk of the whole output is not repeated for every change.
  VekKeepOutputExact(start.Out, outputs.Outputs, !graph || graph->Builds == 1);
  if (Options.KeepState && Options.SaveState) SaveState(*start.Output, start.Out, key, *graph);
  return Report(Options, outputs, start.Out, started);
}

void VekWriteBuildState(const TSiteBuild& Options, const TBuildGraph& Graph) {
  if (Graph.StateKey.empty()) return;  // no build kept its state with Graph
  try {
    std::error_code ec;
    const fs::path out = fs::weakly_canonical(fs::absolute(Options.Out), ec);
    if (ec) return;
    const TOutputFolder folder(out);
    SaveState(folder, out, Graph.StateKey, Graph);
  } catch (const std::exception& e) {
    std::cerr << "vekpp: the build's state is not kept: " << VekTerminalText(e.what()) << "\n";
  }
}
