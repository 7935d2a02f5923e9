// Alias/Wavefront RLA reader: files built byte by byte from the layout.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/RLAGraphic.h"

namespace muralo {
namespace {

// ImageMagick 6 refuses these files ("corrupt image" from its RLA reader, whatever the header
// holds), so RLA is checked against the samples the file was built from.
TEST(RLAReader, BottomUpRGBRows) {
  auto rla = test::LoadBytes<TRLAGraphic>(test::RLAFile({}));
  EXPECT_TRUE(rla->ImageProperties.BottomUp);
  EXPECT_EQ(rla->PixelFormat(), TPixelFormat::pf24bit);
  // The first row in the file is the last bitmap row.
  for (int r = 0; r < 7; ++r)
    for (int x = 0; x < 13; ++x)
      ASSERT_EQ(rla->Pixel(x, 6 - r), RGB(test::Sample(x, r, 0), test::Sample(x, r, 1), test::Sample(x, r, 2)))
          << x << "," << r;
}

TEST(RLAReader, PropertiesAndLayouts) {
  struct Case {
    const char* Name;
    test::RLAOptions Options;
    TColorScheme Scheme;
    uint8_t Samples;
    TPixelFormat Format;
    bool BottomUp;
  };
  test::RLAOptions matte;
  matte.Matte = 1;
  test::RLAOptions topDown;
  topDown.Bottom = 6, topDown.Top = 0;
  test::RLAOptions capitals;
  capitals.Chan = "RGB";
  const Case cases[] = {
      {"rgb", {}, csRGB, 3, TPixelFormat::pf24bit, true},
      {"rgb with matte", matte, csRGBA, 4, TPixelFormat::pf32bit, true},
      {"top-down", topDown, csRGB, 3, TPixelFormat::pf24bit, false},
      {"RGB in capitals", capitals, csRGB, 3, TPixelFormat::pf24bit, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> bytes = test::RLAFile(c.Options);
    TMemoryStream s(bytes);
    EXPECT_TRUE(TRLAGraphic::CanLoad(s));
    EXPECT_EQ(s.Position(), 0);
    auto rla = test::LoadBytes<TRLAGraphic>(bytes);
    EXPECT_EQ(rla->ImageProperties.ColorScheme, c.Scheme);
    EXPECT_EQ(rla->ImageProperties.SamplesPerPixel, c.Samples);
    EXPECT_EQ(rla->PixelFormat(), c.Format);
    EXPECT_EQ(rla->ImageProperties.BottomUp, c.BottomUp);
    EXPECT_EQ(rla->ImageProperties.Width, 13u);
    EXPECT_EQ(rla->ImageProperties.Height, 7u);
    const int row = c.BottomUp ? 6 : 0;
    EXPECT_EQ(rla->Pixel(5, row), RGB(test::Sample(5, 0, 0), test::Sample(5, 0, 1), test::Sample(5, 0, 2)));
  }
}

TEST(RLAReader, GammaTextTurnsOnCorrection) {
  test::RLAOptions o;
  o.Gamma = "2.2";
  auto rla = test::LoadBytes<TRLAGraphic>(test::RLAFile(o));
  EXPECT_FLOAT_EQ(rla->ImageProperties.FileGamma, 2.2f);
  EXPECT_TRUE(rla->ImageProperties.Options.Has(ioUseGamma));
  const auto& table = rla->ColorManager().GammaTable();
  EXPECT_EQ(rla->Pixel(3, 6),
            RGB(table[test::Sample(3, 0, 0)], table[test::Sample(3, 0, 1)], table[test::Sample(3, 0, 2)]));
  EXPECT_NE(table[100], 100);

  test::RLAOptions blank;
  blank.Gamma = "   ";
  auto plain = test::LoadBytes<TRLAGraphic>(test::RLAFile(blank));
  EXPECT_EQ(plain->ImageProperties.FileGamma, 1.0f);
  EXPECT_FALSE(plain->ImageProperties.Options.Has(ioUseGamma));
}

// The application runs in the user's locale (Qt sets it from the environment), where the decimal
// separator may be a comma; the gamma text of the file keeps its full stop.
TEST(RLAReader, GammaTextIsReadWhateverTheLocale) {
  test::TempDir dir;
  test::RunTool(test::kLocaledef + " -i fr_FR -f UTF-8 " + test::Quote(dir / "fr_FR.UTF-8"));
  const char* oldLocPath = std::getenv("LOCPATH");
  const std::string savedLocPath = oldLocPath ? oldLocPath : "";
  setenv("LOCPATH", dir.path().c_str(), 1);
  const std::string savedNumeric = std::setlocale(LC_NUMERIC, nullptr);
  const bool french = std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr;
  float value = 0;
  if (french) {
    // The locale is in force: the C library itself now stops at the full stop.
    EXPECT_EQ(std::strtof("2.5", nullptr), 2.0f);
    test::RLAOptions o;
    o.Gamma = "2.5";
    auto rla = test::LoadBytes<TRLAGraphic>(test::RLAFile(o));
    value = rla->ImageProperties.FileGamma;
  }
  std::setlocale(LC_NUMERIC, savedNumeric.c_str());
  if (oldLocPath)
    setenv("LOCPATH", savedLocPath.c_str(), 1);
  else
    unsetenv("LOCPATH");
  ASSERT_TRUE(french) << "the French locale built by " << test::kLocaledef << " could not be set";
  EXPECT_FLOAT_EQ(value, 2.5f);
}

TEST(RLAReader, DeepChannelsAreReducedToEightBits) {
  for (int16_t bits : {10, 12, 16}) {
    SCOPED_TRACE(bits);
    test::RLAOptions o;
    o.Bits = bits;
    auto rla = test::LoadBytes<TRLAGraphic>(test::RLAFile(o));
    const uint32_t max = (1u << bits) - 1;
    const auto scaled = [&](int x, int r, int c) {
      return uint8_t(test::RLAWord(test::Sample(x, r, c), bits) * 255 / max);
    };
    for (int r = 0; r < 7; ++r)
      for (int x = 0; x < 13; ++x)
        ASSERT_EQ(rla->Pixel(x, 6 - r), RGB(scaled(x, r, 0), scaled(x, r, 1), scaled(x, r, 2))) << x << "," << r;
  }
}

TEST(RLAReader, ChannelTypesOtherThanRGBAreRefused) {
  test::RLAOptions xyz;
  xyz.Chan = "xyz";
  test::RLAOptions grey;
  grey.Channels = 1;
  for (const test::RLAOptions& o : {xyz, grey}) {
    try {
      test::LoadBytes<TRLAGraphic>(test::RLAFile(o));
      FAIL() << "a picture of channel type " << o.Chan << " and " << o.Channels << " channels loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.message(), Format(gesUnsupportedFeature, gesRLAPixelFormat, "RLA"));
    }
  }
  test::RLAOptions other;
  other.Chan = "cmy";
  TMemoryStream s(test::RLAFile(other));
  EXPECT_FALSE(TRLAGraphic::CanLoad(s));
}

TEST(RLAReader, ShortFileIsAReadError) {
  std::vector<uint8_t> b = test::RLAFile({});
  b.resize(b.size() - 10);
  EXPECT_THROW(test::LoadBytes<TRLAGraphic>(b), EReadError);
}

}  // namespace
}  // namespace muralo
