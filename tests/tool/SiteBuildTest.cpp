// vekpp build as a site generator: Markdown pages with front matter through
// layouts, the page and site variables, drafts and dates, pretty URLs,
// vekpp.toml, and front matter and Markdown as hostile input.
#include <gtest/gtest.h>

#include "VekppHarness.h"

using namespace vekpp_test;

namespace {

// Writes Files (name, text) under Dir, making folders on the way.
void WriteSite(const fs::path& Dir, const std::vector<std::pair<std::string, std::string>>& Files) {
  for (const auto& f : Files) {
    fs::create_directories((Dir / f.first).parent_path());
    std::ofstream(Dir / f.first, std::ios::binary) << f.second;
  }
}

bool Has(const std::string& Text, const std::string& Part) {
  return Text.find(Part) != std::string::npos;
}

// A small blog: a default layout, a posts layout, posts in YAML and TOML
// front matter, a draft, a post dated in the future, and an index listing
// the posts.
const std::vector<std::pair<std::string, std::string>> kBlog = {
    {"_layouts/page.html",
     "<title><#block title#><#page.title#><#/block#></title>\n<main><#block content#><#/block#>"
     "</main>\n"},
    {"_layouts/posts.html",
     "<title><#block title#>Post: <#page.title#><#/block#></title>\n"
     "<article data-url=\"<#page.url#>\" data-section=\"<#page.section#>\">"
     "<#block content#><#/block#></article>\n"
     "<p class=tags><#page.tags join=\",\"#> <#page.words#> words</p>\n"},
    {"posts/first.md",
     "---\ntitle: First <post>\ndate: 2024-01-05\ntags: [intro, news]\n---\n"
     "## Intro\n\nHello *there*.\n\n## Intro\n\n| a | b |\n|---|---|\n| 1 | 2 |\n\n"
     "~~old~~ and https://example.com/x\n\n- [x] done\n- [ ] open\n\n<span "
     "class=raw>kept</span>\n"},
    {"posts/second.md",
     "+++\ntitle = \"Second\"\ndate = 2024-02-01T10:00:00Z\ntags = [\"news\"]\n"
     "[blocks]\ntitle = \"Custom <title>\"\n+++\nText of the second.\n"},
    {"posts/draft.md", "---\ntitle: Draft\ndraft: true\ndate: 2024-03-01\n---\nNot yet.\n"},
    {"posts/later.md", "---\ntitle: Later\ndate: 2999-01-01\n---\nNot yet.\n"},
    {"about.md", "---\ntitle: About\nlayout: page.html\n---\n# About us\n"},
    {"index.html",
     "---\ntitle: Home\n---\n<h1><#page.title#> of <#site.title#></h1>\n"
     "<#each p in site.pages#><a href=\"<#p.url#>\"><#p.title#></a>;<#/each#>\n"
     "news: <#each p in site.tags.news#><#p.title#>;<#/each#>\n"
     "posts: <#each p in site.sections.posts#><#p.date#>;<#/each#>\n"},
    {"vekpp.toml", "title = \"My blog\"\nbase_url = \"https://blog.example/\"\n"},
};

}  // namespace

TEST(VekppSite, MarkdownPagesThroughLayoutsWithPageAndSite) {
  TempDir src, out;
  WriteSite(src.path, kBlog);
  Result r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Has(r.err, "2 drafts or future pages left out")) << r.err;

  // GFM, heading ids (a repeated heading numbered), raw HTML kept; the
  // section's layout; front-matter values escaped where they stand.
  const std::string first = ReadFile(out.path / "posts" / "first" / "index.html");
  for (const char* want :
       {"<title>Post: First &lt;post&gt;</title>", "<h2 id=\"intro\">Intro</h2>",
        "<h2 id=\"intro-1\">Intro</h2>", "<table>", "<del>old</del>",
        "<a href=\"https://example.com/x\">", "type=\"checkbox\"", "<span class=raw>kept</span>",
        "data-url=\"/posts/first/\"", "data-section=\"posts\"", "intro,news ", " words</p>"}) {
    EXPECT_TRUE(Has(first, want)) << want << "\n" << first;
  }
  // A block set from front matter, escaped for the <title> it lands in.
  EXPECT_TRUE(Has(ReadFile(out.path / "posts" / "second" / "index.html"),
                  "<title>Custom &lt;title&gt;</title>"));
  EXPECT_TRUE(Has(ReadFile(out.path / "about" / "index.html"),
                  "<main><h1 id=\"about-us\">About us</h1>\n</main>"));
  // The index: site.pages newest first (index pages and unpublished ones
  // left out), tags and sections.
  const std::string index = ReadFile(out.path / "index.html");
  EXPECT_TRUE(Has(index, "<h1>Home of My blog</h1>")) << index;
  EXPECT_TRUE(Has(index,
                  "<a href=\"/posts/second/\">Second</a>;"
                  "<a href=\"/posts/first/\">First &lt;post&gt;</a>;"
                  "<a href=\"/about/\">About</a>;\n"))
      << index;
  EXPECT_TRUE(Has(index, "news: Second;First <post>;") ||
              Has(index, "news: Second;First &lt;post&gt;;"))
      << index;
  EXPECT_TRUE(Has(index, "posts: 2024-02-01T10:00:00Z;2024-01-05;")) << index;
  EXPECT_FALSE(fs::exists(out.path / "posts" / "draft"));
  EXPECT_FALSE(fs::exists(out.path / "posts" / "later"));
  EXPECT_FALSE(fs::exists(out.path / "vekpp.toml"));

  // --drafts and --future build and list them; --ugly-urls keeps x.html.
  TempDir out2;
  r = RunVekpp({"build", src.path.string(), "-o", out2.path.string(), "--drafts", "--future",
                "--ugly-urls"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(out2.path / "posts" / "draft.html"));
  EXPECT_TRUE(fs::exists(out2.path / "about.html"));
  EXPECT_TRUE(Has(ReadFile(out2.path / "index.html"), "<a href=\"/posts/later.html\">Later</a>;"));
}

TEST(VekppSite, ConfigSetsOutputAndMarkdownSafety) {
  TempDir src;
  WriteSite(src.path, {{"_layouts/page.html", "<#block content#><#/block#>"},
                       {"a.md", "<b>bold</b> and <script>x()</script>\n"},
                       {"vekpp.toml", "output = \"public\"\n[markdown]\nunsafe = false\n"}});
  Result r = RunVekpp({"build", src.path.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string a = ReadFile(src.path / "public" / "a" / "index.html");
  EXPECT_TRUE(Has(a, "&lt;b&gt;bold&lt;/b&gt;")) << a;
  EXPECT_FALSE(Has(a, "<script>")) << a;
  // A second build does not take its own output for pages.
  r = RunVekpp({"build", src.path.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(src.path / "public" / "public"));

  WriteSite(src.path, {{"vekpp.toml", "paginate = \"ten\"\n"}});
  r = RunVekpp({"build", src.path.string(), "-o", (src.path / "o").string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "vekpp.toml: paginate must be a whole number")) << r.err;
}

// Each bad page fails alone, with its place; the rest of the site is built.
TEST(VekppSite, HostileFrontMatterAndMarkdownAreRefusedWithTheirPlace) {
  const struct {
    const char* Name;
    std::string Text;
    const char* Want;
  } cases[] = {
      {"open.md", "---\ntitle: x\nno end\n", "open.md:1:1: the front matter opened by \"---\""},
      {"yaml.md", "---\ntitle: x\n  bad: [\n---\nbody\n", "yaml.md: yaml-cpp: error at line 3"},
      {"toml.md", "+++\ntitle = \n+++\n", "toml.md:2:"},
      {"deep.md", "---\na: " + std::string(600, '[') + "\n---\n", "deep.md:2:"},
      {"list.md", "---\n- a\n- b\n---\n", "list.md:2:1: front matter must be a mapping"},
      {"layout.md", "---\nlayout: ../../etc/passwd\n---\n",
       "layout.md: layout \"../../etc/passwd\""},
      {"nolayout.md", "---\nlayout: gone.html\n---\n",
       "its layout _layouts/gone.html does not exist"},
      {"date.md", "---\ndate: yesterday\n---\n", "date.md: date \"yesterday\" is not written"},
      {"tags.md", "---\ntags: [[a]]\n---\n", "tags.md: tags must be a list of names"},
      {"attr.md", "---\nlayout: attr.html\n---\ntext\n",
       "\"page.content\" is HTML: it may stand only in element text, not in an attribute value"},
  };
  TempDir src, out;
  WriteSite(src.path, {{"_layouts/page.html", "<#block content#><#/block#>"},
                       {"_layouts/attr.html", "<p title=\"<#page.content#>\">x</p>"},
                       {"good.md", "fine\n"},
                       // 100,000 nested quotes and 10 MB of unclosed emphasis
                       // render (md4c keeps no stack per level).
                       {"quotes.md", std::string(100000, '>') + " deep\n"},
                       {"stars.md", [] {
                          std::string s;
                          for (int i = 0; i < 1000000; ++i) s += "*a [";
                          return s;
                        }()}});
  for (const auto& c : cases) WriteSite(src.path, {{c.Name, c.Text}});
  Result r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  EXPECT_EQ(r.status, 1);
  for (const auto& c : cases) {
    EXPECT_TRUE(Has(r.err, c.Want)) << c.Name << ": " << c.Want << "\n" << r.err;
    EXPECT_FALSE(fs::exists(out.path / fs::path(c.Name).stem() / "index.html")) << c.Name;
  }
  EXPECT_TRUE(Has(r.err, "; " + std::to_string(std::size(cases)) + " failed")) << r.err;
  EXPECT_TRUE(fs::exists(out.path / "good" / "index.html"));
  EXPECT_TRUE(Has(ReadFile(out.path / "quotes" / "index.html"), "<blockquote>\n<p>deep</p>"));
  EXPECT_TRUE(fs::exists(out.path / "stars" / "index.html"));
}

TEST(VekppSite, HtmlPagesKeepTheirLinesAndTwoPagesNeverShareAnOutput) {
  TempDir src, out;
  WriteSite(src.path,
            {{"a.html", "---\ntitle: A\n---\n<p><#page.title#></p>\n<#if x#>open\n"},
             {"b.html", "+++\ntitle = \"B\"\nlayout = \"page.html\"\n+++\n<i><#page.title#></i>\n"},
             {"_layouts/page.html", "<main><#block content#><#/block#></main>"},
             {"c.md", "from markdown\n"},
             {"c.html", "from html\n"}});
  Result r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  EXPECT_EQ(r.status, 1);
  // The fault of a.html stands at its own line 5.
  EXPECT_TRUE(Has(r.err, "a.html:5:1: ")) << r.err;
  EXPECT_TRUE(Has(r.err, "c.md: its page c/index.html is written by c.html already")) << r.err;
  EXPECT_EQ(ReadFile(out.path / "b" / "index.html"), "<main><i>B</i>\n</main>");
  EXPECT_EQ(ReadFile(out.path / "c" / "index.html"), "from html\n");
}

// Tag pages from _tag.html, a paginated index, a feed and a sitemap (parsed
// by python3's XML parser), and an output folder kept exact.
TEST(VekppSite, TagPagesPaginationFeedsAndExactOutput) {
  TempDir src, out;
  WriteSite(src.path,
            {{"_layouts/page.html", "<#block content#><#/block#>"},
             {"_tag.html", "<h1><#page.tag#></h1><#each p in page.pages#><#p.title#>;<#/each#>"},
             {"index.html",
              "---\npaginate: 2\nlist: posts\n---\n<#pager.number#>/<#pager.count#> "
              "prev=<#pager.prev#> next=<#pager.next#>: "
              "<#each p in pager.pages#><#p.title#>;<#/each#>"},
             {"feed.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title><#site.title#></title>\n"
              "<#each p in site.pages#><entry><title><#p.title#></title>"
              "<link href=\"<#p.permalink#>\"/><updated><#p.date#></updated>"
              "<summary><#p.summary#></summary></entry>\n<#/each#></feed>\n"},
             {"sitemap.xml",
              "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
              "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">"
              "<#each p in site.pages#><url><loc><#p.permalink#></loc></url>"
              "<#/each#></urlset>\n"},
             {"vekpp.toml", "title = \"A & B <blog>\"\nbase_url = \"https://b.example\"\n"}});
  for (int i = 1; i <= 5; ++i) {
    WriteSite(src.path, {{"posts/p" + std::to_string(i) + ".md",
                          "---\ntitle: P" + std::to_string(i) + " & <co>\ndate: 2024-01-0" +
                              std::to_string(i) + "\ntags: [" + (i % 2 ? "Odd Ones" : "even") +
                              ", all]\n---\nText " + std::to_string(i) + " & more.\n"}});
  }
  Result r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(out.path / "index.html"),
            "1/3 prev= next=/page/2/: P5 &amp; &lt;co&gt;;P4 &amp; &lt;co&gt;;");
  EXPECT_EQ(ReadFile(out.path / "page" / "3" / "index.html"),
            "3/3 prev=/page/2/ next=: P1 &amp; &lt;co&gt;;");
  EXPECT_EQ(ReadFile(out.path / "tags" / "odd-ones" / "index.html"),
            "<h1>Odd Ones</h1>P5 &amp; &lt;co&gt;;P3 &amp; &lt;co&gt;;P1 &amp; &lt;co&gt;;");
  EXPECT_TRUE(fs::exists(out.path / "tags" / "all" / "index.html"));
  for (const char* xml : {"feed.xml", "sitemap.xml"}) {
    const std::string cmd =
        "python3 -c 'import sys, xml.dom.minidom as m; "
        "m.parse(sys.argv[1])' " +
        (out.path / xml).string();
    EXPECT_EQ(std::system(cmd.c_str()), 0) << xml << "\n" << ReadFile(out.path / xml);
  }
  EXPECT_TRUE(Has(ReadFile(out.path / "sitemap.xml"), "<loc>https://b.example/posts/p5/</loc>"));

  // A page removed from the site leaves the output; a file no build wrote
  // stays and is reported.
  fs::remove(src.path / "posts" / "p1.md");
  std::ofstream(out.path / "mine.txt") << "mine";
  r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_FALSE(fs::exists(out.path / "posts" / "p1"));
  EXPECT_FALSE(fs::exists(out.path / "page" / "3"));
  EXPECT_TRUE(fs::exists(out.path / "posts" / "p2" / "index.html"));
  EXPECT_EQ(ReadFile(out.path / "mine.txt"), "mine");
  EXPECT_TRUE(Has(r.err, "files of an earlier build removed")) << r.err;
  EXPECT_TRUE(Has(r.err, "were not written by vekpp and are left alone: mine.txt")) << r.err;

  // A tag that makes no folder name, or one that another tag's page takes.
  WriteSite(src.path, {{"posts/bad.md", "---\ntags: ['%%%', 'ALL']\n---\nx\n"}});
  r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Has(r.err, "_tag.html: the tag \"%%%\" makes no folder name")) << r.err;
  EXPECT_TRUE(Has(r.err, "its page tags/all/index.html is written by _tag.html already")) << r.err;
}

// The starter builds as it is: every feature in use, its XML parsed.
TEST(VekppSite, StarterSiteBuilds) {
  TempDir dir;
  const fs::path site = dir.path / "blog";
  Result r = RunVekpp({"new", "site", site.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunVekpp({"build", site.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path out = site / "public";
  for (const char* page : {"index.html", "about/index.html", "posts/welcome/index.html",
                           "posts/markdown/index.html", "tags/howto/index.html", "style.css"})
    EXPECT_TRUE(fs::exists(out / page)) << page;
  EXPECT_FALSE(fs::exists(out / "posts" / "draft"));
  EXPECT_TRUE(Has(ReadFile(out / "index.html"), "href=\"/posts/front-matter/\""));
  EXPECT_TRUE(Has(ReadFile(out / "posts" / "markdown" / "index.html"), "<table>"));
  for (const char* xml : {"feed.xml", "sitemap.xml"}) {
    const std::string cmd = "python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' " +
                            (out / xml).string();
    EXPECT_EQ(std::system(cmd.c_str()), 0) << xml << "\n" << ReadFile(out / xml);
  }
  // Never over an existing site.
  r = RunVekpp({"new", "site", site.string()});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(Has(r.err, "exists and is not an empty folder")) << r.err;
}

// serve answers the pages build writes, at the same URLs: Markdown through
// its layout, front matter read and not shown, drafts not found.
TEST(VekppSite, ServeAnswersPagesAsBuildWritesThem) {
  TempDir src;
  WriteSite(src.path, {{"_layouts/page.html", "<main><#block content#><#/block#></main>"},
                       {"posts/a.md", "---\ntitle: A\n---\n# Hi *there*\n"},
                       {"posts/d.md", "---\ndraft: true\n---\nhidden\n"},
                       {"index.html",
                        "---\ntitle: Home\n---\n<#page.title#>: "
                        "<#each p in site.pages#><#p.url#>;<#/each#>"},
                       {"old.html", "plain <#page.url#>"}});
  Server server(src.path);
  ASSERT_GT(server.Port(), 0) << server.Log();
  const struct {
    const char* Target;
    int Status;
    const char* Body;
  } cases[] = {
      {"/", 200, "Home: /old/;/posts/a/;"},
      {"/posts/a/", 200, "<main><h1 id=\"hi-there\">Hi <em>there</em></h1>\n</main>"},
      {"/posts/d/", 404, ""},
      {"/old/", 200, "plain /old/"},
      {"/old", 200, "plain /old/"},
  };
  for (const auto& c : cases) {
    std::string body;
    EXPECT_EQ(RawGet(server.Port(), c.Target, &body), c.Status) << c.Target;
    if (c.Status == 200) {
      EXPECT_TRUE(Has(body, c.Body)) << c.Target << "\n" << body;
    }
  }
}

// A data file's own site and page objects keep their members beside the
// build's.
TEST(VekppSite, DataFileSiteAndPageKeepTheirMembers) {
  TempDir src, out;
  WriteSite(src.path, {{"_data.json", R"({"site": {"name": "Cafe", "title": "mine"},
                                          "page": {"motto": "fresh", "title": "data"}})"},
                       {"vekpp.toml", "title = \"From toml\"\n"},
                       {"a.html",
                        "---\ntitle: A\n---\n<#site.name#>|<#site.title#>|"
                        "<#site.pages length#>|<#page.title#>|<#page.motto#>"}});
  Result r = RunVekpp({"build", src.path.string(), "-o", out.path.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadFile(out.path / "a" / "index.html"), "Cafe|mine|1|A|fresh");
}
