#!/usr/bin/env python3
"""Writes the seed corpora of the decoders' fuzz targets (corpus/<target>/) from small valid
streams: hand-made run-length packets, CCITT strips written by libtiff's tiffcp, zlib streams and
JPEG files written by cjpeg. Each seed is four parameter bytes (see DecoderFuzzTargets.h) and the data.
Run it from this folder; it needs tiffcp, pnmtotiff, cjpeg and Python's zlib."""

import os
import struct
import subprocess
import tempfile
import zlib


def seed(target, name, params, data):
    os.makedirs(os.path.join("corpus", target), exist_ok=True)
    with open(os.path.join("corpus", target, name), "wb") as f:
        f.write(bytes(params) + data)


def room(n):
    return [n & 0xFF, n >> 8]


# Run-length packets of each scheme.
seed("targa_rle", "8bit", [0] + room(16) + [0], bytes([0x82, 0x41, 0x01, 1, 2, 0x8A, 7]))
seed("targa_rle", "24bit", [3] + room(30) + [1], bytes([0x81, 1, 2, 3, 0x02, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0x85, 9, 9, 9]))
seed("targa_rle", "16bit", [1] + room(20) + [2], bytes([0x83, 0x10, 0x20, 0x01, 1, 2, 3, 4, 0x84, 5, 6]))
seed("packbits", "mixed", [0] + room(64) + [0], bytes([0x02, 1, 2, 3, 0xFD, 7, 0x80, 0x00, 9, 0x81, 5]))
seed("pcx_rle", "mixed", [0] + room(64) + [0], bytes([0xC3, 7, 0x10, 0xC1, 0xC5, 0xFF, 2, 0xC0, 3]))
seed("sgi_rle", "8bit", [1] + room(32) + [0], bytes([0x03, 0x55, 0x82, 1, 2, 0x05, 9, 0x00]))
seed("sgi_rle", "16bit", [0] + room(32) + [0], bytes([0, 2, 0x12, 0x34, 0, 0x81, 0xAB, 0xCD, 0, 0]))
seed("cut_rle", "rows", [0] + room(32) + [1], bytes([6, 0, 0x83, 0x11, 2, 0x22, 0x33, 0, 4, 0, 0x82, 1, 0, 0]))
seed("psp_rle", "mixed", [0] + room(32) + [0], bytes([0x83, 9, 0x02, 5, 6, 0x80, 1, 0x00, 0x90, 3]))
seed("rla_rle", "mixed", [0] + room(32) + [0], bytes([0x02, 9, 0xFE, 1, 2, 0x7F, 4, 0x80] + [7] * 128))
seed("thunder", "mixed", [0] + room(16) + [15], bytes([0xC5, 0x05, 0x5E, 0x9D, 0xA7, 0xC9, 0x02, 0x3F, 0xCF]))

# Photo-CD residual streams: Huffman tables, two padding words, then row headers (23 ones and a
# zero, plane type, 13-bit row, a spare bit) followed by codes, padded to a 2048-byte sector.
class Bits:
    def __init__(self):
        self.bits = []

    def put(self, value, count):
        self.bits += [(value >> i) & 1 for i in range(count - 1, -1, -1)]

    def row(self, plane, number):
        self.bits += [0] * (-len(self.bits) % 8)
        self.put(0xFFFFFE, 24)
        self.put(plane, 2)
        self.put(number, 13)
        self.put(0, 1)

    def sector(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        data = bytes(int("".join(map(str, bits[i:i + 8])), 2) for i in range(0, len(bits), 8))
        return data + bytes(-len(data) % 2048)


def pcd_stream(tables, rows, end):
    b = Bits()
    for table in tables:
        b.put(len(table) - 1, 8)
        for code, length, delta in table:
            b.put(length - 1, 8)
            b.put(code << (16 - length), 16)
            b.put(delta & 0xFF, 8)
    b.put(0, 32)
    for plane, number, codes in rows:
        b.row(plane, number)
        for code, length in codes:
            b.put(code, length)
    b.row(0, end)
    return b.sector()


table = [(0b0, 1, 5), (0b10, 2, -3), (0b110, 3, 127), (0b111, 3, -128)]
seed("pcd_huffman", "one-table", [0, 0, 3, 8], pcd_stream([table], [(0, 1, [(0, 1), (2, 2), (6, 3), (7, 3)] * 2),
                                                          (2, 2, [(2, 2)] * 4), (3, 6, [(6, 3)] * 3)], 3))
seed("pcd_huffman", "three-tables", [1, 9, 1, 0], pcd_stream([table, table[:2], table[1:]],
                                                       [(0, 0, [(0, 1)] * 8), (2, 0, [(2, 2)] * 4), (3, 1, [(6, 3)] * 8)], 9))


# CCITT strips of a small page.
with tempfile.TemporaryDirectory() as tmp:
    width, height = 203, 12
    rows = bytearray()
    for y in range(height):
        row = bytearray((width + 7) // 8)
        for x in range(width):
            if ((x // (3 + y)) + y) % 3 == 0 or (y == 5 and x > 20):
                row[x // 8] |= 0x80 >> (x % 8)
        rows += row
    pbm = os.path.join(tmp, "p.pbm")
    with open(pbm, "wb") as f:
        f.write(b"P4\n%d %d\n" % (width, height) + bytes(rows))
    plain = os.path.join(tmp, "p.tif")
    subprocess.run(["pnmtotiff", "-none", pbm], stdout=open(plain, "wb"), check=True)
    for name, option in [("g3", "g3:1d"), ("g3fill", "g3:1d:fill")]:
        out = os.path.join(tmp, name + ".tif")
        subprocess.run(["tiffcp", "-c", option, plain, out], check=True)
        data = open(out, "rb").read()
        offset, count = None, None
        (ifd,) = struct.unpack("<I", data[4:8])
        (n,) = struct.unpack("<H", data[ifd:ifd + 2])
        for i in range(n):
            tag, typ, cnt, val = struct.unpack("<HHII", data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
            if typ == 3:
                val &= 0xFFFF
            if tag == 273:
                offset = val
            if tag == 279:
                count = val
        strip = data[offset:offset + count]
        size = height * ((width + 7) // 8)
        # P0: width bits 8..11 in the low nibble, bit 4 the width's lowest bit; P3 the rest.
        p0 = ((width >> 1) >> 8) | ((width & 1) << 4)
        seed("ccitt", name, [p0] + room(size) + [(width >> 1) & 0xFF], strip)
    # The same rows as byte-aligned Modified Huffman data (TIFF compression 2) are not written by
    # tiffcp; the fax3 strip without EOL handling serves as a start for the MH decoder.
    seed("ccitt", "mh", [0x80 | ((width >> 1) >> 8) | ((width & 1) << 4)] + room(size) + [(width >> 1) & 0xFF], strip)

# zlib streams: one whole, one with a full-flush point.
raw = bytes((x * 7 + (x >> 5)) & 0xFF for x in range(3000))
seed("lz77", "stream", [1] + room(3000) + [1], zlib.compress(raw, 6))
compressor = zlib.compressobj(6)
flushed = compressor.compress(raw[:1000]) + compressor.flush(zlib.Z_FULL_FLUSH) + compressor.compress(raw[1000:]) + compressor.flush()
seed("lz77", "fullflush", [1] + room(3000) + [2], flushed)

# JPEG strips by cjpeg: grey and colour, 4:2:0 and 4:4:4.
with tempfile.TemporaryDirectory() as tmp:
    w, h = 24, 16
    ppm = os.path.join(tmp, "p.ppm")
    with open(ppm, "wb") as f:
        f.write(b"P6\n%d %d\n255\n" % (w, h) + bytes(((x * 11 + y * 5 + c * 70) & 0xFF) for y in range(h) for x in range(w) for c in range(3)))
    for name, args, p0 in [("ycc420", ["-sample", "2x2"], 0x01 | 0x02 | 0x04 | 0x08), ("ycc444", ["-sample", "1x1"], 0x03),
                           ("grey", ["-grayscale"], 0x00)]:
        out = subprocess.run(["cjpeg"] + args + [ppm], stdout=subprocess.PIPE, check=True).stdout
        seed("tiff_jpeg", name, [p0, h - 1, 0, w - 1], out)
