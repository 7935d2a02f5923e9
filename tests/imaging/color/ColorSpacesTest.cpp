// CMYK, CIE L*a*b*, YCbCr and PhotoYCC converters: the published edge values, ImageMagick 6 as an
// oracle for 8-bit CMYK and YCbCr, and double-precision references written from the published
// formulas for the rest.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "ColorTestUtil.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {
namespace {

using colortest::GuardedRow;

TColorManager Manager(TColorScheme source, TColorScheme target, uint8_t sourceBits = 8, uint8_t targetBits = 8) {
  TColorManager m;
  m.SetSourceColorScheme(source);
  m.SetTargetColorScheme(target);
  m.SetSourceBitsPerSample(sourceBits);
  m.SetTargetBitsPerSample(targetBits);
  return m;
}

// Converts interleaved 8-bit pixels into an 8-bit RGB row (checking the guards).
std::vector<uint8_t> ToRGB8(TColorManager& m, const std::vector<uint8_t>& source, uint32_t count) {
  GuardedRow t(size_t(count) * 3);
  m.ConvertRow({source.data()}, t.data(), count, 0xFF);
  EXPECT_TRUE(t.Intact());
  return t.Row();
}

// Largest absolute difference between two byte rows of equal length.
int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  EXPECT_EQ(a.size(), b.size());
  int worst = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) worst = std::max(worst, std::abs(int(a[i]) - int(b[i])));
  return worst;
}

// --- CMYK -------------------------------------------------------------------------------------

TEST(ColorSpaceCMYK, PublishedEdgeCases) {
  auto m = Manager(csCMYK, csRGB);
  EXPECT_EQ(ToRGB8(m, {0, 0, 0, 0}, 1), (std::vector<uint8_t>{255, 255, 255}));
  EXPECT_EQ(ToRGB8(m, {255, 0, 0, 0}, 1), (std::vector<uint8_t>{0, 255, 255}));
  for (uint8_t x : {0, 1, 77, 128, 255})
    EXPECT_EQ(ToRGB8(m, {x, uint8_t(255 - x), 3, 255}, 1), (std::vector<uint8_t>{0, 0, 0})) << int(x);
  auto b = Manager(csCMYK, csBGR);
  EXPECT_EQ(ToRGB8(b, {255, 0, 0, 0}, 1), (std::vector<uint8_t>{255, 255, 0}));
}

TEST(ColorSpaceCMYK, EightBitMatchesImageMagick) {
  // Every C against a ladder of K, plus random pixels.
  std::vector<uint8_t> cmyk;
  for (int k = 0; k < 256; k += 15)
    for (int c = 0; c < 256; ++c) cmyk.insert(cmyk.end(), {uint8_t(c), uint8_t(255 - c), uint8_t(c / 2), uint8_t(k)});
  std::mt19937 rng(5);
  for (int i = 0; i < 2048; ++i) cmyk.push_back(uint8_t(rng()));
  while (cmyk.size() % (256 * 4)) cmyk.push_back(0);
  const uint32_t count = uint32_t(cmyk.size() / 4);
  const auto oracle =
      colortest::MagickToRGB8(cmyk, "-size 256x" + std::to_string(count / 256) + " -depth 8 cmyk:", "-colorspace sRGB");
  ASSERT_EQ(oracle.size(), size_t(count) * 3);
  auto m = Manager(csCMYK, csRGB);
  // ImageMagick computes (1 - X)(1 - K) exactly; the integer formula truncates X·K/255 once.
  EXPECT_LE(MaxDifference(ToRGB8(m, cmyk, count), oracle), 1);
}

TEST(ColorSpaceCMYK, SixteenBitPathsAgainstExactProducts) {
  std::mt19937 rng(11);
  const uint32_t count = 5000;
  std::vector<uint16_t> samples(count * 4);
  for (auto& s : samples) s = uint16_t(rng());
  for (int i = 0; i < 8; ++i) samples[i] = i < 4 ? 0 : 65535;  // white, then black
  for (bool swap : {false, true}) {
    SCOPED_TRACE(swap ? "swap" : "native");
    std::vector<uint8_t> bytes;
    for (uint16_t s : samples) {
      const uint16_t stored = swap ? TColorManager::Swap16(s) : s;
      bytes.insert(bytes.end(), {uint8_t(stored), uint8_t(stored >> 8)});  // little-endian machine words
    }
    auto m8 = Manager(csCMYK, csRGB, 16, 8);
    auto m16 = Manager(csCMYK, csRGB, 16, 16);
    if (swap) m8.SourceOptions = m16.SourceOptions = {coNeedByteSwap};
    GuardedRow t8(count * 3), t16(count * 6);
    m8.ConvertRow({bytes.data()}, t8.data(), count, 0xFF);
    m16.ConvertRow({bytes.data()}, t16.data(), count, 0xFF);
    int worst8 = 0;
    double worst16 = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const double k = samples[4 * i + 3] / 65535.0;
      for (int c = 0; c < 3; ++c) {
        const double exact = (1 - samples[4 * i + c] / 65535.0) * (1 - k);
        worst8 = std::max(worst8, std::abs(int(t8[3 * i + c]) - int(std::lround(exact * 255))));
        worst16 = std::max(worst16, std::abs(double(t16.Word(3 * i + c)) - exact * 65535));
      }
    }
    EXPECT_LE(worst8, 1);
    EXPECT_LE(worst16, 1.0);
    EXPECT_EQ(t16.Word(0), 65535);
    EXPECT_EQ(t16.Word(3), 0);
    EXPECT_TRUE(t8.Intact() && t16.Intact());
  }
  // 8-bit source into a 16-bit target: the 8-bit result × 257.
  auto m = Manager(csCMYK, csRGB, 8, 16);
  const uint8_t px[] = {128, 64, 32, 16};
  GuardedRow t(6);
  m.ConvertRow({px}, t.data(), 1, 0xFF);
  auto ref = Manager(csCMYK, csRGB);
  const auto r8 = ToRGB8(ref, {128, 64, 32, 16}, 1);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(t.Word(c), r8[c] * 257);
}

TEST(ColorSpaceCMYK, PlanarOnlyWithFourPointers) {
  std::mt19937 rng(3);
  const uint32_t count = 37;
  std::vector<uint8_t> interleaved(count * 4), planes[4];
  for (auto& v : interleaved) v = uint8_t(rng());
  for (uint32_t i = 0; i < count; ++i)
    for (int k = 0; k < 4; ++k) planes[k].push_back(interleaved[4 * i + k]);
  for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x5A)}) {
    auto m = Manager(csCMYK, csBGRA);
    GuardedRow a(count * 4, 0x11), b(count * 4, 0x11), c(count * 4, 0x11);
    m.ConvertRow({interleaved.data()}, a.data(), count, mask);
    m.ConvertRow({planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()}, b.data(), count, mask);
    // Three pointers: the first is taken as interleaved data.
    m.ConvertRow({interleaved.data(), planes[1].data(), planes[2].data()}, c.data(), count, mask);
    EXPECT_EQ(a.Row(), b.Row());
    EXPECT_EQ(a.Row(), c.Row());
    for (uint32_t i = 0; i < count; ++i) ASSERT_EQ(a[4 * i + 3], 0x11) << "alpha byte of pixel " << i;
  }
}

// --- CIE L*a*b* -------------------------------------------------------------------------------

// The conversion in double precision (CIE 1976 inverse with the linear segment below L = 7.9996,
// the D65 white, the IEC 61966-2-1 matrix and transfer function), before rounding.
std::array<double, 3> LabReference(double L, double a, double b) {
  double X, Y, Z;
  const double fy = (L + 16) / 116;
  if (L < 7.9996) {
    Y = L / 903.3;
    X = Y + a / 3893.5;
    Z = Y - b / 1557.4;
  } else {
    X = std::pow(fy + a / 500, 3);
    Y = std::pow(fy, 3);
    Z = std::pow(fy - b / 200, 3);
  }
  X *= 0.95047;
  Z *= 1.08883;
  auto encode = [](double v) { return 255 * (v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055); };
  return {encode(3.2406 * X - 1.5372 * Y - 0.4986 * Z), encode(-0.9689 * X + 1.8758 * Y + 0.0415 * Z),
          encode(0.0557 * X - 0.2040 * Y + 1.0570 * Z)};
}

uint8_t ClampRound(double v) { return ClampByte(int32_t(std::max(-1.0, std::min(256.0, std::nearbyint(v))))); }

TEST(ColorSpaceLab, PublishedEdgeCases) {
  auto m = Manager(csCIELab, csRGB);
  EXPECT_EQ(ToRGB8(m, {100, 0, 0}, 1), (std::vector<uint8_t>{255, 255, 255}));
  EXPECT_NEAR(LabReference(100, 0, 0)[0], 255.0, 0.01);
  // Mid grey: L* 50 is 18.4 % of the white's luminance, encoded by the sRGB curve as 119.
  EXPECT_EQ(ToRGB8(m, {50, 0, 0}, 1), (std::vector<uint8_t>{119, 119, 119}));
  EXPECT_EQ(ToRGB8(m, {0, 0, 0}, 1), (std::vector<uint8_t>{0, 0, 0}));
  // L 7 is below the threshold of the cube branch, L 8 above it: each against its formula.
  const auto linear = LabReference(7, 20, -20), cube = LabReference(8, 20, -20);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(ToRGB8(m, {7, 20, uint8_t(-20)}, 1)[c], ClampRound(linear[c]));
    EXPECT_EQ(ToRGB8(m, {8, 20, uint8_t(-20)}, 1)[c], ClampRound(cube[c]));
  }

  auto byteRange = Manager(csCIELab, csRGB);
  byteRange.SourceOptions = {coLabByteRange};
  EXPECT_EQ(ToRGB8(byteRange, {255, 0, 0}, 1), (std::vector<uint8_t>{255, 255, 255}));
  auto offset = Manager(csCIELab, csRGB);
  offset.SourceOptions = {coLabChromaOffset};
  EXPECT_EQ(ToRGB8(offset, {50, 128, 128}, 1), (std::vector<uint8_t>{119, 119, 119}));
  // With the offset the byte 0 is -128; without it the byte 0x80 is -128.
  auto plain = Manager(csCIELab, csRGB);
  EXPECT_EQ(ToRGB8(offset, {60, 0, 200}, 1), ToRGB8(plain, {60, 0x80, 72}, 1));
}

TEST(ColorSpaceLab, EightBitDomainAgainstDoubleReference) {
  for (TConvertOptions options :
       {TConvertOptions{}, TConvertOptions{coLabByteRange}, TConvertOptions{coLabChromaOffset},
        TConvertOptions{coLabByteRange, coLabChromaOffset}}) {
    SCOPED_TRACE(options.ToBits());
    std::vector<uint8_t> lab;
    for (int l = 0; l < 256; ++l)
      for (int a = 0; a < 256; a += 17)
        for (int b = 0; b < 256; b += 15) lab.insert(lab.end(), {uint8_t(l), uint8_t(a), uint8_t(b)});
    const uint32_t count = uint32_t(lab.size() / 3);
    auto m = Manager(csCIELab, csRGB);
    m.SourceOptions = options;
    const auto ours = ToRGB8(m, lab, count);
    int mismatches = 0, worst = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const double L = options.Has(coLabByteRange) ? lab[3 * i] / 2.55 : lab[3 * i];
      auto chroma = [&](uint8_t v) { return options.Has(coLabChromaOffset) ? v - 128.0 : double(int8_t(v)); };
      const auto ref = LabReference(L, chroma(lab[3 * i + 1]), chroma(lab[3 * i + 2]));
      for (int c = 0; c < 3; ++c) {
        const int d = std::abs(int(ours[3 * i + c]) - int(ClampRound(ref[c])));
        worst = std::max(worst, d);
        mismatches += d != 0;
      }
    }
    // Extended and double precision can only disagree where a value sits at a rounding half.
    EXPECT_LE(worst, 1);
    EXPECT_LE(mismatches, 4);
  }
}

TEST(ColorSpaceLab, SixteenBitSamplesMapOntoTheEightBitRanges) {
  // L 0..65535 spans 0..100; a, b are words scaled by 1/256 (signed, or centred on 32768).
  std::vector<uint8_t> lab8;
  std::vector<uint16_t> signed16, offset16;
  for (int l = 0; l < 256; l += 5)
    for (int a = 0; a < 256; a += 23)
      for (int b = 0; b < 256; b += 29) {
        lab8.insert(lab8.end(), {uint8_t(l), uint8_t(a), uint8_t(b)});
        signed16.insert(signed16.end(), {uint16_t(l * 257), uint16_t(uint8_t(a) << 8), uint16_t(uint8_t(b) << 8)});
        offset16.insert(offset16.end(),
                        {uint16_t(l * 257), uint16_t(uint8_t(a + 128) << 8), uint16_t(uint8_t(b + 128) << 8)});
      }
  const uint32_t count = uint32_t(lab8.size() / 3);
  auto m8 = Manager(csCIELab, csRGB);
  m8.SourceOptions = {coLabByteRange};
  const auto expected = ToRGB8(m8, lab8, count);
  for (bool swap : {false, true}) {
    for (bool chromaOffset : {false, true}) {
      SCOPED_TRACE(std::string(swap ? "swap" : "native") + (chromaOffset ? " offset" : " signed"));
      std::vector<uint8_t> bytes;
      for (uint16_t v : chromaOffset ? offset16 : signed16) {
        const uint16_t stored = swap ? TColorManager::Swap16(v) : v;
        bytes.insert(bytes.end(), {uint8_t(stored), uint8_t(stored >> 8)});
      }
      auto m = Manager(csCIELab, csRGB, 16, 8);
      if (swap) m.SourceOptions.Include(coNeedByteSwap);
      if (chromaOffset) m.SourceOptions.Include(coLabChromaOffset);
      GuardedRow t(count * 3);
      m.ConvertRow({bytes.data()}, t.data(), count, 0xFF);
      EXPECT_EQ(t.Row(), expected);
      // A 16-bit target receives the 8-bit result × 257.
      m.SetTargetBitsPerSample(16);
      GuardedRow t16(count * 6);
      m.ConvertRow({bytes.data()}, t16.data(), count, 0xFF);
      for (uint32_t i = 0; i < count * 3; ++i) ASSERT_EQ(t16.Word(i), expected[i] * 257) << i;
      EXPECT_TRUE(t.Intact() && t16.Intact());
    }
  }
}

// --- YCbCr and PhotoYCC -----------------------------------------------------------------------

TEST(ColorSpaceYCbCr, LookupTablesHoldThePublishedValues) {
  auto m = Manager(csYCbCr, csRGB);
  m.PrepareConversion();
  struct Entry {
    const std::vector<int32_t>& table;
    int32_t at0, at128, at255;
  };
  const Entry entries[] = {{m.CrToRedTable(), -179, 0, 178},
                           {m.CbToBlueTable(), -227, 0, 225},
                           {m.CrToGreenTable(), 91, 0, -91},
                           {m.CbToGreenTable(), 44, 0, -44}};
  for (const Entry& e : entries) {
    ASSERT_EQ(e.table.size(), 256u);
    EXPECT_EQ(e.table[0], e.at0);
    EXPECT_EQ(e.table[128], e.at128);
    EXPECT_EQ(e.table[255], e.at255);
  }
  // (3 - 128) x 1.772f is -221.49999...; rounded as a float product it would become -222.
  EXPECT_EQ(m.CbToBlueTable()[3], -221);
  EXPECT_EQ(m.CbToBlueTable()[253], 221);
  // Every entry against the double-precision products (equal or, at a rounding half of the
  // single-precision product, within one).
  for (const auto& k : {std::array<double, 3>{0.299, 0.587, 0.114}, std::array<double, 3>{0.2126, 0.7152, 0.0722}}) {
    for (TColorScheme scheme : {csYCbCr, csPhotoYCC}) {
      auto n = Manager(scheme, csRGB);
      n.SetYCbCrParameters({float(k[0]), float(k[1]), float(k[2])}, 1, 1);
      n.PrepareConversion();
      const double f1 = 2 - 2 * k[0], f2 = k[0] * f1 / k[1], f3 = 2 - 2 * k[2], f4 = k[2] * f3 / k[1];
      const int red = scheme == csYCbCr ? 128 : 137, blue = scheme == csYCbCr ? 128 : 156;
      for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_LE(std::abs(n.CrToRedTable()[i] - (i - red) * f1), 0.5 + 1e-4);
        EXPECT_LE(std::abs(n.CbToBlueTable()[i] - (i - blue) * f3), 0.5 + 1e-4);
        EXPECT_LE(std::abs(n.CrToGreenTable()[i] + (i - red) * f2), 0.5 + 1e-4);
        EXPECT_LE(std::abs(n.CbToGreenTable()[i] + (i - blue) * f4), 0.5 + 1e-4);
      }
    }
  }
}

TEST(ColorSpaceYCbCr, NeutralChromaGivesGrey) {
  std::vector<uint8_t> ycbcr, ycc;
  for (int y = 0; y < 256; ++y) {
    ycbcr.insert(ycbcr.end(), {uint8_t(y), 128, 128});
    ycc.insert(ycc.end(), {uint8_t(y), 156, 137});
  }
  auto m = Manager(csYCbCr, csBGR);
  auto p = Manager(csPhotoYCC, csRGB);
  const auto a = ToRGB8(m, ycbcr, 256), b = ToRGB8(p, ycc, 256);
  for (int y = 0; y < 256; ++y) {
    SCOPED_TRACE(y);
    EXPECT_EQ(std::vector<uint8_t>(a.begin() + 3 * y, a.begin() + 3 * y + 3), std::vector<uint8_t>(3, uint8_t(y)));
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 3 * y, b.begin() + 3 * y + 3), std::vector<uint8_t>(3, uint8_t(y)));
  }
}

TEST(ColorSpaceYCbCr, EightBitMatchesImageMagick) {
  std::vector<uint8_t> ycbcr;
  std::mt19937 rng(21);
  for (int i = 0; i < 256 * 64 * 3; ++i) ycbcr.push_back(uint8_t(rng()));
  const uint32_t count = uint32_t(ycbcr.size() / 3);
  const auto oracle =
      colortest::MagickToRGB8(ycbcr, "-size 256x64 -depth 8 rgb:", "-set colorspace YCbCr -colorspace sRGB");
  ASSERT_EQ(oracle.size(), ycbcr.size());
  auto m = Manager(csYCbCr, csRGB);
  // ImageMagick works in floating point with chroma centred on 0.5 of its quantum range; the
  // integer tables round each product once: two levels at most apart.
  EXPECT_LE(MaxDifference(ToRGB8(m, ycbcr, count), oracle), 2);
}

TEST(ColorSpaceYCbCr, SixteenBitPaths) {
  // 16 -> 8: each sample reduced by div 257, then the 8-bit tables.
  std::mt19937 rng(4);
  const uint32_t count = 3000;
  std::vector<uint16_t> s(count * 3);
  for (auto& v : s) v = uint16_t(rng());
  for (TColorScheme scheme : {csYCbCr, csPhotoYCC}) {
    for (bool swap : {false, true}) {
      SCOPED_TRACE(std::to_string(scheme) + (swap ? " swap" : ""));
      std::vector<uint8_t> bytes, reduced;
      for (uint16_t v : s) {
        const uint16_t stored = swap ? TColorManager::Swap16(v) : v;
        bytes.insert(bytes.end(), {uint8_t(stored), uint8_t(stored >> 8)});
        reduced.push_back(uint8_t(v / 257));
      }
      auto m8 = Manager(scheme, csRGB);
      const auto expected = ToRGB8(m8, reduced, count);
      auto m = Manager(scheme, csRGB, 16, 8);
      if (swap) m.SourceOptions = {coNeedByteSwap};
      GuardedRow t(count * 3);
      m.ConvertRow({bytes.data()}, t.data(), count, 0xFF);
      EXPECT_EQ(t.Row(), expected);

      // 16 -> 16 against double-precision formulas, clamped to the word range.
      m.SetTargetBitsPerSample(16);
      GuardedRow w(count * 6);
      m.ConvertRow({bytes.data()}, w.data(), count, 0xFF);
      double worst = 0;
      for (uint32_t i = 0; i < count; ++i) {
        const double y = s[3 * i], cb = s[3 * i + 1], cr = s[3 * i + 2];
        double rgb[3];
        if (scheme == csPhotoYCC) {
          const double yy = 1.3584 * y, c1 = cb - 156 * 257, c2 = cr - 137 * 257;
          rgb[0] = yy + 1.8215 * c2;
          rgb[1] = yy - 0.9271435 * c2 - 0.4302726 * c1;
          rgb[2] = yy + 2.2179 * c1;
        } else {
          rgb[0] = y + 1.402 * (cr - 32768);
          rgb[1] = y - 0.299 * 1.402 / 0.587 * (cr - 32768) - 0.114 * 1.772 / 0.587 * (cb - 32768);
          rgb[2] = y + 1.772 * (cb - 32768);
        }
        for (int c = 0; c < 3; ++c)
          worst = std::max(worst, std::abs(w.Word(3 * i + c) - std::clamp(rgb[c], 0.0, 65535.0)));
      }
      // Single-precision coefficients and products: a few units of a 16-bit level.
      EXPECT_LE(worst, scheme == csPhotoYCC ? 8.0 : 4.0);
      EXPECT_TRUE(t.Intact() && w.Intact());
    }
  }
  auto grey = Manager(csYCbCr, csRGB, 16, 16);
  const auto px = colortest::Words({40000, 32768, 32768});
  GuardedRow g(6);
  grey.ConvertRow({px.data()}, g.data(), 1, 0xFF);
  EXPECT_EQ(g.Row(), colortest::Words({40000, 40000, 40000}));
}

TEST(ColorSpaceYCbCr, PhotoYCCWordsOnARoundingHalf) {
  // Y' = 1.3584 x Y held as a float, blue = Y' + 2.2179 x C1. For these words the sum lies within
  // 1e-6 of a half: Y' taken from the float product 1.3584f x Y (one float step lower) would
  // round it down. Expected values: the formula in extended precision.
  struct Case {
    uint16_t y, cb;
    uint16_t blue;
  };
  const Case cases[] = {{19, 40092 + 4776, 10619}, {33, 40092 + 3032, 6770}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.y);
    const uint16_t row[3] = {c.y, c.cb, 35209};  // C2 = 0: red is round(Y'), green clamps to 0
    auto m = Manager(csPhotoYCC, csRGB, 16, 16);
    uint16_t out[3] = {};
    m.ConvertRow({row}, out, 1, 0xFF);
    EXPECT_EQ(out[0], uint16_t(std::lround(1.3584 * c.y)));
    EXPECT_EQ(out[1], 0);
    EXPECT_EQ(out[2], c.blue);
  }
}

TEST(ColorSpaceYCbCr, ParametersAndSubsampling) {
  struct Case {
    uint8_t horz, vert;
    const char* error;
  };
  const Case cases[] = {{1, 1, nullptr},
                        {2, 1, nullptr},
                        {4, 2, nullptr},
                        {4, 4, nullptr},
                        {1, 2, gesVerticalSubSamplingError},
                        {2, 4, gesVerticalSubSamplingError},
                        {3, 1, gesInvalidSubSampling},
                        {1, 3, gesInvalidSubSampling},
                        {0, 1, gesInvalidSubSampling},
                        {8, 8, gesInvalidSubSampling}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.horz) + "," + std::to_string(c.vert));
    TColorManager m;
    std::string error;
    try {
      m.SetYCbCrParameters({0.2126f, 0.7152f}, c.horz, c.vert);
    } catch (const EColorConversionError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error ? c.error : "");
    // The weights given are stored whatever the factors; the third stays.
    EXPECT_EQ(m.YCbCrCoefficients(), (std::array<float, 3>{0.2126f, 0.7152f, 0.114f}));
    EXPECT_EQ(m.HorzSubSampling(), c.error ? 1 : c.horz);
    EXPECT_EQ(m.VertSubSampling(), c.error ? 1 : c.vert);
  }
  TColorManager m;
  m.SetYCbCrParameters(static_cast<const float*>(nullptr), 0, 2, 2);  // no weights: the old ones stay
  EXPECT_EQ(m.YCbCrCoefficients(), (std::array<float, 3>{0.299f, 0.587f, 0.114f}));
}

TEST(ColorSpaceYCbCr, NewWeightsReachTheTablesAtTheNextPreparation) {
  auto m = Manager(csYCbCr, csRGB);
  const std::vector<uint8_t> px = {100, 200, 60};
  const auto before = ToRGB8(m, px, 1);
  m.SetYCbCrParameters(TFloatArray{0.2126f, 0.7152f, 0.0722f}, 1, 1);
  EXPECT_EQ(ToRGB8(m, px, 1), before);  // still prepared with the old tables
  m.SetTargetColorScheme(csRGBA);
  m.SetTargetColorScheme(csRGB);
  EXPECT_NE(ToRGB8(m, px, 1), before);
  EXPECT_EQ(m.CrToRedTable()[0], std::lround(-128 * (2 - 2 * 0.2126f)));
}

// Planar equals interleaved, and a BGRA target keeps its alpha, for the three-component schemes.
TEST(ColorSpaceConverters, PlanarSourcesAndTargetAlpha) {
  std::mt19937 rng(8);
  for (TColorScheme scheme : {csCIELab, csYCbCr, csPhotoYCC, csCMYK}) {
    for (uint8_t bits : {uint8_t(8), uint8_t(16)}) {
      for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x88), uint8_t(0x33)}) {
        SCOPED_TRACE(std::to_string(scheme) + " " + std::to_string(bits) + " mask " + std::to_string(mask));
        const unsigned n = scheme == csCMYK ? 4 : 3, bytes = bits / 8;
        const uint32_t count = 29;
        std::vector<uint8_t> interleaved(count * n * bytes), planes[4];
        for (auto& v : interleaved) v = uint8_t(rng());
        for (uint32_t i = 0; i < count; ++i)
          for (unsigned k = 0; k < n; ++k)
            for (unsigned b = 0; b < bytes; ++b) planes[k].push_back(interleaved[(i * n + k) * bytes + b]);
        for (uint8_t targetBits : {uint8_t(8), uint8_t(16)}) {
          auto m = Manager(scheme, csBGRA, bits, targetBits);
          auto rgb = Manager(scheme, csRGBA, bits, targetBits);
          const size_t rowBytes = count * 4 * (targetBits / 8);
          GuardedRow a(rowBytes, 0x3C), b(rowBytes, 0x3C), c(rowBytes, 0x3C);
          m.ConvertRow({interleaved.data()}, a.data(), count, mask);
          if (n == 4)
            m.ConvertRow({planes[0].data(), planes[1].data(), planes[2].data(), planes[3].data()}, b.data(), count,
                         mask);
          else
            m.ConvertRow({planes[0].data(), planes[1].data(), planes[2].data()}, b.data(), count, mask);
          rgb.ConvertRow({interleaved.data()}, c.data(), count, mask);
          EXPECT_EQ(a.Row(), b.Row());
          const unsigned w = targetBits / 8;
          for (uint32_t i = 0; i < count; ++i) {
            for (unsigned x = 0; x < w; ++x) {
              ASSERT_EQ(a[(4 * i + 3) * w + x], 0x3C) << "alpha of pixel " << i;
              // The RGB variant computes the same values in the other order.
              ASSERT_EQ(a[(4 * i + 0) * w + x], c[(4 * i + 2) * w + x]);
              ASSERT_EQ(a[(4 * i + 2) * w + x], c[(4 * i + 0) * w + x]);
            }
          }
          EXPECT_TRUE(a.Intact() && b.Intact() && c.Intact());
        }
      }
    }
  }
}

}  // namespace
}  // namespace muralo
