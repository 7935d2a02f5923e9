// Windows icon files: ICONDIR, ICONDIRENTRY and, per image, either a DIB (BITMAPINFOHEADER with a
// doubled height, colour table, XOR bits, AND mask) or a PNG stream (Windows Vista icons).
#include "classlib/Icon.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TIcon, TGraphic, nullptr)

namespace {

TIconPngDecoder& PngDecoder() {
  static TIconPngDecoder decoder;
  return decoder;
}

[[noreturn]] void Invalid(const std::string& why) { throw EInvalidGraphic(Format(SInvalidIcon, why)); }

struct DirEntry {
  int width = 0, height = 0;
  unsigned bitCount = 0;
  uint32_t size = 0, offset = 0;
};

struct Decoded {
  std::vector<uint8_t> bgra;
  int width = 0, height = 0;
};

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

// One DIB image of an icon. Its header's height counts the XOR and the AND bitmaps together.
Decoded DecodeDib(const uint8_t* data, size_t size) {
  TReadOnlyMemoryStream s(data, size);
  const uint32_t headerSize = ReadLE32(s);
  if (headerSize < 40 || headerSize > size) Invalid(Format(SIconImageHeader, headerSize));
  const auto width = static_cast<int32_t>(ReadLE32(s));
  const auto doubledHeight = static_cast<int32_t>(ReadLE32(s));
  ReadLE16(s);  // planes
  const unsigned bpp = ReadLE16(s);
  const uint32_t compression = ReadLE32(s);
  ReadLE32(s);  // size of the image
  ReadLE32(s);
  ReadLE32(s);
  const uint32_t clrUsed = ReadLE32(s);
  s.SetPosition(headerSize);
  if (width <= 0 || doubledHeight <= 0 || width > 4096 || doubledHeight > 8192)
    Invalid(Format(SIconSize, width, doubledHeight));
  if (compression != 0) Invalid(Format(SIconCompression, compression));
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32) Invalid(Format(SBitsPerPixel, bpp));
  const int height = doubledHeight / 2 > 0 ? doubledHeight / 2 : doubledHeight;
  CheckImageSize(uint64_t(width), uint64_t(height), 32);

  std::vector<uint8_t> palette;  // B, G, R, 0 quads
  if (bpp <= 8) {
    const uint32_t count = clrUsed != 0 && clrUsed < (1u << bpp) ? clrUsed : (1u << bpp);
    palette = ReadBytes(s, int64_t(count) * 4);
  }
  const uint64_t xorRow = BitmapRowBytes(uint64_t(width), bpp);
  const uint64_t andRow = BitmapRowBytes(uint64_t(width), 1);
  const std::vector<uint8_t> xorBits = ReadBytes(s, int64_t(xorRow * uint64_t(height)));
  // A 32-bit image carries its transparency in its alpha channel; some writers leave out its AND
  // mask, which is then taken as all opaque.
  std::vector<uint8_t> andBits;
  if (bpp == 32 && uint64_t(s.Remaining()) < andRow * uint64_t(height))
    andBits.assign(andRow * uint64_t(height), 0);
  else
    andBits = ReadBytes(s, int64_t(andRow * uint64_t(height)));

  Decoded d;
  d.width = width;
  d.height = height;
  d.bgra.resize(size_t(width) * size_t(height) * 4);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = xorBits.data() + xorRow * uint64_t(height - 1 - y);  // bottom-up
    const uint8_t* mask = andBits.data() + andRow * uint64_t(height - 1 - y);
    uint8_t* out = d.bgra.data() + size_t(y) * size_t(width) * 4;
    for (int x = 0; x < width; ++x) {
      uint8_t* px = out + size_t(x) * 4;
      if (bpp <= 8) {
        const size_t bit = size_t(x) * bpp;
        const unsigned index = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        if (index * 4 + 3 < palette.size()) {
          std::memcpy(px, palette.data() + index * 4, 3);
        } else {
          px[0] = px[1] = px[2] = 0;
        }
        px[3] = 255;
      } else if (bpp == 24) {
        std::memcpy(px, src + size_t(x) * 3, 3);
        px[3] = 255;
      } else {
        std::memcpy(px, src + size_t(x) * 4, 4);
        anyAlpha = anyAlpha || px[3] != 0;
      }
      const bool transparent = (mask[x / 8] >> (7 - x % 8)) & 1;
      if (bpp != 32) px[3] = transparent ? 0 : 255;  // a 32-bit image's alpha is settled below
    }
  }
  if (bpp == 32 && !anyAlpha) {
    // no alpha anywhere: the AND mask decides, as for the smaller depths
    for (int y = 0; y < height; ++y) {
      const uint8_t* mask = andBits.data() + andRow * uint64_t(height - 1 - y);
      for (int x = 0; x < width; ++x)
        d.bgra[(size_t(y) * size_t(width) + size_t(x)) * 4 + 3] = ((mask[x / 8] >> (7 - x % 8)) & 1) ? 0 : 255;
    }
  }
  return d;
}

// The directory entry closest to 32 × 32 pixels; among equally close ones the deepest, then the first.
size_t ChooseImage(const std::vector<DirEntry>& entries) {
  size_t best = 0;
  for (size_t i = 1; i < entries.size(); ++i) {
    const auto distance = [](const DirEntry& e) { return std::abs(e.width - 32) + std::abs(e.height - 32); };
    const int d = distance(entries[i]), bestD = distance(entries[best]);
    if (d < bestD || (d == bestD && entries[i].bitCount > entries[best].bitCount)) best = i;
  }
  return best;
}

}  // namespace

void SetIconPngDecoder(TIconPngDecoder decoder) { PngDecoder() = std::move(decoder); }

void TIcon::LoadFromStream(TStream& stream) {
  std::vector<uint8_t> data = ReadBytes(stream, stream.Remaining());
  TReadOnlyMemoryStream s(data.data(), data.size());
  if (ReadLE16(s) != 0) Invalid(SIconReserved);
  const unsigned type = ReadLE16(s);
  if (type != 1 && type != 2) Invalid(Format(SIconType, type));
  const unsigned count = ReadLE16(s);
  if (count == 0) Invalid(SIconNoImage);
  std::vector<DirEntry> entries(count);
  for (DirEntry& e : entries) {
    const uint8_t w = ReadU8(s), h = ReadU8(s);
    e.width = w == 0 ? 256 : w;  // 0 stands for 256
    e.height = h == 0 ? 256 : h;
    ReadU8(s);    // colour count
    ReadU8(s);    // reserved
    ReadLE16(s);  // planes or hot spot
    e.bitCount = ReadLE16(s);
    e.size = ReadLE32(s);
    e.offset = ReadLE32(s);
  }
  // Every image must lie inside the file: a cut file is refused even when the image shown is whole,
  // since saving writes the file back as it was read.
  for (const DirEntry& e : entries)
    if (uint64_t(e.offset) + e.size > data.size()) throw EReadError();
  const DirEntry& chosen = entries[ChooseImage(entries)];
  const uint8_t* image = data.data() + chosen.offset;
  Decoded d;
  if (chosen.size >= 8 && std::memcmp(image, kPngSignature, 8) == 0) {
    if (!PngDecoder()) throw EInvalidGraphic(SIconPngUnsupported);
    d.bgra = PngDecoder()(image, chosen.size, d.width, d.height);
    if (d.width <= 0 || d.height <= 0 || d.bgra.size() != size_t(d.width) * size_t(d.height) * 4) Invalid(SIconBadPng);
  } else {
    d = DecodeDib(image, chosen.size);
  }
  FData = std::move(data);
  FPixels = std::move(d.bgra);
  FWidth = d.width;
  FHeight = d.height;
  FCount = int(count);
  FShown = int(&chosen - entries.data());
  Changed();
}

void TIcon::SaveToStream(TStream& stream) {
  if (FData.empty()) throw EInvalidGraphic(SIconEmpty);
  stream.WriteBuffer(FData.data(), int64_t(FData.size()));
}

void TIcon::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (!source.InheritsFrom(TIcon::StaticClass())) TGraphic::Assign(source);
  const auto& other = static_cast<const TIcon&>(source);
  FData = other.FData;
  FPixels = other.FPixels;
  FWidth = other.FWidth;
  FHeight = other.FHeight;
  FCount = other.FCount;
  FShown = other.FShown;
  Changed();
}

TColor TIcon::PixelColor(int x, int y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) throw EInvalidGraphic(Format(SIconPixelOutside, x, y));
  const uint8_t* px = FPixels.data() + (size_t(y) * size_t(FWidth) + size_t(x)) * 4;
  return RGB(px[2], px[1], px[0]);
}

uint8_t TIcon::PixelAlpha(int x, int y) const {
  if (x < 0 || y < 0 || x >= FWidth || y >= FHeight) throw EInvalidGraphic(Format(SIconPixelOutside, x, y));
  return FPixels[(size_t(y) * size_t(FWidth) + size_t(x)) * 4 + 3];
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect) {
  TBitmap& target = canvas.Bitmap();
  const int sw = FWidth, sh = FHeight, dw = rect.Width(), dh = rect.Height();
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  const int x0 = std::max(0, rect.Left), x1 = std::min(target.Width(), rect.Right);
  const int y0 = std::max(0, rect.Top), y1 = std::min(target.Height(), rect.Bottom);
  if (x0 >= x1 || y0 >= y1) return;
  std::vector<uint8_t> row(size_t(target.Width()) * 4);
  for (int y = y0; y < y1; ++y) {
    // the target pixel's centre mapped into the icon, as the stretched blit does
    const int sy = std::clamp(int(((2LL * (y - rect.Top) + 1) * sh) / (2LL * dh)), 0, sh - 1);
    target.ReadRowBGRA(y, row.data());
    for (int x = x0; x < x1; ++x) {
      const int sx = std::clamp(int(((2LL * (x - rect.Left) + 1) * sw) / (2LL * dw)), 0, sw - 1);
      const uint8_t* s = FPixels.data() + (size_t(sy) * size_t(sw) + size_t(sx)) * 4;
      uint8_t* d = row.data() + size_t(x) * 4;
      const unsigned a = s[3];
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((s[c] * a + d[c] * (255 - a) + 127) / 255);
    }
    target.WriteRowBGRA(y, row.data());
  }
  target.Modified();
}

}  // namespace muralo
