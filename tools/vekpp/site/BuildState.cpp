// The build's state file: a flat binary record (counts before their items,
// a checksum at the end), written and read without recursion, every count
// and length checked against what is left of the file.
#include "site/BuildState.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "site/BuildGraph.h"
#include "site/PageRead.h"

namespace {

// The first bytes of every state file, then the format's version.
constexpr char kMagic[] = "vekpp build state\n";
constexpr uint32_t kFormat = 1;

// The value kinds of a page's data as written.
enum : unsigned char {
  kNull,
  kFalse,
  kTrue,
  kInteger,
  kUnsigned,
  kFloat,
  kString,
  kBinary,
  kArray,
  kObject
};

// A checksum of bytes taken eight at a time, in pieces (a state written as
// it is made): a file cut short or changed by chance is told from a whole
// one.
class TChecksum {
 public:
  // Size a multiple of 8 but for the last piece.
  void Add(const char* Data, size_t Size) {
    size_t i = 0;
    for (; i + 8 <= Size; i += 8) {
      uint64_t w;
      std::memcpy(&w, Data + i, 8);
      FHash = (FHash ^ w) * 0x100000001b3ULL;
      FHash ^= FHash >> 29;
    }
    for (; i < Size; ++i) FHash = (FHash ^ static_cast<unsigned char>(Data[i])) * 0x100000001b3ULL;
    FSize += Size;
  }
  uint64_t Sum() const {
    uint64_t h = FHash ^ FSize;
    h *= 0xbf58476d1ce4e5b9ULL;
    return h ^ (h >> 32);
  }

 private:
  uint64_t FHash = 0x6a09e667f3bcc909ULL;
  uint64_t FSize = 0;
};

uint64_t Checksum(const char* Data, size_t Size) {
  TChecksum c;
  c.Add(Data, Size);
  return c.Sum();
}

// The state's bytes, kept in a string, or with a Sink handed to it a
// megabyte at a time (with the checksum made as they go), so that a state
// of tens of megabytes is never held whole.
class TWriter {
 public:
  TWriter() = default;
  explicit TWriter(const std::function<void(const char*, size_t)>& Sink) : FSink(&Sink) {}
  void U8(unsigned char V) {
    FOut.push_back(static_cast<char>(V));
    Grew();
  }
  void U64(uint64_t V) {
    char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<char>(V >> (8 * i));
    FOut.append(b, 8);
    Grew();
  }
  void Reserve(size_t N) {
    if (!FSink) FOut.reserve(N);
  }
  void Text(const std::string& S) { Bytes(S.data(), S.size()); }
  void Raw(const std::string& S) {
    FOut += S;
    Grew();
  }
  void Bytes(const void* Data, size_t Size) {
    U64(Size);
    FOut.append(static_cast<const char*>(Data), Size);
    Grew();
  }
  void Stamp(const TVekFileStamp& S) {
    U64(S.Device);
    U64(S.Inode);
    U64(S.Size);
    U64(static_cast<uint64_t>(S.ModifiedNs));
  }
  // Value, depth first with a stack of open containers.
  void Data(const TVekData& Value) {
    struct TOpen {
      const TVekData* Value;
      TVekData::const_iterator Next;
    };
    std::vector<TOpen> open;
    const TVekData* v = &Value;
    for (;;) {
      if (v) {
        switch (v->type()) {
          case TVekData::value_t::object:
          case TVekData::value_t::array:
            U8(v->is_object() ? kObject : kArray);
            U64(v->size());
            if (open.size() >= kMaxBuildStateDepth)
              throw std::length_error("a value nested too deep");
            open.push_back({v, v->cbegin()});
            break;
          case TVekData::value_t::string:
            U8(kString);
            Text(v->get_ref<const std::string&>());
            break;
          case TVekData::value_t::binary: {
            const auto& b = v->get_binary();
            U8(kBinary);
            Bytes(b.data(), b.size());
            break;
          }
          case TVekData::value_t::boolean:
            U8(v->get<bool>() ? kTrue : kFalse);
            break;
          case TVekData::value_t::number_integer:
            U8(kInteger);
            U64(static_cast<uint64_t>(v->get<int64_t>()));
            break;
          case TVekData::value_t::number_unsigned:
            U8(kUnsigned);
            U64(v->get<uint64_t>());
            break;
          case TVekData::value_t::number_float: {
            const double d = v->get<double>();
            uint64_t bits;
            std::memcpy(&bits, &d, 8);
            U8(kFloat);
            U64(bits);
            break;
          }
          default:
            U8(kNull);
            break;
        }
      }
      v = nullptr;
      while (!open.empty() && open.back().Next == open.back().Value->cend()) open.pop_back();
      if (open.empty()) return;
      auto& top = open.back();
      if (top.Value->is_object()) Text(top.Next.key());
      v = &*top.Next;
      ++top.Next;
    }
  }
  std::string Take() { return std::move(FOut); }
  // The checksum after the bytes; the whole state, or "" with a Sink (which
  // has had it all).
  std::string Done() {
    FSum.Add(FOut.data(), FOut.size());
    const uint64_t sum = FSum.Sum();
    for (int i = 0; i < 8; ++i) FOut.push_back(static_cast<char>(sum >> (8 * i)));
    if (!FSink) return std::move(FOut);
    (*FSink)(FOut.data(), FOut.size());
    return "";
  }

 private:
  void Grew() {
    if (FPassed + FOut.size() > kMaxBuildStateBytes)
      throw std::length_error("larger than a state may be");
    if (!FSink || FOut.size() < (1 << 20)) return;
    // Whole words only: the checksum goes on where this piece ends.
    const size_t n = FOut.size() & ~size_t{7};
    FSum.Add(FOut.data(), n);
    (*FSink)(FOut.data(), n);
    FOut.erase(0, n);
    FPassed += n;
  }

  const std::function<void(const char*, size_t)>* FSink = nullptr;
  std::string FOut;
  TChecksum FSum;  // of the bytes handed to FSink
  size_t FPassed = 0;
};

// Thrown for a state that is not whole or not well formed.
struct EBadState : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class TReader {
 public:
  TReader(const char* Data, size_t Size) : FAt(Data), FEnd(Data + Size) {}
  bool AtEnd() const { return FAt == FEnd; }
  unsigned char U8() {
    Need(1);
    return static_cast<unsigned char>(*FAt++);
  }
  uint64_t U64() {
    Need(8);
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
      v |= static_cast<uint64_t>(static_cast<unsigned char>(FAt[i])) << (8 * i);
    FAt += 8;
    return v;
  }
  // A count of items each taking at least Least bytes: never more than
  // what is left could hold.
  size_t Count(size_t Least) {
    const uint64_t n = U64();
    if (n > static_cast<uint64_t>(FEnd - FAt) / Least) throw EBadState("a count past its end");
    return static_cast<size_t>(n);
  }
  std::string Text() {
    const size_t n = Count(1);
    std::string s(FAt, n);
    FAt += n;
    return s;
  }
  bool Flag() {
    const unsigned char c = U8();
    if (c > 1) throw EBadState("a flag neither 0 nor 1");
    return c == 1;
  }
  TVekFileStamp Stamp() {
    TVekFileStamp s;
    s.Device = U64();
    s.Inode = U64();
    s.Size = U64();
    s.ModifiedNs = static_cast<long long>(U64());
    return s;
  }
  const char* At() const { return FAt; }
  // Passes over a value as TWriter::Data writes it, counting the items
  // still to pass.
  void Skip() {
    struct TOpen {
      size_t Left;
      bool Object;
    };
    std::vector<TOpen> open;
    for (;;) {
      const unsigned char kind = U8();
      switch (kind) {
        case kNull:
        case kFalse:
        case kTrue:
          break;
        case kInteger:
        case kUnsigned:
        case kFloat:
          U64();
          break;
        case kString:
        case kBinary:
          FAt += Count(1);
          break;
        case kArray:
        case kObject: {
          const size_t n = Count(kind == kArray ? 1 : 10);
          if (open.size() >= kMaxBuildStateDepth) throw EBadState("a value nested too deep");
          open.push_back({n, kind == kObject});
          break;
        }
        default:
          throw EBadState("a value of no known kind");
      }
      while (!open.empty() && open.back().Left == 0) open.pop_back();
      if (open.empty()) return;
      --open.back().Left;
      if (open.back().Object) FAt += Count(1);  // the member's name
    }
  }
  // A value as TWriter::Data writes it, with a stack of open containers and
  // how many items each still takes.
  TVekData Data() {
    struct TOpen {
      TVekData* Value;
      size_t Left;
    };
    TVekData root;
    std::vector<TOpen> open;
    TVekData* into = &root;
    for (;;) {
      const unsigned char kind = U8();
      switch (kind) {
        case kNull:
          *into = nullptr;
          break;
        case kFalse:
        case kTrue:
          *into = kind == kTrue;
          break;
        case kInteger:
          *into = static_cast<int64_t>(U64());
          break;
        case kUnsigned:
          *into = U64();
          break;
        case kFloat: {
          const uint64_t bits = U64();
          double d;
          std::memcpy(&d, &bits, 8);
          *into = d;
          break;
        }
        case kString:
          *into = Text();
          break;
        case kBinary: {
          const size_t n = Count(1);
          *into = TVekData::binary(std::vector<std::uint8_t>(FAt, FAt + n));
          FAt += n;
          break;
        }
        case kArray:
        case kObject: {
          *into = kind == kArray ? TVekData::array() : TVekData::object();
          // An item takes a byte at least, a member nine more for its name.
          const size_t n = Count(kind == kArray ? 1 : 10);
          if (open.size() >= kMaxBuildStateDepth) throw EBadState("a value nested too deep");
          open.push_back({into, n});
          break;
        }
        default:
          throw EBadState("a value of no known kind");
      }
      while (!open.empty() && open.back().Left == 0) open.pop_back();
      if (open.empty()) return root;
      TOpen& top = open.back();
      --top.Left;
      if (top.Value->is_array()) {
        top.Value->push_back(nullptr);
        into = &top.Value->back();
      } else {
        std::string name = Text();
        const auto placed = top.Value->emplace(std::move(name), nullptr);
        if (!placed.second) throw EBadState("a member named twice");
        into = &placed.first.value();
      }
    }
  }

 private:
  void Need(size_t N) {
    if (static_cast<size_t>(FEnd - FAt) < N) throw EBadState("cut short");
  }
  const char* FAt;
  const char* FEnd;
};

bool EndsWithMd(const std::string& Name) {
  return Name.size() > 3 && Name.compare(Name.size() - 3, 3, ".md") == 0;
}

template <typename TMap>
std::vector<typename TMap::const_iterator> Sorted(const TMap& Map) {
  std::vector<typename TMap::const_iterator> items;
  items.reserve(Map.size());
  for (auto it = Map.begin(); it != Map.end(); ++it) items.push_back(it);
  std::sort(items.begin(), items.end(),
            [](const auto& A, const auto& B) { return A->first < B->first; });
  return items;
}

// A page's read as the state holds it.
void WriteRead(TWriter& W, const TPageRead& R) {
  W.Text(R.SortDate);
  W.U8(R.Listed);
  W.U8(R.Draft);
  W.Data(R.Page);
}

// The page object of E.Data (an Encoded cache's), whose members up to
// params are the read's page; null when it has none.
const TVekData* ReadOfData(const TSiteReadCache::TEntry& E) {
  if (!E.Data || !E.Data->is_object()) return nullptr;
  const auto page = E.Data->find("page");
  if (page == E.Data->end() || !page->is_object() || !page->contains("params")) return nullptr;
  return &*page;
}

// E's read as WriteRead writes it, its page taken from E.Data.
void WriteDataRead(TWriter& W, const TSiteReadCache::TEntry& E) {
  const TVekData& page = *ReadOfData(E);
  W.Text(E.Read.SortDate);
  W.U8(E.Read.Listed);
  W.U8(E.Read.Draft);
  size_t members = 0;
  for (auto it = page.begin(); it != page.end(); ++it) {
    ++members;
    if (it.key() == "params") break;
  }
  W.U8(kObject);
  W.U64(members);
  auto it = page.begin();
  for (size_t k = 0; k < members; ++k, ++it) {
    W.Text(it.key());
    W.Data(*it);
  }
}

TPageRead ReadRead(TReader& R) {
  TPageRead read;
  read.SortDate = R.Text();
  read.Listed = R.Flag();
  read.Draft = R.Flag();
  read.Page = R.Data();
  return read;
}

}  // namespace

// What the state file holds of a graph: written from it, read into one.
struct TBuildStateCodec {
  static void Write(TWriter& W, const TBuildGraph& G) {
    const TSiteReadCache& reads = G.Reads;
    W.Text(reads.Context);
    std::vector<std::pair<const std::string*, const TSiteReadCache::TEntry*>> pages;
    for (const auto& p : reads.Pages)
      if (EndsWithMd(p.first) && !(p.second->Stamp == kUntrustedStamp) &&
          (!reads.Encoded || p.second->Bytes.size() || ReadOfData(*p.second)))
        pages.emplace_back(&p.first, p.second.get());
    std::sort(pages.begin(), pages.end(),
              [](const auto& A, const auto& B) { return *A.first < *B.first; });
    // Room for the pages' bytes and a little more: the state is not copied
    // as it grows.
    size_t bytes = 0;
    for (const auto& p : pages) {
      const TVekData* page = reads.Encoded ? ReadOfData(*p.second) : nullptr;
      const auto content = page ? page->find("content") : TVekData::const_iterator();
      bytes +=
          p.second->Bytes.size() + p.first->size() + 512 +
          (page && content != page->end() && content->is_binary() ? content->get_binary().size()
                                                                  : 0);
    }
    W.Reserve(bytes + 64 * G.FPages.size() + (1 << 20));
    W.U64(pages.size());
    for (const auto& p : pages) {
      const TSiteReadCache::TEntry& e = *p.second;
      W.Text(*p.first);
      W.Stamp(e.Stamp);
      if (!reads.Encoded)
        WriteRead(W, e.Read);
      else if (e.Data)
        WriteDataRead(W, e);
      else
        W.Raw(e.Bytes);
    }
    const auto outputs = Sorted(G.FPages);
    W.U64(outputs.size());
    for (const auto& it : outputs) {
      const TBuildGraph::TEntry& e = it->second;
      W.Text(it->first);
      W.Text(e.Source);
      W.U64(e.Key);
      W.U64(e.Files.size());
      for (size_t i = 0; i < e.Files.size(); ++i) {
        W.Text(e.Files[i]);
        W.Stamp(e.Stamps[i]);
      }
      W.U64(e.Names.size());
      for (const auto& n : e.Names) W.Text(n);
    }
    const auto copies = Sorted(G.FCopies);
    W.U64(copies.size());
    for (const auto& it : copies) {
      W.Text(it->first);
      W.Stamp(it->second);
    }
  }

  static void Read(TReader& R, const TSitePagesOptions& O, TBuildGraph& G) {
    TSiteReadCache reads;
    reads.Context = R.Text();
    // An entry takes 47 bytes at least: a name, a stamp, a date, two
    // flags and a value.
    for (size_t n = R.Count(47); n > 0; --n) {
      std::string source = R.Text();
      auto e = std::make_shared<TSiteReadCache::TEntry>();
      e->Stamp = R.Stamp();
      if (G.Reads.Encoded) {
        // Kept as bytes, read when the page is (a damaged one is read
        // from its file then).
        const char* from = R.At();
        R.Text();
        R.U8();
        R.U8();
        R.Skip();
        e->Bytes.assign(from, R.At());
      } else {
        e->Read = ReadRead(R);
      }
      // The place and template are made here as a read makes them: the
      // file gives data, never template text.
      if (!EndsWithMd(source) || source[0] == '/' || source.find("..") != std::string::npos)
        throw EBadState("a page that is no Markdown page of the site");
      std::string url;
      VekPageOutput(source, O.UglyUrls, e->Output, url);
      e->Markdown = true;
      if (!G.Reads.Encoded) {
        e->Text = VekMarkdownPageText(source, e->Read, O);
        if (e->Text.empty()) throw EBadState("a page without a layout");
      }
      if (!reads.Pages.emplace(std::move(source), std::move(e)).second)
        throw EBadState("a page named twice");
    }
    std::unordered_map<std::string, TBuildGraph::TEntry> outputs;
    for (size_t n = R.Count(48); n > 0; --n) {
      std::string output = R.Text();
      TBuildGraph::TEntry e;
      e.Source = R.Text();
      e.Key = R.U64();
      for (size_t k = R.Count(40); k > 0; --k) {
        e.Files.push_back(R.Text());
        e.Stamps.push_back(R.Stamp());
      }
      for (size_t k = R.Count(8); k > 0; --k) e.Names.push_back(R.Text());
      if (!outputs.emplace(std::move(output), std::move(e)).second)
        throw EBadState("an output named twice");
    }
    std::unordered_map<std::string, TVekFileStamp> copies;
    for (size_t n = R.Count(40); n > 0; --n) {
      std::string name = R.Text();
      if (!copies.emplace(std::move(name), R.Stamp()).second) throw EBadState("a file named twice");
    }
    if (!R.AtEnd()) throw EBadState("bytes after its end");
    G.Reads.Context = std::move(reads.Context);
    G.Reads.Pages = std::move(reads.Pages);
    G.Reads.Last.reset();
    G.FPages = std::move(outputs);
    G.FCopies = std::move(copies);
  }
};

namespace {

std::string WriteState(TWriter& W, const std::string& Key, const TBuildGraph& Graph) {
  for (const char c : std::string(kMagic)) W.U8(static_cast<unsigned char>(c));
  W.U64(kFormat);
  W.Text(Key);
  TBuildStateCodec::Write(W, Graph);
  return W.Done();
}

}  // namespace

std::string VekBuildStateBytes(const std::string& Key, const TBuildGraph& Graph) {
  TWriter w;
  return WriteState(w, Key, Graph);
}

void VekStreamBuildState(const std::string& Key, const TBuildGraph& Graph,
                         const std::function<void(const char*, size_t)>& Sink) {
  TWriter w(Sink);
  WriteState(w, Key, Graph);
}

std::string VekReadBuildState(const std::string& Bytes, const std::string& Key,
                              const TSitePagesOptions& O, TBuildGraph& Graph) {
  const size_t magic = sizeof kMagic - 1;
  if (Bytes.size() < magic + 16 || Bytes.compare(0, magic, kMagic) != 0)
    return "not a state file of vekpp build";
  if (Bytes.size() > kMaxBuildStateBytes) return "larger than a state may be";
  const size_t body = Bytes.size() - 8;
  TReader sum(Bytes.data() + body, 8);
  if (sum.U64() != Checksum(Bytes.data(), body)) return "cut short or damaged";
  TReader r(Bytes.data() + magic, body - magic);
  try {
    if (r.U64() != kFormat) return "written by another version of vekpp";
    if (r.Text() != Key)
      return "written by another version of vekpp, for other options or another vekpp.toml";
    TBuildStateCodec::Read(r, O, Graph);
  } catch (const EBadState& e) {
    return std::string("damaged: ") + e.what();
  } catch (const std::exception& e) {
    // What making a value or a page's template may throw (out of memory).
    return std::string("not read: ") + e.what();
  }
  return "";
}

void VekSealBuildState(std::string& Bytes) {
  if (Bytes.size() < 8) return;
  const size_t body = Bytes.size() - 8;
  const uint64_t sum = Checksum(Bytes.data(), body);
  for (int i = 0; i < 8; ++i) Bytes[body + i] = static_cast<char>(sum >> (8 * i));
}

std::string VekPageReadBytes(const TPageRead& Read) {
  TWriter w;
  WriteRead(w, Read);
  return w.Take();
}

TPageRead VekPageReadFromBytes(const std::string& Bytes) {
  TReader r(Bytes.data(), Bytes.size());
  TPageRead read = ReadRead(r);
  if (!r.AtEnd()) throw EBadState("bytes after a page's end");
  return read;
}
