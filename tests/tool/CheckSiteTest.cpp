// vekpp check of a site and of a page inside one: pages checked as build
// renders them, a shared layout's fault told once with its pages counted,
// names the site's data lacks, exit statuses, every fault of a template
// listed (by render too) up to the cap.
#include <gtest/gtest.h>

#include "VekppHarness.h"

using namespace vekpp_test;

namespace {

using TFiles = std::vector<std::pair<std::string, std::string>>;

void WriteSite(const fs::path& Dir, const TFiles& Files) {
  for (const auto& f : Files) {
    fs::create_directories((Dir / f.first).parent_path());
    std::ofstream(Dir / f.first, std::ios::binary) << f.second;
  }
}

size_t Count(const std::string& Text, const std::string& Part) {
  size_t n = 0;
  for (size_t at = Text.find(Part); at != std::string::npos; at = Text.find(Part, at + 1)) ++n;
  return n;
}

// A site whose pages share one layout: a page of front matter, a page in a
// folder that extends the layout by a relative path, a Markdown post, and
// the site's data.
const TFiles kSite = {
    {"vekpp.toml", "title = \"Shop\"\n"},
    {"_data.json", R"({"menu": [{"name": "Home", "url": "/"}]})"},
    {"_layouts/page.html",
     "<title><#block title#><#page.title#><#/block#></title>\n"
     "<nav><#each menu#><a href=\"<#url#>\"><#name#></a><#/each#></nav>\n"
     "<main><#block content#><#/block#></main>\n"},
    {"index.html", "---\ntitle: Home\nlayout: page.html\n---\n<h1><#site.title#></h1>\n"},
    {"docs/guide.html",
     "<#extends file=\"../_layouts/page.html\"#><#block content#><#page.url#><#/block#>"},
    {"posts/hello.md", "---\ntitle: Hello\n---\nHello *there*.\n"},
};

}  // namespace

TEST(VekppCheckSite, ChecksEveryPageAsBuildDoes) {
  const struct {
    const char* what;
    TFiles changes;  // over kSite
    std::vector<std::string> extra;
    int status;
    std::string out;  // expected standard output ("" for none)
    std::string summary;
  } cases[] = {
      {"a sound site", {}, {}, 0, "", "vekpp: 3 pages of site checked: 0 errors, 0 warnings\n"},
      {"the output folder of vekpp.toml is no part of the site",
       {{"vekpp.toml", "output = \"public\"\n"}, {"public/index.html", "<#if a#>"}},
       {},
       0,
       "",
       "vekpp: 3 pages of site checked: 0 errors, 0 warnings\n"},
      {"a fault of the shared layout, once with its pages counted",
       {{"_layouts/page.html",
         "<title><#page.title#></title>\n<main><#block content#><#/block#>"
         "</main><#/blok#>\n"}},
       {},
       1,
       "site/_layouts/page.html:2:41: unknown closing tag <#/blok#> (did you mean <#/block#>?): "
       "only <#/each#>, <#/if#>, <#/unless#>, <#/block#> and <#/macro#> close a pair (in 3 pages)\n"
       "<main><#block content#><#/block#></main><#/blok#>\n" +
           std::string(40, ' ') + "^\n",
       "vekpp: 3 pages of site checked: 1 error, 0 warnings\n"},
      {"a name the data lacks: a warning, with the nearest name",
       {{"index.html", "---\ntitle: Home\n---\n<#each menus#><#name#><#/each#>\n"}},
       {},
       0,
       "site/index.html:4:1: warning: no \"menus\" in the data (did you mean \"menu\"?)\n"
       "<#each menus#><#name#><#/each#>\n^\n",
       "vekpp: 3 pages of site checked: 0 errors, 1 warning\n"},
      {"the same name under --strict: an error",
       {{"index.html", "---\ntitle: Home\n---\n<#each menus#><#name#><#/each#>\n"}},
       {"--strict"},
       1,
       "site/index.html:4:1: no \"menus\" in the data (did you mean \"menu\"?)\n"
       "<#each menus#><#name#><#/each#>\n^\n",
       "vekpp: 3 pages of site checked: 1 error, 0 warnings\n"},
      {"a name a layout uses, missed by one page only",
       {{"_layouts/page.html", "<#page.params.lede#><#block content#><#/block#>"},
        {"index.html", "---\nlayout: page.html\nlede: x\n---\n"}},
       {"--strict"},
       1,
       "site/_layouts/page.html:1:1: no \"page.params.lede\" in the data (in 2 pages)\n"
       "<#page.params.lede#><#block content#><#/block#>\n^\n",
       "vekpp: 3 pages of site checked: 1 error, 0 warnings\n"},
      {"a fault of an include used by one page names the page",
       {{"_inc.html", "<#if a#>"}, {"index.html", "<#include file=\"_inc.html\" a=1#>"}},
       {},
       1,
       "site/_inc.html:1:1: <#if a#> has no closing <#/if#> (in the page index.html)\n<#if "
       "a#>\n^\n",
       "vekpp: 3 pages of site checked: 1 error, 0 warnings\n"},
      {"a page that cannot be read as a page",
       {{"posts/hello.md", "---\ntitle: Hello\nlayout: none.html\n---\nx\n"}},
       {},
       1,
       "site/posts/hello.md: its layout _layouts/none.html does not exist\n",
       "vekpp: 3 pages of site checked: 1 error, 0 warnings\n"},
  };
  for (const auto& c : cases) {
    TempDir dir;
    WriteSite(dir.path / "site", kSite);
    WriteSite(dir.path / "site", c.changes);
    std::vector<std::string> args{"check", "site"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const Result r = RunVekpp(args, dir.path);
    EXPECT_EQ(r.status, c.status) << c.what << "\n" << r.out << r.err;
    EXPECT_EQ(r.out, c.out) << c.what;
    EXPECT_EQ(r.err, c.summary) << c.what;
  }
}

TEST(VekppCheckSite, SiteThatCannotBeRead) {
  TempDir dir;
  WriteSite(dir.path / "site", kSite);
  WriteSite(dir.path / "site", {{"_data.json", "{"}});
  Result r = RunVekpp({"check", "site"}, dir.path);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("_data.json"), std::string::npos) << r.err;
  WriteSite(dir.path / "site", {{"_data.json", "{}"}, {"vekpp.toml", "title = 3\n"}});
  r = RunVekpp({"check", "site"}, dir.path);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("vekpp.toml"), std::string::npos) << r.err;
}

TEST(VekppCheckSite, PageInsideASiteIsCheckedFromItsRoot) {
  TempDir dir;
  WriteSite(dir.path / "site", kSite);
  // Its layout lies above its folder, and its front matter and the site's
  // data give the names it uses.
  Result r = RunVekpp({"check", "--strict", "guide.html"}, dir.path / "site" / "docs");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  r = RunVekpp({"check", "--strict", "site/index.html", "site/posts/hello.md"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");
  // A layout checked alone: from the site's root too, its names left to the
  // pages that give it page.
  r = RunVekpp({"check", "--strict", "site/_layouts/page.html"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.out << r.err;

  // The page's own faults by the path given, its layout's by their path
  // from here.
  WriteSite(dir.path / "site",
            {{"docs/guide.html",
              "<#extends file=\"../_layouts/page.html\"#><#block content#><#page.nmae#>"
              "<#/block#>"},
             {"_layouts/page.html", "<#block content#><#/block#><#/iff#>"}});
  r = RunVekpp({"check", "--strict", "guide.html"}, dir.path / "site" / "docs");
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(Count(r.out,
                  "../_layouts/page.html:1:28: unknown closing tag <#/iff#> (did you mean "
                  "<#/if#>?)"),
            1u)
      << r.out;
  EXPECT_NE(r.out.find("guide.html:1:58: no \"page.nmae\" in the data\n"), std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("leaves"), std::string::npos) << r.out;

  // --root keeps a page a template of that root, as render reads it.
  r = RunVekpp({"check", "--root", "site/docs", "site/docs/guide.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("leaves the template root"), std::string::npos) << r.out;

  // Outside a site (no vekpp.toml above), the root's _data.json is read as
  // render reads it: --strict sees its names.
  fs::remove(dir.path / "site" / "vekpp.toml");
  WriteSite(dir.path / "site", {{"menu.html", "<#each menu#><#nmae#><#/each#>"}});
  r = RunVekpp({"check", "--strict", "site/menu.html"}, dir.path);
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_EQ(r.out,
            "site/menu.html:1:14: no \"nmae\" in the data (did you mean \"name\"?)\n"
            "<#each menu#><#nmae#><#/each#>\n" +
                std::string(13, ' ') + "^\n");
}

TEST(VekppCheckSite, EveryFaultOfATemplateIsListedUpToTheCap) {
  TempDir dir;
  // "(and 1 more)" once hid the second fault: render and check list both.
  WriteSite(dir.path, {{"two.html", "<#if a#>\n<#each b#>x<#/eahc#>"},
                       {"inc.html", "<#include file=\"two.html\"#>"}});
  Result r = RunVekpp({"render", "two.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.err, "\n"), 3u) << r.err;
  EXPECT_NE(r.err.find("vekpp: two.html:1:1: <#if a#> has no closing <#/if#>\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("\ntwo.html:2:12: unknown closing tag <#/eahc#> (did you mean <#/each#>?)"),
            std::string::npos)
      << r.err;
  r = RunVekpp({"check", "two.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, "^\n"), 3u) << r.out;
  // Through an include: the include chain ends the first line, the faults
  // follow; check shows each at its place in the included file.
  r = RunVekpp({"render", "inc.html"}, dir.path);
  EXPECT_NE(r.err.find("vekpp: inc.html:1:1: include: two.html:1:1: <#if a#> has no closing "
                       "<#/if#>\ntwo.html:"),
            std::string::npos)
      << r.err;
  r = RunVekpp({"check", "inc.html"}, dir.path);
  EXPECT_EQ(Count(r.out, "two.html:"), 3u) << r.out;

  // Past the cap of 1,000 faults, both say how many more there are.
  std::string many;
  for (int i = 0; i < 1005; ++i) many += "<#/x#>";
  WriteSite(dir.path, {{"many.html", many}});
  r = RunVekpp({"render", "many.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.err, "\n"), 1001u);
  EXPECT_NE(r.err.find("and 5 more errors after these (the first 1000 are listed)\n"),
            std::string::npos);
  r = RunVekpp({"check", "many.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("and 5 more errors after these (the first 1000 are listed)\n"),
            std::string::npos);

  // A site keeps 1,000 findings in all and counts the rest.
  std::string some;
  for (int i = 0; i < 400; ++i) some += "<#/x#>";
  WriteSite(dir.path / "site", {{"a.html", some}, {"b.html", some}, {"c.html", some}});
  r = RunVekpp({"check", "site"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(Count(r.out, "^\n"), 1000u);
  EXPECT_NE(r.out.find("\nvekpp: and 200 more findings, not listed (the first 1000 met are)\n"),
            std::string::npos);
  EXPECT_EQ(r.err, "vekpp: 3 pages of site checked: 1000 errors, 0 warnings\n");
}
