// SGI reader: ImageMagick-written files (verbatim and run-length, 8 and 16 bits, grey, RGB, RGBA)
// against ImageMagick's decode; run-length 16-bit files re-encoded here from ImageMagick's
// verbatim ones; crafted files for the layout rules.
#include <gtest/gtest.h>
#include <algorithm>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/SGIGraphic.h"

namespace muralo {
namespace {

uint16_t BE16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] << 8 | b[at + 1]); }

// Re-encodes a verbatim SGI file as run-length data made of literal packets (SGI RLE: bit 7 set,
// count in the low seven bits, a zero header ends the row), rows in a shuffled order so that the
// offset table is really used.
std::vector<uint8_t> ToRunLength(const std::vector<uint8_t>& verbatim) {
  const uint32_t bpc = verbatim[3], w = BE16(verbatim, 6), h = BE16(verbatim, 8), z = BE16(verbatim, 10);
  std::vector<uint8_t> out(verbatim.begin(), verbatim.begin() + 512);
  out[2] = 1;
  const uint32_t rows = h * z;
  std::vector<uint32_t> offsets(rows), lengths(rows);
  std::vector<uint8_t> data;
  const uint32_t tableEnd = 512 + rows * 8;
  for (uint32_t k = 0; k < rows; ++k) {
    const uint32_t i = rows - 1 - k;  // last row first
    offsets[i] = tableEnd + uint32_t(data.size());
    const uint8_t* row = verbatim.data() + 512 + size_t(i) * w * bpc;
    for (uint32_t x = 0; x < w;) {
      const uint32_t n = std::min<uint32_t>(w - x, 100);
      if (bpc == 2) data.push_back(0);
      data.push_back(uint8_t(0x80 | n));
      data.insert(data.end(), row + x * bpc, row + (x + n) * bpc);
      x += n;
    }
    if (bpc == 2) data.push_back(0);
    data.push_back(0);
    lengths[i] = tableEnd + uint32_t(data.size()) - offsets[i];
  }
  for (uint32_t v : offsets) test::PutBE32(out, v);
  for (uint32_t v : lengths) test::PutBE32(out, v);
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

struct OracleCase {
  const char* Name;
  const char* Options;
  uint8_t Storage, BytesPerChannel, Channels;
  bool ReEncode;  // run-length file made here from the verbatim one
  TPixelFormat Format;
};

const OracleCase kOracleCases[] = {
    {"rgb8_rle", "-compress RLE", 1, 1, 3, false, TPixelFormat::pf24bit},
    {"rgb8_verbatim", "-compress None", 0, 1, 3, false, TPixelFormat::pf24bit},
    {"grey8_verbatim", "-type Grayscale -compress None", 0, 1, 1, false, TPixelFormat::pf8bit},
    {"grey8_rle", "-type Grayscale -compress RLE", 1, 1, 1, false, TPixelFormat::pf8bit},
    {"rgba8_rle", "-alpha set -channel A -evaluate set 60% +channel -compress RLE", 1, 1, 4, false,
     TPixelFormat::pf32bit},
    {"rgb16_verbatim", "-depth 16 -compress None", 0, 2, 3, false, TPixelFormat::pf24bit},
    {"grey16_verbatim", "-type Grayscale -depth 16 -compress None", 0, 2, 1, false, TPixelFormat::pf8bit},
    {"rgb16_rle", "-depth 16 -compress None", 0, 2, 3, true, TPixelFormat::pf24bit},
    {"grey16_rle", "-type Grayscale -depth 16 -compress None", 0, 2, 1, true, TPixelFormat::pf8bit},
};

class SGIOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(SGIOracle, DecodesLikeImageMagick) {
  const OracleCase& c = GetParam();
  test::TempDir dir;
  const std::string file = dir.File("image.sgi");
  test::RunTool(std::string(test::kMagick + " rose: -resize 37x23! ") + c.Options + " '" + file + "'");
  std::vector<uint8_t> bytes = test::FileBytes(file);
  ASSERT_EQ(bytes[2], c.Storage) << "the oracle wrote another storage";
  ASSERT_EQ(bytes[3], c.BytesPerChannel);
  ASSERT_EQ(BE16(bytes, 10), c.Channels);
  if (c.ReEncode) bytes = ToRunLength(bytes);
  auto sgi = test::LoadBytes<TSGIGraphic>(bytes);
  EXPECT_EQ(sgi->PixelFormat(), c.Format);
  EXPECT_EQ(sgi->ImageProperties.Compression, bytes[2] == 1 ? ctRLE : ctNone);
  EXPECT_TRUE(sgi->ImageProperties.Options.Has(ioBigEndian));
  // 16-bit samples: value × 255 div 65535 here, rounded by the oracle: at most 1 apart.
  // ImageMagick 6 reads 16-bit grey SGI files as colour-map indices (and turns 0xFFFF black), so
  // netpbm's sgitopnm decodes those.
  const bool grey16 = c.Channels == 1 && c.BytesPerChannel == 2;
  test::ExpectSamePixels(*sgi, grey16 ? test::NetpbmDecode(test::kSgiToPnm, file) : test::OracleDecode(file),
                         c.BytesPerChannel == 2 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Variants, SGIOracle, testing::ValuesIn(kOracleCases),
                         [](const auto& p) { return std::string(p.param.Name); });

std::vector<uint8_t> SGIHeader(uint8_t storage, uint8_t bpc, uint16_t dim, uint16_t w, uint16_t h, uint16_t z) {
  std::vector<uint8_t> b;
  test::PutBE16(b, SGIMagic);
  b.push_back(storage);
  b.push_back(bpc);
  test::PutBE16(b, dim);
  test::PutBE16(b, w);
  test::PutBE16(b, h);
  test::PutBE16(b, z);
  b.resize(512, 0);
  return b;
}

TEST(SGIReader, VerbatimChannelOffsets) {
  // RGB 4 × 2, one byte per sample: byte k of the data is k, so green of file row 1 (the top
  // bitmap row) starts at 512 + (1 + 1 × 2) × 4 = 524.
  std::vector<uint8_t> b = SGIHeader(0, 1, 3, 4, 2, 3);
  for (int k = 0; k < 24; ++k) b.push_back(uint8_t(k));
  auto sgi = test::LoadBytes<TSGIGraphic>(b);
  // Bitmap row 0 is file row 1: red at 4.., green at 12.., blue at 20...
  EXPECT_EQ(sgi->Pixel(0, 0), RGB(4, 12, 20));
  EXPECT_EQ(sgi->Pixel(3, 0), RGB(7, 15, 23));
  EXPECT_EQ(sgi->Pixel(0, 1), RGB(0, 8, 16));
}

TEST(SGIReader, SixteenBitVerbatimOffsetsAndByteOrder) {
  // Grey 2 × 2, two bytes per sample: file row 0 = 0x1234 0xFFFF, row 1 = 0x0000 0x8000.
  std::vector<uint8_t> b = SGIHeader(0, 2, 2, 2, 2, 1);
  b.insert(b.end(), {0x12, 0x34, 0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00});
  auto sgi = test::LoadBytes<TSGIGraphic>(b);
  EXPECT_EQ(sgi->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(sgi->RowData(1)[0], 0x1234 * 255 / 65535);
  EXPECT_EQ(sgi->RowData(1)[1], 255);
  EXPECT_EQ(sgi->RowData(0)[0], 0);
  EXPECT_EQ(sgi->RowData(0)[1], 0x8000 * 255 / 65535);
  ASSERT_TRUE(sgi->Palette());
  EXPECT_EQ(sgi->Palette()->size(), 256u);
  EXPECT_EQ((*sgi->Palette())[77], (TPaletteEntry{77, 77, 77, 0}));
}

TEST(SGIReader, RunLengthImageEmbeddedInALargerStream) {
  std::vector<uint8_t> verbatim = SGIHeader(0, 1, 3, 3, 2, 3);
  for (int k = 0; k < 18; ++k) verbatim.push_back(uint8_t(10 * k));
  const std::vector<uint8_t> rle = ToRunLength(verbatim);
  std::vector<uint8_t> embedded(100 + rle.size(), 0xAB);
  std::copy(rle.begin(), rle.end(), embedded.begin() + 100);
  TMemoryStream stream(embedded);
  stream.SetPosition(100);
  TSGIGraphic sgi;
  sgi.LoadFromStream(stream);
  auto plain = test::LoadBytes<TSGIGraphic>(verbatim);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(sgi.Pixel(x, y), plain->Pixel(x, y));
  EXPECT_EQ(plain->Pixel(2, 1), RGB(20, 80, 140));
}

TEST(SGIReader, ContentTestAndDimensionZero) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool Expected;
  };
  auto withPixel = [](std::vector<uint8_t> b) {
    b.push_back(42);
    return b;
  };
  const Case cases[] = {
      {"grey", withPixel(SGIHeader(0, 1, 2, 1, 1, 1)), true},
      {"dimension 0", withPixel(SGIHeader(0, 1, 0, 1, 1, 1)), false},
      {"dimension 4", withPixel(SGIHeader(0, 1, 4, 1, 1, 1)), false},
      {"3 bytes per sample", withPixel(SGIHeader(0, 3, 2, 1, 1, 1)), false},
      {"header only", SGIHeader(0, 1, 2, 1, 1, 1), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_EQ(TSGIGraphic::CanLoad(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
  }
  auto sgi = test::LoadBytes<TSGIGraphic>(withPixel(SGIHeader(0, 1, 0, 1, 1, 1)));
  EXPECT_EQ(sgi->RowData(0)[0], 42);
}

TEST(SGIReader, WrongMagicIsInvalid) {
  std::vector<uint8_t> b = SGIHeader(0, 1, 2, 1, 1, 1);
  b[1] = 0xDB;
  b.push_back(0);
  try {
    test::LoadBytes<TSGIGraphic>(b);
    FAIL() << "loaded without the magic";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "sgi, bw or rgb(a)"));
  }
}

TEST(SGIReader, MissingRowDataIsAReadError) {
  std::vector<uint8_t> b = SGIHeader(0, 1, 3, 8, 8, 3);
  b.resize(b.size() + 100, 1);
  EXPECT_THROW(test::LoadBytes<TSGIGraphic>(b), EReadError);
}

}  // namespace
}  // namespace muralo
