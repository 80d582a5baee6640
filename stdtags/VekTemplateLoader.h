// Where templates come from besides a directory: a loader that a
// TVekTemplateRoot asks for a template by name, and the two ready ones, an
// in-memory map and a callback.
//
//   TVekTemplateRoot mem = VekMemoryTemplates({{"index.html", "<p><#title#></p>"}});
//   TVekTemplateRoot db = VekCallbackTemplates([&](const std::string& Name, std::string& Text) {
//     return store.Find(Name, Text);  // false: no such template
//   });
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "VekStdTags.h"

/// A source of templates by name. Names come normalised: relative, with "/"
/// separators, no "." or ".." part, never empty ("part.html",
/// "mail/footer.html"). Both members are called from every thread that
/// renders, at the same time: an implementation must be safe for that.
class VEKSTDTAGS_API TVekTemplateLoader {
 public:
  virtual ~TVekTemplateLoader();
  /// False when there is no template Name; else true with Stamp filled with
  /// what tells this version of it from another (a parsed template is kept
  /// while the stamp is unchanged; Size must be the text's size, which the
  /// limit MaxTemplateSize is judged by before the text is read).
  virtual bool Find(const std::string& Name, TVekFileStamp& Stamp) const = 0;
  /// The text of Name. Throws EVekPathError (pkNotFound) when it is gone,
  /// or any EVekTemplateError when it cannot be had.
  virtual std::string Read(const std::string& Name) const = 0;
};

/// A root over the templates Templates (name to text), kept in memory and
/// never changed. Names are given as templates name them ("part.html",
/// "mail/footer.html").
VEKSTDTAGS_API TVekTemplateRoot VekMemoryTemplates(std::map<std::string, std::string> Templates);

/// The application's source of templates: fills Text with the template Name
/// and returns true, or returns false when there is none. Called from
/// every thread that renders, at the same time, and more than once per
/// render of a template (the text is compared by its size and a 64-bit
/// hash to decide whether it changed; a changed text is parsed again). It
/// may throw any EVekTemplateError.
using TVekTemplateSource = std::function<bool(const std::string& Name, std::string& Text)>;

/// A root over Source (not empty, else std::invalid_argument).
VEKSTDTAGS_API TVekTemplateRoot VekCallbackTemplates(TVekTemplateSource Source);
