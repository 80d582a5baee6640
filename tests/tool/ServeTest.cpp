// vekpp serve against hostile and unusual requests, sent byte for byte on
// loopback: ranges, header and body limits, compressed bodies, redirects,
// limits per client and the request deadline; validators, data and
// template changes, the custom 404 page and the live-reload stream.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <random>

#include "VekppHarness.h"

using namespace vekpp_test;

namespace {

constexpr size_t kBig = 1 << 20;

// A site with pages, a directory, a 1 MiB file of known bytes and a custom
// 404 page.
struct TestSite {
  TestSite() {
    const fs::path d = dir.path;
    std::ofstream(d / "index.html") << "<html><body><h1><#title#></h1></body></html>";
    std::ofstream(d / "_data.json") << R"({"title": "first"})";
    std::ofstream(d / "_404.html") << "<p>custom missing: <#title#></p>";
    std::ofstream(d / "style.css") << "body { color: red; }\n";
    fs::create_directory(d / "docs");
    std::ofstream(d / "docs" / "index.html") << "docs index";
    fs::create_directory(d / "a b");
    std::mt19937 gen(7);
    big.resize(kBig);
    for (auto& c : big) c = static_cast<char>(gen());
    std::ofstream(d / "big.bin", std::ios::binary).write(big.data(), kBig);
  }
  fs::path Path() const { return dir.path; }
  TempDir dir;
  std::string big;
};

std::string Get(const std::string& Target, const std::string& Extra = "") {
  return "GET " + Target + " HTTP/1.1\r\nHost: x\r\n" + Extra + "Connection: close\r\n\r\n";
}

std::string Ranges(int Count) {
  std::string r = "Range: bytes=";
  for (int i = 0; i < Count; ++i)
    r += (i ? "," : "") + std::to_string(i * 3) + "-" + std::to_string(i * 3 + 1);
  return r + "\r\n";
}

}  // namespace

TEST(VekppServeLimits, HostileRequestsGetTheirStatusAndMemoryStaysLow) {
  TestSite site;
  Server server(site.Path(), {"--quiet"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  RssWatch rss(server.Pid());
  const int port = server.Port();

  const struct {
    const char* what;
    std::string request;
    int status;
    std::string header, value;  // a header the answer must have ("" for none)
    long bodySize;              // -1: not checked
  } cases[] = {
      {"1,000 ranges: the whole file once", Get("/big.bin", Ranges(1000)), 200, "", "", kBig},
      {"2,000 ranges: beyond the header limit", Get("/big.bin", Ranges(2000)), 431, "", "", -1},
      {"9 ranges: the whole file", Get("/big.bin", Ranges(9)), 200, "", "", kBig},
      {"overlapping ranges: the whole file", Get("/big.bin", "Range: bytes=0-99,50-150\r\n"), 200,
       "", "", kBig},
      {"touching ranges: the whole file", Get("/big.bin", "Range: bytes=0-99,100-150\r\n"), 200, "",
       "", kBig},
      {"malformed range: the whole file", Get("/big.bin", "Range: bytes=x-1\r\n"), 200, "", "",
       kBig},
      {"one range", Get("/big.bin", "Range: bytes=100-199\r\n"), 206, "Content-Range",
       "bytes 100-199/1048576", 100},
      {"last bytes", Get("/big.bin", "Range: bytes=-10\r\n"), 206, "Content-Range",
       "bytes 1048566-1048575/1048576", 10},
      {"three ranges", Get("/big.bin", "Range: bytes=0-9, 500-509,1048570-\r\n"), 206,
       "Content-Type", "multipart/byteranges; boundary=", -1},
      {"beyond the end", Get("/big.bin", "Range: bytes=2000000-\r\n"), 416, "Content-Range",
       "bytes */1048576", -1},
      {"65 headers",
       Get("/",
           [] {
             std::string h;
             for (int i = 0; i < 65; ++i) h += "X-" + std::to_string(i) + ": 1\r\n";
             return h;
           }()),
       431, "", "", -1},
      {"a 20 KB header", Get("/", "X-Big: " + std::string(20000, 'a') + "\r\n"), 431, "", "", -1},
      {"a target of 20 KB", Get("/" + std::string(20000, 'a')), 414, "", "", -1},
      {"a body announced too large",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 300000000\r\nConnection: close\r\n\r\n", 413,
       "", "", -1},
      {"a gzip body",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Encoding: gzip\r\nContent-Length: "
       "204800\r\nConnection: close\r\n\r\n" +
           std::string(204800, '\x1f'),
       415, "", "", -1},
      {"a small body is read and dropped",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nConnection: close\r\n\r\nhello", 200, "",
       "", -1},
      {"POST without a body: 405 at once",
       "POST / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405, "Allow", "GET, HEAD", -1},
      {"DELETE", "DELETE / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405, "", "", -1},
      {"//docs: redirect to the checked name", Get("//docs"), 301, "Location", "/docs/", -1},
      {"/./docs", Get("/./docs"), 301, "Location", "/docs/", -1},
      {"/docs", Get("/docs?x=//evil"), 301, "Location", "/docs/", -1},
      {"a name with a blank", Get("/a%20b"), 301, "Location", "/a%20b/", -1},
      {"//docs//", Get("//docs//"), 200, "", "", 10},
      {"a bad escape", Get("/%zz"), 400, "", "", -1},
      {"a NUL byte", Get("/index%00.css"), 400, "", "", -1},
      {"leaving the site", Get("/docs/../../etc/passwd"), 403, "", "", -1},
      {"a hidden name", Get("/_data.json"), 404, "", "", -1},
      {"a redirect keeps the query", Get("/docs?a=1&b=%22<x>"), 301, "Location",
       "/docs/?a=1&b=%22%3Cx%3E", -1},
      {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\nConnection: close\r\n\r\n", 400, "", "", -1},
      {"HTTP/1.0 without Host", "GET /style.css HTTP/1.0\r\n\r\n", 200, "", "", 21},
      {"two lengths that differ",
       "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nContent-Length: 5\r\nConnection: "
       "close\r\n\r\nhello",
       400, "", "", -1},
      {"the same length twice",
       "GET /style.css HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\nContent-Length: "
       "5\r\nConnection: close\r\n\r\nhello",
       200, "", "", 21},
      {"absolute form for this host",
       "GET http://X/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 200, "", "", 21},
      {"absolute form for another host",
       "GET http://elsewhere.example/style.css HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n",
       400, "", "", -1},
      {"If-Modified-Since to come: ignored",
       Get("/style.css", "If-Modified-Since: Fri, 31 Dec 9999 23:59:59 GMT\r\n"), 200, "", "", 21},
      {"a range end past 2^64: the file from there",
       Get("/big.bin", "Range: bytes=1048570-18446744073709551616\r\n"), 206, "Content-Range",
       "bytes 1048570-1048575/1048576", 6},
      {"a range start past 2^64", Get("/big.bin", "Range: bytes=18446744073709551616-\r\n"), 416,
       "Content-Range", "bytes */1048576", -1},
  };
  for (const auto& c : cases) {
    const Answer a = Exchange(port, c.request, "", 3000);
    EXPECT_EQ(a.Status, c.status) << c.what << "\n" << a.Head;
    if (!c.header.empty()) {
      EXPECT_NE(a.Header(c.header).find(c.value), std::string::npos)
          << c.what << ": " << c.header << ": " << a.Header(c.header);
    }
    if (c.bodySize >= 0) {
      EXPECT_EQ(static_cast<long>(a.Body.size()), c.bodySize) << c.what;
    }
  }
  // The parts hold the file's bytes.
  EXPECT_EQ(Exchange(port, Get("/big.bin", "Range: bytes=100-199\r\n")).Body,
            site.big.substr(100, 100));
  const Answer multi = Exchange(port, Get("/big.bin", "Range: bytes=0-9, 500-509,1048570-\r\n"));
  for (const auto& [range, offset, length] : {std::tuple<std::string, size_t, size_t>{"0-9", 0, 10},
                                              {"500-509", 500, 10},
                                              {"1048570-1048575", 1048570, 6}}) {
    const std::string part = "Content-Range: bytes " + range + "/1048576\r\n\r\n";
    const size_t at = multi.Body.find(part);
    ASSERT_NE(at, std::string::npos) << range << "\n" << multi.Body.substr(0, 500);
    EXPECT_EQ(multi.Body.substr(at + part.size(), length), site.big.substr(offset, length));
  }

  // 100,000 header lines of 8 KB: 431 once the first 16 KiB are in.
  const std::string line = "X-Flood: " + std::string(8192, 'f') + "\r\n";
  Answer flood = ExchangeWith(port, [&](int S) {
    const std::string start = "GET / HTTP/1.1\r\nHost: x\r\n";
    if (!SendAll(S, start.data(), start.size())) return;
    for (int i = 0; i < 100000; ++i) {
      if (!SendAll(S, line.data(), line.size())) return;
    }
  });
  EXPECT_EQ(flood.Status, 431);

  // A chunked body of 300 MB is counted, not kept: 413 at its end.
  const std::string chunk = "100000\r\n" + std::string(0x100000, 'c') + "\r\n";
  Answer chunked = ExchangeWith(
      port,
      [&](int S) {
        const std::string start =
            "GET / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
        if (!SendAll(S, start.data(), start.size())) return;
        for (int i = 0; i < 300; ++i) {
          if (!SendAll(S, chunk.data(), chunk.size())) return;
        }
        SendAll(S, "0\r\n\r\n", 5);
      },
      "", 20000);
  EXPECT_EQ(chunked.Status, 413);

  const long maxKb = rss.Stop();
  EXPECT_GT(maxKb, 0);
  EXPECT_LT(maxKb, 100 * 1024) << "VmRSS reached " << maxKb << " KiB";
  EXPECT_EQ(server.Stop(), 0);
}

TEST(VekppServeLimits, ConnectionsPerClientAndTheRequestDeadline) {
  TestSite site;
  Server server(site.Path(), {"--quiet", "--max-per-client", "8", "--request-timeout", "1"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  // Eight idle connections from one address; the ninth is closed at once,
  // while another address is answered.
  std::vector<int> idle;
  for (int i = 0; i < 8; ++i) idle.push_back(Connect(port, "127.0.0.7"));
  for (int s : idle) ASSERT_GE(s, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Answer ninth = Exchange(port, Get("/"), "127.0.0.7", 2000);
  EXPECT_EQ(ninth.Status, -1) << ninth.Head;
  EXPECT_EQ(Exchange(port, Get("/"), "127.0.0.8").Status, 200);

  // A client that sends a header line every 300 ms is cut off by the
  // deadline (1 s here), long before its 40 lines are sent.
  const int slow = Connect(port, "127.0.0.9");
  ASSERT_GE(slow, 0);
  const std::string start = "GET / HTTP/1.1\r\nHost: x\r\n";
  SendAll(slow, start.data(), start.size());
  int sent = 0;
  for (; sent < 40; ++sent) {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string h = "X-Slow-" + std::to_string(sent) + ": 1\r\n";
    if (!SendAll(slow, h.data(), h.size())) break;
  }
  EXPECT_LT(sent, 40);
  close(slow);
  // The idle ones are cut off too, which frees the address.
  for (int s : idle) {
    char c;
    timeval tv{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    EXPECT_LE(recv(s, &c, 1, 0), 0);
    close(s);
  }
  EXPECT_EQ(Exchange(port, Get("/"), "127.0.0.7").Status, 200);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(VekppServeSite, ValidatorsChangesAndTheCustom404) {
  TestSite site;
  Server server(site.Path(), {"--quiet"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();

  // A file: ETag and Last-Modified, each answered 304.
  const Answer css = Exchange(port, Get("/style.css"));
  ASSERT_EQ(css.Status, 200);
  const std::string etag = css.Header("ETag"), modified = css.Header("Last-Modified");
  ASSERT_FALSE(etag.empty());
  ASSERT_FALSE(modified.empty());
  EXPECT_EQ(Exchange(port, Get("/style.css", "If-None-Match: " + etag + "\r\n")).Status, 304);
  EXPECT_EQ(Exchange(port, Get("/style.css", "If-None-Match: \"other\", " + etag + "\r\n")).Status,
            304);
  EXPECT_EQ(Exchange(port, Get("/style.css", "If-None-Match: \"other\"\r\n")).Status, 200);
  EXPECT_EQ(Exchange(port, Get("/style.css", "If-Modified-Since: " + modified + "\r\n")).Status,
            304);
  EXPECT_EQ(
      Exchange(port, Get("/style.css", "If-Modified-Since: Thu, 01 Jan 1998 00:00:00 GMT\r\n"))
          .Status,
      200);

  // A page: an ETag of its bytes.
  Answer page = Exchange(port, Get("/"));
  ASSERT_EQ(page.Status, 200);
  EXPECT_NE(page.Body.find("<h1>first</h1>"), std::string::npos) << page.Body;
  const std::string pageTag = page.Header("ETag");
  EXPECT_EQ(Exchange(port, Get("/", "If-None-Match: " + pageTag + "\r\n")).Status, 304);

  // The data file is read again when it changes; so is the template.
  std::ofstream(site.Path() / "_data.json") << R"({"title": "second"})";
  page = Exchange(port, Get("/", "If-None-Match: " + pageTag + "\r\n"));
  EXPECT_EQ(page.Status, 200);
  EXPECT_NE(page.Body.find("<h1>second</h1>"), std::string::npos) << page.Body;
  std::ofstream(site.Path() / "index.html") << "<p>edited <#title#></p>";
  EXPECT_NE(Exchange(port, Get("/")).Body.find("<p>edited second</p>"), std::string::npos);
  // A data file that cannot be parsed: the data read before is used, and
  // the log says so, until it is mended.
  std::ofstream(site.Path() / "_data.json") << R"({"title": )";
  page = Exchange(port, Get("/"));
  EXPECT_EQ(page.Status, 200);
  EXPECT_NE(page.Body.find("<p>edited second</p>"), std::string::npos) << page.Body;
  for (int i = 0; i < 100 && server.Log().find("_data.json") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_NE(server.Log().find("the data read before is used"), std::string::npos) << server.Log();
  std::ofstream(site.Path() / "_data.json") << R"({"title": "third"})";
  EXPECT_NE(Exchange(port, Get("/")).Body.find("<p>edited third</p>"), std::string::npos);
  // Rendered pages are kept while nothing changes: an edit of an included
  // partial, asked for at once, is seen all the same (many times over, so
  // that a kept page that outlives its files would show).
  for (int i = 0; i < 20; ++i) {
    const std::string want = "part " + std::to_string(i);
    std::ofstream(site.Path() / "_part.html") << want;
    if (i == 0) std::ofstream(site.Path() / "index.html") << "<#include file=\"_part.html\"#>";
    EXPECT_EQ(Exchange(port, Get("/")).Body, want);
    EXPECT_EQ(Exchange(port, Get("/")).Body, want);
  }

  // A page in new directories is found at once, and its edits seen.
  EXPECT_EQ(Exchange(port, Get("/new/deeper/page")).Status, 404);
  fs::create_directories(site.Path() / "new" / "deeper");
  std::ofstream(site.Path() / "new" / "deeper" / "page.html") << "new page";
  EXPECT_EQ(Exchange(port, Get("/new/deeper/page")).Body, "new page");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::ofstream(site.Path() / "new" / "deeper" / "page.html") << "new page, edited";
  EXPECT_EQ(Exchange(port, Get("/new/deeper/page")).Body, "new page, edited");

  // The custom 404 page, for a missing page, file or hidden name alike.
  for (const std::string target : {"/missing", "/missing.css", "/_404.html", "/.hidden"}) {
    const Answer a = Exchange(port, Get(target));
    EXPECT_EQ(a.Status, 404) << target;
    EXPECT_NE(a.Body.find("custom missing: third"), std::string::npos) << target << a.Body;
  }
  EXPECT_EQ(server.Stop(), 0);
}

// Templates (the page, its layout, a partial) are found and stamped once
// while the watcher sees no change; every edit, replacement or link put in
// a template's place is still seen by the very next request, whether pages
// are kept or rendered for every request.
TEST(VekppServeSite, TemplateEditsAreSeenByTheNextRequestKeptOrNot) {
  for (const bool keep : {true, false}) {
    SCOPED_TRACE(keep ? "pages kept" : "--no-cache");
    TestSite site;
    const fs::path d = site.Path();
    std::ofstream(d / "_layout.html") << "L0[<#block body#><#/block#>]";
    std::ofstream(d / "_part.html") << "P0";
    std::ofstream(d / "page.html")
        << "<#extends file=\"_layout.html\"#><#block body#>B0 <#include file=\"_part.html\"#>"
           "<#/block#>";
    std::vector<std::string> args{"--quiet"};
    if (!keep) args.push_back("--no-cache");
    Server server(d, args);
    ASSERT_GT(server.Port(), 0) << server.Log();
    const int port = server.Port();
    EXPECT_EQ(Exchange(port, Get("/page")).Body, "L0[B0 P0]");
    std::string layout = "L0", body = "B0", part = "P0";
    for (int i = 1; i <= 12; ++i) {
      const std::string n = std::to_string(i);
      switch (i % 3) {
        case 0:  // written in place
          layout = "L" + n;
          std::ofstream(d / "_layout.html") << layout << "[<#block body#><#/block#>]";
          break;
        case 1:  // replaced by a rename, as editors save
          part = "P" + n;
          std::ofstream(d / "_part.new") << part;
          fs::rename(d / "_part.new", d / "_part.html");
          break;
        case 2:
          body = "B" + n;
          std::ofstream(d / "page.html") << "<#extends file=\"_layout.html\"#><#block body#>"
                                         << body << " <#include file=\"_part.html\"#><#/block#>";
          break;
      }
      const std::string want = layout + "[" + body + " " + part + "]";
      EXPECT_EQ(Exchange(port, Get("/page")).Body, want);
      EXPECT_EQ(Exchange(port, Get("/page")).Body, want);
    }
    // The layout becomes a link out of the site: refused at once, never read.
    TempDir outside;
    std::ofstream(outside.path / "secret.html") << "SECRET<#block body#><#/block#>";
    fs::remove(d / "_layout.html");
    fs::create_symlink(outside.path / "secret.html", d / "_layout.html");
    for (int i = 0; i < 2; ++i) {
      const Answer a = Exchange(port, Get("/page"));
      EXPECT_NE(a.Status, 200);
      EXPECT_EQ(a.Body.find("SECRET"), std::string::npos) << a.Body;
    }
    EXPECT_EQ(server.Stop(), 0);
  }
}

TEST(VekppServeSite, LiveReloadStreamAndScript) {
  TestSite site;
  Server server(site.Path(), {"--live-reload"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  EXPECT_NE(Exchange(port, Get("/")).Body.find("new EventSource(\"/_vekpp/live\")"),
            std::string::npos);
  EXPECT_EQ(Exchange(port, Get("/style.css")).Body.find("EventSource"), std::string::npos);

  // Two followers; a change of a file reaches both.
  int followers[2];
  for (int& s : followers) {
    s = Connect(port);
    ASSERT_GE(s, 0);
    const std::string req = Get("/_vekpp/live");
    SendAll(s, req.data(), req.size());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::ofstream(site.Path() / "style.css") << "body { color: blue; }\n";
  for (int s : followers) {
    std::string got;
    timeval tv{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    char buf[4096];
    ssize_t n;
    while (got.find("event: reload") == std::string::npos &&
           (n = recv(s, buf, sizeof buf, 0)) > 0) {
      got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_NE(got.find("text/event-stream"), std::string::npos) << got;
    EXPECT_NE(got.find("event: reload"), std::string::npos) << got;
  }
  // Stopping ends the streams: the server does not wait for them.
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  for (int s : followers) close(s);
  EXPECT_NE(server.Log().find("vekpp: stopped"), std::string::npos);

  // Off, the page has no script and the stream is not there.
  Server off(site.Path(), {"--no-live-reload"});
  ASSERT_GT(off.Port(), 0);
  EXPECT_EQ(Exchange(off.Port(), Get("/")).Body.find("EventSource"), std::string::npos);
  EXPECT_EQ(Exchange(off.Port(), Get("/_vekpp/live")).Status, 404);
  EXPECT_EQ(off.Stop(), 0);
}

namespace {

// Reads from S for up to Ms milliseconds and returns what came.
std::string ReadFor(int S, int Ms) {
  std::string got;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(Ms);
  char buf[4096];
  while (std::chrono::steady_clock::now() < end) {
    timeval tv{0, 50000};
    setsockopt(S, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const ssize_t n = recv(S, buf, sizeof buf, 0);
    if (n == 0) break;
    if (n > 0) got.append(buf, static_cast<size_t>(n));
  }
  return got;
}

// A follower of the live-reload stream; -1 when it cannot connect.
int Follow(int Port, const std::string& From = "") {
  const int s = Connect(Port, From);
  if (s < 0) return -1;
  const std::string req = Get("/_vekpp/live");
  SendAll(s, req.data(), req.size());
  return s;
}

// Asks for Target until its body holds Want, for up to 5 s.
bool BodyComes(int Port, const std::string& Target, const std::string& Want) {
  for (int i = 0; i < 100; ++i) {
    if (Exchange(Port, Get(Target)).Body.find(Want) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace

TEST(VekppServeSite, TheFolderReplacedUnderTheServerIsServed) {
  TempDir dir;
  const fs::path site = dir.path / "site", fresh = dir.path / "new";
  fs::create_directory(site);
  std::ofstream(site / "index.html") << "old page";
  Server server(site, {"--quiet"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Exchange(port, Get("/")).Body, "old page");
  // `mv site old; mv new site`: the pages of the new folder, and its edits.
  fs::create_directory(fresh);
  std::ofstream(fresh / "index.html") << "new page";
  fs::rename(site, dir.path / "old");
  fs::rename(fresh, site);
  EXPECT_TRUE(BodyComes(port, "/", "new page"));
  std::ofstream(site / "index.html") << "new page, edited";
  EXPECT_TRUE(BodyComes(port, "/", "new page, edited"));
  EXPECT_EQ(server.Stop(), 0);
}

TEST(VekppServeSite, ItsOwnLogAndHiddenFilesReloadNoPage) {
  TestSite site;
  // The server's log is a file of the site it serves.
  const fs::path log = site.Path() / "access.log";
  const int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  ASSERT_GE(logFd, 0);
  const pid_t pid =
      Spawn({"serve", site.Path().string(), "--port", "0", "--live-reload"}, kFixtures, -1, logFd);
  close(logFd);
  ASSERT_GT(pid, 0);
  int port = 0;
  const std::regex serving("on http://127\\.0\\.0\\.1:([0-9]+)/");
  for (int i = 0; i < 250 && port == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::smatch m;
    const std::string text = ReadFile(log);
    if (std::regex_search(text, m, serving)) port = std::stoi(m[1]);
  }
  ASSERT_GT(port, 0) << ReadFile(log);
  const int follower = Follow(port);
  ASSERT_GE(follower, 0);
  EXPECT_NE(ReadFor(follower, 300).find("text/event-stream"), std::string::npos);
  // Requests (each a line of the log) and hidden files: no reload.
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Exchange(port, Get("/")).Status, 200);
  std::ofstream(site.Path() / ".index.html.swp") << "editor";
  fs::create_directory(site.Path() / ".git");
  std::ofstream(site.Path() / ".git" / "index") << "vcs";
  EXPECT_EQ(ReadFor(follower, 600).find("event: reload"), std::string::npos);
  // An edit of the site does reload.
  std::ofstream(site.Path() / "style.css") << "body { color: blue; }\n";
  EXPECT_NE(ReadFor(follower, 2000).find("event: reload"), std::string::npos);
  close(follower);
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid, 10), 0);
}

TEST(VekppServeSite, LiveReloadStreamsTakeAtMostHalfTheConnectionsOfAClient) {
  TestSite site;
  Server server(site.Path(), {"--quiet", "--live-reload", "--max-per-client", "8"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  std::vector<int> followers;
  for (int i = 0; i < 4; ++i) {
    followers.push_back(Follow(port, "127.0.0.5"));
    EXPECT_NE(ReadFor(followers.back(), 200).find("200 OK"), std::string::npos) << i;
  }
  // The fifth stream is refused; pages are still answered.
  const int fifth = Follow(port, "127.0.0.5");
  EXPECT_NE(ReadFor(fifth, 500).find("503"), std::string::npos);
  close(fifth);
  EXPECT_EQ(Exchange(port, Get("/"), "127.0.0.5").Status, 200);
  for (int s : followers) close(s);
  EXPECT_EQ(server.Stop(), 0);
}

TEST(VekppServeSite, DataIsReadAgainOffTheEventThread) {
  TestSite site;
  Server server(site.Path(), {"--quiet"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  ASSERT_NE(Exchange(port, Get("/")).Body.find("<h1>first</h1>"), std::string::npos);
  // The data file becomes a pipe: reading it waits until it is written.
  const fs::path pipe = site.Path() / "data.fifo";
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  fs::rename(pipe, site.Path() / "_data.json");
  // Meanwhile files and pages are answered, pages with the data read before.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Exchange(port, Get("/style.css"), "", 2000).Status, 200);
    const Answer page = Exchange(port, Get("/"), "", 3000);
    EXPECT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("<h1>first</h1>"), std::string::npos) << page.Body;
  }
  // Once written (and a file again, before a later read waits on the pipe
  // once more), the new data is used.
  {
    std::ofstream writer(site.Path() / "_data.json");
    writer << R"({"title": "from the pipe"})";
  }
  std::ofstream(site.Path() / "_data.json.new") << R"({"title": "a file again"})";
  fs::rename(site.Path() / "_data.json.new", site.Path() / "_data.json");
  EXPECT_TRUE(BodyComes(port, "/", "<h1>a file again</h1>"));
  EXPECT_EQ(server.Stop(), 0);
}

// A kept page answered many times is answered again without a look at the
// data file while the watcher sees no change; a data file the watcher
// cannot see change (outside the site, or a link out of it) is looked at
// for every request all the same. The site lies in a folder of its own, so
// that nothing else made beside it tells the watcher of a change.
TEST(VekppServeSite, KeptPagesSeeEveryDataEdit) {
  enum class TWhere { InTheSite, Outside, LinkOutOfTheSite };
  for (const TWhere where : {TWhere::InTheSite, TWhere::Outside, TWhere::LinkOutOfTheSite}) {
    SCOPED_TRACE(static_cast<int>(where));
    TempDir box, outside;
    const fs::path site = box.path / "site";
    fs::create_directory(site);
    std::ofstream(site / "index.html") << "<h1><#title#></h1>";
    fs::path data = site / "_data.json";
    std::vector<std::string> args{"--quiet"};
    if (where != TWhere::InTheSite) {
      data = outside.path / "data.json";
      if (where == TWhere::Outside) {
        args.insert(args.end(), {"--data", data.string()});
      } else {
        fs::create_symlink(data, site / "_data.json");
      }
    }
    std::ofstream(data) << R"({"title": "0"})";
    Server server(site, args);
    ASSERT_GT(server.Port(), 0) << server.Log();
    const int port = server.Port();
    for (int round = 0; round <= 3; ++round) {
      const std::string want = "<h1>" + std::to_string(round) + "</h1>";
      if (round > 0) std::ofstream(data) << R"({"title": ")" << round << R"("})";  // in place
      EXPECT_TRUE(BodyComes(port, "/", want));
      for (int i = 0; i < 3; ++i) {
        EXPECT_NE(Exchange(port, Get("/")).Body.find(want), std::string::npos);
      }
    }
    EXPECT_EQ(server.Stop(), 0);
  }
}

TEST(VekppServeLimits, StopAnswersTheQueueWith503InsteadOfDrainingIt) {
  TestSite site;
  // A page that takes a while to render (about 0.1 s: a million numbers and
  // conditions), asked for by many more clients than there are workers
  // (four).
  std::ofstream(site.Path() / "slow.html")
      << "<#each 1..1000000#><#if @index % 7 == 3#>y<#/if#><#@index#><#/each#>";
  Server server(site.Path(), {"--quiet", "--no-cache"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  constexpr int kClients = 60;
  std::vector<std::thread> clients;
  std::vector<int> status(kClients, 0);
  for (int i = 0; i < kClients; ++i) {
    clients.emplace_back([&, i] {
      status[i] = Exchange(port, Get("/slow"), "127.0.1." + std::to_string(i + 1), 30000).Status;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(server.Stop(SIGTERM), 0);
  for (auto& t : clients) t.join();
  int refused = 0;
  for (int s : status) refused += s == 503;
  EXPECT_GT(refused, 0) << "every queued request was rendered before the server stopped";
}
