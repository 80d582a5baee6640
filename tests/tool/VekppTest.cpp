// vekpp end to end: the built binary run on the fixtures, its output and
// exit status; vekpp serve on a loopback port, asked by an HTTP client.
#include <gtest/gtest.h>
#include <httplib.h>

#include <map>

#include "VekppHarness.h"

using namespace vekpp_test;

TEST(VekppRender, WritesThePage) {
  const std::string expected =
      "<html><head><meta charset=\"utf-8\"><title>Fixture &amp; co</title></head><body>\n\n"
      "<ul><li>0:Äpfel</li><li>1:&lt;b&gt;Birnen&lt;/b&gt;</li></ul>\nclosed\n</body></html>\n";
  Result r = RunVekpp({"render", "site/index.html", "--data", "data.json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");

  // --set adds or replaces values, at dotted names too; -o writes a file.
  TempDir tmp;
  const fs::path out = tmp.path / "page.html";
  r = RunVekpp({"render", "site/index.html", "--data", "data.json", "--set", "title=Set <here>",
                "--set", "open=yes", "--set", "items.x=1", "-o", out.string()});
  EXPECT_EQ(r.status, 2);  // items is a list: no name inside it can be set
  EXPECT_NE(r.err.find("--set items.x=1: \"items\" has no element x"), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(out));
  r = RunVekpp({"render", "site/index.html", "--data", "data.json", "--set", "title=Set <here>",
                "--set", "open=yes", "-o", out.string()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::string page = ReadFile(out);
  EXPECT_NE(page.find("<title>Set &lt;here&gt;</title>"), std::string::npos) << page;
  EXPECT_NE(page.find("\nopen\n"), std::string::npos) << page;

  r = RunVekpp({"render", "sub/page.html", "--set", "title=T", "--set", "a.b.c=deep"},
               kFixtures / "site");
  EXPECT_EQ(r.status, 1);  // the header is above the template's own directory
  EXPECT_NE(r.err.find("leaves the template root"), std::string::npos) << r.err;
  r = RunVekpp({"render", "sub/page.html", "--root", ".", "--set", "title=T"}, kFixtures / "site");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("<title>T</title></head><body>\nsub page"), std::string::npos) << r.out;

  // Without --data, the root's _data.json is read.
  TempDir dir;
  std::ofstream(dir.path / "_data.json") << R"({"title": "from _data"})";
  std::ofstream(dir.path / "own.json") << R"({"title": "own"})";
  std::ofstream(dir.path / "d.html") << "<#title#>";
  EXPECT_EQ(RunVekpp({"render", "d.html"}, dir.path).out, "from _data");
  EXPECT_EQ(RunVekpp({"render", "d.html", "--data", "own.json"}, dir.path).out, "own");

  // Other delimiters.
  std::ofstream(dir.path / "t.html") << "{{title}} <#title#>";
  r = RunVekpp({"render", "t.html", "--set", "title=x", "--tag-begin", "{{", "--tag-end", "}}"},
               dir.path);
  EXPECT_EQ(r.out, "x <#title#>");
}

TEST(VekppRender, DataFromJsonYamlTomlStdinAndSet) {
  TempDir dir;
  const auto write = [&](const std::string& Name, const std::string& Text) {
    std::ofstream(dir.path / Name, std::ios::binary) << Text;
  };
  write("t.html",
        "<#name#>|<#open#>|<#n#>|<#items[1].name#>|<#each obj#><#@key#>=<#.#> <#/each#>|<#q#>");
  write("a.json", R"({"name": "json", "n": 1, "obj": {"z": 1}, "items": [{}, {"name": "j"}]})");
  write("b.yaml",
        "name: Zoë\nopen: false\nq: \"007\"\nobj:\n  y: ~\n  a: 2.5\nitems:\n  - name: "
        "y0\n  - name: y1\n");
  write("c.toml", "n = 3\n[obj]\nc = 2024-03-05\nb = true\n");
  write("deep.yaml", std::string(2000, '[') + std::string(2000, ']'));
  write("deep.json", std::string(2000, '[') + std::string(2000, ']'));
  write("deep.toml", "a = " + std::string(2000, '[') + std::string(2000, ']'));
  write("bomb.yml",
        "a: &a [1,1,1,1,1,1,1,1,1]\nb: &b [*a,*a,*a,*a,*a,*a,*a,*a,*a]\n"
        "c: &c [*b,*b,*b,*b,*b,*b,*b,*b,*b]\nd: &d [*c,*c,*c,*c,*c,*c,*c,*c,*c]\n"
        "e: &e [*d,*d,*d,*d,*d,*d,*d,*d,*d]\nf: [*e,*e,*e,*e,*e,*e,*e,*e,*e]\n");
  write("bad.toml", "a = \n");
  const struct {
    std::vector<std::string> args;
    std::string input, out, err;
    int status;
  } cases[] = {
      {{"--data", "a.json"}, "", "json||1|j|z=1 |", "", 0},
      // Several files merge in order: objects member by member, the rest replaced.
      {{"--data", "a.json", "--data", "b.yaml"}, "", "Zoë|false|1|y1|z=1 y= a=2.5 |007", "", 0},
      {{"--data", "a.json", "--data", "b.yaml", "--data", "c.toml"},
       "",
       "Zoë|false|3|y1|z=1 y= a=2.5 c=2024-03-05 b=true |007",
       "",
       0},
      // --set: JSON when it parses, else a string; paths index lists.
      {{"--data", "b.yaml", "--set", "open=0", "--set", "n=[1,2]", "--set", "q=a b", "--set",
        "items[1].name=\"s\"", "--set", "items.0.name=t"},
       "",
       "Zoë|0||s|y= a=2.5 |a b",
       "",
       0},
      {{"--set", "n={\"a\":1}", "--set", "name=true"}, "", "true|||||", "", 0},
      {{"--data", "b.yaml", "--set", "items[2].name=x"}, "", "", "\"items\" has no element 2", 2},
      // --set paths follow the grammar of paths in templates: [] holds digits only.
      {{"--set", "items[x]=1"}, "", "", "--set items[x]=1: only digits may stand in []", 2},
      // - is standard input, for one data file (JSON) or the template.
      {{"--data", "a.json", "--data", "-"}, R"({"name": "stdin"})", "stdin||1|j|z=1 |", "", 0},
      {{"-", "--data", "a.json"}, "<#name#>!", "json!", "", 0},
      {{"-", "--data", "-"}, "{}", "", "standard input is read once", 2},
      {{"--data", "-", "--data", "-"}, "{}", "", "standard input is read once", 2},
      // Hostile data: nesting and aliases that multiply are refused.
      {{"--data", "deep.yaml"},
       "",
       "",
       "deep.yaml:1:513: lists and objects nested deeper than 512",
       2},
      {{"--data", "deep.json"},
       "",
       "",
       "deep.json:1:513: lists and objects nested deeper than 512",
       2},
      {{"--data", "deep.toml"},
       "",
       "",
       "deep.toml:1:516: lists and objects nested deeper than 512",
       2},
      {{"--data", "bomb.yml"}, "", "", "bomb.yml:4:17: the data expands to more than", 2},
      {{"--data", "bad.toml"}, "", "", "bad.toml", 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args{"render"};
    if (c.args[0] != "-") args.push_back("t.html");
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result r = RunVekpp(args, dir.path, c.input);
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.status, c.status) << what << r.err;
    EXPECT_EQ(r.out, c.out) << what;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << what << r.err;
  }
  // --set open=false and open=0 are false to if, as the data files' are.
  write("o.html", "<#if open#>open<#else#>closed<#/if#>");
  for (const char* set : {"open=false", "open=0", "open=null", "open=[]"})
    EXPECT_EQ(RunVekpp({"render", "o.html", "--set", set}, dir.path).out, "closed") << set;
  EXPECT_EQ(RunVekpp({"render", "o.html", "--set", "open=yes"}, dir.path).out, "open");
  // Without --data, a YAML or TOML _data file of the root is read.
  write("_data.toml", "name = \"from toml\"\n");
  EXPECT_EQ(RunVekpp({"render", "t.html"}, dir.path).out, "from toml|||||");
}

TEST(VekppRender, ErrorsAreReportedWithTheirExitStatus) {
  TempDir dir;
  std::ofstream(dir.path / "out.html") << "old";
  const struct {
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      // A file named on the command line is named once, then why.
      {{"render", "nothing.html"}, 2, "vekpp: nothing.html: No such file or directory\n"},
      {{"check", "site/index.html", "nothing.html"},
       2,
       "vekpp: nothing.html: No such file or directory\n"},
      {{"render", "site/index.html", "--data", "none.json"},
       2,
       "vekpp: none.json: No such file or directory\n"},
      {{"render", "site/index.html", "-o", "nodir/out.html"},
       2,
       "vekpp: nodir/out.html: No such file or directory\n"},
      {{"render", "site/index.html", "--data", "bad.json"}, 2, "vekpp: bad.json: [json.exception"},
      {{"render", "site/index.html", "--set", "novalue"}, 2, "--set novalue: expected name=value"},
      {{"render", "site/index.html", "--set", "a..b=1"}, 2, "--set a..b=1: empty part"},
      {{"render", "site/index.html", "--root", "site/sub"}, 2, "is not inside the template root"},
      {{"render", "site/index.html", "--root", "nowhere"}, 2, "template root \"nowhere\""},
      {{"render", "site/broken.html"},
       1,
       "vekpp: broken.html:1:8: include: \"../outside.html\" leaves the template root"},
      {{"render", "site/cycle.html"}, 1, "include cycle: cycle.html -> cycle.html"},
      {{"render", "site/strict.html", "--data", "data.json", "--strict"},
       1,
       "vekpp: strict.html:1:11: no value \"nope\" in the data"},
      {{"render", "lint.html", "--strict", "-o", (dir.path / "out.html").string()},
       1,
       "vekpp: lint.html:5:1: <#if open#> has no closing <#/if#>"},
      {{"render", "site/unclosed.html"},
       1,
       "vekpp: unclosed.html:1:3: \"<#\" without a closing \"#>\": the output would stop here"},
      {{"render", "site/index.html", "--data", "data.json", "--max-includes", "0"},
       1,
       "vekpp: index.html:1:1: more than 0 includes in one page (the limit --max-includes)"},
      {{"render", "site/index.html", "--data", "data.json", "--max-output", "100"},
       1,
       "vekpp: index.html:2:42: the page grows beyond 100 bytes (the limit --max-output)"},
      {{"render", "site/index.html", "--data", "data.json", "--max-depth", "0"},
       1,
       "vekpp: index.html:2:5: pairs nested deeper than 0 (the limit --max-depth)"},
      {{"render", "site/index.html", "--tag-begin", ""}, 2, "--tag-begin: must not be empty"},
      {{"render"}, 2, "template is required"},
      {{"render", "a.html", "b.html"}, 2, "The following argument was not expected: b.html"},
      {{}, 2, "A subcommand is required"},
      {{"frobnicate"}, 2, "A subcommand is required"},
      {{"help", "frobnicate"}, 2, "vekpp: help: no command named frobnicate\n"},
  };
  for (const auto& c : cases) {
    const Result r = RunVekpp(c.args);
    std::string cmd;
    for (const auto& a : c.args) cmd += a + " ";
    EXPECT_EQ(r.status, c.status) << cmd << "\n" << r.err;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << cmd << "\n" << r.err;
    EXPECT_EQ(r.out, "") << cmd;
  }
  // A failed render leaves the output file as it was.
  EXPECT_EQ(ReadFile(dir.path / "out.html"), "old");
  // Without --strict the same template renders what it can.
  EXPECT_EQ(RunVekpp({"render", "site/strict.html", "--data", "data.json"}).out,
            "Fixture &amp; co \n");
  // With --lenient, a malformed template as the producer alone expands it.
  const Result lenient = RunVekpp({"render", "site/unclosed.html", "--lenient"});
  EXPECT_EQ(lenient.status, 0) << lenient.err;
  EXPECT_EQ(lenient.out, "ab");
  EXPECT_EQ(RunVekpp({"render", "--help"}).status, 0);
}

// The version, and help as a command: the list of commands or one command's
// options, on standard output.
TEST(VekppRender, VersionAndHelp) {
  Result r = RunVekpp({"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "vekpp " VEK_VERSION "\n");
  r = RunVekpp({"help"});
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* command : {"render", "check", "serve", "build", "help"})
    EXPECT_NE(r.out.find(std::string("\n  ") + command + " "), std::string::npos) << r.out;
  r = RunVekpp({"help", "serve"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Usage: vekpp serve"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("--port"), std::string::npos) << r.out;
}

TEST(VekppRender, IncludesThroughLinksAndDeepChainsAreErrors) {
  TempDir dir;
  fs::create_directory(dir.path / "site");
  std::ofstream(dir.path / "secret.html") << "SECRET";
  fs::create_symlink(dir.path / "secret.html", dir.path / "site" / "link.html");
  std::ofstream(dir.path / "site" / "a.html") << "<#include file=\"link.html\"#>";
  for (int i = 0; i < 17; ++i) {
    std::ofstream(dir.path / "site" / ("d" + std::to_string(i) + ".html"))
        << "<#include file=d" << i + 1 << ".html#>";
  }
  std::ofstream(dir.path / "site" / "d17.html") << "deep";
  Result r = RunVekpp({"render", "site/a.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("a.html:1:1: include: \"link.html\" leaves the template root through a "
                       "symbolic link"),
            std::string::npos)
      << r.err;
  r = RunVekpp({"render", "site/d0.html"}, dir.path);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("includes nested deeper than 16: d0.html -> d1.html"), std::string::npos)
      << r.err;
  r = RunVekpp({"render", "site/d1.html"}, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "deep");
}

TEST(VekppCheck, ReportsFileLineAndColumn) {
  Result r = RunVekpp({"check", "lint.html", "site/index.html", "site/sub/page.html"});
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, ReadFile(kFixtures / "lint.expected"));
  EXPECT_EQ(r.err, "");

  r = RunVekpp({"check", "site/index.html", "site/sub/page.html", "--root", "site"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "");

  // A file that cannot be read is an error of its own; the others are checked.
  r = RunVekpp({"check", "nothing.html", "lint.html"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("vekpp: nothing.html: "), std::string::npos) << r.err;
  EXPECT_EQ(r.out, ReadFile(kFixtures / "lint.expected").substr(0, r.out.size()));
  EXPECT_FALSE(r.out.empty());
  EXPECT_EQ(RunVekpp({"check"}).status, 2);

  // With --data, names the data lacks are warnings, in includes too (shown
  // at their place there), with the nearest name the data has; each finding
  // shows its line and a caret.
  TempDir dir;
  std::ofstream(dir.path / "t.html")
      << "<#titel#>\n<#each items#><#nmae#> <#n#><#/each#><#include file=p.html x=1#>";
  std::ofstream(dir.path / "p.html") << "<#x#><#open#><#nope.deeper#>";
  r = RunVekpp({"check", "t.html", "--data", (kFixtures / "data.json").string()}, dir.path);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string line2 = "<#each items#><#nmae#> <#n#><#/each#><#include file=p.html x=1#>\n";
  EXPECT_EQ(r.out,
            "p.html:1:14: warning: no \"nope.deeper\" in the data\n"
            "<#x#><#open#><#nope.deeper#>\n" +
                std::string(13, ' ') +
                "^\n"
                "t.html:1:1: warning: no \"titel\" in the data (did you mean \"title\"?)\n"
                "<#titel#>\n^\n"
                "t.html:2:15: warning: no \"nmae\" in the data (did you mean \"name\"?)\n" +
                line2 + std::string(14, ' ') + "^\n");
  // The caret counts a character of several bytes as one column; a tab stays a tab.
  std::ofstream(dir.path / "u.html") << "\tzoë <#/eahc#>";
  r = RunVekpp({"check", "u.html"}, dir.path);
  EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), "\tzoë <#/eahc#>\n\t    ^\n");
}

TEST(VekppServe, AnswersPagesFilesAndErrors) {
  SiteCopy copy;
  Server server(copy.Site(), {"--data", (kFixtures / "data.json").string()});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const std::string index = RunVekpp({"render", "site/index.html", "--data", "data.json"}).out;
  ASSERT_FALSE(index.empty());

  httplib::Client client("127.0.0.1", server.Port());
  const struct {
    std::string path;
    int status;
    std::string type;
    std::string body;  // expected part of the body
  } cases[] = {
      {"/", 200, "text/html; charset=utf-8", index},
      {"/index", 200, "text/html; charset=utf-8", index},
      {"/index.html", 200, "text/html; charset=utf-8", index},
      {"/sub/page", 200, "text/html; charset=utf-8", "sub page"},
      {"/sub/", 200, "text/html; charset=utf-8", "sub index"},
      {"/sub", 301, "", ""},
      {"/style.css", 200, "text/css; charset=utf-8", "body { color: red; }\n"},
      {"/notes.txt", 200, "text/plain; charset=utf-8", "plain text\n"},
      {"/dot.png", 200, "image/png", "\x89PNG\r\n\x1a\n"},
      {"/blob.bin", 200, "application/octet-stream", std::string("\0\1\2", 3)},
      {"/missing", 404, "text/html; charset=utf-8", "404 Not Found"},
      {"/sub/missing.css", 404, "text/html; charset=utf-8", "404 Not Found"},
      {"/_header", 404, "text/html; charset=utf-8", "404 Not Found"},
      {"/_header.html", 404, "text/html; charset=utf-8", "404 Not Found"},
      {"/.secret", 404, "text/html; charset=utf-8", "404 Not Found"},
      {"/_data.json", 404, "text/html; charset=utf-8", "404 Not Found"},
      {"/leak", 403, "text/html; charset=utf-8", "403 Forbidden"},
      {"/leak.html", 403, "text/html; charset=utf-8", "403 Forbidden"},
      {"/up/outside.html", 403, "text/html; charset=utf-8", "403 Forbidden"},
      {"/broken", 500, "text/html; charset=utf-8",
       "broken.html:1:8: include: &quot;../outside.html&quot; leaves the template root"},
      {"/cycle", 500, "text/html; charset=utf-8", "include cycle"},
      {"/unclosed", 500, "text/html; charset=utf-8",
       "unclosed.html:1:3: &quot;&lt;#&quot; without a closing &quot;#&gt;&quot;"},
  };
  for (const auto& c : cases) {
    const auto res = client.Get(c.path);
    ASSERT_TRUE(res) << c.path;
    EXPECT_EQ(res->status, c.status) << c.path;
    if (!c.type.empty()) {
      EXPECT_EQ(res->get_header_value("Content-Type"), c.type) << c.path;
    }
    EXPECT_NE(res->body.find(c.body), std::string::npos) << c.path << "\n" << res->body;
    EXPECT_EQ(res->body.find("OUTSIDE-SECRET"), std::string::npos) << c.path;
  }
  EXPECT_EQ(client.Get("/sub")->get_header_value("Location"), "/sub/");
  EXPECT_EQ(client.Head("/")->status, 200);
  const auto post = client.Post("/", "x", "text/plain");
  ASSERT_TRUE(post);
  EXPECT_EQ(post->status, 405);
  EXPECT_EQ(post->get_header_value("Allow"), "GET, HEAD");

  // Paths that try to leave DIR, sent byte for byte.
  for (const std::string target :
       {"/../outside.html", "/%2e%2e/outside.html", "/sub/../../outside.html",
        "/sub/..%2f..%2foutside.html", "/%2E%2E/%2E%2E/etc/passwd", "/./../outside.html",
        "/up/../../outside.html"}) {
    std::string answer;
    const int status = RawGet(server.Port(), target, &answer);
    EXPECT_TRUE(status == 403 || status == 404) << target << " -> " << status;
    EXPECT_EQ(answer.find("OUTSIDE-SECRET"), std::string::npos) << target;
    EXPECT_EQ(answer.find("root:"), std::string::npos) << target;
  }

  EXPECT_EQ(server.Stop(SIGINT), 0);
  const std::string log = server.Log();
  EXPECT_NE(log.find("127.0.0.1 \"GET /\" 200 "), std::string::npos) << log;
  EXPECT_NE(log.find("127.0.0.1 \"GET /missing\" 404 "), std::string::npos) << log;
  EXPECT_NE(log.find("127.0.0.1 \"POST /\" 405 "), std::string::npos) << log;
  EXPECT_NE(log.find("vekpp: stopped"), std::string::npos) << log;
}

TEST(VekppServe, ConcurrentRequestsAllGetTheirOwnAnswer) {
  SiteCopy copy;
  Server server(copy.Site(), {"--data", (kFixtures / "data.json").string()});
  ASSERT_GT(server.Port(), 0) << server.Log();
  // What each path answers, asked one at a time.
  const std::vector<std::string> paths{"/", "/sub/page", "/style.css", "/missing", "/broken"};
  std::map<std::string, std::pair<int, std::string>> expected;
  {
    httplib::Client client("127.0.0.1", server.Port());
    for (const auto& p : paths) {
      const auto res = client.Get(p);
      ASSERT_TRUE(res) << p;
      expected[p] = {res->status, res->body};
    }
  }
  const int kThreads = 8, kRequests = 40;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      httplib::Client client("127.0.0.1", server.Port());
      for (int i = 0; i < kRequests; ++i) {
        const std::string& p = paths[static_cast<size_t>(t + i) % paths.size()];
        const auto res = client.Get(p);
        if (!res || res->status != expected[p].first || res->body != expected[p].second)
          ++wrong[static_cast<size_t>(t)];
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[static_cast<size_t>(t)], 0) << "thread " << t;

  EXPECT_EQ(server.Stop(SIGTERM), 0);
  // One log line per request.
  const std::string log = server.Log();
  const std::regex line("\n127\\.0\\.0\\.1 \"GET [^\"]*\" [0-9]{3} [0-9]+ [0-9.]+ms");
  const auto lines =
      std::distance(std::sregex_iterator(log.begin(), log.end(), line), std::sregex_iterator());
  EXPECT_EQ(lines, static_cast<long>(paths.size() + kThreads * kRequests)) << log.substr(0, 2000);
}

TEST(VekppServe, StartupErrors) {
  Result r = RunVekpp({"serve", "nowhere"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("template root \"nowhere\""), std::string::npos) << r.err;
  r = RunVekpp({"serve", "site", "--data", "bad.json"});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("bad.json"), std::string::npos) << r.err;
  r = RunVekpp({"serve", "site", "--port", "70000"});
  EXPECT_EQ(r.status, 2);

  // A port already taken: the message says why.
  Server first(kFixtures / "site", {"--quiet"});
  ASSERT_GT(first.Port(), 0);
  r = RunVekpp({"serve", "site", "--port", std::to_string(first.Port())});
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("cannot listen on 127.0.0.1 port " + std::to_string(first.Port()) +
                       ": Address already in use\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(first.Stop(), 0);
}
