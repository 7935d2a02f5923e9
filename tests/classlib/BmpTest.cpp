// TBitmap's BMP reading and writing against ImageMagick: files written by ImageMagick (and a few
// crafted here that ImageMagick also decodes) must decode to ImageMagick's own pixels, and every
// file we write must be read back by ImageMagick with the same pixels.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "classlib/TestTools.h"

namespace muralo {
namespace {

using test::BitmapRgb;
using test::MagickDecode;
using test::Quote;
using test::SameImage;
using test::TempDir;

uint32_t Le32(const std::vector<uint8_t>& d, size_t at) {
  return uint32_t(d[at]) | uint32_t(d[at + 1]) << 8 | uint32_t(d[at + 2]) << 16 | uint32_t(d[at + 3]) << 24;
}
void PutLe32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + size_t(i)] = uint8_t(v >> (8 * i));
}

std::unique_ptr<TBitmap> LoadBytes(const std::vector<uint8_t>& bytes) {
  auto b = std::make_unique<TBitmap>();
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  b->LoadFromStream(s);
  return b;
}

std::vector<uint8_t> SaveBytes(TBitmap& b) {
  TMemoryStream s;
  b.SaveToStream(s);
  return s.Bytes();
}

struct MagickCase {
  const char* name;
  const char* options;  // ImageMagick options between the source and the output
  const char* prefix;   // output coder prefix ("BMP2:" for core headers) or ""
  TPixelFormat format;  // the pixel format we must choose
  uint32_t headerSize;  // what ImageMagick writes, checked so the case tests what it claims
  uint16_t bitCount;
  uint32_t compression;
};

const MagickCase kMagickCases[] = {
    {"info_24", "-type truecolor -define bmp:format=bmp3", "", TPixelFormat::pf24bit, 40, 24, 0},
    {"info_8", "-type palette -colors 200 -compress none -define bmp:format=bmp3", "", TPixelFormat::pf8bit, 40, 8, 0},
    {"info_rle8", "-type palette -colors 100 -compress RLE -define bmp:format=bmp3", "", TPixelFormat::pf8bit, 40, 8,
     1},
    {"info_4", "-type palette -colors 12 -compress none -define bmp:format=bmp3", "", TPixelFormat::pf4bit, 40, 4, 0},
    {"info_1", "-monochrome -define bmp:format=bmp3", "", TPixelFormat::pf1bit, 40, 1, 0},
    {"core_8", "-type palette -colors 100", "BMP2:", TPixelFormat::pf8bit, 12, 8, 0},
    {"core_24", "-type truecolor", "BMP2:", TPixelFormat::pf24bit, 12, 24, 0},
    {"core_1", "-monochrome", "BMP2:", TPixelFormat::pf1bit, 12, 1, 0},
    {"v5_32_alpha", "-alpha set -channel A -fx 0.5 +channel", "", TPixelFormat::pf32bit, 124, 32, 3},
    {"v5_565", "-define bmp:subtype=RGB565", "", TPixelFormat::pf16bit, 124, 16, 3},
    {"v5_555", "-define bmp:subtype=RGB555", "", TPixelFormat::pf15bit, 124, 16, 3},
};

void PrintTo(const MagickCase& c, std::ostream* os) { *os << c.name; }

struct Size {
  int w, h;
};
void PrintTo(const Size& s, std::ostream* os) { *os << s.w << "x" << s.h; }
// 300 x 300: true-colour rows past the first 256 KiB read block.
const Size kSizes[] = {{13, 7}, {9, 3}, {32, 5}, {6, 6}, {300, 300}};

class BmpMagick : public ::testing::TestWithParam<std::tuple<MagickCase, Size>> {};

TEST_P(BmpMagick, DecodesLikeMagickAndWritesWhatMagickReads) {
  const auto& [c, size] = GetParam();
  TempDir dir;
  const std::string source = dir / "source.png";
  const std::string file = dir / "case.bmp";
  test::RunOracle(test::kMagick, Format("-size %dx%d plasma:fractal -seed 7 %s", size.w, size.h, Quote(source)));
  test::RunOracle(test::kMagick, Quote(source) + " " + c.options + " " + Quote(std::string(c.prefix) + file));
  const std::vector<uint8_t> bytes = test::FileBytes(file);
  ASSERT_GE(bytes.size(), 30u);
  ASSERT_EQ(Le32(bytes, 14), c.headerSize) << "ImageMagick wrote another header than the case names";
  const uint16_t bitCount =
      c.headerSize == 12 ? uint16_t(bytes[24] | bytes[25] << 8) : uint16_t(bytes[28] | bytes[29] << 8);
  ASSERT_EQ(bitCount, c.bitCount);
  if (c.headerSize != 12) {
    ASSERT_EQ(Le32(bytes, 30), c.compression);
  }

  auto ours = LoadBytes(bytes);
  EXPECT_EQ(ours->PixelFormat(), c.format);
  const test::TPnmImage oracle = MagickDecode(dir, file);
  EXPECT_TRUE(SameImage(oracle, BitmapRgb(*ours)));

  // written back: uncompressed, in the same pixel format, and ImageMagick sees the same picture
  const std::string written = dir / "written.bmp";
  test::WriteBytes(written, SaveBytes(*ours));
  const std::vector<uint8_t> out = test::FileBytes(written);
  EXPECT_EQ(Le32(out, 2), out.size()) << "bfSize";
  EXPECT_EQ(Le32(out, 14), 40u);
  EXPECT_EQ(out[28] | out[29] << 8, int(BitsPerPixelOf(c.format)));
  EXPECT_EQ(Le32(out, 30), c.format == TPixelFormat::pf16bit ? 3u : 0u) << "compression";
  EXPECT_TRUE(SameImage(oracle, MagickDecode(dir, written)));
  auto again = LoadBytes(out);
  EXPECT_EQ(again->PixelFormat(), c.format);
  EXPECT_TRUE(SameImage(oracle, BitmapRgb(*again)));
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<MagickCase, Size>>& info) {
  const MagickCase& c = std::get<0>(info.param);
  const Size& s = std::get<1>(info.param);
  return std::string(c.name) + "_" + std::to_string(s.w) + "x" + std::to_string(s.h);
}

INSTANTIATE_TEST_SUITE_P(Bmp, BmpMagick,
                         ::testing::Combine(::testing::ValuesIn(kMagickCases), ::testing::ValuesIn(kSizes)), CaseName);

// A little-endian BMP assembled field by field: file header, BITMAPINFOHEADER, extra bytes
// (masks or colour table) and pixel data.
std::vector<uint8_t> MakeBmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                             const std::vector<uint8_t>& extra, const std::vector<uint8_t>& pixels,
                             uint32_t clrUsed = 0) {
  std::vector<uint8_t> d(54);
  d[0] = 'B', d[1] = 'M';
  PutLe32(d, 2, uint32_t(54 + extra.size() + pixels.size()));
  PutLe32(d, 10, uint32_t(54 + extra.size()));
  PutLe32(d, 14, 40);
  PutLe32(d, 18, uint32_t(width));
  PutLe32(d, 22, uint32_t(height));
  d[26] = 1;
  d[28] = uint8_t(bits);
  PutLe32(d, 30, compression);
  PutLe32(d, 34, uint32_t(pixels.size()));
  PutLe32(d, 46, clrUsed);
  d.insert(d.end(), extra.begin(), extra.end());
  d.insert(d.end(), pixels.begin(), pixels.end());
  return d;
}

std::vector<uint8_t> GreyTable(unsigned n) {
  std::vector<uint8_t> t;
  for (unsigned i = 0; i < n; ++i) {
    const auto v = uint8_t(i * 255 / (n - 1));
    t.insert(t.end(), {v, uint8_t(255 - v), uint8_t(i * 37), 0});
  }
  return t;
}

struct CraftedCase {
  const char* name;
  std::vector<uint8_t> bytes;
  int tolerance;  // ImageMagick scales odd bit-field widths with its own rounding
};

std::vector<CraftedCase> CraftedCases() {
  std::vector<CraftedCase> cases;
  // RLE4, 5 × 3: encoded runs (alternating nibbles), an odd absolute block with its word padding,
  // a delta, end of line, end of bitmap. Pixels the data skips keep index 0.
  cases.push_back(
      {"rle4",
       MakeBmp(5, 3, 4, 2, GreyTable(16), {0x05, 0x12,              // row 0: 1 2 1 2 1
                                           0x00, 0x00,              // end of line
                                           0x00, 0x03, 0x34, 0x50,  // row 1: absolute 3, 4, 5 (3 nibbles in 2 bytes)
                                           0x02, 0x77,              // 7 7
                                           0x00, 0x00, 0x00, 0x02, 0x02, 0x00,  // delta: right 2
                                           0x03, 0xF0,                          // row 2: . . F 0 F
                                           0x00, 0x01},
               16),
       0});
  // RLE8, 6 × 3: runs, an odd absolute block (padded), a delta over a row, end of line, end of bitmap.
  cases.push_back({"rle8",
                   MakeBmp(6, 3, 8, 1, GreyTable(8), {0x03, 0x01, 0x03, 0x02,              // row 0: 1 1 1 2 2 2
                                                      0x00, 0x00, 0x00, 0x02, 0x01, 0x01,  // delta: right 1, up 1
                                                      0x00, 0x03, 0x05, 0x06, 0x07, 0x00,  // row 2 from x=1: 5 6 7
                                                      0x00, 0x00, 0x00, 0x01},
                           8),
                   0});
  // 32 bits with 10-10-10 bit fields after a BITMAPINFOHEADER: read through the masks.
  {
    std::vector<uint8_t> masks(12);
    PutLe32(masks, 0, 0x3FF00000);
    PutLe32(masks, 4, 0x000FFC00);
    PutLe32(masks, 8, 0x000003FF);
    std::vector<uint8_t> px;
    for (uint32_t i = 0; i < 6; ++i) {
      const uint32_t v = ((i * 170) << 20) | ((1023 - i * 100) << 10) | (i * 61);
      px.insert(px.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
    }
    cases.push_back({"fields_32_101010", MakeBmp(3, 2, 32, 3, masks, px), 1});
  }
  // 16 bits with 4-4-4 bit fields (not one of the two standard layouts).
  {
    std::vector<uint8_t> masks(12);
    PutLe32(masks, 0, 0x0F00);
    PutLe32(masks, 4, 0x00F0);
    PutLe32(masks, 8, 0x000F);
    std::vector<uint8_t> px = {0x21, 0x03, 0xFF, 0x0F, 0x5A, 0x0C, 0, 0,  // row padded to 8 bytes
                               0x00, 0x00, 0x84, 0x07, 0xC3, 0x09, 0, 0};
    // ImageMagick widens a 4-bit field by shifting it (v << 4); we scale it to the full range
    // (v × 255 / 15, so 15 gives 255): the two differ by at most 15.
    cases.push_back({"fields_16_444", MakeBmp(3, 2, 16, 3, masks, px), 15});
  }
  return cases;
}

TEST(Bmp, CraftedFilesDecodeLikeMagick) {
  for (const CraftedCase& c : CraftedCases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    test::WriteBytes(dir / "c.bmp", c.bytes);
    auto ours = LoadBytes(c.bytes);
    EXPECT_TRUE(SameImage(MagickDecode(dir, dir / "c.bmp"), BitmapRgb(*ours), c.tolerance));
  }
}

TEST(Bmp, OddBitFieldsScaleToTheFullRange) {
  auto b = LoadBytes(CraftedCases()[3].bytes);
  EXPECT_EQ(b->PixelFormat(), TPixelFormat::pfCustom);
  EXPECT_EQ(b->RedMask, 0x0F00u);
  EXPECT_EQ(b->Pixel(0, 1), RGB(3 * 17, 2 * 17, 1 * 17));  // 0x0321, the bottom-up file's first pixel
  EXPECT_EQ(b->Pixel(1, 1), RGB(255, 255, 255));           // 0x0FFF
}

TEST(Bmp, Rle4NamedPixels) {
  auto b = LoadBytes(CraftedCases()[0].bytes);
  ASSERT_EQ(b->PixelFormat(), TPixelFormat::pf4bit);
  auto index = [&](int x, int y) { return (b->RowData(y)[x / 2] >> ((x & 1) ? 0 : 4)) & 15; };
  // bottom-up: file row 0 is the bottom row
  const int expected[3][5] = {{0, 0, 15, 0, 15}, {3, 4, 5, 7, 7}, {1, 2, 1, 2, 1}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) EXPECT_EQ(index(x, y), expected[y][x]) << x << "," << y;
}

TEST(Bmp, TopDownAndV4HeadersDecodeLikeMagick) {
  TempDir dir;
  const std::string source = dir / "s.png";
  test::RunOracle(test::kMagick, "-size 11x5 plasma:fractal -seed 3 " + Quote(source));
  // top-down: negate the height of a bottom-up 24-bit file and reverse its rows
  test::RunOracle(test::kMagick, Quote(source) + " -type truecolor -define bmp:format=bmp3 " + Quote(dir / "b.bmp"));
  std::vector<uint8_t> d = test::FileBytes(dir / "b.bmp");
  const size_t off = Le32(d, 10), rowBytes = 36;
  std::vector<uint8_t> flipped(d.begin(), d.begin() + long(off));
  PutLe32(flipped, 22, uint32_t(-5));
  for (int y = 4; y >= 0; --y)
    flipped.insert(flipped.end(), d.begin() + long(off + rowBytes * size_t(y)),
                   d.begin() + long(off + rowBytes * size_t(y + 1)));
  test::WriteBytes(dir / "topdown.bmp", flipped);
  const test::TPnmImage expected = MagickDecode(dir, dir / "b.bmp");
  EXPECT_TRUE(SameImage(MagickDecode(dir, dir / "topdown.bmp"), expected));
  EXPECT_TRUE(SameImage(expected, BitmapRgb(*LoadBytes(flipped))));

  // BITMAPV4HEADER (108 bytes): a V5 file with the last 16 header bytes taken out
  test::RunOracle(test::kMagick, Quote(source) + " -alpha set -channel A -fx 0.75 +channel " + Quote(dir / "v5.bmp"));
  std::vector<uint8_t> v5 = test::FileBytes(dir / "v5.bmp");
  ASSERT_EQ(Le32(v5, 14), 124u);
  std::vector<uint8_t> v4(v5.begin(), v5.begin() + 14 + 108);
  v4.insert(v4.end(), v5.begin() + long(Le32(v5, 10)), v5.end());
  PutLe32(v4, 14, 108);
  PutLe32(v4, 10, 14 + 108);
  PutLe32(v4, 2, uint32_t(v4.size()));
  test::WriteBytes(dir / "v4.bmp", v4);
  EXPECT_TRUE(SameImage(MagickDecode(dir, dir / "v4.bmp"), BitmapRgb(*LoadBytes(v4))));
}

// A colour table shorter than the bit depth allows (the pixel data starts early): its missing
// entries read as black.
TEST(Bmp, ShortColourTableReadsMissingEntriesAsBlack) {
  std::vector<uint8_t> table = {10, 20, 30, 0, 40, 50, 60, 0};  // 2 of 256 entries
  std::vector<uint8_t> d = MakeBmp(3, 1, 8, 0, table, {0, 1, 7, 0});
  auto b = LoadBytes(d);
  EXPECT_EQ(b->Pixel(0, 0), RGB(30, 20, 10));
  EXPECT_EQ(b->Pixel(1, 0), RGB(60, 50, 40));
  EXPECT_EQ(b->Pixel(2, 0), RGB(0, 0, 0));
}

TEST(Bmp, Rle8FileWrittenBackIsPlainAndReadByMagick) {
  TempDir dir;
  test::RunOracle(test::kMagick,
                  "-size 20x9 plasma:fractal -seed 11 -type palette -colors 60 -compress RLE "
                  "-define bmp:format=bmp3 " +
                      Quote(dir / "r.bmp"));
  TBitmap b;
  b.LoadFromFile(dir / "r.bmp");
  b.SaveToFile(dir / "w.bmp");
  const std::vector<uint8_t> w = test::FileBytes(dir / "w.bmp");
  EXPECT_EQ(Le32(w, 30), 0u);
  EXPECT_EQ(Le32(w, 34), 20u * 9u) << "biSizeImage of the plain rows";
  EXPECT_EQ(Le32(w, 10) + 20u * 9u, w.size());
  EXPECT_TRUE(SameImage(MagickDecode(dir, dir / "r.bmp"), MagickDecode(dir, dir / "w.bmp")));
}

TEST(Bmp, SizesPastTheMemoryLimitAreRefusedBeforeAllocating) {
  struct Case {
    const char* name;
    int32_t w, h;
    uint16_t bits;
    uint32_t compression;
  };
  const Case cases[] = {{"24-bit 30000 x 30000", 30000, 30000, 24, 0},
                        {"RLE8 60000 x 60000", 60000, 60000, 8, 1},
                        {"top-down 1-bit", 2000000000, -2000000000, 1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> d =
        MakeBmp(c.w, c.h, c.bits, c.compression, c.bits <= 8 ? GreyTable(2) : std::vector<uint8_t>{}, {0, 1});
    EXPECT_THROW(LoadBytes(d), EInvalidGraphic);
  }
  // a lowered limit applies too
  const uint64_t saved = MemoryLimit();
  SetMemoryLimit(1000);
  EXPECT_THROW(LoadBytes(MakeBmp(100, 100, 24, 0, {}, std::vector<uint8_t>(300 * 100))), EInvalidGraphic);
  SetMemoryLimit(saved);
  // uncompressed rows the file does not hold are refused as a short read
  EXPECT_THROW(LoadBytes(MakeBmp(5000, 5000, 8, 0, GreyTable(2), {0, 0, 0, 0})), EReadError);
}

// A side of 0 gives an empty bitmap at once, however long the other side is (no row walk).
TEST(Bmp, ZeroSidedImagesLoadEmpty) {
  for (const auto& [w, h] : {std::pair{0, 2000000000}, std::pair{0, -2000000000}, std::pair{2000000, 0}}) {
    SCOPED_TRACE(std::to_string(w) + " x " + std::to_string(h));
    for (uint32_t compression : {0u, 1u}) {
      auto b = LoadBytes(MakeBmp(w, h, 8, compression, GreyTable(2), {0, 1}));
      EXPECT_TRUE(b->Empty());
      EXPECT_EQ(b->Width(), 0);
      EXPECT_EQ(b->Height(), 0);
    }
  }
  TBitmap empty;
  empty.SetPixelFormat(TPixelFormat::pf24bit);
  const std::vector<uint8_t> saved = SaveBytes(empty);
  EXPECT_TRUE(LoadBytes(saved)->Empty());
}

TEST(Bmp, InvalidHeadersRaiseInvalidGraphic) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"no signature", MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0})});
  cases.back().bytes[0] = 'X';
  cases.push_back({"7 bits per pixel", MakeBmp(1, 1, 7, 0, {}, {1, 2, 3, 0})});
  cases.push_back({"RLE8 on 4 bits", MakeBmp(1, 1, 4, 1, GreyTable(16), {0, 1})});
  cases.push_back({"RLE4 on 8 bits", MakeBmp(1, 1, 8, 2, GreyTable(16), {0, 1})});
  cases.push_back({"bit fields on 24 bits", MakeBmp(1, 1, 24, 3, std::vector<uint8_t>(12), {1, 2, 3, 0})});
  cases.push_back({"zero masks", MakeBmp(1, 1, 32, 3, std::vector<uint8_t>(12), {1, 2, 3, 0})});
  cases.push_back({"JPEG inside", MakeBmp(1, 1, 24, 4, {}, {1, 2, 3, 0})});
  cases.push_back({"unknown compression", MakeBmp(1, 1, 24, 9, {}, {1, 2, 3, 0})});
  cases.push_back({"negative width", MakeBmp(-4, 1, 24, 0, {}, {1, 2, 3, 0})});
  cases.push_back({"header size 20", MakeBmp(1, 1, 24, 0, {}, {1, 2, 3, 0})});
  PutLe32(cases.back().bytes, 14, 20);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(LoadBytes(c.bytes), EInvalidGraphic);
  }
}

// Every prefix of valid files is refused with the framework's errors, never a crash; RLE data
// cut after its last row may load. Byte corruptions of the headers load or raise those errors.
TEST(Bmp, TruncatedAndCorruptedFilesRaiseFrameworkErrors) {
  TempDir dir;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> files;
  for (const MagickCase& c : kMagickCases) {
    test::RunOracle(test::kMagick, std::string("-size 9x4 plasma:fractal -seed 2 ") + c.options + " " +
                                       Quote(std::string(c.prefix) + (dir / "h.bmp")));
    files.emplace_back(c.name, test::FileBytes(dir / "h.bmp"));
  }
  for (const CraftedCase& c : CraftedCases()) files.emplace_back(c.name, c.bytes);
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    const bool rle = Le32(bytes, 14) != 12 && (Le32(bytes, 30) == 1 || Le32(bytes, 30) == 2);
    for (size_t n = 0; n < bytes.size(); ++n) {
      const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + long(n));
      try {
        auto b = LoadBytes(prefix);
        EXPECT_TRUE(rle && n > Le32(bytes, 10)) << "prefix of " << n << " bytes loaded";
      } catch (const EInvalidGraphic&) {
      } catch (const EReadError&) {
      }
    }
    const size_t header = std::min<size_t>(bytes.size(), 160);
    for (size_t i = 0; i < header; ++i) {
      for (const uint8_t v : {uint8_t(0x00), uint8_t(0xFF), uint8_t(bytes[i] ^ 0x80)}) {
        std::vector<uint8_t> corrupt = bytes;
        corrupt[i] = v;
        try {
          auto b = LoadBytes(corrupt);
          EXPECT_GE(b->Width(), 0);
        } catch (const EInvalidGraphic&) {
        } catch (const EReadError&) {
        }
      }
    }
  }
}

TEST(Bmp, WritesEachPixelFormatWithItsPalette) {
  struct Case {
    TPixelFormat format;
    uint16_t bits;
    size_t tableEntries;
  };
  const Case cases[] = {{TPixelFormat::pf1bit, 1, 2},   {TPixelFormat::pf4bit, 4, 3},   {TPixelFormat::pf8bit, 8, 3},
                        {TPixelFormat::pf15bit, 16, 0}, {TPixelFormat::pf16bit, 16, 0}, {TPixelFormat::pf24bit, 24, 0},
                        {TPixelFormat::pf32bit, 32, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.format));
    TempDir dir;
    TBitmap b;
    b.SetPixelFormat(c.format);
    if (c.bits <= 8) {
      const TPaletteEntry entries[3] = {{200, 0, 0, 0}, {0, 0, 200, 0}, {10, 240, 10, 0}};
      b.SetPalette(CreatePalette(entries, c.tableEntries));
    }
    b.SetSize(7, 3);
    const uint8_t colours[3][4] = {{0, 0, 200, 255}, {200, 0, 0, 255}, {10, 240, 10, 255}};  // B, G, R, A
    std::vector<uint8_t> row(7 * 4);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 7; ++x) std::memcpy(&row[size_t(x) * 4], colours[(x + y) % (c.bits == 1 ? 2 : 3)], 4);
      b.WriteRowBGRA(y, row.data());
    }
    b.SaveToFile(dir / "o.bmp");
    const std::vector<uint8_t> d = test::FileBytes(dir / "o.bmp");
    EXPECT_EQ(d[28] | d[29] << 8, c.bits);
    EXPECT_EQ(Le32(d, 46), c.tableEntries);
    EXPECT_TRUE(SameImage(BitmapRgb(b), MagickDecode(dir, dir / "o.bmp")));
  }
}

}  // namespace
}  // namespace muralo
