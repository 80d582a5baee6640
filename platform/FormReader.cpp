// The form reader: the class table, and the building of components and the
// setting of their properties from a parsed form, undone when it fails.
#include <stdexcept>

#include "FormStreaming.h"
#include "FormTree.h"
#include "Streams.h"
#include "StringList.h"
#include "TextRoutines.h"

using namespace vek_form;

namespace {

class FormBuilder {
 public:
  explicit FormBuilder(const TClassTable& classes) : FClasses(classes) {}

  // Destroys what was created when an error left the read unfinished.
  ~FormBuilder() {
    if (FCommitted) return;
    for (auto it = FCreated.rbegin(); it != FCreated.rend(); ++it) delete *it;
  }

  void Commit() { FCommitted = true; }

  TComponent* Create(const FormObject& n, TComponent* owner) {
    const TComponentCreator* create = FClasses.Find(n.ClassName);
    if (create == nullptr)
      throw EFormError(n.Line,
                       "expected a registered class, found the unknown class " + n.ClassName);
    TComponent* c = (*create)(owner);
    if (c == nullptr) throw EFormError(n.Line, "the class table created no " + n.ClassName);
    FCreated.push_back(c);
    if (owner != nullptr && c->Owner() != owner) owner->InsertComponent(c);
    if (!SameText(c->ClassName(), n.ClassName))
      throw EFormError(n.Line,
                       "the class table created a " + c->ClassName() + " for " + n.ClassName);
    c->SetName(n.Name);
    return c;
  }

  void Fill(const FormObject& n, TComponent* c) {
    TPropertyList props;
    c->DeclareProperties(props);
    for (const FormProperty& p : n.Properties) Assign(p, props, c);
    if (n.Children.empty()) return;
    // The components c owned before, by name: the form's names are distinct,
    // so components created below are never looked up.
    std::unordered_map<AnsiString, TComponent*> owned;
    for (int i = 0; i < c->ComponentCount(); ++i)
      if (!c->Components(i)->Name().empty())
        owned.emplace(NameKey(c->Components(i)->Name()), c->Components(i));
    for (const auto& child : n.Children) {
      TComponent* existing = nullptr;
      if (!child->Name.empty())
        if (const auto it = owned.find(NameKey(child->Name)); it != owned.end())
          existing = it->second;
      if (existing != nullptr && !SameText(existing->ClassName(), child->ClassName))
        throw EFormError(child->Line, "expected " + Describe(existing) + " of " + Describe(c) +
                                          " to be a " + child->ClassName + ", found a " +
                                          existing->ClassName());
      Fill(*child, existing != nullptr ? existing : Create(*child, c));
    }
  }

 private:
  void Assign(const FormProperty& p, const TPropertyList& props, TComponent* c) {
    const TPropertyInfo* info = props.Find(p.Name);
    if (info == nullptr)
      throw EFormError(p.Line, "expected a published property of " + c->ClassName() +
                                   ", found the unknown property " + p.Name);
    const FormValue& v = p.Value;
    const auto wrongKind = [&](const char* expected) {
      throw EFormError(p.Line, AnsiString("expected ") + expected + " for " + info->Name +
                                   ", found " + KindText(v.Kind));
    };
    switch (info->Kind) {
      case TPropertyKind::pkString:
        if (v.Kind != FormValue::kString) wrongKind("a quoted string");
        info->SetString(v.Text);
        break;
      case TPropertyKind::pkStrings: {
        if (v.Kind != FormValue::kList) wrongKind("a list of strings in [ ]");
        TStringList list;
        for (const AnsiString& s : v.Lines) list.Add(s);
        info->SetStrings(&list);
        break;
      }
      case TPropertyKind::pkEvent: {
        if (v.Kind == FormValue::kUnset) {
          info->SetEvent(nullptr);
          break;
        }
        if (v.Kind != FormValue::kMethod) wrongKind("a method name or \"unset\"");
        TComponent* publisher = nullptr;
        const TPublishedMethod* m = ResolveMethod(c, v.Text, &publisher);
        if (m == nullptr)
          throw EFormError(p.Line, "expected a published method for " + info->Name +
                                       ", found the unknown method " + v.Text + " (looked in " +
                                       SearchPath(c) + ")");
        if (std::strcmp(m->Signature, info->EventSignature) != 0)
          throw EFormError(p.Line, "expected a method with the parameters of " + info->Name +
                                       ", found " + m->Name + " of " + Describe(publisher) +
                                       ", which has others");
        info->SetEvent(m);
        break;
      }
    }
  }

  const TClassTable& FClasses;
  std::vector<TComponent*> FCreated;  // in order of creation
  bool FCommitted = false;
};

}  // namespace

void TClassTable::Register(const AnsiString& ClassName, TComponentCreator Create) {
  if (!IsValidIdent(ClassName))
    throw std::invalid_argument("RegisterClass: \"" + ClassName + "\" is not a valid class name");
  if (!Create) throw std::invalid_argument("RegisterClass: no creator for " + ClassName);
  if (Find(ClassName) != nullptr)
    throw std::invalid_argument("RegisterClass: " + ClassName + " is already registered");
  FClasses.emplace_back(ClassName, std::move(Create));
}

const TComponentCreator* TClassTable::Find(const AnsiString& ClassName) const noexcept {
  for (const auto& [name, create] : FClasses)
    if (SameText(name, ClassName)) return &create;
  return nullptr;
}

void ReadComponentText(const AnsiString& Text, TComponent* Root, const TClassTable& Classes) {
  if (Root == nullptr) throw std::invalid_argument("ReadComponentText: Root is null");
  const std::unique_ptr<FormObject> top = ParseForm(Text);
  if (!SameText(top->ClassName, Root->ClassName()))
    throw EFormError(top->Line, "expected a form of a " + Root->ClassName() + ", found one of a " +
                                    top->ClassName);
  FormBuilder builder(Classes);
  Root->SetName(top->Name);
  builder.Fill(*top, Root);
  builder.Commit();
}

void ReadComponentFromStream(TStream* Stream, TComponent* Root, const TClassTable& Classes) {
  if (Stream == nullptr) throw std::invalid_argument("ReadComponentFromStream: Stream is null");
  ReadComponentText(Stream->ReadToEnd(), Root, Classes);
}

TComponent* CreateComponentFromText(const AnsiString& Text, TComponent* Owner,
                                    const TClassTable& Classes) {
  const std::unique_ptr<FormObject> top = ParseForm(Text);
  if (Owner != nullptr && !top->Name.empty() && Owner->FindComponent(top->Name) != nullptr)
    throw EFormError(top->Line, "expected a component name not yet used in " + Describe(Owner) +
                                    ", found " + top->Name);
  FormBuilder builder(Classes);
  TComponent* c = builder.Create(*top, Owner);
  builder.Fill(*top, c);
  builder.Commit();
  return c;
}
