// The run-length decoders, packet by packet: the well-formed packets of each scheme and what
// happens at both bounds (a packet that would overrun the input or the output).

#include <functional>

#include "DecoderTestTools.h"

namespace muralo::test {
namespace {

constexpr uint8_t kFill = 0xEE;  // the area's bytes before decoding

struct RleCase {
  const char* Name;
  std::function<std::unique_ptr<TDecoder>()> Make;
  Bytes Input;
  size_t Room;         // output bytes
  int64_t Units;       // UnpackedSize (pixels for Targa), -1: Room
  Bytes Written;       // the area's first bytes after decoding; the rest keeps kFill
  size_t SourceMoved;  // 0 for the decoders that never move Source
};

template <typename T, typename... A>
std::function<std::unique_ptr<TDecoder>()> Make(A... args) {
  return [=] { return std::unique_ptr<TDecoder>(new T(args...)); };
}

Bytes Repeat(uint8_t value, size_t count) { return Bytes(count, value); }
Bytes Ramp(uint8_t from, size_t count) {
  Bytes ramp(count);
  for (size_t i = 0; i < count; ++i) ramp[i] = static_cast<uint8_t>(from + i);
  return ramp;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const RleCase kCases[] = {
    // Truevision Targa: bit 7 set = run, (h & 0x7F) + 1 pixels; Source moves to the next header.
    {"targa 8-bit run", Make<TTargaRLEDecoder>(8u), {0x82, 0x41}, 3, 3, {0x41, 0x41, 0x41}, 2},
    {"targa 24-bit raw", Make<TTargaRLEDecoder>(24u), {0x01, 1, 2, 3, 4, 5, 6}, 6, 2, {1, 2, 3, 4, 5, 6}, 7},
    {"targa 16-bit run then raw",
     Make<TTargaRLEDecoder>(16u),
     {0x81, 0x10, 0x20, 0x00, 0x30, 0x40},
     6,
     3,
     {0x10, 0x20, 0x10, 0x20, 0x30, 0x40},
     6},
    {"targa 15-bit pixels are 2 bytes", Make<TTargaRLEDecoder>(15u), {0x80, 0x11, 0x22}, 2, 1, {0x11, 0x22}, 3},
    {"targa 32-bit run of 3",
     Make<TTargaRLEDecoder>(32u),
     {0x82, 1, 2, 3, 4},
     12,
     3,
     {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4},
     5},
    {"targa longest run (128)", Make<TTargaRLEDecoder>(8u), {0xFF, 0x5A}, 128, 128, Repeat(0x5A, 128), 2},
    {"targa depth 12 writes nothing", Make<TTargaRLEDecoder>(12u), {0x82, 0x41, 0x42}, 4, 2, {}, 0},
    {"targa stops at the first unused header", Make<TTargaRLEDecoder>(8u), {0x80, 5, 0x80, 6}, 1, 1, {5}, 2},
    {"targa run crossing the area end is cut", Make<TTargaRLEDecoder>(8u), {0x84, 7, 0x01, 9}, 3, 3, {7, 7, 7}, 2},
    {"targa raw crossing the area end waits for the next call",
     Make<TTargaRLEDecoder>(8u),
     {0x04, 1, 2, 3, 4, 5, 0x80, 9},
     3,
     3,
     {1, 2, 3},
     4},
    {"targa input ends inside a raw packet", Make<TTargaRLEDecoder>(8u), {0x03, 1, 2}, 4, 4, {1, 2}, 3},
    {"targa input ends before the run value", Make<TTargaRLEDecoder>(8u), {0x83}, 4, 4, {}, 0},
    {"targa input ends inside a 24-bit pixel", Make<TTargaRLEDecoder>(24u), {0x01, 1, 2, 3, 4}, 6, 2, {1, 2, 3}, 4},
    {"targa no input", Make<TTargaRLEDecoder>(8u), {}, 4, 4, {}, 0},

    // PackBits: n 0..127 literal n+1, -127..-1 run 1-n, -128 nothing.
    {"packbits -128 is skipped", Make<TPackbitsRLEDecoder>(), {0x80, 0x00, 0x41}, 1, -1, {0x41}, 0},
    {"packbits 0xFF 0x41 gives two bytes", Make<TPackbitsRLEDecoder>(), {0xFF, 0x41}, 2, -1, {0x41, 0x41}, 0},
    {"packbits literal of 3", Make<TPackbitsRLEDecoder>(), {0x02, 1, 2, 3}, 3, -1, {1, 2, 3}, 0},
    {"packbits longest run (-127 gives 128)", Make<TPackbitsRLEDecoder>(), {0x81, 7}, 128, -1, Repeat(7, 128), 0},
    {"packbits longest literal (127 gives 128)", Make<TPackbitsRLEDecoder>(), Concat({{0x7F}, Repeat(3, 128)}), 128, -1,
     Repeat(3, 128), 0},
    {"packbits literal then run", Make<TPackbitsRLEDecoder>(), {0x01, 9, 8, 0xFE, 5}, 5, -1, {9, 8, 5, 5, 5}, 0},
    {"packbits stops when the area is full", Make<TPackbitsRLEDecoder>(), {0x00, 1, 0x00, 2}, 1, -1, {1}, 0},
    {"packbits run cut at the area end", Make<TPackbitsRLEDecoder>(), {0xFD, 3}, 2, -1, {3, 3}, 0},
    {"packbits literal cut at the area end", Make<TPackbitsRLEDecoder>(), {0x03, 1, 2, 3, 4}, 2, -1, {1, 2}, 0},
    {"packbits literal cut at the input end", Make<TPackbitsRLEDecoder>(), {0x05, 1, 2}, 6, -1, {1, 2}, 0},
    {"packbits run without its value", Make<TPackbitsRLEDecoder>(), {0xFE}, 3, -1, {}, 0},

    // PCX: both top bits set = run of (b & 0x3F), cut to what is wanted; Source moves past what is taken.
    {"pcx 0xC3 0x07 gives three bytes", Make<TPCXRLEDecoder>(), {0xC3, 0x07}, 3, -1, {7, 7, 7}, 2},
    {"pcx 0xC0 gives nothing and takes two bytes", Make<TPCXRLEDecoder>(), {0xC0, 0x55, 0x12}, 1, -1, {0x12}, 3},
    {"pcx run cut to the two bytes wanted", Make<TPCXRLEDecoder>(), {0xC5, 0x07}, 2, -1, {7, 7}, 2},
    {"pcx longest run (63)", Make<TPCXRLEDecoder>(), {0xFF, 0x21}, 63, -1, Repeat(0x21, 63), 2},
    {"pcx plain bytes", Make<TPCXRLEDecoder>(), {0x3F, 0xBF, 0x00}, 3, -1, {0x3F, 0xBF, 0x00}, 3},
    {"pcx a byte above 0xBF needs a run of 1", Make<TPCXRLEDecoder>(), {0xC1, 0xC5}, 1, -1, {0xC5}, 2},
    {"pcx run without its value", Make<TPCXRLEDecoder>(), {0xC3}, 3, -1, {}, 0},
    {"pcx stops when the area is full", Make<TPCXRLEDecoder>(), {1, 2, 3}, 2, -1, {1, 2}, 2},
    {"pcx stops at the input end", Make<TPCXRLEDecoder>(), {1, 2}, 4, -1, {1, 2}, 2},

    // SGI: bit 7 set = literal, clear = run; count 0 ends the row.
    {"sgi 8-bit row",
     Make<TSGIRLEDecoder>(uint8_t(8)),
     {0x03, 0x55, 0x82, 0x01, 0x02, 0x00},
     5,
     -1,
     {0x55, 0x55, 0x55, 0x01, 0x02},
     0},
    {"sgi 8-bit terminator ends the row", Make<TSGIRLEDecoder>(uint8_t(8)), {0x81, 9, 0x00, 0x81, 7}, 3, -1, {9}, 0},
    {"sgi 8-bit 0x80 is a terminator too", Make<TSGIRLEDecoder>(uint8_t(8)), {0x80, 0x81, 5}, 2, -1, {}, 0},
    {"sgi 8-bit run cut at the area end",
     Make<TSGIRLEDecoder>(uint8_t(8)),
     {0x05, 0x33, 0x00},
     3,
     -1,
     {0x33, 0x33, 0x33},
     0},
    // Packets of 1 to 16 bytes in a wide area: written exactly, the rest of the area untouched.
    {"sgi 8-bit short packets in a wide area", Make<TSGIRLEDecoder>(uint8_t(8)),
     Concat({{0x01, 7, 0x83, 1, 2, 3, 0x05, 8, 0x88}, Repeat(6, 8), {0x10, 5, 0x90}, Repeat(4, 16), {0x00}}), 64, -1,
     Concat({{7, 1, 2, 3}, Repeat(8, 5), Repeat(6, 8), Repeat(5, 16), Repeat(4, 16)}), 0},
    // Packets far enough from both ends to be written in 32-byte blocks: runs and literals past
    // 32 bytes, and short packets whose blocks the next packet writes over.
    {"sgi 8-bit long row in blocks", Make<TSGIRLEDecoder>(uint8_t(8)),
     Concat({{0x7F, 9, 0xA8},
             Ramp(40, 40),
             {0x21, 4, 0x90},
             Ramp(100, 16),
             {0x03, 7, 0x85},
             Ramp(1, 5),
             {0xFF},
             Ramp(0, 127),
             {0x01, 6, 0x00}}),
     352, -1,
     Concat({Repeat(9, 127), Ramp(40, 40), Repeat(4, 33), Ramp(100, 16), Repeat(7, 3), Ramp(1, 5), Ramp(0, 127), {6}}),
     0},
    {"sgi 8-bit literal cut at the input end", Make<TSGIRLEDecoder>(uint8_t(8)), {0x85, 1, 2}, 5, -1, {1, 2}, 0},
    {"sgi 8-bit row without terminator", Make<TSGIRLEDecoder>(uint8_t(8)), {0x02, 4}, 4, -1, {4, 4}, 0},
    {"sgi 16-bit row, words as stored",
     Make<TSGIRLEDecoder>(uint8_t(16)),
     {0x00, 0x02, 0x12, 0x34, 0x00, 0x81, 0xAB, 0xCD, 0x00, 0x00},
     6,
     -1,
     {0x12, 0x34, 0x12, 0x34, 0xAB, 0xCD},
     0},
    {"sgi 16-bit header high byte ignored",
     Make<TSGIRLEDecoder>(uint8_t(16)),
     {0xFF, 0x81, 0x01, 0x02, 0x7F, 0x00},
     2,
     -1,
     {0x01, 0x02},
     0},
    {"sgi any depth but 8 is 16-bit",
     Make<TSGIRLEDecoder>(uint8_t(12)),
     {0x00, 0x02, 0x0A, 0x0B, 0x00, 0x00},
     4,
     -1,
     {0x0A, 0x0B, 0x0A, 0x0B},
     0},
    {"sgi 16-bit run cut to whole words",
     Make<TSGIRLEDecoder>(uint8_t(16)),
     {0x00, 0x03, 0x01, 0x02, 0, 0},
     5,
     -1,
     {1, 2, 1, 2},
     0},
    {"sgi 16-bit literal cut at the input end",
     Make<TSGIRLEDecoder>(uint8_t(16)),
     {0x00, 0x83, 1, 2, 3},
     6,
     -1,
     {1, 2},
     0},

    // Dr. Halo CUT: 2-byte count, bit 7 set = run, clear = literal, 0 ends the row; Source moves.
    {"cut row",
     Make<TCUTRLEDecoder>(),
     {0x06, 0x00, 0x83, 0x11, 0x02, 0x22, 0x33, 0x00, 0x99},
     5,
     -1,
     {0x11, 0x11, 0x11, 0x22, 0x33},
     8},
    {"cut row wider than the area goes on to its terminator",
     Make<TCUTRLEDecoder>(),
     {0x02, 0x00, 0x85, 7, 0x02, 1, 2, 0x00, 0xAA},
     3,
     -1,
     {7, 7, 7},
     8},
    {"cut literal wider than the area", Make<TCUTRLEDecoder>(), {0x02, 0x00, 0x04, 1, 2, 3, 4, 0x00}, 2, -1, {1, 2}, 8},
    {"cut row without terminator", Make<TCUTRLEDecoder>(), {0x02, 0x00, 0x01, 5}, 3, -1, {5}, 4},
    {"cut input shorter than the count", Make<TCUTRLEDecoder>(), {0x01}, 3, -1, {}, 1},
    {"cut run without its value", Make<TCUTRLEDecoder>(), {0x02, 0x00, 0x83}, 3, -1, {}, 3},
    {"cut 0x80 is an empty run", Make<TCUTRLEDecoder>(), {0x00, 0x00, 0x80, 9, 0x81, 4, 0x00}, 2, -1, {4}, 7},

    // Paint Shop Pro: below 128 literal, 128 and above run of (b - 128).
    {"psp 0x83 0x09 gives three bytes", Make<TPSPRLEDecoder>(), {0x83, 0x09}, 3, -1, {9, 9, 9}, 0},
    {"psp 0x80 gives nothing and takes two bytes", Make<TPSPRLEDecoder>(), {0x80, 0x09, 0x01, 0x44}, 1, -1, {0x44}, 0},
    {"psp literal", Make<TPSPRLEDecoder>(), {0x02, 5, 6}, 2, -1, {5, 6}, 0},
    {"psp empty literal", Make<TPSPRLEDecoder>(), {0x00, 0x01, 0x07}, 1, -1, {7}, 0},
    {"psp longest run (127)", Make<TPSPRLEDecoder>(), {0xFF, 0x31}, 127, -1, Repeat(0x31, 127), 0},
    {"psp run cut at the area end", Make<TPSPRLEDecoder>(), {0x85, 2, 0x81, 3}, 3, -1, {2, 2, 2}, 0},
    {"psp literal cut at the input end", Make<TPSPRLEDecoder>(), {0x05, 1, 2}, 5, -1, {1, 2}, 0},
    {"psp run without its value", Make<TPSPRLEDecoder>(), {0x85}, 5, -1, {}, 0},

    // Alias/Wavefront RLA: n >= 0 run of n+1, n < 0 literal of -n.
    {"rla 0x02 0x09 gives three bytes", Make<TRLADecoder>(), {0x02, 0x09}, 3, -1, {9, 9, 9}, 0},
    {"rla 0xFE 0x01 0x02 gives two bytes", Make<TRLADecoder>(), {0xFE, 0x01, 0x02}, 2, -1, {1, 2}, 0},
    {"rla run of one", Make<TRLADecoder>(), {0x00, 0x07}, 1, -1, {7}, 0},
    {"rla longest literal (-128)", Make<TRLADecoder>(), Concat({{0x80}, Repeat(4, 128)}), 128, -1, Repeat(4, 128), 0},
    {"rla longest run (127 gives 128)", Make<TRLADecoder>(), {0x7F, 0x0C}, 128, -1, Repeat(0x0C, 128), 0},
    {"rla run cut at the area end", Make<TRLADecoder>(), {0x05, 0x08, 0x00, 0x01}, 2, -1, {8, 8}, 0},
    {"rla literal cut at the input end", Make<TRLADecoder>(), {0xFC, 1, 2}, 4, -1, {1, 2}, 0},
    {"rla literal cut at the area end", Make<TRLADecoder>(), {0xFC, 1, 2, 3, 4}, 3, -1, {1, 2, 3}, 0},
};

TEST(RunLengthDecoders, PacketsAndBounds) {
  for (const RleCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    auto decoder = c.Make();
    const DecodeResult r = RunDecoder(*decoder, c.Input, c.Room, c.Units, kFill);
    ASSERT_LE(c.Written.size(), c.Room);
    Bytes expected = c.Written;
    expected.resize(c.Room, kFill);
    EXPECT_EQ(Hex(r.Output), Hex(expected));
    EXPECT_TRUE(r.GuardIntact);
    EXPECT_EQ(r.SourceMoved, c.SourceMoved);
    EXPECT_EQ(r.DestMoved, c.Written.size()) << "Dest ends after the bytes written";
  }
}

// Readers decode several rows from one buffer by handing the moved Source to the next call.
TEST(RunLengthDecoders, CutRowsFollowEachOther) {
  const Bytes rows = {0x04, 0x00, 0x82, 0x01, 0x00, 0x05, 0x00, 0x02, 0x07, 0x08, 0x81, 0x09, 0x00};
  TCUTRLEDecoder decoder;
  const uint8_t* source = rows.data();
  const uint8_t* const end = rows.data() + rows.size();
  Bytes first(2), second(3);
  uint8_t* dest = first.data();
  decoder.Decode(source, dest, static_cast<size_t>(end - source), 2);
  EXPECT_EQ(source, rows.data() + 5);
  dest = second.data();
  decoder.Decode(source, dest, static_cast<size_t>(end - source), 3);
  EXPECT_EQ(source, end);
  EXPECT_EQ(first, (Bytes{1, 1}));
  EXPECT_EQ(second, (Bytes{7, 8, 9}));
}

// Pixels of every kind of stretch: runs of 1 to 150 pixels and stretches of distinct ones, with
// values of all bytes (PCX escapes those with both top bits set).
Bytes MixedPixels(size_t count, size_t pixelSize) {
  Bytes out;
  uint32_t seed = 12345;
  auto next = [&seed](uint32_t n) { return (seed = seed * 1103515245 + 12345) / 65536 % n; };
  while (out.size() < count * pixelSize) {
    const size_t length = 1 + next(next(4) == 0 ? 150 : 12);
    const bool run = next(2) == 0;
    Bytes pixel(pixelSize);
    for (size_t i = 0; i < length; ++i) {
      if (i == 0 || !run)
        for (uint8_t& b : pixel) b = static_cast<uint8_t>(next(256));
      out.insert(out.end(), pixel.begin(), pixel.end());
    }
  }
  out.resize(count * pixelSize);
  return out;
}

// ZSoft's scheme, with an empty run (0xC0) now and then, which decodes to nothing.
Bytes PcxEncode(const Bytes& in) {
  Bytes out;
  for (size_t i = 0, run = 1; i < in.size(); i += run) {
    run = 1;
    while (i + run < in.size() && run < 63 && in[i + run] == in[i]) ++run;
    if (i % 97 == 0) out.insert(out.end(), {0xC0, 0xC7});
    if (run > 1 || in[i] >= 0xC0) out.push_back(static_cast<uint8_t>(0xC0 | run));
    out.push_back(in[i]);
  }
  return out;
}

// The Targa and PCX decoders take a file's data in pieces: a packet cut by the end of a row or of
// the input goes on at the next call. Decoding in rows of 7 pixels or of a whole picture, from
// pieces of 3 bytes (the exact path alone) or from all the data (the wide stores), gives the pixels.
TEST(RunLengthDecoders, TargaAndPcxGoOnFromCallToCall) {
  for (const uint32_t bits : {0u, 8u, 16u, 24u, 32u}) {  // 0: PCX
    SCOPED_TRACE(bits);
    const size_t unit = bits == 0 ? 1 : bits / 8, count = 20000;
    const Bytes pixels = MixedPixels(count, unit);
    TTargaRLEDecoder targa(bits);
    Bytes packed = bits == 0 ? PcxEncode(pixels) : Bytes(targa.MaxEncodedSize(count));
    size_t stored = 0;
    if (bits != 0) targa.Encode(pixels.data(), packed.data(), count, stored);
    if (bits != 0) packed.resize(stored);
    for (const size_t piece : {size_t{3}, packed.size()})
      for (const size_t row : {size_t{7}, count}) {
        std::unique_ptr<TDecoder> decoder(bits == 0 ? static_cast<TDecoder*>(new TPCXRLEDecoder)
                                                    : new TTargaRLEDecoder(bits));
        Bytes out(pixels.size());
        const uint8_t* s = packed.data();
        const uint8_t* const end = s + packed.size();
        uint8_t* d = out.data();
        for (size_t more = 0; d < out.data() + out.size();) {
          uint8_t* const rowEnd = d + std::min(row * unit, static_cast<size_t>(out.data() + out.size() - d));
          const uint8_t* before = s;
          uint8_t* const from = d;
          decoder->Decode(s, d, std::min(piece + more, static_cast<size_t>(end - s)), (rowEnd - d) / unit);
          ASSERT_LE(d, rowEnd);
          more = s == before && d == from ? more + 1 : 0;  // a packet cut by the piece's end
          ASSERT_LE(more, 8u);
        }
        EXPECT_EQ(s, end) << piece << " " << row;
        EXPECT_TRUE(out == pixels) << piece << " " << row;
      }
  }
}

TEST(RunLengthDecoders, OnlyTargaEncodes) {
  std::vector<std::unique_ptr<TDecoder>> others;
  others.emplace_back(new TPackbitsRLEDecoder);
  others.emplace_back(new TPCXRLEDecoder);
  others.emplace_back(new TSGIRLEDecoder(8));
  others.emplace_back(new TCUTRLEDecoder);
  others.emplace_back(new TPSPRLEDecoder);
  others.emplace_back(new TRLADecoder);
  const Bytes pixels = {1, 1, 1, 2};
  for (auto& decoder : others) {
    Bytes out(16, 0x33);
    size_t stored = 12345;
    EXPECT_THROW(decoder->Encode(pixels.data(), out.data(), 4, stored), EGraphicCompression);
    EXPECT_EQ(stored, 12345u);
    EXPECT_EQ(out, Bytes(16, 0x33));
  }
}

}  // namespace
}  // namespace muralo::test
