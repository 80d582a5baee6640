/* The two Debian CommonMark libraries on the same inputs: a 10 MB document of
   ordinary blog Markdown (GFM tables, strikethrough, task lists, autolinks)
   and hostile shapes (quotes nested 100,000 deep, unclosed emphasis and
   brackets). Thread CPU and wall time of one render each. Not part of the
   CMake build (cmark-gfm is not a dependency of the project):
     cc -O2 bench/site/compare_markdown.c -o /tmp/compare_markdown \
        $(pkg-config --cflags --libs md4c-html libcmark-gfm) -lcmark-gfm-extensions
     /tmp/compare_markdown */
#include <cmark-gfm-core-extensions.h>
#include <cmark-gfm.h>
#include <md4c-html.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double Now(clockid_t Clock) {
  struct timespec t;
  clock_gettime(Clock, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}
static size_t Sink;
static void Out(const MD_CHAR* Text, MD_SIZE Size, void* User) {
  (void)Text;
  (void)User;
  Sink += Size;
}
static const char* kGfm[] = {"table", "strikethrough", "tasklist", "autolink"};

static void Time(const char* Label, const char* Text, size_t Size) {
  double c0 = Now(CLOCK_THREAD_CPUTIME_ID), w0 = Now(CLOCK_MONOTONIC);
  md_html(Text, (MD_SIZE)Size, Out, NULL, MD_DIALECT_GITHUB, 0);
  double c1 = Now(CLOCK_THREAD_CPUTIME_ID), w1 = Now(CLOCK_MONOTONIC);
  cmark_parser* p = cmark_parser_new(CMARK_OPT_UNSAFE);
  for (int i = 0; i < 4; ++i) {
    cmark_syntax_extension* e = cmark_find_syntax_extension(kGfm[i]);
    if (e) cmark_parser_attach_syntax_extension(p, e);
  }
  cmark_parser_feed(p, Text, Size);
  cmark_node* doc = cmark_parser_finish(p);
  char* html = cmark_render_html(doc, CMARK_OPT_UNSAFE, cmark_parser_get_syntax_extensions(p));
  double c2 = Now(CLOCK_THREAD_CPUTIME_ID), w2 = Now(CLOCK_MONOTONIC);
  printf("%-28s %6.1f MB  md4c cpu %7.1f ms wall %7.1f ms   cmark-gfm cpu %7.1f ms wall %7.1f ms\n",
         Label, Size / 1e6, (c1 - c0) * 1e3, (w1 - w0) * 1e3, (c2 - c1) * 1e3, (w2 - w1) * 1e3);
  free(html);
  cmark_node_free(doc);
  cmark_parser_free(p);
}

static char* Repeat(const char* Piece, size_t Times, const char* Tail, size_t* Size) {
  size_t n = strlen(Piece), t = strlen(Tail);
  char* s = malloc(n * Times + t + 1);
  for (size_t i = 0; i < Times; ++i) memcpy(s + i * n, Piece, n);
  memcpy(s + n * Times, Tail, t + 1);
  *Size = n * Times + t;
  return s;
}

int main(void) {
  cmark_gfm_core_extensions_ensure_registered();
  size_t size;
  char* s = Repeat(
      "## A heading with *emphasis*\n\nA paragraph with **strong** text, `code`, a "
      "[link](https://example.com/x) and https://example.org/auto ~~gone~~.\n\n"
      "| a | b |\n|---|---|\n| 1 | 2 |\n\n- [x] done\n- [ ] open\n\n> a quote\n\n"
      "```\ncode block\n```\n\n",
      40000, "", &size);
  Time("blog text", s, size);
  free(s);
  s = Repeat(">", 100000, " deep\n", &size);
  Time("100,000 nested quotes", s, size);
  free(s);
  s = Repeat("*a ", 1000000, "\n", &size);
  Time("unclosed emphasis", s, size);
  free(s);
  s = Repeat("[", 1000000, "\n", &size);
  Time("unclosed brackets", s, size);
  free(s);
  s = Repeat("- ", 50000, "deep list\n", &size);
  Time("lists nested 50,000 deep", s, size);
  free(s);
  return Sink == 0;
}
