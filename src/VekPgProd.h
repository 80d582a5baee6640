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

  /// Expands the template again (through the virtual Content) and returns
  /// its lines. The list is owned by the producer; its contents are valid
  /// until the next read of HTMLResult or the next ContentFromStream.
  VEKPGPROD_API TStrings* GetHTMLResult();
  TStrings* HTMLResult() { return GetHTMLResult(); }
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
  const AnsiString& VekTagBeg() const noexcept { return FVekTagBeg; }
  VEKPGPROD_API void SetVekTagBeg(const AnsiString& Value);
  const AnsiString& VekTagEnd() const noexcept { return FVekTagEnd; }
  VEKPGPROD_API void SetVekTagEnd(const AnsiString& Value);

  const TVekTagEvent& OnVekTag() const noexcept { return FOnVekTag; }
  void SetOnVekTag(TVekTagEvent Value) { FOnVekTag = std::move(Value); }
  const TVekPairTagEvent& OnVekPairTag() const noexcept { return FOnVekPairTag; }
  void SetOnVekPairTag(TVekPairTagEvent Value) { FOnVekPairTag = std::move(Value); }

  /// The name and parameters of the tag handled last (kept across calls).
  const AnsiString& TagName() const noexcept { return FTagName; }
  const TStrings* TagParams() const noexcept { return &FTagParams; }

 private:
  TStringList FResultList;
  TStringList FHTMLDoc;
  AnsiString FVekTagBeg;
  AnsiString FVekTagEnd;
  TVekTagEvent FOnVekTag;
  TVekPairTagEvent FOnVekPairTag;
  AnsiString FTagName;
  TStringList FTagParams;
  unsigned long long FDelimiterEdits = 0;  // counts changes of the delimiters

  friend struct TVekExpansion;  // the expansion loop, in the source file
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
