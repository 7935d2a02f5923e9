// TIFF reader: files written at test time by libtiff's tiffcp, ImageMagick and Pillow, decoded by
// us and by the oracle (ImageMagick, or libtiff's own tiff2rgba where ImageMagick reads the file
// differently), compared pixel for pixel; crafted files for the directory rules and for input
// that must be refused.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/TIFFGraphic.h"

namespace muralo {
namespace {

using test::RunTool;
using test::TempDir;

enum class TReference { ImageMagick, Tiff2Rgba };

struct OracleCase {
  const char* Name;
  // Shell commands run in the scratch folder, which holds src.png (37 × 23 RGB) and src.tif
  // (the same, uncompressed); they write image.tif.
  std::string Commands;
  TReference Reference;
  int Tolerance;  // per sample: JPEG and the colour-space conversions round differently
  bool Alpha;
  TColorScheme Scheme;
};

#define IM(options) test::kMagick + " src.png " options " image.tif"
#define IM_TO(options, file) test::kMagick + " src.png " options " " file
#define PIL(code) test::kPython + " -c \"from PIL import Image; im = Image.open('src.png'); " code "\""

const OracleCase kOracleCases[] = {
    {"none_rgb", IM("-compress None"), TReference::ImageMagick, 0, false, csRGB},
    {"none_rgb_big_endian", IM("-endian MSB -compress None"), TReference::ImageMagick, 0, false, csRGB},
    {"several_strips", IM("-define tiff:rows-per-strip=5 -compress None"), TReference::ImageMagick, 0, false, csRGB},
    {"packbits", IM("-compress RLE"), TReference::ImageMagick, 0, false, csRGB},
    {"lzw", IM("-compress LZW"), TReference::ImageMagick, 0, false, csRGB},
    {"lzw_big_endian", IM("-endian MSB -compress LZW"), TReference::ImageMagick, 0, false, csRGB},
    {"lzw_predictor", test::kTiffCp + " -c lzw:2 -r 4 src.tif image.tif", TReference::ImageMagick, 0, false, csRGB},
    {"deflate", IM("-compress Zip"), TReference::ImageMagick, 0, false, csRGB},
    {"deflate_predictor", test::kTiffCp + " -c zip:2 src.tif image.tif", TReference::ImageMagick, 0, false, csRGB},
    {"jpeg_rgb", IM("-compress JPEG"), TReference::ImageMagick, 1, false, csRGB},
    {"jpeg_ycbcr", test::kTiffCp + " -c jpeg:90 -r 16 src.tif image.tif", TReference::Tiff2Rgba, 2, false, csYCbCr},
    {"jpeg_grey", IM("-colorspace Gray -compress JPEG"), TReference::ImageMagick, 1, false, csG},
    {"rgb16", IM("-depth 16 -compress None"), TReference::ImageMagick, 0, false, csRGB},
    {"rgb16_big_endian", IM("-depth 16 -endian MSB -compress None"), TReference::ImageMagick, 0, false, csRGB},
    {"rgb16_deflate_predictor",
     IM_TO("-depth 16 -compress None", "src16.tif") " && " + test::kTiffCp + " -c zip:2 src16.tif image.tif",
     TReference::ImageMagick, 0, false, csRGB},
    {"rgb16_lzw_predictor_big_endian",
     IM_TO("-depth 16 -endian MSB -compress None", "src16.tif") " && " + test::kTiffCp +
         " -c lzw:2 src16.tif image.tif",
     TReference::ImageMagick, 0, false, csRGB},
    {"rgba_unassociated", IM("-alpha set -channel A -fx 'i/w' +channel -compress LZW"), TReference::ImageMagick, 0,
     true, csRGBA},
    {"rgba_unspecified_extra_sample",
     IM("-alpha set -channel A -evaluate set 40% +channel -define tiff:alpha=unspecified -compress None"),
     TReference::ImageMagick, 0, false, csRGB},
    {"rgba_pillow", PIL("im.convert('RGBA').save('image.tif', compression='tiff_adobe_deflate')"),
     TReference::ImageMagick, 0, true, csRGBA},
    {"palette8", IM("-type Palette -compress None"), TReference::ImageMagick, 0, false, csIndexed},
    {"palette4_lzw", IM("-colors 12 -depth 4 -type Palette -compress LZW"), TReference::ImageMagick, 0, false,
     csIndexed},
    {"palette2", IM("-colors 4 -depth 2 -type Palette -compress None"), TReference::ImageMagick, 0, false, csIndexed},
    {"grey1", IM("-monochrome -compress None"), TReference::ImageMagick, 0, false, csG},
    {"grey2", IM("-colorspace Gray -depth 2 -compress None"), TReference::ImageMagick, 0, false, csG},
    {"grey4", IM("-colorspace Gray -depth 4 -compress RLE"), TReference::ImageMagick, 0, false, csG},
    {"grey8", IM("-colorspace Gray -compress None"), TReference::ImageMagick, 0, false, csG},
    {"grey16_big_endian", IM("-colorspace Gray -depth 16 -endian MSB -compress Zip"), TReference::ImageMagick, 0, false,
     csG},
    {"grey8_min_is_white", IM("-colorspace Gray -define tiff:photometric=min-is-white -compress None"),
     TReference::ImageMagick, 0, false, csG},
    {"grey_alpha_pillow", PIL("im.convert('LA').save('image.tif')"), TReference::ImageMagick, 0, false, csG},
    {"cmyk", IM("-colorspace CMYK -compress None"), TReference::ImageMagick, 1, false, csCMYK},
    // CIE L*a*b* (photometric 8) to sRGB: ImageMagick decides the linear segment per component and
    // rounds its 16-bit quantum to 8 bits, at most 2 levels from one conversion in extended precision.
    {"cielab", IM("-colorspace Lab -compress None"), TReference::ImageMagick, 2, false, csCIELab},
    {"fax_g3", IM("-monochrome -compress Fax"), TReference::ImageMagick, 0, false, csG},
    {"fax_g3_tiffcp",
     IM_TO("-monochrome -type bilevel -depth 1 -compress None", "mono.tif") " && " + test::kTiffCp +
         " -c g3:1d mono.tif image.tif",
     TReference::ImageMagick, 0, false, csG},
    {"tiles", test::kTiffCp + " -t -w 16 -l 16 src.tif image.tif", TReference::ImageMagick, 0, false, csRGB},
    {"tiles_lzw_predictor", test::kTiffCp + " -t -w 16 -l 16 -c lzw:2 src.tif image.tif", TReference::ImageMagick, 0,
     false, csRGB},
    {"tiles_jpeg_ycbcr", test::kTiffCp + " -t -w 16 -l 16 -c jpeg:90 src.tif image.tif", TReference::Tiff2Rgba, 2,
     false, csYCbCr},
    {"planar", test::kTiffCp + " -p separate src.tif image.tif", TReference::ImageMagick, 0, false, csRGB},
    {"planar_lzw_strips", test::kTiffCp + " -p separate -c lzw:2 -r 3 src.tif image.tif", TReference::ImageMagick, 0,
     false, csRGB},
    {"planar_tiles_rgba",
     IM_TO("-alpha set -channel A -fx 'j/h' +channel -compress None", "rgba.tif") " && " + test::kTiffCp +
         " -p separate -t -w 16 -l 16 rgba.tif image.tif",
     TReference::ImageMagick, 0, true, csRGBA},
    {"multi_page_first", test::kMagick + " src.png rose: -compress LZW image.tif", TReference::ImageMagick, 0, false,
     csRGB},
};

class TIFFOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(TIFFOracle, DecodesLikeTheOracle) {
  const OracleCase& c = GetParam();
  TempDir dir;
  RunTool(test::kMagick + " rose: -resize 37x23! '" + dir.File("src.png") + "'");
  RunTool(test::kMagick + " '" + dir.File("src.png") + "' -compress None '" + dir.File("src.tif") + "'");
  RunTool("sh -c " + test::Quote("cd " + test::Quote(dir.path().string()) + " && " + c.Commands));
  const std::string file = dir.File("image.tif");
  auto tiff = test::LoadBytes<TTIFFGraphic>(test::FileBytes(file));
  EXPECT_EQ(tiff->ImageProperties.ColorScheme, c.Scheme);
  std::string reference = file + "[0]";
  if (c.Reference == TReference::Tiff2Rgba) {
    reference = dir.File("reference.tif");
    RunTool(test::kTiff2Rgba + " -c none '" + file + "' '" + reference + "'");
  }
  const test::TOracleImage oracle = test::OracleDecode(reference, c.Alpha);
  test::ExpectSamePixels(*tiff, oracle, c.Tolerance);
  if (!c.Alpha) return;
  // The bitmap's reader of pixels leaves alpha out: it is compared here, in the 32-bit rows.
  ASSERT_EQ(tiff->PixelFormat(), TPixelFormat::pf32bit);
  for (int y = 0; y < oracle.Height; ++y)
    for (int x = 0; x < oracle.Width; ++x)
      ASSERT_EQ(tiff->RowData(y)[4 * x + 3], oracle.At(x, y)[3]) << "alpha at (" << x << ", " << y << ")";
}

INSTANTIATE_TEST_SUITE_P(Variants, TIFFOracle, testing::ValuesIn(kOracleCases),
                         [](const auto& p) { return std::string(p.param.Name); });

// ---------------------------------------------------------------------------------------------
// Crafted files: a directory of the given entries, the image data after it.

struct Entry {
  uint16_t Tag, Type;
  std::vector<uint32_t> Values;  // SHORT, LONG or BYTE values, stored inline when they fit
};

std::vector<uint8_t> Craft(bool bigEndian, std::vector<Entry> entries, const std::vector<uint8_t>& data,
                           uint32_t nextIFD = 0) {
  std::vector<uint8_t> b;
  auto put16 = [&](std::vector<uint8_t>& v, uint32_t x) {
    bigEndian ? test::PutBE16(v, uint16_t(x)) : test::PutLE16(v, uint16_t(x));
  };
  auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
    if (bigEndian) return test::PutBE32(v, x);
    test::PutLE16(v, uint16_t(x));
    test::PutLE16(v, uint16_t(x >> 16));
  };
  b.push_back(bigEndian ? 'M' : 'I');
  b.push_back(bigEndian ? 'M' : 'I');
  put16(b, 42);
  put32(b, 8);
  const uint32_t dirSize = 2 + 12 * uint32_t(entries.size()) + 4;
  std::vector<uint8_t> extra;
  const uint32_t dataAt = 8 + dirSize;
  const uint32_t extraAt = dataAt + uint32_t(data.size());
  put16(b, uint32_t(entries.size()));
  for (const Entry& e : entries) {
    put16(b, e.Tag);
    put16(b, e.Type);
    // RATIONAL (type 5) values are given as numerator, denominator pairs of LONGs.
    put32(b, uint32_t(e.Type == 5 ? e.Values.size() / 2 : e.Values.size()));
    const uint32_t size = e.Type == 3 ? 2 : (e.Type == 4 || e.Type == 5) ? 4 : 1;
    std::vector<uint8_t> values;
    for (uint32_t v : e.Values)
      size == 2 ? put16(values, v) : size == 4 ? put32(values, v) : values.push_back(uint8_t(v));
    if (values.size() <= 4) {
      values.resize(4, 0);
      b.insert(b.end(), values.begin(), values.end());
    } else {
      put32(b, extraAt + uint32_t(extra.size()));
      extra.insert(extra.end(), values.begin(), values.end());
    }
  }
  put32(b, nextIFD);
  b.insert(b.end(), data.begin(), data.end());
  b.insert(b.end(), extra.begin(), extra.end());
  return b;
}

constexpr uint32_t kDataAt(size_t entries) { return uint32_t(8 + 2 + 12 * entries + 4); }

// A 3 × 2 8-bit grey image, uncompressed, in one strip.
std::vector<Entry> GreyEntries(uint32_t count = 6) {
  return {{256, 3, {3}}, {257, 3, {2}},          {258, 3, {8}}, {259, 3, {1}},
          {262, 3, {1}}, {273, 4, {kDataAt(8)}}, {278, 3, {2}}, {279, 4, {count}}};
}

TEST(TIFFDirectory, BothByteOrdersGiveTheSameRecord) {
  const std::vector<uint8_t> pixels = {0, 50, 100, 150, 200, 250};
  auto ii = test::LoadBytes<TTIFFGraphic>(Craft(false, GreyEntries(), pixels));
  auto mm = test::LoadBytes<TTIFFGraphic>(Craft(true, GreyEntries(), pixels));
  EXPECT_FALSE(ii->ImageProperties.Options.Has(ioBigEndian));
  EXPECT_TRUE(mm->ImageProperties.Options.Has(ioBigEndian));
  for (auto* t : {ii.get(), mm.get()}) {
    EXPECT_EQ(t->ImageProperties.Width, 3u);
    EXPECT_EQ(t->ImageProperties.Height, 2u);
    EXPECT_EQ(t->ImageProperties.ColorScheme, csG);
    EXPECT_EQ(t->ImageProperties.Compression, ctNone);
    EXPECT_EQ(t->ImageProperties.ImageCount, 1);
    EXPECT_EQ(t->ImageProperties.RowsPerStrip, TCardinalArray{2});
    EXPECT_EQ(t->RowData(1)[2], 250);
  }
}

TEST(TIFFDirectory, InlineShortsComeOutInFileOrder) {
  for (bool bigEndian : {false, true}) {
    SCOPED_TRACE(bigEndian ? "MM" : "II");
    std::vector<Entry> entries = GreyEntries();
    entries.push_back({530, 3, {2, 1}});    // YCbCrSubSampling: two SHORTs inline
    entries.push_back({296, 3, {3}});       // centimetres
    entries.push_back({282, 5, {254, 1}});  // XResolution as a RATIONAL (type 5, two LONGs)
    std::vector<uint8_t> bytes = Craft(bigEndian, entries, {1, 2, 3, 4, 5, 6});
    TTIFFGraphic t;
    TMemoryStream s(bytes);
    ASSERT_TRUE(t.ReadImageProperties(s, 0));
    TCardinalArray sub;
    t.GetValueList(s, 530, sub);
    EXPECT_EQ(sub, (TCardinalArray{2, 1}));
    EXPECT_EQ(t.GetValue(296, 2), 3u);
    EXPECT_FLOAT_EQ(t.ImageProperties.XResolution, 10.0f);
    EXPECT_EQ(t.GetValue(9999, 77), 77u);
  }
}

TEST(TIFFDirectory, ATagStoredTwiceIsFoundAtItsLowestPosition) {
  std::vector<Entry> entries = GreyEntries();
  entries.push_back({256, 3, {5}});
  std::vector<uint8_t> bytes = Craft(false, entries, {1, 2, 3, 4, 5, 6});
  TTIFFGraphic t;
  TMemoryStream s(bytes);
  ASSERT_TRUE(t.ReadImageProperties(s, 0));
  uint32_t index = 99;
  ASSERT_TRUE(t.FindTag(256, index));
  EXPECT_EQ(t.IFD[index].Tag, 256);
  EXPECT_TRUE(index == 0 || t.IFD[index - 1].Tag < 256);
  EXPECT_FALSE(t.FindTag(300, index));
}

// Subsampled YCbCr data units, uncompressed: libtiff's decode is the reference.
TEST(TIFFYCbCr, SubsampledUncompressedDataUnitsDecodeLikeLibtiff) {
  struct Case {
    const char* Name;
    uint32_t H, V;
  };
  for (const Case& c : {Case{"2x2", 2, 2}, Case{"2x1", 2, 1}, Case{"4x2", 4, 2}}) {
    SCOPED_TRACE(c.Name);
    const uint32_t w = 9, h = 5;  // partial data units at both edges
    const uint32_t across = (w + c.H - 1) / c.H, down = (h + c.V - 1) / c.V;
    std::vector<uint8_t> data;
    for (uint32_t u = 0; u < across * down; ++u) {
      for (uint32_t k = 0; k < c.H * c.V; ++k) data.push_back(uint8_t(30 + (u * 37 + k * 23) % 200));
      data.push_back(uint8_t(60 + u * 13 % 140));   // Cb
      data.push_back(uint8_t(200 - u * 11 % 150));  // Cr
    }
    const std::vector<Entry> entries = {{256, 3, {w}},       {257, 3, {h}}, {258, 3, {8, 8, 8}},
                                        {259, 3, {1}},       {262, 3, {6}}, {273, 4, {kDataAt(10)}},
                                        {277, 3, {3}},       {278, 3, {h}}, {279, 4, {uint32_t(data.size())}},
                                        {530, 3, {c.H, c.V}}};
    TempDir dir;
    test::WriteBytes(dir.File("ycc.tif"), Craft(false, entries, data));
    RunTool(test::kTiff2Rgba + " -c none '" + dir.File("ycc.tif") + "' '" + dir.File("ref.tif") + "'");
    auto tiff = test::LoadBytes<TTIFFGraphic>(Craft(false, entries, data));
    test::ExpectSamePixels(*tiff, test::OracleDecode(dir.File("ref.tif")), 2);
  }
}

// ---------------------------------------------------------------------------------------------
// Refusals: each file fails with the framework's message, never with a crash or a wrong read.

std::string Message(const char* pattern) { return Format(pattern, "TIF/TIFF"); }

TEST(TIFFHostile, MalformedFilesAreRefusedWithTheFrameworksMessages) {
  auto with = [](std::vector<Entry> entries, uint16_t tag, std::vector<uint32_t> values) {
    for (Entry& e : entries)
      if (e.Tag == tag) e.Values = std::move(values);
    return entries;
  };
  auto without = [](std::vector<Entry> entries, uint16_t tag) {
    std::erase_if(entries, [tag](const Entry& e) { return e.Tag == tag; });
    return entries;
  };
  const std::vector<uint8_t> px = {1, 2, 3, 4, 5, 6};
  const std::string invalid = Message(gesInvalidImage);
  const std::string unsupported = Format(gesUnsupportedFeature, gesCompressionScheme, "TIF/TIFF");
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::string Expected;
  };
  std::vector<Entry> palette16 = with(GreyEntries(), 258, {16});
  palette16 = with(palette16, 262, {3});
  std::vector<Entry> shortMap = with(GreyEntries(), 262, {3});
  shortMap.push_back({320, 3, std::vector<uint32_t>(3 * 255, 0)});
  const Case cases[] = {
      {"width 0", Craft(false, with(GreyEntries(), 256, {0}), px), invalid},
      {"version 43",
       [&] {
         auto b = Craft(false, GreyEntries(), px);
         b[2] = 43;
         return b;
       }(),
       invalid},
      {"rows per strip 0", Craft(false, with(GreyEntries(), 278, {0}), px), invalid},
      {"strip past the end of the file", Craft(false, with(GreyEntries(), 273, {4000}), px), invalid},
      {"strip count past the end", Craft(false, GreyEntries(4000), px), invalid},
      {"compressed without byte counts", Craft(false, without(with(GreyEntries(), 259, {32773}), 279), px), invalid},
      {"indexed with 16 bits", Craft(false, palette16, std::vector<uint8_t>(12)), invalid},
      {"colour map shorter than 2^bits", Craft(false, shortMap, px), Message(gesInvalidPalette)},
      {"group 4 fax", Craft(false, with(GreyEntries(), 259, {4}), px), unsupported},
      {"old-style JPEG", Craft(false, with(GreyEntries(), 259, {6}), px), unsupported},
      {"JBIG", Craft(false, with(GreyEntries(), 259, {34661}), px), unsupported},
      {"12-bit JPEG", Craft(false, with(with(GreyEntries(), 259, {7}), 258, {12}), px), unsupported},
      {"planar JPEG",
       [&] {
         std::vector<Entry> e = with(with(GreyEntries(), 259, {7}), 262, {2});
         e.insert(e.begin() + 6, {277, 3, {3}});
         e.push_back({284, 3, {2}});
         return Craft(false, e, std::vector<uint8_t>(18));
       }(),
       unsupported},
      {"RGB with one sample per pixel", Craft(false, with(GreyEntries(), 262, {2}), px),
       Message(gesInvalidColorFormat)},
      {"12-bit grey", Craft(false, with(GreyEntries(), 258, {12}), px), Message(gesInvalidColorFormat)},
      {"huge declared size", Craft(false, with(with(GreyEntries(), 256, {0xFFFFFF}), 257, {0xFFFFFF}), px), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      test::LoadBytes<TTIFFGraphic>(c.Bytes);
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      if (!c.Expected.empty()) {
        EXPECT_EQ(e.message(), c.Expected);
      }
    }
  }
}

TEST(TIFFHostile, DirectoryChainsThatLoopOrPointAtThemselvesEnd) {
  // The directory's next pointer leads back to itself: the page count stops at one.
  auto loop = Craft(false, GreyEntries(), {1, 2, 3, 4, 5, 6}, 8);
  auto t = test::LoadBytes<TTIFFGraphic>(loop);
  EXPECT_EQ(t->ImageProperties.ImageCount, 1);
  TTIFFGraphic second;
  TMemoryStream s(loop);
  EXPECT_FALSE(second.ReadImageProperties(s, 1));
  // A directory announcing 65,535 entries that the file does not hold is a read error.
  std::vector<uint8_t> big = {'I', 'I', 42, 0, 8, 0, 0, 0, 0xFF, 0xFF};
  big.resize(big.size() + 12 * 1000, 0);
  EXPECT_THROW(test::LoadBytes<TTIFFGraphic>(big), EReadError);
}

TEST(TIFFHostile, AShortStripLeavesZeroRows) {
  // The strip's byte count covers 4 of its 6 bytes: the pixels it misses are black, not stale.
  auto t = test::LoadBytes<TTIFFGraphic>(Craft(false, GreyEntries(4), {9, 9, 9, 9, 9, 9}));
  EXPECT_EQ(t->RowData(0)[2], 9);
  EXPECT_EQ(t->RowData(1)[0], 9);
  EXPECT_EQ(t->RowData(1)[1], 0);
  EXPECT_EQ(t->RowData(1)[2], 0);
}

}  // namespace
}  // namespace muralo
