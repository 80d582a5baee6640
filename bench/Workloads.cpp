#include "Workloads.h"

#include <cstdint>

namespace bench {
namespace {

// splitmix64: a small, fixed generator, so every run builds the same bytes.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : FState(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (FState += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }

 private:
  std::uint64_t FState;
};

const char* const kWords[] = {"lorem",  "ipsum", "dolor", "sit",   "amet",  "page",    "table",
                              "value",  "order", "item",  "price", "world", "quick",   "brown",
                              "fox",    "jumps", "over",  "lazy",  "dog",   "content", "home",
                              "search", "about", "news",  "cart",  "user",  "account", "help"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof *kWords;

// One piece of filler text: a word followed by a blank, or an element of
// markup. Filler holds no '#', '{', '}' or NUL, so it never forms a tag of
// any engine; markup is the only place where '<' and '>' occur.
struct Piece {
  std::string text;
  bool markup;
};

Piece NextPiece(Rng& rng) {
  const std::size_t r = rng.Below(100);
  if (r < 55)
    return {std::string(kWords[rng.Below(kWordCount)]) + (rng.Below(8) ? " " : "\n"), false};
  switch (r % 9) {
    case 0:
      return {"<p>", true};
    case 1:
      return {"</p>", true};
    case 2:
      return {"<div class=\"c" + std::to_string(rng.Below(40)) + "\">", true};
    case 3:
      return {"</div>", true};
    case 4:
      return {"<a href=\"/item/" + std::to_string(rng.Below(1000)) + "\">", true};
    case 5:
      return {"</a>", true};
    case 6:
      return {"<br/>", true};
    case 7:
      return {"<span id=s" + std::to_string(rng.Below(100)) + ">", true};
    default:
      return {"</span>", true};
  }
}

// Builds a workload's texts side by side.
struct Builder {
  Workload& w;
  bool templateOnly = false;
  // Markup of the filler becomes tags of the producer (one-byte delimiters
  // "<" and ">"): it vanishes from the producer's output.
  bool markupIsTag = false;

  void Literal(const std::string& s) {
    w.vek += s;
    if (templateOnly) return;
    w.ctemplate += s;
    w.mustache += s;
    w.expected += s;
  }
  // About `bytes` bytes of filler (at most one piece more).
  void Filler(Rng& rng, std::size_t bytes) {
    for (std::size_t added = 0; added < bytes;) {
      const Piece p = NextPiece(rng);
      added += p.text.size();
      if (markupIsTag && p.markup) {
        w.vek += p.text;
        ++w.tags;
      } else {
        Literal(p.text);
      }
    }
  }
  void Variable(const std::string& name) {
    w.vek += w.beg + name + w.end;
    ++w.tags;
    if (templateOnly) return;
    w.ctemplate += "{{" + name + "}}";
    w.mustache += "{{{" + name + "}}}";
    w.expected += w.values.at(name);
  }
};

std::string RandomValue(Rng& rng) {
  std::string v(6 + rng.Below(5), 'a');
  for (char& c : v) c = static_cast<char>('a' + rng.Below(26));
  return v;
}

// The names v0..v63 with values of 6 to 10 bytes.
void AddLookupValues(Workload& w, Rng& rng) {
  for (int i = 0; i < 64; ++i) w.values["v" + std::to_string(i)] = RandomValue(rng);
}

// A tag about every `spacing` bytes: the gaps vary between half and one and
// a half times the spacing.
template <class AddTag>
void Spread(Builder& b, Rng& rng, std::size_t size, std::size_t spacing, std::size_t tagLen,
            AddTag addTag) {
  while (b.w.vek.size() < size) {
    const std::size_t gap = spacing / 2 + rng.Below(spacing);
    // A piece is about 6 bytes: aim a little short so that gaps average out.
    b.Filler(rng, gap > tagLen + 3 ? gap - tagLen - 3 : 1);
    addTag();
  }
}

Workload Lookup(const std::string& name, std::size_t size, std::size_t spacing, bool templateOnly) {
  Workload w;
  w.name = name;
  Rng rng(0x5EED0001);
  AddLookupValues(w, rng);
  if (templateOnly) {
    w.vek.reserve(size + 64);
  } else {
    for (std::string* s : {&w.vek, &w.ctemplate, &w.mustache, &w.expected})
      s->reserve(size * 5 / 4);
  }
  Builder b{w, templateOnly};
  Spread(b, rng, size, spacing, 7, [&] { b.Variable("v" + std::to_string(rng.Below(64))); });
  return w;
}

}  // namespace

Workload MakeLookup(const std::string& name, std::size_t size, std::size_t spacing) {
  return Lookup(name, size, spacing, false);
}

Workload MakeDenseTemplateOnly(std::size_t size) {
  return Lookup("W2", size, 32, true);
}

Workload MakeImages(std::size_t size) {
  Workload w;
  w.name = "W3";
  w.handler = HandlerKind::Image;
  Rng rng(0x5EED0003);
  for (int k = 0; k < 64; ++k) {
    const std::string id = std::to_string(k);
    w.values["s" + id] = "pic " + id + ".png";
    w.values["w" + id] = std::to_string(100 + k);
    w.values["h" + id] = std::to_string(50 + k);
  }
  Builder b{w};
  Spread(b, rng, size, 100, 36, [&] {
    const std::string k = std::to_string(rng.Below(64));
    const std::string& src = w.values.at("s" + k);
    const std::string& wd = w.values.at("w" + k);
    const std::string& ht = w.values.at("h" + k);
    w.vek += "<#img src=\"" + src + "\" w=" + wd + " h=" + ht + "#>";
    ++w.tags;
    w.ctemplate +=
        "<img src=\"{{s" + k + "}}\" width=\"{{w" + k + "}}\" height=\"{{h" + k + "}}\">";
    w.mustache +=
        "<img src=\"{{{s" + k + "}}}\" width=\"{{{w" + k + "}}}\" height=\"{{{h" + k + "}}}\">";
    w.expected += "<img src=\"" + src + "\" width=\"" + wd + "\" height=\"" + ht + "\">";
  });
  return w;
}

Workload MakeLoop(std::size_t rows) {
  Workload w;
  w.name = "W4";
  w.handler = HandlerKind::Rows;
  Rng rng(0x5EED0004);
  const std::string head = "<table>\n", tail = "</table>\n";
  w.vek = head + "<#rows#><tr><td><#id#></td><td><#name#></td><td><#price#></td></tr>\n<#/rows#>" +
          tail;
  w.ctemplate = head +
                "{{#rows}}<tr><td>{{id}}</td><td>{{name}}</td><td>{{price}}</td></tr>\n{{/rows}}" +
                tail;
  w.mustache =
      head +
      "{{#rows}}<tr><td>{{{id}}}</td><td>{{{name}}}</td><td>{{{price}}}</td></tr>\n{{/rows}}" +
      tail;
  w.expected = head;
  for (std::size_t i = 0; i < rows; ++i) {
    Row r{std::to_string(i + 1),
          std::string(kWords[rng.Below(kWordCount)]) + " " + kWords[rng.Below(kWordCount)],
          std::to_string(1 + rng.Below(999)) + "." + std::to_string(10 + rng.Below(90))};
    w.expected += "<tr><td>" + r.id + "</td><td>" + r.name + "</td><td>" + r.price + "</td></tr>\n";
    w.rows.push_back(std::move(r));
  }
  w.expected += tail;
  w.tags = 1 + 3 * rows;
  return w;
}

Workload MakeUnclosedPairs(std::size_t size) {
  Workload w;
  w.name = "W5a";
  w.handler = HandlerKind::OpenPair;
  Rng rng(0x5EED0005);
  w.values["loop"] = "looptext";
  Builder b{w};
  Spread(b, rng, size, 32, 8, [&] { b.Variable("loop"); });
  return w;
}

Workload MakeUnclosedDelimiters(std::size_t size) {
  Workload w;
  w.name = "W5b";
  Rng rng(0x5EED0006);
  Builder b{w};
  b.Filler(rng, 20);
  const std::string before = w.vek;  // the output ends before the first opening delimiter
  while (w.vek.size() < size) {
    w.vek += "<#";
    b.Filler(rng, 30);
  }
  w.expected = before;
  w.ctemplate.clear();
  w.mustache.clear();
  return w;
}

Workload MakeOneByteDelimiters(std::size_t size) {
  Workload w;
  w.name = "W5c";
  w.beg = "<";
  w.end = ">";
  Rng rng(0x5EED0007);
  AddLookupValues(w, rng);
  Builder b{w};
  b.markupIsTag = true;
  Spread(b, rng, size, 32, 5, [&] { b.Variable("v" + std::to_string(rng.Below(64))); });
  return w;
}

Workload MakeHugeTag(std::size_t size) {
  Workload w;
  w.name = "W5d";
  w.handler = HandlerKind::Count;
  Rng rng(0x5EED0008);
  w.vek = "<p><#big";
  std::size_t params = 0;
  while (w.vek.size() < size) {
    w.vek += ' ';
    w.vek += kWords[rng.Below(kWordCount)];
    if (rng.Below(3) == 0) w.vek += "=" + std::to_string(rng.Below(1000));
    ++params;
  }
  w.vek += "#></p>";
  w.expected = "<p>" + std::to_string(params) + "</p>";
  w.tags = 1;
  return w;
}

Workload MakeDistinctPairs(std::size_t pairs) {
  Workload w;
  w.name = "W5e";
  w.handler = HandlerKind::Pairs;
  w.vek = "<#never#>";
  for (std::size_t i = 0; i < pairs; ++i) {
    const std::string n = "a" + std::to_string(i);
    w.vek += "<#" + n + "#>b<#/" + n + "#>";
  }
  w.tags = 1 + pairs;  // the closing tags reach no handler
  return w;            // every pair vanishes: the output is empty
}

Workload MakeUnclosedRows(std::size_t size) {
  Workload w;
  w.name = "W5f";
  w.handler = HandlerKind::OpenPair;
  w.values["row"] = "";
  while (w.vek.size() < size) {
    w.vek += "<li><#row#>cell</li>";
    w.expected += "<li>cell</li>";
    ++w.tags;
  }
  return w;
}

}  // namespace bench
