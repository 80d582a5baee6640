// Incremental builds: after each edit of a small blog, the outputs a build
// with the last build's graph renders, and its output folder compared with
// a full build's of the same sources.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <map>

#include "VekppHarness.h"
#include "site/Build.h"
#include "site/BuildGraph.h"
#include "site/BuildState.h"
#include "site/SitePages.h"

namespace {

using vekpp_test::ReadFile;
using vekpp_test::TempDir;
namespace fs = std::filesystem;

// Every file under Dir, by relative name, but the build's state.
std::map<std::string, std::string> Tree(const fs::path& Dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(Dir))
    if (e.is_regular_file() && e.path().filename() != kBuildStateName)
      files[e.path().lexically_relative(Dir).generic_string()] = ReadFile(e.path());
  return files;
}

// The inode of every output under Dir: a file written again (renamed into
// place) gets a new one, a file kept keeps its own.
std::map<std::string, uintmax_t> Inodes(const fs::path& Dir) {
  std::map<std::string, uintmax_t> inodes;
  for (const auto& e : fs::recursive_directory_iterator(Dir)) {
    const std::string name = e.path().lexically_relative(Dir).generic_string();
    struct stat st {};
    if (e.is_regular_file() && name.rfind(".vekpp-", 0) != 0 && stat(e.path().c_str(), &st) == 0)
      inodes[name] = st.st_ino;
  }
  return inodes;
}

// The outputs under Dir written since Before was taken, sorted.
std::vector<std::string> WrittenSince(const std::map<std::string, uintmax_t>& Before,
                                      const fs::path& Dir) {
  std::vector<std::string> written;
  for (const auto& f : Inodes(Dir)) {
    const auto it = Before.find(f.first);
    if (it == Before.end() || it->second != f.second) written.push_back(f.first);
  }
  return written;
}

// A full build of Build's site and options into Dir, without a state: what
// an incremental build must match.
std::map<std::string, std::string> FullBuild(const TSiteBuild& Build, const fs::path& Dir) {
  TSiteBuild whole = Build;
  whole.Out = Dir.string();
  whole.Graph = nullptr;
  whole.KeepState = false;
  fs::remove_all(Dir);
  TVekStdTagsOptions tags;
  EXPECT_EQ(VekBuildSite(tags, whole), 0);
  return Tree(Dir);
}

// Writes files with modification times an hour ago, one second apart per
// write: a build trusts none of the files modified in the second before it
// began, and each edit must change its file's stamp.
class TSiteFiles {
 public:
  explicit TSiteFiles(fs::path Dir) : FDir(std::move(Dir)) {}
  void Write(const std::string& Name, const std::string& Text) {
    fs::create_directories((FDir / Name).parent_path());
    std::ofstream(FDir / Name, std::ios::binary) << Text;
    fs::last_write_time(FDir / Name, FBase + std::chrono::seconds(++FCount));
  }

 private:
  fs::path FDir;
  fs::file_time_type FBase = fs::file_time_type::clock::now() - std::chrono::hours(1);
  int FCount = 0;
};

const char* const kPostA = "---\ntitle: A\ndate: 2024-01-01\ntags: [x]\n---\nBody of a.\n";
const char* const kPostB = "---\ntitle: B\ndate: 2024-01-02\ntags: [y]\n---\nBody of b.\n";

// A small blog: a data file, layouts with includes, posts with tags, an
// index paginated, tag pages, a feed, a copied file.
const std::vector<std::pair<std::string, std::string>>& Blog() {
  static const std::vector<std::pair<std::string, std::string>> blog = {
      {"vekpp.toml", "title = \"T\"\n"},
      {"_data.yaml", "footer: F1\nmenu: [home]\n"},
      {"_layouts/_head.html", "<title><#page.title#> · <#site.title#></title>\n"},
      {"_layouts/_foot.html", "<footer><#footer#></footer>\n"},
      {"_layouts/page.html",
       "<#include file=\"_head.html\"#><main><#block content#><#/block#></main>"
       "<#include file=\"_foot.html\"#>"},
      {"_layouts/posts.html",
       "<#include file=\"_head.html\"#><article><#block content#><#/block#></article>"
       "<p><#page.tags join=\",\"#></p>"},
      {"posts/a.md", kPostA},
      {"posts/b.md", kPostB},
      {"posts/c.md", "---\ntitle: C\ndate: 2024-01-03\ntags: [x]\n---\nBody of c.\n"},
      {"about.md", "---\ntitle: About\n---\nAbout us.\n"},
      {"index.html",
       "---\npaginate: 2\n---\n<#each p in pager.pages#><a href=\"<#p.url#>\"><#p.title#></a> "
       "<#p.words#>;<#/each#> <#pager.next#>\n"},
      {"_tag.html", "<#each p in page.pages#><#p.title#>;<#/each#>\n"},
      {"feed.xml",
       "<feed><#each p in site.pages#><t><#p.title#> <#p.summary#></t><#/each#></feed>\n"},
      {"style.css", "body {}\n"},
  };
  return blog;
}

// A quiet build of the blog in Src into Out at a fixed time.
TSiteBuild BlogBuild(const fs::path& Src, const fs::path& Out) {
  TSiteBuild build;
  build.Src = Src.string();
  build.Out = Out.string();
  build.Jobs = 2;
  build.Quiet = true;
  build.Now = "2025-01-01T00:00:00Z";
  return build;
}

// Each edit is built twice: by a build that keeps its graph (a watch), and
// by a separate build that starts from the state the last one left in its
// output folder (vekpp build run again). Both render what the edit affects,
// and both folders match a full build.
TEST(VekppIncremental, EditsRenderWhatTheyAffectAndMatchAFullBuild) {
  TempDir src, out, plainOut, full;
  TSiteFiles site(src.path);
  for (const auto& f : Blog()) site.Write(f.first, f.second);

  TVekStdTagsOptions tags;
  TBuildGraph graph;
  TSiteBuild build = BlogBuild(src.path, out.path);
  build.Graph = &graph;
  ASSERT_EQ(VekBuildSite(tags, build), 0);
  EXPECT_EQ(graph.Written.size(), 10u);
  TSiteBuild plain = build;
  plain.Out = plainOut.path.string();
  plain.Graph = nullptr;
  ASSERT_EQ(VekBuildSite(tags, plain), 0);
  EXPECT_EQ(Inodes(plainOut.path).size(), 10u);

  const struct {
    const char* What;
    std::vector<std::pair<std::string, std::string>> Writes;  // "" text: removed
    std::vector<std::string> Rendered;
    // vekpp.toml is part of the state's key: a build from the state
    // renders every output.
    bool AllFromState = false;
  } cases[] = {
      {"nothing changed", {}, {}},
      {"a post's body (its words and summary are in the lists)",
       {{"posts/a.md", "---\ntitle: A\ndate: 2024-01-01\ntags: [x]\n---\nNew body of a.\n"}},
       {"feed.xml", "page/2/index.html", "posts/a/index.html", "tags/x/index.html"}},
      {"a post's title, listed on the first page",
       {{"posts/b.md", "---\ntitle: B2\ndate: 2024-01-02\ntags: [y]\n---\nBody of b.\n"}},
       {"feed.xml", "index.html", "posts/b/index.html", "tags/y/index.html"}},
      {"the posts' layout",
       {{"_layouts/posts.html",
         "<#include file=\"_head.html\"#><article class=p><#block content#><#/block#></article>"}},
       {"posts/a/index.html", "posts/b/index.html", "posts/c/index.html"}},
      {"an include only the page layout uses",
       {{"_layouts/_foot.html", "<footer>(<#footer#>)</footer>\n"}},
       {"about/index.html"}},
      {"the data file, a key only the footer names",
       {{"_data.yaml", "footer: F2\nmenu: [home]\n"}},
       {"about/index.html"}},
      {"a data key no template names", {{"_data.yaml", "footer: F2\nmenu: [home, away]\n"}}, {}},
      {"a new post: a third page of the index",
       {{"posts/d.md", "---\ntitle: D\ndate: 2024-01-04\ntags: [y]\n---\nBody of d.\n"}},
       {"feed.xml", "index.html", "page/2/index.html", "page/3/index.html", "posts/d/index.html",
        "tags/y/index.html"}},
      {"the new post removed",
       {{"posts/d.md", ""}},
       {"feed.xml", "index.html", "page/2/index.html", "tags/y/index.html"}},
      {"a tag added to a post",
       {{"posts/a.md", "---\ntitle: A\ndate: 2024-01-01\ntags: [x, z]\n---\nNew body of a.\n"}},
       {"feed.xml", "page/2/index.html", "posts/a/index.html", "tags/x/index.html",
        "tags/z/index.html"}},
      {"the site's title (the index's title is the site's)",
       {{"vekpp.toml", "title = \"T2\"\n"}},
       {"about/index.html", "index.html", "page/2/index.html", "posts/a/index.html",
        "posts/b/index.html", "posts/c/index.html"},
       true},
      {"a copied file", {{"style.css", "body { margin: 0 }\n"}}, {"style.css"}},
      {"a draft added (left out)",
       {{"posts/e.md", "---\ntitle: E\ndraft: true\ndate: 2024-01-05\n---\nE.\n"}},
       {}},
      // The lists are kept from the last build and only the edited post's
      // entries rewritten, unless its place in them changed.
      {"a post's body again",
       {{"posts/a.md", "---\ntitle: A\ndate: 2024-01-01\ntags: [x, z]\n---\nThird body of a.\n"}},
       {"feed.xml", "page/2/index.html", "posts/a/index.html", "tags/x/index.html",
        "tags/z/index.html"}},
      {"a post's date, which moves it last in the lists",
       {{"posts/c.md", "---\ntitle: C\ndate: 2023-12-01\ntags: [x]\n---\nBody of c.\n"}},
       {"feed.xml", "index.html", "page/2/index.html", "posts/c/index.html", "tags/x/index.html"}},
      {"a post made a draft",
       {{"posts/b.md", "---\ntitle: B2\ndraft: true\ndate: 2024-01-02\ntags: [y]\n---\nB.\n"}},
       {"feed.xml", "index.html", "page/2/index.html"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    for (const auto& w : c.Writes) {
      if (w.second.empty())
        fs::remove(src.path / w.first);
      else
        site.Write(w.first, w.second);
    }
    ASSERT_EQ(VekBuildSite(tags, build), 0);
    EXPECT_EQ(graph.Written, c.Rendered);
    const auto before = Inodes(plainOut.path);
    ASSERT_EQ(VekBuildSite(tags, plain), 0);
    std::vector<std::string> all;
    for (const auto& f : Inodes(plainOut.path)) all.push_back(f.first);
    EXPECT_EQ(WrittenSince(before, plainOut.path), c.AllFromState ? all : c.Rendered)
        << "a build from the state";

    const auto whole = FullBuild(build, full.path);
    EXPECT_EQ(Tree(out.path), whole);
    EXPECT_EQ(Tree(plainOut.path), whole) << "a build from the state";
  }
}

// A state written for other options, another vekpp.toml, or that cannot
// be read whole: the next build renders every page, as a full build does.
TEST(VekppIncremental, AStateOfOtherOptionsOrDamagedGivesAFullBuild) {
  TempDir src, out, full, elsewhere;
  TSiteFiles site(src.path);
  for (const auto& f : Blog()) site.Write(f.first, f.second);
  TVekStdTagsOptions tags;
  const TSiteBuild base = BlogBuild(src.path, out.path);
  const fs::path state = out.path / kBuildStateName;
  const auto rewrite = [&](const std::function<void(std::string&)>& Change) {
    std::string bytes = ReadFile(state);
    Change(bytes);
    std::ofstream(state, std::ios::binary | std::ios::trunc) << bytes;
  };
  const struct {
    const char* What;
    std::function<void(TSiteBuild&)> Change;
  } cases[] = {
      {"--drafts", [](TSiteBuild& B) { B.Drafts = true; }},
      {"--future", [](TSiteBuild& B) { B.Future = true; }},
      {"--ugly-urls", [](TSiteBuild& B) { B.UglyUrls = true; }},
      {"--full", [](TSiteBuild& B) { B.Full = true; }},
      {"vekpp.toml, by a key no template names",
       [&](TSiteBuild&) { site.Write("vekpp.toml", "title = \"T\"\nextra = 1\n"); }},
      {"the state cut short",
       [&](TSiteBuild&) { rewrite([](std::string& B) { B.resize(B.size() / 2); }); }},
      {"the state empty", [&](TSiteBuild&) { rewrite([](std::string& B) { B.clear(); }); }},
      {"a byte of the state changed",
       [&](TSiteBuild&) { rewrite([](std::string& B) { B[B.size() / 3] ^= 0x20; }); }},
      {"the state's format of another version, sealed",
       [&](TSiteBuild&) {
         rewrite([](std::string& B) {
           B[18] = 2;
           VekSealBuildState(B);
         });
       }},
      {"a file of another program in its place",
       [&](TSiteBuild&) { rewrite([](std::string& B) { B = "vekpp build state\nhello"; }); }},
      {"a link to a whole state in its place (not followed)",
       [&](TSiteBuild&) {
         fs::copy_file(state, elsewhere.path / "s", fs::copy_options::overwrite_existing);
         fs::remove(state);
         fs::create_symlink(elsewhere.path / "s", state);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    // A whole state of the base options first: a build from it renders
    // nothing.
    fs::remove(state);
    site.Write("vekpp.toml", "title = \"T\"\n");
    ASSERT_EQ(VekBuildSite(tags, base), 0);
    auto before = Inodes(out.path);
    ASSERT_EQ(VekBuildSite(tags, base), 0);
    EXPECT_EQ(WrittenSince(before, out.path), std::vector<std::string>());

    TSiteBuild build = base;
    c.Change(build);
    before = Inodes(out.path);
    ASSERT_EQ(VekBuildSite(tags, build), 0);
    const auto whole = FullBuild(build, full.path);
    std::vector<std::string> all;
    for (const auto& f : whole)
      if (f.first.rfind(".vekpp-", 0) != 0) all.push_back(f.first);
    EXPECT_EQ(WrittenSince(before, out.path), all);
    EXPECT_EQ(Tree(out.path), whole);
    // And the state written anew is whole: the next build renders nothing.
    build.Full = false;
    before = Inodes(out.path);
    ASSERT_EQ(VekBuildSite(tags, build), 0);
    EXPECT_EQ(WrittenSince(before, out.path), std::vector<std::string>());
  }
}

// Every prefix of a state, and every byte of it changed (the checksum made
// to match, so that the reader itself is tried), is refused with a reason
// or read without fault; a value nested deeper than the limit is refused,
// never followed by recursion.
TEST(VekppIncremental, DamagedStatesAreRefusedWithoutFault) {
  TempDir src, out;
  TSiteFiles site(src.path);
  for (const auto& f : Blog()) site.Write(f.first, f.second);
  site.Write("posts/p.md", "---\ntitle: P\nx: {a: [1, -2, 2.5, true, null, \"s\"]}\n---\nP.\n");
  TVekStdTagsOptions tags;
  ASSERT_EQ(VekBuildSite(tags, BlogBuild(src.path, out.path)), 0);
  const std::string whole = ReadFile(out.path / kBuildStateName);
  ASSERT_GT(whole.size(), 1000u);
  // The key, after the magic line (18 bytes) and the format (8).
  uint64_t keySize = 0;
  for (int i = 7; i >= 0; --i) keySize = keySize << 8 | static_cast<unsigned char>(whole[26 + i]);
  ASSERT_LT(keySize, 4096u);
  const std::string key = whole.substr(34, keySize);
  TSitePagesOptions o;
  {
    TBuildGraph graph;
    ASSERT_EQ(VekReadBuildState(whole, key, o, graph), "");
    EXPECT_EQ(graph.Reads.Pages.size(), 5u);
  }
  for (size_t cut = 0; cut + 8 < whole.size(); cut += 5) {
    std::string bytes = whole.substr(0, cut) + std::string(8, '\0');
    VekSealBuildState(bytes);
    TBuildGraph graph;
    EXPECT_NE(VekReadBuildState(bytes, key, o, graph), "") << "cut at " << cut;
    EXPECT_TRUE(graph.Reads.Pages.empty());
  }
  for (size_t at = 0; at + 8 < whole.size(); ++at) {
    for (const unsigned char flip : {0x01, 0x80, 0xff}) {
      std::string bytes = whole;
      bytes[at] = static_cast<char>(bytes[at] ^ flip);
      VekSealBuildState(bytes);
      TBuildGraph graph;
      VekReadBuildState(bytes, key, o, graph);
    }
  }
  // A page's value of 100,000 nested lists.
  std::string deep = whole.substr(0, 34 + key.size());
  const auto u64 = [&](uint64_t V) {
    for (int i = 0; i < 8; ++i) deep += static_cast<char>(V >> (8 * i));
  };
  const auto text = [&](const std::string& T) {
    u64(T.size());
    deep += T;
  };
  text("");  // the reading's context
  u64(1);
  text("a.md");
  for (int i = 0; i < 4; ++i) u64(1);  // its stamp
  text("");
  deep += std::string(2, '\0');
  for (int i = 0; i < 100000; ++i) {
    deep += '\x08';  // a list of one item
    u64(1);
  }
  deep += std::string(8 + 24, '\0');
  VekSealBuildState(deep);
  TBuildGraph graph;
  EXPECT_EQ(VekReadBuildState(deep, key, o, graph), "damaged: a value nested too deep");
}

TEST(VekppIncremental, OutputsRemovedOrChangedByHandAreWrittenAgain) {
  TempDir src, out;
  TSiteFiles site(src.path);
  site.Write("_layouts/page.html", "<main><#block content#><#/block#></main>");
  site.Write("a.md", "A.\n");
  site.Write("b.css", "b\n");
  TVekStdTagsOptions tags;
  TBuildGraph graph;
  TSiteBuild build;
  build.Src = src.path.string();
  build.Out = out.path.string();
  build.Graph = &graph;
  ASSERT_EQ(VekBuildSite(tags, build), 0);
  fs::remove(out.path / "a" / "index.html");
  fs::remove(out.path / "b.css");
  ASSERT_EQ(VekBuildSite(tags, build), 0);
  EXPECT_EQ(graph.Written, (std::vector<std::string>{"a/index.html", "b.css"}));
  EXPECT_TRUE(fs::exists(out.path / "a" / "index.html"));
  EXPECT_TRUE(fs::exists(out.path / "b.css"));

  // A page that failed is rendered again by the next build, fixed or not.
  site.Write("a.md", "---\nlayout: missing.html\n---\nA.\n");
  EXPECT_EQ(VekBuildSite(tags, build), 1);
  EXPECT_EQ(VekBuildSite(tags, build), 1);
  site.Write("a.md", "A again.\n");
  ASSERT_EQ(VekBuildSite(tags, build), 0);
  EXPECT_EQ(graph.Written, (std::vector<std::string>{"a/index.html"}));
  EXPECT_NE(ReadFile(out.path / "a" / "index.html").find("A again."), std::string::npos);
}

TEST(VekppIncremental, NamedGlobalsAreFoundInTemplateText) {
  const struct {
    const char* Text;
    std::vector<std::string> Names;
  } cases[] = {
      {"<#site.title#> <#site.sections.posts.0.title#>", {"site.sections.posts", "site.title"}},
      {"<#each p in site.tags[t]#><#p.url#><#/each#>", {"each", "in", "p", "site.tags", "t"}},
      {"<#set s = site#><#s.pages#>", {"s", "set", "site"}},
      {"<#site.count-1#>", {"site.count", "site.count-1"}},
      {"<#site#> <#site.pages#>", {"site"}},
  };
  for (const auto& c : cases) EXPECT_EQ(VekNamedGlobals(c.Text), c.Names) << c.Text;
}

}  // namespace
