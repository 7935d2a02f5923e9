// Dr. Halo CUT reader: files built byte by byte from the layout, compared with ImageMagick's decode
// of the same file.
#include <gtest/gtest.h>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "imaging/formats/CUTGraphic.h"
#include "imaging/formats/FormatTestSupport.h"

namespace muralo {
namespace {

TEST(CUTReader, WithPaletteFileMatchesImageMagick) {
  test::TempDir dir;
  const std::string file = dir.File("photo.cut");
  test::WriteBytes(file, test::CUTFile(23, 9));
  test::WriteBytes(dir.File("photo.pal"), test::PALFile(100));
  TCUTGraphic cut;
  cut.LoadFromFile(file);
  EXPECT_EQ(cut.PaletteFileName, dir.File("photo.pal"));
  ASSERT_TRUE(cut.Palette());
  EXPECT_EQ(cut.Palette()->size(), 100u);
  // Entry 78 is the first of the second block.
  EXPECT_EQ((*cut.Palette())[78], (TPaletteEntry{156, 177, 34, 0}));
  EXPECT_EQ((*cut.Palette())[99], (TPaletteEntry{198, 156, 181, 0}));
  test::ExpectSamePixels(cut, test::OracleDecode(file));
}

TEST(CUTReader, FromAStreamTheGreyPaletteIsUsed) {
  auto cut = test::LoadBytes<TCUTGraphic>(test::CUTFile(23, 9));
  ASSERT_TRUE(cut->Palette());
  EXPECT_EQ(cut->Palette()->size(), 256u);
  EXPECT_EQ(cut->Pixel(0, 0), RGB(7, 7, 7));
  EXPECT_EQ(cut->Pixel(10, 3),
            RGB(test::Sample(10, 3, 0) % 100, test::Sample(10, 3, 0) % 100, test::Sample(10, 3, 0) % 100));
  EXPECT_EQ(cut->ImageProperties.Compression, ctRLE);
}

TEST(CUTReader, LongPaletteKeeps256Entries) {
  test::TempDir dir;
  test::WriteBytes(dir.File("big.cut"), test::CUTFile(4, 2));
  test::WriteBytes(dir.File("big.pal"), test::PALFile(300));
  TCUTGraphic cut;
  cut.LoadFromFile(dir.File("big.cut"));
  EXPECT_EQ(cut.Palette()->size(), 256u);
}

TEST(CUTReader, ShortFiles) {
  EXPECT_THROW(test::LoadBytes<TCUTGraphic>({1, 0, 1}), EReadError);
  std::vector<uint8_t> cut = test::CUTFile(8, 4);
  cut.resize(cut.size() - 5);
  EXPECT_THROW(test::LoadBytes<TCUTGraphic>(cut), EReadError);
  test::TempDir dir;
  test::WriteBytes(dir.File("s.cut"), test::CUTFile(4, 2));
  test::WriteBytes(dir.File("s.pal"), std::vector<uint8_t>(100, 0));
  TCUTGraphic withShortPal;
  EXPECT_THROW(withShortPal.LoadFromFile(dir.File("s.cut")), EReadError);
}

TEST(CUTReader, NeverRecognisedByContent) {
  TMemoryStream s(test::CUTFile(4, 2));
  EXPECT_FALSE(TCUTGraphic::CanLoad(s));
  EXPECT_EQ(s.Position(), 0);
}

}  // namespace
}  // namespace muralo
