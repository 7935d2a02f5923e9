#pragma once
// Unit GraphicColor: the colour manager. It turns rows of decoded pixels, in whatever layout an
// image file uses, into the layout of a bitmap's scan lines, builds the palettes of indexed and
// grey images and keeps the gamma and YCbCr lookup tables.
//
// A reader describes both sides (colour scheme, bits per sample, samples per pixel, options),
// asks GetPixelFormat(1) for its bitmap's format, obtains the palette for indexed targets
// (CreateColorPalette / CreateGrayscalePalette) and then calls ConvertRow once per row (or per
// row and interlace pass). The converter is chosen once per configuration.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "imaging/ImageTypes.h"

namespace muralo {

// The exception class of this unit; it carries only its message text.
class EColorConversionError : public Exception {
 public:
  using Exception::Exception;
};

// Options of one side of a conversion (bit n of the set byte for member n).
enum TConvertOption : uint8_t {
  coAlpha,            // the side carries an alpha sample; set by the manager from the schemes
  coApplyGamma,       // target side: run colour samples through the gamma table
  coNeedByteSwap,     // source side: 16-bit samples are stored high byte first
  coLabByteRange,     // source side: L* uses 0..255 instead of 0..100
  coLabChromaOffset,  // source side: a* and b* are unsigned with 128 as zero
};
using TConvertOptions = TSet<TConvertOption>;

// Layout of the palette data given to CreateColorPalette.
enum TRawPaletteFormat : uint8_t {
  pfInterlaced8Triple,   // one pointer; entries of 3 bytes
  pfInterlaced8Quad,     // one pointer; entries of 4 bytes, the fourth ignored
  pfPlane8Triple,        // three pointers: red, green, blue planes of bytes
  pfPlane8Quad,          // as pfPlane8Triple (a fourth plane is ignored)
  pfInterlaced16Triple,  // one pointer; entries of three 16-bit values
  pfInterlaced16Quad,    // one pointer; entries of four 16-bit values, the fourth ignored
  pfPlane16Triple,       // three pointers: planes of 16-bit red, green, blue values
  pfPlane16Quad,         // as pfPlane16Triple (a fourth plane is ignored)
};

// An open array of untyped pointers: one pointer for interleaved data, one per plane for planar
// data. Built from a braced list (`{row}`, `{r, g, b}`), a single pointer, a C array, a vector or a
// span. A braced list or a single pointer is copied (at most four pointers are kept, as no layout
// has more planes); the other forms only refer to the caller's pointers.
class TPointerArray {
 public:
  TPointerArray(std::initializer_list<const void*> list) : Count(list.size() < 4 ? list.size() : 4) {
    for (size_t i = 0; i < Count; ++i) Inline[i] = list.begin()[i];
  }
  TPointerArray(const void* single) : Count(1) { Inline[0] = single; }  // implicit on purpose
  TPointerArray(const void* const* data, size_t count) : Data(data), Count(count) {}
  TPointerArray(std::span<const void* const> pointers) : Data(pointers.data()), Count(pointers.size()) {}
  TPointerArray(const std::vector<const void*>& pointers) : Data(pointers.data()), Count(pointers.size()) {}
  template <size_t N>
  TPointerArray(const void* const (&pointers)[N]) : Data(pointers), Count(N) {}
  template <size_t N>
  TPointerArray(const std::array<const void*, N>& pointers) : Data(pointers.data()), Count(N) {}

  size_t size() const { return Count; }
  bool empty() const { return Count == 0; }
  const void* operator[](size_t i) const { return Data ? Data[i] : Inline[i]; }

 private:
  const void* const* Data = nullptr;
  std::array<const void*, 4> Inline{};
  size_t Count = 0;
};

class TColorManager;

// A row converter: Source (one pointer interleaved, several planar), Target (a scan line), Count
// (target pixels covered, selected or not) and Mask (bit 7 = first pixel of each group of eight).
using TConversionMethod = void (TColorManager::*)(const TPointerArray& Source, void* Target, uint32_t Count,
                                                  uint8_t Mask);

// 0 for negative values, 255 above 255, otherwise the value.
constexpr uint8_t ClampByte(int32_t Value) {
  return Value < 0 ? uint8_t(0) : Value > 255 ? uint8_t(255) : uint8_t(Value);
}

// (Number × Numerator) div Denominator, the product in 32 bits, the quotient truncated to 16 bits.
constexpr uint16_t MulDiv16(uint16_t Number, uint16_t Numerator, uint16_t Denominator) {
  return uint16_t((uint32_t(Number) * uint32_t(Numerator)) / uint32_t(Denominator));
}

class TColorManager {
 public:
  TColorManager();

  // Setters of the six settings that choose the converter; each marks the manager unprepared when
  // it changes a value. Bits per sample: 1..16 (else gesInvalidSampleDepth); samples per pixel:
  // 1, 3 or 4 (else gesInvalidPixelDepth).
  void SetSourceColorScheme(TColorScheme Value);
  void SetTargetColorScheme(TColorScheme Value);
  void SetSourceBitsPerSample(uint8_t Value);
  void SetTargetBitsPerSample(uint8_t Value);
  void SetSourceSamplesPerPixel(uint8_t Value);
  void SetTargetSamplesPerPixel(uint8_t Value);

  TColorScheme SourceColorScheme() const { return FSourceColorScheme; }
  TColorScheme TargetColorScheme() const { return FTargetColorScheme; }
  uint8_t SourceBitsPerSample() const { return FSourceBitsPerSample; }
  uint8_t TargetBitsPerSample() const { return FTargetBitsPerSample; }
  uint8_t SourceSamplesPerPixel() const { return FSourceSamplesPerPixel; }
  uint8_t TargetSamplesPerPixel() const { return FTargetSamplesPerPixel; }

  // Options of both sides; read by the converters at every call. coAlpha is set or cleared by
  // the manager from the colour schemes at each preparation.
  TConvertOptions SourceOptions;
  TConvertOptions TargetOptions;

  // Converts one row: prepares if a setting changed, raises gesConversionUnsupported when no
  // converter fits, then runs the converter.
  void ConvertRow(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);

  // The bitmap pixel format that holds a row of one side: 0 = source, any other value = target.
  TPixelFormat GetPixelFormat(int32_t Index) const;

  // Palettes for indexed and grey targets (owned by the caller, normally given to the bitmap).
  HPALETTE CreateColorPalette(const TPointerArray& Data, TRawPaletteFormat DataFormat, uint32_t ColorCount, bool BGR);
  HPALETTE CreateGrayscalePalette(bool MinimumIsWhite);

  // Rebuilds the gamma table for the current bits per sample; non-positive values mean 1.0 / 2.2.
  void SetGamma(float MainGamma, float DisplayGamma = 2.2f);

  // Luma weights Kr, Kg, Kb (as many as given, at least one expected) and the chroma subsampling
  // factors (1, 2 or 4 each, horizontal >= vertical). The weights are stored before the factors
  // are checked. They reach the YCbCr tables at the next preparation.
  void SetYCbCrParameters(const float* Values, size_t ValueCount, uint8_t HorzSubSampling, uint8_t VertSubSampling);
  void SetYCbCrParameters(std::initializer_list<float> Values, uint8_t HorzSubSampling, uint8_t VertSubSampling) {
    SetYCbCrParameters(Values.begin(), Values.size(), HorzSubSampling, VertSubSampling);
  }
  void SetYCbCrParameters(const TFloatArray& Values, uint8_t HorzSubSampling, uint8_t VertSubSampling) {
    SetYCbCrParameters(Values.data(), Values.size(), HorzSubSampling, VertSubSampling);
  }

  // Chooses ConversionMethod for the current configuration (ConvertRow runs it when needed).
  void PrepareConversion();
  // Builds the four YCbCr tables from the coefficients and the source scheme.
  void CreateYCbCrLookup();
  // Raises EColorConversionError with the text.
  [[noreturn]] static void Error(const char* Message);

  bool Changed() const { return FChanged; }
  TConversionMethod ConversionMethod() const { return FConversionMethod; }
  float MainGamma() const { return FMainGamma; }
  float DisplayGamma() const { return FDisplayGamma; }
  const std::array<uint8_t, 256>& GammaTable() const { return FGammaTable; }
  const std::array<float, 3>& YCbCrCoefficients() const { return FYCbCrCoefficients; }
  uint8_t HorzSubSampling() const { return FHorzSubSampling; }
  uint8_t VertSubSampling() const { return FVertSubSampling; }
  const std::vector<int32_t>& CrToRedTable() const { return FCrToRedTable; }
  const std::vector<int32_t>& CbToBlueTable() const { return FCbToBlueTable; }
  const std::vector<int32_t>& CrToGreenTable() const { return FCrToGreenTable; }
  const std::vector<int32_t>& CbToGreenTable() const { return FCbToGreenTable; }

  // Component converters: one sample to one sample.
  uint8_t ComponentNoConvert8(uint8_t Value) const { return Value; }
  uint16_t ComponentNoConvert16(uint16_t Value) const { return Value; }
  uint8_t ComponentGammaConvert(uint8_t Value) const { return FGammaTable[Value]; }
  uint8_t ComponentScaleConvert(uint16_t Value) const { return uint8_t(MulDiv16(Value, 255, 65535)); }
  uint8_t ComponentScaleGammaConvert(uint16_t Value) const { return FGammaTable[MulDiv16(Value, 255, 65535)]; }
  uint8_t ComponentSwapScaleConvert(uint16_t Value) const { return ComponentScaleConvert(Swap16(Value)); }
  uint8_t ComponentSwapScaleGammaConvert(uint16_t Value) const { return ComponentScaleGammaConvert(Swap16(Value)); }
  uint16_t ComponentSwapConvert(uint16_t Value) const { return Swap16(Value); }

  // Row converters (TConversionMethod signature). They read the bits per sample, the options and
  // the gamma table at every call; unsupported depths write nothing.
  void RowConvertBGR2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertBGR2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertRGB2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertRGB2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertGray(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertIndexed8(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertIndexedBoth16(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertIndexedSource16(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertIndexedTarget16(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertCMYK2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertCMYK2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertCIELAB2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertCIELAB2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertYCbCr2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertYCbCr2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertPhotoYCC2BGR(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  void RowConvertPhotoYCC2RGB(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);

  static constexpr uint16_t Swap16(uint16_t Value) { return uint16_t((Value << 8) | (Value >> 8)); }

 private:
  template <bool Reverse>
  void ConvertRGBFamily(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  template <bool BGR>
  void ConvertCMYK(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  template <bool BGR>
  void ConvertCIELab(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);
  template <bool BGR>
  void ConvertYCbCr(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask);

  bool FChanged = true;
  uint8_t FSourceBitsPerSample = 8;
  uint8_t FTargetBitsPerSample = 8;
  uint8_t FSourceSamplesPerPixel = 3;
  uint8_t FTargetSamplesPerPixel = 3;
  float FMainGamma = 1.0f;
  float FDisplayGamma = 2.2f;
  std::array<uint8_t, 256> FGammaTable{};
  std::array<float, 3> FYCbCrCoefficients{0.299f, 0.587f, 0.114f};
  uint8_t FHorzSubSampling = 1;
  uint8_t FVertSubSampling = 1;
  std::vector<int32_t> FCrToRedTable, FCbToBlueTable, FCrToGreenTable, FCbToGreenTable;
  TColorScheme FSourceColorScheme = csRGB;
  TColorScheme FTargetColorScheme = csBGR;
  TConversionMethod FConversionMethod = nullptr;
};

}  // namespace muralo
