// Fuzzes the colour manager: a configuration (schemes, depths, options, mask, row length, planes)
// and row data from the input. Every source plane and the target row are heap blocks of exactly
// the size the configuration describes, so a converter that reads or writes past them is caught
// by AddressSanitizer. Palettes are built from exact-size data the same way.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "imaging/color/GraphicColor.h"

using namespace muralo;

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
};

unsigned Components(TColorScheme s) {
  switch (s) {
    case csIndexed:
    case csG:
      return 1;
    case csGA:
      return 2;
    case csRGBA:
    case csBGRA:
    case csCMYK:
      return 4;
    default:
      return 3;
  }
}

bool Indexed(TColorScheme s) { return s == csIndexed || s == csG || s == csGA; }

std::unique_ptr<uint8_t[]> Block(Input& in, size_t bytes) {
  std::unique_ptr<uint8_t[]> block(new uint8_t[bytes ? bytes : 1]);
  for (size_t i = 0; i < bytes; ++i) block[i] = in.Byte();
  return block;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const auto source = TColorScheme(in.Byte() % 13);
  const auto target = TColorScheme(in.Byte() % 13);
  const uint8_t sourceBits = uint8_t(in.Byte() % 16 + 1);
  const uint8_t targetBits = uint8_t(in.Byte() % 16 + 1);
  const uint8_t options = in.Byte();
  const uint8_t mask = in.Byte();
  const uint32_t count = uint32_t(in.Byte()) | (uint32_t(in.Byte() & 3) << 8);
  const unsigned pointerCount = in.Byte() % 5;  // 0 or 1: interleaved; 2..4 planes

  TColorManager m;
  try {
    m.SetSourceColorScheme(source);
    m.SetTargetColorScheme(target);
    m.SetSourceBitsPerSample(sourceBits);
    m.SetTargetBitsPerSample(targetBits);
    m.SourceOptions = TConvertOptions::FromBits(options & 0x1D);
    m.TargetOptions = TConvertOptions::FromBits(options & 0x03);
    if (options & 0x20) m.SetGamma(float(in.Byte()) / 64, 2.2f);
    if (options & 0x40) m.SetYCbCrParameters({0.1f + in.Byte() / 400.0f, 0.3f + in.Byte() / 400.0f, 0.05f}, 2, 1);
  } catch (const EColorConversionError&) {
    return 0;
  }

  uint32_t selected = 0;
  for (uint32_t i = 0; i < count; ++i) selected += (mask >> (7 - i % 8)) & 1;

  // Bytes the configuration makes each side hold.
  const bool sourceIndexed = Indexed(source);
  const size_t sourceSampleBytes = sourceBits > 8 ? 2 : 1;
  std::vector<std::unique_ptr<uint8_t[]>> planes;
  std::vector<const void*> pointers;
  if (sourceIndexed && source != csGA) {
    const size_t bits = sourceBits == 16 ? 16 : sourceBits;
    planes.push_back(Block(in, (size_t(selected) * bits + 7) / 8));
  } else if (pointerCount <= 1 || sourceIndexed || (source == csCMYK && pointerCount != 4)) {
    // CMYK rows are planar only with four pointers; otherwise the first one is interleaved.
    planes.push_back(Block(in, size_t(selected) * Components(source) * sourceSampleBytes));
  } else {
    for (unsigned k = 0; k < pointerCount; ++k) planes.push_back(Block(in, size_t(selected) * sourceSampleBytes));
  }
  for (auto& p : planes) pointers.push_back(p.get());

  size_t targetBytes;
  if (Indexed(target)) {
    targetBytes = targetBits >= 16 ? size_t(count) * 2 : (size_t(count) * targetBits + 7) / 8;
    if (source == csGA || (source == csG && (sourceBits == 16 || targetBits == 16)))
      targetBytes = size_t(count) * (targetBits > 8 ? 2 : 1);
  } else {
    targetBytes = size_t(count) * (target == csRGBA || target == csBGRA ? 4 : 3) * (targetBits > 8 ? 2 : 1);
  }
  std::unique_ptr<uint8_t[]> row(new uint8_t[targetBytes ? targetBytes : 1]);
  try {
    m.ConvertRow(TPointerArray(pointers), row.get(), count, mask);
  } catch (const EColorConversionError&) {
  }

  // A palette in one of the raw layouts, with exactly ColorCount entries of data.
  const auto format = TRawPaletteFormat(in.Byte() % 9);
  const uint32_t colours = in.Byte();
  const bool wide = format >= pfInterlaced16Triple && format <= pfPlane16Quad;
  const bool quad = format == pfInterlaced8Quad || format == pfInterlaced16Quad;
  const bool planar =
      format == pfPlane8Triple || format == pfPlane8Quad || format == pfPlane16Triple || format == pfPlane16Quad;
  std::vector<std::unique_ptr<uint8_t[]>> paletteData;
  std::vector<const void*> palettePointers;
  const size_t entryBytes = (wide ? 2 : 1) * (planar ? 1 : quad ? 4 : 3);
  for (int k = 0; k < (planar ? 3 : 1); ++k) {
    paletteData.push_back(Block(in, size_t(colours) * entryBytes));
    palettePointers.push_back(paletteData.back().get());
  }
  const HPALETTE palette = m.CreateColorPalette(TPointerArray(palettePointers), format, colours, options & 0x80);
  if (palette && palette->size() > 256) __builtin_trap();
  const HPALETTE grey = m.CreateGrayscalePalette(options & 1);
  if (!grey || grey->size() > 256) __builtin_trap();
  return 0;
}
