#include "Component.h"

#include <algorithm>
#include <stdexcept>

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

namespace {
bool SameTextAscii(const AnsiString& a, const AnsiString& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto up = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
           return up(x) == up(y);
         });
}
}  // namespace

TComponent* TComponent::FindComponent(const AnsiString& AName) const {
  if (AName.empty()) return nullptr;
  for (TComponent* c : FComponents)
    if (SameTextAscii(c->FName, AName)) return c;
  return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr) throw std::invalid_argument("InsertComponent: component is null");
  for (const TComponent* o = this; o != nullptr; o = o->FOwner)
    if (o == AComponent)
      throw std::invalid_argument("InsertComponent: a component cannot own itself or its owner");
  if (AComponent->FOwner == this) return;
  FComponents.reserve(FComponents.size() + 1);  // so that nothing below can throw
  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
}

void TComponent::RemoveComponent(TComponent* AComponent) noexcept {
  auto it = std::find(FComponents.begin(), FComponents.end(), AComponent);
  if (it == FComponents.end()) return;
  FComponents.erase(it);
  AComponent->FOwner = nullptr;
}
