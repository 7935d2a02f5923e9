#include "imaging/formats/AutodeskGraphic.h"

#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TAutodeskGraphic, TFrameworkGraphic, &TAutodeskGraphic::CanLoad)

TAutodeskHeader ParseAutodeskHeader(const uint8_t (&b)[AutodeskHeaderSize]) {
  TAutodeskHeader h;
  h.Magic = GetLE16(b);
  h.Width = GetLE16(b + 2);
  h.Height = GetLE16(b + 4);
  h.XOffset = GetLE16(b + 6);
  h.YOffset = GetLE16(b + 8);
  h.BitsPerPixel = b[10];
  h.Compression = b[11];
  h.ImageSize = uint32_t{GetLE16(b + 12)} | (uint32_t{GetLE16(b + 14)} << 16);
  return h;
}

bool IsValidAutodeskHeader(const TAutodeskHeader& h) {
  return h.Magic == AutodeskMagic && h.BitsPerPixel == 8 && h.Compression == 0;
}

bool TAutodeskGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[AutodeskHeaderSize];
  if (!PeekHeader(stream, bytes, AutodeskHeaderSize, AutodeskHeaderSize + 1)) return false;
  return IsValidAutodeskHeader(ParseAutodeskHeader(bytes));
}

bool TAutodeskGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[AutodeskHeaderSize];
  const uint16_t magic = ReadLE16(stream);
  if (magic != AutodeskMagic) return false;
  bytes[0] = static_cast<uint8_t>(magic);
  bytes[1] = static_cast<uint8_t>(magic >> 8);
  stream.ReadBuffer(bytes + 2, AutodeskHeaderSize - 2);
  const TAutodeskHeader h = ParseAutodeskHeader(bytes);
  TImageProperties& p = ImageProperties;
  p.Width = h.Width;
  p.Height = h.Height;
  p.SetLayout(csIndexed, 8, 1, ctNone);
  return true;
}

const char* TAutodeskGraphic::RefusedHeaderLabel() const { return lblAutodesk; }

void TAutodeskGraphic::LoadImage(TStream& stream) {
  stream.Seek(AutodeskHeaderSize, TSeekOrigin::soCurrent);
  uint8_t raw[256 * 3];
  stream.ReadBuffer(raw, sizeof raw);
  std::vector<TPaletteEntry> entries(256);
  // Components run from 0 to 63 (VGA DAC levels); shifting by two gives 0..252.
  for (size_t i = 0; i < 256; ++i)
    entries[i] = TPaletteEntry{static_cast<uint8_t>(raw[3 * i] << 2), static_cast<uint8_t>(raw[3 * i + 1] << 2),
                               static_cast<uint8_t>(raw[3 * i + 2] << 2), 0};
  SetPixelFormat(TPixelFormat::pf8bit);
  SetPalette(CreatePalette(entries));
  // Rows are stored whole, one byte a pixel.
  SizeFromProperties(stream, uint64_t{ImageProperties.Width} * ImageProperties.Height);
  const uint32_t height = ImageProperties.Height;
  for (uint32_t y = 0; y < height; ++y) {
    stream.ReadBuffer(RowData(static_cast<int>(y)), ImageProperties.Width);
    RowProgress(y + 1, height);
  }
}

}  // namespace muralo
