// ThunderScan 4-bit compression (TIFF compression 32809): runs and 2-bit or 3-bit deltas of 4-bit
// grey values, two pixels per output byte with the first in the high nibble.

#include <algorithm>
#include <cstddef>

#include "imaging/compression/ThunderDecoder.h"

namespace muralo {

namespace {

// The code's top two bits.
constexpr uint8_t ThunderRun = 0x00;            // run of (b & 0x3F) pixels of the last value
constexpr uint8_t ThunderTwoBitDelta = 0x40;    // three 2-bit deltas
constexpr uint8_t ThunderThreeBitDelta = 0x80;  // two 3-bit deltas
// 0xC0: raw, the low four bits are the pixel

constexpr int TwoBitDeltas[4] = {0, 1, 0, -1};                  // field value 2 means "no pixel"
constexpr int ThreeBitDeltas[8] = {0, 1, 2, 3, 0, -3, -2, -1};  // field value 4 means "no pixel"

// The output, written only inside [0, Size); the position may run past the end, writes there
// are dropped.
struct TNibbleWriter {
  uint8_t* Dest;
  size_t Size;
  size_t Pos = 0;
  uint8_t Get() const { return Pos < Size ? Dest[Pos] : 0; }
  void Put(uint8_t value) {
    if (Pos < Size) Dest[Pos] = value;
  }
};

}  // namespace

void TThunderDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  if (Width == 0) return;
  const uint8_t* src = Source;
  size_t packedLeft = PackedSize;
  size_t unpackedLeft = UnpackedSize;
  TNibbleWriter out{Dest, unpackedLeft};
  const int64_t pixelsPerPass = 2 * static_cast<int64_t>(Width);

  while (unpackedLeft > 0 && packedLeft > 0) {
    int last = 0;
    int64_t n = 0;  // pixels written in this pass
    auto setPixel = [&](int value) {
      last = value & 0x0F;
      if (n & 1) {
        out.Put(static_cast<uint8_t>(out.Get() | last));
        ++out.Pos;
      } else {
        out.Put(static_cast<uint8_t>(last << 4));
      }
      ++n;
    };
    while (packedLeft > 0 && n < pixelsPerPass) {
      const uint8_t b = *src++;
      --packedLeft;
      switch (b & 0xC0) {
        case ThunderRun: {
          int c = b & 0x3F;
          if (n & 1) {  // complete the half-filled byte first
            out.Put(static_cast<uint8_t>(out.Get() | last));
            last = out.Get();
            ++out.Pos;
            ++n;
            --c;
          } else {
            last *= 17;  // the value in both nibbles
          }
          n += c;
          while (c > 0) {
            out.Put(static_cast<uint8_t>(last));
            ++out.Pos;
            c -= 2;
          }
          if (c == -1) {  // an odd run ends in the high nibble
            --out.Pos;
            out.Put(static_cast<uint8_t>(out.Get() & 0xF0));
          }
          last &= 0x0F;
          break;
        }
        case ThunderTwoBitDelta:
          for (int shift : {4, 2, 0}) {
            const int field = (b >> shift) & 3;
            if (field != 2) setPixel(last + TwoBitDeltas[field]);
          }
          break;
        case ThunderThreeBitDelta:
          for (int shift : {3, 0}) {
            const int field = (b >> shift) & 7;
            if (field != 4) setPixel(last + ThreeBitDeltas[field]);
          }
          break;
        default:
          setPixel(b);
          break;
      }
    }
    unpackedLeft -= std::min<size_t>(unpackedLeft, Width);
  }
}

}  // namespace muralo
