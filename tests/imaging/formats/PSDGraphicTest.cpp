// Photoshop reader: files written by ImageMagick in every colour mode it writes, raw and PackBits,
// compared with ImageMagick's and Pillow's decode; colour modes ImageMagick does not write made by
// patching the mode of its files; crafted headers for the refusals and limits.
#include <gtest/gtest.h>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PSDGraphic.h"

namespace muralo {
namespace {

// 37 columns: PackBits rows with runs and literals, and rows of 1-bit samples that end mid-byte.
const std::string kSource = test::kMagick + " rose: -resize 37x9! ";
// A left-to-right alpha ramp reaching opaque half-way, so that alpha is checked at many levels.
const std::string kAlphaRamp = "-alpha set -channel A -fx 'min(1,2*i/w)' +channel ";

struct PsdCase {
  const char* Name;
  std::string Options;
  bool Magick;  // ImageMagick 6.9 does not read back its own indexed files
  // Pillow reads 8-bit files only, and (9.x) reads bitmap-mode bits as 1 = white where Photoshop
  // and ImageMagick take 1 as black.
  bool Pillow;
  int Tolerance;  // 16-bit samples: ImageMagick rounds to 8 bits, the colour manager truncates
  bool Alpha;
};

const PsdCase kCases[] = {
    {"bitmap", "-monochrome -depth 1", true, false, 0, false},
    {"grey8", "-type grayscale -depth 8", true, true, 0, false},
    {"grey16", "-type grayscale -depth 16", true, false, 1, false},
    {"greyalpha", kAlphaRamp + "-type grayscalealpha -depth 8", true, false, 0, false},
    {"indexed", "-type palette -depth 8", false, true, 0, false},
    {"rgb8", "-type truecolor -depth 8", true, true, 0, false},
    {"rgb16", "-type truecolor -depth 16", true, false, 1, false},
    {"rgba8", kAlphaRamp + "-type truecoloralpha -depth 8", true, true, 0, true},
    {"rgba16", kAlphaRamp + "-type truecoloralpha -depth 16", true, false, 1, true},
    {"cmyk", "-colorspace cmyk -depth 8", true, true, 1, false},
    {"cmyka", kAlphaRamp + "-colorspace cmyk -depth 8", true, false, 1, false},
};

// The bitmap's alpha bytes (fourth byte of each blue-green-red-alpha pixel) against the oracle's,
// and, when asked, the colours of the opaque pixels.
void ExpectSameAlpha(const TBitmap& bitmap, const test::TOracleImage& oracle, int tolerance, bool opaqueColours) {
  ASSERT_EQ(bitmap.BitsPerPixel(), 32u);
  ASSERT_EQ(oracle.Channels, 4);
  int opaque = 0;
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* ours = bitmap.RowData(y) + 4 * x;
      const uint8_t* theirs = oracle.At(x, y);
      ASSERT_NEAR(ours[3], theirs[3], tolerance) << "alpha at " << x << ", " << y;
      if (!opaqueColours || theirs[3] != 255) continue;
      ++opaque;
      for (int c = 0; c < 3; ++c) ASSERT_NEAR(ours[2 - c], theirs[c], tolerance) << "pixel " << x << ", " << y;
    }
  if (opaqueColours) {
    EXPECT_GT(opaque, bitmap.Width() * bitmap.Height() / 3);
  }
}

class PsdOracle : public ::testing::TestWithParam<std::tuple<PsdCase, const char*>> {};

TEST_P(PsdOracle, MatchesImageMagickAndPillow) {
  const auto& [c, compression] = GetParam();
  test::TempDir dir;
  const std::string file = dir.File("image.psd");
  test::RunTool(kSource + c.Options + " -compress " + compression + " psd:'" + file + "'");
  auto psd = test::LoadBytes<TPSDGraphic>(test::FileBytes(file));
  if (c.Magick) {
    SCOPED_TRACE("ImageMagick");
    // Image 0 is the composite; ImageMagick reads the layers as further images. It takes the
    // composite's colours as matted with white and undoes that where alpha is below 255; the
    // reader shows the stored colours, so colours are compared where the pixel is opaque.
    if (c.Alpha)
      ExpectSameAlpha(*psd, test::OracleDecode(file + "[0]", true), c.Tolerance, true);
    else
      test::ExpectSamePixels(*psd, test::OracleDecode(file + "[0]"), c.Tolerance);
  }
  if (c.Pillow) {
    SCOPED_TRACE("Pillow");
    test::ExpectSamePixels(*psd, test::PillowDecode(file), c.Tolerance);
    if (c.Alpha) ExpectSameAlpha(*psd, test::PillowDecode(file, true), c.Tolerance, false);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, PsdOracle,
                         ::testing::Combine(::testing::ValuesIn(kCases), ::testing::Values("RLE", "None")),
                         [](const auto& param) {
                           return std::string(std::get<0>(param.param).Name) + "_" + std::get<1>(param.param);
                         });

// The colour mode field of an ImageMagick file, replaced.
std::vector<uint8_t> WithMode(std::vector<uint8_t> bytes, uint16_t mode) {
  bytes[24] = uint8_t(mode >> 8), bytes[25] = uint8_t(mode);
  return bytes;
}

std::vector<uint8_t> Written(const test::TempDir& dir, const std::string& options) {
  const std::string file = dir.File("written.psd");
  test::RunTool(kSource + options + " psd:'" + file + "'");
  return test::FileBytes(file);
}

// Multichannel with three channels reads as RGB, duotone as grey from its first channel.
TEST(PsdPatchedModes, MultichannelAndDuotoneReadAsRgbAndGrey) {
  test::TempDir dir;
  const struct {
    const char* Name;
    std::string Options;
    uint16_t Mode;
  } cases[] = {{"multichannel", "-type truecolor -depth 8", 7}, {"duotone", "-type grayscale -depth 8", 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> original = Written(dir, c.Options + " -compress RLE");
    const std::string file = dir.File("original.psd");
    test::WriteBytes(file, original);
    auto psd = test::LoadBytes<TPSDGraphic>(WithMode(original, c.Mode));
    test::ExpectSamePixels(*psd, test::OracleDecode(file + "[0]"));
  }
}

// ImageMagick writes no Lab files: the planes of an RGB file read as L*, a*, b* (a* and b* with
// 128 as zero). ImageMagick's decode of that file, taken without its colour conversion, gives
// the planes it read; those through the colour manager set up for Photoshop's Lab encoding are
// the expected picture. (ImageMagick's own Lab to RGB conversion uses other constants and differs
// by up to 9 levels near saturation.)
TEST(PsdPatchedModes, LabMatchesImageMagicksPlanes) {
  test::TempDir dir;
  const std::string file = dir.File("lab.psd");
  test::WriteBytes(file, WithMode(Written(dir, "-type truecolor -depth 8 -compress RLE"), 9));
  auto psd = test::LoadBytes<TPSDGraphic>(test::FileBytes(file));
  const std::string out = dir.File("lab.ppm");
  test::RunTool(test::kMagick + " '" + file + "[0]' -set colorspace sRGB -depth 8 ppm:'" + out + "'");
  test::TOracleImage expected = test::NetpbmDecode("cat", out);
  TColorManager cm;
  cm.SourceOptions = {coLabByteRange, coLabChromaOffset};
  cm.SetSourceColorScheme(csCIELab);
  cm.SetTargetColorScheme(csRGB);
  std::vector<uint8_t> rgb(size_t(expected.Width) * 3);
  for (int y = 0; y < expected.Height; ++y) {
    uint8_t* row = expected.Pixels.data() + size_t(y) * expected.Width * 3;
    cm.ConvertRow(row, rgb.data(), uint32_t(expected.Width), 0xFF);
    std::copy(rgb.begin(), rgb.end(), row);
  }
  test::ExpectSamePixels(*psd, expected);
}

// A crafted file: header, colour mode data, empty resources and layers, raw planes.
std::vector<uint8_t> Crafted(uint16_t channels, uint32_t height, uint32_t width, uint16_t depth, uint16_t mode,
                             const std::vector<uint8_t>& colorModeData, const std::vector<uint8_t>& imageData) {
  std::vector<uint8_t> b = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0};
  test::PutBE16(b, channels);
  test::PutBE32(b, height);
  test::PutBE32(b, width);
  test::PutBE16(b, depth);
  test::PutBE16(b, mode);
  test::PutBE32(b, uint32_t(colorModeData.size()));
  b.insert(b.end(), colorModeData.begin(), colorModeData.end());
  test::PutBE32(b, 0);
  test::PutBE32(b, 0);
  test::PutBE16(b, 0);
  b.insert(b.end(), imageData.begin(), imageData.end());
  return b;
}

TEST(PsdHeader, SignatureCaseAndVersion) {
  std::vector<uint8_t> grey = Crafted(1, 1, 2, 8, 1, {}, {10, 20});
  static_assert(PSDHeaderSize == 26);
  ASSERT_EQ(grey.size(), 26u + 4 + 4 + 4 + 2 + 2);
  TMemoryStream good(grey);
  EXPECT_TRUE(TPSDGraphic::CanLoad(good));
  EXPECT_EQ(good.Position(), 0);

  std::vector<uint8_t> lower = grey;
  lower[1] = 'b', lower[2] = 'p', lower[3] = 's';
  TMemoryStream lowerStream(lower);
  EXPECT_TRUE(TPSDGraphic::CanLoad(lowerStream));
  try {
    test::LoadBytes<TPSDGraphic>(lower);
    ADD_FAILURE() << "8bps loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "PSD or PDD"));
  }

  std::vector<uint8_t> version2 = grey;
  version2[5] = 2;
  TMemoryStream v2(version2);
  EXPECT_FALSE(TPSDGraphic::CanLoad(v2));
  EXPECT_EQ(test::LoadBytes<TPSDGraphic>(version2)->Width(), 2);  // the reader itself ignores the version
}

TEST(PsdHeader, RefusedLayoutsSayWhy) {
  const struct {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::string Message;
  } cases[] = {
      {"duotone-like mode 5", Crafted(1, 1, 1, 8, 5, {}, {0}),
       Format(gesUnsupportedFeature, gesPSDColorMode, "PSD or PDD")},
      {"mode 6", Crafted(1, 1, 1, 8, 6, {}, {0}), Format(gesUnsupportedFeature, gesPSDColorMode, "PSD or PDD")},
      {"mode 10", Crafted(1, 1, 1, 8, 10, {}, {0}), Format(gesUnsupportedFeature, gesPSDColorMode, "PSD or PDD")},
      {"multichannel with 2 channels", Crafted(2, 1, 1, 8, 7, {}, {0, 0}), Format(gesInvalidColorFormat, "PSD or PDD")},
      {"RGB with 2 channels", Crafted(2, 1, 1, 8, 3, {}, {0, 0}), Format(gesInvalidColorFormat, "PSD or PDD")},
      {"1-bit RGB", Crafted(3, 1, 1, 1, 3, {}, {0, 0, 0}), Format(gesInvalidColorFormat, "PSD or PDD")},
      {"32-bit", Crafted(3, 1, 1, 32, 3, {}, std::vector<uint8_t>(12)),
       Format(gesUnsupportedFeature, gesPSDSampleDepth, "PSD or PDD")},
      {"zero channels", Crafted(0, 1, 1, 8, 1, {}, {}), Format(gesInvalidImage, "PSD or PDD")},
      {"ZIP composite",
       [] {
         std::vector<uint8_t> b = Crafted(1, 1, 1, 8, 1, {}, {0});
         b[b.size() - 2] = 2;
         return b;
       }(),
       Format(gesUnsupportedFeature, gesCompressionScheme, "PSD or PDD")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      test::LoadBytes<TPSDGraphic>(c.Bytes);
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.message(), c.Message);
    }
  }
}

// 30000 x 30000 RGB needs 2.5 GiB: refused from the header, before any plane is read.
TEST(PsdHeader, SizePastTheMemoryLimitIsRefusedBeforeReading) {
  EXPECT_THROW(test::LoadBytes<TPSDGraphic>(Crafted(3, 30000, 30000, 8, 3, {}, {})), EInvalidGraphic);
}

// A colour mode section longer than a palette: 256 entries are kept, the rest is skipped, and the
// pixels are read from after the whole section.
TEST(PsdIndexed, LongColourModeDataKeepsTheFirst256EntriesFromPlanes) {
  std::vector<uint8_t> palette(771, 0);
  for (int i = 0; i < 256; ++i)
    palette[size_t(i)] = uint8_t(i), palette[size_t(256 + i)] = 7, palette[size_t(512 + i)] = uint8_t(255 - i);
  auto psd = test::LoadBytes<TPSDGraphic>(Crafted(1, 1, 2, 8, 2, palette, {3, 200}));
  ASSERT_EQ(psd->Palette()->size(), 256u);
  EXPECT_EQ((*psd->Palette())[200], (TPaletteEntry{200, 7, 55, 0}));
  EXPECT_EQ(psd->RowData(0)[0], 3);
  EXPECT_EQ(psd->RowData(0)[1], 200);
}

// Every prefix of a valid file, raw and PackBits, 8- and 16-bit, is refused with a framework error.
TEST(PsdTruncation, EveryPrefixFails) {
  test::TempDir dir;
  for (const char* options : {"-type truecolor -depth 16 -compress RLE", "-type palette -depth 8 -compress None"}) {
    SCOPED_TRACE(options);
    const std::vector<uint8_t> whole = Written(dir, std::string(options));
    ASSERT_NO_THROW(test::LoadBytes<TPSDGraphic>(whole));
    for (size_t n = 0; n < whole.size(); ++n) {
      const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
      EXPECT_THROW(test::LoadBytes<TPSDGraphic>(prefix), Exception) << n;
    }
  }
}

}  // namespace
}  // namespace muralo
