#!/usr/bin/env python3
"""Names the corpus files that the fuzzers named by hash (40 hex digits, fuzz-…, crash-…, corpus-…)
after what they exercise, and drops files whose bytes another file of the same folder holds.

  name-corpus.py DESCRIBE [--apply]

DESCRIBE is the output of the replay programs run with --describe over their corpora (one line a
file: its path, a tab, what the target recorded of it). A decoder input is named from its
parameter bytes (see compression/DecoderFuzzTargets.h), the packets a walk of its data meets and
how the decoder stopped; a picture from the error it raised or the size it came out as, and the
records it holds. Without --apply it prints the renames; with it, it makes them with git mv/rm."""

import collections
import hashlib
import os
import re
import subprocess
import sys
import unicodedata

HASHED = re.compile(r"^(?:[0-9a-f]{40}|(?:fuzz|crash|corpus|leak|timeout|oom|slow-unit)-[0-9a-f]{40})(\.\w+)?$")


def slug(text, words=6):
    text = unicodedata.normalize("NFKD", text).encode("ascii", "ignore").decode().lower()
    return "-".join(re.findall(r"[a-z0-9]+", text)[:words])


def outcome(text):
    fields = dict(re.findall(r"(\w+)=(\S+)", text.split(" error=")[0]))
    error = text.split("error=", 1)[1] if "error=" in text else ""
    return {k: int(v) if v.isdigit() else v for k, v in fields.items()}, error


def stop(o, error):
    """How the decoder ended, from the outcome the replay recorded."""
    if error:
        return "error-" + slug(error)
    if o.get("room", 1) == 0:
        return "no-room"
    if o.get("input", 1) == 0:
        return "no-data"
    if o.get("produced") == o.get("room"):
        return "fills-area"
    return "writes-nothing" if o.get("produced") == 0 else "data-runs-out-first"


# Run-length packet walks: each returns (kind, count, next offset), kind None when the data ends
# inside the packet, "end" for a terminator.
def targa(d, i, pixel):
    h = d[i]
    n = (h & 0x7F) + 1
    if h & 0x80:
        return ("run", n, i + 1 + pixel) if i + 1 + pixel <= len(d) else (None, n, len(d))
    return ("literal", n, i + 1 + n * pixel) if i + 1 + n * pixel <= len(d) else (None, n, len(d))


def packbits(d, i):
    n = d[i] - 256 if d[i] > 127 else d[i]
    if n == -128:
        return "nop", 0, i + 1
    if n >= 0:
        return ("literal", n + 1, i + 2 + n) if i + 2 + n <= len(d) else (None, n + 1, len(d))
    return ("run", 1 - n, i + 2) if i + 2 <= len(d) else (None, 1 - n, len(d))


def pcx(d, i):
    if d[i] & 0xC0 == 0xC0:
        return ("run", d[i] & 0x3F, i + 2) if i + 2 <= len(d) else (None, 0, len(d))
    return "literal", 1, i + 1


def sgi(d, i, wide):
    unit = 2 if wide else 1
    if i + unit > len(d):
        return None, 0, len(d)
    h = d[i + unit - 1]
    n = h & 0x7F
    if n == 0:
        return "end", 0, i + unit
    if h & 0x80:
        end = i + unit + n * unit
        return ("literal", n * unit, end) if end <= len(d) else (None, n, len(d))
    return ("run", n * unit, i + 2 * unit) if i + 2 * unit <= len(d) else (None, n, len(d))


def cut(d, i):
    h = d[i]
    if h == 0:
        return "end", 0, i + 1
    n = h & 0x7F
    if h & 0x80:
        return ("run", n, i + 2) if i + 2 <= len(d) else (None, n, len(d))
    return ("literal", n, i + 1 + n) if i + 1 + n <= len(d) else (None, n, len(d))


def psp(d, i):
    h = d[i]
    if h < 128:
        return ("literal", h, i + 1 + h) if i + 1 + h <= len(d) else (None, h, len(d))
    return ("run", h - 128, i + 2) if i + 2 <= len(d) else (None, h - 128, len(d))


def rla(d, i):
    n = d[i] - 256 if d[i] > 127 else d[i]
    if n >= 0:
        return ("run", n + 1, i + 2) if i + 2 <= len(d) else (None, n + 1, len(d))
    return ("literal", -n, i + 1 - n) if i + 1 - n <= len(d) else (None, -n, len(d))


def thunder(d, i):
    return ("run", "two-bit-deltas", "three-bit-deltas", "raw-pixels")[d[i] >> 6], 1, i + 1


def walk(data, step, room, unit=1, start=0):
    """The packets met up to the end of the area (room, in output units) or of the data."""
    kinds, made, i, end = collections.Counter(), 0, start, None
    while i < len(data) and made < room:
        kind, count, i = step(data, i)
        if kind is None:
            end = "data-ends-in-packet"
            break
        if kind == "end":
            end = "row-terminator"
            break
        kinds[kind if count else "empty-" + kind] += 1
        if made + count > room:
            end = kind + "-cut-at-area-end"
        made += count
    mix = "-and-".join(sorted(k + "s" if not k.endswith("s") else k for k in kinds)) or "no-packets"
    if mix == "no-packets" and end == "data-ends-in-packet":
        return "data-ends-in-first-packet", None
    return mix, end


def decoder_name(target, data, o, error):
    if len(data) < 4:
        return "short-of-parameters"
    p0, p1, p2, p3 = data[:4]
    body = data[4:]
    room = p1 | p2 << 8
    calls = 1 + p3 % 3
    parts, packets = [], None
    if target == "targa_rle":
        bits = (8, 15, 16, 24, 32, 12)[p0 % 6]
        pixel = 1 if bits == 8 else 2 if bits <= 16 else bits // 8
        parts.append("%dbit" % bits + ("-unknown-depth" if bits == 12 else ""))
        if bits != 12:
            packets = walk(body, lambda d, i: targa(d, i, pixel), room // pixel)
    elif target == "sgi_rle":
        wide = not p0 & 1
        parts.append("16bit" if wide else "8bit")
        packets = walk(body, lambda d, i: sgi(d, i, wide), room)
    elif target in ("packbits", "pcx_rle", "psp_rle", "rla_rle", "cut_rle"):
        step = {"packbits": packbits, "pcx_rle": pcx, "psp_rle": psp, "rla_rle": rla, "cut_rle": cut}[target]
        packets = walk(body, step, room, start=2 if target == "cut_rle" else 0)
    elif target == "thunder":
        parts.append("width%d" % (1 + p3 + (p0 & 7) * 256))
        calls = 1 + p0 % 2
        packets = walk(body, thunder, room * 2)
    elif target == "ccitt":
        width = (p3 | (p0 & 0x0F) << 8) * 2 + (p0 >> 4 & 1)
        if p0 & 0x80:
            parts.append("modified-huffman" + ("-word-aligned" if p0 & 0x40 else ""))
        else:
            parts.append("group3-2d" if p0 & 0x40 else "group3")
        parts.append("width%d" % width)
        if p0 & 0x20:
            parts.append("lsb-first")
        bits = "".join(format(b, "08b")[::-1] if p0 & 0x20 else format(b, "08b") for b in body)
        eols = bits.count("000000000001")
        parts.append("rtc" if "000000000001" * 6 in bits else "%d-eol%s" % (eols, "s" if eols > 1 else "") if eols else "no-eol")
        if room * 8 < width:
            parts.append("area-below-one-row")
        calls = 1
    elif target == "lz77":
        parts.append(("no-flush", "partial-flush", "sync-flush", "finish")[p0 % 4] + ("-reset" if p0 & 4 else ""))
        calls = 1 + p3 % 4
        if not error:
            import zlib
            z = zlib.decompressobj()
            try:
                out = z.decompress(body)
                parts.append("complete-stream" if z.eof else "unfinished-stream")
                if z.unused_data:
                    parts.append("bytes-after-end")
                if len(out) > room:
                    parts.append("output-past-area")
            except zlib.error as e:
                parts.append("zlib-" + slug(str(e).split(":")[-1]))
    elif target == "tiff_jpeg":
        colour = p0 & 1
        parts.append(("ycbcr" if p0 & 2 else "rgb") if colour else "grey")
        if p0 & 0x40:
            parts.append("12bit")
        if p0 & 0x80:
            parts.append("planar")
        if p0 & 4:
            parts.append("subsampled-2x%d" % (2 if p0 & 8 else 1))
        if p0 & 0x10:
            parts.append("tables-field")
        parts.append("%dx%d" % (1 + p3, 1 + (p1 & 0x3F)))
        calls = 1
    else:
        parts.append("room%d" % room)
    # ccitt, thunder and tiff_jpeg write their area without moving Dest: their output is not counted.
    result = ("error-" + slug(error)) if error else "" if target in ("ccitt", "thunder", "tiff_jpeg") else stop(o, error)
    if packets and not (packets[0] == "no-packets" and result in ("no-room", "no-data")):
        parts.append(packets[0])
        if packets[1]:
            parts.append(packets[1])
    if calls > 1:
        parts.append("in-%d-calls" % calls)
    if result and not (packets and packets[1] and result in ("fills-area", "data-runs-out-first")):
        parts.append(result)
    return "-".join(parts)


WMF = {0x0000: "eof", 0x001E: "savedc", 0x0035: "realizepalette", 0x00F7: "createpalette", 0x0102: "setbkmode",
       0x0103: "setmapmode", 0x0104: "setrop2", 0x0106: "setpolyfillmode", 0x0107: "setstretchbltmode",
       0x0127: "restoredc", 0x012C: "selectclipregion", 0x012D: "selectobject", 0x012E: "settextalign",
       0x0142: "dibcreatepatternbrush", 0x01F0: "deleteobject", 0x0201: "setbkcolor", 0x0209: "settextcolor",
       0x020B: "setwindoworg", 0x020C: "setwindowext", 0x020D: "setviewportorg", 0x020E: "setviewportext",
       0x020F: "offsetwindoworg", 0x0211: "offsetviewportorg", 0x0213: "lineto", 0x0214: "moveto",
       0x0220: "offsetcliprgn", 0x0228: "fillregion", 0x0234: "selectpalette", 0x02FA: "createpen",
       0x02FB: "createfont", 0x02FC: "createbrush", 0x0324: "polygon", 0x0325: "polyline", 0x0410: "scalewindowext",
       0x0412: "scaleviewportext", 0x0415: "excludecliprect", 0x0416: "intersectcliprect", 0x0418: "ellipse",
       0x0419: "floodfill", 0x041B: "rectangle", 0x0521: "textout", 0x0538: "polypolygon", 0x0548: "extfloodfill",
       0x061C: "roundrect", 0x061D: "patblt", 0x0626: "escape", 0x06FF: "createregion", 0x0817: "arc",
       0x081A: "pie", 0x0830: "chord", 0x0940: "dibbitblt", 0x0A32: "exttextout", 0x0B41: "dibstretchblt",
       0x0F43: "stretchdib"}


def wmf_records(d):
    """The records of a WMF file (after its placeable header, if any), and how the walk ended."""
    i = 22 if d[:4] == b"\xd7\xcd\xc6\x9a" else 0
    if len(d) < i + 18:
        return [], "short-header"
    i += (int.from_bytes(d[i + 2:i + 4], "little") or 9) * 2
    names = []
    while i + 6 <= len(d):
        size = int.from_bytes(d[i:i + 4], "little")
        function = int.from_bytes(d[i + 4:i + 6], "little")
        names.append(WMF.get(function, "unknown-record-%04x" % function))
        if function == 0:
            return names, ""
        if size < 3 or i + size * 2 > len(d):
            return names, "record-size-%s" % ("too-small" if size < 3 else "past-end")
        i += size * 2
    return names, "no-eof-record"


def emf_records(d):
    names, i = [], 0
    while i + 8 <= len(d):
        kind = int.from_bytes(d[i:i + 4], "little")
        size = int.from_bytes(d[i + 4:i + 8], "little")
        names.append("emr%d" % kind)
        if kind == 14:
            return names, ""
        if size < 8 or size % 4 or i + size > len(d):
            return names, "record-size-%s" % ("past-end" if i + size > len(d) else "invalid")
        i += size
    return names, "no-eof-record"


EMR = {1: "header", 2: "polybezier", 3: "polygon", 4: "polyline", 5: "polybezierto", 6: "polylineto",
       7: "polypolyline", 8: "polypolygon", 9: "setwindowext", 10: "setwindoworg", 11: "setviewportext",
       12: "setviewportorg", 13: "setbrushorg", 14: "eof", 17: "setmapmode", 18: "setbkmode",
       19: "setpolyfillmode", 20: "setrop2", 21: "setstretchbltmode", 22: "settextalign", 24: "settextcolor",
       25: "setbkcolor", 26: "offsetcliprgn", 27: "moveto", 29: "excludecliprect", 30: "intersectcliprect",
       31: "scaleviewportext", 32: "scalewindowext", 33: "savedc", 34: "restoredc", 35: "setworldtransform",
       36: "modifyworldtransform", 37: "selectobject", 38: "createpen", 39: "createbrush", 40: "deleteobject",
       42: "ellipse", 43: "rectangle", 44: "roundrect", 45: "arc", 46: "chord", 47: "pie", 48: "selectpalette",
       49: "createpalette", 53: "extfloodfill", 54: "lineto", 55: "arcto", 56: "polydraw", 59: "beginpath",
       60: "endpath", 61: "closefigure", 62: "fillpath", 63: "strokeandfillpath", 64: "strokepath",
       67: "selectclippath", 71: "fillrgn", 72: "framergn", 75: "extselectcliprgn", 76: "bitblt",
       77: "stretchblt", 78: "maskblt", 79: "plgblt", 80: "setdibitstodevice", 81: "stretchdibits",
       82: "extcreatefont", 83: "exttextouta", 84: "exttextoutw", 85: "polybezier16", 86: "polygon16",
       87: "polyline16", 88: "polybezierto16", 89: "polylineto16", 90: "polypolyline16", 91: "polypolygon16",
       93: "createmonobrush", 94: "createdibpatternbrush", 95: "extcreatepen", 108: "smalltextout",
       114: "alphablend", 116: "transparentblt", 118: "gradientfill"}


def picture_name(kind, data, o, error, seeds):
    """A metafile or picture: the records that set it apart from the seeds, how the walk ended and
    what the load came to."""
    if kind in ("wmf", "emf"):
        names, end = (wmf_records if kind == "wmf" else emf_records)(data)
        if kind == "emf":
            names = [EMR.get(int(n[3:]), "unknown-record-" + n[3:]) for n in names]
        common = set()
        for s in seeds:
            common |= set(s)
        rare = [n for n in dict.fromkeys(names) if n not in common][:2] or [n for n in dict.fromkeys(names)][-2:]
        parts = rare + ([end] if end else [])
    else:
        parts = []
    if error:
        parts.append("error-" + slug(error, 5))
    elif "size" in o:
        w, h = map(int, o["size"].split("x"))
        if w > 8 * h or h > 8 * w:
            parts.append("%dx%d" % (w, h))
    return "-".join(parts) or "loads"


def main():
    describe = dict(line.rstrip("\n").split("\t", 1) for line in open(sys.argv[1]) if "\t" in line)
    apply = "--apply" in sys.argv
    root = subprocess.run(["git", "rev-parse", "--show-toplevel"], capture_output=True, text=True).stdout.strip()
    folders = collections.defaultdict(list)
    for path in describe:
        folders[os.path.dirname(path)].append(path)
    for folder, paths in sorted(folders.items()):
        seen, keep = {}, []
        for path in sorted(paths, key=lambda p: (bool(HASHED.match(os.path.basename(p))), p)):
            digest = hashlib.sha1(open(path, "rb").read()).hexdigest()
            if digest in seen:
                print("drop %s (same bytes as %s)" % (os.path.relpath(path, root), os.path.basename(seen[digest])))
                if apply:
                    subprocess.run(["git", "rm", "-q", path], check=True)
                continue
            seen[digest] = path
            keep.append(path)
        taken = {os.path.basename(p) for p in keep if not HASHED.match(os.path.basename(p))}
        target = os.path.basename(folder)
        kind = "picture" if "/classlib/" in folder else "decoder" if "/compression/" in folder else None
        if kind is None:
            continue
        seeds = []
        if target in ("wmf", "emf"):
            for p in keep:
                if not HASHED.match(os.path.basename(p)):
                    seeds.append((wmf_records if target == "wmf" else emf_records)(open(p, "rb").read())[0])
            if target == "emf":
                seeds = [[EMR.get(int(n[3:]), "unknown-record-" + n[3:]) for n in s] for s in seeds]
        for path in keep:
            base = os.path.basename(path)
            if not HASHED.match(base):
                continue
            data = open(path, "rb").read()
            o, error = outcome(describe[path])
            if kind == "decoder":
                name = decoder_name(target, data, o, error)
                ext = ""
            else:
                name = picture_name(target, data, o, error, seeds)
                ext = "." + target
            new, n = name + ext, 1
            while new in taken:
                n += 1
                new = "%s-%d%s" % (name, n, ext)
            taken.add(new)
            print("%s -> %s" % (os.path.relpath(path, root), new))
            if apply:
                subprocess.run(["git", "mv", path, os.path.join(folder, new)], check=True)


if __name__ == "__main__":
    main()
