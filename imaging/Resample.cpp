// Resampling of 24-bit bitmaps (unit GraphicFramework): kernels, contributor lists and the two
// passes. The kernels and the filter support follow the classic separable "zoom" resampler of
// Graphics Gems III (Schumacher, "General Filtered Image Rescaling"); Mitchell uses B = C = 1/3
// (Mitchell and Netravali, "Reconstruction Filters in Computer Graphics", 1988).
//
// The sums are exact integers, so the order in which they are taken does not change a byte: the
// vector paths below sum row-wise (the vertical pass walks target rows instead of columns, which
// keeps every read contiguous) and give the same bytes as the portable paths.

#include "imaging/Resample.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "imaging/color/GraphicColor.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define MURALO_RESAMPLE_SSE2 1
#endif

namespace muralo {

namespace {

constexpr const char* SInvalidRadius = "Rayon de rééchantillonnage invalide";

thread_local bool tPortable = false;

// The working storage of one thread: the red, green and blue values of one source line or one
// work column (portable paths), and the same line as 16-bit B, G, R, 0 quadruples (vector path).
struct TLineBuffers {
  std::vector<int32_t> Red, Green, Blue;
  std::vector<int16_t> Line;
};
thread_local TLineBuffers tLines;

// sinc(x) = sin(π x) / (π x), with π x held in single precision.
float Sinc(float x) {
  if (x == 0.0f) return 1.0f;
  const float px = static_cast<float>(std::numbers::pi * double(x));
  return static_cast<float>(std::sin(double(px)) / double(px));
}

// Source index after edge mirroring: −j left of the edge (the edge pixel is not repeated), 2n − 1 − j
// right of it (the edge pixel is repeated). A source narrower than the kernel's reach can leave the
// index outside after one mirroring; it is then clamped to the nearest edge so that nothing is
// read outside the source.
int32_t Mirror(int64_t j, int64_t n) {
  if (j < 0)
    j = -j;
  else if (j >= n)
    j = 2 * n - 1 - j;
  return static_cast<int32_t>(std::clamp<int64_t>(j, 0, n - 1));
}

// Step 9 of the pixel computation for one channel: the sum of weight × value taken modulo 2^32
// (signed 32-bit arithmetic), then divided by the weights' total (truncating toward zero), or,
// when the total is 0, shifted right by 8 bits as an unsigned number.
uint8_t ChannelValue(uint32_t sum, int32_t total) {
  if (total != 0) {
    const int64_t q = int64_t(int32_t(sum)) / int64_t(total);
    return ClampByte(static_cast<int32_t>(std::clamp<int64_t>(q, -1, 256)));
  }
  return ClampByte(static_cast<int32_t>(sum >> 8));
}

int32_t EntryTotal(const TContributorEntry& e) {
  uint32_t total = 0;
  for (int32_t k = 0; k < e.ContributorCount; ++k) total += uint32_t(e.Contributors[size_t(k)].Weight);
  return int32_t(total);
}

// One pixel from an entry, reading channel c of source index p through value(p, c) (c: 0 blue,
// 1 green, 2 red).
template <class Value>
void PixelFromEntry(const TContributorEntry& e, int32_t total, Value value, uint8_t* bgr) {
  uint32_t sums[3] = {0, 0, 0};
  for (int32_t k = 0; k < e.ContributorCount; ++k) {
    const TContributor& c = e.Contributors[size_t(k)];
    for (int ch = 0; ch < 3; ++ch) sums[ch] += uint32_t(c.Weight) * uint32_t(value(c.Pixel, ch));
  }
  for (int ch = 0; ch < 3; ++ch) bgr[ch] = ChannelValue(sums[ch], total);
}

// ---- portable passes, as the algorithm is usually written: three channel arrays per line ----

void SplitLine(const uint8_t* pixels, size_t count, size_t stride) {
  tLines.Blue.resize(count);
  tLines.Green.resize(count);
  tLines.Red.resize(count);
  for (size_t i = 0; i < count; ++i, pixels += stride) {
    tLines.Blue[i] = pixels[0];
    tLines.Green[i] = pixels[1];
    tLines.Red[i] = pixels[2];
  }
}

int32_t SplitValue(int32_t p, int ch) {
  const auto& a = ch == 0 ? tLines.Blue : ch == 1 ? tLines.Green : tLines.Red;
  return a[size_t(p)];
}

void HorizontalPortable(const TBitmap& source, TBitmap& work, const TContributorList& list,
                        const std::vector<int32_t>& totals) {
  for (int y = 0; y < source.Height(); ++y) {
    SplitLine(source.RowData(y), size_t(source.Width()), 3);
    uint8_t* out = work.RowData(y);
    for (size_t x = 0; x < list.size(); ++x) PixelFromEntry(list[x], totals[x], SplitValue, out + 3 * x);
  }
}

void VerticalPortable(const TBitmap& work, TBitmap& target, const TContributorList& list,
                      const std::vector<int32_t>& totals) {
  const size_t height = size_t(work.Height());
  // Rows of a single-row bitmap are as far apart as the layout's padded row.
  const size_t stride = height > 1 ? size_t(work.RowData(1) - work.RowData(0)) : work.RowBytes();
  std::vector<uint8_t> column(height * 3);
  for (int x = 0; x < work.Width(); ++x) {
    const uint8_t* top = work.RowData(0) + 3 * size_t(x);
    SplitLine(top, height, stride);
    for (size_t y = 0; y < list.size(); ++y)
      PixelFromEntry(list[y], totals[y], SplitValue, target.RowData(int(y)) + 3 * size_t(x));
  }
}

#if MURALO_RESAMPLE_SSE2

// One entry's contributors taken two at a time: the pair's two weights packed into one 32-bit
// lane (the first in the low half), ready for the 16-bit multiply-add. An odd last contributor is
// paired with itself under weight 0. Every weight fits in 16 bits: the kernels stay within
// −1..1 and the shrinking weights are scaled by a factor below 1, so |weight| ≤ 256.
struct TPackedPair {
  int32_t PixelA, PixelB;
  int32_t Weights;
};

struct TPackedList {
  std::vector<TPackedPair> Pairs;
  std::vector<uint32_t> First;  // index of each entry's first pair; one more than entries
  // Multiplying by this biased reciprocal and truncating gives the exact quotient sum div total:
  // |sum| < 2^31, so the bias 2^-50 moves no quotient past the next integer, and it lifts exact
  // quotients over the rounding of the reciprocal.
  std::vector<double> Reciprocal;
};

TPackedList Pack(const TContributorList& list, const std::vector<int32_t>& totals) {
  TPackedList packed;
  packed.First.reserve(list.size() + 1);
  packed.Reciprocal.reserve(list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    const TContributorEntry& e = list[i];
    packed.First.push_back(uint32_t(packed.Pairs.size()));
    for (int32_t k = 0; k < e.ContributorCount; k += 2) {
      const TContributor& a = e.Contributors[size_t(k)];
      const bool single = k + 1 == e.ContributorCount;
      const TContributor& b = single ? a : e.Contributors[size_t(k) + 1];
      const uint32_t wb = single ? 0u : uint32_t(uint16_t(int16_t(b.Weight)));
      packed.Pairs.push_back({a.Pixel, b.Pixel, int32_t(uint32_t(uint16_t(int16_t(a.Weight))) | (wb << 16))});
    }
    packed.Reciprocal.push_back(totals[i] != 0 ? (1.0 / double(totals[i])) * (1.0 + std::ldexp(1.0, -50)) : 0.0);
  }
  packed.First.push_back(uint32_t(packed.Pairs.size()));
  return packed;
}

// Four 32-bit sums → four exact quotients, as 32-bit integers.
inline __m128i Quotients(__m128i sums, __m128d reciprocal) {
  const __m128d lo = _mm_mul_pd(_mm_cvtepi32_pd(sums), reciprocal);
  const __m128d hi = _mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(sums, _MM_SHUFFLE(1, 0, 3, 2))), reciprocal);
  return _mm_unpacklo_epi64(_mm_cvttpd_epi32(lo), _mm_cvttpd_epi32(hi));
}

void HorizontalVector(const TBitmap& source, TBitmap& work, const TContributorList& list,
                      const std::vector<int32_t>& totals) {
  const TPackedList packed = Pack(list, totals);
  const size_t width = size_t(source.Width());
  std::vector<int16_t>& line = tLines.Line;
  line.assign(width * 4, 0);
  for (int y = 0; y < source.Height(); ++y) {
    const uint8_t* in = source.RowData(y);
    for (size_t i = 0; i < width; ++i) {
      line[4 * i] = in[3 * i];
      line[4 * i + 1] = in[3 * i + 1];
      line[4 * i + 2] = in[3 * i + 2];
    }
    uint8_t* out = work.RowData(y);
    for (size_t x = 0; x < list.size(); ++x, out += 3) {
      if (totals[x] == 0) {
        PixelFromEntry(
            list[x], 0, [&](int32_t p, int ch) { return int32_t(line[4 * size_t(p) + size_t(ch)]); }, out);
        continue;
      }
      __m128i acc = _mm_setzero_si128();
      for (uint32_t k = packed.First[x]; k < packed.First[x + 1]; ++k) {
        const TPackedPair& p = packed.Pairs[k];
        const __m128i a = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&line[4 * size_t(p.PixelA)]));
        const __m128i b = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&line[4 * size_t(p.PixelB)]));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), _mm_set1_epi32(p.Weights)));
      }
      const __m128i q = Quotients(acc, _mm_set1_pd(packed.Reciprocal[x]));
      const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q, q), _mm_setzero_si128());
      const uint32_t bgr0 = uint32_t(_mm_cvtsi128_si32(bytes));
      out[0] = uint8_t(bgr0);
      out[1] = uint8_t(bgr0 >> 8);
      out[2] = uint8_t(bgr0 >> 16);
    }
  }
}

void VerticalVector(const TBitmap& work, TBitmap& target, const TContributorList& list,
                    const std::vector<int32_t>& totals) {
  const TPackedList packed = Pack(list, totals);
  const size_t bytes = size_t(work.Width()) * 3;
  const size_t vectorBytes = bytes & ~size_t(15);
  const __m128i zero = _mm_setzero_si128();
  for (size_t y = 0; y < list.size(); ++y) {
    uint8_t* out = target.RowData(int(y));
    const uint32_t first = packed.First[y], last = packed.First[y + 1];
    if (totals[y] == 0) {
      for (size_t x = 0; x < bytes; x += 3)
        PixelFromEntry(
            list[y], 0, [&](int32_t p, int ch) { return int32_t(work.RowData(p)[x + size_t(ch)]); }, out + x);
      continue;
    }
    const __m128d reciprocal = _mm_set1_pd(packed.Reciprocal[y]);
    for (size_t i = 0; i < vectorBytes; i += 16) {
      __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
      for (uint32_t k = first; k < last; ++k) {
        const TPackedPair& p = packed.Pairs[k];
        const __m128i w = _mm_set1_epi32(p.Weights);
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work.RowData(p.PixelA) + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(work.RowData(p.PixelB) + i));
        const __m128i aLo = _mm_unpacklo_epi8(a, zero), aHi = _mm_unpackhi_epi8(a, zero);
        const __m128i bLo = _mm_unpacklo_epi8(b, zero), bHi = _mm_unpackhi_epi8(b, zero);
        s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi16(aLo, bLo), w));
        s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi16(aLo, bLo), w));
        s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi16(aHi, bHi), w));
        s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi16(aHi, bHi), w));
      }
      const __m128i lo = _mm_packs_epi32(Quotients(s0, reciprocal), Quotients(s1, reciprocal));
      const __m128i hi = _mm_packs_epi32(Quotients(s2, reciprocal), Quotients(s3, reciprocal));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(lo, hi));
    }
    for (size_t i = vectorBytes; i < bytes; ++i) {
      uint32_t sum = 0;
      for (int32_t k = 0; k < list[y].ContributorCount; ++k) {
        const TContributor& c = list[y].Contributors[size_t(k)];
        sum += uint32_t(c.Weight) * uint32_t(work.RowData(c.Pixel)[i]);
      }
      out[i] = ChannelValue(sum, totals[y]);
    }
  }
}

#endif  // MURALO_RESAMPLE_SSE2

std::vector<int32_t> Totals(const TContributorList& list) {
  std::vector<int32_t> totals(list.size());
  for (size_t i = 0; i < list.size(); ++i) totals[i] = EntryTotal(list[i]);
  return totals;
}

void Resample(TBitmap& source, TBitmap& target, TResamplingFilter filter, float radius) {
  const uint32_t srcW = uint32_t(source.Width()), srcH = uint32_t(source.Height());
  const uint32_t dstW = uint32_t(target.Width()), dstH = uint32_t(target.Height());
  if (srcW == 0 || srcH == 0 || dstW == 0 || dstH == 0) return;

  TBitmap work;
  work.SetPixelFormat(TPixelFormat::pf24bit);
  work.SetSize(int(dstW), int(srcH));

  const bool portable = tPortable;
  {
    const TContributorList list = BuildContributors(srcW, dstW, filter, radius);
    const std::vector<int32_t> totals = Totals(list);
#if MURALO_RESAMPLE_SSE2
    if (!portable)
      HorizontalVector(source, work, list, totals);
    else
#endif
      HorizontalPortable(source, work, list, totals);
  }
  const TContributorList list = BuildContributors(srcH, dstH, filter, radius);
  const std::vector<int32_t> totals = Totals(list);
#if MURALO_RESAMPLE_SSE2
  if (!portable)
    VerticalVector(work, target, list, totals);
  else
#endif
    VerticalPortable(work, target, list, totals);
  (void)portable;
}

}  // namespace

float DefaultRadius(TResamplingFilter filter) {
  switch (filter) {
    case TResamplingFilter::sfBox:
      return 0.5f;
    case TResamplingFilter::sfTriangle:
      return 1.0f;
    case TResamplingFilter::sfHermite:
      return 1.0f;
    case TResamplingFilter::sfBell:
      return 1.5f;
    case TResamplingFilter::sfSpline:
      return 2.0f;
    case TResamplingFilter::sfLanczos3:
      return 3.0f;
    case TResamplingFilter::sfMitchell:
      return 2.0f;
  }
  return 1.0f;
}

float FilterKernel(TResamplingFilter filter, float x) {
  const double ax = std::fabs(double(x));
  switch (filter) {
    case TResamplingFilter::sfBox:
      // Half-open support: the sample at +0.5 belongs to the box, the one at −0.5 does not.
      return x > -0.5f && x <= 0.5f ? 1.0f : 0.0f;
    case TResamplingFilter::sfTriangle:
      return ax < 1.0 ? static_cast<float>(1.0 - ax) : 0.0f;
    case TResamplingFilter::sfHermite:
      return ax < 1.0 ? static_cast<float>((2.0 * ax - 3.0) * double(x) * double(x) + 1.0) : 0.0f;
    case TResamplingFilter::sfBell:
      if (ax < 0.5) return static_cast<float>(0.75 - double(x) * double(x));
      if (ax < 1.5) return static_cast<float>(0.5 * (ax - 1.5) * (ax - 1.5));
      return 0.0f;
    case TResamplingFilter::sfSpline: {
      if (ax < 1.0) {
        const double x2 = static_cast<float>(double(x) * double(x));
        return static_cast<float>(0.5 * x2 * ax - x2 + 2.0 / 3.0);
      }
      if (ax < 2.0) {
        const double t = 2.0 - ax;
        return static_cast<float>(t * t * t / 6.0);
      }
      return 0.0f;
    }
    case TResamplingFilter::sfLanczos3:
      if (ax < 3.0) {
        const float a = Sinc(x), b = Sinc(static_cast<float>(double(x) / 3.0));
        return static_cast<float>(double(a) * double(b));
      }
      return 0.0f;
    case TResamplingFilter::sfMitchell: {
      const double x2 = static_cast<float>(double(x) * double(x));
      if (ax < 1.0) return static_cast<float>((7.0 * ax * x2 - 12.0 * x2 + 16.0 / 3.0) / 6.0);
      if (ax < 2.0) return static_cast<float>((-7.0 / 3.0 * ax * x2 + 12.0 * x2 - 20.0 * ax + 32.0 / 3.0) / 6.0);
      return 0.0f;
    }
  }
  return 0.0f;
}

float AxisScale(uint32_t sourceSize, uint32_t targetSize) {
  if (sourceSize == 1 || targetSize == 1) return static_cast<float>(double(targetSize) / double(sourceSize));
  return static_cast<float>(double(targetSize - 1) / double(sourceSize - 1));
}

TContributorList BuildContributors(uint32_t sourceSize, uint32_t targetSize, TResamplingFilter filter, float radius) {
  if (!std::isfinite(radius)) throw EInvalidGraphic(SInvalidRadius);
  TContributorList list;
  if (sourceSize == 0 || targetSize == 0) return list;
  const float scale = AxisScale(sourceSize, targetSize);
  const bool shrinking = scale < 1.0f;
  const float width = shrinking ? static_cast<float>(double(radius) / double(scale)) : radius;
  // Every entry holds at most 2 × width + 3 candidates: refuse lists past the memory limit
  // before anything is built (and before a candidate index could leave the 32-bit range).
  const double candidates = std::max(0.0, 2.0 * double(width) + 3.0);
  if (candidates > double(std::numeric_limits<int32_t>::max()) / 2) throw EInvalidGraphic(SInvalidRadius);
  CheckAllocation(uint64_t(candidates) * targetSize * sizeof(TContributor));

  list.resize(targetSize);
  for (uint32_t i = 0; i < targetSize; ++i) {
    const float center = static_cast<float>(double(i) / double(scale));
    const int64_t left = static_cast<int64_t>(std::floor(double(center) - double(width)));
    const int64_t right = static_cast<int64_t>(std::ceil(double(center) + double(width)));
    TContributorEntry& entry = list[i];
    // Sized for every candidate between the two bounds: a radius below the kernel's own reach can
    // give more nonzero weights than 2 × width + 1.
    entry.Contributors.resize(size_t(std::max<int64_t>(right - left + 1, 0)));
    for (int64_t j = left; j <= right; ++j) {
      double weight;
      if (shrinking)
        weight = double(FilterKernel(filter, static_cast<float>((double(center) - double(j)) * double(scale)))) *
                 double(scale) * 256.0;
      else
        weight = double(FilterKernel(filter, static_cast<float>(double(center) - double(j)))) * 256.0;
      const int32_t w = static_cast<int32_t>(std::nearbyint(weight));  // halves to even
      if (w == 0) continue;
      entry.Contributors[size_t(entry.ContributorCount++)] = {w, Mirror(j, sourceSize)};
    }
  }
  return list;
}

void Stretch(uint32_t NewWidth, uint32_t NewHeight, TResamplingFilter Filter, float Radius, TBitmap& Source,
             TBitmap& Target) {
  if (&Source == &Target) {
    Stretch(NewWidth, NewHeight, Filter, Radius, Source);
    return;
  }
  CheckImageSize(NewWidth, NewHeight, 24);
  Target.ReleaseImage();
  Target.SetPixelFormat(TPixelFormat::pf24bit);
  Target.SetSize(int(NewWidth), int(NewHeight));
  Source.SetPixelFormat(TPixelFormat::pf24bit);
  Resample(Source, Target, Filter, Radius == 0.0f ? DefaultRadius(Filter) : Radius);
  Target.Modified();
}

void Stretch(uint32_t NewWidth, uint32_t NewHeight, TResamplingFilter Filter, float Radius, TBitmap& Source) {
  CheckImageSize(NewWidth, NewHeight, 24);
  TBitmap temporary;
  temporary.SetPixelFormat(TPixelFormat::pf24bit);
  temporary.SetSize(int(NewWidth), int(NewHeight));
  Source.SetPixelFormat(TPixelFormat::pf24bit);
  Resample(Source, temporary, Filter, Radius == 0.0f ? DefaultRadius(Filter) : Radius);
  Source.Assign(temporary);
}

namespace detail {
void SetPortableResampling(bool portable) { tPortable = portable; }
}  // namespace detail

}  // namespace muralo
