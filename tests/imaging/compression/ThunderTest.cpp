// The ThunderScan decoder: each code kind, the restart after every 2 x Width pixels, odd runs, and
// the output bound.

#include "DecoderTestTools.h"

namespace muralo::test {
namespace {

struct ThunderCase {
  const char* Name;
  uint32_t Width;
  Bytes Input;
  size_t Room;
  Bytes Expected;  // the whole area; bytes never written keep 0xEE
};

const ThunderCase kCases[] = {
    {"0xC5 sets 5, then 0x05 repeats it five more times", 6, {0xC5, 0x05}, 3, {0x55, 0x55, 0x55}},
    {"two-bit deltas +1, -1 and a skipped field", 2, {0xC3, 0x5E}, 2, {0x34, 0x30}},
    {"three-bit deltas +3, -3, skipped, -1 (wraps to 15)", 2, {0x9D, 0xA7}, 2, {0x30, 0xF0}},
    {"restart after 2 x Width pixels: last value back to 0", 1, {0xC7, 0xC2, 0x5A}, 2, {0x72, 0x10}},
    {"odd run ends in the high nibble", 4, {0xC9, 0x02}, 2, {0x99, 0x90}},
    {"empty run after an odd pixel", 4, {0xC9, 0x00, 0xC1}, 2, {0x91, 0xEE}},
    {"run after an odd pixel completes its byte first", 4, {0xC2, 0x04}, 2, {0x22, 0x22}},
    {"raw pixels keep their low nibble", 2, {0xFA, 0xC0, 0xD3, 0xEF}, 2, {0xA0, 0x3F}},
    {"output never grows past the area", 100, Bytes(10, 0xCF), 2, {0xFF, 0xFF}},
    {"run past the area is cut", 100, {0x3F}, 4, {0x00, 0x00, 0x00, 0x00}},
    {"no input", 4, {}, 2, {0xEE, 0xEE}},
    {"width 0 decodes nothing", 0, {0xC5, 0x05}, 2, {0xEE, 0xEE}},
};

TEST(ThunderDecoder, CodesAndBounds) {
  for (const ThunderCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    TThunderDecoder decoder(c.Width);
    const DecodeResult r = RunDecoder(decoder, c.Input, c.Room, -1, 0xEE);
    EXPECT_EQ(Hex(r.Output), Hex(c.Expected));
    EXPECT_TRUE(r.GuardIntact);
    EXPECT_EQ(r.SourceMoved, 0u);
    EXPECT_FALSE(r.DestMoved);
  }
}

// A strip of several rows: the restart comes every Width output bytes (two rows of 4-bit pixels),
// and a run is not cut at the restart, so a long one carries on over the following row.
TEST(ThunderDecoder, StripOfRows) {
  // Width 4: a pass covers 8 pixels. 0x47 holds the 2-bit fields 0 (+0), 1 (+1), 3 (-1).
  const Bytes input = {0xC1, 0x47, 0xC8, 0x07, 0xC2, 0x07};
  TThunderDecoder decoder(4);
  const DecodeResult r = RunDecoder(decoder, input, 8, -1, 0xEE);
  // Pass 1: 1, then 1 2 1, then 8 and a run of seven 8s (12 pixels, past the pass's 8).
  // Pass 2 starts again from 0 where pass 1 stopped: 2 and a run of seven 2s, cut at the area.
  EXPECT_EQ(Hex(r.Output), Hex({0x11, 0x21, 0x88, 0x88, 0x88, 0x88, 0x22, 0x22}));
  EXPECT_TRUE(r.GuardIntact);
}

}  // namespace
}  // namespace muralo::test
