// Published properties: the list of named, typed properties that a class
// declares (TPersistent::DeclareProperties) and that form streaming writes
// and reads. Each entry reaches the property through the object's own getter
// and setter, so a form assigns values exactly as code does.
#pragma once

#include <functional>
#include <vector>

#include "AnsiString.h"
#include "Component.h"
#include "Event.h"
#include "Export.h"

class TStrings;

/// What a property holds, and so how a form writes it.
enum class TPropertyKind {
  pkString,   ///< a byte string
  pkStrings,  ///< a string list
  pkEvent,    ///< a bound handler, stored by the name of a published method
};

/// How an event property is bound, as a form writer sees it.
struct TEventBinding {
  bool Assigned = false;         ///< false: the event is unset
  AnsiString MethodName;         ///< TEvent::MethodName(): "" for an anonymous handler
  const void* Object = nullptr;  ///< TEvent::Object()
};

/// One published property. Only the members of its kind are set.
struct TPropertyInfo {
  AnsiString Name;
  TPropertyKind Kind = TPropertyKind::pkString;

  std::function<AnsiString()> GetString;             ///< pkString
  std::function<void(const AnsiString&)> SetString;  ///< pkString
  std::function<const TStrings*()> GetStrings;       ///< pkStrings
  std::function<void(TStrings*)> SetStrings;         ///< pkStrings: the list stays the caller's
  const char* EventSignature = nullptr;              ///< pkEvent: TEvent<...>::SignatureKey()
  std::function<TEventBinding()> GetEvent;           ///< pkEvent
  /// pkEvent: binds the event to Method (whose Signature must equal
  /// EventSignature, else std::invalid_argument), or unsets it for nullptr.
  std::function<void(const TPublishedMethod* Method)> SetEvent;
};

/// The published properties of one object, in declaration order.
///
///   void TMyComponent::DeclareProperties(TPropertyList& P) {
///     TComponent::DeclareProperties(P);
///     P.AddString("Caption", [this] { return FCaption; },
///                 [this](const AnsiString& v) { SetCaption(v); });
///   }
///
/// Every Add throws std::invalid_argument when Name is not an identifier or
/// is already declared (letter case ignored), or when a callback is empty.
class VCL50_API TPropertyList {
 public:
  void AddString(const AnsiString& Name, std::function<AnsiString()> Get,
                 std::function<void(const AnsiString&)> Set);
  /// Get returns the property's own list (not copied); Set copies the lines
  /// of the list it is given.
  void AddStrings(const AnsiString& Name, std::function<const TStrings*()> Get,
                  std::function<void(TStrings*)> Set);

  /// An event of type TEventType (a TEvent<void(...)>).
  template <class TEventType>
  void AddEvent(const AnsiString& Name, std::function<TEventType()> Get,
                std::function<void(TEventType)> Set) {
    TPropertyInfo p;
    p.Name = Name;
    p.Kind = TPropertyKind::pkEvent;
    p.EventSignature = TEventType::SignatureKey();
    if (Get)
      p.GetEvent = [Get] {
        const TEventType e = Get();
        return TEventBinding{static_cast<bool>(e), e.MethodName(), e.Object()};
      };
    if (Set)
      p.SetEvent = [Set, Name](const TPublishedMethod* Method) {
        if (Method == nullptr) {
          Set(TEventType());
        } else {
          CheckSignature(Name, *Method, TEventType::SignatureKey());
          Set(*static_cast<const TEventType*>(Method->Event.get()));
        }
      };
    Add(std::move(p));
  }

  int Count() const noexcept { return static_cast<int>(FItems.size()); }
  /// Throws std::out_of_range for a bad index.
  const TPropertyInfo& operator[](int Index) const;
  /// The property named Name (letter case ignored), or nullptr.
  const TPropertyInfo* Find(const AnsiString& Name) const noexcept;

 private:
  void Add(TPropertyInfo Info);
  static void CheckSignature(const AnsiString& Property, const TPublishedMethod& Method,
                             const char* Signature);

  std::vector<TPropertyInfo> FItems;
};
