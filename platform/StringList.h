// String lists: the abstract TStrings and the list TStringList.
#pragma once

#include <cstddef>
#include <iterator>
#include <vector>

#include "AnsiString.h"
#include "Component.h"
#include "Export.h"

class TStream;

/// An ordered list of strings that allows duplicates.
///
/// Indexes run from 0 to Count()-1; every indexed access checks its index and
/// throws std::out_of_range for a bad one. The text of a list (Text/SetText)
/// follows the host's line-break rules: reading joins every line followed by
/// CR LF; setting splits at CR LF, CR or LF, and a final line break adds no
/// empty line. All bytes, NUL included, are kept as they are.
class VCL50_API TStrings : public TPersistent {
 public:
  virtual int Count() const noexcept = 0;
  virtual const AnsiString& Get(int Index) const = 0;
  virtual void Put(int Index, const AnsiString& S) = 0;
  /// Inserts S before Index (Index == Count() appends).
  virtual void Insert(int Index, const AnsiString& S) = 0;
  virtual void Delete(int Index) = 0;
  virtual void Clear() noexcept = 0;

  const AnsiString& operator[](int Index) const { return Get(Index); }
  const AnsiString& Strings(int Index) const { return Get(Index); }

  /// Appends S (a sorted list inserts it in order); returns its index.
  virtual int Add(const AnsiString& S);
  /// Index of the first line equal to S (byte for byte), or -1.
  virtual int IndexOf(const AnsiString& S) const;
  /// Replaces the contents with those of Source, which must be a TStrings
  /// (std::invalid_argument otherwise, or when Source is null).
  void Assign(const TPersistent* Source) override;

  /// Every line followed by CR LF.
  AnsiString Text() const;
  /// Replaces the contents by Value split into lines (see the class comment).
  void SetText(const AnsiString& Value);

  /// Reads the stream from its current position to its end and sets the text
  /// to it. Throws std::invalid_argument for a null stream; stream errors pass.
  void LoadFromStream(TStream* Stream);
  /// Writes Text() to the stream at its position.
  void SaveToStream(TStream* Stream) const;

  /// Name=value helpers. A line's name is what stands before its first '='
  /// ("" when it holds none); its value what follows. Names are compared
  /// without regard to ASCII letter case.
  AnsiString Names(int Index) const;
  AnsiString ValueFromIndex(int Index) const;
  /// Index of the first line with that name, or -1.
  int IndexOfName(const AnsiString& Name) const;
  /// The value of the first line with that name, or "" when there is none.
  AnsiString Values(const AnsiString& Name) const;
  /// Sets the value of the first line with that name, appending a line when
  /// there is none; an empty Value deletes the line.
  void SetValue(const AnsiString& Name, const AnsiString& Value);

  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = AnsiString;
    using difference_type = std::ptrdiff_t;
    using pointer = const AnsiString*;
    using reference = const AnsiString&;
    const_iterator(const TStrings* L, int I) : FList(L), FIndex(I) {}
    reference operator*() const { return FList->Get(FIndex); }
    pointer operator->() const { return &FList->Get(FIndex); }
    const_iterator& operator++() { return ++FIndex, *this; }
    const_iterator operator++(int) { return const_iterator(FList, FIndex++); }
    const_iterator& operator--() { return --FIndex, *this; }
    const_iterator& operator+=(difference_type n) { return FIndex += int(n), *this; }
    const_iterator operator+(difference_type n) const { return {FList, FIndex + int(n)}; }
    difference_type operator-(const const_iterator& o) const { return FIndex - o.FIndex; }
    reference operator[](difference_type n) const { return FList->Get(FIndex + int(n)); }
    bool operator==(const const_iterator& o) const { return FIndex == o.FIndex; }
    bool operator!=(const const_iterator& o) const { return FIndex != o.FIndex; }
    bool operator<(const const_iterator& o) const { return FIndex < o.FIndex; }

   private:
    const TStrings* FList;
    int FIndex;
  };
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, Count()}; }

  AnsiString ClassName() const override;

 protected:
  /// Throws std::out_of_range unless 0 <= Index < Count().
  void CheckIndex(int Index) const;
};

/// The string list: lines held in a vector. Unsorted unless SetSorted(true).
class VCL50_API TStringList : public TStrings {
 public:
  TStringList() = default;
  int Count() const noexcept override { return static_cast<int>(FItems.size()); }
  const AnsiString& Get(int Index) const override;
  void Put(int Index, const AnsiString& S) override;
  void Insert(int Index, const AnsiString& S) override;
  void Delete(int Index) override;
  void Clear() noexcept override {
    ++FChanges;
    FItems.clear();
  }
  int Add(const AnsiString& S) override;

  /// Counts the calls that may have changed the lines or their order (Put,
  /// Insert, Delete, Clear, Add, SetSorted, and so Assign, SetText and
  /// LoadFromStream): whoever keeps something derived from the lines compares
  /// it to tell whether they may have changed since. It never decreases.
  unsigned long long ChangeCount() const noexcept { return FChanges; }

  bool Sorted() const noexcept { return FSorted; }
  /// Sorting orders the lines by their bytes; a sorted list keeps that order
  /// on Add, and refuses Insert and Put (std::logic_error).
  void SetSorted(bool Value);
  AnsiString ClassName() const override;

 private:
  std::vector<AnsiString> FItems;
  bool FSorted = false;
  unsigned long long FChanges = 0;
};
