// PCX reader: files written by ImageMagick and netpbm's ppmtopcx in every plane and depth layout,
// decoded by netpbm's pcxtoppm for comparison; crafted files for the header and palette rules.
#include <gtest/gtest.h>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PCXGraphic.h"

namespace muralo {
namespace {

struct OracleCase {
  const char* Name;
  std::string Command;  // writes %in.ppm's picture as out.pcx; run in the scratch folder
  uint8_t Planes, Bits;
  TPixelFormat Format;
};

const OracleCase kOracleCases[] = {
    {"rgb_three_planes", test::kMagick + " in.ppm out.pcx", 3, 8, TPixelFormat::pf24bit},
    {"palette_256_trailer", test::kMagick + " in.ppm -colors 200 ppm:- | " + test::kPpmToPcx + " -8bit > out.pcx", 1, 8,
     TPixelFormat::pf8bit},
    {"sixteen_colour_four_planes", test::kMagick + " in.ppm -colors 16 ppm:- | " + test::kPpmToPcx + " > out.pcx", 4, 1,
     TPixelFormat::pf4bit},
    // 8-colour EGA files: three one-bit planes form a 3-bit index into the header palette.
    {"eight_colour_three_planes",
     test::kMagick + " in.ppm -colors 8 ppm:- | " + test::kPpmToPcx + " -planes 3 > out.pcx", 3, 1,
     TPixelFormat::pf4bit},
    {"sixteen_colour_packed", test::kMagick + " in.ppm -colors 16 ppm:- | " + test::kPpmToPcx + " -packed > out.pcx", 1,
     4, TPixelFormat::pf4bit},
    {"four_colour_packed", test::kMagick + " in.ppm -colors 4 ppm:- | " + test::kPpmToPcx + " -packed > out.pcx", 1, 2,
     TPixelFormat::pf4bit},
    // One bit per pixel is always shown black (0) and white (1), so the oracle file is black and white.
    {"two_colour_packed", test::kMagick + " in.ppm -threshold 50% ppm:- | " + test::kPpmToPcx + " -packed > out.pcx", 1,
     1, TPixelFormat::pf1bit},
};

class PCXOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(PCXOracle, DecodesLikeImageMagick) {
  const OracleCase& c = GetParam();
  test::TempDir dir;
  test::RunTool(test::kMagick + " rose: -resize 37x23! '" + dir.File("in.ppm") + "'");
  test::RunTool("cd '" + dir.path().string() + "' && " + c.Command + " 2>/dev/null");
  const std::string file = dir.File("out.pcx");
  const std::vector<uint8_t> bytes = test::FileBytes(file);
  ASSERT_EQ(bytes[65], c.Planes) << "the encoder chose another layout";
  ASSERT_EQ(bytes[3], c.Bits);
  auto pcx = test::LoadBytes<TPCXGraphic>(bytes);
  EXPECT_EQ(pcx->PixelFormat(), c.Format);
  // netpbm's pcxtoppm is the oracle: ImageMagick 6 shows one-bit PCX files inverted.
  test::ExpectSamePixels(*pcx, test::NetpbmDecode(test::kPcxToPpm, file));
}

INSTANTIATE_TEST_SUITE_P(Layouts, PCXOracle, testing::ValuesIn(kOracleCases),
                         [](const auto& p) { return std::string(p.param.Name); });

// A 128-byte header followed by the given bytes.
std::vector<uint8_t> PCX(uint8_t maker, uint8_t version, uint8_t encoding, uint8_t bits, uint16_t w, uint16_t h,
                         uint8_t planes, uint16_t bytesPerLine, uint16_t paletteInfo, const std::vector<uint8_t>& rest,
                         const std::vector<uint8_t>& colorMap = {}) {
  std::vector<uint8_t> b = {maker, version, encoding, bits};
  test::PutLE16(b, 0);
  test::PutLE16(b, 0);
  test::PutLE16(b, uint16_t(w - 1));
  test::PutLE16(b, uint16_t(h - 1));
  test::PutLE16(b, 72);
  test::PutLE16(b, 96);
  for (size_t i = 0; i < 48; ++i) b.push_back(i < colorMap.size() ? colorMap[i] : 0);
  b.push_back(0);
  b.push_back(planes);
  test::PutLE16(b, bytesPerLine);
  test::PutLE16(b, paletteInfo);
  b.resize(128, 0);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(PCXReader, ContentTest) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool Expected;
  };
  const Case cases[] = {
      {"pcx version 5", PCX(10, 5, 1, 8, 1, 1, 1, 1, 1, {0}), true},
      {"word 5 capture", PCX(205, 5, 1, 8, 1, 1, 1, 1, 1, {0}), true},
      {"version 4", PCX(10, 4, 1, 8, 1, 1, 1, 1, 1, {0}), false},
      {"encoding 2", PCX(10, 5, 2, 8, 1, 1, 1, 1, 1, {0}), false},
      {"manufacturer 11", PCX(11, 5, 1, 8, 1, 1, 1, 1, 1, {0}), false},
      {"header only", PCX(10, 5, 1, 8, 1, 1, 1, 1, 1, {}), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_EQ(TPCXGraphic::CanLoad(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
  }
}

TEST(PCXReader, WordCaptureLoadsLikePCX) {
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(205, 5, 0, 1, 8, 1, 1, 2, 1, {0xA5, 0x00}));
  EXPECT_EQ(pcx->PixelFormat(), TPixelFormat::pf1bit);
  EXPECT_EQ(pcx->RowData(0)[0], 0xA5);
  EXPECT_EQ(pcx->Pixel(0, 0), clWhite);
  EXPECT_EQ(pcx->Pixel(1, 0), clBlack);
  EXPECT_EQ(pcx->ImageProperties.XResolution, 72.0f);
  EXPECT_EQ(pcx->ImageProperties.YResolution, 96.0f);
}

TEST(PCXReader, FourPlanesAreMergedIntoNibbles) {
  // 2 × 1, four planes of one byte each: 0x80, 0x00, 0x00, 0x80 → first pixel 9, second 0.
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 1, 2, 1, 4, 1, 1, {0x80, 0x00, 0x00, 0x80}));
  EXPECT_EQ(pcx->PixelFormat(), TPixelFormat::pf4bit);
  EXPECT_EQ(pcx->RowData(0)[0], 0x90);
}

TEST(PCXReader, VersionThreeUsesTheDefaultPalette) {
  const std::vector<uint8_t> map(48, 0x77);
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(10, 3, 0, 4, 2, 1, 1, 1, 1, {0x9C}, map));
  ASSERT_TRUE(pcx->Palette());
  EXPECT_EQ((*pcx->Palette())[9], (TPaletteEntry{255, 0, 0, 0}));  // the default palette's light red
  EXPECT_EQ(pcx->Pixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(pcx->Pixel(1, 0), RGB(0, 0, 255));
}

TEST(PCXReader, HeaderColourMapForFourBits) {
  std::vector<uint8_t> map(48, 0);
  map[3 * 5] = 10, map[3 * 5 + 1] = 20, map[3 * 5 + 2] = 30;
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 4, 1, 1, 1, 1, 1, {0x50}, map));
  EXPECT_EQ(pcx->Pixel(0, 0), RGB(10, 20, 30));
}

TEST(PCXReader, EightBitPaletteFromTrailerOrGrey) {
  std::vector<uint8_t> trailer = {0x0C};
  for (int i = 0; i < 256; ++i) trailer.insert(trailer.end(), {uint8_t(i), 0, uint8_t(255 - i)});
  std::vector<uint8_t> data = {0x05, 0x06};  // raw, 2 × 1
  data.insert(data.end(), trailer.begin(), trailer.end());
  auto withTrailer = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 8, 2, 1, 1, 2, 1, data));
  EXPECT_EQ(withTrailer->Pixel(0, 0), RGB(5, 0, 250));
  EXPECT_EQ(withTrailer->Pixel(1, 0), RGB(6, 0, 249));

  // No trailer and palette info 2: grey. The last 769 bytes are still not pixel data, so the
  // two pixels come first and filler follows.
  std::vector<uint8_t> plain = {0x05, 0x06};
  plain.resize(2 + 769, 0xEE);
  auto grey = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 8, 2, 1, 1, 2, 2, plain));
  EXPECT_EQ(grey->Pixel(1, 0), RGB(6, 6, 6));
}

TEST(PCXReader, PlaneRowPaddingIsSkipped) {
  // 24-bit 2 × 2 raw with 3 bytes per plane line (one byte of padding each).
  const std::vector<uint8_t> rows = {1, 2, 99, 3, 4,  99, 5,  6,  99,  // row 0: R, G, B planes
                                     7, 8, 99, 9, 10, 99, 11, 12, 99};
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 8, 2, 2, 3, 3, 1, rows));
  EXPECT_EQ(pcx->PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(pcx->Pixel(0, 0), RGB(1, 3, 5));
  EXPECT_EQ(pcx->Pixel(1, 1), RGB(8, 10, 12));
}

TEST(PCXReader, UnknownLayoutsAreRefused) {
  try {
    test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 1, 8, 1, 2, 1, 1, {0, 0}));
    FAIL() << "two planes of one bit loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidColorFormat, "PCX"));
  }
}

TEST(PCXReader, OtherManufacturerGivesAnEmptyImage) {
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(12, 5, 0, 8, 2, 2, 1, 2, 1, {1, 2, 3, 4}));
  EXPECT_TRUE(pcx->Empty());
}

TEST(PCXReader, ShortDataIsAReadError) {
  // Raw rows missing, and run-length data that ends early.
  EXPECT_THROW(test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 8, 4, 4, 3, 4, 1, {1, 2, 3})), EReadError);
  EXPECT_THROW(test::LoadBytes<TPCXGraphic>(PCX(10, 5, 1, 4, 8, 8, 1, 4, 1, {0xC3, 0x11})), EReadError);
}

TEST(PCXReader, PlaneLineShorterThanTheRowIsRefused) {
  EXPECT_THROW(test::LoadBytes<TPCXGraphic>(PCX(10, 5, 0, 8, 4, 1, 1, 2, 1, std::vector<uint8_t>(800, 1))),
               EInvalidGraphic);
}

TEST(PCXReader, RunsCarryOverScanLines) {
  // 24-bit 2 × 2, two bytes a plane line: a run of 7 ends inside the second line.
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 1, 8, 2, 2, 3, 2, 1, {0xC7, 5, 0xC5, 9}));
  EXPECT_EQ(pcx->Pixel(1, 0), RGB(5, 5, 5));
  EXPECT_EQ(pcx->Pixel(0, 1), RGB(5, 9, 9));
  EXPECT_EQ(pcx->Pixel(1, 1), RGB(9, 9, 9));
  // A last byte that counts a run without its value is a truncated file.
  EXPECT_THROW(test::LoadBytes<TPCXGraphic>(PCX(10, 5, 1, 8, 2, 2, 3, 2, 1, {0xC7, 5, 0xC5})), EReadError);
}

TEST(PCXReader, RunsAcrossTheReadChunks) {
  // 1000 × 100 palette pixels: one literal, then runs of 3 whose count and value bytes straddle
  // every read boundary of the data (more than 64 KiB of it).
  std::vector<uint8_t> data = {1};
  for (int i = 0; i < 33333; ++i) data.insert(data.end(), {0xC3, uint8_t(i % 100)});
  data.push_back(0x0C);
  for (int i = 0; i < 256; ++i) data.insert(data.end(), {uint8_t(i), uint8_t(i), uint8_t(i)});
  auto pcx = test::LoadBytes<TPCXGraphic>(PCX(10, 5, 1, 8, 1000, 100, 1, 1000, 1, data));
  // Run 32766 fills pixels 98299 to 98301; run 32767, whose count is the data's byte 65535, the next three.
  EXPECT_EQ(pcx->RowData(98)[301], 66);
  EXPECT_EQ(pcx->RowData(98)[302], 67);
  EXPECT_EQ(pcx->RowData(98)[304], 67);
  EXPECT_EQ(pcx->RowData(99)[999], 33332 % 100);
}

}  // namespace
}  // namespace muralo
