// Prepared templates: a text with its tag table, kept for a producer's
// HTMLDoc and, in a small bounded cache, for texts expanded again through
// Execute. Internal to the component.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "AnsiString.h"
#include "TagTable.h"
#include "TemplateText.h"

namespace vek {

class OutputSink;

/// A counted reference to an object that one thread uses at a time (a
/// producer's prepared texts and tables): the count needs no atomic
/// operations, which std::shared_ptr pays at every copy. T has a member
/// `mutable unsigned refs`, 0 when made.
template <class T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* Object) : FObject(Object) {
    if (FObject) ++FObject->refs;
  }
  Ref(const Ref& Other) : Ref(Other.FObject) {}
  Ref(Ref&& Other) noexcept : FObject(Other.FObject) { Other.FObject = nullptr; }
  Ref& operator=(Ref Other) noexcept {
    std::swap(FObject, Other.FObject);
    return *this;
  }
  ~Ref() {
    if (FObject && --FObject->refs == 0) delete FObject;
  }
  /// A new T made from Args.
  template <class... Args>
  static Ref Make(Args&&... A) {
    return Ref(new T(std::forward<Args>(A)...));
  }
  T* get() const { return FObject; }
  T& operator*() const { return *FObject; }
  T* operator->() const { return FObject; }
  explicit operator bool() const { return FObject != nullptr; }
  void reset() { Ref().swap(*this); }
  void swap(Ref& Other) noexcept { std::swap(FObject, Other.FObject); }

 private:
  T* FObject = nullptr;
};

/// A tag table held by counted references.
struct SharedTable : TagTable {
  mutable unsigned refs = 0;
};

/// A text and, once it is prepared, its tag table. Shared: an expansion holds
/// it while a handler may drop it from the producer (by changing HTMLDoc or
/// by expanding other texts), and expansions nested in it may use it too.
struct PreparedText {
  AnsiString text;         // whole, as given
  std::size_t size = 0;    // its bytes before the first NUL
  std::uint64_t hash = 0;  // SampleHash of the whole text
  unsigned uses = 0;       // expansions of it so far
  // Built on the second expansion, for the delimiters of then. Never changed
  // once built: an expansion running from it holds it while a nested one
  // replaces it by a table for other delimiters.
  Ref<const SharedTable> table;
  // A producer's delimiter stamp for which table is known to hold (0: none),
  // so that a body expanded row after row compares no delimiters.
  unsigned long long tableStamp = 0;
  mutable unsigned refs = 0;

  BoundedText Visible() const { return BoundedText{text.data(), size}; }
  /// The table if it holds for d, else null.
  Ref<const SharedTable> TableFor(const Delimiters& d) const {
    return table && table->HoldsFor(d) ? table : Ref<const SharedTable>();
  }
  /// Builds the table for d unless it holds already; false (no table) when
  /// building fails.
  bool PrepareFor(const Delimiters& d);
};

/// The bytes of Data before its first NUL.
std::size_t VisibleSize(const AnsiString& Data);

/// A hash of the bytes: all of a short text, a spread sample of a long one,
/// always with the length. Finds candidates; a byte comparison decides.
std::uint64_t SampleHash(const char* Data, std::size_t Size);

/// A prepared text with fewer tags than one per this many bytes is not kept
/// in the cache: comparing its bytes at every expansion costs more time than
/// scanning them (measured with the benchmark's W1, one tag per KiB).
constexpr std::size_t kSparseBytesPerTag = 256;

/// What a producer keeps between expansions.
class PreparedTexts {
 public:
  /// The joined HTMLDoc made for the lines as they were at change count
  /// Changes: the one kept when they have not changed since, else Join()'s
  /// result, kept when not larger than kMaxDocBytes. Join may throw.
  template <class JoinFn>
  Ref<PreparedText> Doc(unsigned long long Changes, JoinFn Join) {
    if (FDoc && FDocChanges == Changes) return FDoc;
    FDoc.reset();
    auto doc = Ref<PreparedText>::Make();
    doc->text = Join();
    doc->size = VisibleSize(doc->text);
    if (doc->text.size() <= kMaxDocBytes) {
      FDoc = doc;
      FDocChanges = Changes;
    }
    return doc;
  }

  /// The prepared text whose bytes are t's (NULs included), with a table for
  /// d, or null.
  /// A text is prepared the second time it is looked up; texts larger than
  /// the cache's byte limit are never kept. May throw what allocation throws.
  Ref<PreparedText> Find(const BoundedText& t, const Delimiters& d);

  /// The cache's bounds: at most Entries texts of at most Bytes bytes in all
  /// (texts and tables). 0 keeps nothing.
  void SetLimits(std::size_t Entries, std::size_t Bytes);
  std::size_t MaxEntries() const { return FMaxEntries; }
  std::size_t MaxBytes() const { return FMaxBytes; }

  static constexpr std::size_t kMaxDocBytes = std::size_t(64) << 20;

  /// The output of the innermost expansion running, which ExpandBody writes
  /// to; null when none runs. Set and restored by the expansion loop.
  OutputSink* page = nullptr;
  /// A table an expansion built after a failed match, kept for the next one
  /// to build in (its contents are stale).
  std::unique_ptr<TagTable> spareTable;
  static constexpr std::size_t kMaxSpareBytes = std::size_t(16) << 20;
  /// The body prepared last (PrepareBody), taken again for the same bytes.
  std::shared_ptr<PreparedText> lastBody;

  /// The delimiters Beg and End prepared for searching, kept while the
  /// producer's delimiter stamp stays Stamp (never 0): a body expanded row
  /// after row prepares them once. The views point into Beg and End, which
  /// change only with the stamp.
  const Delimiters& DelimitersFor(const AnsiString& Beg, const AnsiString& End,
                                  unsigned long long Stamp) {
    if (Stamp != FDelimiterStamp) {
      FDelimiters = Delimiters(Beg, End);
      FDelimiterStamp = Stamp;
    }
    return FDelimiters;
  }

 private:
  void Evict();

  Delimiters FDelimiters;
  unsigned long long FDelimiterStamp = 0;

  Ref<PreparedText> FDoc;
  unsigned long long FDocChanges = 0;

  std::size_t FMaxEntries = 16, FMaxBytes = std::size_t(16) << 20;
  std::size_t FBytes = 0;  // of the entries, when they were added
  struct Entry {
    Ref<PreparedText> text;
    std::size_t bytes;
  };
  std::vector<Entry> FEntries;  // most recently used first
  // Texts seen once, by hash and size: the next sighting prepares them. And
  // texts found not worth keeping: too large for the cache, or so sparse in
  // tags that comparing their bytes costs more than scanning them.
  struct Seen {
    std::uint64_t hash;
    std::size_t size;
    bool scanOnly;
  };
  void Remember(std::uint64_t Hash, std::size_t Size, bool ScanOnly);
  static constexpr std::size_t kSeen = 64;
  std::vector<Seen> FSeen;
  std::size_t FSeenNext = 0;
};

}  // namespace vek
