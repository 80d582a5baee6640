// The object model: component ownership (owners destroy what they own),
// names, lookup of owned components and published methods.
#include "Component.h"

#include <algorithm>
#include <iterator>
#include <stdexcept>

#include "TextRoutines.h"

TObject::~TObject() = default;

AnsiString TObject::ClassName() const {
  return "TObject";
}

void TPersistent::Assign(const TPersistent* Source) {
  if (Source == nullptr) throw std::invalid_argument("Assign: source is null");
  throw std::invalid_argument("Cannot assign a " + Source->ClassName() + " to a " + ClassName());
}

AnsiString TPersistent::ClassName() const {
  return "TPersistent";
}

void TPersistent::DeclareProperties(TPropertyList&) {}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    FComponents.pop_back();
    child->FOwner = nullptr;  // so that it does not try to leave this list
    delete child;
  }
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

AnsiString TComponent::ClassName() const {
  return "TComponent";
}

TComponent* TComponent::Components(int Index) const {
  if (Index < 0 || Index >= ComponentCount())
    throw std::out_of_range("Components: index " + std::to_string(Index) + " out of range");
  return FComponents[static_cast<std::size_t>(Index)];
}

TComponent* TComponent::FindComponent(const AnsiString& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameText(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr) throw std::invalid_argument("InsertComponent: component is null");
  for (const TComponent* o = this; o != nullptr; o = o->FOwner)
    if (o == AComponent)
      throw std::invalid_argument("InsertComponent: a component cannot own itself or its owner");
  if (AComponent->FOwner == this) return;
  // Grow geometrically, and before anything changes, so that nothing below
  // can throw.
  if (FComponents.size() == FComponents.capacity())
    FComponents.reserve(std::max<std::size_t>(8, FComponents.size() * 2));
  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) noexcept {
  // Searched from the end: the component created last is usually the first
  // to go, as when an owner, or a failed form read, destroys its components.
  auto it = std::find(FComponents.rbegin(), FComponents.rend(), AComponent);
  if (it == FComponents.rend()) return;
  FComponents.erase(std::next(it).base());
  AComponent->FOwner = nullptr;
}

const TPublishedMethod* TComponent::FindMethod(const AnsiString& Name) const noexcept {
  for (const TPublishedMethod& m : FMethods)
    if (SameText(m.Name, Name)) return &m;
  return nullptr;
}

const TPublishedMethod& TComponent::Methods(int Index) const {
  if (Index < 0 || Index >= MethodCount())
    throw std::out_of_range("Methods: index " + std::to_string(Index) + " out of range");
  return FMethods[static_cast<std::size_t>(Index)];
}

void TComponent::AddMethod(TPublishedMethod Method) {
  // "unset" is how a form writes an event bound to nothing.
  if (!IsValidIdent(Method.Name) || SameText(Method.Name, "unset"))
    throw std::invalid_argument("PublishMethod: \"" + Method.Name +
                                "\" is not a valid method name");
  if (FindMethod(Method.Name) != nullptr)
    throw std::invalid_argument("PublishMethod: " + ClassName() + " already publishes a method " +
                                Method.Name);
  FMethods.push_back(std::move(Method));
}
