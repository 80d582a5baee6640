// String lists: TStrings' text, name=value and search operations and the
// TStringList that stores them.
#include "StringList.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "Streams.h"

AnsiString TStrings::ClassName() const {
  return "TStrings";
}

void TStrings::CheckIndex(int Index) const {
  if (Index < 0 || Index >= Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
}

int TStrings::Add(const AnsiString& S) {
  const int at = Count();
  Insert(at, S);
  return at;
}

int TStrings::IndexOf(const AnsiString& S) const {
  for (int i = 0, n = Count(); i < n; ++i)
    if (Get(i) == S) return i;
  return -1;
}

void TStrings::Assign(const TPersistent* Source) {
  const auto* src = dynamic_cast<const TStrings*>(Source);
  if (src == nullptr) {
    TPersistent::Assign(Source);  // throws the "cannot assign" error
    return;
  }
  if (src == this) return;
  Clear();
  for (const AnsiString& s : *src) Add(s);
}

AnsiString TStrings::Text() const {
  std::size_t size = 0;
  for (const AnsiString& s : *this) size += s.size() + 2;
  AnsiString out;
  out.reserve(size);
  for (const AnsiString& s : *this) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TStrings::SetText(const AnsiString& Value) {
  Clear();
  const std::size_t n = Value.size();
  std::size_t start = 0;
  while (start < n) {
    std::size_t i = Value.find_first_of("\r\n", start);
    if (i == AnsiString::npos) {
      Add(Value.substr(start));
      break;
    }
    Add(Value.substr(start, i - start));
    start = i + ((Value[i] == '\r' && i + 1 < n && Value[i + 1] == '\n') ? 2 : 1);
  }
}

void TStrings::LoadFromStream(TStream* Stream) {
  if (Stream == nullptr) throw std::invalid_argument("LoadFromStream: stream is null");
  SetText(Stream->ReadToEnd());
}

void TStrings::SaveToStream(TStream* Stream) const {
  if (Stream == nullptr) throw std::invalid_argument("SaveToStream: stream is null");
  const AnsiString text = Text();
  Stream->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}

namespace {
bool SameNameAscii(const AnsiString& line, std::size_t len, const AnsiString& name) {
  if (len != name.size()) return false;
  for (std::size_t i = 0; i < len; ++i) {
    char a = line[i], b = name[i];
    if (a >= 'a' && a <= 'z') a = char(a - 'a' + 'A');
    if (b >= 'a' && b <= 'z') b = char(b - 'a' + 'A');
    if (a != b) return false;
  }
  return true;
}
}  // namespace

AnsiString TStrings::Names(int Index) const {
  const AnsiString& s = Get(Index);
  const std::size_t eq = s.find('=');
  return eq == AnsiString::npos ? AnsiString() : s.substr(0, eq);
}

AnsiString TStrings::ValueFromIndex(int Index) const {
  const AnsiString& s = Get(Index);
  const std::size_t eq = s.find('=');
  return eq == AnsiString::npos ? AnsiString() : s.substr(eq + 1);
}

int TStrings::IndexOfName(const AnsiString& Name) const {
  for (int i = 0, n = Count(); i < n; ++i) {
    const AnsiString& s = Get(i);
    const std::size_t eq = s.find('=');
    if (eq != AnsiString::npos && SameNameAscii(s, eq, Name)) return i;
  }
  return -1;
}

AnsiString TStrings::Values(const AnsiString& Name) const {
  const int i = IndexOfName(Name);
  return i < 0 ? AnsiString() : ValueFromIndex(i);
}

void TStrings::SetValue(const AnsiString& Name, const AnsiString& Value) {
  const int i = IndexOfName(Name);
  if (Value.empty()) {
    if (i >= 0) Delete(i);
  } else if (i >= 0) {
    Put(i, Name + "=" + Value);
  } else {
    Add(Name + "=" + Value);
  }
}

// The lists' own index checks compare with the vector's size first: a
// handler reads its parameters through Get, and CheckIndex asks Count()
// through a virtual call.
static bool OutOfRange(int Index, std::size_t Size) noexcept {
  return static_cast<unsigned>(Index) >= Size;  // a negative index is huge
}

const AnsiString& TStringList::Get(int Index) const {
  if (OutOfRange(Index, FItems.size())) CheckIndex(Index);
  return FItems[static_cast<std::size_t>(Index)];
}

void TStringList::Put(int Index, const AnsiString& S) {
  ++FChanges;
  if (FSorted) throw std::logic_error("Operation not allowed on sorted list");
  if (OutOfRange(Index, FItems.size())) CheckIndex(Index);
  FItems[static_cast<std::size_t>(Index)] = S;
}

void TStringList::Insert(int Index, const AnsiString& S) {
  ++FChanges;
  if (FSorted) throw std::logic_error("Operation not allowed on sorted list");
  if (Index < 0 || Index > Count())
    throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
  if (FItems.size() >= static_cast<std::size_t>(INT_MAX))
    throw std::length_error("List capacity exceeded");
  FItems.insert(FItems.begin() + Index, S);
}

void TStringList::Delete(int Index) {
  ++FChanges;
  CheckIndex(Index);
  FItems.erase(FItems.begin() + Index);
}

int TStringList::Add(const AnsiString& S) {
  ++FChanges;
  if (FItems.size() >= static_cast<std::size_t>(INT_MAX))
    throw std::length_error("List capacity exceeded");
  if (!FSorted) {
    FItems.push_back(S);
    return static_cast<int>(FItems.size() - 1);
  }
  const auto at = std::upper_bound(FItems.begin(), FItems.end(), S);
  const auto index = static_cast<int>(at - FItems.begin());
  FItems.insert(at, S);
  return index;
}

void TStringList::SetSorted(bool Value) {
  ++FChanges;
  if (Value && !FSorted) std::sort(FItems.begin(), FItems.end());
  FSorted = Value;
}

AnsiString TStringList::ClassName() const {
  return "TStringList";
}
