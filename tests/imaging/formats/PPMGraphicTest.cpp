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

struct OracleCase {
  const char* Name;
  const char* Command;  // writes out.pnm in the scratch folder
  char Kind;
  TPixelFormat Format;
};

const OracleCase kOracleCases[] = {
    {"P6_imagemagick", "convert-im6.q16 rose: -resize 37x23! out.pnm", '6', TPixelFormat::pf24bit},
    {"P3_plain", "convert-im6.q16 rose: -resize 37x23! ppm:- | pnmtoplainpnm > out.pnm", '3', TPixelFormat::pf24bit},
    {"P5_ramp", "pgmramp -lr 37 23 > out.pnm", '5', TPixelFormat::pf8bit},
    {"P2_plain_ramp", "pgmramp -diagonal 41 19 | pnmtoplainpnm > out.pnm", '2', TPixelFormat::pf8bit},
    {"P4_bitmap", "convert-im6.q16 rose: -resize 37x23! -threshold 50% pbm:out.pnm", '4', TPixelFormat::pf1bit},
    // Plain bitmaps with separated digits: this reader takes a run of digits as one number, so
    // netpbm's packed "0101" rows are not used here (see PlainSamples).
    {"P1_plain", "convert-im6.q16 rose: -resize 37x23! -threshold 50% -compress none pbm:out.pnm", '1',
     TPixelFormat::pf1bit},
    {"P3_imagemagick_plain", "convert-im6.q16 rose: -resize 37x23! -compress none ppm:out.pnm", '3',
     TPixelFormat::pf24bit},
    {"P6_ppmmake", "ppmmake rgb:10/80/f0 9 4 > out.pnm", '6', TPixelFormat::pf24bit},
};

class PPMOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(PPMOracle, DecodesLikeImageMagick) {
  const OracleCase& c = GetParam();
  test::TempDir dir;
  test::RunTool(std::string("cd '") + dir.path().string() + "' && " + c.Command);
  const std::string file = dir.File("out.pnm");
  const std::vector<uint8_t> bytes = test::FileBytes(file);
  ASSERT_EQ(bytes[1], c.Kind) << "the encoder wrote another kind";
  auto ppm = test::LoadBytes<TPPMGraphic>(bytes);
  EXPECT_EQ(ppm->PixelFormat(), c.Format);
  test::ExpectSamePixels(*ppm, test::OracleDecode(file));
}

INSTANTIATE_TEST_SUITE_P(Kinds, PPMOracle, testing::ValuesIn(kOracleCases),
                         [](const auto& p) { return std::string(p.param.Name); });

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

TEST(PPMReader, MagicStandsAloneOnItsLine) {
  // The numbers on the first line are discarded; the header numbers come from what follows.
  auto ppm = test::LoadBytes<TPPMGraphic>(Bytes("P6 9 9 255\n2 1\n255\n\x10\x20\x30\x01\x02\x03"));
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
      {"P1 digits without spaces are one number", "P1\n1 1\n0101\n", 0, 0x80},
      {"P1 packs most significant bit first", "P1\n3 1\n0 1 1\n", 0, 0x60},
      {"P2 maximum 15 is not scaled", "P2\n1 1\n15\n15\n", 0, 15},
      {"P2 sample 300 keeps its low byte", "P2\n1 1\n255\n300\n", 0, 44},
      {"P3 is stored blue first", "P3\n1 1\n255\n16 32 48\n", 0, 48},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto ppm = test::LoadBytes<TPPMGraphic>(Bytes(c.Text));
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
  try {
    test::LoadBytes<TPPMGraphic>(Bytes("P6\n2 2\n255\nabc"));
    FAIL() << "loaded short pixel data";
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

}  // namespace
}  // namespace muralo
