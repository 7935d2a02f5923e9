// The colour manager's settings, converter choice, life cycle and pixel-format query.

#include <gtest/gtest.h>

#include <string>

#include "ColorTestUtil.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {
namespace {

using colortest::GuardedRow;

// Runs f and returns the message of the EColorConversionError it raises ("" when none).
template <class F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const EColorConversionError& e) {
    return e.what();
  }
  return "";
}

TEST(ColorManager, FreshManagerConvertsRGBRowsToBGR) {
  TColorManager m;
  EXPECT_TRUE(m.Changed());
  const uint8_t source[] = {10, 20, 30, 40, 50, 60};
  GuardedRow target(6);
  m.ConvertRow({source}, target.data(), 2, 0xFF);
  EXPECT_EQ(target.Row(), (std::vector<uint8_t>{30, 20, 10, 60, 50, 40}));
  EXPECT_TRUE(target.Intact());
  EXPECT_FALSE(m.Changed());
}

TEST(ColorManager, SettersRefuseInvalidDepthsAndStoreNothing) {
  struct Case {
    const char* name;
    void (TColorManager::*setter)(uint8_t);
    uint8_t (TColorManager::*getter)() const;
    uint8_t value;
    const char* error;  // nullptr: accepted
  };
  const Case cases[] = {
      {"source bits 0", &TColorManager::SetSourceBitsPerSample, &TColorManager::SourceBitsPerSample, 0,
       gesInvalidSampleDepth},
      {"source bits 17", &TColorManager::SetSourceBitsPerSample, &TColorManager::SourceBitsPerSample, 17,
       gesInvalidSampleDepth},
      {"source bits 12", &TColorManager::SetSourceBitsPerSample, &TColorManager::SourceBitsPerSample, 12, nullptr},
      {"source bits 1", &TColorManager::SetSourceBitsPerSample, &TColorManager::SourceBitsPerSample, 1, nullptr},
      {"source bits 16", &TColorManager::SetSourceBitsPerSample, &TColorManager::SourceBitsPerSample, 16, nullptr},
      {"target bits 0", &TColorManager::SetTargetBitsPerSample, &TColorManager::TargetBitsPerSample, 0,
       gesInvalidSampleDepth},
      {"target bits 255", &TColorManager::SetTargetBitsPerSample, &TColorManager::TargetBitsPerSample, 255,
       gesInvalidSampleDepth},
      {"target bits 5", &TColorManager::SetTargetBitsPerSample, &TColorManager::TargetBitsPerSample, 5, nullptr},
      {"source samples 2", &TColorManager::SetSourceSamplesPerPixel, &TColorManager::SourceSamplesPerPixel, 2,
       gesInvalidPixelDepth},
      {"source samples 0", &TColorManager::SetSourceSamplesPerPixel, &TColorManager::SourceSamplesPerPixel, 0,
       gesInvalidPixelDepth},
      {"source samples 5", &TColorManager::SetSourceSamplesPerPixel, &TColorManager::SourceSamplesPerPixel, 5,
       gesInvalidPixelDepth},
      {"source samples 4", &TColorManager::SetSourceSamplesPerPixel, &TColorManager::SourceSamplesPerPixel, 4, nullptr},
      {"target samples 2", &TColorManager::SetTargetSamplesPerPixel, &TColorManager::TargetSamplesPerPixel, 2,
       gesInvalidPixelDepth},
      {"target samples 1", &TColorManager::SetTargetSamplesPerPixel, &TColorManager::TargetSamplesPerPixel, 1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TColorManager m;
    m.ConvertRow({nullptr}, nullptr, 0, 0xFF);  // prepared
    const uint8_t before = (m.*c.getter)();
    const std::string error = ErrorOf([&] { (m.*c.setter)(c.value); });
    if (c.error) {
      EXPECT_EQ(error, c.error);
      EXPECT_EQ((m.*c.getter)(), before);
      EXPECT_FALSE(m.Changed());
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ((m.*c.getter)(), c.value);
      EXPECT_EQ(m.Changed(), c.value != before);
    }
  }
}

TEST(ColorManager, SettingCurrentValuesLeavesManagerPrepared) {
  TColorManager m;
  m.ConvertRow({nullptr}, nullptr, 0, 0xFF);
  ASSERT_FALSE(m.Changed());
  m.SetSourceColorScheme(csRGB);
  m.SetTargetColorScheme(csBGR);
  m.SetSourceBitsPerSample(8);
  m.SetTargetBitsPerSample(8);
  m.SetSourceSamplesPerPixel(3);
  m.SetTargetSamplesPerPixel(3);
  m.SourceOptions = {coNeedByteSwap};
  m.SetGamma(1.5f, 2.2f);
  m.SetYCbCrParameters({0.2f}, 2, 1);
  EXPECT_FALSE(m.Changed());
  m.SetTargetColorScheme(csRGB);
  EXPECT_TRUE(m.Changed());
}

TEST(ColorManager, RefusedConfigurationsRaiseAtEveryConvertRow) {
  struct Case {
    TColorScheme source, target;
    uint8_t sourceBits, targetBits;
    const char* error;
  };
  const Case cases[] = {
      {csIndexed, csBGR, 8, 8, gesIndexedNotSupported},
      {csRGB, csIndexed, 8, 8, gesIndexedNotSupported},
      {csG, csRGB, 8, 8, gesIndexedNotSupported},
      {csGA, csGA, 8, 8, gesIndexedNotSupported},  // a grey-alpha target is not palette-like
      {csRGB, csGA, 8, 8, gesConversionUnsupported},
      {csRGB, csG, 8, 8, gesIndexedNotSupported},
      {csCMY, csBGR, 8, 8, gesConversionUnsupported},
      {csCMY, csRGB, 16, 16, gesConversionUnsupported},
      {csUnknown, csBGR, 8, 8, gesConversionUnsupported},
      {csCMYK, csCMYK, 8, 8, gesConversionUnsupported},
      {csYCbCr, csUnknown, 8, 8, gesConversionUnsupported},
      {csG, csG, 16, 4, gesConversionUnsupported},  // one side 16, the other below 8
      {csGA, csG, 4, 8, gesConversionUnsupported},
      {csGA, csIndexed, 16, 1, gesConversionUnsupported},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " -> " + std::to_string(c.target));
    TColorManager m;
    m.SetSourceColorScheme(c.source);
    m.SetTargetColorScheme(c.target);
    m.SetSourceBitsPerSample(c.sourceBits);
    m.SetTargetBitsPerSample(c.targetBits);
    uint8_t source[16] = {}, target[16] = {};
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_EQ(ErrorOf([&] { m.ConvertRow({source}, target, 1, 0xFF); }), c.error);
      EXPECT_EQ(m.ConversionMethod(), nullptr);
      EXPECT_EQ(m.Changed(), c.error == gesIndexedNotSupported);
    }
  }
}

TEST(ColorManager, ChoosesTheConverterForEachConfiguration) {
  using M = TConversionMethod;
  struct Case {
    TColorScheme source, target;
    uint8_t sourceBits, targetBits;
    M expected;
  };
  const Case cases[] = {
      {csIndexed, csIndexed, 16, 16, &TColorManager::RowConvertIndexedBoth16},
      {csIndexed, csIndexed, 16, 4, &TColorManager::RowConvertIndexedSource16},
      {csIndexed, csG, 2, 16, &TColorManager::RowConvertIndexedTarget16},
      {csIndexed, csIndexed, 4, 8, &TColorManager::RowConvertIndexed8},
      {csIndexed, csIndexed, 12, 3, &TColorManager::RowConvertIndexed8},
      {csG, csG, 8, 8, &TColorManager::RowConvertIndexed8},
      {csG, csIndexed, 1, 8, &TColorManager::RowConvertIndexed8},
      {csG, csG, 16, 8, &TColorManager::RowConvertGray},
      {csG, csG, 12, 16, &TColorManager::RowConvertGray},
      {csGA, csG, 8, 8, &TColorManager::RowConvertGray},
      {csGA, csIndexed, 16, 16, &TColorManager::RowConvertGray},
      {csRGB, csRGB, 8, 8, &TColorManager::RowConvertRGB2RGB},
      {csRGBA, csRGBA, 16, 8, &TColorManager::RowConvertRGB2RGB},
      {csRGB, csBGR, 8, 16, &TColorManager::RowConvertRGB2BGR},
      {csRGBA, csBGRA, 8, 8, &TColorManager::RowConvertRGB2BGR},
      {csBGR, csRGBA, 8, 8, &TColorManager::RowConvertBGR2RGB},
      {csBGRA, csBGR, 8, 8, &TColorManager::RowConvertBGR2BGR},
      {csRGB, csBGR, 12, 8, &TColorManager::RowConvertRGB2BGR},  // accepted; writes nothing at run time
      {csCMYK, csRGB, 8, 8, &TColorManager::RowConvertCMYK2RGB},
      {csCMYK, csBGRA, 16, 8, &TColorManager::RowConvertCMYK2BGR},
      {csCIELab, csRGBA, 8, 8, &TColorManager::RowConvertCIELAB2RGB},
      {csCIELab, csBGR, 8, 8, &TColorManager::RowConvertCIELAB2BGR},
      {csYCbCr, csRGB, 8, 8, &TColorManager::RowConvertYCbCr2RGB},
      {csYCbCr, csBGR, 8, 8, &TColorManager::RowConvertYCbCr2BGR},
      {csPhotoYCC, csRGB, 8, 8, &TColorManager::RowConvertPhotoYCC2RGB},
      {csPhotoYCC, csBGRA, 8, 8, &TColorManager::RowConvertPhotoYCC2BGR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " -> " + std::to_string(c.target) + " " + std::to_string(c.sourceBits) +
                 "/" + std::to_string(c.targetBits));
    TColorManager m;
    m.SetSourceColorScheme(c.source);
    m.SetTargetColorScheme(c.target);
    m.SetSourceBitsPerSample(c.sourceBits);
    m.SetTargetBitsPerSample(c.targetBits);
    m.PrepareConversion();
    EXPECT_TRUE(m.ConversionMethod() == c.expected);
    EXPECT_FALSE(m.Changed());
  }
}

TEST(ColorManager, YCbCrTablesAreBuiltEvenWithoutATargetConverter) {
  TColorManager m;
  m.SetSourceColorScheme(csYCbCr);
  m.SetTargetColorScheme(csCMYK);
  EXPECT_TRUE(m.CrToRedTable().empty());
  m.PrepareConversion();
  EXPECT_EQ(m.ConversionMethod(), nullptr);
  EXPECT_EQ(m.CrToRedTable().size(), 256u);
  EXPECT_EQ(m.CbToGreenTable().size(), 256u);
}

TEST(ColorManager, AlphaOptionFollowsTheSchemesAtPreparation) {
  struct Case {
    TColorScheme source, target;
    bool sourceAlpha, targetAlpha;
  };
  const Case cases[] = {{csRGB, csBGR, false, false}, {csRGBA, csBGR, true, false}, {csBGR, csBGRA, false, true},
                        {csBGRA, csRGBA, true, true}, {csGA, csG, true, false},     {csCMYK, csBGRA, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " -> " + std::to_string(c.target));
    TColorManager m;
    m.SetSourceColorScheme(c.source);
    m.SetTargetColorScheme(c.target);
    // A caller's coAlpha is replaced; the other options stay.
    m.SourceOptions = {coAlpha, coNeedByteSwap};
    m.TargetOptions = c.targetAlpha ? TConvertOptions{coApplyGamma} : TConvertOptions{coAlpha, coApplyGamma};
    m.PrepareConversion();
    EXPECT_EQ(m.SourceOptions.Has(coAlpha), c.sourceAlpha);
    EXPECT_EQ(m.TargetOptions.Has(coAlpha), c.targetAlpha);
    EXPECT_TRUE(m.SourceOptions.Has(coNeedByteSwap));
    EXPECT_TRUE(m.TargetOptions.Has(coApplyGamma));
  }
}

TEST(ColorManager, UnhandledDepthsWriteNothingAndRaiseNothing) {
  struct Case {
    TColorScheme source;
    uint8_t sourceBits, targetBits;
  };
  const Case cases[] = {{csRGB, 12, 8},   {csRGB, 8, 4},   {csCMYK, 10, 8},
                        {csCIELab, 8, 2}, {csYCbCr, 4, 8}, {csPhotoYCC, 8, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.source) + " " + std::to_string(c.sourceBits) + "/" + std::to_string(c.targetBits));
    TColorManager m;
    m.SetSourceColorScheme(c.source);
    m.SetSourceBitsPerSample(c.sourceBits);
    m.SetTargetBitsPerSample(c.targetBits);
    std::vector<uint8_t> source(64, 0x37);
    GuardedRow target(48);
    EXPECT_NO_THROW(m.ConvertRow({source.data()}, target.data(), 4, 0xFF));
    EXPECT_EQ(target.Row(), std::vector<uint8_t>(48, 0xCC));
    EXPECT_TRUE(target.Intact());
  }
}

TEST(ColorManager, MaskSelectsEveryEighthPixelFromPackedSource) {
  TColorManager m;
  const uint8_t source[] = {1, 2, 3, 4, 5, 6};  // two RGB pixels
  GuardedRow target(16 * 3);
  m.ConvertRow({source}, target.data(), 16, 0x80);
  for (size_t pixel = 0; pixel < 16; ++pixel) {
    SCOPED_TRACE(pixel);
    std::vector<uint8_t> expected(3, 0xCC);
    if (pixel == 0) expected = {3, 2, 1};
    if (pixel == 8) expected = {6, 5, 4};
    EXPECT_EQ(std::vector<uint8_t>(target.data() + 3 * pixel, target.data() + 3 * pixel + 3), expected);
  }
  EXPECT_TRUE(target.Intact());
}

// The bitmap format for each samples-per-pixel and bits-per-sample pair, both sides.
TEST(ColorManager, PixelFormatTable) {
  using P = TPixelFormat;
  auto expected = [](unsigned samples, unsigned bits) {
    if (samples == 1) {
      if (bits == 1) return P::pf1bit;
      if (bits <= 4) return P::pf4bit;
      if (bits >= 8) return P::pf8bit;
      return P::pfCustom;
    }
    if (samples == 3) return bits <= 5 ? P::pf15bit : P::pf24bit;
    return bits >= 8 ? P::pf32bit : P::pfCustom;
  };
  for (uint8_t samples : {1, 3, 4}) {
    for (uint8_t bits = 1; bits <= 16; ++bits) {
      SCOPED_TRACE(std::to_string(samples) + " x " + std::to_string(bits));
      TColorManager m;
      m.SetTargetSamplesPerPixel(samples);
      m.SetTargetBitsPerSample(bits);
      EXPECT_EQ(m.GetPixelFormat(1), expected(samples, bits));
      EXPECT_EQ(m.GetPixelFormat(-7), expected(samples, bits));
      EXPECT_EQ(m.GetPixelFormat(0), P::pf24bit);  // the source side keeps 3 x 8
      m.SetSourceSamplesPerPixel(samples);
      m.SetSourceBitsPerSample(bits);
      EXPECT_EQ(m.GetPixelFormat(0), expected(samples, bits));
    }
  }
  TColorManager m;
  m.SetTargetSamplesPerPixel(3);
  m.SetTargetBitsPerSample(5);
  EXPECT_EQ(m.GetPixelFormat(1), P::pf15bit);
  m.SetTargetSamplesPerPixel(4);
  m.SetTargetBitsPerSample(4);
  EXPECT_EQ(m.GetPixelFormat(1), P::pfCustom);
  m.SetTargetSamplesPerPixel(1);
  m.SetTargetBitsPerSample(16);
  EXPECT_EQ(m.GetPixelFormat(1), P::pf8bit);
}

TEST(ColorManager, ArithmeticHelpers) {
  for (int32_t v : {-100000, -256, -1, 0, 1, 128, 254, 255, 256, 1000, 1 << 30}) {
    SCOPED_TRACE(v);
    EXPECT_EQ(ClampByte(v), v < 0 ? 0 : v > 255 ? 255 : v);
  }
  for (uint32_t v = 0; v <= 65535; ++v) {
    ASSERT_EQ(MulDiv16(uint16_t(v), 255, 65535), v / 257) << v;
    if (v <= 255) {
      ASSERT_EQ(MulDiv16(uint16_t(v), 65535, 255), v * 257) << v;
    }
  }
  EXPECT_EQ(MulDiv16(300, 300, 600), 150);  // product formed in 32 bits
}

}  // namespace
}  // namespace muralo
