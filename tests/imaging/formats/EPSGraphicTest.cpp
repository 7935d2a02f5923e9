// EPS reader: DOS EPS files built here around a PostScript section and a TIFF preview written by
// ImageMagick (whose own EPS writers the system's security policy refuses), loaded exactly as the
// preview alone; the header rules and their messages.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/EPSGraphic.h"
#include "imaging/formats/FormatTestSupport.h"

namespace muralo {
namespace {

std::vector<uint8_t> Preview(const std::string& options) {
  test::TempDir dir;
  const std::string file = dir.File("preview.tif");
  test::RunTool(test::kMagick + " rose: -resize 21x13! " + options + " '" + file + "'");
  return test::FileBytes(file);
}

// The 30-byte header (all values little-endian), the PostScript section, then the preview.
std::vector<uint8_t> DosEPS(const std::vector<uint8_t>& tiff, uint32_t magic = EPSMagic, bool withLength = true) {
  const std::string ps = "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 21 13\nshowpage\n";
  std::vector<uint8_t> b;
  auto put32 = [&](uint32_t v) {
    test::PutLE16(b, uint16_t(v));
    test::PutLE16(b, uint16_t(v >> 16));
  };
  put32(magic);
  put32(30);
  put32(uint32_t(ps.size()));
  put32(0);
  put32(0);
  put32(withLength ? 30 + uint32_t(ps.size()) : 0);
  put32(withLength ? uint32_t(tiff.size()) : 0);
  test::PutLE16(b, 0xFFFF);
  b.insert(b.end(), ps.begin(), ps.end());
  b.insert(b.end(), tiff.begin(), tiff.end());
  return b;
}

TEST(EPSGraphic, ATIFFPreviewLoadsExactlyAsTheTIFFAlone) {
  for (const char* options : {"-compress None", "-endian MSB -compress LZW", "-type Palette -compress RLE"}) {
    SCOPED_TRACE(options);
    const std::vector<uint8_t> tiff = Preview(options);
    const std::vector<uint8_t> eps = DosEPS(tiff);
    TMemoryStream s(eps);
    EXPECT_TRUE(TEPSGraphic::CanLoad(s));
    EXPECT_FALSE(TTIFFGraphic::CanLoad(s));
    auto fromEps = test::LoadBytes<TEPSGraphic>(eps);
    auto alone = test::LoadBytes<TTIFFGraphic>(tiff);
    ASSERT_EQ(fromEps->Width(), 21);
    ASSERT_EQ(fromEps->PixelFormat(), alone->PixelFormat());
    for (int y = 0; y < alone->Height(); ++y)
      ASSERT_EQ(0, std::memcmp(fromEps->RowData(y), alone->RowData(y), size_t(alone->RowBytes()))) << "row " << y;
  }
}

TEST(EPSGraphic, TheRegistryAsksTIFFThenEPS) {
  TFrameworkScope framework;
  const std::vector<uint8_t> tiff = Preview("-compress None");
  TMemoryStream t(tiff);
  EXPECT_EQ(FileFormatList->GraphicFromContent(t), TTIFFGraphic::StaticClass());
  const std::vector<uint8_t> eps = DosEPS(tiff);
  TMemoryStream e(eps);
  EXPECT_EQ(FileFormatList->GraphicFromContent(e), TEPSGraphic::StaticClass());
  EXPECT_EQ(FileFormatList->GraphicFromExtension("eps"), TEPSGraphic::StaticClass());
  EXPECT_EQ(FileFormatList->GraphicFromExtension("fax"), TTIFFGraphic::StaticClass());
}

TEST(EPSGraphic, HeaderRules) {
  const std::vector<uint8_t> tiff = Preview("-compress None");
  // Without a preview (offset and length 0) the content test says no; loading jumps to the header itself, which
  // the TIFF reader refuses.
  const std::vector<uint8_t> noPreview = DosEPS(tiff, EPSMagic, false);
  TMemoryStream s(noPreview);
  EXPECT_FALSE(TEPSGraphic::CanLoad(s));
  try {
    test::LoadBytes<TEPSGraphic>(noPreview);
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "TIF/TIFF"));
  }
  try {
    test::LoadBytes<TEPSGraphic>(DosEPS(tiff, 0x12345678));
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "EPS"));
  }
  const std::vector<uint8_t> eps = DosEPS(tiff);
  EXPECT_THROW(test::LoadBytes<TEPSGraphic>({eps.begin(), eps.begin() + 29}), EReadError);
}

}  // namespace
}  // namespace muralo
