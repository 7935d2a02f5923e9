// The CCITT fax decoders: the code trees against the T.4 tables, crafted rows for each rule, and
// fax files written by independent encoders (netpbm, libtiff's tiffcp, Pillow) decoded by us and
// compared with the pictures they encoded and with libtiff's own decoding.

#include <cmath>
#include <cstring>
#include <random>

#include "DecoderTestTools.h"
#include "imaging/Graphicstrings.h"
#include "imaging/compression/CCITTCodes.h"

namespace muralo::test {
namespace {

// ---------------------------------------------------------------------------------------------
// Code trees

struct NamedTable {
  const char* Name;
  const ccitt::TCode* Codes;
  size_t Count;
  bool White, Black;
};

const NamedTable kTables[] = {
    {"white terminating", ccitt::WhiteTerminatingCodes, 64, true, false},
    {"black terminating", ccitt::BlackTerminatingCodes, 64, false, true},
    {"white make-up", ccitt::WhiteMakeUpCodes, 27, true, false},
    {"black make-up", ccitt::BlackMakeUpCodes, 27, false, true},
    {"extended make-up", ccitt::ExtendedMakeUpCodes, 13, true, true},
    {"end of line", &ccitt::EndOfLineCode, 1, true, true},
    {"invalid", ccitt::InvalidCodes, 4, true, true},
};

// Walks a code through a tree and answers the node it ends at (0 if it leaves the tree).
uint32_t Walk(const TStateArray& states, const char* bits) {
  uint32_t node = 0;
  for (const char* p = bits; *p; ++p) {
    node = states[node].NewState[*p == '1'];
    if (node == 0) return 0;
  }
  return node;
}

TEST(CCITTCodeTrees, EveryCodeEndsAtALeafWithItsRunLength) {
  const TCCITTMHDecoder decoder(0, false, false, 8);
  for (bool white : {true, false}) {
    const TStateArray& states = white ? decoder.GetWhiteStates() : decoder.GetBlackStates();
    size_t leaves = 0;
    double kraft = 0;
    for (const NamedTable& table : kTables) {
      if (!(white ? table.White : table.Black)) continue;
      for (size_t i = 0; i < table.Count; ++i) {
        const ccitt::TCode& code = table.Codes[i];
        SCOPED_TRACE(testing::Message() << (white ? "white " : "black ") << table.Name << " " << code.Bits);
        const uint32_t node = Walk(states, code.Bits);
        ASSERT_NE(node, 0u);
        EXPECT_EQ(states[node].RunLength, code.RunLength);
        // A leaf: no longer code passes through it, so the codes are prefix-free.
        EXPECT_EQ(states[node].NewState[0], 0u);
        EXPECT_EQ(states[node].NewState[1], 0u);
        ++leaves;
        kraft += std::ldexp(1.0, -static_cast<int>(std::strlen(code.Bits)));
      }
    }
    EXPECT_EQ(leaves, 64u + 27u + 13u + 1u + 4u);
    // Each node but the root is reached by exactly one edge.
    size_t edges = 0;
    for (const TStateEntry& e : states) edges += (e.NewState[0] != 0) + (e.NewState[1] != 0);
    EXPECT_EQ(edges, states.size() - 1);
    EXPECT_LE(kraft, 1.0);
  }
}

// The terminating codes run 0..63 in order and the make-up codes in steps of 64, as in T.4.
TEST(CCITTCodeTrees, TablesAreInT4Order) {
  for (int i = 0; i < 64; ++i) {
    EXPECT_EQ(ccitt::WhiteTerminatingCodes[i].RunLength, i);
    EXPECT_EQ(ccitt::BlackTerminatingCodes[i].RunLength, i);
  }
  for (int k = 0; k < 27; ++k) {
    EXPECT_EQ(ccitt::WhiteMakeUpCodes[k].RunLength, 64 * (k + 1));
    EXPECT_EQ(ccitt::BlackMakeUpCodes[k].RunLength, 64 * (k + 1));
  }
  for (int k = 0; k < 13; ++k) EXPECT_EQ(ccitt::ExtendedMakeUpCodes[k].RunLength, 1792 + 64 * k);
}

// ---------------------------------------------------------------------------------------------
// Crafted rows

// Packs code bit strings (spaces ignored) into bytes, most significant bit first, padded with 0.
class Bits {
 public:
  Bits& operator<<(const char* bits) {
    for (const char* p = bits; *p; ++p)
      if (*p == '0' || *p == '1') Put(*p == '1');
    return *this;
  }
  Bits& White(int run) { return Run(run, true); }
  Bits& Black(int run) { return Run(run, false); }
  Bits& Eol() { return *this << ccitt::EndOfLineCode.Bits; }
  Bits& ByteAlign() {
    while (Count % 8) Put(false);
    return *this;
  }
  Bits& Byte(uint8_t b) {
    ByteAlign();
    Data.push_back(b);
    Count += 8;
    return *this;
  }
  Bytes Done() {
    ByteAlign();
    return Data;
  }

 private:
  Bits& Run(int length, bool white) {
    const ccitt::TCode* makeUp = white ? ccitt::WhiteMakeUpCodes : ccitt::BlackMakeUpCodes;
    const ccitt::TCode* terminating = white ? ccitt::WhiteTerminatingCodes : ccitt::BlackTerminatingCodes;
    int left = length;
    while (left >= 2560 + 64) {
      *this << ccitt::ExtendedMakeUpCodes[12].Bits;
      left -= 2560;
    }
    const int index = left / 64 - 1;
    if (left >= 1792) {
      *this << ccitt::ExtendedMakeUpCodes[(left - 1792) / 64].Bits;
    } else if (index >= 0) {
      *this << makeUp[index].Bits;
    }
    return *this << terminating[left % 64].Bits;
  }
  void Put(bool bit) {
    if (Count % 8 == 0) Data.push_back(0);
    if (bit) Data.back() |= static_cast<uint8_t>(0x80 >> (Count % 8));
    ++Count;
  }
  Bytes Data;
  size_t Count = 0;
};

enum FaxKind { Fax3, MH, MHWord };

std::unique_ptr<TDecoder> MakeFax(FaxKind kind, uint32_t width, bool swapBits = false) {
  if (kind == Fax3) return std::make_unique<TCCITTFax3Decoder>(0, swapBits, false, width);
  return std::make_unique<TCCITTMHDecoder>(0, swapBits, kind == MHWord, width);
}

struct FaxCase {
  const char* Name;
  FaxKind Kind;
  uint32_t Width;
  Bytes Input;
  size_t Room;
  Bytes Expected;  // the whole output area
};

std::vector<FaxCase> FaxCases() {
  Bytes white2623(329, 0);
  white2623[327] = 0x01;  // pixels 2623 and 2624 black
  white2623[328] = 0x80;
  return {
      {"fax3 one row", Fax3, 8, Bits().Eol().White(3).Black(2).White(3).Done(), 1, {0x18}},
      {"fax3 row starting with black", Fax3, 8, Bits().Eol().White(0).Black(8).Done(), 1, {0xFF}},
      {"mh row starting with black", MH, 8, Bits().White(0).Black(8).Done(), 1, {0xFF}},
      {"fax3 white 2623 = 2560 + 63 then black 2", Fax3, 2625, Bits().Eol().White(2623).Black(2).Done(), 329,
       white2623},
      {"mh white 2623 = 2560 + 63 then black 2", MH, 2625, Bits().White(2623).Black(2).Done(), 329, white2623},
      {"fax3 make-up 64 and 1728", Fax3, 1800, Bits().Eol().White(64).Black(1728).White(8).Done(), 225,
       [] {
         Bytes b(225, 0);
         for (int i = 8; i < 8 + 216; ++i) b[i] = 0xFF;
         return b;
       }()},
      {"fax3 fill bits before each EOL are skipped",
       Fax3,
       8,
       ((Bits() << "0000000").Eol().White(3).Black(2).White(3) << "0000000000").Eol().White(0).Black(8).Done(),
       2,
       {0x18, 0xFF}},
      {"fax3 width 10: two bytes per row, unused bits 0",
       Fax3,
       10,
       Bits().Eol().White(3).Black(4).White(3).Eol().White(0).Black(10).Done(),
       4,
       {0x1E, 0x00, 0xFF, 0xC0}},
      {"mh width 10",
       MH,
       10,
       Bits().White(3).Black(4).White(3).ByteAlign().White(0).Black(10).Done(),
       4,
       {0x1E, 0x00, 0xFF, 0xC0}},
      {"fax3 run past the row end keeps writing",
       Fax3,
       4,
       Bits().Eol().White(2).Black(10).Eol().White(0).Black(4).Done(),
       3,
       {0x3F, 0xF0, 0xF0}},
      {"fax3 EOL inside a row ends it",
       Fax3,
       8,
       Bits().Eol().White(2).Black(1).Eol().White(0).Black(8).Done(),
       2,
       {0x20, 0xFF}},
      {"fax3 invalid code ends the row, the next EOL resynchronises",
       Fax3,
       8,
       ((Bits().Eol().White(0).Black(2) << "000000001"
                                        << "1111")
            .Eol()
            .White(0)
            .Black(4))
           .Done(),
       2,
       {0xC0, 0xF0}},
      {"mh invalid code only switches colour",
       MH,
       8,
       ((Bits().White(2) << "000000001").White(3).Black(3)).Done(),
       1,
       {0x07}},
      {"fax3 data ends inside a row: rest stays white",
       Fax3,
       8,
       Bits().Eol().White(0).Black(3).Done(),
       2,
       {0xE0, 0x00}},
      {"mh last code ends with the data", MH, 8, Bits().White(1).Black(7).Done(), 1, {0x7F}},
      {"fax3 last code ends with the data", Fax3, 8, Bits().Eol().White(3).Black(5).Done(), 1, {0x1F}},
      {"fax3 output never grows past the area",
       Fax3,
       8,
       Bits().Eol().White(0).Black(8).Eol().White(0).Black(8).Eol().White(0).Black(8).Done(),
       1,
       {0xFF}},
      {"mh output never grows past the area",
       MH,
       16,
       Bits().White(0).Black(16).ByteAlign().White(0).Black(16).Done(),
       3,
       {0xFF, 0xFF, 0xFF}},
      {"mh rows start on byte boundaries",
       MH,
       8,
       Bits().White(1).Black(7).ByteAlign().White(0).Black(8).ByteAlign().White(8).Done(),
       3,
       {0x7F, 0xFF, 0x00}},
      {"mh word aligned: a pad byte after an odd row",
       MHWord,
       8,
       Bits().White(8).Byte(0xFF).White(4).Black(4).ByteAlign().Byte(0xFF).Done(),
       2,
       {0x00, 0x0F}},
      {"mh word aligned: row ending on a byte boundary",
       MHWord,
       8,
       Bits().White(3).Black(5).Byte(0xFF).White(0).Black(8).Done(),
       2,
       {0x1F, 0xFF}},
      {"mh word aligned: even row needs no pad",
       MHWord,
       8,
       Bits().White(1).Black(7).ByteAlign().White(0).Black(8).Done(),
       2,
       {0x7F, 0xFF}},
      {"fax3 RTC after the last row",
       Fax3,
       8,
       Bits().Eol().White(4).Black(4).Eol().Eol().Eol().Eol().Eol().Eol().Done(),
       2,
       {0x0F, 0x00}},
      {"fax3 long make-up chain beyond the row", Fax3, 8, Bits().Eol().White(2560 * 3 + 5).Done(), 2, {0x00, 0x00}},
      {"fax3 empty input", Fax3, 8, {}, 2, {0x00, 0x00}},
  };
}

TEST(CCITTDecoders, CraftedRows) {
  for (const FaxCase& c : FaxCases()) {
    SCOPED_TRACE(c.Name);
    auto decoder = MakeFax(c.Kind, c.Width);
    const DecodeResult r = RunDecoder(*decoder, c.Input, c.Room, -1, 0x77);
    EXPECT_EQ(Hex(r.Output), Hex(c.Expected));
    EXPECT_TRUE(r.GuardIntact);
    EXPECT_EQ(r.SourceMoved, 0u);
    EXPECT_FALSE(r.DestMoved);
  }
}

// TIFF FillOrder 2: the same rows stored least significant bit first decode the same, and the
// caller's data is left as it was.
TEST(CCITTDecoders, SwapBitsReadsReversedBytes) {
  for (const FaxCase& c : FaxCases()) {
    SCOPED_TRACE(c.Name);
    Bytes reversed = c.Input;
    for (uint8_t& b : reversed) {
      uint8_t r = 0;
      for (int i = 0; i < 8; ++i)
        if (b & (1 << i)) r |= static_cast<uint8_t>(0x80 >> i);
      b = r;
    }
    const Bytes kept = reversed;
    auto decoder = MakeFax(c.Kind, c.Width, true);
    const DecodeResult r = RunDecoder(*decoder, reversed, c.Room, -1, 0x77);
    EXPECT_EQ(Hex(r.Output), Hex(c.Expected));
    EXPECT_EQ(reversed, kept);
  }
}

TEST(CCITTDecoders, OneDecoderDecodesManyStrips) {
  auto decoder = MakeFax(Fax3, 8);
  const Bytes a = Bits().Eol().White(0).Black(8).Done();
  const Bytes b = Bits().Eol().White(4).Black(4).Done();
  EXPECT_EQ(RunDecoder(*decoder, a, 1).Output, Bytes{0xFF});
  EXPECT_EQ(RunDecoder(*decoder, b, 1).Output, Bytes{0x0F});
  EXPECT_EQ(RunDecoder(*decoder, a, 1).Output, Bytes{0xFF});
}

TEST(CCITTDecoders, TwoDimensionalCodingIsRefused) {
  try {
    TCCITTFax3Decoder decoder(1, false, false, 1728);
    FAIL() << "T4Options bit 0 accepted";
  } catch (const EGraphicCompression& e) {
    EXPECT_NE(std::string(e.what()).find(gesFax2DCoding), std::string::npos) << e.what();
  }
  // Other option bits (uncompressed mode, fill bits) do not change one-dimensional decoding.
  TCCITTFax3Decoder fill(4, false, false, 8);
  EXPECT_EQ(RunDecoder(fill, Bits().Eol().White(0).Black(8).Done(), 1).Output, Bytes{0xFF});
}

// ---------------------------------------------------------------------------------------------
// Independent encoders

// A page of random runs (short ones and long ones, so that make-up and extended make-up codes
// occur), with an all-white and an all-black row.
Bilevel RandomPage(uint32_t width, uint32_t height, uint32_t seed) {
  Bilevel page{width, height, {}};
  page.Bits.assign(page.RowBytes() * height, 0);
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> kind(0, 9);
  for (uint32_t y = 0; y < height; ++y) {
    bool black = y % 7 == 3;
    uint32_t x = 0;
    while (x < width) {
      const int k = kind(random);
      uint32_t run = k < 6 ? random() % 12 + 1 : k < 9 ? random() % 300 + 1 : random() % 3000 + 1;
      if (y % 7 == 2) run = width;                // an all-white row
      if (y % 7 == 3) run = width, black = true;  // an all-black row
      run = std::min(run, width - x);
      if (black)
        for (uint32_t i = x; i < x + run; ++i) page.Bits[y * page.RowBytes() + i / 8] |= 0x80 >> (i % 8);
      x += run;
      black = !black;
    }
  }
  return page;
}

// Decodes every strip of a fax TIFF with the decoder its tags call for.
Bytes DecodeFaxTiff(const TiffImage& tiff) {
  const uint32_t width = tiff.Tag(256), height = tiff.Tag(257);
  const uint32_t rowsPerStrip = std::min(tiff.Tag(278, height), height);
  const uint32_t compression = tiff.Tag(259), fillOrder = tiff.Tag(266, 1);
  const size_t rowBytes = (width + 7) / 8;
  std::unique_ptr<TDecoder> decoder;
  if (compression == 3)
    decoder = std::make_unique<TCCITTFax3Decoder>(tiff.Tag(292), fillOrder == 2, false, width);
  else if (compression == 2 || compression == 32771)
    decoder = std::make_unique<TCCITTMHDecoder>(0, fillOrder == 2, compression == 32771, width);
  else
    throw std::runtime_error("not a one-dimensional fax TIFF: compression " + std::to_string(compression));
  Bytes all;
  for (size_t s = 0; s < tiff.Strips.size(); ++s) {
    const uint32_t rows = std::min<uint32_t>(rowsPerStrip, height - static_cast<uint32_t>(s) * rowsPerStrip);
    const DecodeResult r = RunDecoder(*decoder, tiff.Strips[s], rows * rowBytes);
    EXPECT_TRUE(r.GuardIntact);
    all.insert(all.end(), r.Output.begin(), r.Output.end());
  }
  return all;
}

// libtiff's decoding of the same file: tiffcp to uncompressed, the strips' bits as stored.
Bytes LibtiffDecode(const std::string& file) {
  const std::string plain = file + ".none.tif";
  RunOracle(kTiffCp, "-c none -f msb2lsb -r 100000 " + Quote(file) + " " + Quote(plain));
  const TiffImage tiff = ReadTiff(plain);
  Bytes all;
  for (const Bytes& s : tiff.Strips) all.insert(all.end(), s.begin(), s.end());
  return all;
}

// Compares two bilevel pictures of the page's size; the bits past the width are padding and
// not compared.
void ExpectSameRows(const Bytes& actual, const Bytes& expected, const Bilevel& page) {
  ASSERT_EQ(actual.size(), page.Bits.size());
  ASSERT_EQ(expected.size(), page.Bits.size());
  const size_t rowBytes = page.RowBytes();
  const uint8_t lastMask = static_cast<uint8_t>(page.Width % 8 ? 0xFF00 >> (page.Width % 8) : 0xFF);
  for (uint32_t y = 0; y < page.Height; ++y)
    for (size_t x = 0; x < rowBytes; ++x) {
      const uint8_t mask = x + 1 == rowBytes ? lastMask : 0xFF;
      const size_t i = y * rowBytes + x;
      ASSERT_EQ(actual[i] & mask, expected[i] & mask) << "row " << y << ", byte " << x;
    }
}

struct OracleCase {
  const char* Name;
  uint32_t Width;
  std::string Command;  // makes out.tif from page.pbm (and page.tif, its uncompressed TIFF)
  uint32_t Compression;
  bool LibtiffDecodes = true;  // libtiff's own decoding of the file is compared too
};

TEST(CCITTDecoders, FilesOfIndependentEncoders) {
  const std::string python = kPython;
  auto pillow = [&](const char* compression) {
    return python + " -c \"from PIL import Image; Image.open('page.pbm').save('out.tif', compression='" + compression +
           "')\"";
  };
  const OracleCase cases[] = {
      {"netpbm -g3", 1728, kPnmToTiff + " -g3 page.pbm > out.tif", 3},
      {"netpbm -g3 -fill", 1728, kPnmToTiff + " -g3 -fill page.pbm > out.tif", 3},
      {"libtiff -c g3:1d, 7-row strips", 1728, kTiffCp + " -c g3:1d -r 7 page.tif out.tif", 3},
      {"libtiff -c g3:1d:fill, fill order 2", 1728, kTiffCp + " -c g3:1d:fill -f lsb2msb page.tif out.tif", 3},
      {"libtiff -c g3:1d wide page (extended make-up codes)", 5000, kTiffCp + " -c g3:1d page.tif out.tif", 3},
      {"libtiff -c g3:1d width 10", 10, kTiffCp + " -c g3:1d -r 5 page.tif out.tif", 3},
      {"Pillow group3", 1728, pillow("group3"), 3},
      {"Pillow tiff_ccitt (MH)", 1728, pillow("tiff_ccitt"), 2},
      {"Pillow tiff_ccitt (MH) odd width", 1001, pillow("tiff_ccitt"), 2},
      // libtiff's decoder of 32771 aligns rows on the address of its read buffer rather than on the
      // offset in the strip, and misreads the files its encoder wrote; the pictures are the oracle.
      {"Pillow tiff_raw_16 (MH, word aligned)", 1728, pillow("tiff_raw_16"), 32771, false},
      {"Pillow tiff_raw_16 (MH, word aligned) odd width", 333, pillow("tiff_raw_16"), 32771, false},
  };
  uint32_t seed = 1;
  for (const OracleCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    const Bilevel page = RandomPage(c.Width, 40, seed++);
    WritePbm(dir / "page.pbm", page);
    RunOracle(kPnmToTiff, "-none " + Quote(dir / "page.pbm") + " > " + Quote(dir / "page.tif"));
    RunOracle("cd", Quote(dir.Path.string()) + " && " + c.Command);
    const TiffImage tiff = ReadTiff(dir / "out.tif");
    ASSERT_EQ(tiff.Tag(259), c.Compression);
    ASSERT_EQ(tiff.Tag(292) & 1, 0u) << "the encoder wrote two-dimensional data";
    const Bytes ours = DecodeFaxTiff(tiff);
    // The codes' white is a 0 bit; with PhotometricInterpretation 1 (min-is-black) it is a 1 pixel.
    Bytes pixels = ours;
    if (tiff.Tag(262) == 1)
      for (uint8_t& b : pixels) b = static_cast<uint8_t>(~b);
    ExpectSameRows(pixels, page.Bits, page);
    if (c.LibtiffDecodes) ExpectSameRows(ours, LibtiffDecode(dir / "out.tif"), page);
  }
}

}  // namespace
}  // namespace muralo::test
