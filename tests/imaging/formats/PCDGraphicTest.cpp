// Photo-CD reader: image packs written by ImageMagick, the orientation variants made by patching
// the orientation byte of a copy. ImageMagick's decode of a pack, taken without its colour
// conversion, gives the upsampled luma and chroma planes (turned as the pack says); those planes
// through the colour manager set up as the reader sets it up are the expected picture.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PCDGraphic.h"

namespace muralo {
namespace {

constexpr size_t kOrientationAt = 0xE02;

// ImageMagick's planes (Y, C1, C2 in the red, green and blue samples) converted to RGB.
test::TOracleImage ExpectedFromPlanes(const std::string& file, const test::TempDir& dir) {
  const std::string planes = dir.File("planes.ppm");
  test::RunTool(test::kMagick + " '" + file + "' -set colorspace sRGB -depth 8 ppm:'" + planes + "'");
  test::TOracleImage image = test::NetpbmDecode("cat", planes);
  TColorManager cm;
  cm.SetSourceColorScheme(csPhotoYCC);
  cm.SetTargetColorScheme(csBGR);
  cm.SetYCbCrParameters({0.2125f, 0.7154f, 0.0721f}, 2, 2);
  std::vector<uint8_t> bgr(size_t(image.Width) * 3);
  for (int y = 0; y < image.Height; ++y) {
    uint8_t* row = image.Pixels.data() + size_t(y) * image.Width * 3;
    cm.ConvertRow(row, bgr.data(), uint32_t(image.Width), 0xFF);
    for (int x = 0; x < image.Width; ++x)
      for (int c = 0; c < 3; ++c) row[3 * x + c] = bgr[3 * size_t(x) + 2 - size_t(c)];
  }
  return image;
}

std::vector<uint8_t> WrittenPack(const test::TempDir& dir) {
  const std::string file = dir.File("written.pcd");
  // A colour ramp over the rose, so that both chroma planes vary along both axes.
  test::RunTool(test::kMagick +
                " rose: -resize 768x512! \\( -size 768x512 gradient:red-blue \\) -compose blend "
                "-define compose:args=50 -composite pcd:'" +
                file + "'");
  return test::FileBytes(file);
}

TEST(PcdOracle, EveryOrientationMatchesImageMagicksPlanes) {
  test::TempDir dir;
  const std::vector<uint8_t> pack = WrittenPack(dir);
  ASSERT_GT(pack.size(), kOrientationAt);
  for (uint8_t rotate : {0, 1, 2, 3}) {
    SCOPED_TRACE(int(rotate));
    std::vector<uint8_t> bytes = pack;
    bytes[kOrientationAt] = uint8_t((bytes[kOrientationAt] & ~3) | rotate);
    const std::string file = dir.File("turned.pcd");
    test::WriteBytes(file, bytes);
    auto pcd = test::LoadBytes<TPCDGraphic>(bytes);
    const bool turned = rotate == 1 || rotate == 3;
    EXPECT_EQ(pcd->Width(), turned ? 512 : 768);
    EXPECT_EQ(pcd->Height(), turned ? 768 : 512);
    test::ExpectSamePixels(*pcd, ExpectedFromPlanes(file, dir));
  }
}

TEST(PcdUpsample, RoundsHalfUpAndRepeatsTheLastColumnAndRow) {
  {
    uint8_t plane[2 * 4] = {10, 20};
    PCDUpsample(2, 1, 4, plane);
    EXPECT_EQ(std::vector<uint8_t>(plane, plane + 8), (std::vector<uint8_t>{10, 15, 20, 20, 10, 15, 20, 20}));
  }
  {
    uint8_t plane[2 * 4] = {10, 11};
    PCDUpsample(2, 1, 4, plane);
    EXPECT_EQ(plane[1], 11);
  }
  {
    // Rows 10 20 and 30 50 at stride 4: the odd row between them averages two or four samples.
    uint8_t plane[4 * 4] = {10, 20, 0, 0, 30, 50, 0, 0};
    PCDUpsample(2, 2, 4, plane);
    EXPECT_EQ(std::vector<uint8_t>(plane, plane + 16),
              (std::vector<uint8_t>{10, 15, 20, 20, 20, 28, 35, 35, 30, 40, 50, 50, 30, 40, 50, 50}));
  }
}

std::vector<uint8_t> Signed(const char* signature, size_t at) {
  std::vector<uint8_t> b(6145, 0);
  std::copy(signature, signature + std::strlen(signature), b.begin() + std::ptrdiff_t(at));
  return b;
}

TEST(PcdProperties, ResolutionsOverviewAndSignatures) {
  struct {
    const char* Name;
    std::vector<uint8_t> Bytes;
    uint32_t Index, Width, Height;
    TCompressionType Compression;
  } cases[] = {
      {"Base", Signed("PCD_IPI", 2048), 2, 768, 512, ctNone},
      {"16Base", Signed("PCD_IPI", 2048), 4, 3072, 2048, ctPCDHuffmann},
      {"index 9 as 64Base", Signed("PCD_IPI", 2048), 9, 6144, 4096, ctPCDHuffmann},
      {"overview", Signed("PCD_OPA", 0), 4, 192, 128, ctNone},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_TRUE(TPCDGraphic::CanLoad(s));
    TPCDGraphic pcd;
    ASSERT_TRUE(pcd.ReadImageProperties(s, c.Index));
    EXPECT_EQ(pcd.ImageProperties.Width, c.Width);
    EXPECT_EQ(pcd.ImageProperties.Height, c.Height);
    EXPECT_EQ(pcd.ImageProperties.Compression, c.Compression);
  }
  std::vector<uint8_t> turned = Signed("PCD_IPI", 2048);
  turned[kOrientationAt] = 0x07;  // low bits 3
  TMemoryStream s(turned);
  TPCDGraphic pcd;
  ASSERT_TRUE(pcd.ReadImageProperties(s, 0));
  EXPECT_EQ(pcd.ImageProperties.Width, 128u);
  EXPECT_EQ(pcd.ImageProperties.Rotate, 3);

  // Neither signature (letter case counts): not a Photo-CD file, refused rather than shown empty.
  std::vector<uint8_t> unsigned_ = Signed("pcd", 2048);
  TMemoryStream none(unsigned_);
  EXPECT_FALSE(TPCDGraphic::CanLoad(none));
  try {
    test::LoadBytes<TPCDGraphic>(unsigned_);
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "PCD"));
  }
}

TEST(PcdTruncation, APackShorterThanItsBaseImageFails) {
  test::TempDir dir;
  const std::vector<uint8_t> pack = WrittenPack(dir);
  // The Base image ends at sector 96 plus 256 groups of 2304 bytes.
  for (size_t n : {size_t(0), size_t(100), size_t(6143), size_t(6144), size_t(196608), size_t(196608 + 589823)}) {
    SCOPED_TRACE(n);
    EXPECT_THROW(test::LoadBytes<TPCDGraphic>({pack.begin(), pack.begin() + std::ptrdiff_t(n)}), Exception);
  }
}

}  // namespace
}  // namespace muralo
