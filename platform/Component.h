// The object model of the host: TObject, TPersistent and TComponent with
// ownership. A component is created with an owner (or none); the owner
// destroys the components it owns when it is destroyed itself.
#pragma once

#include <cstring>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <vector>

#include "AnsiString.h"
#include "Event.h"
#include "Export.h"

class TPropertyList;

/// Root of the class hierarchy. Objects are not copyable: they have identity.
class VCL50_API TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = delete;
  TObject& operator=(const TObject&) = delete;
  virtual ~TObject();

  /// The class's name as the host knows it, e.g. "TStringList".
  virtual AnsiString ClassName() const;
};

/// An object whose contents can be copied from another one with Assign.
class VCL50_API TPersistent : public TObject {
 public:
  /// Copies the contents of Source into this object. The base version throws
  /// std::invalid_argument ("Cannot assign a X to a Y"); classes that support
  /// assignment override it. Throws std::invalid_argument for a null Source.
  virtual void Assign(const TPersistent* Source);
  AnsiString ClassName() const override;

  /// Appends this object's published properties to Properties, in the order
  /// in which they are stored (see Properties.h). A class calls its base
  /// class's version first, so inherited properties come first; the base
  /// version declares none. The entries refer to this object and are valid
  /// while it lives.
  virtual void DeclareProperties(TPropertyList& Properties);
};

/// A method that a component publishes by name, so that an event stored in a
/// form can be bound to it again when the form is read.
struct TPublishedMethod {
  AnsiString Name;                    ///< the name it is published under
  const char* Signature;              ///< TEvent<...>::SignatureKey() of its handler type
  const void* Object;                 ///< the object it is called on, as TEvent::Object()
  std::shared_ptr<const void> Event;  ///< a TEvent<Signature> bound to it
};

/// A component: a persistent object with an owner and a name.
///
/// Ownership: a component created with a non-null owner must be allocated
/// with new; the owner deletes it when the owner is destroyed (owned
/// components are destroyed last-created first). A component without owner
/// may live on the stack or be deleted by whoever created it. Deleting an
/// owned component by hand is allowed: it leaves its owner's list first, so
/// it is never freed twice.
class VCL50_API TComponent : public TPersistent {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;
  AnsiString ClassName() const override;

  TComponent* Owner() const noexcept { return FOwner; }
  int ComponentCount() const noexcept { return static_cast<int>(FComponents.size()); }
  /// The Index-th owned component, in order of insertion.
  /// Throws std::out_of_range for a bad index.
  TComponent* Components(int Index) const;
  /// The owned component of that name (letter case ignored), or nullptr.
  TComponent* FindComponent(const AnsiString& AName) const;

  const AnsiString& Name() const noexcept { return FName; }
  void SetName(const AnsiString& Value) { FName = Value; }

  /// Takes AComponent into this component's ownership, out of its previous
  /// owner's. Throws std::invalid_argument for null, for this component itself
  /// and for one of its owners.
  void InsertComponent(TComponent* AComponent);
  /// Releases AComponent from this component's ownership (no-op when it is
  /// not owned by this one); the caller becomes responsible for deleting it.
  void RemoveComponent(TComponent* AComponent) noexcept;

  /// The method this component publishes under Name (ASCII letter case
  /// ignored), or nullptr. Only this component's own table is searched.
  const TPublishedMethod* FindMethod(const AnsiString& Name) const noexcept;
  int MethodCount() const noexcept { return static_cast<int>(FMethods.size()); }
  /// The Index-th published method, in order of publication.
  /// Throws std::out_of_range for a bad index.
  const TPublishedMethod& Methods(int Index) const;

  /// The handler bound to the published method Name, for an event of type
  /// TEventType (a TEvent). Throws std::invalid_argument when no method of
  /// that name is published or when its signature is not the event's.
  template <class TEventType>
  TEventType MethodEvent(const AnsiString& Name) const {
    const TPublishedMethod* m = FindMethod(Name);
    if (m == nullptr)
      throw std::invalid_argument(ClassName() + " publishes no method named " + Name);
    if (std::strcmp(m->Signature, TEventType::SignatureKey()) != 0)
      throw std::invalid_argument("Method " + m->Name + " of " + ClassName() +
                                  " has another signature than the event");
    return *static_cast<const TEventType*>(m->Event.get());
  }

 protected:
  /// Publishes Method of this component under Name, so that forms can store
  /// events bound to it by name. Call it from the constructor of the class
  /// that declares Method:
  ///
  ///   PublishMethod("PageTag", &TMyModule::PageTag);
  ///
  /// Name must be an identifier (a letter or '_', then letters, digits, '_'),
  /// not "unset", and not yet published by this component (letter case
  /// ignored); otherwise std::invalid_argument is thrown.
  template <class M, class... Args>
  void PublishMethod(const AnsiString& Name, void (M::*Method)(Args...)) {
    static_assert(std::is_base_of_v<TComponent, M>,
                  "PublishMethod takes a method of the component's own class");
    using TEventType = TEvent<void(Args...)>;
    M* object = static_cast<M*>(this);
    AddMethod(TPublishedMethod{Name, TEventType::SignatureKey(), object,
                               std::make_shared<const TEventType>(object, Method, Name)});
  }

 private:
  void AddMethod(TPublishedMethod Method);

  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  AnsiString FName;
  std::vector<TPublishedMethod> FMethods;
};
