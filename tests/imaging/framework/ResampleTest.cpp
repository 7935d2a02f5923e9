// Stretch: the worked examples, the edge cases, and a second, deliberately plain model of the
// resampler (weights recomputed for every pixel, sums in double precision, no contributor lists)
// that every filter must match byte for byte on random bitmaps.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <thread>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "imaging/Resample.h"

namespace muralo {
namespace {

using F = TResamplingFilter;
constexpr F kFilters[] = {F::sfBox, F::sfTriangle, F::sfHermite, F::sfBell, F::sfSpline, F::sfLanczos3, F::sfMitchell};

// A 24-bit picture as plain B, G, R bytes, rows packed.
struct Pixels {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Bgr;
  uint8_t& At(int x, int y, int c) { return Bgr[(size_t(y) * size_t(Width) + size_t(x)) * 3 + size_t(c)]; }
  uint8_t At(int x, int y, int c) const { return Bgr[(size_t(y) * size_t(Width) + size_t(x)) * 3 + size_t(c)]; }
};

Pixels RandomPixels(int w, int h, std::mt19937& rng) {
  Pixels p{w, h, std::vector<uint8_t>(size_t(w) * size_t(h) * 3)};
  // Mostly smooth with hard edges, so negative lobes push sums past both ends.
  std::uniform_int_distribution<int> byte(0, 255), coin(0, 3);
  for (auto& b : p.Bgr) b = coin(rng) == 0 ? uint8_t(byte(rng) < 128 ? 0 : 255) : uint8_t(byte(rng));
  return p;
}

void ToBitmap(const Pixels& p, TBitmap& b) {
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.SetSize(p.Width, p.Height);
  for (int y = 0; y < p.Height; ++y)
    std::copy_n(&p.Bgr[size_t(y) * size_t(p.Width) * 3], size_t(p.Width) * 3, b.RowData(y));
}

Pixels FromBitmap(const TBitmap& b) {
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
  Pixels p{b.Width(), b.Height(), std::vector<uint8_t>(size_t(b.Width()) * size_t(b.Height()) * 3)};
  for (int y = 0; y < b.Height(); ++y)
    std::copy_n(b.RowData(y), size_t(b.Width()) * 3, &p.Bgr[size_t(y) * size_t(b.Width()) * 3]);
  return p;
}

// ---- the model ----

struct ModelAxis {
  float Scale, Width;
  bool Shrinking;
};

ModelAxis Axis(int src, int dst, float radius) {
  const double s = (src == 1 || dst == 1) ? double(dst) / src : double(dst - 1) / (src - 1);
  ModelAxis a{float(s), radius, false};
  a.Shrinking = a.Scale < 1.0f;
  if (a.Shrinking) a.Width = float(double(radius) / double(a.Scale));
  return a;
}

// Returns (weight, source index) pairs of target pixel i.
std::vector<std::pair<double, int>> ModelWeights(const ModelAxis& a, int i, int n, F filter) {
  std::vector<std::pair<double, int>> out;
  const float center = float(double(i) / double(a.Scale));
  for (double j = std::floor(double(center) - a.Width); j <= std::ceil(double(center) + a.Width); ++j) {
    const double arg = a.Shrinking ? (double(center) - j) * a.Scale : double(center) - j;
    const double w = std::nearbyint(double(FilterKernel(filter, float(arg))) * (a.Shrinking ? a.Scale : 1.0f) * 256.0);
    if (w == 0) continue;
    int m = int(j) < 0 ? -int(j) : int(j) >= n ? 2 * n - 1 - int(j) : int(j);
    m = std::clamp(m, 0, n - 1);
    out.emplace_back(w, m);
  }
  return out;
}

uint8_t ModelChannel(double sum, double total) {
  double v;
  if (total != 0)
    v = std::trunc(sum / total);
  else
    v = double(uint32_t(int64_t(sum)) >> 8);
  return uint8_t(std::clamp(v, 0.0, 255.0));
}

Pixels Model(const Pixels& src, int dstW, int dstH, F filter, float radius) {
  Pixels out{dstW, dstH, std::vector<uint8_t>(size_t(dstW) * size_t(dstH) * 3)};
  if (src.Width == 0 || src.Height == 0 || dstW == 0 || dstH == 0) return out;
  Pixels work{dstW, src.Height, std::vector<uint8_t>(size_t(dstW) * size_t(src.Height) * 3)};
  const ModelAxis ax = Axis(src.Width, dstW, radius), ay = Axis(src.Height, dstH, radius);
  for (int x = 0; x < dstW; ++x) {
    const auto weights = ModelWeights(ax, x, src.Width, filter);
    for (int y = 0; y < src.Height; ++y)
      for (int c = 0; c < 3; ++c) {
        double sum = 0, total = 0;
        for (auto [w, p] : weights) sum += w * src.At(p, y, c), total += w;
        work.At(x, y, c) = ModelChannel(sum, total);
      }
  }
  for (int y = 0; y < dstH; ++y) {
    const auto weights = ModelWeights(ay, y, src.Height, filter);
    for (int x = 0; x < dstW; ++x)
      for (int c = 0; c < 3; ++c) {
        double sum = 0, total = 0;
        for (auto [w, p] : weights) sum += w * work.At(x, p, c), total += w;
        out.At(x, y, c) = ModelChannel(sum, total);
      }
  }
  return out;
}

Pixels Stretched(const Pixels& src, int w, int h, F filter, float radius) {
  TBitmap source, target;
  ToBitmap(src, source);
  Stretch(uint32_t(w), uint32_t(h), filter, radius, source, target);
  return FromBitmap(target);
}

// ---- the kernels against their formulas in double precision ----

double Reference(F f, double x) {
  const double a = std::fabs(x), pi = std::numbers::pi;
  auto sinc = [&](double v) { return v == 0 ? 1.0 : std::sin(pi * v) / (pi * v); };
  switch (f) {
    case F::sfBox:
      return x > -0.5 && x <= 0.5 ? 1 : 0;
    case F::sfTriangle:
      return a < 1 ? 1 - a : 0;
    case F::sfHermite:
      return a < 1 ? (2 * a - 3) * x * x + 1 : 0;
    case F::sfBell:
      return a < 0.5 ? 0.75 - x * x : a < 1.5 ? 0.5 * (a - 1.5) * (a - 1.5) : 0;
    case F::sfSpline:
      return a < 1 ? 0.5 * a * a * a - x * x + 2.0 / 3 : a < 2 ? (2 - a) * (2 - a) * (2 - a) / 6 : 0;
    case F::sfLanczos3:
      return a < 3 ? sinc(x) * sinc(x / 3) : 0;
    case F::sfMitchell:
      return a < 1   ? (7 * a * a * a - 12 * x * x + 16.0 / 3) / 6
             : a < 2 ? (-7.0 / 3 * a * a * a + 12 * x * x - 20 * a + 32.0 / 3) / 6
                     : 0;
  }
  return 0;
}

TEST(ResampleTest, KernelsFollowTheirFormulas) {
  for (F f : kFilters)
    for (int i = -400; i <= 400; ++i) {
      const float x = float(i) / 100.0f;
      SCOPED_TRACE(testing::Message() << int(f) << " x=" << x);
      EXPECT_NEAR(FilterKernel(f, x), Reference(f, x), 2e-6);
    }
  EXPECT_EQ(FilterKernel(F::sfBox, 0.5f), 1.0f);
  EXPECT_EQ(FilterKernel(F::sfBox, -0.5f), 0.0f);
  EXPECT_EQ(DefaultRadius(F::sfBell), 1.5f);
  EXPECT_EQ(DefaultRadius(F::sfLanczos3), 3.0f);
}

TEST(ResampleTest, WorkedExampleRowEnlargedToThree) {
  const TContributorList list = BuildContributors(2, 3, F::sfTriangle, 1.0f);
  ASSERT_EQ(list.size(), 3u);
  ASSERT_EQ(list[0].ContributorCount, 1);
  EXPECT_EQ(list[0].Contributors[0].Weight, 256);
  EXPECT_EQ(list[0].Contributors[0].Pixel, 0);
  ASSERT_EQ(list[1].ContributorCount, 2);
  EXPECT_EQ(list[1].Contributors[0].Weight, 128);
  EXPECT_EQ(list[1].Contributors[1].Weight, 128);
  EXPECT_EQ(list[1].Contributors[1].Pixel, 1);
  ASSERT_EQ(list[2].ContributorCount, 1);
  EXPECT_EQ(list[2].Contributors[0].Pixel, 1);

  Pixels row{2, 1, {0, 0, 0, 255, 255, 255}};
  const Pixels out = Stretched(row, 3, 1, F::sfTriangle, 1.0f);
  EXPECT_EQ(out.Bgr, (std::vector<uint8_t>{0, 0, 0, 127, 127, 127, 255, 255, 255}));
}

TEST(ResampleTest, ScaleFactorsAlignTheEnds) {
  EXPECT_EQ(AxisScale(1, 4), 4.0f);   // 1-pixel source: target / source
  EXPECT_EQ(AxisScale(4, 1), 0.25f);  // 1-pixel target: not (1 − 1) / (4 − 1) = 0
  EXPECT_EQ(AxisScale(5, 9), 2.0f);
  EXPECT_EQ(AxisScale(9, 5), 0.5f);
}

TEST(ResampleTest, SameSizeWithBoxOrTriangleIsExact) {
  std::mt19937 rng(7);
  const Pixels p = RandomPixels(13, 9, rng);
  for (F f : {F::sfBox, F::sfTriangle}) EXPECT_EQ(Stretched(p, 13, 9, f, 0).Bgr, p.Bgr);
}

TEST(ResampleTest, RadiusZeroSelectsTheDefault) {
  std::mt19937 rng(3);
  const Pixels p = RandomPixels(17, 11, rng);
  EXPECT_EQ(Stretched(p, 7, 23, F::sfLanczos3, 0).Bgr, Stretched(p, 7, 23, F::sfLanczos3, 3.0f).Bgr);
  EXPECT_NE(Stretched(p, 7, 23, F::sfLanczos3, 0).Bgr, Stretched(p, 7, 23, F::sfLanczos3, 1.5f).Bgr);
}

TEST(ResampleTest, NegativeLobesAreClamped) {
  // A hard edge enlarged with Lanczos3 rings below 0 and above 255: the raw quotients pass both ends.
  Pixels edge{8, 1, {}};
  for (int x = 0; x < 8; ++x) edge.Bgr.insert(edge.Bgr.end(), 3, uint8_t(x < 4 ? 0 : 255));
  const TContributorList list = BuildContributors(8, 29, F::sfLanczos3, 3.0f);
  bool below = false, above = false;
  for (const auto& e : list) {
    int32_t sum = 0, total = 0;
    for (int k = 0; k < e.ContributorCount; ++k)
      sum += e.Contributors[size_t(k)].Weight * (e.Contributors[size_t(k)].Pixel < 4 ? 0 : 255),
          total += e.Contributors[size_t(k)].Weight;
    below |= sum / total<0, above |= sum / total> 255;
  }
  ASSERT_TRUE(below && above);
  const Pixels out = Stretched(edge, 29, 1, F::sfLanczos3, 0);
  EXPECT_EQ(out.Bgr, Model(edge, 29, 1, F::sfLanczos3, 3.0f).Bgr);
  EXPECT_EQ(*std::min_element(out.Bgr.begin(), out.Bgr.end()), 0);
  EXPECT_EQ(*std::max_element(out.Bgr.begin(), out.Bgr.end()), 255);
}

TEST(ResampleTest, SmallRadiusKeepsEveryNonzeroCandidate) {
  // Width 0.3 reserves trunc(1.6) = 1 place, yet the center 0.5 has two nonzero neighbours.
  const TContributorList list = BuildContributors(2, 3, F::sfLanczos3, 0.3f);
  EXPECT_EQ(list[1].ContributorCount, 2);
}

TEST(ResampleTest, TinySourcesStayInRange) {
  // A 1-pixel source under a 3-pixel kernel: mirrored indices −2 and 3 are brought back to 0.
  const TContributorList list = BuildContributors(1, 4, F::sfLanczos3, 0);
  for (const auto& e : list)
    for (int k = 0; k < e.ContributorCount; ++k) EXPECT_EQ(e.Contributors[size_t(k)].Pixel, 0);
  Pixels one{1, 1, {10, 20, 30}};
  const Pixels out = Stretched(one, 4, 3, F::sfLanczos3, 0);
  EXPECT_EQ(out.Bgr, Model(one, 4, 3, F::sfLanczos3, 3.0f).Bgr);
}

TEST(ResampleTest, MatchesTheModelOnRandomBitmaps) {
  std::mt19937 rng(2026);
  std::uniform_int_distribution<int> size(1, 40);
  for (int round = 0; round < 40; ++round) {
    const Pixels src = RandomPixels(size(rng), size(rng), rng);
    const int w = size(rng), h = size(rng);
    for (F f : kFilters) {
      const float radius = round % 5 == 4 ? 0.75f * DefaultRadius(f) : 0.0f;
      SCOPED_TRACE(testing::Message() << src.Width << "x" << src.Height << " -> " << w << "x" << h << " filter "
                                      << int(f) << " radius " << radius);
      const Pixels expected = Model(src, w, h, f, radius == 0 ? DefaultRadius(f) : radius);
      ASSERT_EQ(Stretched(src, w, h, f, radius).Bgr, expected.Bgr);
      detail::SetPortableResampling(true);
      const Pixels portable = Stretched(src, w, h, f, radius);
      detail::SetPortableResampling(false);
      ASSERT_EQ(portable.Bgr, expected.Bgr);
    }
  }
}

TEST(ResampleTest, ZeroSizesAndTheTwoForms) {
  std::mt19937 rng(1);
  TBitmap source, target;
  ToBitmap(RandomPixels(5, 4, rng), source);
  target.SetPixelFormat(TPixelFormat::pf8bit);
  target.SetSize(3, 3);
  Stretch(0, 6, F::sfBell, 0, source, target);
  EXPECT_EQ(target.Width(), 0);
  EXPECT_EQ(target.PixelFormat(), TPixelFormat::pf24bit);

  // In place: new size, 24 bits, the same pixels as the two-bitmap form.
  TBitmap eight;
  eight.SetPixelFormat(TPixelFormat::pf8bit);
  eight.SetSize(6, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) eight.RowData(y)[x] = uint8_t(x * 40 + y);
  std::vector<TPaletteEntry> grey(256);
  for (int i = 0; i < 256; ++i) grey[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i), 0};
  eight.SetPalette(CreatePalette(grey));
  TBitmap copy;
  copy.Assign(eight);
  Stretch(9, 3, F::sfMitchell, 0, copy, target);
  Stretch(9, 3, F::sfMitchell, 0, eight);
  EXPECT_EQ(eight.Width(), 9);
  EXPECT_EQ(eight.Height(), 3);
  EXPECT_EQ(eight.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(FromBitmap(eight).Bgr, FromBitmap(target).Bgr);
  EXPECT_EQ(copy.PixelFormat(), TPixelFormat::pf24bit);  // the source is converted in place

  // The same bitmap as source and target resizes it in place instead of reading a released image.
  Stretch(4, 4, F::sfTriangle, 0, copy, copy);
  EXPECT_EQ(copy.Width(), 4);

  Stretch(0, 0, F::sfBox, 0, eight);
  EXPECT_EQ(eight.Width(), 0);
  EXPECT_THROW(Stretch(3, 3, F::sfBox, std::nanf(""), source, target), EInvalidGraphic);
  EXPECT_THROW(Stretch(3, 3, F::sfBox, 1e30f, source, target), EInvalidGraphic);
}

TEST(ResampleTest, ThreadsResampleTheirOwnBitmaps) {
  std::mt19937 rng(5);
  const Pixels a = RandomPixels(61, 47, rng), b = RandomPixels(33, 70, rng);
  const auto expectedA = Stretched(a, 40, 90, F::sfLanczos3, 0).Bgr,
             expectedB = Stretched(b, 90, 21, F::sfSpline, 0).Bgr;
  std::vector<uint8_t> gotA, gotB;
  std::thread ta([&] {
    for (int i = 0; i < 20; ++i) gotA = Stretched(a, 40, 90, F::sfLanczos3, 0).Bgr;
  });
  std::thread tb([&] {
    for (int i = 0; i < 20; ++i) gotB = Stretched(b, 90, 21, F::sfSpline, 0).Bgr;
  });
  ta.join();
  tb.join();
  EXPECT_EQ(gotA, expectedA);
  EXPECT_EQ(gotB, expectedB);
}

}  // namespace
}  // namespace muralo
