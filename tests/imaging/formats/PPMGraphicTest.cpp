// Portable map reader: P1 to P6 files written by netpbm and ImageMagick, decoded by ImageMagick
// for comparison; crafted files for the header, comment and sample rules.
#include <gtest/gtest.h>

#include <string>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PPMGraphic.h"

namespace muralo {
namespace {

using namespace std::string_literals;

struct OracleCase {
  const char* Name;
  std::string Command;  // writes out.pnm in the scratch folder
  char Kind;
  TPixelFormat Format;
  int Tolerance;  // netpbm's pamdepth rounds v × 255 / maximum, this reader truncates as for 16-bit samples
};

// Files written by netpbm and ImageMagick (kMagick), decoded for comparison by netpbm
// (pnmtopnm, then pamdepth to maximum 255).
const OracleCase kOracleCases[] = {
    {"P6_imagemagick", test::kMagick + " rose: -resize 37x23! out.pnm", '6', TPixelFormat::pf24bit, 0},
    {"P3_plain", test::kMagick + " rose: -resize 37x23! ppm:- | " + test::kPnmToPlainPnm + " > out.pnm", '3',
     TPixelFormat::pf24bit, 0},
    {"P5_ramp", test::kPgmRamp + " -lr 37 23 > out.pnm", '5', TPixelFormat::pf8bit, 0},
    {"P2_plain_ramp", test::kPgmRamp + " -diagonal 41 19 | " + test::kPnmToPlainPnm + " > out.pnm", '2',
     TPixelFormat::pf8bit, 0},
    {"P4_bitmap", test::kMagick + " rose: -resize 37x23! -threshold 50% pbm:out.pnm", '4', TPixelFormat::pf1bit, 0},
    {"P1_separated", test::kMagick + " rose: -resize 37x23! -threshold 50% -compress none pbm:out.pnm", '1',
     TPixelFormat::pf1bit, 0},
    // Netpbm's plain bitmaps write their digits without separators ("0101").
    {"P1_packed_netpbm",
     test::kMagick + " rose: -resize 37x23! -threshold 50% pbm:- | " + test::kPamToPnm + " -plain > out.pnm", '1',
     TPixelFormat::pf1bit, 0},
    {"P3_imagemagick_plain", test::kMagick + " rose: -resize 37x23! -compress none ppm:out.pnm", '3',
     TPixelFormat::pf24bit, 0},
    {"P6_ppmmake", test::kPpmMake + " rgb:10/80/f0 9 4 > out.pnm", '6', TPixelFormat::pf24bit, 0},
    // Maximum above 255: two bytes per raw sample, text samples scaled.
    {"P6_16bit_imagemagick", test::kMagick + " rose: -resize 37x23! -depth 16 ppm:out.pnm", '6', TPixelFormat::pf24bit,
     1},
    {"P5_maximum_1000", test::kPgmRamp + " -lr 37 23 | " + test::kPamDepth + " 1000 > out.pnm", '5',
     TPixelFormat::pf8bit, 1},
    {"P2_maximum_1000_plain",
     test::kPgmRamp + " -diagonal 41 19 | " + test::kPamDepth + " 1000 | " + test::kPnmToPlainPnm + " > out.pnm", '2',
     TPixelFormat::pf8bit, 1},
    {"P3_16bit_plain",
     test::kMagick + " rose: -resize 37x23! -depth 16 ppm:- | " + test::kPamToPnm + " -plain > out.pnm", '3',
     TPixelFormat::pf24bit, 1},
    {"P6_from_pgmtoppm_16bit",
     test::kPgmRamp + " -lr 37 23 | " + test::kPamDepth + " 4095 | " + test::kPgmToPpm + " rgb:ff/80/00 > out.pnm", '6',
     TPixelFormat::pf24bit, 1},
};

class PPMOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(PPMOracle, DecodesLikeNetpbm) {
  const OracleCase& c = GetParam();
  test::TempDir dir;
  test::RunTool(std::string("cd '") + dir.path().string() + "' && " + c.Command);
  const std::string file = dir.File("out.pnm");
  const std::vector<uint8_t> bytes = test::FileBytes(file);
  ASSERT_EQ(bytes[1], c.Kind) << "the encoder wrote another kind";
  auto ppm = test::LoadBytes<TPPMGraphic>(bytes);
  EXPECT_EQ(ppm->PixelFormat(), c.Format);
  test::ExpectSamePixels(*ppm, test::NetpbmDecode(test::kPnmToPnm, file), c.Tolerance);
}

INSTANTIATE_TEST_SUITE_P(Kinds, PPMOracle, testing::ValuesIn(kOracleCases),
                         [](const auto& p) { return std::string(p.param.Name); });

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PPMReader, HeaderNumbersOnTheMagicLine) {
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes("P6 2 1 255\n\x10\x20\x30\x01\x02\x03"));
  ASSERT_EQ(ppm->Width(), 2);
  ASSERT_EQ(ppm->Height(), 1);
  EXPECT_EQ(ppm->RowData(0)[0], 0x30);
  EXPECT_EQ(ppm->RowData(0)[1], 0x20);
  EXPECT_EQ(ppm->RowData(0)[2], 0x10);
  EXPECT_EQ(ppm->Pixel(1, 0), RGB(1, 2, 3));
}

TEST(PPMReader, CommentsBetweenHeaderNumbers) {
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes("P5\n# one\n# two 99 99\n3 # three\n1\n255\n\x01\x02\x03"));
  ASSERT_EQ(ppm->Width(), 3);
  ASSERT_EQ(ppm->Height(), 1);
  EXPECT_EQ(ppm->RowData(0)[2], 3);
}

TEST(PPMReader, PlainSamples) {
  struct Case {
    const char* Name;
    std::string Text;
    int X;
    uint8_t Expected;  // bitmap byte at X of row 0
  };
  const Case cases[] = {
      {"P1 digits without spaces are pixels each", "P1\n4 1\n0101\n", 0, 0x50},
      {"P1 packs most significant bit first", "P1\n3 1\n0 1 1\n", 0, 0x60},
      {"P2 maximum 15 is not scaled", "P2\n1 1\n15\n15\n", 0, 15},
      {"P2 sample 300 keeps its low byte", "P2\n1 1\n255\n300\n", 0, 44},
      {"P3 is stored blue first", "P3\n1 1\n255\n16 32 48\n", 0, 48},
      {"P2 maximum 1000 is scaled, truncated", "P2\n1 1\n1000\n999\n", 0, 254},
      {"P2 sample past a maximum above 255 is the maximum", "P2\n1 1\n1000\n1001\n", 0, 255},
      {"P5 maximum 65535 takes big-endian pairs", "P5\n2 1\n65535\n\x80\x00\xFF\xFF"s, 0, 127},
      {"P6 maximum 300 blue", "P6\n2 1\n300\n\0\0\0\0\0\0\x01\x2C\0\x96\0\0"s, 3, 0},
      {"P6 maximum 300 red", "P6\n2 1\n300\n\0\0\0\0\0\0\x01\x2C\0\x96\0\0"s, 5, 255},
      {"P6 maximum 300 green", "P6\n2 1\n300\n\0\0\0\0\0\0\x01\x2C\0\x96\0\0"s, 4, 127},
      {"A plain sample may end the file", "P2\n2 1\n255\n7 9", 1, 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto ppm = test::LoadBytes<TPPMGraphic>(std::vector<uint8_t>(c.Text.begin(), c.Text.end()));
    EXPECT_EQ(ppm->RowData(0)[c.X], c.Expected);
  }
}

TEST(PPMReader, BitmapPaletteIsWhiteThenBlack) {
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes("P1\n2 1\n1 0\n"));
  EXPECT_EQ(ppm->Pixel(0, 0), clBlack);
  EXPECT_EQ(ppm->Pixel(1, 0), clWhite);
}

TEST(PPMReader, RawBitmapRowsAreWholeBytes) {
  // Width 10: two bytes per row.
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes("P4\n10 2\n\xFF\xC0\x01\x40"));
  EXPECT_EQ(ppm->RowData(0)[1], 0xC0);
  EXPECT_EQ(ppm->RowData(1)[0], 0x01);
  EXPECT_EQ(ppm->Pixel(9, 1), clBlack);
  EXPECT_EQ(ppm->Pixel(8, 1), clWhite);
}

TEST(PPMReader, OtherDigitsGiveAnEmptyImage) {
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes("P7\nWIDTH 2\nHEIGHT 2\n"));
  EXPECT_TRUE(ppm->Empty());
}

TEST(PPMReader, Failures) {
  try {
    test::LoadBytes<TPPMGraphic>(Bytes("Q6\n1 1\n255\nabc"));
    FAIL() << "loaded without P";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "PBM, PGM or PPM"));
  }
  EXPECT_THROW(test::LoadBytes<TPPMGraphic>(Bytes("Px\n1 1\n255\nabc")), EConvertError);
  // Pixel data shorter than the declared rows is refused before the bitmap is allocated.
  EXPECT_THROW(test::LoadBytes<TPPMGraphic>(Bytes("P6\n2 2\n255\nabc")), EReadError);
  try {
    test::LoadBytes<TPPMGraphic>(Bytes("P3\n2 1\n255\n1 2 3 4 5      "));
    FAIL() << "loaded a plain row past the data";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesStreamReadError, "PPM"));
  }
}

TEST(PPMReader, PixelDataPastTheFirstBufferRefill) {
  // More than 4096 bytes of pixels: the character reader refills and never hands out stale bytes.
  std::string text = "P5\n100 50\n255\n";
  for (int i = 0; i < 5000; ++i) text.push_back(char(i % 251));
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes(text));
  EXPECT_EQ(ppm->RowData(49)[99], 4999 % 251);
  EXPECT_EQ(ppm->RowData(40)[96], 4096 % 251);
}

TEST(PPMReader, RawRowsPastTheFirstReadBlock) {
  // Two-byte samples, 2000 bytes a row: rows are read in blocks of 131, so row 199 is in the second.
  std::string text = "P5\n1000 200\n65535\n";
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 1000; ++x) text += {char(y), char(x % 256)};
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes(text));
  EXPECT_EQ(ppm->RowData(130)[999], (130 * 256 + 999 % 256) * 255 / 65535);
  EXPECT_EQ(ppm->RowData(199)[0], (199 * 256) * 255 / 65535);
  EXPECT_EQ(ppm->RowData(199)[999], (199 * 256 + 999 % 256) * 255 / 65535);
}

TEST(PPMReader, ContentTest) {
  struct Case {
    const char* Text;
    bool Expected;
  };
  const Case cases[] = {{"P6\n1 1\n255\nabc", true},
                        {"P1\n1 1\n1\n\n\n", true},
                        {"P7\n1 1\n255\nabc", false},
                        {"P0\n1 1\n255\nabc", false},
                        {"P6\n1 1\n25", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Text);
    TMemoryStream s(Bytes(c.Text));
    EXPECT_EQ(TPPMGraphic::CanLoad(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
  }
}

}  // namespace
}  // namespace muralo

namespace muralo {
namespace {

TEST(PPMReader, ZeroWidthIsAnEmptyImageWhateverTheHeight) {
  // Found by the fuzzer: 0 × 9211162 walked nine million empty rows.
  const std::string text = "P3\n0 4000000000\n255\n1 2 3\n";
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes(text));
  EXPECT_TRUE(ppm->Empty());
  EXPECT_EQ(ppm->ImageProperties.Height, 4000000000u);
}

// With the memory limit raised far up, a side past the bitmap's int range is still refused
// before anything is allocated.
TEST(PPMReader, SidesPastTheBitmapRangeAreRefused) {
  const uint64_t saved = MemoryLimit();
  SetMemoryLimit(uint64_t(1) << 42);
  const std::string text = "P5\n3000000000 1\n255\nab";
  TPPMGraphic ppm;
  TMemoryStream s(std::vector<uint8_t>(text.begin(), text.end()));
  EXPECT_THROW(ppm.LoadFromStream(s), EInvalidGraphic);
  EXPECT_TRUE(ppm.Bits().empty());
  SetMemoryLimit(saved);
}

// Header numbers past 32 bits, maximums past 65535 and endless comments or separators are an
// invalid header, never wrapped or read on without end.
TEST(PPMReader, HeaderLimits) {
  const std::string sample = "P5\n1 1\n255\nab";
  const std::string cases[] = {
      "P5\n4294967298 1\n255\nab",
      "P5\n1 99999999999999999999999\n255\nab",
      "P5\n1 1\n65536\nab",
      "P5\n#" + std::string(5000, 'c') + "\n1 1\n255\nab",
      "P5\n" + std::string(100000, '\0') + "1 1\n255\nab",
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text.substr(0, 40));
    try {
      test::LoadBytes<TPPMGraphic>(Bytes(text));
      FAIL() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.message(), Format(gesInvalidImage, "PBM, PGM or PPM"));
    }
  }
  EXPECT_EQ(test::LoadBytes<TPPMGraphic>(Bytes(sample))->Pixel(0, 0), RGB(97, 97, 97));
}

}  // namespace
}  // namespace muralo
