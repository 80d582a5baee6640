// TVekPageProducer: a content producer that expands the tags of an HTML
// template through the application's handlers.
//
// A tag is whatever stands between an opening and a closing delimiter, by
// default "<#" and "#>". Each tag is parsed into a name and blank-separated
// parameters (quotes group values that hold blanks) and handed to OnVekTag,
// whose answer replaces it. A handler may instead declare the tag the opening
// of a pair: the raw body up to the matching closing tag ("/" and the same
// name, nesting counted, letter case ignored) then goes to OnVekPairTag.
//
//   TVekPageProducer producer(nullptr);
//   producer.SetOnVekTag([](TObject*, const AnsiString& name, TStrings* params,
//                           AnsiString& text, int& state) {
//     if (name == "user") text = params->Values("n");
//   });
//   AnsiString page = producer.ContentFromString("<p>Hi <#user n=Ann#></p>");
//   // page == "<p>Hi Ann</p>"
//
// Including this header alone gives everything needed to use the component:
// the producer, the string lists, the streams and the handler types. Code
// that loads packages (Package.h), reads or writes forms (FormStreaming.h),
// declares properties (Properties.h) or uses the text routines
// (TextRoutines.h) includes those headers itself.
#pragma once

#include <cstddef>
#include <memory>

#include "AnsiString.h"
#include "Component.h"
#include "ContentProducer.h"
#include "Event.h"
#include "Export.h"
#include "Streams.h"
#include "StringList.h"

#if defined(PVEKPGPRD_BUILDING)
#define VEKPGPROD_API VEK_DLL_EXPORT
#else
#define VEKPGPROD_API VEK_DLL_IMPORT
#endif

// The package module exports the class's members one by one (VEKPGPROD_API)
// and its run-time type information, which the class mark below makes visible
// to other modules where the platform does it that way (see Export.h). The
// module's link step keeps the rest, its virtual table included, inside.
#define VEKPGPROD_CLASS VEK_TYPEINFO_VISIBLE

struct TComponentClassInfo;  // the class reference type, declared in Package.h
namespace vek {
class PreparedTexts;  // the producer's prepared templates, internal
struct PreparedText;  // a text with its tag table, internal
}  // namespace vek

/// What a handler asks the expansion to do next (its RetState answer).
/// Any other value is the same as rsContinue.
enum TVekTagState : int {
  rsContinue = 0,  ///< go on after the tag
  rsStop = 1,      ///< end the expansion at once; nothing after the tag is output
  rsPairTag = 2,   ///< the tag opens a pair: its body goes to OnVekPairTag
};

/// Called for every tag. TagName and TagParams are the producer's own fields,
/// overwritten at the next tag: copy what you need to keep. RetText ("" on
/// entry) replaces the tag; RetState (0 on entry) is a TVekTagState.
using TVekTagEvent = TEvent<void(TObject* Sender, const AnsiString& TagName, TStrings* TagParams,
                                 AnsiString& RetText, int& RetState)>;

/// Called with the raw, unexpanded body of a pair. TagName and TagParams are
/// those of the opening tag; RetText replaces the body and both tags;
/// RetState rsStop ends the expansion, any other value goes on after the
/// closing tag.
using TVekPairTagEvent =
    TEvent<void(TObject* Sender, const AnsiString& TagName, TStrings* TagParams,
                const AnsiString& InnerText, AnsiString& RetText, int& RetState)>;

/// A template body prepared for TVekPageProducer::ExpandBody: a copy of its
/// text with its tags found and parsed (its tag table). Made by PrepareBody;
/// a default-constructed handle holds nothing. Copies share the prepared
/// text, which lives as long as the last copy; it is independent of the
/// producer that made it, and holds no reference to the string it was made
/// from. A handle is used on one thread at a time (its table is built again
/// in place when the delimiters change).
class TVekBody {
 public:
  /// Whether the handle holds a prepared text.
  explicit operator bool() const noexcept { return FText != nullptr; }

 private:
  friend class TVekPageProducer;
  std::shared_ptr<vek::PreparedText> FText;
};

/// The content producer that expands the tags of an HTML template through
/// the application's handlers OnVekTag and OnVekPairTag (see the top of this
/// header for the template's syntax and an example). One producer serves one
/// expansion at a time; distinct producers may run on distinct threads.
class VEKPGPROD_CLASS TVekPageProducer : public TCustomContentProducer {
 public:
  /// Creates a producer with the delimiters "<#" and "#>", an empty template
  /// and no handlers. With a non-null Owner it must be created with new; the
  /// owner destroys it.
  VEKPGPROD_API explicit TVekPageProducer(TComponent* Owner);
  VEKPGPROD_API ~TVekPageProducer() override;
  AnsiString ClassName() const override { return "TVekPageProducer"; }

  /// The class reference through which a host that knows the class only by
  /// name creates one (see RegisterComponents and CreateComponent).
  VEKPGPROD_API static const TComponentClassInfo ClassRef;

  // ---- Content-producer entry points ---------------------------------------
  // None of them catches exceptions: an exception from a handler or from a
  // stream reaches the caller, and the partial output is discarded.

  /// Expands the template held in HTMLDoc, every line followed by CR LF.
  VEKPGPROD_API AnsiString Content() override;
  /// Expands the text of Stream, read from its current position to its end;
  /// its line breaks (CR LF, CR or LF) come out as CR LF, with one after the
  /// last line. Leaves HTMLResult's list empty. Throws std::invalid_argument
  /// for a null Stream.
  VEKPGPROD_API AnsiString ContentFromStream(TStream* Stream) override;
  /// Expands S exactly as it stands.
  VEKPGPROD_API AnsiString ContentFromString(const AnsiString& S) override;
  /// Expands the lines of Doc, every line followed by CR LF. Doc stays the
  /// caller's. Throws std::invalid_argument for a null Doc.
  VEKPGPROD_API AnsiString Execute(TStrings* Doc);
  /// Expands the template Doc: literal text is copied, every tag is replaced
  /// by what OnVekTag answers. Returns "" when Doc or either delimiter is
  /// empty. The template is seen up to its first NUL byte. An opening
  /// delimiter without a closing one ends the output just before it.
  /// Handlers must not modify Doc while it is being expanded.
  VEKPGPROD_API AnsiString Execute(const AnsiString& Doc);

  // ---- Loops: a pair's body expanded into the page ---------------------------
  // A pair handler that repeats its body (a loop over rows) prepares the body
  // once and expands it once per row straight into the output of the running
  // expansion, instead of appending ContentFromString(InnerText) to RetText:
  //
  //   void Rows(TObject* Sender, const AnsiString&, TStrings*,
  //             const AnsiString& Body, AnsiString& Text, int& State) {
  //     auto* p = static_cast<TVekPageProducer*>(Sender);
  //     const TVekBody body = p->PrepareBody(Body);
  //     for (const Row& r : rows) { current = &r; p->ExpandBody(body); }
  //   }
  //
  // The page is the same as with RetText += ContentFromString(Body) for every
  // row, the handler calls too; what ExpandBody writes comes before the
  // handler's RetText.

  /// A handle on a copy of Body, whose tags are found and parsed on its first
  /// expansion, once for all the expansions that follow (again only when the
  /// delimiters change). The text is seen up to its first NUL byte, as
  /// Execute sees it. The producer keeps the body it prepared last and hands
  /// it out again for the same bytes (one comparison, no cache search).
  /// Throws what allocation throws.
  VEKPGPROD_API TVekBody PrepareBody(const AnsiString& Body);

  /// Expands Body as Execute(Body) would, with the present delimiters and
  /// handlers, and appends the result to the output of the innermost
  /// expansion of this producer that is running (the page being produced,
  /// or a nested expansion's output when called from one): no output string
  /// of its own, no copy. A handler may call it any number of times, also
  /// from nested expansions, and the handlers it calls may call it in turn.
  /// When the delimiters differ from those Body was prepared with, its table
  /// is built again for the new ones (a handler changing them mid-expansion
  /// is followed tag by tag, as Execute follows it). An rsStop answer ends
  /// this expansion of Body only. Overwrites TagName and TagParams as any
  /// expansion does.
  /// Throws std::invalid_argument for an empty handle and std::logic_error
  /// when no expansion of this producer is running. An exception from a
  /// handler propagates; what this call had written is then taken back, unless
  /// part of it already went to the stream of ExecuteTo or ContentTo.
  VEKPGPROD_API void ExpandBody(const TVekBody& Body);

  // ---- Output to a stream ---------------------------------------------------
  // The same expansions as Content and Execute, written to Out in chunks as
  // they go, so that an expansion holds its template and a buffer of at most
  // 64 KiB instead of the whole output (a piece longer than the buffer, such
  // as a long answer, is written as it stands). Out stays the caller's; the
  // bytes go to its position through WriteBuffer. An exception from a handler or from
  // Out (EWriteError on a short write) propagates, and what was written
  // before it stays written. An empty template or delimiter writes nothing.
  // Throw std::invalid_argument for a null Out or Doc.

  /// Expands HTMLDoc to Out (not through the virtual Content).
  VEKPGPROD_API void ContentTo(TStream* Out);
  /// Expands Doc to Out, as Execute(Doc) does.
  VEKPGPROD_API void ExecuteTo(const AnsiString& Doc, TStream* Out);
  /// Expands the lines of Doc to Out, as Execute(Doc) does.
  VEKPGPROD_API void ExecuteTo(TStrings* Doc, TStream* Out);

  /// Bounds the producer's cache of prepared texts: a text that Execute (or
  /// ContentFromString, ContentFromStream, ExecuteTo) expands a second time
  /// is kept with its tags found and parsed, and recognised by its bytes the
  /// next times, so that it is not scanned again. At most Entries texts of at
  /// most Bytes bytes in all are kept, the least recently used dropped first;
  /// 0 keeps none. By default 16 texts and 16 MiB. Texts with fewer than one
  /// tag per 256 bytes are scanned every time (comparing their bytes costs
  /// more). HTMLDoc is kept apart (up to 64 MiB), prepared on its second
  /// expansion while it is unchanged.
  VEKPGPROD_API void SetPreparedTextLimits(unsigned Entries, unsigned long long Bytes);

  /// Expands the template again (through the virtual Content) and returns
  /// its lines. The list is owned by the producer; its contents are valid
  /// until the next read of HTMLResult or the next ContentFromStream.
  ///@{
  VEKPGPROD_API TStrings* GetHTMLResult();
  TStrings* HTMLResult() { return GetHTMLResult(); }
  ///@}
  /// Does nothing: HTMLResult cannot be set.
  VEKPGPROD_API void SetHTMLResult(TStrings* Value);

  // ---- The engine's steps, public for handlers and tools -------------------

  /// Finds the next tag in the NUL-terminated Text from byte offset Pos on,
  /// with the current delimiters. Sets *Tag to "" and, when a complete tag
  /// follows, to its text trimmed of blanks, moves Pos just past its closing
  /// delimiter and returns true. When Before is given, the literal text
  /// passed over is appended to it: up to the tag, or up to an opening
  /// delimiter that has no closing one, or to the end when no opening
  /// delimiter follows. Pos is unchanged when no complete tag is found.
  /// Cost is proportional to the bytes passed over.
  /// Throws std::invalid_argument for a null Text or Tag, std::out_of_range
  /// for a negative Pos, and std::overflow_error (changing nothing) when the
  /// new position would not fit in an int. Pos must not lie past Text's NUL.
  VEKPGPROD_API bool ExtractNextTag(const char* Text, int& Pos, AnsiString* Before,
                                    AnsiString* Tag);

  /// Splits a tag's text into its name and parameters. Tokens are separated
  /// by blanks; a quoted stretch ('...' or "...") keeps its blanks, loses its
  /// quotes and is joined to the word bytes right before it, so that
  /// «file="a b.txt"» gives the parameter «file=a b.txt». The first token is
  /// the name, later ones are appended to Params (cleared first). With Params
  /// null the parse stops at the name. Uses no state of a producer.
  VEKPGPROD_API static void ExtractTagParams(const AnsiString& TagText, AnsiString& Name,
                                             TStrings* Params);

  /// Finds the body of a pair whose opening tag, named TagName, ends just
  /// before Pos in the NUL-terminated Text. Tags named TagName open a further
  /// level, tags named "/" + TagName close one (letter case ignored by the
  /// user's locale, parameters ignored). When the matching closing tag is
  /// found, Inner is set to the raw text before it and Pos moves past it;
  /// otherwise Inner is "" and Pos is unchanged. Cost is proportional to the
  /// bytes passed over. Throws as ExtractNextTag does.
  VEKPGPROD_API void ExtractInnerText(const AnsiString& TagName, const char* Text, int& Pos,
                                      AnsiString& Inner);

  // ---- Properties ----------------------------------------------------------

  /// The published properties, in the order forms store them: HTMLDoc,
  /// VekTagBeg, VekTagEnd, OnVekTag, OnVekPairTag, each always stored. A form
  /// assigns HTMLDoc through SetHTMLDoc and the delimiters through their
  /// setters; the events are stored by the names of published methods.
  VEKPGPROD_API void DeclareProperties(TPropertyList& Properties) override;

  /// The template, one line per entry; owned by the producer.
  TStrings* HTMLDoc() noexcept { return &FHTMLDoc; }
  /// Copies the lines of Value into HTMLDoc; Value stays the caller's.
  /// Throws std::invalid_argument for a null Value.
  VEKPGPROD_API void SetHTMLDoc(TStrings* Value);

  /// The opening and closing delimiters of a tag ("<#" and "#>" by default).
  /// Stored unchanged; an empty one makes every expansion return "". A
  /// delimiter is searched for as its bytes before any NUL byte it holds.
  /// They are read at every tag, so a handler may change them mid-expansion.
  ///@{
  const AnsiString& VekTagBeg() const noexcept { return FVekTagBeg; }
  VEKPGPROD_API void SetVekTagBeg(const AnsiString& Value);
  const AnsiString& VekTagEnd() const noexcept { return FVekTagEnd; }
  VEKPGPROD_API void SetVekTagEnd(const AnsiString& Value);
  ///@}

  /// The handlers (see TVekTagEvent and TVekPairTagEvent). Unset, a handler's
  /// answer is empty: the tag, or the pair with its body, leaves no text.
  ///@{
  const TVekTagEvent& OnVekTag() const noexcept { return FOnVekTag; }
  void SetOnVekTag(TVekTagEvent Value) { FOnVekTag = std::move(Value); }
  const TVekPairTagEvent& OnVekPairTag() const noexcept { return FOnVekPairTag; }
  void SetOnVekPairTag(TVekPairTagEvent Value) { FOnVekPairTag = std::move(Value); }
  ///@}

  /// The name and parameters of the tag handled last (kept across calls).
  ///@{
  const AnsiString& TagName() const noexcept { return FTagName; }
  const TStrings* TagParams() const noexcept { return &FTagParams; }
  ///@}

 private:
  TStringList FResultList;
  TStringList FHTMLDoc;
  AnsiString FVekTagBeg;
  AnsiString FVekTagEnd;
  TVekTagEvent FOnVekTag;
  TVekPairTagEvent FOnVekPairTag;
  AnsiString FTagName;
  TStringList FTagParams;
  // Changes with every change of the delimiters, to a value no producer of
  // the process had before: equal stamps mean the same delimiters.
  unsigned long long FDelimiterEdits = 0;
  std::unique_ptr<vek::PreparedTexts> FPrepared;

  friend struct TVekExpansion;  // the expansion loop, in the source file
  friend class TVekLoop;
};

// The unit's entries in the package module.
namespace VekPgProd {
/// Puts TVekPageProducer on the palette page "Internet" (RegisterComponents).
/// A host calls it through the loaded package (RegisterPackage).
VEKPGPROD_API void Register();
/// The unit's initialisation and finalisation, run by the package loader.
/// They do nothing.
VEKPGPROD_API void Initialization();
VEKPGPROD_API void Finalization();
}  // namespace VekPgProd
