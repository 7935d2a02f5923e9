// Gamma table, grey ramps and colour palettes for indexed targets.

#include <cmath>
#include <vector>

#include "imaging/color/GraphicColor.h"
#include "imaging/color/RowLoop.h"

namespace muralo {

using namespace color_detail;

void TColorManager::SetGamma(float MainGamma, float DisplayGamma) {
  FMainGamma = MainGamma > 0 ? MainGamma : 1.0f;
  FDisplayGamma = DisplayGamma > 0 ? DisplayGamma : 2.2f;
  const float exponent = 1.0f / (FMainGamma * FDisplayGamma);
  // Every user of the table indexes it with an 8-bit level and stores an 8-bit level: the colour
  // converters with 8-bit samples, the palettes with 8-bit palette levels, whatever the index
  // depth. So the table always covers the whole 8-bit range, also for sources and targets of fewer
  // bits, and never keeps entries of an earlier configuration.
  FGammaTable[0] = 0;
  for (int i = 1; i < 256; ++i)
    FGammaTable[i] = uint8_t(std::nearbyint(std::pow(double(i) / 255.0, double(exponent)) * 255.0));
}

HPALETTE TColorManager::CreateGrayscalePalette(bool MinimumIsWhite) {
  unsigned bits = unsigned(FTargetBitsPerSample) * FTargetSamplesPerPixel;
  if (bits > 8) bits = 8;
  const unsigned entries = 1u << bits;
  const unsigned upper = entries - 1;
  const unsigned step = 255 / upper;
  const bool gamma = TargetOptions.Has(coApplyGamma);
  std::vector<TPaletteEntry> palette(entries);
  for (unsigned i = 0; i <= upper; ++i) {
    const uint8_t level = gamma ? FGammaTable[i * step] : uint8_t(i * step);
    TPaletteEntry& e = palette[MinimumIsWhite ? upper - i : i];
    e.Red = e.Green = e.Blue = level;
  }
  return CreatePalette(palette);
}

HPALETTE TColorManager::CreateColorPalette(const TPointerArray& Data, TRawPaletteFormat DataFormat, uint32_t ColorCount,
                                           bool BGR) {
  const bool gamma = TargetOptions.Has(coApplyGamma);
  const bool swap = SourceOptions.Has(coNeedByteSwap);
  auto level8 = [&](uint8_t v) { return gamma ? ComponentGammaConvert(v) : v; };
  auto level16 = [&](uint16_t v) {
    if (swap) v = Swap16(v);
    return gamma ? ComponentScaleGammaConvert(v) : ComponentScaleConvert(v);
  };

  const bool interleaved = DataFormat == pfInterlaced8Triple || DataFormat == pfInterlaced8Quad ||
                           DataFormat == pfInterlaced16Triple || DataFormat == pfInterlaced16Quad;
  const bool known = DataFormat <= pfPlane16Quad;
  const size_t pointersNeeded = interleaved ? 1 : 3;

  // Raw entry `index` of the file's palette, or black where the data has no such entry.
  auto entryOf = [&](uint32_t index) {
    TPaletteEntry e;
    if (!known || index >= ColorCount || Data.size() < pointersNeeded) return e;
    uint8_t rgb[3];
    switch (DataFormat) {
      case pfInterlaced8Triple:
      case pfInterlaced8Quad: {
        const auto* p =
            static_cast<const uint8_t*>(Data[0]) + size_t(index) * (DataFormat == pfInterlaced8Quad ? 4 : 3);
        for (int k = 0; k < 3; ++k) rgb[k] = level8(p[k]);
        break;
      }
      case pfPlane8Triple:
      case pfPlane8Quad:
        for (int k = 0; k < 3; ++k) rgb[k] = level8(static_cast<const uint8_t*>(Data[k])[index]);
        break;
      case pfInterlaced16Triple:
      case pfInterlaced16Quad: {
        const size_t first = size_t(index) * (DataFormat == pfInterlaced16Quad ? 4 : 3);
        for (int k = 0; k < 3; ++k) rgb[k] = level16(Load<uint16_t>(static_cast<const uint8_t*>(Data[0]), first + k));
        break;
      }
      default:  // pfPlane16Triple, pfPlane16Quad
        for (int k = 0; k < 3; ++k) rgb[k] = level16(Load<uint16_t>(static_cast<const uint8_t*>(Data[k]), index));
        break;
    }
    // Planes are always red, green, blue; interleaved entries may be stored blue first.
    const bool reversed = BGR && interleaved;
    e.Red = reversed ? rgb[2] : rgb[0];
    e.Green = rgb[1];
    e.Blue = reversed ? rgb[0] : rgb[2];
    return e;
  };

  // Depth adaptation: the indexed converters rescale index v of a source depth to
  // v × TargetMax div SourceMax, so target entry i shows raw entry i × SourceMax div TargetMax.
  // Where the two maxima are not multiples of each other (depths of 3, 5, 6 or 7 bits) that entry
  // can be one the converter never sends to i; then i shows the smallest raw entry that does
  // (the quotient rounded up), so every index the converter writes shows its own colour.
  const uint32_t sourceMax = (uint32_t(1) << FSourceBitsPerSample) - 1;
  const uint32_t targetMax = (uint32_t(1) << FTargetBitsPerSample) - 1;
  auto rescale = [](uint64_t v, uint64_t numerator, uint64_t denominator) {
    return uint32_t(v * numerator / denominator);
  };
  std::vector<TPaletteEntry> palette;
  if (FTargetBitsPerSample <= 8 && sourceMax != targetMax) {
    palette.resize(targetMax + 1);
    for (uint32_t i = 0; i <= targetMax; ++i) {
      uint32_t v = rescale(i, sourceMax, targetMax);
      if (rescale(v, targetMax, sourceMax) != i) {
        const uint32_t up = uint32_t((uint64_t(i) * sourceMax + targetMax - 1) / targetMax);
        if (up <= sourceMax && rescale(up, targetMax, sourceMax) == i) v = up;
      }
      palette[i] = entryOf(v);
    }
  } else {
    palette.resize(ColorCount < 256 ? ColorCount : 256);
    for (uint32_t i = 0; i < palette.size(); ++i) palette[i] = entryOf(i);
  }
  return CreatePalette(palette);
}

}  // namespace muralo
