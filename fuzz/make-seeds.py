#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets (corpus/<target>/).

Each seed is a readable example of its target's input layout (see the
comment at the top of each target's source). Run it again after changing a
layout; the fuzzer grows its own corpus from these in a scratch directory.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    d = os.path.join(HERE, "corpus", target)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


def expand(flags, delims, actions, pool, template, steps=()):
    """delims: palette index, or (beg, end) bytes (sets the custom flag);
    steps: (operation, argument) pairs run after the first expansion."""
    out = bytearray()
    if isinstance(delims, tuple):
        flags |= 0x20
        out += bytes([flags])
        for d in delims:
            out += bytes([len(d)]) + d
    else:
        out += bytes([flags, delims])
    out.append(len(actions))
    for a in actions:
        out += bytes(a)
    out.append(len(pool))
    for p in pool:
        out += bytes([len(p)]) + p
    out.append(len(steps))
    for op, arg in steps:
        out += bytes([op, arg])
    return bytes(out + template)


# Actions: (text, state, effect, argument). Text 3 answers "(name)", 6 the
# body; state 0 goes on, 2 is stop, 3 opens a pair; effects 10..17 and 23
# expand again, 18 changes the delimiters, 19..21 edit the parameters,
# 22 throws, 24..27 change the delimiters to palette[arg >> 3] and then
# expand again as effect 10 + arg % 8 does (11: the name, 12: a parameter).
PAIR = (3, 3, 0, 0)
BODY = (6, 0, 0, 0)
NAME = (3, 0, 0, 0)
write("expand", "plain", expand(0, 0, [NAME], [], b"<p><#title a=1 'b c'#></p> tail<#x"))
write("expand", "pair", expand(0, 0, [PAIR, BODY, NAME], [], b"a<#x#>b<#/X q#>c<#y#>d"))
write("expand", "nested", expand(0, 0, [PAIR, BODY], [],
                                 b"<#x#>1<#x#>2<#/x#>3<#/x#>4<#x#>open<#y#>"))
write("expand", "tokens", expand(1, 0, [PAIR, BODY, NAME, (1, 1, 0, 0)], [b"P"],
                                 bytes([15, 0x61, 15, 0x62, 16, 0x63, 17, 0x64, 28, 14, 15])))
write("expand", "reenter", expand(0, 0, [(3, 3, 11, 0), (6, 0, 14, 0), (2, 0, 12, 0),
                                         (5, 0, 13, 0), (1, 0, 15, 1), (0, 0, 16, 0),
                                         (0, 0, 17, 0), (0, 0, 24, 2)],
                                  [b"<#in#>", b"l1\nl2<#z#>", b"<#h#>"],
                                  b"<#x a='<#q#>'#>b<#/x#><#n '<#w#>'#><#m#>-<#k#><#o#>"))
write("expand", "delimiters", expand(0, 0, [(3, 0, 18, 1), (3, 3, 18, 0), BODY], [],
                                     b"<#a#>{b}<#c#>d<#/c#>"))
write("expand", "nul-delimiter", expand(0, (b"<\x00x", b"#>"), [NAME], [], b"a<#b#>c\x00<#d#>"))
write("expand", "throw", expand(0, 0, [NAME, (0, 0, 23, 0), (0, 0, 22, 7)],
                                [b"<#t#>"], b"<#a#><#b#>c<#d#>"))
write("expand", "high-bytes", expand(0, 12, [PAIR, BODY], [],
                                     "\u043f\u0435\u0442\u043b\u044f".encode() + b"x"))
write("expand", "states", expand(0, 0, [(0, 6, 0, 0), (0, 7, 0, 0), (0, 8, 0, 0),
                                        (0, 9, 0, 0), (0, 10, 0, 0)], [],
                                 b"<#a#>1<#b#>2<#c#>3<#d#>4<#e#>5"))

# Sequences on one producer. Step operations: bits 0-2 the entry point
# (0 Execute, 1 ContentFromString, 2 SetHTMLDoc and Content, 3 Content,
# 4 Execute of a list, 5 ExecuteTo, 6 ContentTo, 7 HTMLResult), bit 3 the
# text from the pool, bits 4-6 a change first (3 delimiters, 4 and 5
# OnVekTag and OnVekPairTag on/off, 6 the cache's limits, 7 HTMLDoc).
AGAIN = [(0, 0), (1, 0), (5, 0), (0, 0)]
write("expand", "again", expand(0, 0, [PAIR, BODY, NAME], [],
                                b"a<#x#>b<#y k='1 2'#><#/x#>c<#x#>open<#z#>", AGAIN))
write("expand", "doc-again", expand(4, 0, [PAIR, BODY, NAME, (3, 0, 28, 1)], [b"<#n#>", b"m"],
                                    b"<#p#><#x#>in<#/x#><#q#>", [(3, 0), (6, 0), (3, 0), (0x73, 0)]))
write("expand", "delimiters-again", expand(0, 0, [(3, 0, 18, 1), PAIR, BODY], [],
                                           b"<#a#>[[b]]<#x#>c<#/x#>", [(0, 0), (0x30, 1), (0, 0),
                                                                        (0x30, 0), (0, 0)]))
write("expand", "limits", expand(0, 0, [PAIR, BODY, NAME], [b"<#x#>p<#/x#>"],
                                 b"<#x#>1<#/x#><#y#>", [(0x60, 2), (0, 0), (8, 0), (0, 0),
                                                        (0x60, 0), (0, 0), (0x40, 0), (0, 0)]))

write("expand", "own-name", expand(0, 1, [(3, 0, 24, 1), NAME, NAME], [],
                                   b"{'<#a#>long enough for the heap<#c#>'}d{e}"))
write("expand", "own-param", expand(0, 1, [(3, 0, 24, 2), NAME, NAME], [],
                                    b"{t '<#a x#>long enough for the heap<#c y#>'}d{e}"))

# Loops (effect 224 and up): the body, a pool text, the name or a parameter
# (arg % 4) expanded 1 + (arg >> 4) % 3 times into the page.
LOOP = (0, 0, 224, 0x20)
write("expand", "loop", expand(0, 0, [PAIR, LOOP, NAME, NAME, NAME], [],
                               b"<ul><#x#><li><#n#></li><#/x#></ul>", [(5, 0), (2, 0), (3, 0)]))
write("expand", "loop-nested", expand(1, 0, [PAIR, (1, 0, 224, 0x10), PAIR, (2, 0, 224, 0x21),
                                             (3, 0, 18, 1), NAME, (0, 0, 22, 3)], [b"<#y#>{z}"],
                                      b"\x0fa\x18b\x19c\x10", [(6, 0), (0x0c, 0)]))

for i, text in enumerate([b"include file=\"a b.txt\" x=5 'quoted'", b"a\"b c\"d",
                          b"t v='it\"s'", b"t v=\"open ended", b"\"\" t", b"x = 5",
                          b"  spaced \t out \r\n", b"t a\x00b c", b"\xd0\xbf n=\x80\xa0"]):
    write("params", "p%d" % i, bytes([i % 4]) + text)

write("lines", "stream", bytes([0, 0, 5]) + b"skip|p\nq\r<#x#>\r\n")
write("lines", "list", bytes([1, 0, 0]) + b"a<#x#>\xfeb\r\nc\xfe<#p#>in<#/p#>")
write("lines", "content", bytes([2, 0, 0]) + b"<#x a\xfeb#>\xfe<#s#>\xfeafter")
write("lines", "result", bytes([3, 0, 0]) + b"a<#nl#>b<#cr#>c<#lf#>\xfe\xfe<#lf#>")
write("lines", "text", bytes([4, 0, 0]) + b"a\r\n\r\nb\rc\n<#x#>\n")

write("steps", "next", bytes([0, 0, 0, 2]) + bytes([1]) + b"x" + b"ab<#  name x=1 \r\n#>cd")
write("steps", "inner", bytes([0, 0, 0, 5]) + bytes([1]) + b"x" + b"<#x#>b<#x#>c<#/X#>d<#/x#>e")
write("steps", "custom", bytes([1, 2]) + b"[[" + bytes([3]) + b"]]]" + bytes([0, 0, 0]) +
      b"x[[t]]]y\x00[[u]]]")

# httphelpers: 0 ranges (size index, header), 1 target, 2 validators.
for i, (size, value) in enumerate([(4, b"bytes=0-99,200-"), (4, b"bytes=-500"),
                                   (3, b"bytes=0-18446744073709551616"),
                                   (3, b"bytes=18446744073709551616-"),
                                   (4, b"bytes=0-0,1-1"), (2, b"bytes= 1-2 , 4-5"),
                                   (6, b"bytes=99999999999999999999999-"), (0, b"bytes=0-")]):
    write("httphelpers", "range%d" % i, bytes([0, size]) + value)
for i, target in enumerate([b"/", b"/docs/a%20b.html", b"//docs/./x/", b"/a/../b", b"/_data.json",
                            b"/.git/config", b"/%2e%2e/x", b"/a%00b", b"/%zz", b"docs",
                            b"/%C3%A9t%C3%A9/"]):
    write("httphelpers", "target%d" % i, bytes([1, 1]) + b"x" + target)
write("httphelpers", "absolute", bytes([1, 6]) + b"h:8080" + b"http://H:8080/a%20b/../c?q=\"<x>\"")
for i, (tags, since) in enumerate([(b"\"p0123456789abcdef-10\"", b""),
                                   (b"W/\"a\", \"b\"", b"Sun, 06 Nov 1994 08:49:37 GMT"),
                                   (b"*", b""), (b"", b"Fri, 31 Dec 9999 23:59:59 GMT"),
                                   (b"\"unclosed", b"Sunday, 06-Nov-94 08:49:37 GMT")]):
    write("httphelpers", "validators%d" % i, bytes([2, len(tags)]) + tags + since)
