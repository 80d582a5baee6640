// The form writer: a component, its published properties and the components
// it owns as form text.
#include <cstring>
#include <stdexcept>

#include "FormStreaming.h"
#include "FormTree.h"
#include "Streams.h"
#include "StringList.h"
#include "TextRoutines.h"

using namespace vek_form;

namespace {

[[noreturn]] void CannotStore(const TComponent* c, const AnsiString& why) {
  throw EFormError(0, "Cannot store " + Describe(c) + ": " + why);
}

void WriteEvent(AnsiString& out, TComponent* c, const TPropertyInfo& p) {
  const TEventBinding b = p.GetEvent();
  if (!b.Assigned) {
    out += "unset";
    return;
  }
  if (b.MethodName.empty())
    CannotStore(c, p.Name + " is bound to a handler that is not a published method");
  TComponent* publisher = nullptr;
  const TPublishedMethod* m = ResolveMethod(c, b.MethodName, &publisher);
  if (m == nullptr)
    CannotStore(c, p.Name + " is bound to the method " + b.MethodName + ", which none of " +
                       SearchPath(c) + " publishes");
  if (std::strcmp(m->Signature, p.EventSignature) != 0)
    CannotStore(c, p.Name + " is bound to " + b.MethodName + ", but " + m->Name + " of " +
                       Describe(publisher) + " has other parameters");
  if (m->Object != b.Object)
    CannotStore(c, p.Name + " is bound to " + b.MethodName + " of another object than " +
                       Describe(publisher) + ", which publishes it");
  out += m->Name;
}

void WriteObject(AnsiString& out, TComponent* c, int depth) {
  if (depth >= kMaxDepth)
    CannotStore(c, "components nest deeper than " + std::to_string(kMaxDepth) + " levels");
  const AnsiString cls = c->ClassName();
  if (!c->Name().empty() && !IsValidIdent(c->Name()))
    CannotStore(c, "its name " + Quoted(c->Name()) + " is not an identifier");
  if (!IsValidIdent(cls)) CannotStore(c, "its class name " + Quoted(cls) + " is not an identifier");
  const AnsiString indent(static_cast<size_t>(depth) * 2, ' ');
  out += indent + "component" + (c->Name().empty() ? "" : " " + c->Name()) + ": " + cls + "\n";

  TPropertyList props;
  c->DeclareProperties(props);
  for (int i = 0; i < props.Count(); ++i) {
    const TPropertyInfo& p = props[i];
    out += indent + "  " + p.Name + " = ";
    switch (p.Kind) {
      case TPropertyKind::pkString:
        AppendQuoted(out, p.GetString());
        break;
      case TPropertyKind::pkStrings: {
        const TStrings* list = p.GetStrings();
        if (list == nullptr || list->Count() == 0) {
          out += "[]";
          break;
        }
        out += "[\n";
        for (const AnsiString& s : *list) {
          out += indent + "    ";
          AppendQuoted(out, s);
          out += '\n';
        }
        out += indent + "  ]";
        break;
      }
      case TPropertyKind::pkEvent:
        WriteEvent(out, c, p);
        break;
    }
    out += '\n';
  }

  NameIndex names;
  for (int i = 0; i < c->ComponentCount(); ++i) {
    TComponent* child = c->Components(i);
    if (!child->Name().empty() &&
        !names.emplace(NameKey(child->Name()), static_cast<size_t>(i)).second)
      CannotStore(c, "it owns two components named " + child->Name());
    WriteObject(out, child, depth + 1);
  }
  out += indent + "end\n";
}

}  // namespace

AnsiString WriteComponentText(TComponent* Root) {
  if (Root == nullptr) throw std::invalid_argument("WriteComponentText: Root is null");
  AnsiString out;
  WriteObject(out, Root, 0);
  return out;
}

void WriteComponentToStream(TStream* Stream, TComponent* Root) {
  if (Stream == nullptr) throw std::invalid_argument("WriteComponentToStream: Stream is null");
  const AnsiString text = WriteComponentText(Root);
  Stream->WriteBuffer(text.data(), static_cast<std::int64_t>(text.size()));
}
