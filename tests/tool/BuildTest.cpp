// vekpp build end to end: a site rendered into a folder, its failures listed
// with their place, and --watch building again on a change.
#include <gtest/gtest.h>

#include <chrono>

#include "VekppHarness.h"

using namespace vekpp_test;

TEST(VekppBuild, RendersPagesCopiesFilesAndListsFailures) {
  TempDir out;
  Result r = RunVekpp({"build", "site", "-o", out.path.string(), "--data", "data.json"});
  EXPECT_EQ(r.status, 1) << r.err;
  // Every failing page, with its path; the others are all written.
  EXPECT_NE(
      r.err.find("site/broken.html:1:8: include: \"../outside.html\" leaves the template root"),
      std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("site/cycle.html:1:1: include cycle"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("4 pages rendered, 4 files copied"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("site/unclosed.html:1:3: \"<#\" without a closing"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("; 3 failed"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(out.path / "index.html"),
            RunVekpp({"render", "site/index.html", "--data", "data.json"}).out);
  EXPECT_NE(ReadFile(out.path / "sub" / "page" / "index.html").find("sub page"), std::string::npos);
  EXPECT_EQ(ReadFile(out.path / "blob.bin"), ReadFile(kFixtures / "site" / "blob.bin"));
  EXPECT_TRUE(fs::exists(out.path / "style.css"));
  EXPECT_FALSE(fs::exists(out.path / "_header.html"));
  EXPECT_FALSE(fs::exists(out.path / "broken.html"));

  // A sound site: exit 0; names beginning with "_" or "." and links that
  // leave the site are not copied (the link is a failure).
  TempDir src;
  std::ofstream(src.path / "index.html") << "<#include file=\"_part.html\"#>!";
  std::ofstream(src.path / "_part.html") << "part";
  std::ofstream(src.path / ".hidden") << "hidden";
  fs::create_directory(src.path / "_drafts");
  std::ofstream(src.path / "_drafts" / "draft.html") << "draft";
  TempDir out2;
  r = RunVekpp({"build", src.path.string(), "-o", out2.path.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(out2.path / "index.html"), "part!");
  EXPECT_FALSE(fs::exists(out2.path / "_part.html"));
  EXPECT_FALSE(fs::exists(out2.path / ".hidden"));
  EXPECT_FALSE(fs::exists(out2.path / "_drafts"));
  fs::create_symlink(kFixtures / "outside.html", src.path / "leak.txt");
  r = RunVekpp({"build", src.path.string(), "-o", out2.path.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("leak.txt: "), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out2.path / "leak.txt"));

  // Under --strict a fault of a page is listed as path:line:column.
  std::ofstream(src.path / "open.html") << "a\n\n  <#if x#>never closed\n";
  r = RunVekpp({"build", src.path.string(), "-o", out2.path.string(), "--strict"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(src.path.string() + "/open.html:3:3: "), std::string::npos) << r.err;

  r = RunVekpp({"build", "nowhere", "-o", out2.path.string()});
  EXPECT_EQ(r.status, 2);
}

TEST(VekppBuild, WatchBuildsAgainOnChange) {
  TempDir src, out;
  std::ofstream(src.path / "index.html") << "<#title#>";
  std::ofstream(src.path / "_data.json") << R"({"title": "one"})";
  const pid_t pid =
      Spawn({"build", src.path.string(), "-o", out.path.string(), "--watch"}, src.path, -1, -1);
  ASSERT_GT(pid, 0);
  // Waits (at most 10 s) until the page reads Want.
  auto waitFor = [&](const std::string& Want) {
    for (int i = 0; i < 200; ++i) {
      if (ReadFile(out.path / "index.html") == Want) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  };
  EXPECT_TRUE(waitFor("one"));
  std::ofstream(src.path / "_data.json") << R"({"title": "two"})";
  EXPECT_TRUE(waitFor("two"));
  std::ofstream(src.path / "index.html") << "<b><#title#></b>";
  EXPECT_TRUE(waitFor("<b>two</b>"));
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid, 10), 0);
}

namespace {

// A site of one page and one copied file, in a folder of its own.
struct SmallSite {
  SmallSite() {
    fs::create_directory(Src());
    std::ofstream(Src() / "index.html") << "<#include file=\"_part.html\"#>";
    std::ofstream(Src() / "_part.html") << "part";
    std::ofstream(Src() / "style.css") << "css";
  }
  fs::path Src() const { return dir.path / "site"; }
  TempDir dir;
};

TEST(VekppBuild, RefusesAnOutputFolderThatIsOrHoldsTheSiteOrIsPublishedInIt) {
  struct TCase {
    const char* Out;  // from the folder that holds the site
    int Status;
    const char* Says;
  };
  const TCase cases[] = {
      {"site", 2, "is the site itself"},
      {"site/.", 2, "is the site itself"},
      {"site/sub/..", 2, "is the site itself"},
      {"site/pub", 2, "lies inside the site"},
      {".", 2, "holds the site"},
      {"linked", 2, "is the site itself"},  // a link to the site
      // A folder the site's own rules leave out may hold the output.
      {"site/_pub", 0, ""},
      {"site/.out/x", 0, ""},
      {"out", 0, ""},
  };
  for (const TCase& c : cases) {
    SmallSite site;
    fs::create_directory(site.Src() / "sub");
    fs::create_directory_symlink("site", site.dir.path / "linked");
    const Result r = RunVekpp({"build", "site", "-o", c.Out}, site.dir.path);
    EXPECT_EQ(r.status, c.Status) << c.Out << ": " << r.err;
    EXPECT_NE(r.err.find(c.Says), std::string::npos) << c.Out << ": " << r.err;
    // The templates are as they were.
    EXPECT_EQ(ReadFile(site.Src() / "index.html"), "<#include file=\"_part.html\"#>") << c.Out;
    // Nothing is written where refused.
    EXPECT_EQ(ReadFile(site.dir.path / c.Out / "index.html") == "part", c.Status == 0) << c.Out;
  }
}

TEST(VekppBuild, NeverFollowsALinkInTheOutputAndReplacesFilesWhole) {
  SmallSite site;
  fs::create_directory(site.Src() / "sub");
  std::ofstream(site.Src() / "sub" / "page.html") << "sub page";
  const fs::path out = site.dir.path / "out", elsewhere = site.dir.path / "elsewhere";
  fs::create_directories(out);
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "keep.css") << "keep";
  std::ofstream(elsewhere / "linked.html") << "linked";
  // A folder of the output that is a link, a page that is a link, and a
  // copied file that is a hard link to a file elsewhere.
  fs::create_directory_symlink(elsewhere, out / "sub");
  fs::create_symlink(elsewhere / "linked.html", out / "index.html");
  fs::create_hard_link(elsewhere / "keep.css", out / "style.css");
  const Result r = RunVekpp({"build", "site", "-o", "out"}, site.dir.path);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("site/sub/page.html: sub in the output folder is a link"), std::string::npos)
      << r.err;
  EXPECT_FALSE(fs::exists(elsewhere / "page.html"));
  EXPECT_EQ(ReadFile(elsewhere / "linked.html"), "linked");
  EXPECT_EQ(ReadFile(elsewhere / "keep.css"), "keep");
  EXPECT_FALSE(fs::is_symlink(out / "index.html"));
  EXPECT_EQ(ReadFile(out / "index.html"), "part");
  EXPECT_EQ(ReadFile(out / "style.css"), "css");
  // No temporary file is left behind (beside the list of what was written).
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    if (e.path().filename() == ".vekpp-manifest" || e.path().filename() == ".vekpp-build") continue;
    EXPECT_EQ(e.path().filename().string().find(".vekpp-"), std::string::npos) << e.path();
  }
}

// A second vekpp build process starts from the state the first left in the
// output folder: nothing changed, nothing rendered; an edit renders what it
// affects; --full renders everything; a state it cannot use is named.
TEST(VekppBuild, ASecondBuildRendersOnlyWhatChanged) {
  SmallSite site;
  std::ofstream(site.Src() / "other.html") << "other";
  // Older than the second a build does not trust.
  const auto old = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const auto& e : fs::directory_iterator(site.Src())) fs::last_write_time(e.path(), old);
  const std::vector<std::string> build = {"build", "site", "-o", "out"};
  Result r = RunVekpp(build, site.dir.path);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("no state of an earlier build: every page rendered"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("2 pages rendered, 1 files copied"), std::string::npos) << r.err;
  r = RunVekpp(build, site.dir.path);
  EXPECT_NE(r.err.find("0 pages rendered, 0 files copied"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("3 unchanged"), std::string::npos) << r.err;
  std::ofstream(site.Src() / "_part.html") << "part 2";
  fs::last_write_time(site.Src() / "_part.html", old + std::chrono::seconds(1));
  r = RunVekpp(build, site.dir.path);
  EXPECT_NE(r.err.find("1 pages rendered, 0 files copied"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFile(site.dir.path / "out" / "index.html"), "part 2");
  r = RunVekpp({"build", "site", "-o", "out", "--full"}, site.dir.path);
  EXPECT_NE(r.err.find("2 pages rendered, 1 files copied"), std::string::npos) << r.err;
  r = RunVekpp({"build", "site", "-o", "out", "--ugly-urls"}, site.dir.path);
  EXPECT_NE(r.err.find("its state is written by another version of vekpp, for other options"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("2 pages rendered, 1 files copied"), std::string::npos) << r.err;
}

// A stale page of an earlier build is removed, but never through a folder of
// the output that became a link since.
TEST(VekppBuild, RemovesStaleOutputNeverThroughALink) {
  SmallSite site;
  fs::create_directory(site.Src() / "sub");
  std::ofstream(site.Src() / "sub" / "page.css") << "css";
  const fs::path out = site.dir.path / "out", elsewhere = site.dir.path / "elsewhere";
  ASSERT_EQ(RunVekpp({"build", "site", "-o", "out"}, site.dir.path).status, 0);
  ASSERT_TRUE(fs::exists(out / "sub" / "page.css"));
  fs::remove_all(site.Src() / "sub");
  fs::remove_all(out / "sub");
  fs::create_directories(elsewhere);
  std::ofstream(elsewhere / "page.css") << "not the build's";
  fs::create_directory_symlink(elsewhere, out / "sub");
  const Result r = RunVekpp({"build", "site", "-o", "out"}, site.dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(elsewhere / "page.css"), "not the build's");
  // A link planted where the list of outputs is written is replaced, not
  // written through.
  fs::create_symlink(elsewhere / "page.css", out / ".vekpp-manifest.vekpp-tmp");
  EXPECT_EQ(RunVekpp({"build", "site", "-o", "out"}, site.dir.path).status, 0);
  EXPECT_EQ(ReadFile(elsewhere / "page.css"), "not the build's");
}

TEST(VekppBuild, QuotesNamesWithControlCharacters) {
  SmallSite site;
  std::ofstream(site.Src() / "bad\x1b[2Jname.html") << "<#include file=\"_missing.html\"#>";
  const Result r = RunVekpp({"build", "site", "-o", "out"}, site.dir.path);
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("\"site/bad\\x1b[2Jname.html\""), std::string::npos) << r.err;
}

// Waits (at most 10 s) until the file at Path reads Want.
bool WaitForFile(const fs::path& Path, const std::string& Want) {
  for (int i = 0; i < 200; ++i) {
    if (ReadFile(Path) == Want) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(VekppBuild, WatchSeesEveryEditWithTheOutputInsideTheSite) {
  // The output in a private folder of the site, beside a folder whose name
  // it begins: each edit comes right after the build's own writes, in the
  // same burst of changes.
  TempDir src;
  fs::create_directory(src.path / "_pubparts");
  std::ofstream(src.path / "index.html") << "<#include file=\"_pubparts/p.html\"#>";
  std::ofstream(src.path / "_pubparts" / "p.html") << "v0";
  const fs::path out = src.path / "_pub";
  const pid_t pid =
      Spawn({"build", src.path.string(), "-o", out.string(), "--watch"}, src.path, -1, -1);
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(WaitForFile(out / "index.html", "v0"));
  for (int i = 1; i <= 5; ++i) {
    const std::string want = "v" + std::to_string(i);
    std::ofstream(src.path / "_pubparts" / "p.html") << want;
    EXPECT_TRUE(WaitForFile(out / "index.html", want)) << want;
  }
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid, 10), 0);
}

}  // namespace
