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
#include "imaging/compression/RunLengthDecoders.h"
#include "imaging/formats/ReaderInput.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPCXGraphic, TFrameworkGraphic, &TPCXGraphic::CanLoad)

// The 128-byte header (ZSoft "PCX Technical Reference Manual", revision 5), words little-endian.
struct TPCXHeader {
  uint8_t Manufacturer, Version, Encoding, BitsPerPixel;
  uint16_t XMin, YMin, XMax, YMax, HRes, VRes;
  const uint8_t* ColorMap;  // 16 red, green, blue triples, in the bytes parsed
  uint8_t Planes;
  uint16_t BytesPerLine, PaletteInfo;
};

namespace {

constexpr int64_t kHeaderSize = 128;
constexpr int64_t kTrailerSize = 769;  // 0x0C and 256 red, green, blue triples

// The 16 colours of the system's default palette, which version 3 files (no palette information)
// are shown with.
constexpr TPaletteEntry kDefaultPalette16[16] = {
    {0, 0, 0, 0},     {128, 0, 0, 0},     {0, 128, 0, 0},     {128, 128, 0, 0},  {0, 0, 128, 0}, {128, 0, 128, 0},
    {0, 128, 128, 0}, {192, 192, 192, 0}, {128, 128, 128, 0}, {255, 0, 0, 0},    {0, 255, 0, 0}, {255, 255, 0, 0},
    {0, 0, 255, 0},   {255, 0, 255, 0},   {0, 255, 255, 0},   {255, 255, 255, 0}};

TPCXHeader ParseHeader(const uint8_t* b) {
  auto w = [b](int at) { return GetLE16(b + at); };
  return {b[0], b[1], b[2], b[3], w(4), w(6), w(8), w(10), w(12), w(14), b + 16, b[65], w(66), w(68)};
}

// A header without the manufacturer byte loads as an empty image.
bool IsPCXManufacturer(uint8_t b) { return b == 10 || b == 205; }

}  // namespace

bool TPCXGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[kHeaderSize];
  if (!PeekHeader(stream, bytes, kHeaderSize, kHeaderSize + 1)) return false;
  const TPCXHeader h = ParseHeader(bytes);
  const bool version = h.Version == 0 || h.Version == 2 || h.Version == 3 || h.Version == 5;
  return IsPCXManufacturer(h.Manufacturer) && version && h.Encoding <= 1;
}

bool TPCXGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[kHeaderSize];
  stream.ReadBuffer(bytes, kHeaderSize);
  const TPCXHeader h = ParseHeader(bytes);
  if (!IsPCXManufacturer(h.Manufacturer)) return false;
  TImageProperties& p = ImageProperties;
  // A window whose right or bottom edge lies before its left or top edge is an empty image.
  p.Width = h.XMax >= h.XMin ? uint32_t{h.XMax} - h.XMin + 1 : 0;
  p.Height = h.YMax >= h.YMin ? uint32_t{h.YMax} - h.YMin + 1 : 0;
  p.SetLayout(h.BitsPerPixel * h.Planes <= 8 ? csIndexed : csRGB, h.BitsPerPixel, h.Planes,
              h.Encoding == 1 ? ctRLE : ctNone);
  p.XResolution = h.HRes;
  p.YResolution = h.VRes;
  return true;
}

void TPCXGraphic::SetupPalette(TStream& stream, const TPCXHeader& h) {
  TColorManager& cm = ColorManager();
  const TPixelFormat format = PixelFormat();
  if (format == TPixelFormat::pf24bit) return;
  if (h.Version == 3 && format != TPixelFormat::pf1bit) {
    SetPalette(CreatePalette(kDefaultPalette16, 16));
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

void TPCXGraphic::LoadImage(TStream& stream) {
  const TImageProperties& p = ImageProperties;
  uint8_t bytes[kHeaderSize];
  stream.ReadBuffer(bytes, kHeaderSize);
  const TPCXHeader h = ParseHeader(bytes);
  int64_t dataSize = stream.Remaining();

  // The plane and depth combinations that have a bitmap layout; any other (two planes, 16-bit
  // samples, ...) would make the row converter read or write past a row.
  const bool known =
      (h.Planes == 1 && (h.BitsPerPixel == 1 || h.BitsPerPixel == 2 || h.BitsPerPixel == 4 || h.BitsPerPixel == 8)) ||
      ((h.Planes == 3 || h.Planes == 4) && (h.BitsPerPixel == 1 || h.BitsPerPixel == 8));
  if (!known) throw EInvalidGraphic(Format(gesInvalidColorFormat, lblPCX));
  const TColorScheme targetScheme = p.ColorScheme == csIndexed ? csIndexed : csBGR;
  const uint8_t targetBits = p.BitsPerPixel == 2 ? 4 : p.BitsPerSample;
  TPixelFormat format =
      SetupColors({p.ColorScheme, p.BitsPerSample, p.SamplesPerPixel, targetScheme, targetBits, p.SamplesPerPixel, {}});
  // Three or four planes of one bit (EGA): the planes' bits form the palette index.
  const bool bitPlanes = (p.SamplesPerPixel == 3 || p.SamplesPerPixel == 4) && p.BitsPerSample == 1;
  if (bitPlanes) {
    format = TPixelFormat::pf4bit;
    SetPixelFormat(format);
  } else if (format == TPixelFormat::pfCustom) {
    throw EInvalidGraphic(Format(gesInvalidColorFormat, lblPCX));
  }
  if (format == TPixelFormat::pf8bit) dataSize -= kTrailerSize;
  SetupPalette(stream, h);

  // Each plane row must hold the bits of a whole row of pixels.
  const uint64_t rowBits = CheckedMul(p.Width, h.BitsPerPixel, lblPCX);
  if (uint64_t{h.BytesPerLine} * 8 < rowBits) throw EInvalidGraphic(Format(gesInvalidImage, lblPCX));
  const size_t planeBytes = h.BytesPerLine;
  const size_t stride = h.Planes * planeBytes;
  const size_t total = CheckedSize(CheckedMul(stride, p.Height, lblPCX), lblPCX);
  if (dataSize < 0) dataSize = 0;
  // Raw data takes its full size; run-length data (at most 63 bytes a pair) at least 2 bytes per 63.
  CheckImageSize(p.Width, p.Height, BitsPerPixel());
  if (static_cast<uint64_t>(dataSize) < (h.Encoding == 1 ? total / 63 * 2 : total)) throw EReadError();
  SizeFromProperties();

  BeginRows();
  const uint32_t width = p.Width;
  TColorManager& cm = ColorManager();
  // A run may go on past the end of a scan line (ZSoft's encoder stops at each line, others do
  // not): the decoder keeps its remainder for the next line.
  TReaderInput input(stream, static_cast<uint64_t>(dataSize));
  TPCXRLEDecoder decoder;
  std::vector<uint8_t> line(stride);
  for (uint32_t r = 0; r < p.Height; ++r) {
    const uint8_t* row = line.data();
    if (h.Encoding == 1) {
      input.DecodeRow(decoder, line.data(), stride, stride);
    } else {
      row = input.Need(stride);
      input.Consume(stride);
    }
    uint8_t* target = RowData(static_cast<int>(r));
    if (bitPlanes) {
      // Pixel value = plane 3 × 8 + plane 2 × 4 + plane 1 × 2 + plane 0, two pixels a byte.
      std::fill_n(target, (width * 4 + 7) / 8, 0);
      for (uint32_t x = 0; x < width; ++x) {
        const size_t byte = x / 8;
        const int bit = 7 - static_cast<int>(x % 8);
        uint8_t v = 0;
        for (size_t k = h.Planes; k-- > 0;)
          v = static_cast<uint8_t>((v << 1) | ((row[k * planeBytes + byte] >> bit) & 1));
        target[x / 2] |= static_cast<uint8_t>((x % 2) ? v : v << 4);
      }
    } else if (format == TPixelFormat::pf24bit && h.Planes == 3) {
      cm.ConvertRow({row, row + planeBytes, row + 2 * planeBytes}, target, width, 0xFF);
    } else {
      cm.ConvertRow(row, target, width, 0xFF);
    }
    RowProgress(r + 1, p.Height);
  }
}

}  // namespace muralo
