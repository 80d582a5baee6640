// vekpp's site units called directly: names printed and compared, the
// watcher of a site, its data read again, the faults its pages show, and
// the followers of live reload.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VekppHarness.h"
#include "base/PathWithin.h"
#include "base/Printable.h"
#include "http/EventStream.h"
#include "site/DirWatcher.h"
#include "site/Site.h"
#include "site/SiteData.h"

namespace {

using vekpp_test::TempDir;
namespace fs = std::filesystem;

TEST(VekppNames, QuotedAndCompared) {
  const struct {
    const char* Name;
    const char* Quoted;
  } names[] = {
      {"site/a.html", "site/a.html"},     {"caf\xc3\xa9.html", "caf\xc3\xa9.html"},
      {"a b.html", "\"a b.html\""},       {"a\x1b[2Jb", "\"a\\x1b[2Jb\""},
      {"new\nline", "\"new\\x0aline\""},  {"q\"uote\\", "\"q\\\"uote\\\\\""},
      {"c1\xc2\x9b", "\"c1\\xc2\\x9b\""}, {"", "\"\""},
  };
  for (const auto& n : names) EXPECT_EQ(VekQuoteName(n.Name), n.Quoted) << n.Name;
  EXPECT_EQ(VekTerminalText("a:\t1\x1b[m\x7f"), "a:\t1\\x1b[m\\x7f");

  const struct {
    const char* Path;
    const char* Dir;
    bool Within;
  } paths[] = {
      {"/s/pub/a", "/s/pub", true},     {"/s/pub", "/s/pub", true}, {"/s/pub", "/s/pub/", true},
      {"/s/public/a", "/s/pub", false}, {"/s/pu", "/s/pub", false}, {"/s", "/s/pub", false},
      {"/t/pub/a", "/s/pub", false},
  };
  for (const auto& p : paths) EXPECT_EQ(VekPathWithin(p.Path, p.Dir), p.Within) << p.Path;
}

// Collects what a watcher reports.
struct Changes {
  std::mutex Mutex;
  std::condition_variable Came;
  std::vector<std::string> Paths;
  void Add(const TDirWatcher::TChanges& C) {
    std::lock_guard<std::mutex> lock(Mutex);
    Paths.insert(Paths.end(), C.begin(), C.end());
    Came.notify_all();
  }
  // Waits up to 3 s for Path among the reported ones.
  bool Seen(const std::string& Path) {
    std::unique_lock<std::mutex> lock(Mutex);
    return Came.wait_for(lock, std::chrono::seconds(3), [&] {
      return std::find(Paths.begin(), Paths.end(), Path) != Paths.end();
    });
  }
};

TEST(VekppDirWatcher, ReportsEveryPathOfABurstAndFollowsAReplacedFolder) {
  TempDir dir;
  const fs::path site = dir.path / "site";
  fs::create_directory(site);
  Changes changes;
  TDirWatcher watcher(site, [&](const TDirWatcher::TChanges& C) { changes.Add(C); });
  std::ofstream(site / "a") << 1;
  std::ofstream(site / "b") << 2;
  EXPECT_TRUE(changes.Seen((site / "a").string()));
  EXPECT_TRUE(changes.Seen((site / "b").string()));
  // The folder replaced: the new one is watched.
  fs::create_directory(dir.path / "new");
  fs::rename(site, dir.path / "old");
  fs::rename(dir.path / "new", site);
  EXPECT_TRUE(changes.Seen(site.string()));
  std::ofstream(site / "c") << 3;
  EXPECT_TRUE(changes.Seen((site / "c").string()));
}

TEST(VekppSiteData, KeepsTheDataReadBeforeUntilTheFileIsMended) {
  TempDir dir;
  const fs::path file = dir.path / "data.json";
  std::ofstream(file) << R"({"v": 1})";
  std::mutex mutex;
  std::vector<std::string> problems;
  std::atomic<int> changed{0};
  TSiteData::TEvents events;
  events.OnProblem = [&](const std::string& P) {
    std::lock_guard<std::mutex> lock(mutex);
    problems.push_back(P);
  };
  events.OnChanged = [&] { ++changed; };
  TSiteData data(file.string(), false, events);
  EXPECT_EQ(data.Get()->at("v"), 1);
  const auto wait = std::chrono::seconds(2);
  // Malformed: the data before, and the problem told once.
  std::ofstream(file) << R"({"v": )";
  bool fresh = false;
  EXPECT_EQ(data.Current(wait, &fresh)->at("v"), 1);
  EXPECT_TRUE(fresh);
  EXPECT_EQ(data.Current(wait)->at("v"), 1);
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("data.json"), std::string::npos) << problems[0];
  }
  // Mended: the new data, and the change told.
  std::ofstream(file) << R"({"v": 2})";
  EXPECT_EQ(data.Current(wait)->at("v"), 2);
  EXPECT_EQ(changed, 1);
}

TEST(VekppEventStream, IdleFollowersAreEndedAndCounted) {
  TEventStream stream;
  int wakes = 0;
  auto a = stream.Subscribe([&] { ++wakes; }, "first", "10.0.0.1");
  auto b = stream.Subscribe([&] { ++wakes; }, "", "10.0.0.2");
  EXPECT_EQ(stream.Count(), 2u);
  EXPECT_EQ(stream.Count("10.0.0.1"), 1u);
  EXPECT_EQ(stream.Count("10.0.0.3"), 0u);
  char buf[64];
  EXPECT_EQ(stream.Take(*b, buf, sizeof buf, [] {}), 0);  // parked
  const auto later = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  // A keep-alive comment is no use; after the time without use both end:
  // the pending bytes first, then the end.
  stream.Publish(": ping\n\n", false);
  stream.Expire(later);
  EXPECT_EQ(wakes, 1);  // b, woken by the comment
  EXPECT_EQ(stream.Take(*a, buf, sizeof buf, [] {}), 13);
  EXPECT_EQ(stream.Take(*a, buf, sizeof buf, [] {}), -1);
  EXPECT_EQ(stream.Take(*b, buf, sizeof buf, [] {}), 8);
  EXPECT_EQ(stream.Take(*b, buf, sizeof buf, [] {}), -1);
  // An event keeps a new follower.
  auto c = stream.Subscribe([] {}, "", "10.0.0.1");
  stream.Publish("event: reload\ndata: x\n\n");
  stream.Expire(std::chrono::steady_clock::now() - std::chrono::seconds(1));
  EXPECT_GT(stream.Take(*c, buf, sizeof buf, [] {}), 0);
  EXPECT_EQ(stream.Take(*c, buf, sizeof buf, [] {}), 0);
}

// The body of the answer to a page whose template is broken, for Client of
// a server bound to loopback or not; Logged gets what the log was told.
std::string FaultPage(bool LoopbackBind, const std::string& Client, std::string& Logged) {
  TempDir dir;
  std::ofstream(dir.path / "index.html") << "<p><#if open#>never closed</p>";
  TVekTemplateRoot root(dir.path);
  TSiteData data("", true);
  data.Get();
  TSiteFaults faults;
  faults.Log = [&](const std::string& D) { Logged = D; };
  faults.ShowOnLoopback = LoopbackBind;
  TSite site(root, data, TVekStdTagsOptions{}, nullptr, nullptr, faults);
  THttpRequest request;
  request.Method = "GET";
  request.Target = "/";
  request.Client = Client;
  THttpReply reply;
  if (!site.Quick(request, reply)) site.Slow(request, reply);
  EXPECT_EQ(reply.Status, 500);
  return reply.Body;
}

TEST(VekppSiteFaults, DetailOnlyForThisMachineAndAlwaysInTheLog) {
  const struct {
    bool LoopbackBind;
    const char* Client;
    bool Shown;
  } cases[] = {
      {true, "127.0.0.1", true},  {true, "::1", true},         {true, "::ffff:127.0.0.1", true},
      {true, "192.0.2.7", false}, {false, "127.0.0.1", false}, {false, "192.0.2.7", false},
  };
  for (const auto& c : cases) {
    std::string logged;
    const std::string page = FaultPage(c.LoopbackBind, c.Client, logged);
    EXPECT_EQ(page.find("index.html") != std::string::npos, c.Shown) << c.Client << "\n" << page;
    EXPECT_NE(logged.find("index.html"), std::string::npos) << logged;
  }
}

}  // namespace
