// Row converters that change colour space on the way to an RGB or BGR target: CMYK, CIE L*a*b*,
// YCbCr and Kodak PhotoYCC, with the YCbCr lookup tables and their parameters.

#include <array>
#include <cmath>

#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/color/RowLoop.h"

namespace muralo {

using namespace color_detail;

namespace {

struct SpaceLayout {
  const uint8_t* plane[4];  // first sample of each component
  size_t step;              // source samples per pixel (1 when planar)
  unsigned stride;          // target samples per pixel (4 leaves a target alpha untouched)
};

// Sets up the read positions; false when the pointers cannot describe the row (a planar row
// with fewer planes than components).
template <typename S>
bool MakeLayout(const TPointerArray& source, unsigned components, bool planar, bool targetAlpha, SpaceLayout& L) {
  if (source.empty()) return false;
  if (planar) {
    if (source.size() < components) return false;
    for (unsigned k = 0; k < components; ++k) L.plane[k] = static_cast<const uint8_t*>(source[k]);
    L.step = 1;
  } else {
    const auto* base = static_cast<const uint8_t*>(source[0]);
    for (unsigned k = 0; k < components; ++k) L.plane[k] = base + k * sizeof(S);
    L.step = components;
  }
  L.stride = targetAlpha ? 4 : 3;
  return true;
}

// Runs fn(samples) -> {red, green, blue} for every selected pixel and writes the result in the
// target's order.
template <typename S, typename D, bool BGR, unsigned Components, class Fn>
void SpaceRow(const SpaceLayout& layout, uint8_t* target, uint32_t count, uint8_t mask, bool swap, Fn fn) {
  // Local copies, so that byte stores into the target cannot alias the read positions.
  std::array<const uint8_t*, Components> plane;
  for (unsigned k = 0; k < Components; ++k) plane[k] = layout.plane[k];
  const size_t step = layout.step;
  const size_t stride = layout.stride;
  ForEachSelected(count, mask, [=](uint32_t ti, uint32_t si) {
    std::array<S, Components> c;
    for (unsigned k = 0; k < Components; ++k) {
      c[k] = Load<S>(plane[k], si * step);
      if constexpr (sizeof(S) == 2) {
        if (swap) c[k] = Swap16(c[k]);
      }
    }
    const std::array<D, 3> rgb = fn(c);
    const size_t t = size_t(ti) * stride;
    Store<D>(target, t + 0, BGR ? rgb[2] : rgb[0]);
    Store<D>(target, t + 1, rgb[1]);
    Store<D>(target, t + 2, BGR ? rgb[0] : rgb[2]);
  });
}

bool Is8or16(unsigned bits) { return bits == 8 || bits == 16; }

// Rounds to the nearest integer, halves to even (the default floating-point rounding mode).
// Coefficients come from files: a product that is not a number counts as 0, and one beyond
// ±2^24 (where every pixel saturates already) is held there, so that the tables' sums stay in
// 32 bits.
template <typename F>
int32_t RoundEven(F value) {
  constexpr F kLimit = F(1 << 24);
  if (!(value == value)) return 0;
  if (value >= kLimit) return 1 << 24;
  if (value <= -kLimit) return -(1 << 24);
  return int32_t(std::nearbyint(value));
}

uint16_t Clamp16(long double value) {
  if (!(value > 0)) return 0;
  if (value >= 65535) return 65535;
  return uint16_t(std::nearbyint(value));
}

}  // namespace

// --- CMYK -------------------------------------------------------------------------------------

// Whole interleaved 8-bit CMYK rows: X·K div 255 is (p + 1 + (p >> 8)) >> 8 for every product p of
// two bytes, which keeps the loop free of divisions and lets the compiler vectorise it.
template <bool BGR, unsigned Stride>
void CMYKRowFast8(const uint8_t* __restrict s, uint8_t* __restrict d, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const unsigned k = s[4 * size_t(i) + 3];
    unsigned v[3];
    for (unsigned c = 0; c < 3; ++c) {
      const unsigned x = s[4 * size_t(i) + c];
      const unsigned p = x * k;
      // Never below 0: X + K - X·K div 255 is at most 255.
      v[c] = 255 - (x + k - ((p + 1 + (p >> 8)) >> 8));
    }
    d[Stride * size_t(i) + 0] = uint8_t(BGR ? v[2] : v[0]);
    d[Stride * size_t(i) + 1] = uint8_t(v[1]);
    d[Stride * size_t(i) + 2] = uint8_t(BGR ? v[0] : v[2]);
  }
}

template <bool BGR>
void TColorManager::ConvertCMYK(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  const unsigned t = FTargetBitsPerSample;
  if (!Is8or16(s) || !Is8or16(t)) return;
  SpaceLayout L{};
  // Planar only with exactly one pointer per ink; otherwise the first pointer is interleaved.
  const bool planar = Source.size() == 4;
  const bool targetAlpha = TargetOptions.Has(coAlpha);
  const bool swap = SourceOptions.Has(coNeedByteSwap);
  auto* target = static_cast<uint8_t*>(Target);

  if (s == 8) {
    if (!MakeLayout<uint8_t>(Source, 4, planar, targetAlpha, L)) return;
    if (t == 8 && Mask == 0xFF && !planar) {
      if (targetAlpha)
        CMYKRowFast8<BGR, 4>(L.plane[0], target, Count);
      else
        CMYKRowFast8<BGR, 3>(L.plane[0], target, Count);
      return;
    }
    // Subtractive mixing with black: the ink coverage is X + K - X·K/255.
    auto ink = [](uint8_t x, uint8_t k) {
      return ClampByte(255 - (int32_t(x) - int32_t(MulDiv16(x, k, 255)) + int32_t(k)));
    };
    if (t == 8)
      SpaceRow<uint8_t, uint8_t, BGR, 4>(L, target, Count, Mask, false, [&](const std::array<uint8_t, 4>& c) {
        return std::array<uint8_t, 3>{ink(c[0], c[3]), ink(c[1], c[3]), ink(c[2], c[3])};
      });
    else
      SpaceRow<uint8_t, uint16_t, BGR, 4>(L, target, Count, Mask, false, [&](const std::array<uint8_t, 4>& c) {
        return std::array<uint16_t, 3>{uint16_t(ink(c[0], c[3]) * 257), uint16_t(ink(c[1], c[3]) * 257),
                                       uint16_t(ink(c[2], c[3]) * 257)};
      });
  } else {
    if (!MakeLayout<uint16_t>(Source, 4, planar, targetAlpha, L)) return;
    auto cover = [](uint16_t x, uint16_t k) { return uint16_t(x - MulDiv16(x, k, 65535) + k); };
    if (t == 8)
      SpaceRow<uint16_t, uint8_t, BGR, 4>(L, target, Count, Mask, swap, [&](const std::array<uint16_t, 4>& c) {
        auto v = [&](uint16_t x) { return ClampByte(255 - int32_t(MulDiv16(cover(x, c[3]), 255, 65535))); };
        return std::array<uint8_t, 3>{v(c[0]), v(c[1]), v(c[2])};
      });
    else
      SpaceRow<uint16_t, uint16_t, BGR, 4>(L, target, Count, Mask, swap, [&](const std::array<uint16_t, 4>& c) {
        auto v = [&](uint16_t x) { return uint16_t(65535 - cover(x, c[3])); };
        return std::array<uint16_t, 3>{v(c[0]), v(c[1]), v(c[2])};
      });
  }
}

void TColorManager::RowConvertCMYK2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertCMYK<true>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertCMYK2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertCMYK<false>(Source, Target, Count, Mask);
}

// --- CIE L*a*b* -------------------------------------------------------------------------------

namespace {

// IEC 61966-2-1 (sRGB) transfer function: linear light to the encoded value, both 0..1.
long double EncodeSRGB(long double v) {
  if (v <= 0.0031308L) return 12.92L * v;
  return 1.055L * std::pow(v, 1 / 2.4L) - 0.055L;
}

// CIE 1976 L*a*b* (D65 white) to sRGB, in extended precision: the inverse of CIE 1976 (with its
// linear segment below L* = 8) gives X, Y, Z relative to the white, which the D65 white point
// (0.95047, 1, 1.08883) scales before the IEC 61966-2-1 matrix and transfer function; the result
// is scaled to 0..255, rounded half to even and clamped.
std::array<uint8_t, 3> LabToRGB(long double L, long double a, long double b) {
  long double X, Y, Z;
  const long double fy = (L + 16) / 116;
  if (L < 7.9996L) {
    Y = L / 903.3L;
    X = Y + a / 3893.5L;
    Z = Y - b / 1557.4L;
  } else {
    const long double fx = fy + a / 500;
    const long double fz = fy - b / 200;
    X = fx * fx * fx;
    Y = fy * fy * fy;
    Z = fz * fz * fz;
  }
  X *= 0.95047L;
  Z *= 1.08883L;
  const long double rgb[3] = {3.2406L * X - 1.5372L * Y - 0.4986L * Z, -0.9689L * X + 1.8758L * Y + 0.0415L * Z,
                              0.0557L * X - 0.2040L * Y + 1.0570L * Z};
  std::array<uint8_t, 3> out{};
  for (int i = 0; i < 3; ++i) {
    const long double v = std::nearbyint(EncodeSRGB(rgb[i]) * 255);
    out[i] = v < 0 ? uint8_t(0) : v > 255 ? uint8_t(255) : uint8_t(v);
  }
  return out;
}

}  // namespace

template <bool BGR>
void TColorManager::ConvertCIELab(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  const unsigned t = FTargetBitsPerSample;
  if (!Is8or16(s) || !Is8or16(t)) return;
  SpaceLayout L{};
  const bool planar = Source.size() > 1;
  const bool byteRange = SourceOptions.Has(coLabByteRange);
  const bool chromaOffset = SourceOptions.Has(coLabChromaOffset);
  auto* target = static_cast<uint8_t*>(Target);

  auto emit = [&](auto samples, auto toLab) {
    using S = typename decltype(samples)::value_type;
    const bool swap = sizeof(S) == 2 && SourceOptions.Has(coNeedByteSwap);
    if (t == 8)
      SpaceRow<S, uint8_t, BGR, 3>(L, target, Count, Mask, swap, [&](const std::array<S, 3>& c) {
        long double l, a, b;
        toLab(c, l, a, b);
        return LabToRGB(l, a, b);
      });
    else
      SpaceRow<S, uint16_t, BGR, 3>(L, target, Count, Mask, swap, [&](const std::array<S, 3>& c) {
        long double l, a, b;
        toLab(c, l, a, b);
        const auto v = LabToRGB(l, a, b);
        return std::array<uint16_t, 3>{uint16_t(v[0] * 257), uint16_t(v[1] * 257), uint16_t(v[2] * 257)};
      });
  };

  if (s == 8) {
    if (!MakeLayout<uint8_t>(Source, 3, planar, TargetOptions.Has(coAlpha), L)) return;
    emit(std::array<uint8_t, 1>{},
         [&](const std::array<uint8_t, 3>& c, long double& l, long double& a, long double& b) {
           l = byteRange ? c[0] / 2.55L : c[0];
           a = chromaOffset ? int(c[1]) - 128 : int(int8_t(c[1]));
           b = chromaOffset ? int(c[2]) - 128 : int(int8_t(c[2]));
         });
  } else {
    if (!MakeLayout<uint16_t>(Source, 3, planar, TargetOptions.Has(coAlpha), L)) return;
    // 16-bit samples (after the byte exchange) span the full word: L 0..65535 is 0..100 whether or
    // not the 8-bit byte range is asked for, and a, b are scaled by 1/256 into -128..128, signed
    // words or words with 32768 as zero (TIFF CIELab and ICCLab 16-bit encodings).
    emit(std::array<uint16_t, 1>{},
         [&](const std::array<uint16_t, 3>& c, long double& l, long double& a, long double& b) {
           l = c[0] * 100.0L / 65535;
           a = (chromaOffset ? int(c[1]) - 32768 : int(int16_t(c[1]))) / 256.0L;
           b = (chromaOffset ? int(c[2]) - 32768 : int(int16_t(c[2]))) / 256.0L;
         });
  }
}

void TColorManager::RowConvertCIELAB2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertCIELab<true>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertCIELAB2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertCIELab<false>(Source, Target, Count, Mask);
}

// --- YCbCr and PhotoYCC -----------------------------------------------------------------------

namespace {

struct YCbCrFactors {
  float F1, F2, F3, F4;
};

// ITU-R BT.601 style inversion: R = Y + F1·Cr, G = Y − F2·Cr − F4·Cb, B = Y + F3·Cb.
YCbCrFactors FactorsOf(const std::array<float, 3>& k) {
  YCbCrFactors f{};
  f.F1 = 2 - 2 * k[0];
  f.F2 = k[0] * f.F1 / k[1];
  f.F3 = 2 - 2 * k[2];
  f.F4 = k[2] * f.F3 / k[1];
  return f;
}

}  // namespace

void TColorManager::CreateYCbCrLookup() {
  const YCbCrFactors f = FactorsOf(FYCbCrCoefficients);
  FCrToRedTable.assign(256, 0);
  FCbToBlueTable.assign(256, 0);
  FCrToGreenTable.assign(256, 0);
  FCbToGreenTable.assign(256, 0);
  // PhotoYCC chroma is centred on 137 (C2, red) and 156 (C1, blue).
  const int redOffset = FSourceColorScheme == csYCbCr ? 128 : 137;
  const int blueOffset = FSourceColorScheme == csYCbCr ? 128 : 156;
  for (int i = 0; i < 256; ++i) {
    // The factors are single precision, their products with the chroma are not: a product held
    // as a float can round up to a half (-125 x 1.772f is -221.49999..., as a float -221.5) and
    // then to the wrong integer. In double every such product is exact.
    const double r = i - redOffset;
    const double c = i - blueOffset;
    const double redProduct = r * f.F1, blueProduct = c * f.F3;
    const double redGreenProduct = r * f.F2, blueGreenProduct = c * f.F4;
    FCrToRedTable[i] = RoundEven(redProduct);
    FCbToBlueTable[i] = RoundEven(blueProduct);
    FCrToGreenTable[i] = -RoundEven(redGreenProduct);
    FCbToGreenTable[i] = -RoundEven(blueGreenProduct);
  }
}

void TColorManager::SetYCbCrParameters(const float* Values, size_t ValueCount, uint8_t HorzSubSampling,
                                       uint8_t VertSubSampling) {
  // The weights stand even when the factors below are refused.
  for (size_t i = 0; i < ValueCount && i < 3; ++i) FYCbCrCoefficients[i] = Values[i];
  auto valid = [](uint8_t v) { return v == 1 || v == 2 || v == 4; };
  if (!valid(HorzSubSampling)) Error(gesInvalidSubSampling);
  if (!valid(VertSubSampling)) Error(gesInvalidSubSampling);
  if (HorzSubSampling < VertSubSampling) Error(gesVerticalSubSamplingError);
  FHorzSubSampling = HorzSubSampling;
  FVertSubSampling = VertSubSampling;
}

template <bool BGR>
void TColorManager::ConvertYCbCr(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  const unsigned t = FTargetBitsPerSample;
  if (!Is8or16(s) || !Is8or16(t)) return;
  if (FCrToRedTable.size() != 256) CreateYCbCrLookup();  // called directly, before any preparation
  SpaceLayout L{};
  const bool planar = Source.size() > 1;
  const bool swap = SourceOptions.Has(coNeedByteSwap);
  auto* target = static_cast<uint8_t*>(Target);
  const int32_t* crToRed = FCrToRedTable.data();
  const int32_t* cbToBlue = FCbToBlueTable.data();
  const int32_t* crToGreen = FCrToGreenTable.data();
  const int32_t* cbToGreen = FCbToGreenTable.data();

  // Four table look-ups and three additions per pixel; Y is taken as it is.
  auto rgb8 = [=](int32_t y, uint8_t cb, uint8_t cr) {
    return std::array<uint8_t, 3>{ClampByte(y + crToRed[cr]), ClampByte(y + cbToGreen[cb] + crToGreen[cr]),
                                  ClampByte(y + cbToBlue[cb])};
  };
  auto widen = [](const std::array<uint8_t, 3>& v) {
    return std::array<uint16_t, 3>{uint16_t(v[0] * 257), uint16_t(v[1] * 257), uint16_t(v[2] * 257)};
  };

  if (s == 8) {
    if (!MakeLayout<uint8_t>(Source, 3, planar, TargetOptions.Has(coAlpha), L)) return;
    if (t == 8)
      SpaceRow<uint8_t, uint8_t, BGR, 3>(L, target, Count, Mask, false,
                                         [&](const std::array<uint8_t, 3>& c) { return rgb8(c[0], c[1], c[2]); });
    else
      SpaceRow<uint8_t, uint16_t, BGR, 3>(L, target, Count, Mask, false, [&](const std::array<uint8_t, 3>& c) {
        return widen(rgb8(c[0], c[1], c[2]));
      });
    return;
  }
  if (!MakeLayout<uint16_t>(Source, 3, planar, TargetOptions.Has(coAlpha), L)) return;
  if (t == 8) {
    SpaceRow<uint16_t, uint8_t, BGR, 3>(L, target, Count, Mask, swap, [&](const std::array<uint16_t, 3>& c) {
      return rgb8(MulDiv16(c[0], 255, 65535), uint8_t(MulDiv16(c[1], 255, 65535)), uint8_t(MulDiv16(c[2], 255, 65535)));
    });
  } else if (FSourceColorScheme == csPhotoYCC) {
    // Kodak PhotoYCC at 16 bits: luma gain 1.3584, chroma centred on 156 × 257 and 137 × 257.
    // Y' is the product with the decimal gain, then held as a float (1.3584f itself is off by
    // 2e-8, which moves Y' by one float step for about one word in nine); the sums are formed in
    // extended precision, where results on a rounding half come out as the formula gives them.
    SpaceRow<uint16_t, uint16_t, BGR, 3>(L, target, Count, Mask, swap, [&](const std::array<uint16_t, 3>& c) {
      const float y = float(1.3584L * c[0]);
      const float c1 = float(int32_t(c[1]) - 40092);
      const float c2 = float(int32_t(c[2]) - 35209);
      return std::array<uint16_t, 3>{Clamp16((long double)y + 1.8215L * c2),
                                     Clamp16((long double)y - 0.9271435L * c2 - 0.4302726L * c1),
                                     Clamp16((long double)y + 2.2179L * c1)};
    });
  } else {
    // YCbCr at 16 bits: the same inversion as the tables, chroma centred on 2^15.
    const YCbCrFactors f = FactorsOf(FYCbCrCoefficients);
    SpaceRow<uint16_t, uint16_t, BGR, 3>(L, target, Count, Mask, swap, [&](const std::array<uint16_t, 3>& c) {
      const double y = c[0];
      const double cb = double(c[1]) - 32768;
      const double cr = double(c[2]) - 32768;
      return std::array<uint16_t, 3>{Clamp16(y + double(f.F1) * cr), Clamp16(y - double(f.F2) * cr - double(f.F4) * cb),
                                     Clamp16(y + double(f.F3) * cb)};
    });
  }
}

void TColorManager::RowConvertYCbCr2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertYCbCr<true>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertYCbCr2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertYCbCr<false>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertPhotoYCC2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertYCbCr<true>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertPhotoYCC2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertYCbCr<false>(Source, Target, Count, Mask);
}

}  // namespace muralo
