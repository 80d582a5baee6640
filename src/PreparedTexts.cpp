// Prepared templates and their cache (see PreparedTexts.h).
#include "PreparedTexts.h"

#include <algorithm>
#include <cstring>

namespace vek {

bool PreparedText::PrepareFor(const Delimiters& d) {
  if (table && table->HoldsFor(d)) return true;
  table.reset();
  tableStamp = 0;  // held for the table replaced
  try {
    auto built = Ref<SharedTable>::Make();
    built->Build(Visible(), 0, d);
    built->Trim();  // kept for as long as the text
    table = Ref<const SharedTable>(built.get());
    return true;
  } catch (...) {  // no table: the text is scanned as before
    return false;
  }
}

std::size_t VisibleSize(const AnsiString& Data) {
  const void* nul = std::memchr(Data.data(), 0, Data.size());
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - Data.data()) : Data.size();
}

namespace {

std::uint64_t Word(const char* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

std::uint64_t Mix(std::uint64_t h, std::uint64_t w) {
  h ^= w + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  return h * 0xBF58476D1CE4E5B9ull;
}

}  // namespace

std::uint64_t SampleHash(const char* Data, std::size_t Size) {
  std::uint64_t h = Mix(0x5EEDull, Size);
  if (Size < 8) {
    for (std::size_t i = 0; i < Size; ++i) h = Mix(h, static_cast<unsigned char>(Data[i]));
    return h;
  }
  // Short texts whole; long ones by 64 words spread over them, and their ends.
  constexpr std::size_t kWhole = 512, kSamples = 64;
  if (Size <= kWhole) {  // a multiply per word, mixed well once at the end
    std::uint64_t w = h;
    for (std::size_t i = 0; i + 8 <= Size; i += 8) w = (w ^ Word(Data + i)) * 0x9E3779B97F4A7C15ull;
    return Mix(w, Word(Data + Size - 8));
  }
  const std::size_t step = (Size - 8) / kSamples;
  for (std::size_t k = 0; k < kSamples; ++k) h = Mix(h, Word(Data + k * step));
  for (std::size_t i = 0; i < 64; i += 8) h = Mix(h, Word(Data + Size - 8 - i));
  return h;
}

Ref<PreparedText> PreparedTexts::Find(const BoundedText& t, const Delimiters& d) {
  if (FMaxEntries == 0 || t.size > FMaxBytes || t.size == 0) return {};
  const std::uint64_t hash = SampleHash(t.data, t.size);
  for (std::size_t i = 0; i < FEntries.size(); ++i) {
    PreparedText& e = *FEntries[i].text;
    if (e.hash != hash || e.text.size() != t.size ||
        std::memcmp(e.text.data(), t.data, t.size) != 0)
      continue;
    if (!e.PrepareFor(d)) return {};
    std::rotate(FEntries.begin(), FEntries.begin() + static_cast<std::ptrdiff_t>(i),
                FEntries.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return FEntries.front().text;
  }
  // Seen before? Then prepare it now; else remember it.
  const auto seen = std::find_if(FSeen.begin(), FSeen.end(),
                                 [&](const Seen& s) { return s.hash == hash && s.size == t.size; });
  if (seen == FSeen.end()) {
    Remember(hash, t.size, false);
    return {};
  }
  if (seen->scanOnly) return {};
  FSeen.erase(seen);
  auto text = Ref<PreparedText>::Make();
  text->text.assign(t.data, t.size);
  text->size = VisibleSize(text->text);
  text->hash = hash;
  if (!text->PrepareFor(d)) return {};
  const std::size_t bytes = text->text.capacity() + text->table->Bytes();
  if (bytes > FMaxBytes || t.size / kSparseBytesPerTag > text->table->Tags().size()) {
    Remember(hash, t.size, true);
    return text;  // used this once
  }
  FEntries.insert(FEntries.begin(), Entry{text, bytes});
  FBytes += bytes;
  Evict();
  return text;
}

void PreparedTexts::Remember(std::uint64_t Hash, std::size_t Size, bool ScanOnly) {
  if (FSeen.size() < kSeen)
    FSeen.push_back({Hash, Size, ScanOnly});
  else
    FSeen[FSeenNext++ % kSeen] = {Hash, Size, ScanOnly};
}

void PreparedTexts::SetLimits(std::size_t Entries, std::size_t Bytes) {
  FMaxEntries = Entries;
  FMaxBytes = Bytes;
  Evict();
  FSeen.clear();  // what was too large may fit now
}

void PreparedTexts::Evict() {
  while (!FEntries.empty() && (FEntries.size() > FMaxEntries || FBytes > FMaxBytes)) {
    FBytes -= FEntries.back().bytes;
    FEntries.pop_back();
  }
}

}  // namespace vek
