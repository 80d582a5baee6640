// TVekEngine: the standard tags as one object that an application keeps and
// shares between threads. It holds the options, where templates come from
// (a directory, an in-memory map, a callback: VekTemplateLoader.h), the
// parsed templates and the application's modifiers and tags
// (VekExtensions.h), and renders a template by name or a text with given
// data to a string, a stream or a callback.
//
//   TVekEngine engine(TVekTemplateRoot("site"));         // or VekMemoryTemplates({...})
//   engine.AddModifier("euros", ...);                    // before sharing it
//   engine.AddTag("csrf", ...);
//   const TVekData data = TVekData::parse(R"({"title": "Fruit & veg"})");
//   std::string page = engine.Render("index.html", data);
//   engine.Render("index.html", data, std::cout);        // streamed as it renders
//   engine.RenderText("<h1><#title#></h1>", data);       // "<h1>Fruit &amp; veg</h1>"
//
// Thread rules: the rendering and checking members are const and may be
// called from any number of threads at once on one engine; each render has
// its own state, and the parsed templates are shared (a template is parsed
// once per change of its file, with a short lock around the cache's map
// only: no reading or parsing under it). AddModifier, AddTag, AddFunction and the
// constructor are not safe while another thread uses the engine: register
// extensions first, then share the engine. The application's modifiers,
// tag handlers, loaders and sinks are called from the rendering threads and
// must be safe to call at the same time.
//
// TVekStdTags (VekStdTags.h), the binder of the standard tags to a
// TVekPageProducer, is the lower level under this: one producer per
// thread, the producer's own entry points and handlers.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "VekExtensions.h"
#include "VekStdTags.h"
#include "VekTemplateLoader.h"

/// Where a streamed page goes: called with each piece in order (pieces of
/// about 32 KiB), from the rendering thread. What it throws ends the render
/// and reaches the caller.
using TVekSink = std::function<void(const char* Bytes, size_t Size)>;

class VEKSTDTAGS_API TVekEngine {
 public:
  /// Renders templates of Templates (copied; a directory root or a loader's)
  /// with Options. Options.Cache, when null, becomes a cache of the engine's
  /// own; Options.Extensions, when set, is copied into the engine's own
  /// extensions (later AddModifier and AddTag do not change the caller's).
  explicit TVekEngine(TVekTemplateRoot Templates, TVekStdTagsOptions Options = {});
  ~TVekEngine();
  TVekEngine(const TVekEngine&) = delete;
  TVekEngine& operator=(const TVekEngine&) = delete;

  /// Adds or replaces a custom modifier or an application tag (see
  /// TVekExtensions). Throws std::invalid_argument for a bad or standard
  /// name. Not while another thread renders.
  void AddModifier(const std::string& Name, TVekModifier Function);
  void AddTag(const std::string& Name, TVekTagHandler Handler);
  /// Adds or replaces a function for expressions (see TVekExtensions).
  void AddFunction(const std::string& Name, TVekFunction Function);

  /// The page of the template Name (relative to the templates' root) with
  /// Data (not copied; read during the call only). Throws EVekPathError
  /// when there is no such template, EVekTemplateError for a malformed
  /// template, a bad include, a limit reached, an extension's failure (at
  /// the tag's place), or under Strict a missing value.
  std::string Render(std::string_view Name, const TVekData& Data) const;
  /// The same, written to Out as it renders. On an error, what was written
  /// stays written (render to a string where a page must be whole). Throws
  /// as Render does, and EVekTemplateError when Out fails.
  void Render(std::string_view Name, const TVekData& Data, std::ostream& Out) const;
  /// The same, handed to Sink as it renders.
  void Render(std::string_view Name, const TVekData& Data, const TVekSink& Sink) const;

  /// The page of Text taken as the template Name (includes are resolved
  /// from its directory; no template of that name need exist). Not cached:
  /// Text is parsed at every call. Throws as Render does.
  std::string RenderText(std::string_view Text, const TVekData& Data,
                         std::string_view Name = "text.html") const;
  void RenderText(std::string_view Text, const TVekData& Data, std::ostream& Out,
                  std::string_view Name = "text.html") const;
  void RenderText(std::string_view Text, const TVekData& Data, const TVekSink& Sink,
                  std::string_view Name = "text.html") const;

  /// The findings of VekCheckTemplate on the template Name, with this
  /// engine's options and extensions (registered names are known). Throws
  /// EVekPathError when there is no such template.
  std::vector<TVekTemplateIssue> Check(std::string_view Name) const;
  /// The same on Text taken as the template Name.
  std::vector<TVekTemplateIssue> CheckText(std::string_view Text,
                                           std::string_view Name = "text.html") const;

  const TVekTemplateRoot& Templates() const noexcept { return FRoot; }
  const TVekStdTagsOptions& Options() const noexcept { return FOptions; }

 private:
  void RenderName(std::string_view Name, const TVekData& Data, std::string* Out,
                  const TVekSink* Sink) const;
  void RenderString(std::string_view Text, const TVekData& Data, std::string_view Name,
                    std::string* Out, const TVekSink* Sink) const;

  TVekTemplateRoot FRoot;
  TVekStdTagsOptions FOptions;
  std::shared_ptr<TVekExtensions> FExtensions;  // FOptions.Extensions, changeable
};
