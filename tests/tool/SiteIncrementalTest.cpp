// Incremental builds: after each edit of a small blog, the outputs a build
// with the last build's graph renders, and its output folder compared with
// a full build's of the same sources.
#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "VekppHarness.h"
#include "site/Build.h"
#include "site/BuildGraph.h"

namespace {

using vekpp_test::ReadFile;
using vekpp_test::TempDir;
namespace fs = std::filesystem;

// Every file under Dir, by relative name.
std::map<std::string, std::string> Tree(const fs::path& Dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(Dir))
    if (e.is_regular_file())
      files[e.path().lexically_relative(Dir).generic_string()] = ReadFile(e.path());
  return files;
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

TEST(VekppIncremental, EditsRenderWhatTheyAffectAndMatchAFullBuild) {
  TempDir src, out, full;
  TSiteFiles site(src.path);
  const std::vector<std::pair<std::string, std::string>> blog = {
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
  for (const auto& f : blog) site.Write(f.first, f.second);

  TVekStdTagsOptions tags;
  TBuildGraph graph;
  TSiteBuild build;
  build.Src = src.path.string();
  build.Out = out.path.string();
  build.Jobs = 2;
  build.Now = "2025-01-01T00:00:00Z";
  build.Graph = &graph;
  ASSERT_EQ(VekBuildSite(tags, build), 0);
  EXPECT_EQ(graph.Written.size(), 10u);

  const struct {
    const char* What;
    std::vector<std::pair<std::string, std::string>> Writes;  // "" text: removed
    std::vector<std::string> Rendered;
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
        "posts/b/index.html", "posts/c/index.html"}},
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

    TSiteBuild whole = build;
    whole.Out = full.path.string();
    whole.Graph = nullptr;
    fs::remove_all(full.path);
    ASSERT_EQ(VekBuildSite(tags, whole), 0);
    EXPECT_EQ(Tree(out.path), Tree(full.path));
  }
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
