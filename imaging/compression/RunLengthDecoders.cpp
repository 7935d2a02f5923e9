// The seven run-length decoders and the Targa run-length encoder.
//
// Every decoder works on a bounded input [Source, Source + PackedSize) and a bounded output
// [Dest, Dest + room). Well-formed data decodes packet by packet; a packet that would read past the
// input or write past the output is cut at the boundary and the block ends there (the Dr. Halo
// decoder goes on to the row's terminator so that the next row still starts in the right place;
// the Targa and PCX decoders keep the rest of the packet for the next call).

#include "imaging/compression/RunLengthDecoders.h"

#include <algorithm>
#include <bit>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace muralo {

namespace {

// A bounded reader and writer over the two areas of one Decode call.
struct TBlock {
  const uint8_t* Src;
  const uint8_t* SrcEnd;
  uint8_t* Dst;
  uint8_t* DstEnd;

  TBlock(const uint8_t* source, size_t packedSize, uint8_t* dest, size_t room)
      : Src(source), SrcEnd(source + packedSize), Dst(dest), DstEnd(dest + room) {}

  // Hands the output position reached back to the caller.
  void WriteBack(uint8_t*& dest) const { dest = Dst; }

  size_t InputLeft() const { return static_cast<size_t>(SrcEnd - Src); }
  size_t Room() const { return static_cast<size_t>(DstEnd - Dst); }

  // Copies up to count bytes; answers whether all of them fitted (input and output).
  bool Copy(size_t count) {
    const size_t k = std::min({count, InputLeft(), Room()});
    if (k > 0) std::memcpy(Dst, Src, k);
    Src += k;
    Dst += k;
    return k == count;
  }

  // Writes value count times; answers whether all of them fitted.
  bool Fill(uint8_t value, size_t count) {
    const size_t k = std::min(count, Room());
    if (k > 0) std::memset(Dst, value, k);
    Dst += k;
    return k == count;
  }
};

// Exactly 1 to 16 bytes copied or filled with two overlapping stores of the widest size that fits.
inline void CopySmall(uint8_t* d, const uint8_t* s, size_t n) {
  if (n >= 8) {
    uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + n - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + n - 8, &b, 8);
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else {
    d[0] = s[0];
    d[n / 2] = s[n / 2];
    d[n - 1] = s[n - 1];
  }
}

inline void FillSmall(uint8_t* d, uint8_t value, size_t n) {
  const uint64_t v = value * uint64_t{0x0101010101010101};
  if (n >= 8) {
    std::memcpy(d, &v, 8);
    std::memcpy(d + n - 8, &v, 8);
  } else if (n >= 4) {
    std::memcpy(d, &v, 4);
    std::memcpy(d + n - 4, &v, 4);
  } else {
    d[0] = value;
    d[n / 2] = value;
    d[n - 1] = value;
  }
}

// Writes count copies of the size-byte pattern at dest (a block fill for any pixel size).
template <size_t Size>
void FillFixed(uint8_t* dest, const uint8_t* pattern, size_t count) {
  uint8_t value[Size];
  std::memcpy(value, pattern, Size);
  for (size_t i = 0; i < count; ++i) std::memcpy(dest + i * Size, value, Size);
}

void FillPattern(uint8_t* dest, const uint8_t* pattern, size_t size, size_t count) {
  if (count == 0) return;
  if (size == 1) {
    std::memset(dest, pattern[0], count);
    return;
  }
  if (count <= 32) {  // short runs, the common case: one fixed-size store per pixel
    switch (size) {
      case 2:
        return FillFixed<2>(dest, pattern, count);
      case 3:
        return FillFixed<3>(dest, pattern, count);
      case 4:
        return FillFixed<4>(dest, pattern, count);
      default:
        break;
    }
  }
  const size_t total = size * count;
  std::memcpy(dest, pattern, size);
  size_t done = size;
  while (done < total) {  // double the filled prefix until the run is complete
    const size_t k = std::min(done, total - done);
    std::memcpy(dest + done, dest, k);
    done += k;
  }
}

// The run fills of the Targa decoder build their words for a little-endian order of bytes.
constexpr bool kWordStores = std::endian::native == std::endian::little;

// Truevision TGA 2.0, "Run-length encoded" image types: pixel depth in bits to bytes.
size_t TargaPixelSize(uint32_t pixelBits) {
  switch (pixelBits) {
    case 8:
      return 1;
    case 15:
    case 16:
      return 2;
    case 24:
      return 3;
    case 32:
      return 4;
    default:
      return 0;
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Targa

namespace {

// The first 16 bytes of a run of Size-byte pixels: whole pixels, then the start of the next one,
// so that stores 16 - 16 % Size bytes apart agree where they overlap.
using TWords = uint64_t __attribute__((vector_size(16)));
template <size_t Size>
TWords RunWords(const uint8_t* pixel) {
  uint32_t w;  // the pixel and the bytes after it, readable where this is called
  std::memcpy(&w, pixel, 4);
  uint64_t v = Size == 4 ? w : w & ((1u << (8 * Size)) - 1);
  if constexpr (Size == 3)
    return TWords{v | v << 24 | v << 48, v >> 16 | v << 8 | v << 32 | v << 56};  // abcabcab cabcabca
  for (size_t k = Size; k < 8; k *= 2) v |= v << (8 * k);
  return TWords{v, v};
}

template <size_t Size>
void DecodeTarga(TTargaRLEDecoder& t, const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t pixels) {
  constexpr size_t Step = 16 - 16 % Size;
  constexpr ptrdiff_t Slack = 128 * Size + 16;  // the longest packet and one store past it
  const uint8_t* s = Source;
  const uint8_t* const sEnd = s + PackedSize;
  uint8_t* d = Dest;
  uint8_t* const dEnd = d + pixels * Size;
  while (d < dEnd) {
    if (kWordStores && t.Left == 0 && sEnd - s > Slack && dEnd - d >= Slack) {
      // A whole packet in 16-byte stores Step bytes apart, which may write and read past it inside
      // both areas: the raw pixels, or the run's first 16 bytes over and over. Four stores (up to
      // 64 bytes) cover most packets without a branch; only longer ones take the loop.
      const uint8_t h = *s;
      const size_t bytes = ((h & 0x7Fu) + 1) * Size;
      const uint64_t run = 0 - static_cast<uint64_t>(h >> 7);  // all ones for a run (no branch to mispredict)
      const TWords words = RunWords<Size>(s + 1), runs = {run, run};
      const size_t stride = Step & ~run;
      auto store = [&](size_t k) {
        TWords raw;
        std::memcpy(&raw, s + 1 + k * stride, 16);
        raw = (raw & ~runs) | (words & runs);
        std::memcpy(d + k * Step, &raw, 16);
      };
      for (size_t k = 0; k < 4; ++k) store(k);
      for (size_t k = 4; k * Step < bytes; ++k) store(k);
      s += 1 + ((Size & run) | (bytes & ~run));
      d += bytes;
      continue;
    }
    if (t.Left == 0) {
      // A header, and for a run its pixel, or nothing until the next call.
      if (s == sEnd || ((*s & 0x80) && static_cast<size_t>(sEnd - s) <= Size)) break;
      t.Left = (*s & 0x7Fu) + 1;
      t.Run = (*s++ & 0x80) != 0;
      if (t.Run) std::memcpy(t.Pixel, s, Size);
      if (t.Run) s += Size;
    }
    size_t n = std::min(t.Left, static_cast<size_t>(dEnd - d) / Size);
    if (t.Run) {
      FillPattern(d, t.Pixel, Size, n);
    } else {
      n = std::min(n, static_cast<size_t>(sEnd - s) / Size);
      if (n == 0) break;  // the input ends inside the raw packet's next pixel
      std::memcpy(d, s, n * Size);
      s += n * Size;
    }
    d += n * Size;
    t.Left -= n;
  }
  Source = s;
  Dest = d;
}

}  // namespace

void TTargaRLEDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  switch (TargaPixelSize(PixelBits)) {
    case 1:
      return DecodeTarga<1>(*this, Source, Dest, PackedSize, UnpackedSize);
    case 2:
      return DecodeTarga<2>(*this, Source, Dest, PackedSize, UnpackedSize);
    case 3:
      return DecodeTarga<3>(*this, Source, Dest, PackedSize, UnpackedSize);
    case 4:
      return DecodeTarga<4>(*this, Source, Dest, PackedSize, UnpackedSize);
    default:
      return;  // unknown depth: nothing written, Source unchanged
  }
}

// Raw packets end before an equal pair (then a run follows), at 128 pixels, or at the end, so
// there are at most runs + Count / 128 + 1 of them. A run of S >= 2 pixels stores one pixel and one
// header, so with pixel size p the output is at most Count * p + runs * (2 - p) + Count / 128 + 1:
// one and a half times the row for 8-bit pixels, the row plus a header per 128 pixels otherwise.
size_t TTargaRLEDecoder::MaxEncodedSize(size_t Count) const {
  const size_t pixelSize = (static_cast<size_t>(PixelBits) + 1) / 8;
  const size_t count = Count;
  const size_t runOverhead = pixelSize < 2 ? (2 - pixelSize) * (count / 2) : 0;
  return count * pixelSize + runOverhead + count / 128 + 1;
}

void TTargaRLEDecoder::Encode(const uint8_t* Source, uint8_t* Dest, size_t Count, size_t& BytesStored) {
  const size_t pixelSize = (static_cast<size_t>(PixelBits) + 1) / 8;
  auto same = [pixelSize](const uint8_t* a, const uint8_t* b) { return std::memcmp(a, b, pixelSize) == 0; };
  const uint8_t* src = Source;
  uint8_t* dst = Dest;
  size_t left = Count;
  BytesStored = 0;
  while (left > 0) {
    // D: pixels before the first one that equals its right-hand neighbour (only the first 129
    // pixels matter, as D is cut to 128).
    size_t d = 0;
    const size_t scan = std::min<size_t>(left, 129);
    while (d + 1 < scan && !same(src + d * pixelSize, src + (d + 1) * pixelSize)) ++d;
    if (d + 1 == scan && scan == left) d = left;  // no equal neighbours at all
    // S: pixels equal to the current one, itself included.
    size_t s = 1;
    while (s < left && s < 128 && same(src, src + s * pixelSize)) ++s;
    d = std::min<size_t>(d, 128);
    if (d > 0) {  // raw packet
      *dst++ = static_cast<uint8_t>(d - 1);
      std::memcpy(dst, src, d * pixelSize);
      dst += d * pixelSize;
      src += d * pixelSize;
      BytesStored += 1 + d * pixelSize;
      left -= d;
    }
    if (s > 1) {  // run packet, carrying the run's last pixel
      *dst++ = static_cast<uint8_t>((s - 1) | 0x80);
      std::memcpy(dst, src + (s - 1) * pixelSize, pixelSize);
      dst += pixelSize;
      src += s * pixelSize;
      BytesStored += 1 + pixelSize;
      left -= s;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// PackBits (Apple Technical Note TN1023; TIFF 6.0 section 9)

void TPackbitsRLEDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  TBlock b(Source, PackedSize, Dest, UnpackedSize);
  while (b.Room() > 0 && b.InputLeft() > 0) {
    const int n = static_cast<int8_t>(*b.Src++);
    if (n >= 0) {
      if (!b.Copy(static_cast<size_t>(n) + 1)) break;
    } else if (n != -128) {
      if (b.InputLeft() == 0) break;
      const uint8_t value = *b.Src++;
      if (!b.Fill(value, static_cast<size_t>(1 - n))) break;
    }
    // -128: no operation
  }
  b.WriteBack(Dest);
}

// ---------------------------------------------------------------------------------------------
// ZSoft PCX

namespace {

// Bit i set when byte i of the 64 at s has both top bits set: a run's count, or a run's value.
uint64_t TopBitsSet(const uint8_t* s) {
  uint64_t m = 0;
#if defined(__SSE2__)
  const __m128i top = _mm_set1_epi8(static_cast<char>(0xC0));
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16 * k)), top);
    m |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, top)))} << (16 * k);
  }
#else
  for (int i = 0; i < 64; ++i) m |= uint64_t{(s[i] & 0xC0) == 0xC0} << i;
#endif
  return m;
}

// Decodes the packets that start in the 64 bytes at s (s starts a packet; 80 bytes are readable)
// while the output has room for a packet and the 16-byte stores that may run past it (128 bytes).
// Answers where the next packet starts.
const uint8_t* DecodePCXBlock(const uint8_t* s, uint8_t*& dest, const uint8_t* dEnd) {
  // Such bytes come in stretches where counts and values alternate from the first, a count (the
  // byte before a stretch ends a packet): the counts are the even bytes of stretches that start
  // on an even byte and the odd bytes of the others.
  constexpr uint64_t even = 0x5555555555555555;
  const uint64_t m = TopBitsSet(s);
  const uint64_t fromEven = m & ~(m + (m & ~(m << 1) & even));
  uint64_t counts = (fromEven & even) | (m & ~fromEven & ~even);
  uint8_t* d = dest;
  size_t at = 0;
  for (; counts != 0 && dEnd - d >= 128; counts &= counts - 1) {
    const auto c = static_cast<size_t>(std::countr_zero(counts));
    std::memcpy(d, s + at, 16);  // the bytes before the run stand for themselves
    for (size_t k = 16; k < c - at; k += 16) std::memcpy(d + k, s + at + k, 16);
    d += c - at;
    const size_t n = s[c] & 0x3Fu;
    const uint64_t v = s[c + 1] * uint64_t{0x0101010101010101};
    const TWords fill = {v, v};
    // Four stores for any run (n is at most 63): a branch on n would be mispredicted far more often.
    for (size_t k = 0; k < 64; k += 16) std::memcpy(d + k, &fill, 16);
    d += n;
    at = c + 2;
  }
  if (counts == 0 && at < 64 && dEnd - d >= 64) {
    for (size_t k = 0; k < 64 - at; k += 16) std::memcpy(d + k, s + at + k, 16);
    d += 64 - at;
    at = 64;
  }
  dest = d;
  return s + at;
}

}  // namespace

void TPCXRLEDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  const uint8_t* s = Source;
  const uint8_t* const sEnd = s + PackedSize;
  uint8_t* d = Dest;
  uint8_t* const dEnd = d + UnpackedSize;
  while (d < dEnd) {
    if (Left > 0) {
      const size_t k = std::min(Left, static_cast<size_t>(dEnd - d));
      std::memset(d, Value, k);
      d += k;
      Left -= k;
    } else if (sEnd - s >= 80 && dEnd - d >= 128) {
      s = DecodePCXBlock(s, d, dEnd);
    } else if (s < sEnd && (*s & 0xC0) != 0xC0) {
      *d++ = *s++;
    } else if (sEnd - s >= 2) {
      Left = *s & 0x3Fu;
      Value = s[1];
      s += 2;
    } else {
      break;  // no data, or a count without its value
    }
  }
  Source = s;
  Dest = d;
}

// ---------------------------------------------------------------------------------------------
// Silicon Graphics (SGI image file format, "RLE" storage)

void TSGIRLEDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  TBlock b(Source, PackedSize, Dest, UnpackedSize);
  if (SampleBits == 8) {
    // While any packet fits (a header and 127 bytes of input, 128 bytes of room), packets are
    // copied or filled 32 bytes at a time, without a bound check: what a packet writes past its
    // end the next one writes over.
    while (b.InputLeft() >= 129 && b.Room() >= 128) {
      const uint8_t header = *b.Src++;
      const size_t count = header & 0x7Fu;
      if (count == 0) {  // the row's terminator
        b.WriteBack(Dest);
        return;
      }
      if (header & 0x80) {
        size_t i = 0;
        do std::memcpy(b.Dst + i, b.Src + i, 32);
        while ((i += 32) < count);
        b.Src += count;
      } else {
        uint8_t run[32];
        std::memset(run, *b.Src++, 32);
        size_t i = 0;
        do std::memcpy(b.Dst + i, run, 32);
        while ((i += 32) < count);
      }
      b.Dst += count;
    }
    // Near the ends, short packets are written inline, without a call.
    while (b.InputLeft() > 0) {
      const uint8_t header = *b.Src++;
      const size_t count = header & 0x7Fu;
      if (count == 0) break;  // the row's terminator
      if (header & 0x80) {
        if (count <= 16 && count <= b.InputLeft() && count <= b.Room()) {
          CopySmall(b.Dst, b.Src, count);
          b.Src += count;
          b.Dst += count;
        } else if (!b.Copy(count)) {
          break;
        }
      } else {
        if (b.InputLeft() == 0) break;
        const uint8_t value = *b.Src++;
        if (count <= 16 && count <= b.Room()) {
          FillSmall(b.Dst, value, count);
          b.Dst += count;
        } else if (!b.Fill(value, count)) {
          break;
        }
      }
    }
    b.WriteBack(Dest);
    return;
  }
  // 16-bit units, stored big-endian; the header's high byte is ignored.
  while (b.InputLeft() >= 2) {
    const uint8_t header = b.Src[1];
    b.Src += 2;
    const size_t count = header & 0x7Fu;
    if (count == 0) break;
    if (header & 0x80) {
      const size_t words = std::min({count, b.InputLeft() / 2, b.Room() / 2});
      std::memcpy(b.Dst, b.Src, words * 2);
      b.Src += words * 2;
      b.Dst += words * 2;
      if (words < count) break;
    } else {
      if (b.InputLeft() < 2) break;
      const size_t words = std::min(count, b.Room() / 2);
      FillPattern(b.Dst, b.Src, 2, words);
      b.Src += 2;
      b.Dst += words * 2;
      if (words < count) break;
    }
  }
  b.WriteBack(Dest);
}

// ---------------------------------------------------------------------------------------------
// Dr. Halo CUT

void TCUTRLEDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  TBlock b(Source, PackedSize, Dest, UnpackedSize);
  // The row's 2-byte byte count is not needed: the row ends with a 0 byte.
  b.Src += std::min<size_t>(2, b.InputLeft());
  while (b.InputLeft() > 0) {
    const uint8_t header = *b.Src++;
    if (header == 0) break;
    const size_t count = header & 0x7Fu;
    if (header & 0x80) {
      if (b.InputLeft() == 0) break;
      const uint8_t value = *b.Src++;
      b.Fill(value, count);
    } else {
      // Pixels beyond the area are passed over, so that Source still ends after the terminator.
      const size_t k = std::min(count, b.InputLeft());
      const size_t copied = std::min(k, b.Room());
      if (copied > 0) std::memcpy(b.Dst, b.Src, copied);
      b.Dst += copied;
      b.Src += k;
    }
  }
  Source = b.Src;
  b.WriteBack(Dest);
}

// ---------------------------------------------------------------------------------------------
// Paint Shop Pro (channel compression 1)

void TPSPRLEDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  TBlock b(Source, PackedSize, Dest, UnpackedSize);
  while (b.InputLeft() > 0) {
    const uint8_t header = *b.Src++;
    if (header < 128) {
      if (!b.Copy(header)) break;
    } else {
      if (b.InputLeft() == 0) break;
      const uint8_t value = *b.Src++;
      if (!b.Fill(value, header - 128u)) break;
    }
  }
  b.WriteBack(Dest);
}

// ---------------------------------------------------------------------------------------------
// Alias/Wavefront RLA

void TRLADecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  TBlock b(Source, PackedSize, Dest, UnpackedSize);
  while (b.InputLeft() > 0) {
    const int n = static_cast<int8_t>(*b.Src++);
    if (n >= 0) {
      if (b.InputLeft() == 0) break;
      const uint8_t value = *b.Src++;
      if (!b.Fill(value, static_cast<size_t>(n) + 1)) break;
    } else {
      if (!b.Copy(static_cast<size_t>(-n))) break;
    }
  }
  b.WriteBack(Dest);
}

}  // namespace muralo
