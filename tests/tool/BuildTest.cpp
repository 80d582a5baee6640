// vekpp build end to end: a site rendered into a folder, its failures listed
// with their place, and --watch building again on a change.
#include <gtest/gtest.h>

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
