// Autodesk cel/pic reader: files built byte by byte from the layout.
#include <gtest/gtest.h>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/AutodeskGraphic.h"
#include "imaging/formats/FormatTestSupport.h"

namespace muralo {
namespace {

TEST(AutodeskReader, PaletteAndRows) {
  auto cel = test::LoadBytes<TAutodeskGraphic>(test::CelFile(5, 3));
  EXPECT_EQ(cel->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ((*cel->Palette())[9], (TPaletteEntry{252, 0, 128, 0}));
  EXPECT_EQ(cel->Pixel(1, 1), RGB(252, 0, 128));
  EXPECT_EQ(cel->RowData(2)[4], 6);
  EXPECT_EQ(cel->ImageProperties.ColorScheme, csIndexed);
}

TEST(AutodeskReader, ContentTestAndSixteenBits) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool Expected;
  };
  std::vector<uint8_t> compressed = test::CelFile(2, 2);
  compressed[11] = 1;
  const std::vector<uint8_t> whole = test::CelFile(2, 2);
  const std::vector<uint8_t> headerOnly(whole.begin(), whole.begin() + 32);
  const Case cases[] = {{"cel", test::CelFile(2, 2), true},
                        {"16 bits", test::CelFile(2, 2, 16), false},
                        {"compressed", compressed, false},
                        {"header only", headerOnly, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_EQ(TAutodeskGraphic::CanLoad(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
  }
  auto sixteen = test::LoadBytes<TAutodeskGraphic>(test::CelFile(2, 2, 16));
  EXPECT_EQ(sixteen->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(sixteen->RowData(1)[0], 1);
}

TEST(AutodeskReader, WrongMagicIsInvalid) {
  std::vector<uint8_t> b = test::CelFile(2, 2);
  b[0] = 0;
  try {
    test::LoadBytes<TAutodeskGraphic>(b);
    FAIL() << "loaded without the magic";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "Autodesk"));
  }
}

}  // namespace
}  // namespace muralo
