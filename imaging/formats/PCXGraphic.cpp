#include "imaging/formats/PCXGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TFrameworkGraphic, &TPCXGraphic::CanLoad)

const TPaletteEntry DefaultPalette16[16] = {
    {0, 0, 0, 0},       {128, 0, 0, 0},   {0, 128, 0, 0},   {128, 128, 0, 0}, {0, 0, 128, 0},    {128, 0, 128, 0},
    {0, 128, 128, 0},   {192, 192, 192, 0}, {128, 128, 128, 0}, {255, 0, 0, 0}, {0, 255, 0, 0},    {255, 255, 0, 0},
    {0, 0, 255, 0},     {255, 0, 255, 0}, {0, 255, 255, 0}, {255, 255, 255, 0}};

namespace {

constexpr const char* kLabel = "PCX";
constexpr int64_t kTrailerSize = 769;  // 0x0C and 256 red, green, blue triples


// Bytes a PCX run-length stream yields before its input ends, up to `wanted` (ZSoft: a byte with
// both top bits set is a count of (byte & 0x3F) copies of the next byte).
uint64_t PCXDecodedLength(const uint8_t* data, uint64_t size, uint64_t wanted) {
  uint64_t in = 0, out = 0;
  while (out < wanted && in < size) {
    if ((data[in] & 0xC0) == 0xC0) {
      if (in + 1 >= size) break;
      out += data[in] & 0x3F;
      in += 2;
    } else {
      ++out;
      ++in;
    }
  }
  return std::min(out, wanted);
}

}  // namespace

TPCXHeader ParsePCXHeader(const uint8_t (&b)[PCXHeaderSize]) {
  TPCXHeader h;
  h.Manufacturer = b[0];
  h.Version = b[1];
  h.Encoding = b[2];
  h.BitsPerPixel = b[3];
  h.XMin = GetLE16(b + 4);
  h.YMin = GetLE16(b + 6);
  h.XMax = GetLE16(b + 8);
  h.YMax = GetLE16(b + 10);
  h.HRes = GetLE16(b + 12);
  h.VRes = GetLE16(b + 14);
  std::memcpy(h.ColorMap, b + 16, sizeof h.ColorMap);
  h.Reserved = b[64];
  h.Planes = b[65];
  h.BytesPerLine = GetLE16(b + 66);
  h.PaletteInfo = GetLE16(b + 68);
  return h;
}

bool IsValidPCXHeader(const TPCXHeader& h) {
  const bool maker = h.Manufacturer == 10 || h.Manufacturer == 205;
  const bool version = h.Version == 0 || h.Version == 2 || h.Version == 3 || h.Version == 5;
  return maker && version && h.Encoding <= 1;
}

bool TPCXGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[PCXHeaderSize];
  if (!PeekHeader(stream, bytes, PCXHeaderSize, PCXHeaderSize + 1)) return false;
  return IsValidPCXHeader(ParsePCXHeader(bytes));
}

bool TPCXGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[PCXHeaderSize];
  stream.ReadBuffer(bytes, PCXHeaderSize);
  const TPCXHeader h = ParsePCXHeader(bytes);
  if (h.Manufacturer != 10 && h.Manufacturer != 205) return false;
  TImageProperties& p = ImageProperties;
  // A window whose right or bottom edge lies before its left or top edge is an empty image.
  p.Width = h.XMax >= h.XMin ? uint32_t{h.XMax} - h.XMin + 1 : 0;
  p.Height = h.YMax >= h.YMin ? uint32_t{h.YMax} - h.YMin + 1 : 0;
  p.SamplesPerPixel = h.Planes;
  p.BitsPerSample = h.BitsPerPixel;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  p.ColorScheme = p.BitsPerSample * p.SamplesPerPixel <= 8 ? csIndexed : csRGB;
  p.Compression = h.Encoding == 1 ? ctRLE : ctNone;
  p.XResolution = h.HRes;
  p.YResolution = h.VRes;
  return true;
}

void TPCXGraphic::SetupPalette(TStream& stream, const TPCXHeader& h) {
  TColorManager& cm = ColorManager();
  const TPixelFormat format = PixelFormat();
  if (format == TPixelFormat::pf24bit) return;
  if (h.Version == 3 && format != TPixelFormat::pf1bit) {
    SetPalette(CreatePalette(DefaultPalette16, 16));
  } else if (format == TPixelFormat::pf1bit) {
    SetPalette(cm.CreateGrayscalePalette(false));
  } else if (format == TPixelFormat::pf4bit) {
    SetPalette(h.PaletteInfo == 2 ? cm.CreateGrayscalePalette(false)
                                  : cm.CreateColorPalette(h.ColorMap, pfInterlaced8Triple, 16, false));
  } else if (format == TPixelFormat::pf8bit) {
    const int64_t resume = stream.Position();
    const int64_t size = stream.Size();
    bool found = false;
    if (size >= kTrailerSize) {
      stream.SetPosition(size - kTrailerSize);
      uint8_t trailer[kTrailerSize];
      if (stream.Read(trailer, kTrailerSize) == kTrailerSize && trailer[0] == 0x0C) {
        SetPalette(cm.CreateColorPalette(trailer + 1, pfInterlaced8Triple, 256, false));
        found = true;
      }
    }
    if (!found && h.PaletteInfo == 2) SetPalette(cm.CreateGrayscalePalette(false));
    stream.SetPosition(resume);
  }
}

void TPCXGraphic::LoadFromStream(TStream& stream) {
  ReleaseImage();
  BasePosition = stream.Position();
  if (!ReadImageProperties(stream, 0)) return;
  stream.SetPosition(BasePosition);
  const TImageProperties& p = ImageProperties;

  InitProgress(p.Width);
  TProgressScope finish([this] { EndProgress(); });
  StartProgress(gesPreparing);
  uint8_t bytes[PCXHeaderSize];
  stream.ReadBuffer(bytes, PCXHeaderSize);
  const TPCXHeader h = ParsePCXHeader(bytes);
  int64_t dataSize = stream.Size() - stream.Position();

  // The plane and depth combinations that have a bitmap layout; any other (two planes, 16-bit
  // samples, ...) would make the row converter read or write past a row.
  const bool known = (h.Planes == 1 && (h.BitsPerPixel == 1 || h.BitsPerPixel == 2 || h.BitsPerPixel == 4 ||
                                        h.BitsPerPixel == 8)) ||
                     ((h.Planes == 3 || h.Planes == 4) && (h.BitsPerPixel == 1 || h.BitsPerPixel == 8));
  if (!known) throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel));
  TColorManager& cm = ColorManager();
  cm.SetSourceColorScheme(p.ColorScheme);
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetColorScheme(p.ColorScheme == csIndexed ? csIndexed : csBGR);
  cm.SetTargetBitsPerSample(p.BitsPerPixel == 2 ? 4 : p.BitsPerSample);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  TPixelFormat format = cm.GetPixelFormat(1);
  const bool fourPlanes = p.SamplesPerPixel == 4 && p.BitsPerPixel == 4;
  if (format == TPixelFormat::pfCustom) {
    if (!fourPlanes) throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel));
    format = TPixelFormat::pf4bit;
  }
  SetPixelFormat(format);
  if (format == TPixelFormat::pf8bit) dataSize -= kTrailerSize;
  SetupPalette(stream, h);

  // Each plane row must hold the bits of a whole row of pixels.
  const uint64_t rowBits = CheckedMul(p.Width, h.BitsPerPixel, kLabel);
  if (uint64_t{h.BytesPerLine} * 8 < rowBits) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
  SizeFromProperties();
  const uint64_t stride = uint64_t{h.Planes} * h.BytesPerLine;
  const uint64_t total = CheckedMul(stride, p.Height, kLabel);
  CheckAllocation(total);
  if (dataSize < 0) dataSize = 0;

  std::vector<uint8_t> image;
  if (h.Encoding == 1) {
    const std::vector<uint8_t> packed = ReadBytes(stream, dataSize);
    // Run-length data that ends before the last row is complete is a truncated file.
    if (PCXDecodedLength(packed.data(), packed.size(), total) < total) throw EReadError();
    image.resize(total);
    TPCXRLEDecoder decoder;
    const uint8_t* source = packed.data();
    uint8_t* dest = image.data();
    decoder.Decode(source, dest, static_cast<int32_t>(std::min<uint64_t>(packed.size(), INT32_MAX)),
                   static_cast<int32_t>(total));
  } else {
    if (static_cast<uint64_t>(dataSize) < total) throw EReadError();
    image = ReadBytes(stream, static_cast<int64_t>(total));
  }

  Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");
  StartProgress(gesTransfering);
  const uint32_t width = p.Width;
  for (uint32_t r = 0; r < p.Height; ++r) {
    const uint8_t* row = image.data() + r * stride;
    uint8_t* target = RowData(static_cast<int>(r));
    if (fourPlanes) {
      // Pixel value = plane 3 × 8 + plane 2 × 4 + plane 1 × 2 + plane 0, two pixels a byte.
      const uint8_t* plane[4] = {row, row + h.BytesPerLine, row + 2 * h.BytesPerLine, row + 3 * h.BytesPerLine};
      std::fill_n(target, (width * 4 + 7) / 8, 0);
      for (uint32_t x = 0; x < width; ++x) {
        const uint32_t byte = x / 8;
        const int bit = 7 - static_cast<int>(x % 8);
        uint8_t v = 0;
        for (int k = 3; k >= 0; --k) v = static_cast<uint8_t>((v << 1) | ((plane[k][byte] >> bit) & 1));
        target[x / 2] |= static_cast<uint8_t>((x % 2) ? v : v << 4);
      }
    } else if (format == TPixelFormat::pf24bit && h.Planes == 3) {
      cm.ConvertRow({row, row + h.BytesPerLine, row + 2 * h.BytesPerLine}, target, width, 0xFF);
    } else {
      cm.ConvertRow(row, target, width, 0xFF);
    }
    RowProgress(r + 1, p.Height);
  }
  Modified();
}

}  // namespace muralo
