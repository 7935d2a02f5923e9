// Gamma table, grey ramps and colour palettes.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ColorTestUtil.h"
#include "classlib/Bitmap.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {
namespace {

TPaletteEntry Grey(uint8_t v) { return {v, v, v, 0}; }

TEST(Gamma, EveryLevelAgainstTheExactPower) {
  struct Case {
    float main, display;
  };
  for (const Case c : {Case{1.0f, 2.2f}, Case{0.45455f, 2.2f}, Case{1.0f, 1.0f}, Case{2.5f, 2.2f}, Case{0.3f, 1.8f}}) {
    SCOPED_TRACE(std::to_string(c.main) + " " + std::to_string(c.display));
    TColorManager m;
    m.SetGamma(c.main, c.display);
    const double exponent = 1.0 / (double(c.main) * double(c.display));
    for (int i = 0; i < 256; ++i) {
      const double exact = 255 * std::pow(i / 255.0, exponent);
      ASSERT_LE(std::abs(m.GammaTable()[i] - exact), 0.5 + 1e-3) << i;
    }
  }
  TColorManager m;
  EXPECT_EQ(m.GammaTable()[128], 186);
  EXPECT_EQ(m.GammaTable()[0], 0);
  EXPECT_EQ(m.GammaTable()[255], 255);
  m.SetGamma(1.0f, 1.0f);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(m.GammaTable()[i], i);
  m.SetGamma(0.45455f, 2.2f);  // a file gamma of 1/2.2 on a 2.2 display: the identity at 8 bits
  for (int i = 0; i < 256; ++i) ASSERT_EQ(m.GammaTable()[i], i);
  m.SetGamma(0, -3);
  EXPECT_EQ(m.MainGamma(), 1.0f);
  EXPECT_EQ(m.DisplayGamma(), 2.2f);
  EXPECT_EQ(m.GammaTable(), TColorManager().GammaTable());
}

TEST(Gamma, EightBitTableMatchesImageMagick) {
  std::vector<uint8_t> ramp(256);
  for (int i = 0; i < 256; ++i) ramp[i] = uint8_t(i);
  const auto oracle = colortest::MagickToRGB8(ramp, "-size 256x1 -depth 8 gray:", "-gamma 2.2");
  ASSERT_EQ(oracle.size(), 256u * 3);
  TColorManager m;
  for (int i = 0; i < 256; ++i) EXPECT_LE(std::abs(m.GammaTable()[i] - oracle[3 * i]), 1) << i;
}

TEST(Gamma, TableCoversEightBitLevelsForSmallDepths) {
  // Palettes index the table with 8-bit levels; a 4-bit image must not see stale entries.
  TColorManager m;
  m.SetSourceColorScheme(csG);
  m.SetTargetColorScheme(csG);
  m.SetSourceBitsPerSample(4);
  m.SetTargetBitsPerSample(4);
  m.SetTargetSamplesPerPixel(1);
  m.SetGamma(1.0f, 1.0f);
  for (int i = 0; i < 256; ++i) ASSERT_EQ(m.GammaTable()[i], i);
  m.SetGamma(2.0f, 1.0f);
  TColorManager eight;
  eight.SetGamma(2.0f, 1.0f);
  EXPECT_EQ(m.GammaTable(), eight.GammaTable());
  m.TargetOptions = {coApplyGamma};
  const HPALETTE p = m.CreateGrayscalePalette(false);
  ASSERT_EQ(p->size(), 16u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ((*p)[i], Grey(eight.GammaTable()[17 * i])) << i;
}

TEST(GrayscalePalette, RampsForEachDepth) {
  struct Case {
    uint8_t bits, samples;
    size_t entries;
    int step;
  };
  const Case cases[] = {{1, 1, 2, 255}, {2, 1, 4, 85},   {3, 1, 8, 36},  {4, 1, 16, 17},
                        {8, 1, 256, 1}, {16, 1, 256, 1}, {4, 3, 256, 1}, {1, 4, 16, 17}};
  for (const Case& c : cases) {
    for (bool whiteFirst : {false, true}) {
      SCOPED_TRACE(std::to_string(c.bits) + "x" + std::to_string(c.samples) + (whiteFirst ? " white first" : ""));
      TColorManager m;
      m.SetTargetBitsPerSample(c.bits);
      m.SetTargetSamplesPerPixel(c.samples);
      const HPALETTE p = m.CreateGrayscalePalette(whiteFirst);
      ASSERT_TRUE(p);
      ASSERT_EQ(p->size(), c.entries);
      for (size_t i = 0; i < c.entries; ++i) {
        const size_t level = whiteFirst ? c.entries - 1 - i : i;
        ASSERT_EQ((*p)[i], Grey(uint8_t(level * c.step))) << i;
      }
    }
  }
  TColorManager one;
  one.SetTargetBitsPerSample(1);
  one.SetTargetSamplesPerPixel(1);
  EXPECT_EQ(one.CreateGrayscalePalette(false)->entries(), (std::vector<TPaletteEntry>{Grey(0), Grey(255)}));
  EXPECT_EQ(one.CreateGrayscalePalette(true)->entries(), (std::vector<TPaletteEntry>{Grey(255), Grey(0)}));
  TColorManager three;
  three.SetTargetBitsPerSample(3);
  three.SetTargetSamplesPerPixel(1);
  EXPECT_EQ((*three.CreateGrayscalePalette(false))[7], Grey(252));

  TColorManager gamma;
  gamma.SetTargetSamplesPerPixel(1);
  gamma.TargetOptions = {coApplyGamma};
  EXPECT_EQ((*gamma.CreateGrayscalePalette(false))[128], Grey(186));
}

// The same four colours in each of the eight raw layouts.
struct RawPalette {
  std::vector<uint8_t> bytes[3];
};

RawPalette Layout(TRawPaletteFormat format, const std::vector<std::array<uint16_t, 3>>& colours, bool bgr,
                  bool bigEndian) {
  RawPalette raw;
  const bool wide = format >= pfInterlaced16Triple;
  const bool quad =
      format == pfInterlaced8Quad || format == pfPlane8Quad || format == pfInterlaced16Quad || format == pfPlane16Quad;
  const bool planar =
      format == pfPlane8Triple || format == pfPlane8Quad || format == pfPlane16Triple || format == pfPlane16Quad;
  auto put = [&](std::vector<uint8_t>& out, uint16_t v) {
    if (!wide) {
      out.push_back(uint8_t(v));
    } else {
      const uint16_t stored = bigEndian ? TColorManager::Swap16(v) : v;
      out.insert(out.end(), {uint8_t(stored), uint8_t(stored >> 8)});  // machine (little-endian) words
    }
  };
  for (const auto& c : colours) {
    if (planar) {
      for (int k = 0; k < 3; ++k) put(raw.bytes[k], c[k]);
    } else {
      put(raw.bytes[0], bgr ? c[2] : c[0]);
      put(raw.bytes[0], c[1]);
      put(raw.bytes[0], bgr ? c[0] : c[2]);
      if (quad) put(raw.bytes[0], 0xEEEE);
    }
  }
  return raw;
}

TEST(ColorPalette, EveryLayoutGivesTheSameEntries) {
  const std::vector<std::array<uint16_t, 3>> colours8 = {{255, 0, 0}, {0, 128, 7}, {1, 2, 3}, {200, 100, 50}};
  for (unsigned f = pfInterlaced8Triple; f <= pfPlane16Quad; ++f) {
    const auto format = TRawPaletteFormat(f);
    const bool wide = format >= pfInterlaced16Triple;
    for (bool bgr : {false, true}) {
      for (bool swap : {false, true}) {
        for (bool gamma : {false, true}) {
          SCOPED_TRACE("format " + std::to_string(f) + (bgr ? " bgr" : "") + (swap ? " swap" : "") +
                       (gamma ? " gamma" : ""));
          std::vector<std::array<uint16_t, 3>> colours = colours8;
          if (wide)
            for (auto& c : colours)
              for (auto& v : c) v = uint16_t(v * 257 + (v % 2 == 1 && v < 255 ? 100 : 0));  // still reduces to v
          const RawPalette raw = Layout(format, colours, bgr, swap);
          TColorManager m;
          if (swap) m.SourceOptions = {coNeedByteSwap};
          if (gamma) m.TargetOptions = {coApplyGamma};
          const HPALETTE p =
              m.CreateColorPalette({raw.bytes[0].data(), raw.bytes[1].data(), raw.bytes[2].data()}, format, 4, bgr);
          ASSERT_TRUE(p);
          ASSERT_EQ(p->size(), 4u);
          for (size_t i = 0; i < 4; ++i) {
            auto level = [&](uint16_t v) { return gamma ? m.GammaTable()[v] : uint8_t(v); };
            const TPaletteEntry expected{level(colours8[i][0]), level(colours8[i][1]), level(colours8[i][2]), 0};
            EXPECT_EQ((*p)[i], expected) << i;
          }
        }
      }
    }
  }
}

TEST(ColorPalette, NamedCases) {
  TColorManager m;
  const uint8_t red[] = {255, 0, 0};
  EXPECT_EQ((*m.CreateColorPalette({red}, pfInterlaced8Triple, 1, false))[0], (TPaletteEntry{255, 0, 0, 0}));
  EXPECT_EQ((*m.CreateColorPalette({red}, pfInterlaced8Triple, 1, true))[0], (TPaletteEntry{0, 0, 255, 0}));
  // Planes ignore the BGR flag.
  const uint8_t r[] = {9}, g[] = {8}, b[] = {7};
  EXPECT_EQ((*m.CreateColorPalette({r, g, b}, pfPlane8Triple, 1, true))[0], (TPaletteEntry{9, 8, 7, 0}));

  // The stored bytes 0xFF, 0x00 of a 16-bit plane: 254 with the byte exchange, 0 without.
  const uint8_t word[] = {0xFF, 0x00};
  TColorManager swap;
  swap.SourceOptions = {coNeedByteSwap};
  EXPECT_EQ((*swap.CreateColorPalette({word, word, word}, pfPlane16Triple, 1, false))[0], Grey(254));
  EXPECT_EQ((*m.CreateColorPalette({word, word, word}, pfPlane16Triple, 1, false))[0], Grey(0));

  // Counts: at most 256 entries; with equal 8-bit depths the count given stands.
  std::vector<uint8_t> big(300 * 3, 5);
  EXPECT_EQ(m.CreateColorPalette({big.data()}, pfInterlaced8Triple, 300, false)->size(), 256u);
  EXPECT_EQ(m.CreateColorPalette({big.data()}, pfInterlaced8Triple, 200, false)->size(), 200u);
  // An unknown layout fills nothing: the entries stay black.
  const HPALETTE unknown = m.CreateColorPalette({big.data()}, TRawPaletteFormat(99), 3, false);
  EXPECT_EQ(unknown->entries(), std::vector<TPaletteEntry>(3));
}

TEST(ColorPalette, DepthAdaptationFollowsTheIndexRescaling) {
  // Source palette entry v gets the colour (v, 255 - v, 7).
  std::vector<uint8_t> raw;
  for (int v = 0; v < 256; ++v) raw.insert(raw.end(), {uint8_t(v), uint8_t(255 - v), 7});
  auto colour = [](uint32_t v) { return TPaletteEntry{uint8_t(v), uint8_t(255 - v), 7, 0}; };
  for (uint8_t s = 1; s <= 8; ++s) {
    for (uint8_t t = 1; t <= 8; ++t) {
      SCOPED_TRACE(std::to_string(s) + "->" + std::to_string(t));
      TColorManager m;
      m.SetSourceColorScheme(csIndexed);
      m.SetTargetColorScheme(csIndexed);
      m.SetSourceBitsPerSample(s);
      m.SetTargetBitsPerSample(t);
      const uint32_t sourceMax = (1u << s) - 1, targetMax = (1u << t) - 1;
      const HPALETTE p = m.CreateColorPalette({raw.data()}, pfInterlaced8Triple, sourceMax + 1, false);
      ASSERT_EQ(p->size(), s == t ? sourceMax + 1 : targetMax + 1);
      // Converting index v of the source depth must land on an entry that shows colour v.
      for (uint32_t v = 0; v <= sourceMax; ++v) {
        const uint8_t packed[2] = {uint8_t((v << (16 - s)) >> 8), uint8_t(v << (16 - s))};
        uint8_t target[2] = {0, 0};
        m.ConvertRow({packed}, target, 1, 0xFF);
        const uint32_t index = (uint32_t(target[0]) << 8 | target[1]) >> (16 - t);
        if (targetMax >= sourceMax) {
          EXPECT_EQ((*p)[index], colour(v)) << v;
        }
      }
      // Every entry: the smallest source index the converter sends there, or, for entries it
      // never writes, source entry i × SourceMax div TargetMax.
      for (uint32_t i = 0; i < p->size(); ++i) {
        uint32_t shown = s == t ? i : i * sourceMax / targetMax;
        for (uint32_t v = sourceMax + 1; v-- > 0;)
          if (s != t && v * targetMax / sourceMax == i) shown = v;
        EXPECT_EQ((*p)[i], colour(shown)) << i;
      }
    }
  }
  // Two colours for a 1-bit source and an 8-bit target: 255 copies of entry 0, then entry 1.
  TColorManager m;
  m.SetSourceBitsPerSample(1);
  const uint8_t two[] = {10, 10, 10, 250, 250, 250};
  const HPALETTE p = m.CreateColorPalette({two}, pfInterlaced8Triple, 2, false);
  ASSERT_EQ(p->size(), 256u);
  for (int i = 0; i < 255; ++i) EXPECT_EQ((*p)[i], Grey(10));
  EXPECT_EQ((*p)[255], Grey(250));
}

TEST(ColorPalette, SixteenBitIndicesSampleTheWholeSourcePalette) {
  // A 16-bit indexed source drawn with 8-bit indices: target index j shows source entry j × 257,
  // which is where the indexed converter puts it. Entries past ColorCount are black.
  std::vector<uint16_t> planes[3];
  const uint32_t colours = 40000;
  for (uint32_t v = 0; v < colours; ++v) {
    planes[0].push_back(uint16_t(v));
    planes[1].push_back(uint16_t(65535 - v));
    planes[2].push_back(0);
  }
  TColorManager m;
  m.SetSourceBitsPerSample(16);
  const HPALETTE p =
      m.CreateColorPalette({planes[0].data(), planes[1].data(), planes[2].data()}, pfPlane16Triple, colours, false);
  ASSERT_EQ(p->size(), 256u);
  for (uint32_t j = 0; j < 256; ++j) {
    const uint32_t v = j * 257;
    const TPaletteEntry expected =
        v < colours ? TPaletteEntry{uint8_t(v / 257), uint8_t((65535 - v) / 257), 0, 0} : TPaletteEntry{};
    ASSERT_EQ((*p)[j], expected) << j;
  }
}

TEST(ColorPalette, BitmapTakesThePalette) {
  TColorManager m;
  m.SetSourceColorScheme(csIndexed);
  m.SetTargetColorScheme(csIndexed);
  m.SetSourceBitsPerSample(4);
  m.SetTargetBitsPerSample(4);
  m.SetSourceSamplesPerPixel(1);
  m.SetTargetSamplesPerPixel(1);
  std::vector<uint8_t> raw;
  for (int v = 0; v < 16; ++v) raw.insert(raw.end(), {uint8_t(16 * v), 0, uint8_t(255 - 16 * v), 0});
  TBitmap bitmap;
  bitmap.SetPixelFormat(m.GetPixelFormat(1));
  bitmap.SetSize(4, 1);
  bitmap.SetPalette(m.CreateColorPalette({raw.data()}, pfInterlaced8Quad, 16, false));
  const uint8_t row[] = {0x0F, 0x3C};
  m.ConvertRow({row}, bitmap.RowData(0), 4, 0xFF);
  EXPECT_EQ(bitmap.PixelFormat(), TPixelFormat::pf4bit);
  EXPECT_EQ(bitmap.Pixel(0, 0), RGB(0, 0, 255));
  EXPECT_EQ(bitmap.Pixel(1, 0), RGB(240, 0, 15));
  EXPECT_EQ(bitmap.Pixel(2, 0), RGB(48, 0, 207));
  EXPECT_EQ(bitmap.Pixel(3, 0), RGB(192, 0, 63));
}

}  // namespace
}  // namespace muralo
