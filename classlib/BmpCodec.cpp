// Windows bitmap files: reading (core, info, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits; RLE4,
// RLE8 and bit fields; bottom-up and top-down) and writing (uncompressed, in the bitmap's format).
#include <algorithm>
#include <bit>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"

namespace muralo {

namespace {

constexpr uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3, BI_JPEG = 4, BI_PNG = 5,
                   BI_ALPHABITFIELDS = 6;
constexpr uint32_t kFileHeaderSize = 14;

[[noreturn]] void Invalid(const std::string& why) { throw EInvalidGraphic(Format(SBmpInvalid, why)); }

struct BmpHeader {
  uint32_t offBits = 0;
  uint32_t headerSize = 0;
  int64_t width = 0, height = 0;  // height < 0: top-down
  uint16_t bitCount = 0;
  uint32_t compression = BI_RGB;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
  uint32_t masks[4] = {0, 0, 0, 0};  // red, green, blue, alpha
  bool core = false;
};

// Step 1: the file header and the bitmap header, read as they stand.
BmpHeader ReadHeader(TStream& s) {
  BmpHeader h;
  if (ReadLE16(s) != 0x4D42) Invalid(SBmpNoSignature);
  ReadLE32(s);  // file size: often wrong in the wild, not used
  ReadLE32(s);  // reserved
  h.offBits = ReadLE32(s);
  h.headerSize = ReadLE32(s);
  if (h.headerSize == 12) {
    // BITMAPCOREHEADER
    h.core = true;
    h.width = ReadLE16(s);
    h.height = ReadLE16(s);
    ReadLE16(s);  // planes
    h.bitCount = ReadLE16(s);
    return h;
  }
  if (h.headerSize < 40 || h.headerSize > 1024) Invalid(Format(SBmpHeaderSize, h.headerSize));
  std::vector<uint8_t> rest = ReadBytes(s, h.headerSize - 4);
  auto le32 = [&](size_t at) {
    return uint32_t(rest[at]) | uint32_t(rest[at + 1]) << 8 | uint32_t(rest[at + 2]) << 16 |
           uint32_t(rest[at + 3]) << 24;
  };
  h.width = static_cast<int32_t>(le32(0));
  h.height = static_cast<int32_t>(le32(4));
  h.bitCount = static_cast<uint16_t>(rest[10] | rest[11] << 8);
  h.compression = le32(12);
  h.sizeImage = le32(16);
  h.clrUsed = le32(28);
  // V2/V3/V4/V5 headers carry the masks in the header itself (offset 40 of the header).
  for (unsigned i = 0; i < 4 && 36 + 4 * i + 4 <= rest.size(); ++i) h.masks[i] = le32(36 + 4 * i);
  if (h.headerSize == 40 && (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS)) {
    // BITMAPINFOHEADER: the masks follow the header
    const unsigned n = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
    for (unsigned i = 0; i < n; ++i) h.masks[i] = ReadLE32(s);
  }
  return h;
}

// Step 2: what we can decode.
void Validate(const BmpHeader& h) {
  if (h.width < 0) Invalid(Format(SBmpNegativeWidth, h.width));
  switch (h.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      Invalid(Format(SBitsPerPixel, h.bitCount));
  }
  switch (h.compression) {
    case BI_RGB:
      break;
    case BI_RLE8:
      if (h.bitCount != 8) Invalid(SBmpRle8Depth);
      break;
    case BI_RLE4:
      if (h.bitCount != 4) Invalid(SBmpRle4Depth);
      break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
      if (h.bitCount != 16 && h.bitCount != 32) Invalid(SBmpBitFieldsDepth);
      if (h.masks[0] == 0 && h.masks[1] == 0 && h.masks[2] == 0) Invalid(SBmpNullMasks);
      break;
    case BI_JPEG:
    case BI_PNG:
      Invalid(SBmpEmbeddedImage);
    default:
      Invalid(Format(SBmpUnknownCompression, h.compression));
  }
}

// One colour channel described by a mask: its shift and its maximum value.
struct Channel {
  unsigned shift = 0;
  uint32_t max = 0;
  explicit Channel(uint32_t mask) {
    if (mask == 0) return;
    shift = static_cast<unsigned>(std::countr_zero(mask));
    max = mask >> shift;
  }
  uint8_t Get(uint32_t v) const {
    if (max == 0) return 0;
    const uint64_t value = (v >> shift) & max;
    return static_cast<uint8_t>((value * 255 + max / 2) / max);
  }
};

// RLE4 and RLE8 (bottom-up by definition; a top-down file is accepted and flipped). Pixels that the
// data never sets keep index 0. A run or absolute block past the row's end is cut at the boundary;
// data that ends before the end-of-bitmap mark and before the last row raises EReadError.
void DecodeRle(const std::vector<uint8_t>& in, bool rle4, int width, int height, bool topDown, TBitmap& b) {
  size_t p = 0;
  int x = 0, y = 0;  // y counts rows from the bottom
  auto put = [&](unsigned index) {
    if (x < width && y < height) {
      uint8_t* row = b.RowData(topDown ? y : height - 1 - y);
      if (rle4) {
        uint8_t& byte = row[x / 2];
        byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | (index & 0x0F))
                       : static_cast<uint8_t>((byte & 0x0F) | (index << 4));
      } else {
        row[x] = static_cast<uint8_t>(index);
      }
    }
    ++x;
  };
  while (y < height) {
    if (p + 2 > in.size()) throw EReadError();
    const unsigned count = in[p], value = in[p + 1];
    p += 2;
    if (count > 0) {
      const unsigned n = std::min<unsigned>(count, x < width ? unsigned(width - x) : 0u);
      for (unsigned i = 0; i < n; ++i) put(rle4 ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      x += int(count - n);
      continue;
    }
    switch (value) {
      case 0:
        x = 0, ++y;
        break;  // end of line
      case 1:
        return;  // end of bitmap
      case 2: {  // delta
        if (p + 2 > in.size()) throw EReadError();
        x += in[p];
        y += in[p + 1];
        p += 2;
        break;
      }
      default: {  // absolute block of value pixels, padded to a 16-bit word
        const size_t bytes = rle4 ? (value + 1) / 2 : value;
        const size_t padded = (bytes + 1) & ~size_t(1);
        if (p + bytes > in.size()) throw EReadError();
        for (unsigned i = 0; i < value; ++i) {
          if (x >= width) break;
          put(rle4 ? ((i & 1) ? in[p + i / 2] & 0x0F : in[p + i / 2] >> 4) : in[p + i]);
        }
        p += std::min(padded, in.size() - p);
        break;
      }
    }
    if (x > width) x = width;
  }
}

}  // namespace

void TBitmap::LoadFromStream(TStream& stream) {
  const int64_t start = stream.Position();
  const BmpHeader h = ReadHeader(stream);
  Validate(h);
  const bool topDown = h.height < 0;
  const int64_t height64 = topDown ? -h.height : h.height;
  CheckImageSize(static_cast<uint64_t>(h.width), static_cast<uint64_t>(height64), h.bitCount);
  const int width = static_cast<int>(h.width), height = static_cast<int>(height64);

  // The colour table: RGBTRIPLEs after a core header, RGBQUADs otherwise. A table shorter than its
  // declared count (the pixel data starts earlier) is cut there and the missing entries read as
  // black, as other readers do.
  const int64_t tableStart = stream.Position();
  const unsigned entrySize = h.core ? 3 : 4;
  uint64_t entries = h.clrUsed;
  if (entries == 0 && h.bitCount <= 8) entries = uint64_t(1) << h.bitCount;
  if (h.core && h.bitCount > 8) entries = 0;
  if (h.offBits != 0 && h.offBits >= uint64_t(tableStart - start)) {
    const uint64_t room = (h.offBits - uint64_t(tableStart - start)) / entrySize;
    entries = std::min(entries, room);
  }
  std::vector<TPaletteEntry> palette;
  const uint64_t used = std::min<uint64_t>(entries, 256);
  for (uint64_t i = 0; i < used; ++i) {
    uint8_t q[4] = {0, 0, 0, 0};
    stream.ReadBuffer(q, entrySize);
    if (h.bitCount <= 8) palette.push_back({q[2], q[1], q[0], 0});
  }
  // The pixel data starts at bfOffBits when it points past the tables; otherwise right after them.
  int64_t dataStart = tableStart + int64_t(entries) * entrySize;
  if (h.offBits != 0 && int64_t(h.offBits) >= tableStart - start + int64_t(used) * entrySize)
    dataStart = start + int64_t(h.offBits);
  if (dataStart > stream.Size()) throw EReadError();
  stream.SetPosition(dataStart);

  // Step 3: decode into a local bitmap; publish it only when the whole picture was read.
  TBitmap b;
  uint32_t red = 0, green = 0, blue = 0;
  const bool fields = h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS;
  bool convertFields = false;
  switch (h.bitCount) {
    case 1:
      b.FFormat = TPixelFormat::pf1bit;
      break;
    case 4:
      b.FFormat = TPixelFormat::pf4bit;
      break;
    case 8:
      b.FFormat = TPixelFormat::pf8bit;
      break;
    case 16:
      if (!fields || (h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F)) {
        b.FFormat = TPixelFormat::pf15bit;
      } else if (h.masks[0] == 0xF800 && h.masks[1] == 0x07E0 && h.masks[2] == 0x001F) {
        b.FFormat = TPixelFormat::pf16bit;
      } else {
        b.FFormat = TPixelFormat::pfCustom;
        convertFields = true;
      }
      break;
    case 24:
      b.FFormat = TPixelFormat::pf24bit;
      break;
    default:
      if (!fields || (h.masks[0] == 0x00FF0000 && h.masks[1] == 0x0000FF00 && h.masks[2] == 0x000000FF)) {
        b.FFormat = TPixelFormat::pf32bit;
      } else {
        b.FFormat = TPixelFormat::pfCustom;
        convertFields = true;
      }
      break;
  }
  if (convertFields) red = h.masks[0], green = h.masks[1], blue = h.masks[2];

  const uint64_t fileRowBytes = BitmapRowBytes(uint64_t(width), h.bitCount);
  if (width == 0 || height == 0) {
    // no pixels: an empty bitmap (what saving an empty bitmap writes), whatever the other side says
  } else if (h.compression == BI_RLE8 || h.compression == BI_RLE4) {
    // The compressed block is biSizeImage bytes when that fits the stream, else the rest of it.
    int64_t size = stream.Remaining();
    if (h.sizeImage != 0 && int64_t(h.sizeImage) < size) size = h.sizeImage;
    const std::vector<uint8_t> data = ReadBytes(stream, size);
    b.SetSize(width, height);
    DecodeRle(data, h.compression == BI_RLE4, width, height, topDown, b);
  } else {
    // Uncompressed rows must all be there: refuse a short file before allocating the bitmap.
    if (uint64_t(stream.Remaining()) < fileRowBytes * uint64_t(height)) throw EReadError();
    b.SetSize(width, height);
    // Rows are read about 256 KiB at a time (a read call per row cost more than the copy).
    const size_t rowBytes = size_t(fileRowBytes);
    const int blockRows =
        int(std::clamp<uint64_t>((uint64_t{1} << 18) / std::max<uint64_t>(fileRowBytes, 1), 1, uint64_t(height)));
    std::vector<uint8_t> block(rowBytes * size_t(blockRows));
    const Channel cr(h.masks[0]), cg(h.masks[1]), cb(h.masks[2]), ca(h.masks[3]);
    for (int y = 0; y < height; ++y) {
      uint8_t* out = b.RowData(topDown ? y : height - 1 - y);
      if (y % blockRows == 0)
        stream.ReadBuffer(block.data(), int64_t(rowBytes * size_t(std::min(blockRows, height - y))));
      const uint8_t* row = block.data() + size_t(y % blockRows) * rowBytes;
      if (!convertFields) {
        std::memcpy(out, row, rowBytes);
        continue;
      }
      for (int x = 0; x < width; ++x) {
        const uint32_t v = h.bitCount == 16
                               ? uint32_t(row[2 * size_t(x)]) | uint32_t(row[2 * size_t(x) + 1]) << 8
                               : uint32_t(row[4 * size_t(x)]) | uint32_t(row[4 * size_t(x) + 1]) << 8 |
                                     uint32_t(row[4 * size_t(x) + 2]) << 16 | uint32_t(row[4 * size_t(x) + 3]) << 24;
        uint8_t* px = out + 4 * size_t(x);
        px[0] = cb.Get(v), px[1] = cg.Get(v), px[2] = cr.Get(v);
        px[3] = h.masks[3] ? ca.Get(v) : 255;
      }
    }
  }

  FWidth = b.FWidth;
  FHeight = b.FHeight;
  FFormat = b.FFormat;
  FBits = std::move(b.FBits);
  FRowBytes = b.FRowBytes;
  FPalette = palette.empty() ? nullptr : CreatePalette(palette);
  RedMask = red, GreenMask = green, BlueMask = blue;
  Changed();
}

void TBitmap::SaveToStream(TStream& stream) {
  const unsigned bpp = BitsPerPixel();
  const bool indexed = bpp <= 8;
  const bool is565 = FFormat == TPixelFormat::pf16bit || (FFormat == TPixelFormat::pfDevice && bpp == 16);
  std::vector<TPaletteEntry> palette;
  if (indexed) {
    const size_t maxEntries = size_t(1) << bpp;
    if (FPalette) {
      palette.assign(FPalette->entries().begin(), FPalette->entries().begin() + std::min(FPalette->size(), maxEntries));
    } else {
      // no palette: the grey ramp the pixels are read with
      for (size_t i = 0; i < maxEntries; ++i) {
        const auto v = static_cast<uint8_t>(i * 255 / (maxEntries - 1));
        palette.push_back({v, v, v, 0});
      }
    }
  }
  const uint32_t masksSize = is565 ? 12 : 0;
  const uint64_t rowBytes = BitmapRowBytes(uint64_t(FWidth), bpp);
  const uint64_t imageSize = rowBytes * uint64_t(FHeight);
  const uint64_t offBits = kFileHeaderSize + 40 + masksSize + palette.size() * 4;
  if (offBits + imageSize > 0xFFFFFFFFu) throw EWriteError(SBmpTooLarge);

  TMemoryStream header;
  WriteLE16(header, 0x4D42);
  WriteLE32(header, static_cast<uint32_t>(offBits + imageSize));
  WriteLE32(header, 0);
  WriteLE32(header, static_cast<uint32_t>(offBits));
  // BITMAPINFOHEADER
  WriteLE32(header, 40);
  WriteLE32(header, static_cast<uint32_t>(FWidth));
  WriteLE32(header, static_cast<uint32_t>(FHeight));  // positive: bottom-up
  WriteLE16(header, 1);
  WriteLE16(header, static_cast<uint16_t>(bpp));
  WriteLE32(header, is565 ? BI_BITFIELDS : BI_RGB);
  WriteLE32(header, static_cast<uint32_t>(imageSize));
  WriteLE32(header, 0);
  WriteLE32(header, 0);
  WriteLE32(header, static_cast<uint32_t>(palette.size()));
  WriteLE32(header, 0);
  if (is565) {
    WriteLE32(header, 0xF800);
    WriteLE32(header, 0x07E0);
    WriteLE32(header, 0x001F);
  }
  for (const TPaletteEntry& e : palette) {
    const uint8_t q[4] = {e.Blue, e.Green, e.Red, 0};
    header.WriteBuffer(q, 4);
  }
  stream.WriteBuffer(header.Memory(), header.Size());
  // bottom-up rows, gathered into pieces of about 256 KiB: a tall narrow bitmap is not written a
  // few bytes at a time, and the piece is small enough that its fresh pages cost little
  if (rowBytes == 0) return;
  const size_t rowsPerPiece = std::max<size_t>(1, (size_t(1) << 18) / rowBytes);
  std::vector<uint8_t> piece(rowsPerPiece * rowBytes);
  for (int y = FHeight - 1; y >= 0;) {
    size_t used = 0;
    for (size_t k = 0; k < rowsPerPiece && y >= 0; ++k, --y, used += rowBytes)
      std::memcpy(piece.data() + used, RowData(y), rowBytes);
    stream.WriteBuffer(piece.data(), int64_t(used));
  }
}

}  // namespace muralo
