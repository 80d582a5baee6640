// The data files of vekpp: what each format gives, member order and
// repeated keys, the limits on nesting, size and YAML aliases with their
// places, and objects large enough that a loader quadratic in their
// members would not finish within the test's time.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "data/DataFiles.h"

namespace {

namespace fs = std::filesystem;

std::string Dump(const TVekData& D) {
  return D.dump();
}

std::string Error(const std::string& Text, const std::string& Name) {
  try {
    ParseDataText(Text, Name, fs::path(Name).extension().string());
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "(no error)";
}

std::string Repeat(const std::string& S, size_t N) {
  std::string out;
  out.reserve(S.size() * N);
  for (size_t i = 0; i < N; ++i) out += S;
  return out;
}

TEST(DataFiles, EachFormatGivesTheSameDataInTheOrderWritten) {
  const std::string want = R"({"z":1,"a":{"y":true,"b":[1,2.5,"s"]},"m":null,"d":"2024-03-05"})";
  const struct {
    const char* ext;
    std::string text;
  } cases[] = {
      {".json", R"({"z": 1, "a": {"y": true, "b": [1, 2.5, "s"]}, "m": null, "d": "2024-03-05"})"},
      {".yaml", "z: 1\na:\n  y: true\n  b: [1, 2.5, s]\nm: ~\nd: \"2024-03-05\"\n"},
      {".yml", "{z: 1, a: {y: yes_not_bool, b: [1, 2.5, s]}, m: null, d: '2024-03-05'}"},
      {".toml", "z = 1\nm_absent = 0\n[a]\ny = true\nb = [1, 2.5, \"s\"]\n"},
  };
  EXPECT_EQ(Dump(ParseDataText(cases[0].text, "a.json", ".json")), want);
  EXPECT_EQ(Dump(ParseDataText(cases[1].text, "a.yaml", ".yaml")), want);
  EXPECT_EQ(Dump(ParseDataText(cases[2].text, "a.yml", ".yml")),
            R"({"z":1,"a":{"y":"yes_not_bool","b":[1,2.5,"s"]},"m":null,"d":"2024-03-05"})");
  // TOML: tables after the keys of the root, each in the order written;
  // dates as their text.
  EXPECT_EQ(Dump(ParseDataText("z = 1\nd = 2024-03-05\nt = 07:32:00\n[a]\ny = true\n"
                               "b = [1, 2.5, \"s\"]\n[c.e]\nx = 1979-05-27T07:32:00Z\n",
                               "a.toml", ".toml")),
            R"({"z":1,"d":"2024-03-05","t":"07:32:00","a":{"y":true,"b":[1,2.5,"s"]},)"
            R"("c":{"e":{"x":"1979-05-27T07:32:00Z"}}})");
  // YAML: an empty document is null; only the first document is read.
  EXPECT_EQ(Dump(ParseDataText("", "e.yaml", ".yaml")), "null");
  EXPECT_EQ(Dump(ParseDataText("a: 1\n---\nb: 2\n", "e.yaml", ".yaml")), R"({"a":1})");
}

TEST(DataFiles, RepeatedKeysKeepTheirFirstPlaceAndTakeTheLastValue) {
  EXPECT_EQ(Dump(ParseDataText(R"({"a": 1, "b": {"x": 1}, "a": 3, "b": [2]})", "r.json", ".json")),
            R"({"a":3,"b":[2]})");
  EXPECT_EQ(Dump(ParseDataText("a: 1\nb: 2\na: {c: 3}\n", "r.yaml", ".yaml")),
            R"({"a":{"c":3},"b":2})");
  // TOML refuses them, as TOML does.
  EXPECT_NE(Error("a = 1\nb = 2\na = 3\n", "r.toml").find("r.toml:3:"), std::string::npos)
      << Error("a = 1\nb = 2\na = 3\n", "r.toml");
}

TEST(DataFiles, YamlAliasesCopyTheirAnchorWithinABudget) {
  EXPECT_EQ(Dump(ParseDataText("a: &x {k: [1, 2]}\nb: *x\n&n key: 1\n*n : 2\n", "a.yaml", ".yaml")),
            R"({"a":{"k":[1,2]},"b":{"k":[1,2]},"key":2})");
  const struct {
    std::string text, error;
  } cases[] = {
      {"a: &a [1,1,1,1,1,1,1,1,1]\nb: &b [*a,*a,*a,*a,*a,*a,*a,*a,*a]\n"
       "c: &c [*b,*b,*b,*b,*b,*b,*b,*b,*b]\nd: &d [*c,*c,*c,*c,*c,*c,*c,*c,*c]\n"
       "e: [*d,*d,*d,*d,*d,*d,*d,*d,*d]\n",
       "b.yaml:4:"},
      {"a: &a [1, *a]\n", "b.yaml:1:11: an alias of a node that holds it"},
      {"? [1]\n: 2\n", "b.yaml:1:3: a key that is not a plain value"},
      {"a: &l [1]\n*l : 2\n", "b.yaml:2:1: a key that is not a plain value"},
      {"a: [\n", "b.yaml: yaml-cpp: error at line"},
  };
  for (const auto& c : cases)
    EXPECT_NE(Error(c.text, "b.yaml").find(c.error), std::string::npos)
        << c.text << " -> " << Error(c.text, "b.yaml");
}

TEST(DataFiles, NestingIsRefusedWithItsPlace) {
  const std::string deep = "lists and objects nested deeper than 512";
  const struct {
    std::string name, text, error;
  } cases[] = {
      {"d.json", std::string(513, '[') + std::string(513, ']'), "d.json:1:513: " + deep},
      {"d.json", " {\"a\":" + Repeat("[", 600), "d.json:1:518: " + deep},
      // YAML: flow brackets counted before the parser runs, where plain
      // text with a quote or a hash hides none of them.
      {"d.yaml", std::string(100000, '['), "d.yaml:1:513: " + deep},
      {"d.yaml", "a: [don't, a#b, " + Repeat("{a: ", 2000), "d.yaml:1:2061: " + deep},
      {"d.yaml", "[a- 'b, " + Repeat("[", 600), "d.yaml:1:520: " + deep},
      // Block nesting: refused by the parser's own bound, with its place.
      {"d.yaml", Repeat("- ", 100000) + "x\n",
       "d.yaml:1:1000: lists and objects nested deeper than the YAML parser allows"},
      {"d.yaml",
       "a:\n" +
           [] {
             std::string s;
             for (int i = 1; i < 600; ++i) s += std::string(i, ' ') + "k:\n";
             return s;
           }(),
       "d.yaml:499:501: lists and objects nested deeper than the YAML parser allows"},
      // TOML: the parts of table headers and dotted keys count too.
      {"d.toml", "a = " + std::string(2000, '[') + std::string(2000, ']'), "d.toml:1:516: " + deep},
      {"d.toml", "a = " + Repeat("{b = ", 2000), "d.toml:1:"},
      {"d.toml", "[" + Repeat("a.", 32767) + "a]\n", "d.toml:1:1023: " + deep},
      {"d.toml", "[x]\n" + Repeat(Repeat("k.", 600) + "v = 1\n", 2000), "d.toml:2:1022: " + deep},
      {"d.toml", "[[" + Repeat("\"q.\".", 600) + "a]]\n", "d.toml:1:2557: " + deep},
      {"d.toml", "a = [\"[[\", '''\n" + Repeat("{", 600) + "''', " + Repeat("{b.c = [", 200),
       "d.toml:2:1966: " + deep},
  };
  for (const auto& c : cases) {
    const std::string e = Error(c.text, c.name);
    EXPECT_NE(e.find(c.error), std::string::npos) << c.text.substr(0, 60) << " -> " << e;
  }
  // Up to the limit is data.
  EXPECT_NO_THROW(ParseDataText(std::string(512, '[') + std::string(512, ']'), "ok.json", ".json"));
  EXPECT_NO_THROW(ParseDataText("[" + Repeat("a.", 500) + "a]\nv = 1\n", "ok.toml", ".toml"));
}

TEST(DataFiles, SizeIsCappedPerFile) {
  std::string big(kMaxDataFileBytes + 1, ' ');
  big[0] = '1';
  EXPECT_EQ(Error(big, "big.json"), "big.json: larger than the limit of 64 MiB for a data file");

  // Named by the process: test runs side by side must not share the file.
  const fs::path path =
      fs::temp_directory_path() / ("vek-data-size-test-" + std::to_string(getpid()) + ".json");
  std::ofstream(path, std::ios::binary) << big;
  try {
    LoadData({path.string()}, {});
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              path.string() + ": larger than the limit of 64 MiB for a data file");
  }
  fs::remove(path);
}

// Sizes at which the loaders quadratic in an object's members took from
// tens of seconds to minutes; linear, each takes a fraction of a second.
TEST(DataFiles, LargeObjectsAndDeepKeysLoadWhole) {
  const size_t n = 100000;
  std::string json = "{", yaml, toml;
  for (size_t i = 0; i < n; ++i) {
    const std::string k = "k" + std::to_string(i);
    json += (i ? ",\"" : "\"") + k + "\":" + std::to_string(i);
    yaml += k + ": " + std::to_string(i) + "\n";
    toml += k + " = " + std::to_string(i) + "\n";
  }
  json += "}";
  for (const auto& [text, ext] : {std::pair{json, ".json"}, {yaml, ".yaml"}, {toml, ".toml"}}) {
    const TVekData d = ParseDataText(text, "big", ext);
    ASSERT_EQ(d.size(), n) << ext;
    EXPECT_EQ(d.begin().key(), "k0") << ext;
    EXPECT_EQ(d.get_ref<const TVekData::object_t&>().back().first, "k" + std::to_string(n - 1))
        << ext;
    EXPECT_EQ(d.at("k77777"), 77777) << ext;
  }

  // Two large files merged: the second's members found in the first.
  const fs::path a = fs::temp_directory_path() / "vek-data-merge-a.json";
  const fs::path b = fs::temp_directory_path() / "vek-data-merge-b.yaml";
  std::ofstream(a, std::ios::binary) << json;
  std::ofstream(b, std::ios::binary) << yaml << "extra: 1\n";
  const auto merged = LoadData({a.string(), b.string()}, {});
  EXPECT_EQ(merged->size(), n + 1);
  EXPECT_EQ(merged->get_ref<const TVekData::object_t&>().back().first, "extra");
  fs::remove(a);
  fs::remove(b);

  // 2,000 TOML dotted keys 500 deep, under a table header 10 deep.
  std::string dotted = "[" + Repeat("t.", 9) + "t]\n";
  for (int i = 0; i < 2000; ++i)
    dotted += "x" + std::to_string(i) + "." + Repeat("k.", 488) + "v = 1\n";
  const TVekData d = ParseDataText(dotted, "deep.toml", ".toml");
  const TVekData* t = &d;
  for (int i = 0; i < 10; ++i) t = &t->at("t");
  ASSERT_EQ(t->size(), 2000u);
  EXPECT_EQ(t->get_ref<const TVekData::object_t&>().back().first, "x1999");
}

}  // namespace
