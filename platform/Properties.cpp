// Published properties: the typed property list a component declares.
#include "Properties.h"

#include <cstring>
#include <stdexcept>

#include "TextRoutines.h"

void TPropertyList::AddString(const AnsiString& Name, std::function<AnsiString()> Get,
                              std::function<void(const AnsiString&)> Set) {
  TPropertyInfo p;
  p.Name = Name;
  p.Kind = TPropertyKind::pkString;
  p.GetString = std::move(Get);
  p.SetString = std::move(Set);
  Add(std::move(p));
}

void TPropertyList::AddStrings(const AnsiString& Name, std::function<const TStrings*()> Get,
                               std::function<void(TStrings*)> Set) {
  TPropertyInfo p;
  p.Name = Name;
  p.Kind = TPropertyKind::pkStrings;
  p.GetStrings = std::move(Get);
  p.SetStrings = std::move(Set);
  Add(std::move(p));
}

const TPropertyInfo& TPropertyList::operator[](int Index) const {
  if (Index < 0 || Index >= Count())
    throw std::out_of_range("Property index " + std::to_string(Index) + " out of range");
  return FItems[static_cast<std::size_t>(Index)];
}

const TPropertyInfo* TPropertyList::Find(const AnsiString& Name) const noexcept {
  for (const TPropertyInfo& p : FItems)
    if (SameText(p.Name, Name)) return &p;
  return nullptr;
}

void TPropertyList::Add(TPropertyInfo Info) {
  if (!IsValidIdent(Info.Name))
    throw std::invalid_argument("DeclareProperties: \"" + Info.Name +
                                "\" is not a valid property name");
  if (Find(Info.Name) != nullptr)
    throw std::invalid_argument("DeclareProperties: property " + Info.Name + " declared twice");
  const bool complete = Info.Kind == TPropertyKind::pkString    ? Info.GetString && Info.SetString
                        : Info.Kind == TPropertyKind::pkStrings ? Info.GetStrings && Info.SetStrings
                                                                : Info.GetEvent && Info.SetEvent;
  if (!complete)
    throw std::invalid_argument("DeclareProperties: property " + Info.Name +
                                " lacks a getter or a setter");
  FItems.push_back(std::move(Info));
}

void TPropertyList::CheckSignature(const AnsiString& Property, const TPublishedMethod& Method,
                                   const char* Signature) {
  if (std::strcmp(Method.Signature, Signature) != 0)
    throw std::invalid_argument("Method " + Method.Name + " does not have the parameters of " +
                                Property);
}
