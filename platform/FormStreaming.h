// Form streaming: a component, its published properties and the components
// it owns, saved to and loaded from a small human-readable text (the format
// is described in docs/form-format.md).
//
//   component DemoModule: TDemoModule
//     component Producer: TVekPageProducer
//       HTMLDoc = [
//         "<p>Hello, <#user#>!</p>"
//       ]
//       VekTagBeg = "<#"
//       VekTagEnd = "#>"
//       OnVekTag = PageTag
//       OnVekPairTag = unset
//     end
//   end
//
// Events are stored by the name of a method that a component publishes
// (TComponent::PublishMethod). A name is looked up, both when writing and
// when reading, on the component that holds the event, then on its owner,
// its owner's owner and so on: the first that publishes a method of that
// name provides it.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "AnsiString.h"
#include "Component.h"
#include "Export.h"
#include "Properties.h"

class TStream;

/// A form that cannot be read, or a component that cannot be written.
/// Reading errors carry the number (from 1) of the form's line at fault, and
/// the message begins with it: "line 7: expected ...". Writing errors have
/// Line() 0.
class VCL50_API EFormError : public std::runtime_error {
 public:
  EFormError(std::size_t Line, const AnsiString& Message);
  std::size_t Line() const noexcept { return FLine; }

 private:
  std::size_t FLine;
};

/// Creates a component of one class, owned by Owner (which may be null).
using TComponentCreator = std::function<TComponent*(TComponent* Owner)>;

/// The classes a form may name, each with the function that creates one.
class VCL50_API TClassTable {
 public:
  /// Adds a class. Throws std::invalid_argument when ClassName is not an
  /// identifier or already registered (letter case ignored), or Create is
  /// empty. The created component's ClassName() must be ClassName.
  void Register(const AnsiString& ClassName, TComponentCreator Create);
  /// Adds the class T, created as new T(Owner).
  template <class T>
  void Register(const AnsiString& ClassName) {
    Register(ClassName, [](TComponent* Owner) -> TComponent* { return new T(Owner); });
  }
  /// The creator of ClassName (letter case ignored), or nullptr.
  const TComponentCreator* Find(const AnsiString& ClassName) const noexcept;

 private:
  std::vector<std::pair<AnsiString, TComponentCreator>> FClasses;
};

/// Writes Root with its name, class and published properties, and nested in
/// it every component it owns, in order of ownership, recursively.
/// Throws EFormError (Line() 0) when something cannot be stored so that it
/// reads back the same: a name or class name that is not an identifier, two
/// owned components of the same name, an event bound to a handler that is
/// not a published method (or not to the object that publishes it), or
/// components nested deeper than 64 levels. Throws std::invalid_argument for
/// a null Root.
VCL50_API AnsiString WriteComponentText(TComponent* Root);
/// Writes WriteComponentText(Root) to Stream at its position.
/// Throws as WriteComponentText does, and the stream's errors.
VCL50_API void WriteComponentToStream(TStream* Stream, TComponent* Root);

/// Fills the existing Root from the form Text: the form's top component must
/// be of Root's class; Root takes its name and properties. A nested component
/// is filled when its owner already owns one of that name (which must be of
/// the same class), and is otherwise created through Classes and owned by the
/// component it is nested in. Properties the form does not mention keep their
/// values. String lists are assigned through the property's setter with a
/// list the reader owns.
///
/// Accepts any bytes: a text that is not a well-formed form, or that names an
/// unknown class, property or method, or a value of the wrong kind, throws
/// EFormError naming the line and what was expected. Syntax is checked before
/// anything is changed; when a later error occurs, the components this call
/// created are destroyed again, while properties already assigned keep their
/// new values. Exceptions from setters and constructors pass unchanged.
/// Throws std::invalid_argument for a null Root.
VCL50_API void ReadComponentText(const AnsiString& Text, TComponent* Root,
                                 const TClassTable& Classes);
/// Reads Stream from its position to its end and fills Root from it, as
/// ReadComponentText does. Throws std::invalid_argument for a null Stream.
VCL50_API void ReadComponentFromStream(TStream* Stream, TComponent* Root,
                                       const TClassTable& Classes);

/// Creates the form's top component through Classes, owned by Owner, and
/// fills it from Text as ReadComponentText does. Returns it: Owner destroys
/// it, or the caller when Owner is null. On any error nothing created is
/// left behind. Throws as ReadComponentText does, and EFormError when Owner
/// already owns a component of the top component's name.
VCL50_API TComponent* CreateComponentFromText(const AnsiString& Text, TComponent* Owner,
                                              const TClassTable& Classes);
