#include "imaging/formats/TargaGraphic.h"

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

MURALO_DEFINE_GRAPHIC_CLASS(TTargaGraphic, TFrameworkGraphic, &TTargaGraphic::CanLoad)

// The 18-byte file header (Truevision TGA File Format 2.0, table 1), multi-byte fields little-endian.
struct TTargaHeader {
  uint8_t IDLength, ColorMapType, ImageType;
  uint16_t ColorMapStart, ColorMapLength;
  uint8_t ColorMapEntrySize;
  uint16_t Width, Height;  // the origin (bytes 8 to 11) is not used
  uint8_t PixelSize, ImageDescriptor;
};

namespace {

constexpr int64_t kHeaderSize = 18;

TTargaHeader ParseHeader(const uint8_t* b) {
  return {b[0], b[1], b[2], GetLE16(b + 3), GetLE16(b + 5), b[7], GetLE16(b + 12), GetLE16(b + 14), b[16], b[17]};
}

bool IsKnownDepth(uint8_t bits) { return bits == 8 || bits == 15 || bits == 16 || bits == 24 || bits == 32; }
// Colour map entries are 15, 16, 24 or 32 bits (TGA 2.0, field 4.3); 8-bit entries do not exist.
bool IsKnownEntrySize(uint8_t bits) { return bits == 15 || bits == 16 || bits == 24 || bits == 32; }

// Bytes of one stored pixel or colour map entry: 15 and 16 bits take two bytes.
uint32_t BytesOfDepth(uint8_t bits) { return (bits + 7u) / 8u; }

bool IsRLEType(uint8_t type) { return type == 9 || type == 10 || type == 11; }
bool IsGreyType(uint8_t type) { return type == 3 || type == 11; }

// A 5-5-5 colour word as the bitmap palette wants it.
TPaletteEntry Entry555(uint16_t w) {
  return TPaletteEntry{static_cast<uint8_t>((w & 0x7C00) >> 7), static_cast<uint8_t>((w & 0x3E0) >> 2),
                       static_cast<uint8_t>((w & 0x1F) << 3), 0};
}

}  // namespace

bool TTargaGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[kHeaderSize];
  if (!PeekHeader(stream, bytes, kHeaderSize, kHeaderSize + 1)) return false;
  const TTargaHeader h = ParseHeader(bytes);
  const bool knownType = h.ImageType <= 3 || IsRLEType(h.ImageType);
  return IsKnownDepth(h.PixelSize) && knownType && h.ColorMapType <= 1 && IsKnownEntrySize(h.ColorMapEntrySize);
}

bool TTargaGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[kHeaderSize];
  stream.ReadBuffer(bytes, kHeaderSize);
  const TTargaHeader h = ParseHeader(bytes);
  TImageProperties& p = ImageProperties;
  p.Width = h.Width;
  p.Height = h.Height;
  // The bitmap's layout for each pixel size; other sizes keep no scheme and no samples.
  const TCompressionType compression = IsRLEType(h.ImageType) ? ctRLE : ctNone;
  p.SetLayout(csUnknown, 8, 0, compression);
  if (h.PixelSize == 8) p.SetLayout(IsGreyType(h.ImageType) ? csG : csIndexed, 8, 1, compression);
  if (h.PixelSize == 15 || h.PixelSize == 16) p.SetLayout(csRGB, 5, 3, compression);
  if (h.PixelSize == 24) p.SetLayout(csRGB, 8, 3, compression);
  if (h.PixelSize == 32) p.SetLayout(csRGBA, 8, 4, compression);
  return true;
}

void TTargaGraphic::ReadColorMap(TStream& stream, const TTargaHeader& h) {
  const uint32_t entryBytes = BytesOfDepth(h.ColorMapEntrySize);
  // The whole colour map is consumed so that the pixels are read from the right place.
  const std::vector<uint8_t> map = ReadBytes(stream, int64_t{h.ColorMapLength} * entryBytes);
  if (IsGreyType(h.ImageType) || !IsKnownEntrySize(h.ColorMapEntrySize)) return;
  // A pixel value v shows entry v - first (TGA 2.0 field 4.1); the palette keeps the values up to
  // 255, and values without an entry are black.
  const uint32_t first = h.ColorMapStart;
  if (h.ColorMapLength == 0 || first >= 256) return;
  const uint32_t count = std::min<uint32_t>(uint32_t{h.ColorMapLength} + first, 256);
  if (h.ColorMapEntrySize == 24 || h.ColorMapEntrySize == 32) {
    std::vector<uint8_t> entries(size_t{count} * entryBytes, 0);
    std::copy_n(map.begin(), size_t{count - first} * entryBytes, entries.begin() + ptrdiff_t(first * entryBytes));
    SetPalette(ColorManager().CreateColorPalette(
        entries.data(), h.ColorMapEntrySize == 24 ? pfInterlaced8Triple : pfInterlaced8Quad, count, true));
    return;
  }
  std::vector<TPaletteEntry> entries(count, TPaletteEntry{0, 0, 0, 0});
  for (uint32_t i = first; i < count; ++i) entries[i] = Entry555(GetLE16(map.data() + 2 * (i - first)));
  SetPalette(CreatePalette(entries));
}

void TTargaGraphic::ReadRows(TStream& stream, const TTargaHeader& h) {
  const size_t rowSize = size_t{h.Width} * BytesOfDepth(h.PixelSize);
  const bool rle = IsRLEType(h.ImageType);
  // Image type 0 (and any unknown type) has no pixel data: the bitmap keeps its size.
  if ((!rle && (h.ImageType < 1 || h.ImageType > 3)) || rowSize == 0) return;
  // Run-length packets may carry their pixels past the end of a row into the next one, as older
  // writers store them: the decoder keeps the packet in progress from row to row.
  TReaderInput input(stream);
  TTargaRLEDecoder decoder(h.PixelSize);
  for (uint32_t r = 0; r < h.Height; ++r) {
    uint8_t* target = RowData(static_cast<int>((h.ImageDescriptor & 0x20) ? r : h.Height - 1 - r));
    if (rle) {
      input.DecodeRow(decoder, target, h.Width, rowSize);
    } else {
      std::memcpy(target, input.Need(rowSize), rowSize);
      input.Consume(rowSize);
    }
    RowProgress(r + 1, h.Height);
  }
}

void TTargaGraphic::LoadImage(TStream& stream) {
  uint8_t bytes[kHeaderSize];
  stream.ReadBuffer(bytes, kHeaderSize);
  const TTargaHeader h = ParseHeader(bytes);
  // Pixel sizes other than 8, 15, 16, 24 and 32 have no layout in the format and are refused.
  if (!IsKnownDepth(h.PixelSize)) throw EInvalidGraphic(Format(gesInvalidImage, lblTarga));
  stream.Seek(h.IDLength, TSeekOrigin::soCurrent);

  const TImageProperties& p = ImageProperties;
  SetupColors({p.ColorScheme, p.BitsPerSample, p.SamplesPerPixel, csBGR, p.BitsPerSample, p.SamplesPerPixel, {}});
  if (IsGreyType(h.ImageType)) SetPalette(ColorManager().CreateGrayscalePalette(false));
  if (h.ColorMapType == 1) ReadColorMap(stream, h);

  // Raw rows take their full size; run-length data at least one byte per 128 pixels.
  const uint64_t pixels = uint64_t{h.Width} * h.Height;
  SizeFromProperties(stream, IsRLEType(h.ImageType) ? (pixels + 127) / 128 : pixels * BytesOfDepth(h.PixelSize));
  BeginRows();
  ReadRows(stream, h);
}

void TTargaGraphic::SaveToStream(TStream& stream) { SaveToStream(stream, true); }

void TTargaGraphic::SaveToStream(TStream& stream, bool Compressed) {
  InitProgress(static_cast<uint32_t>(Width()));
  TProgressScope finish([this] { EndProgress(); });
  StartProgress(gesPreparing);

  if (PixelFormat() == TPixelFormat::pf1bit || PixelFormat() == TPixelFormat::pf4bit)
    SetPixelFormat(TPixelFormat::pf8bit);
  // Device and custom formats are written with the depth the bitmap stores them in.
  const uint32_t pixelBytes = BitsPerPixel() / 8;
  if (Empty()) return;

  if (Width() > 0xFFFF || Height() > 0xFFFF) throw EInvalidGraphic(Format(gesInvalidImage, lblTarga));
  const auto width = static_cast<uint16_t>(Width()), height = static_cast<uint16_t>(Height());
  const auto bits = static_cast<uint8_t>(pixelBytes * 8);
  // No image ID; a colour map (256 entries of 24 bits announced in every file) for 8-bit pixels;
  // origin 0, 0; rows top row first, as descriptor bit 5 says (TGA 2.0: upper-left origin).
  const auto type = static_cast<uint8_t>((pixelBytes == 1 ? 1 : 2) + (Compressed ? 8 : 0));
  uint8_t header[kHeaderSize] = {0, pixelBytes == 1, type, 0, 0, 0, 1, 24};
  PutLE16(header + 12, width);
  PutLE16(header + 14, height);
  header[16] = bits;
  header[17] = 0x20;
  stream.WriteBuffer(header, kHeaderSize);

  if (pixelBytes == 1) {
    // Entries past the bitmap's palette are written black.
    uint8_t map[256 * 3] = {};
    if (HPALETTE pal = Palette()) {
      for (size_t i = 0; i < std::min<size_t>(pal->size(), 256); ++i) {
        map[3 * i] = (*pal)[i].Blue;
        map[3 * i + 1] = (*pal)[i].Green;
        map[3 * i + 2] = (*pal)[i].Red;
      }
    }
    stream.WriteBuffer(map, sizeof map);
  }

  const uint32_t rowSize = static_cast<uint32_t>(Width()) * pixelBytes;
  BeginRows();

  TTargaRLEDecoder encoder(bits);
  std::vector<uint8_t> packed(Compressed ? std::max<size_t>(size_t{2} * rowSize, encoder.MaxEncodedSize(width)) : 0);
  std::vector<uint8_t> row(rowSize);
  const bool is565 = PixelFormat() == TPixelFormat::pf16bit;
  for (int y = 0; y < Height(); ++y) {
    std::copy_n(RowData(y), rowSize, row.data());
    if (is565) {
      // Targa's 16-bit pixels are 5-5-5; a 5-6-5 bitmap drops the low green bit.
      for (uint32_t x = 0; x < static_cast<uint32_t>(Width()); ++x) {
        const uint16_t w = GetLE16(row.data() + 2 * x);
        PutLE16(row.data() + 2 * x, static_cast<uint16_t>(((w & 0xF800) >> 1) | ((w & 0x07C0) >> 1) | (w & 0x1F)));
      }
    }
    if (Compressed) {
      size_t stored = 0;
      encoder.Encode(row.data(), packed.data(), width, stored);
      stream.WriteBuffer(packed.data(), static_cast<int64_t>(stored));
    } else {
      stream.WriteBuffer(row.data(), rowSize);
    }
    Progress(TProgressStage::psRunning, 0, false, ProgressRect, "");
    ProgressRect.Top += 1;
    ProgressRect.Bottom += 1;
  }
}

}  // namespace muralo
