// Many threads render through one TVekEngine while another rewrites the
// templates on disk (each version put in place by a rename, as an editor or
// a deploy does): every page is one whole version of the page and of the
// part it includes, and the shared cache parses each version again. Run
// under ThreadSanitizer by CI.
#include <gtest/gtest.h>
#include <stdio.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "../tool/TempDir.h"
#include "VekEngine.h"

namespace {

// Writes Text to Dir/Name through a temporary file and a rename.
void Replace(const std::filesystem::path& Dir, const std::string& Name, const std::string& Text) {
  const std::filesystem::path tmp = Dir / (".tmp-" + Name);
  std::ofstream(tmp) << Text;
  std::filesystem::rename(tmp, Dir / Name);
}

TEST(EngineThreads, RenderWhileTemplatesChangeOnDisk) {
  TTempDir dir("vek-engine-threads-");
  Replace(dir.Path(), "page.html", "P0 <#include file=\"part.html\"#> <#name shout#>");
  Replace(dir.Path(), "part.html", "Q0 <#each items#><#.#>,<#/each#> <#stamp#>");
  TVekEngine engine{TVekTemplateRoot(dir.Path())};
  std::atomic<long> calls{0};
  engine.AddModifier("shout", [&](const TVekData& V, const std::vector<std::string>&) {
    calls.fetch_add(1, std::memory_order_relaxed);
    return TVekData(V.get<std::string>() + "!");
  });
  engine.AddTag("stamp", [](const TVekTagCall&) { return TVekTagAnswer{"<s>", false}; });
  const TVekData data = TVekData::parse(R"({"name": "ann", "items": [1, 2, 3]})");

  const int kVersions = 40, kThreads = 6;
  std::atomic<bool> done{false};
  std::atomic<long> renders{0};
  std::vector<std::string> faults(kThreads);
  std::vector<std::thread> readers;
  for (int t = 0; t < kThreads; ++t) {
    readers.emplace_back([&, t] {
      while (!done.load()) {
        std::string page;
        try {
          page = t % 2 ? engine.Render("page.html", data) : [&] {
            std::string s;
            engine.Render("page.html", data, [&](const char* B, size_t N) { s.append(B, N); });
            return s;
          }();
        } catch (const std::exception& e) {
          faults[static_cast<size_t>(t)] = e.what();
          return;
        }
        // "P<i> Q<j> 1,2,3, &lt;s&gt; ann!" for some versions i and j.
        const bool ok = page.size() > 4 && page[0] == 'P' && page.find(" Q") != std::string::npos &&
                        page.find(" 1,2,3, &lt;s&gt; ann!") != std::string::npos;
        if (!ok) {
          faults[static_cast<size_t>(t)] = "torn page: " + page;
          return;
        }
        renders.fetch_add(1);
      }
    });
  }
  for (int v = 1; v <= kVersions; ++v) {
    Replace(dir.Path(), "page.html",
            "P" + std::to_string(v) + " <#include file=\"part.html\"#> <#name shout#>");
    Replace(dir.Path(), "part.html",
            "Q" + std::to_string(v) + " <#each items#><#.#>,<#/each#> <#stamp#>");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  done = true;
  for (auto& r : readers) r.join();
  for (const auto& f : faults) EXPECT_EQ(f, "");
  EXPECT_GT(renders.load(), 0);
  EXPECT_EQ(calls.load(), renders.load());
  // The last version is what a render now gives.
  EXPECT_EQ(engine.Render("page.html", data), "P" + std::to_string(kVersions) + " Q" +
                                                  std::to_string(kVersions) +
                                                  " 1,2,3, &lt;s&gt; ann!");
}

}  // namespace
