#pragma once
// What a reader knows of an image: the image-properties record and the enumerations it uses.
// Shared by the colour manager, the decoders and the readers, so it sits below all three.

#include <cstdint>
#include <vector>

namespace muralo {

enum TColorScheme : uint8_t {
  csUnknown,
  csIndexed,
  csG,
  csGA,
  csRGB,
  csRGBA,
  csBGR,
  csBGRA,
  csCMY,
  csCMYK,
  csCIELab,
  csYCbCr,
  csPhotoYCC
};

enum TImageOption : uint8_t { ioTiled, ioBigEndian, ioMinIsWhite, ioReversed, ioUseGamma };

// A small set of enumeration members stored as bits (bit n for member n).
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> members) {
    for (E m : members) Bits |= Bit(m);
  }
  static constexpr TSet FromBits(uint32_t bits) {
    TSet s;
    s.Bits = bits;
    return s;
  }
  constexpr bool Has(E m) const { return (Bits & Bit(m)) != 0; }
  constexpr TSet& Include(E m) {
    Bits |= Bit(m);
    return *this;
  }
  constexpr TSet& Exclude(E m) {
    Bits &= ~Bit(m);
    return *this;
  }
  constexpr bool Empty() const { return Bits == 0; }
  constexpr uint32_t ToBits() const { return Bits; }
  constexpr bool operator==(const TSet&) const = default;
  constexpr TSet operator+(TSet o) const { return FromBits(Bits | o.Bits); }
  constexpr TSet operator-(TSet o) const { return FromBits(Bits & ~o.Bits); }
  constexpr TSet operator*(TSet o) const { return FromBits(Bits & o.Bits); }

 private:
  static constexpr uint32_t Bit(E m) { return uint32_t(1) << static_cast<unsigned>(m); }
  uint32_t Bits = 0;
};

using TImageOptions = TSet<TImageOption>;

enum TCompressionType : uint8_t {
  ctUnknown,
  ctNone,
  ctRLE,
  ctPackedBits,
  ctLZW,
  ctFax3,
  ctFaxRLE,
  ctFax4,
  ctFaxRLEW,
  ctLZ77,
  ctJPEG,
  ctOJPEG,
  ctThunderscan,
  ctNext,
  ctIT8CTPAD,
  ctIT8LW,
  ctIT8MP,
  ctIT8BL,
  ctPixarFilm,
  ctPixarLog,
  ctDCS,
  ctJBIG,
  ctPCDHuffmann
};

using TCardinalArray = std::vector<uint32_t>;
using TByteArray = std::vector<uint8_t>;
using TFloatArray = std::vector<float>;

struct TImageProperties {
  uint32_t Version = 0;
  TImageOptions Options;
  uint32_t Width = 0;
  uint32_t Height = 0;
  TColorScheme ColorScheme = csUnknown;
  uint8_t BitsPerSample = 0;
  uint8_t SamplesPerPixel = 0;
  uint8_t BitsPerPixel = 0;
  TCompressionType Compression = ctUnknown;
  float FileGamma = 1.0f;
  float XResolution = 0;
  float YResolution = 0;
  bool Interlaced = false;
  bool HasAlpha = false;
  uint32_t FirstIFD = 0;
  uint32_t PlanarConfig = 0;
  uint32_t CurrentRow = 0;
  uint32_t TileWidth = 0;
  uint32_t TileLength = 0;
  uint32_t BytesPerLine = 0;
  TCardinalArray RowsPerStrip;
  TByteArray YCbCrSubSampling;
  TByteArray JPEGTables;
  uint32_t JPEGColorMode = 0;
  uint32_t JPEGTablesMode = 0;
  uint32_t CurrentStrip = 0;
  uint32_t StripCount = 0;
  uint32_t PredictorMode = 0;
  bool Overview = false;
  uint8_t Rotate = 0;
  uint16_t ImageCount = 0;
  bool BottomUp = false;
  uint8_t Channels = 0;
  uint8_t FilterMode = 0;

  // The pixel layout in one go; bits per pixel follow from the sample size and count.
  void SetLayout(TColorScheme scheme, uint8_t bitsPerSample, uint8_t samplesPerPixel, TCompressionType compression) {
    ColorScheme = scheme;
    BitsPerSample = bitsPerSample;
    SamplesPerPixel = samplesPerPixel;
    BitsPerPixel = static_cast<uint8_t>(bitsPerSample * samplesPerPixel);
    Compression = compression;
  }
};
using PImageProperties = TImageProperties*;

}  // namespace muralo
