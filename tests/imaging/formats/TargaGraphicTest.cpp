// Targa reader and writer: ImageMagick-written files against ImageMagick's decode, crafted files
// for the header rules, and writer round trips checked by our reader and by ImageMagick.
#include <gtest/gtest.h>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/TargaGraphic.h"

namespace muralo {
namespace {

using test::OracleDecode;
using test::RunTool;
using test::TempDir;

struct OracleCase {
  const char* Name;
  const char* Options;  // ImageMagick (kMagick) options for the written file
  uint8_t ImageType;
  bool TopDown;
  TColorScheme Scheme;
};

const OracleCase kOracleCases[] = {
    {"truecolour_raw_bottom_up", "-compress None", 2, false, csRGB},
    {"truecolour_raw_top_down", "-orient TopLeft -compress None", 2, true, csRGB},
    {"truecolour_rle_bottom_up", "-compress RLE", 10, false, csRGB},
    {"truecolour_rle_top_down", "-orient TopLeft -compress RLE", 10, true, csRGB},
    {"colourmapped_raw", "-type Palette -compress None", 1, false, csIndexed},
    {"colourmapped_rle_top_down", "-orient TopLeft -type Palette -compress RLE", 9, true, csIndexed},
    {"grey_raw", "-type Grayscale -compress None", 3, false, csG},
    {"grey_rle", "-type Grayscale -compress RLE", 11, false, csG},
    {"alpha_rle", "-alpha set -channel A -evaluate set 50% +channel -compress RLE", 10, false, csRGBA},
};

class TargaOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(TargaOracle, DecodesLikeImageMagick) {
  const OracleCase& c = GetParam();
  TempDir dir;
  const std::string file = dir.File("image.tga");
  RunTool(std::string(test::kMagick + " rose: -resize 37x23! ") + c.Options + " '" + file + "'");
  const std::vector<uint8_t> bytes = test::FileBytes(file);
  ASSERT_EQ(bytes[2], c.ImageType) << "the oracle wrote another image type";
  ASSERT_EQ((bytes[17] & 0x20) != 0, c.TopDown);
  auto tga = test::LoadBytes<TTargaGraphic>(bytes);
  EXPECT_EQ(tga->ImageProperties.ColorScheme, c.Scheme);
  EXPECT_EQ(tga->ImageProperties.Compression, c.ImageType >= 9 ? ctRLE : ctNone);
  test::ExpectSamePixels(*tga, OracleDecode(file));
}

INSTANTIATE_TEST_SUITE_P(Variants, TargaOracle, testing::ValuesIn(kOracleCases),
                         [](const auto& p) { return std::string(p.param.Name); });

// A header followed by the given bytes.
std::vector<uint8_t> Targa(uint8_t cmapType, uint8_t type, uint16_t cmapLength, uint8_t entrySize, uint16_t w,
                           uint16_t h, uint8_t pixelSize, uint8_t descriptor, const std::vector<uint8_t>& rest) {
  std::vector<uint8_t> b = {0, cmapType, type};
  test::PutLE16(b, 0);
  test::PutLE16(b, cmapLength);
  b.push_back(entrySize);
  test::PutLE16(b, 0);
  test::PutLE16(b, 0);
  test::PutLE16(b, w);
  test::PutLE16(b, h);
  b.push_back(pixelSize);
  b.push_back(descriptor);
  b.insert(b.end(), rest.begin(), rest.end());
  return b;
}

TEST(TargaReader, ContentTestFollowsTheHeaderRules) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool Expected;
  };
  const std::vector<uint8_t> pixel = {1, 2, 3};
  const Case cases[] = {
      {"truecolour", Targa(0, 2, 0, 24, 1, 1, 24, 0, pixel), true},
      {"entry size 0 refused", Targa(0, 2, 0, 0, 1, 1, 24, 0, pixel), false},
      {"image type 4", Targa(0, 4, 0, 24, 1, 1, 24, 0, pixel), false},
      {"colour map type 2", Targa(2, 2, 0, 24, 1, 1, 24, 0, pixel), false},
      {"pixel size 12", Targa(0, 2, 0, 24, 1, 1, 12, 0, pixel), false},
      {"exactly 18 bytes", Targa(0, 2, 0, 24, 1, 1, 24, 0, {}), false},
      {"19 bytes", Targa(0, 2, 0, 24, 1, 1, 24, 0, {7}), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_EQ(TTargaGraphic::CanLoad(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
  }
}

TEST(TargaReader, EntrySizeZeroStillLoads) {
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(0, 2, 0, 0, 1, 1, 24, 0, {0x10, 0x20, 0x30}));
  EXPECT_EQ(tga->PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(tga->Pixel(0, 0), RGB(0x30, 0x20, 0x10));
}

TEST(TargaReader, SixteenBitColourMapEntry) {
  // Two 16-bit entries (0x7C00 red, 0x03E0 green) and a 2 × 1 colour-mapped image.
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(1, 1, 2, 16, 2, 1, 8, 0x20, {0x00, 0x7C, 0xE0, 0x03, 0, 1}));
  ASSERT_TRUE(tga->Palette());
  EXPECT_EQ((*tga->Palette())[0], (TPaletteEntry{248, 0, 0, 0}));
  EXPECT_EQ((*tga->Palette())[1], (TPaletteEntry{0, 248, 0, 0}));
  EXPECT_EQ(tga->Pixel(0, 0), RGB(248, 0, 0));
  EXPECT_EQ(tga->Pixel(1, 0), RGB(0, 248, 0));
}

TEST(TargaReader, LongColourMapIsConsumedAndCutTo256Entries) {
  std::vector<uint8_t> rest;
  for (int i = 0; i < 300; ++i) rest.insert(rest.end(), {uint8_t(i), uint8_t(i / 2), 7});  // B, G, R
  rest.push_back(5);
  rest.push_back(255);
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(1, 1, 300, 24, 2, 1, 8, 0x20, rest));
  ASSERT_TRUE(tga->Palette());
  EXPECT_EQ(tga->Palette()->size(), 256u);
  EXPECT_EQ(tga->Pixel(0, 0), RGB(7, 2, 5));
  EXPECT_EQ(tga->Pixel(1, 0), RGB(7, 127, 255));
}

TEST(TargaReader, BottomUpAndTopDownRowOrder) {
  const std::vector<uint8_t> rows = {10, 20};  // grey, 1 × 2, first stored row 10
  auto bottomUp = test::LoadBytes<TTargaGraphic>(Targa(0, 3, 0, 24, 1, 2, 8, 0x00, rows));
  auto topDown = test::LoadBytes<TTargaGraphic>(Targa(0, 3, 0, 24, 1, 2, 8, 0x20, rows));
  EXPECT_EQ(bottomUp->RowData(0)[0], 20);
  EXPECT_EQ(bottomUp->RowData(1)[0], 10);
  EXPECT_EQ(topDown->RowData(0)[0], 10);
  EXPECT_EQ(topDown->RowData(1)[0], 20);
}

TEST(TargaReader, GreyRunLengthGetsGreyPalette) {
  // Type 11, 3 × 2: row 0 a run of three 0x40, row 1 a raw packet 1, 2, 3; the colour map
  // announced in the header is skipped (not read as a palette).
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(1, 11, 1, 24, 3, 2, 8, 0x20, {9, 9, 9, 0x82, 0x40, 0x02, 1, 2, 3}));
  EXPECT_EQ(tga->PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_TRUE(tga->Palette());
  EXPECT_EQ((*tga->Palette())[200], (TPaletteEntry{200, 200, 200, 0}));
  EXPECT_EQ(tga->Pixel(2, 0), RGB(0x40, 0x40, 0x40));
  EXPECT_EQ(tga->RowData(1)[0], 1);
  EXPECT_EQ(tga->RowData(1)[2], 3);
}

TEST(TargaReader, FifteenBitPixelsAreStoredAsRead) {
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(0, 2, 0, 24, 2, 1, 15, 0x20, {0x00, 0x7C, 0x1F, 0x00}));
  EXPECT_EQ(tga->PixelFormat(), TPixelFormat::pf15bit);
  EXPECT_EQ(tga->ImageProperties.BitsPerSample, 5);
  EXPECT_EQ(tga->RowData(0)[1], 0x7C);
  EXPECT_EQ(tga->RowData(0)[2], 0x1F);
  EXPECT_EQ(tga->RowData(0)[3], 0x00);
}

TEST(TargaReader, ColourMapOfUnknownEntrySizeIsSkippedNotRead) {
  // Found by the fuzzer: 8-bit entries were read as 16-bit words past the map. Three 1-byte
  // entries are consumed, no palette is built, and the pixel after them is read.
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(1, 1, 3, 8, 1, 1, 8, 0x20, {1, 2, 3, 77}));
  EXPECT_FALSE(tga->Palette());
  EXPECT_EQ(tga->RowData(0)[0], 77);
}

TEST(TargaReader, RunLengthRowsStartWhereThePreviousEnded) {
  // 2 × 3, 24-bit, each row one run packet of two pixels; a trailing byte follows the data.
  std::vector<uint8_t> rest;
  for (uint8_t v : {0x11, 0x22, 0x33}) rest.insert(rest.end(), {0x81, v, v, v});
  rest.push_back(0xEE);
  auto tga = test::LoadBytes<TTargaGraphic>(Targa(0, 10, 0, 24, 2, 3, 24, 0x20, rest));
  EXPECT_EQ(tga->Pixel(1, 0), RGB(0x11, 0x11, 0x11));
  EXPECT_EQ(tga->Pixel(0, 1), RGB(0x22, 0x22, 0x22));
  EXPECT_EQ(tga->Pixel(1, 2), RGB(0x33, 0x33, 0x33));
}

// 600 × 160 24-bit pixels (more than 256 KiB of data, the readers' chunk) in raw packets of 100
// pixels and runs of 7.
std::vector<uint8_t> PacketsPastTheReadChunks() {
  std::vector<uint8_t> rest;
  for (int pixels = 0, i = 0; pixels < 600 * 160; ++i) {
    if (i % 2 == 0) {
      const int n = std::min(100, 600 * 160 - pixels);
      rest.push_back(uint8_t(n - 1));
      for (int k = 0; k < 3 * n; ++k) rest.push_back(uint8_t(k * 7 + i));
      pixels += n;
    } else {
      const int n = std::min(7, 600 * 160 - pixels);
      rest.insert(rest.end(), {uint8_t(0x80 | (n - 1)), uint8_t(i), uint8_t(2 * i), uint8_t(3 * i)});
      pixels += n;
    }
  }
  return Targa(0, 10, 0, 24, 600, 160, 24, 0x20, rest);
}

// Files of older writers, decoded by ImageMagick for comparison: run-length packets that carry
// their pixels past the end of a row, and colour maps whose first entry index is not 0 (pixel
// values count from that entry, TGA 2.0 field 4.1).
TEST(TargaReader, CrossingPacketsAndColourMapOriginLikeImageMagick) {
  std::vector<uint8_t> startsAtTwo =
      Targa(1, 1, 3, 24, 3, 2, 8, 0x20, {255, 0, 0, 0, 255, 0, 0, 0, 255, 2, 3, 4, 4, 3, 2});
  startsAtTwo[3] = 2;
  std::vector<uint8_t> mappedRunsStartAt250 =
      Targa(1, 9, 2, 24, 3, 2, 8, 0, {9, 8, 7, 1, 2, 3, 0x83, 251, 0x01, 250, 251});
  mappedRunsStartAt250[3] = 250;
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"run crossing rows", Targa(0, 10, 0, 24, 3, 2, 24, 0x20, {0x83, 0, 0, 255, 0x01, 0, 255, 0, 255, 0, 0})},
      {"raw packet crossing rows",
       Targa(0, 10, 0, 24, 2, 3, 24, 0, {0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x82, 30, 40, 50})},
      {"grey packet over three rows", Targa(0, 11, 0, 24, 2, 3, 8, 0x20, {0x85, 77})},
      {"colour map from entry 2", startsAtTwo},
      {"run-length map from entry 250", mappedRunsStartAt250},
      {"packets across the read chunks", PacketsPastTheReadChunks()},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string file = dir.File("image.tga");
    test::WriteBytes(file, bytes);
    std::unique_ptr<TTargaGraphic> tga;
    ASSERT_NO_THROW(tga = test::LoadBytes<TTargaGraphic>(bytes));
    test::ExpectSamePixels(*tga, OracleDecode(file));
  }
}

TEST(TargaReader, TruncatedRunLengthRowIsAReadError) {
  EXPECT_THROW(test::LoadBytes<TTargaGraphic>(Targa(0, 10, 0, 24, 4, 1, 24, 0x20, {0x81, 1, 2, 3})), EReadError);
}

TEST(TargaReader, UnknownPixelSizeIsRefused) {
  EXPECT_THROW(test::LoadBytes<TTargaGraphic>(Targa(0, 2, 0, 24, 1, 1, 12, 0x20, {1, 2})), EInvalidGraphic);
}

TEST(TargaReader, PropertiesTable) {
  struct Case {
    uint8_t Type, PixelSize;
    TColorScheme Scheme;
    uint8_t Bits, Samples;
  };
  const Case cases[] = {{3, 8, csG, 8, 1},    {11, 8, csG, 8, 1},   {1, 8, csIndexed, 8, 1}, {2, 15, csRGB, 5, 3},
                        {2, 16, csRGB, 5, 3}, {2, 24, csRGB, 8, 3}, {10, 32, csRGBA, 8, 4},  {2, 12, csUnknown, 8, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.Type) << "/" << int(c.PixelSize));
    TTargaGraphic tga;
    TMemoryStream s(Targa(0, c.Type, 0, 24, 5, 4, c.PixelSize, 0, {}));
    EXPECT_TRUE(tga.ReadImageProperties(s, 0));
    EXPECT_EQ(tga.ImageProperties.ColorScheme, c.Scheme);
    EXPECT_EQ(tga.ImageProperties.BitsPerSample, c.Bits);
    EXPECT_EQ(tga.ImageProperties.SamplesPerPixel, c.Samples);
    EXPECT_EQ(tga.ImageProperties.BitsPerPixel, c.Bits * c.Samples);
    EXPECT_EQ(tga.ImageProperties.Width, 5u);
    EXPECT_EQ(tga.ImageProperties.Height, 4u);
  }
}

// ---------------------------------------------------------------------------------------------
// Writer

// A bitmap of the format filled with a pattern that has runs and single pixels.
void FillPattern(TTargaGraphic& bmp, TPixelFormat format, int w, int h) {
  bmp.SetPixelFormat(format);
  bmp.SetSize(w, h);
  if (format == TPixelFormat::pf8bit) {
    std::vector<TPaletteEntry> pal(256);
    for (int i = 0; i < 256; ++i) pal[size_t(i)] = {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0};
    bmp.SetPalette(CreatePalette(pal));
  }
  const size_t rowBytes = size_t(w) * bmp.BitsPerPixel() / 8;
  for (int y = 0; y < h; ++y)
    for (size_t i = 0; i < rowBytes; ++i) bmp.RowData(y)[i] = uint8_t(i < rowBytes / 2 ? y * 16 : i * 31 + y);
}

struct WriterCase {
  const char* Name;
  TPixelFormat Format;
  bool Compressed;
  uint8_t PixelSize;
};

const WriterCase kWriterCases[] = {
    {"indexed8_raw", TPixelFormat::pf8bit, false, 8}, {"indexed8_rle", TPixelFormat::pf8bit, true, 8},
    {"bits15_raw", TPixelFormat::pf15bit, false, 16}, {"bits15_rle", TPixelFormat::pf15bit, true, 16},
    {"bits24_raw", TPixelFormat::pf24bit, false, 24}, {"bits24_rle", TPixelFormat::pf24bit, true, 24},
    {"bits32_raw", TPixelFormat::pf32bit, false, 32}, {"bits32_rle", TPixelFormat::pf32bit, true, 32},
};

class TargaWriter : public testing::TestWithParam<WriterCase> {};

TEST_P(TargaWriter, RoundTripsThroughOurReaderAndImageMagick) {
  const WriterCase& c = GetParam();
  TTargaGraphic source;
  FillPattern(source, c.Format, 13, 5);
  TMemoryStream out;
  source.SaveToStream(out, c.Compressed);
  const std::vector<uint8_t>& bytes = out.Bytes();
  ASSERT_GE(bytes.size(), 18u);
  const bool indexed = c.PixelSize == 8;
  EXPECT_EQ(bytes[1], indexed ? 1 : 0);
  EXPECT_EQ(bytes[2], (indexed ? 1 : 2) + (c.Compressed ? 8 : 0));
  EXPECT_EQ(bytes[5] | bytes[6] << 8, 256);
  EXPECT_EQ(bytes[7], 24);
  EXPECT_EQ(bytes[16], c.PixelSize);
  if (!c.Compressed) {
    EXPECT_EQ(bytes.size(), 18u + (indexed ? 768 : 0) + 13u * 5 * c.PixelSize / 8);
  }

  auto back = test::LoadBytes<TTargaGraphic>(bytes);
  ASSERT_EQ(back->Width(), 13);
  ASSERT_EQ(back->Height(), 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 13; ++x) ASSERT_EQ(back->Pixel(x, y), source.Pixel(x, y)) << x << "," << y;

  TempDir dir;
  const std::string file = dir.File("written.tga");
  test::WriteBytes(file, bytes);
  // ImageMagick's decode of our file, colour samples only. Five-bit samples are widened to eight
  // bits with rounding by ImageMagick and by bit replication here, which differ by at most 1.
  test::ExpectSamePixels(source, OracleDecode(file), c.PixelSize == 16 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, TargaWriter, testing::ValuesIn(kWriterCases),
                         [](const auto& p) { return std::string(p.param.Name); });

TEST(TargaWriterRules, EightBitRawLayout) {
  TTargaGraphic bmp;
  FillPattern(bmp, TPixelFormat::pf8bit, 3, 2);
  TMemoryStream out;
  bmp.SaveToStream(out, false);
  const auto& b = out.Bytes();
  ASSERT_EQ(b.size(), 18u + 768 + 6);
  // Colour map entry 1 as blue, green, red; then the top row first.
  EXPECT_EQ(b[18 + 3], 7);
  EXPECT_EQ(b[18 + 4], 254);
  EXPECT_EQ(b[18 + 5], 1);
  EXPECT_EQ(b[18 + 768], bmp.RowData(0)[0]);
  EXPECT_EQ(b[18 + 768 + 3], bmp.RowData(1)[0]);
}

TEST(TargaWriterRules, DefaultSaveIsRunLength) {
  TTargaGraphic bmp;
  FillPattern(bmp, TPixelFormat::pf24bit, 4, 4);
  TMemoryStream out;
  bmp.SaveToStream(out);
  EXPECT_EQ(out.Bytes()[2], 10);
}

TEST(TargaWriterRules, FourBitBitmapBecomesEightBit) {
  TTargaGraphic bmp;
  bmp.SetPixelFormat(TPixelFormat::pf4bit);
  bmp.SetSize(3, 1);
  bmp.SetPalette(CreatePalette(std::vector<TPaletteEntry>(16, TPaletteEntry{1, 2, 3, 0})));
  bmp.RowData(0)[0] = 0x12;
  TMemoryStream out;
  bmp.SaveToStream(out, false);
  EXPECT_EQ(bmp.PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(out.Bytes()[16], 8);
  EXPECT_EQ(out.Bytes()[18 + 768], 1);
  EXPECT_EQ(out.Bytes()[18 + 768 + 1], 2);
}

TEST(TargaWriterRules, EmptyBitmapWritesNothing) {
  TTargaGraphic bmp;
  bmp.SetPixelFormat(TPixelFormat::pf24bit);
  TMemoryStream out;
  bmp.SaveToStream(out, true);
  EXPECT_EQ(out.Size(), 0);
}

TEST(TargaWriterRules, SixteenBit565IsWrittenAs555) {
  TTargaGraphic bmp;
  bmp.SetPixelFormat(TPixelFormat::pf16bit);
  bmp.SetSize(1, 1);
  bmp.RowData(0)[0] = 0x00;  // 5-6-5 pure red: 0xF800
  bmp.RowData(0)[1] = 0xF8;
  TMemoryStream out;
  bmp.SaveToStream(out, false);
  EXPECT_EQ(out.Bytes()[18], 0x00);
  EXPECT_EQ(out.Bytes()[19], 0x7C);
}

}  // namespace
}  // namespace muralo
