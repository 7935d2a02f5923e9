// PNG 9.2: the five row filter types undone, portably and with SSE2 / SSSE3 for the pixel sizes
// of true-colour images (3 and 4 bytes), where the byte-serial dependency makes the portable loop
// slow.
#include <cstdlib>
#include <cstring>

#include "imaging/formats/PNGGraphic.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define MURALO_PNG_SIMD 1
#endif

namespace muralo {

namespace {

// PNG 9.4: the Paeth predictor, ties resolved in the order a, b, c.
inline uint8_t Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return pb <= pc ? uint8_t(b) : uint8_t(c);
}

#ifdef MURALO_PNG_SIMD
// Pixels of 3 or 4 bytes held in the low bytes of an SSE register.
// A 3-byte pixel is put together in a register: copying 3 bytes into a 4-byte variable goes
// through memory, and the 4-byte load after two narrower stores stalls on every pixel.
template <uint32_t Bpp>
inline __m128i LoadPixel(const uint8_t* p) {
  int32_t v;
  if constexpr (Bpp == 3) {
    uint16_t low;
    std::memcpy(&low, p, 2);
    v = int32_t(uint32_t(low) | uint32_t(p[2]) << 16);
  } else {
    std::memcpy(&v, p, 4);
  }
  return _mm_cvtsi32_si128(v);
}
// The same where at least 4 bytes are readable: one load, the byte past the pixel is ignored (its
// lane is never stored).
inline __m128i LoadPixelWide(const uint8_t* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(v);
}
template <uint32_t Bpp>
inline void StorePixel(uint8_t* p, __m128i v) {
  const int32_t x = _mm_cvtsi128_si32(v);
  std::memcpy(p, &x, Bpp);
}

template <uint32_t Bpp>
void SubSIMD(const uint8_t* line, uint8_t* target, uint32_t r) {
  __m128i a = _mm_setzero_si128();
  uint32_t i = 0;
  for (; i + Bpp <= r; i += Bpp) {
    a = _mm_add_epi8(a, LoadPixel<Bpp>(line + i));
    StorePixel<Bpp>(target + i, a);
  }
  for (; i < r; ++i) target[i] = uint8_t(line[i] + target[i - Bpp]);
}

template <uint32_t Bpp>
void AverageSIMD(const uint8_t* line, const uint8_t* prev, uint8_t* target, uint32_t r) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero;
  uint32_t i = 0;
  for (; i + Bpp <= r; i += Bpp) {
    const __m128i b = LoadPixel<Bpp>(prev + i);
    // floor((a + b) / 2): the rounding average minus the carried low bit
    const __m128i avg = _mm_sub_epi8(_mm_avg_epu8(a, b), _mm_and_si128(_mm_xor_si128(a, b), _mm_set1_epi8(1)));
    a = _mm_add_epi8(avg, LoadPixel<Bpp>(line + i));
    StorePixel<Bpp>(target + i, a);
  }
  for (; i < r; ++i) target[i] = uint8_t(line[i] + ((target[i - Bpp] + prev[i]) >> 1));
}

template <uint32_t Bpp>
__attribute__((target("ssse3"))) void PaethSIMD(const uint8_t* line, const uint8_t* prev, uint8_t* target, uint32_t r) {
  const __m128i zero = _mm_setzero_si128();
  __m128i a = zero, c = zero;  // 16-bit lanes
  uint32_t i = 0;
  for (; i + Bpp <= r; i += Bpp) {
    // One load of 4 bytes where the row has them (the byte past the pixel is ignored), else the
    // pixel's own bytes; the row's input is read before the same bytes are written (the target may
    // be the input).
    const bool wide = i + 4 <= r;
    const __m128i b = _mm_unpacklo_epi8(wide ? LoadPixelWide(prev + i) : LoadPixel<Bpp>(prev + i), zero);
    const __m128i x = _mm_unpacklo_epi8(wide ? LoadPixelWide(line + i) : LoadPixel<Bpp>(line + i), zero);
    // pa = |b - c|, pb = |a - c|, pc = |a + b - 2c| (PNG 9.4 with p = a + b - c)
    const __m128i pa0 = _mm_sub_epi16(b, c), pb0 = _mm_sub_epi16(a, c);
    const __m128i pa = _mm_abs_epi16(pa0), pb = _mm_abs_epi16(pb0), pc = _mm_abs_epi16(_mm_add_epi16(pa0, pb0));
    // a when pa <= pb and pa <= pc; else b when pb <= pc; else c
    const __m128i useC = _mm_cmpgt_epi16(pb, pc);  // pb > pc
    const __m128i bc = _mm_or_si128(_mm_and_si128(useC, c), _mm_andnot_si128(useC, b));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i pred = _mm_or_si128(_mm_and_si128(notA, bc), _mm_andnot_si128(notA, a));
    a = _mm_and_si128(_mm_add_epi16(pred, x), _mm_set1_epi16(0xFF));
    c = b;
    StorePixel<Bpp>(target + i, _mm_packus_epi16(a, a));
  }
  for (; i < r; ++i) target[i] = uint8_t(line[i] + Paeth(target[i - Bpp], prev[i], prev[i - Bpp]));
}

bool HasSSSE3() {
  static const bool has = __builtin_cpu_supports("ssse3");
  return has;
}
#endif

}  // namespace

void ApplyFilterPortable(uint8_t filter, const uint8_t* line, const uint8_t* prev, uint8_t* target, uint32_t bpp,
                         uint32_t r) {
  const uint32_t lead = bpp < r ? bpp : r;  // bytes with no pixel to their left
  switch (filter) {
    case 0:
      if (target != line) std::memmove(target, line, r);
      break;
    case 1:
      if (target != line) std::memmove(target, line, lead);
      for (uint32_t i = bpp; i < r; ++i) target[i] = uint8_t(line[i] + target[i - bpp]);
      break;
    case 2:
      for (uint32_t i = 0; i < r; ++i) target[i] = uint8_t(line[i] + prev[i]);
      break;
    case 3:
      for (uint32_t i = 0; i < lead; ++i) target[i] = uint8_t(line[i] + (prev[i] >> 1));
      for (uint32_t i = bpp; i < r; ++i) target[i] = uint8_t(line[i] + ((target[i - bpp] + prev[i]) >> 1));
      break;
    case 4:
      for (uint32_t i = 0; i < lead; ++i) target[i] = uint8_t(line[i] + prev[i]);  // Paeth(0, b, 0) = b
      for (uint32_t i = bpp; i < r; ++i) target[i] = uint8_t(line[i] + Paeth(target[i - bpp], prev[i], prev[i - bpp]));
      break;
    default:  // unknown filter types leave the row as read
      if (target != line) std::memmove(target, line, r);
      break;
  }
}

void ApplyFilter(uint8_t filter, const uint8_t* line, const uint8_t* prev, uint8_t* target, uint32_t bpp, uint32_t r) {
#ifdef MURALO_PNG_SIMD
  if ((bpp == 3 || bpp == 4) && r >= bpp && filter != 0 && filter != 2 && filter <= 4) {
    if (filter == 1) return bpp == 3 ? SubSIMD<3>(line, target, r) : SubSIMD<4>(line, target, r);
    if (filter == 3) return bpp == 3 ? AverageSIMD<3>(line, prev, target, r) : AverageSIMD<4>(line, prev, target, r);
    if (HasSSSE3()) return bpp == 3 ? PaethSIMD<3>(line, prev, target, r) : PaethSIMD<4>(line, prev, target, r);
  }
#endif
  ApplyFilterPortable(filter, line, prev, target, bpp, r);
}

}  // namespace muralo
