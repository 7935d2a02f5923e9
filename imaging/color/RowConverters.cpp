// Row converters that need no colour-space arithmetic: RGB and BGR in both orders, grey, and
// packed palette indices.

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "imaging/color/GraphicColor.h"
#include "imaging/color/RowLoop.h"

namespace muralo {

using namespace color_detail;

namespace {

// Per-sample transformations, chosen once per call as template arguments.
template <bool Gamma>
struct Op8To8 {
  const uint8_t* table;
  uint8_t Color(uint8_t v) const { return Gamma ? table[v] : v; }
  uint8_t Alpha(uint8_t v) const { return v; }
};

template <bool Gamma, bool Swap>
struct Op8To16 {
  const uint8_t* table;
  uint16_t Color(uint8_t v) const { return Finish(uint16_t((Gamma ? table[v] : v) * 257)); }
  uint16_t Alpha(uint8_t v) const { return Finish(uint16_t(v * 257)); }
  static uint16_t Finish(uint16_t v) { return Swap ? Swap16(v) : v; }
};

template <bool Gamma, bool Swap>
struct Op16To8 {
  const uint8_t* table;
  uint8_t Color(uint16_t v) const {
    const uint8_t c = Alpha(v);
    return Gamma ? table[c] : c;
  }
  uint8_t Alpha(uint16_t v) const { return uint8_t(MulDiv16(Swap ? Swap16(v) : v, 255, 65535)); }
};

template <bool Swap>
struct Op16To16 {
  const uint8_t* table;
  uint16_t Color(uint16_t v) const { return Swap ? Swap16(v) : v; }
  uint16_t Alpha(uint16_t v) const { return Color(v); }
};

struct RGBLayout {
  const uint8_t* plane[4];  // addresses of sample 0, 1, 2 and alpha of the first source pixel
  size_t step;              // source samples per pixel (1 when planar)
  unsigned stride;          // target samples per pixel
  bool copyAlpha;
};

template <typename S, typename D, bool Reverse, class Op>
void RGBRow(const RGBLayout& layout, uint8_t* target, uint32_t count, uint8_t mask, Op op) {
  // Local copies: byte stores into the target could otherwise alias the layout, forcing a reload
  // of every field after every sample.
  const uint8_t* const p0 = layout.plane[0];
  const uint8_t* const p1 = layout.plane[1];
  const uint8_t* const p2 = layout.plane[2];
  const uint8_t* const pa = layout.plane[3];
  const size_t step = layout.step;
  const size_t stride = layout.stride;
  const bool copyAlpha = layout.copyAlpha;
  ForEachSelected(count, mask, [=](uint32_t ti, uint32_t si) {
    const size_t s = si * step;
    const D c0 = op.Color(Load<S>(p0, s));
    const D c1 = op.Color(Load<S>(p1, s));
    const D c2 = op.Color(Load<S>(p2, s));
    const size_t t = size_t(ti) * stride;
    Store<D>(target, t + 0, Reverse ? c2 : c0);
    Store<D>(target, t + 1, c1);
    Store<D>(target, t + 2, Reverse ? c0 : c2);
    if (copyAlpha) Store<D>(target, t + 3, op.Alpha(Load<S>(pa, s)));
  });
}

// The common 8-bit interleaved cases with every pixel selected and no gamma: constant strides let
// the compiler vectorise the shuffle.
template <unsigned Step, unsigned Stride, bool Reverse, bool CopyAlpha>
void RGBRowFast8(const uint8_t* __restrict s, uint8_t* __restrict d, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t c0 = s[i * Step + 0], c1 = s[i * Step + 1], c2 = s[i * Step + 2];
    d[i * Stride + 0] = Reverse ? c2 : c0;
    d[i * Stride + 1] = c1;
    d[i * Stride + 2] = Reverse ? c0 : c2;
    if constexpr (CopyAlpha) d[i * Stride + 3] = s[i * Step + 3];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// SSSE3 byte shuffles for the exchange of the first and third samples. The 16-byte loads and
// stores stay inside both rows. 3-byte pixels are taken 16 at a time, three vectors in and three
// out: each byte of an output vector comes from the input vector that holds its partner, the
// others' bytes zeroed by the shuffle and the parts or-ed together. Both return the number of
// pixels done.
__attribute__((target("ssse3"))) uint32_t ExchangeRB3(const uint8_t* s, uint8_t* d, uint32_t count) {
  constexpr char X = -128;  // a zero byte
  const __m128i m00 = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, X);
  const __m128i m01 = _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, X, X, X, X, X, 1);
  const __m128i m10 = _mm_setr_epi8(X, 15, X, X, X, X, X, X, X, X, X, X, X, X, X, X);
  const __m128i m11 = _mm_setr_epi8(0, X, 4, 3, 2, 7, 6, 5, 10, 9, 8, 13, 12, 11, X, 15);
  const __m128i m12 = _mm_setr_epi8(X, X, X, X, X, X, X, X, X, X, X, X, X, X, 0, X);
  const __m128i m21 = _mm_setr_epi8(14, X, X, X, X, X, X, X, X, X, X, X, X, X, X, X);
  const __m128i m22 = _mm_setr_epi8(X, 3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13);
  uint32_t done = 0;
  for (; done + 16 <= count; done += 16, s += 48, d += 48) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
    const __m128i o1 = _mm_or_si128(_mm_shuffle_epi8(v0, m10), _mm_shuffle_epi8(v1, m11));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(_mm_shuffle_epi8(v0, m00), _mm_shuffle_epi8(v1, m01)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), _mm_or_si128(o1, _mm_shuffle_epi8(v2, m12)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32),
                     _mm_or_si128(_mm_shuffle_epi8(v1, m21), _mm_shuffle_epi8(v2, m22)));
  }
  return done;
}

__attribute__((target("ssse3"))) uint32_t ExchangeRB4(const uint8_t* s, uint8_t* d, uint32_t count) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  uint32_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 4 * size_t(i)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * size_t(i)), _mm_shuffle_epi8(v, order));
  }
  return i;
}

__attribute__((target("avx2"))) uint32_t ExchangeRB4Wide(const uint8_t* s, uint8_t* d, uint32_t count) {
  const __m256i order = _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15,  //
                                         2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
  uint32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + 4 * size_t(i)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + 4 * size_t(i)), _mm256_shuffle_epi8(v, order));
  }
  return i;
}

// Three 8-bit planes into interleaved 3-byte pixels, 16 pixels a step: each output vector takes
// its bytes from the three planes by one shuffle each (index 0x80 gives a zero byte). The planes
// a, b, c become the pixels' bytes 0, 1 and 2. Returns the number of pixels done.
__attribute__((target("ssse3"))) uint32_t Interleave3(const uint8_t* a, const uint8_t* b, const uint8_t* c, uint8_t* d,
                                                      uint32_t count) {
  alignas(16) static constexpr auto masks = [] {
    std::array<std::array<std::array<uint8_t, 16>, 3>, 3> m{};  // [output vector][plane][byte]
    for (unsigned v = 0; v < 3; ++v)
      for (unsigned plane = 0; plane < 3; ++plane)
        for (unsigned i = 0; i < 16; ++i) {
          const unsigned at = 16 * v + i;
          m[v][plane][i] = at % 3 == plane ? uint8_t(at / 3) : uint8_t(0x80);
        }
    return m;
  }();
  auto mask = [&](unsigned v, unsigned plane) {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(masks[v][plane].data()));
  };
  uint32_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m128i pa = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    const __m128i pb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    const __m128i pc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + i));
    for (unsigned v = 0; v < 3; ++v) {
      const __m128i out = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(pa, mask(v, 0)), _mm_shuffle_epi8(pb, mask(v, 1))),
                                       _mm_shuffle_epi8(pc, mask(v, 2)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * size_t(i) + 16 * v), out);
    }
  }
  return i;
}

bool HasAVX2() {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

bool HasSSSE3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
// 16-bit samples to 8 bits (value div 257, which is (value × 0xFF01) >> 24 for every 16-bit
// value), optionally byte-exchanged first; returns the number of samples done.
__attribute__((target("ssse3"))) size_t Narrow16(const uint8_t* s, uint8_t* d, size_t samples, bool swap) {
  const __m128i exchange = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m128i factor = _mm_set1_epi16(int16_t(0xFF01));
  size_t i = 0;
  for (; i + 16 <= samples; i += 16) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * i + 16));
    if (swap) {
      a = _mm_shuffle_epi8(a, exchange);
      b = _mm_shuffle_epi8(b, exchange);
    }
    a = _mm_srli_epi16(_mm_mulhi_epu16(a, factor), 8);
    b = _mm_srli_epi16(_mm_mulhi_epu16(b, factor), 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(a, b));
  }
  return i;
}
#endif

template <bool Reverse>
bool TryFast8(const RGBLayout& L, bool interleaved, const uint8_t* source, uint8_t* target, uint32_t count) {
#if defined(__x86_64__) || defined(__i386__)
  // Three colour planes into 3-byte pixels (planar true-colour files: PCX, SGI, RLA, PSD).
  if (!interleaved && L.stride == 3 && HasSSSE3()) {
    const uint8_t* first = L.plane[Reverse ? 2 : 0];
    const uint8_t* last = L.plane[Reverse ? 0 : 2];
    const uint32_t done = Interleave3(first, L.plane[1], last, target, count);
    for (uint32_t i = done; i < count; ++i) {
      target[3 * size_t(i)] = first[i];
      target[3 * size_t(i) + 1] = L.plane[1][i];
      target[3 * size_t(i) + 2] = last[i];
    }
    return true;
  }
#endif
  if (!interleaved) return false;
  const bool sameLayout = (L.step == 3 && L.stride == 3) || (L.step == 4 && L.stride == 4 && L.copyAlpha);
  if (!Reverse && sameLayout) {
    if (count != 0) std::memcpy(target, source, size_t(count) * L.step);
    return true;
  }
#if defined(__x86_64__) || defined(__i386__)
  if (Reverse && sameLayout && HasSSSE3()) {
    const uint32_t done = L.step == 3 ? ExchangeRB3(source, target, count)
                          : HasAVX2() ? ExchangeRB4Wide(source, target, count)
                                      : ExchangeRB4(source, target, count);
    source += size_t(done) * L.step;
    target += size_t(done) * L.step;
    count -= done;
  }
#endif
  if (L.step == 3 && L.stride == 3)
    RGBRowFast8<3, 3, Reverse, false>(source, target, count);
  else if (L.step == 4 && L.stride == 4 && L.copyAlpha)
    RGBRowFast8<4, 4, Reverse, true>(source, target, count);
  else if (L.step == 4 && L.stride == 3)
    RGBRowFast8<4, 3, Reverse, false>(source, target, count);
  else if (L.step == 3 && L.stride == 4)
    RGBRowFast8<3, 4, Reverse, false>(source, target, count);
  else
    return false;
  return true;
}

// Whole interleaved 16-bit rows into 8-bit rows of the same layout: the samples are narrowed in
// chunks into a small buffer (gamma on the colour samples), then shuffled or copied like 8-bit rows.
template <bool Reverse>
void NarrowRow16(const RGBLayout& L, const uint8_t* source, uint8_t* target, uint32_t count, bool swap,
                 const uint8_t* gammaTable) {
  constexpr uint32_t kChunk = 256;
  uint8_t buffer[kChunk * 4];
  const size_t step = L.step;
  while (count != 0) {
    const uint32_t n = count < kChunk ? count : kChunk;
    const size_t samples = size_t(n) * step;
    size_t done = 0;
#if defined(__x86_64__) || defined(__i386__)
    if (HasSSSE3()) done = Narrow16(source, buffer, samples, swap);
#endif
    for (; done < samples; ++done) {
      const uint16_t v = Load<uint16_t>(source, done);
      buffer[done] = uint8_t(MulDiv16(swap ? Swap16(v) : v, 255, 65535));
    }
    if (gammaTable)
      for (size_t i = 0; i < samples; ++i)
        if (step == 3 || i % 4 != 3) buffer[i] = gammaTable[buffer[i]];  // alpha is never gamma-corrected
    TryFast8<Reverse>(L, true, buffer, target, n);
    source += samples * 2;
    target += samples;
    count -= n;
  }
}

}  // namespace

template <bool Reverse>
void TColorManager::ConvertRGBFamily(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  const unsigned t = FTargetBitsPerSample;
  if ((s != 8 && s != 16) || (t != 8 && t != 16) || Source.empty()) return;
  const bool sourceAlpha = SourceOptions.Has(coAlpha);
  const bool targetAlpha = TargetOptions.Has(coAlpha);
  const bool planar = Source.size() > 1;
  if (planar && Source.size() < 3) return;  // a planar row needs its three colour planes

  RGBLayout L{};
  const size_t bytes = s / 8;
  if (planar) {
    for (size_t k = 0; k < 3; ++k) L.plane[k] = static_cast<const uint8_t*>(Source[k]);
    L.plane[3] = Source.size() > 3 ? static_cast<const uint8_t*>(Source[3]) : nullptr;
    L.step = 1;
  } else {
    const auto* base = static_cast<const uint8_t*>(Source[0]);
    for (size_t k = 0; k < 4; ++k) L.plane[k] = base + k * bytes;
    L.step = sourceAlpha ? 4 : 3;
  }
  L.stride = targetAlpha ? 4 : 3;
  // Alpha is copied only when both sides carry it (and, planar, when its plane was given).
  L.copyAlpha = sourceAlpha && targetAlpha && L.plane[3] != nullptr;

  auto* target = static_cast<uint8_t*>(Target);
  const bool gamma = TargetOptions.Has(coApplyGamma);
  const bool swap = SourceOptions.Has(coNeedByteSwap);
  const uint8_t* table = FGammaTable.data();

  if (s == 8 && t == 8) {
    if (gamma)
      RGBRow<uint8_t, uint8_t, Reverse>(L, target, Count, Mask, Op8To8<true>{table});
    else if (Mask != 0xFF || !TryFast8<Reverse>(L, !planar, L.plane[0], target, Count))
      RGBRow<uint8_t, uint8_t, Reverse>(L, target, Count, Mask, Op8To8<false>{table});
  } else if (s == 8) {
    if (gamma)
      swap ? RGBRow<uint8_t, uint16_t, Reverse>(L, target, Count, Mask, Op8To16<true, true>{table})
           : RGBRow<uint8_t, uint16_t, Reverse>(L, target, Count, Mask, Op8To16<true, false>{table});
    else
      swap ? RGBRow<uint8_t, uint16_t, Reverse>(L, target, Count, Mask, Op8To16<false, true>{table})
           : RGBRow<uint8_t, uint16_t, Reverse>(L, target, Count, Mask, Op8To16<false, false>{table});
  } else if (t == 8) {
    const bool sameLayout = (L.step == 3 && L.stride == 3) || (L.step == 4 && L.stride == 4 && L.copyAlpha);
    if (Mask == 0xFF && !planar && sameLayout)
      NarrowRow16<Reverse>(L, L.plane[0], target, Count, swap, gamma ? table : nullptr);
    else if (gamma)
      swap ? RGBRow<uint16_t, uint8_t, Reverse>(L, target, Count, Mask, Op16To8<true, true>{table})
           : RGBRow<uint16_t, uint8_t, Reverse>(L, target, Count, Mask, Op16To8<true, false>{table});
    else
      swap ? RGBRow<uint16_t, uint8_t, Reverse>(L, target, Count, Mask, Op16To8<false, true>{table})
           : RGBRow<uint16_t, uint8_t, Reverse>(L, target, Count, Mask, Op16To8<false, false>{table});
  } else {
    swap ? RGBRow<uint16_t, uint16_t, Reverse>(L, target, Count, Mask, Op16To16<true>{table})
         : RGBRow<uint16_t, uint16_t, Reverse>(L, target, Count, Mask, Op16To16<false>{table});
  }
}

void TColorManager::RowConvertRGB2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertRGBFamily<false>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertBGR2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertRGBFamily<false>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertRGB2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertRGBFamily<true>(Source, Target, Count, Mask);
}
void TColorManager::RowConvertBGR2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  ConvertRGBFamily<true>(Source, Target, Count, Mask);
}

void TColorManager::RowConvertGray(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  const unsigned t = FTargetBitsPerSample;
  if ((s != 8 && s != 16) || (t != 8 && t != 16) || Source.empty()) return;
  const auto* source = static_cast<const uint8_t*>(Source[0]);
  auto* target = static_cast<uint8_t*>(Target);
  const size_t step = SourceOptions.Has(coAlpha) ? 2 : 1;  // the alpha sample is skipped
  const bool swap = SourceOptions.Has(coNeedByteSwap);

  if (s == 8 && t == 8) {
    ForEachSelected(Count, Mask, [&](uint32_t ti, uint32_t si) { target[ti] = source[si * step]; });
  } else if (s == 8) {
    ForEachSelected(Count, Mask,
                    [&](uint32_t ti, uint32_t si) { Store<uint16_t>(target, ti, uint16_t(source[si * step] * 257)); });
  } else if (t == 8) {
    ForEachSelected(Count, Mask, [&](uint32_t ti, uint32_t si) {
      const uint16_t v = Load<uint16_t>(source, si * step);
      target[ti] = uint8_t(MulDiv16(swap ? Swap16(v) : v, 255, 65535));
    });
  } else {
    ForEachSelected(Count, Mask, [&](uint32_t ti, uint32_t si) {
      const uint16_t v = Load<uint16_t>(source, si * step);
      Store<uint16_t>(target, ti, swap ? Swap16(v) : v);
    });
  }
}

namespace {

uint16_t MaxOf(unsigned bits) { return uint16_t((uint32_t(1) << bits) - 1); }

// Unpacks 1-, 2-, 4- or 8-bit indices into bytes, every pixel selected: the hot path of palette
// images drawn into 8-bit bitmaps.
template <unsigned Bits>
void UnpackTo8(const uint8_t* __restrict source, uint8_t* __restrict target, uint32_t count, uint16_t factor) {
  constexpr unsigned perByte = 8 / Bits;
  constexpr unsigned fieldMask = (1u << Bits) - 1;
  const uint32_t whole = count / perByte;
  for (uint32_t b = 0; b < whole; ++b) {
    const unsigned byte = source[b];
    for (unsigned k = 0; k < perByte; ++k)
      target[b * perByte + k] = uint8_t(((byte >> (8 - Bits * (k + 1))) & fieldMask) * factor);
  }
  for (uint32_t i = whole * perByte; i < count; ++i) {
    const unsigned k = i % perByte;
    target[i] = uint8_t(((source[i / perByte] >> (8 - Bits * (k + 1))) & fieldMask) * factor);
  }
}

}  // namespace

void TColorManager::RowConvertIndexed8(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  const unsigned t = FTargetBitsPerSample;
  if (s >= 16 || t >= 16 || Source.empty()) return;
  const auto* source = static_cast<const uint8_t*>(Source[0]);
  auto* target = static_cast<uint8_t*>(Target);

  if (s == t && Mask == 0xFF) {
    // Whole bytes are copied; in a last, partial byte only the bits of the row's pixels change.
    const uint64_t bits = uint64_t(Count) * s;
    const size_t whole = size_t(bits / 8);
    if (whole != 0) std::memcpy(target, source, whole);
    if (const unsigned rest = unsigned(bits % 8)) {
      const uint8_t keep = uint8_t(0xFF >> rest);
      target[whole] = uint8_t((target[whole] & keep) | (source[whole] & ~keep));
    }
    return;
  }

  const uint16_t sourceMax = MaxOf(s);
  const uint16_t targetMax = MaxOf(t);
  if (t == 8 && Mask == 0xFF && (s == 1 || s == 2 || s == 4)) {
    // Widening to 8 bits multiplies by the exact factor 255 / SourceMax (255, 85 or 17).
    const uint16_t factor = uint16_t(255 / sourceMax);
    if (s == 1) UnpackTo8<1>(source, target, Count, factor);
    if (s == 2) UnpackTo8<2>(source, target, Count, factor);
    if (s == 4) UnpackTo8<4>(source, target, Count, factor);
    return;
  }
  // Fields of any width are read and written most significant bit first, running on across
  // byte boundaries for widths that do not divide 8.
  ForEachSelected(Count, Mask, [&](uint32_t ti, uint32_t si) {
    const uint16_t v = uint16_t(ReadBits(source, uint64_t(si) * s, s));
    WriteBits(target, uint64_t(ti) * t, t, MulDiv16(v, targetMax, sourceMax));
  });
}

void TColorManager::RowConvertIndexedBoth16(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  if (FSourceBitsPerSample != 16 || FTargetBitsPerSample != 16 || Source.empty()) return;
  const auto* source = static_cast<const uint8_t*>(Source[0]);
  auto* target = static_cast<uint8_t*>(Target);
  if (SourceOptions.Has(coNeedByteSwap)) {
    ForEachSelected(Count, Mask,
                    [&](uint32_t ti, uint32_t si) { Store<uint16_t>(target, ti, Swap16(Load<uint16_t>(source, si))); });
  } else if (Mask == 0xFF) {
    if (Count != 0) std::memcpy(target, source, size_t(Count) * 2);
  } else {
    ForEachSelected(Count, Mask,
                    [&](uint32_t ti, uint32_t si) { Store<uint16_t>(target, ti, Load<uint16_t>(source, si)); });
  }
}

void TColorManager::RowConvertIndexedSource16(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned t = FTargetBitsPerSample;
  if (FSourceBitsPerSample != 16 || t >= 16 || Source.empty()) return;
  const auto* source = static_cast<const uint8_t*>(Source[0]);
  auto* target = static_cast<uint8_t*>(Target);
  const bool swap = SourceOptions.Has(coNeedByteSwap);
  const uint16_t targetMax = MaxOf(t);
  ForEachSelected(Count, Mask, [&](uint32_t ti, uint32_t si) {
    const uint16_t v = Load<uint16_t>(source, si);
    WriteBits(target, uint64_t(ti) * t, t, MulDiv16(swap ? Swap16(v) : v, targetMax, 65535));
  });
}

void TColorManager::RowConvertIndexedTarget16(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  const unsigned s = FSourceBitsPerSample;
  if (s >= 16 || FTargetBitsPerSample != 16 || Source.empty()) return;
  const auto* source = static_cast<const uint8_t*>(Source[0]);
  auto* target = static_cast<uint8_t*>(Target);
  const bool swap = SourceOptions.Has(coNeedByteSwap);
  const uint16_t sourceMax = MaxOf(s);
  ForEachSelected(Count, Mask, [&](uint32_t ti, uint32_t si) {
    const uint16_t v = MulDiv16(uint16_t(ReadBits(source, uint64_t(si) * s, s)), 65535, sourceMax);
    Store<uint16_t>(target, ti, swap ? Swap16(v) : v);
  });
}

}  // namespace muralo
