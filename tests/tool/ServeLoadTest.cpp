// vekpp serve under attack on loopback: 1,000 idle and 200 slow-header
// connections held for 30 s while normal requests are each answered within
// 1 s; a 500 MB file sent four times at once without the server growing.
// Labelled serve-load: about a minute in all.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>

#include "VekppHarness.h"

using namespace vekpp_test;

namespace {

// Each connection takes a descriptor: as many as the hard limit allows.
void RaiseDescriptorLimit() {
  rlimit lim{};
  getrlimit(RLIMIT_NOFILE, &lim);
  lim.rlim_cur = lim.rlim_max;
  setrlimit(RLIMIT_NOFILE, &lim);
}

std::string Get(const std::string& Target) {
  return "GET " + Target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n";
}

}  // namespace

TEST(VekppServeLoad, IdleAndSlowClientsDelayNoOne) {
  RaiseDescriptorLimit();
  TempDir site;
  std::ofstream(site.path / "index.html") << "<html><body><#title#></body></html>";
  std::ofstream(site.path / "_data.json") << R"({"title": "under load"})";
  std::ofstream(site.path / "style.css") << "body { color: red; }\n";
  Server server(site.path, {"--quiet", "--no-live-reload"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const int port = server.Port();
  RssWatch rss(server.Pid());

  // The attackers: 1,000 idle connections from 20 addresses and 200 that
  // send a header line every 2 s from 5 others (within the limit per
  // address). A connection the server closes is opened again at once.
  struct Attacker {
    std::string from;
    bool slow;
    int fd = -1;
    int lines = 0;
  };
  std::vector<Attacker> attackers;
  for (int i = 0; i < 1000; ++i)
    attackers.push_back({"127.0.1." + std::to_string(1 + i / 50), false});
  for (int i = 0; i < 200; ++i)
    attackers.push_back({"127.0.2." + std::to_string(1 + i / 40), true});
  std::atomic<bool> stop{false};
  std::atomic<long> reopened{0};
  auto open = [&](Attacker& A) {
    A.fd = Connect(port, A.from);
    A.lines = 0;
    if (A.fd >= 0 && A.slow) SendAll(A.fd, "GET / HTTP/1.1\r\n", 16);
  };
  for (auto& a : attackers) open(a);
  size_t connected = 0;
  for (const auto& a : attackers) connected += a.fd >= 0;
  EXPECT_EQ(connected, attackers.size());
  std::thread attack([&] {
    auto nextLine = std::chrono::steady_clock::now();
    std::vector<pollfd> fds(attackers.size());
    while (!stop) {
      for (size_t i = 0; i < attackers.size(); ++i) fds[i] = {attackers[i].fd, POLLIN, 0};
      poll(fds.data(), fds.size(), 100);
      for (size_t i = 0; i < attackers.size(); ++i) {
        if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
          // Whatever the server says, the attacker stays.
          close(attackers[i].fd);
          open(attackers[i]);
          ++reopened;
        }
      }
      if (std::chrono::steady_clock::now() >= nextLine) {
        nextLine += std::chrono::seconds(2);
        for (auto& a : attackers) {
          if (!a.slow || a.fd < 0) continue;
          const std::string h = "X-Slow-" + std::to_string(a.lines++) + ": 1\r\n";
          SendAll(a.fd, h.data(), h.size());
        }
      }
    }
    for (auto& a : attackers) close(a.fd);
  });

  // Normal requests for 30 s, one after the other: each must be answered
  // within 1 s (a receive timeout of 1 s counts as a failure).
  long answered = 0, failed = 0;
  std::string firstFailure;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  for (int i = 0; std::chrono::steady_clock::now() < end; ++i) {
    const std::string target = i % 2 ? "/style.css" : "/";
    const auto t0 = std::chrono::steady_clock::now();
    const Answer a = Exchange(port, Get(target), "127.0.0.1", 1000);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    if (a.Status == 200 && ms <= 1000) {
      ++answered;
    } else {
      ++failed;
      if (firstFailure.empty())
        firstFailure =
            target + ": status " + std::to_string(a.Status) + " in " + std::to_string(ms) + " ms";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  stop = true;
  attack.join();
  const long maxKb = rss.Stop();
  EXPECT_EQ(failed, 0) << firstFailure;
  EXPECT_GT(answered, 100);
  EXPECT_LT(maxKb, 100 * 1024) << "VmRSS reached " << maxKb << " KiB";
  // The deadline closed the slow ones, which came back.
  EXPECT_GT(reopened.load(), 200);
  EXPECT_EQ(server.Stop(), 0);
  std::printf("answered %ld normal requests; attackers reopened %ld times; VmRSS max %ld KiB\n",
              answered, reopened.load(), maxKb);
}

TEST(VekppServeLoad, A500MBFileIsStreamedNotHeld) {
  TempDir site;
  constexpr uint64_t kSize = 500ull * 1000 * 1000;
  {
    const int fd = ::open((site.path / "big.bin").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kSize)), 0);  // sparse: no disk used
    close(fd);
  }
  Server server(site.path, {"--quiet", "--no-live-reload"});
  ASSERT_GT(server.Port(), 0) << server.Log();
  const long before = RssKb(server.Pid());
  RssWatch rss(server.Pid());
  // Four downloads at once, each read to its end and counted.
  std::vector<uint64_t> got(4, 0);
  std::vector<std::thread> clients;
  for (size_t c = 0; c < got.size(); ++c) {
    clients.emplace_back([&, c] {
      const int s = Connect(server.Port());
      const std::string req = Get("/big.bin");
      SendAll(s, req.data(), req.size());
      std::vector<char> buf(1 << 16);
      ssize_t n;
      uint64_t total = 0;
      while ((n = recv(s, buf.data(), buf.size(), 0)) > 0) total += static_cast<uint64_t>(n);
      close(s);
      got[c] = total;
    });
  }
  for (auto& t : clients) t.join();
  const long maxKb = rss.Stop();
  for (const uint64_t total : got) EXPECT_GT(total, kSize);  // the head, then every byte
  EXPECT_LT(maxKb - before, 16 * 1024) << "from " << before << " KiB to " << maxKb << " KiB";
  EXPECT_EQ(server.Stop(), 0);
  std::printf("VmRSS %ld KiB before, at most %ld KiB during four downloads of 500 MB\n", before,
              maxKb);
}
