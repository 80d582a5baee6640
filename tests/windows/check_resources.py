#!/usr/bin/env python3
"""Checks the Windows resources of PVekPgPrd.dll with wrestool (icoutils).

    check_resources.py PVekPgPrd.dll IMAGE_DIR

wrestool lists the resources: exactly the version, bitmap, icon, description
and package information, with their names and languages. The version
resource is decoded and its strings compared byte for byte; the bitmap and
the icon are checked for size and colour depth and compared with the images
drawn from the same pixel maps (IMAGE_DIR/TVEKPAGEPRODUCER.bmp, MAINICON.ico).
"""
import struct
import subprocess
import sys

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    print(("ok   " if ok else "FAIL ") + what)


def wrestool(dll, *args):
    return subprocess.run(["wrestool", *args, dll], check=True, capture_output=True).stdout


def listing(dll):
    """(type, name, language) of every resource, from wrestool -l."""
    found = set()
    for line in wrestool(dll, "-l").decode().splitlines():
        fields = dict(part.split("=", 1) for part in line.split("[")[0].split() if "=" in part)
        found.add((int(fields["--type"]), fields["--name"].strip("'"), int(fields["--language"])))
    return found


def version_nodes(data, at, end):
    """The VS_VERSIONINFO nodes between at and end: (key, value bytes, is text,
    children start, node end)."""
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        yield key, data[value_at:value_at + size], kind == 1, (value_at + size + 3) & ~3, at + length
        at = (at + length + 3) & ~3


def check_version(raw):
    root = next(version_nodes(raw, 0, len(raw)))
    key, fixed, _, children, end = root
    check(key == "VS_VERSION_INFO", "version resource: root key VS_VERSION_INFO")
    signature, _, fms, fls, pms, pls = struct.unpack_from("<6I", fixed)
    check(signature == 0xFEEF04BD, "version resource: fixed part signature")
    check((fms, fls) == (0x00010000, 0), "version resource: file version 1.0.0.0")
    check((pms, pls) == (0x00010000, 0), "version resource: product version 1.0.0.0")
    expected = {
        "CompanyName": "Vek",
        "FileDescription": "Vek - \u0443\u043b\u0447\u0448\u0435\u043d\u043d\u044b\u0439 PageProducer",
        "FileVersion": "1.0.0.0",
        "ProductVersion": "1.0.0.0",
    }
    # The description's bytes in code page 1251, as the version's language says.
    cp1251 = b"Vek - \xf3\xeb\xf7\xf8\xe5\xed\xed\xfb\xe9 PageProducer"
    tables, translation = {}, None
    for key, value, _, first, last in version_nodes(raw, children, end):
        if key == "StringFileInfo":
            for table, _, _, s_first, s_last in version_nodes(raw, first, last):
                tables[table] = {k: v for k, v, _, _, _ in version_nodes(raw, s_first, s_last)}
        elif key == "VarFileInfo":
            for var, var_value, _, _, _ in version_nodes(raw, first, last):
                if var == "Translation":
                    translation = var_value
    check(list(tables) == ["041904E3"], "version resource: one string table, 041904E3")
    strings = tables.get("041904E3", {})
    check(sorted(strings) == sorted(expected), "version resource: the four strings")
    for name, text in expected.items():
        stored = strings.get(name, b"")
        # Stored as UTF-16 with a terminating NUL.
        check(stored == text.encode("utf-16-le") + b"\0\0", f"version string {name} byte for byte")
    description = strings.get("FileDescription", b"").decode("utf-16-le").rstrip("\0")
    check(description.encode("cp1251", "replace") == cp1251,
          "version string FileDescription in code page 1251")
    check(translation == struct.pack("<HH", 0x0419, 1251), "version resource: translation 0x0419, 1251")


def check_bitmap(bmp, reference):
    check(bmp[:2] == b"BM", "bitmap TVEKPAGEPRODUCER: a BMP")
    size, width, height, planes, bits, compression = struct.unpack_from("<IiiHHI", bmp, 14)
    used = struct.unpack_from("<I", bmp, 46)[0]
    check((size, width, height, planes) == (40, 24, 24, 1), "bitmap TVEKPAGEPRODUCER: 24 x 24")
    check(bits == 4 and compression == 0 and used in (0, 16), "bitmap TVEKPAGEPRODUCER: 16 colours")
    check(bmp == reference, "bitmap TVEKPAGEPRODUCER: the image drawn from its pixel map")


def check_icon(ico, reference):
    reserved, kind, count = struct.unpack_from("<HHH", ico, 0)
    check((reserved, kind, count) == (0, 1, 1), "icon MAINICON: an icon with one image")
    width, height, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6)
    check((width, height, colours, bits) == (32, 32, 16, 4), "icon MAINICON: 32 x 32, 16 colours")
    header, iwidth, iheight, _, ibits = struct.unpack_from("<IiiHH", ico, offset)
    check((header, iwidth, iheight, ibits) == (40, 32, 64, 4), "icon MAINICON: image 32 x 32 x 4 bits")
    # wrestool writes a few bytes more than the icon: the icon is what its
    # directory covers.
    check(ico[:offset + size] == reference, "icon MAINICON: the image drawn from its pixel map")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    dll, images = sys.argv[1], sys.argv[2]
    found = listing(dll)
    expected = {
        (2, "TVEKPAGEPRODUCER", 0),  # bitmap
        (3, "1", 0),                 # the icon's image
        (14, "MAINICON", 0),         # icon group
        (10, "DESCRIPTION", 0),
        (10, "PACKAGEINFO", 0),
        (16, "1", 0x0419),           # version, Russian
    }
    check(found == expected, "wrestool -l lists exactly the six resources"
          + ("" if found == expected else f": got {sorted(found)}"))
    if found != expected:
        sys.exit("the resources are not the expected ones")
    check(wrestool(dll, "-x", "--raw", "--type=10", "--name=DESCRIPTION") == b"101 VekPageProducer",
          "DESCRIPTION holds \"101 VekPageProducer\"")
    check(wrestool(dll, "-x", "--raw", "--type=10", "--name=PACKAGEINFO")
          == struct.pack("<IH", 3, 2) + b"\x05\0VCL50\x06\0INET50\x02\0\x09\0Pvekpgprd\x09\0VekPgProd",
          "PACKAGEINFO: design and run time, VCL50 INET50, units Pvekpgprd VekPgProd")
    check_version(wrestool(dll, "-x", "--raw", "--type=16", "--name=1", "--language=1049"))
    with open(f"{images}/TVEKPAGEPRODUCER.bmp", "rb") as f:
        check_bitmap(wrestool(dll, "-x", "--type=2", "--name=TVEKPAGEPRODUCER"), f.read())
    with open(f"{images}/MAINICON.ico", "rb") as f:
        check_icon(wrestool(dll, "-x", "--type=14", "--name=MAINICON"), f.read())
    if failures:
        sys.exit(f"{len(failures)} check(s) failed")


if __name__ == "__main__":
    main()
