// The object model of the host: TObject, TPersistent and TComponent with
// ownership. A component is created with an owner (or none); the owner
// destroys the components it owns when it is destroyed itself.
#pragma once

#include <vector>

#include "AnsiString.h"
#include "Export.h"

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

 private:
  TComponent* FOwner = nullptr;
  std::vector<TComponent*> FComponents;
  AnsiString FName;
};
