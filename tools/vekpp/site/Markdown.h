// Markdown to HTML for vekpp's pages: CommonMark with GitHub's tables,
// strikethrough, task lists and autolinks (md4c), headings given ids, and
// the plain text of the result for summaries and word counts.
#pragma once

#include <cstddef>
#include <string>

/// How Markdown is rendered.
struct TMarkdownOptions {
  /// Raw HTML in the Markdown is kept; when false it is shown as text.
  bool Unsafe = true;
};

/// The most bytes of Markdown one page may hold: a larger file is refused
/// before it is parsed, naming the limit.
constexpr std::size_t kMaxMarkdownBytes = std::size_t{64} << 20;

/// Text rendered as HTML, in time linear in the text. Every heading gets an
/// id made of its text (lower-case ASCII letters, digits, bytes of other
/// UTF-8 characters, "-" for runs of anything else), numbered "-1", "-2" ...
/// where one repeats. Throws std::runtime_error whose message starts with
/// Name for text over kMaxMarkdownBytes or that the parser gives up on.
std::string VekMarkdownHtml(const std::string& Text, const TMarkdownOptions& Options,
                            const std::string& Name);

/// The text of Html with its tags dropped, blanks between words made one
/// space and the character references &amp; &lt; &gt; &quot; &#39; decoded
/// (others are kept as written). Linear in Html.
std::string VekHtmlText(const std::string& Html);

/// The words of Text: runs of bytes that are not blanks.
std::size_t VekWordCount(const std::string& Text);

/// Text cut after MaxWords words, with "…" appended when something was cut.
std::string VekFirstWords(const std::string& Text, std::size_t MaxWords);
