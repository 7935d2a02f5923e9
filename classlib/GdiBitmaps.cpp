// Bitmaps and text encodings of metafile records: device-independent bitmaps ([MS-WMF] 2.2.2.9
// DeviceIndependentBitmap, 2.2.2.3 BitmapInfoHeader, 2.2.2.2 BitmapCoreHeader), the old
// device-dependent Bitmap16 object (2.2.2.1), Windows-1252 and UTF-16LE strings.
#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/ByteOrder.h"
#include "classlib/GdiDevice.h"

namespace muralo::gdi {

namespace {

uint32_t Rgb(uint8_t r, uint8_t g, uint8_t b) { return 0xFF000000u | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b; }

// Bit position and width of a colour mask, for BI_BITFIELDS.
struct Field {
  int shift = 0, bits = 0;
  explicit Field(uint32_t mask) {
    if (mask == 0) return;
    while (!(mask & 1)) mask >>= 1, ++shift;
    while (mask & 1) mask >>= 1, ++bits;
  }
  uint8_t Get(uint32_t v) const {
    if (bits == 0) return 0;
    const uint32_t x = (v >> shift) & ((bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1));
    if (bits >= 8) return uint8_t(x >> (bits - 8));
    return uint8_t((x * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1));
  }
};

// BI_RLE8 and BI_RLE4 ([MS-WMF] 2.1.1.7 Compression): decodes into indices, bottom row first.
// Runs that would leave the image are cut; a stream that ends early leaves the rest at index 0.
void DecodeRle(const uint8_t* p, size_t n, int bpp, int w, int h, std::vector<uint8_t>& out) {
  out.assign(size_t(w) * size_t(h), 0);
  size_t i = 0;
  int x = 0, y = 0;
  auto put = [&](uint8_t v) {
    if (x < w && y < h) out[size_t(y) * size_t(w) + size_t(x)] = v;
    ++x;
  };
  while (i + 1 < n && y < h) {
    const uint8_t count = p[i], value = p[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count && x < w; ++k) put(bpp == 8 ? value : uint8_t(k & 1 ? value & 15 : value >> 4));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0, ++y;
    } else if (value == 1) {  // end of bitmap
      break;
    } else if (value == 2) {  // delta
      if (i + 1 >= n) break;
      x += p[i], y += p[i + 1];
      i += 2;
    } else {  // absolute run, padded to 16 bits
      const size_t bytes = bpp == 8 ? value : (size_t(value) + 1) / 2;
      if (i + bytes > n) break;
      for (int k = 0; k < value; ++k)
        put(bpp == 8 ? p[i + size_t(k)] : uint8_t(k & 1 ? p[i + size_t(k) / 2] & 15 : p[i + size_t(k) / 2] >> 4));
      i += (bytes + 1) & ~size_t(1);
    }
  }
}

}  // namespace

bool DecodeDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t usage,
               const Palette* palette, Dib& out) {
  if (infoSize < 12) return false;
  const uint32_t headerSize = GetLE32(info);
  int64_t width, height;
  unsigned bpp;
  uint32_t compression = 0, clrUsed = 0;
  bool core = false;
  if (headerSize == 12) {
    core = true;
    width = GetLE16(info + 4);
    height = GetLE16(info + 6);
    bpp = GetLE16(info + 10);
  } else if (headerSize >= 40 && headerSize <= infoSize) {
    width = int32_t(GetLE32(info + 4));
    height = int32_t(GetLE32(info + 8));
    bpp = GetLE16(info + 14);
    compression = GetLE32(info + 16);
    clrUsed = GetLE32(info + 32);
  } else {
    return false;
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0 || width > (1 << 24) || height > (1 << 24)) return false;
  if (uint64_t(width) * uint64_t(height) * 4 > MemoryLimit()) return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  const bool rle = (compression == 1 && bpp == 8) || (compression == 2 && bpp == 4);
  if (compression != 0 && compression != 3 && !rle) return false;
  if (rle && topDown) return false;

  size_t pos = headerSize;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bpp == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  if (compression == 3) {
    if (bpp != 16 && bpp != 32) return false;
    // masks follow a 40-byte header, and are part of the larger ones
    const size_t at = headerSize == 40 ? pos : 40;
    if (at + 12 > infoSize) return false;
    for (int k = 0; k < 3; ++k) masks[k] = GetLE32(info + at + size_t(k) * 4);
    if (headerSize == 40) pos += 12;
  }
  std::vector<uint32_t> colors;
  if (bpp <= 8) {
    const size_t count = clrUsed != 0 && clrUsed < (1u << bpp) ? clrUsed : (size_t(1) << bpp);
    const size_t entry = usage == 1 ? 2 : core ? 3 : 4;
    colors.assign(size_t(1) << bpp, Rgb(0, 0, 0));
    for (size_t k = 0; k < count; ++k) {
      // a colour table cut short leaves black entries
      if (pos + entry > infoSize) break;
      const uint8_t* c = info + pos;
      if (usage == 1) {
        const uint16_t index = GetLE16(c);
        if (palette && index < palette->entries.size()) {
          const ColorRef cr = palette->entries[index];
          colors[k] = Rgb(uint8_t(cr), uint8_t(cr >> 8), uint8_t(cr >> 16));
        }
      } else {
        colors[k] = Rgb(c[2], c[1], c[0]);
      }
      pos += entry;
    }
  }

  out.width = int(width);
  out.height = int(height);
  out.hasAlpha = false;
  out.bottomUp = !topDown;
  out.pixels.assign(size_t(width) * size_t(height), 0xFF000000u);
  if (rle) {
    std::vector<uint8_t> indices;
    DecodeRle(bits, bitsSize, int(bpp), int(width), int(height), indices);
    for (int64_t y = 0; y < height; ++y)
      for (int64_t x = 0; x < width; ++x)
        out.pixels[size_t(height - 1 - y) * size_t(width) + size_t(x)] = colors[indices[size_t(y * width + x)]];
    return true;
  }
  const uint64_t rowBytes = BitmapRowBytes(uint64_t(width), bpp);
  // A header that claims more rows than the bits hold is refused rather than guessed at.
  if (rowBytes * uint64_t(height) > bitsSize) return false;
  const Field fr(masks[0]), fg(masks[1]), fb(masks[2]);
  for (int64_t row = 0; row < height; ++row) {
    const uint8_t* src = bits + rowBytes * uint64_t(row);
    uint32_t* dst = out.pixels.data() + size_t(topDown ? row : height - 1 - row) * size_t(width);
    for (int64_t x = 0; x < width; ++x) {
      switch (bpp) {
        case 1:
        case 4:
        case 8: {
          const uint64_t bit = uint64_t(x) * bpp;
          const unsigned index = (src[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
          dst[x] = colors[index];
          break;
        }
        case 16: {
          const uint32_t v = GetLE16(src + x * 2);
          dst[x] = Rgb(fr.Get(v), fg.Get(v), fb.Get(v));
          break;
        }
        case 24:
          dst[x] = Rgb(src[x * 3 + 2], src[x * 3 + 1], src[x * 3]);
          break;
        default: {
          const uint32_t v = GetLE32(src + x * 4);
          dst[x] = Rgb(fr.Get(v), fg.Get(v), fb.Get(v)) & 0x00FFFFFF;
          dst[x] |= uint32_t(src[x * 4 + 3]) << 24;  // alpha, used by AlphaBlend only
          break;
        }
      }
    }
  }
  out.hasAlpha = bpp == 32;  // the top bytes; AlphaBlend alone uses them
  return true;
}

bool DecodeBitmap16(const uint8_t* data, size_t size, ColorRef textColor, ColorRef bkColor, Dib& out) {
  if (size < 10) return false;
  const int width = int16_t(GetLE16(data + 2)), height = int16_t(GetLE16(data + 4));
  const int widthBytes = int16_t(GetLE16(data + 6));
  const unsigned planes = data[8], bpp = data[9];
  if (width <= 0 || height <= 0 || widthBytes <= 0 || planes != 1) return false;
  if (bpp != 1 && bpp != 8 && bpp != 24 && bpp != 32) return false;
  if (uint64_t(widthBytes) * 8 < uint64_t(width) * bpp) return false;
  if (10 + uint64_t(widthBytes) * uint64_t(height) > size) return false;
  out.width = width;
  out.height = height;
  out.hasAlpha = false;
  out.bottomUp = false;
  out.pixels.assign(size_t(width) * size_t(height), 0);
  const uint32_t fore = Rgb(uint8_t(textColor), uint8_t(textColor >> 8), uint8_t(textColor >> 16));
  const uint32_t back = Rgb(uint8_t(bkColor), uint8_t(bkColor >> 8), uint8_t(bkColor >> 16));
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = data + 10 + size_t(widthBytes) * size_t(y);  // top row first
    uint32_t* dst = out.pixels.data() + size_t(y) * size_t(width);
    for (int x = 0; x < width; ++x) {
      if (bpp == 1) {
        // monochrome to colour: 0 bits take the text colour, 1 bits the background colour
        dst[x] = (src[x / 8] >> (7 - x % 8)) & 1 ? back : fore;
      } else if (bpp == 8) {
        dst[x] = Rgb(src[x], src[x], src[x]);  // FIXME: the device palette is unknown; shown as grey levels
      } else {
        const size_t k = size_t(x) * (bpp / 8);
        dst[x] = Rgb(src[k + 2], src[k + 1], src[k]);
      }
    }
  }
  return true;
}

std::vector<uint32_t> FromAnsi(const uint8_t* text, size_t n) {
  // Windows-1252 0x80..0x9F; the undefined positions keep their byte value
  static constexpr uint16_t k80[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                       0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                       0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                       0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::vector<uint32_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) out.push_back(text[i] >= 0x80 && text[i] < 0xA0 ? k80[text[i] - 0x80] : text[i]);
  return out;
}

std::vector<uint32_t> FromUtf16(const uint8_t* text, size_t n) {
  std::vector<uint32_t> out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = GetLE16(text + 2 * i);
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < n) {
      const uint32_t low = GetLE16(text + 2 * (i + 1));
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
    out.push_back(c);
  }
  return out;
}

std::string ToUtf8(const std::vector<uint32_t>& text) {
  std::string s;
  for (uint32_t c : text) {
    if (c == 0) c = 0x20;  // a NUL would end the string for Cairo
    if (c < 0x80) {
      s += char(c);
    } else if (c < 0x800) {
      s += char(0xC0 | (c >> 6)), s += char(0x80 | (c & 63));
    } else if (c < 0x10000) {
      s += char(0xE0 | (c >> 12)), s += char(0x80 | ((c >> 6) & 63)), s += char(0x80 | (c & 63));
    } else {
      s += char(0xF0 | (c >> 18)), s += char(0x80 | ((c >> 12) & 63)), s += char(0x80 | ((c >> 6) & 63)),
          s += char(0x80 | (c & 63));
    }
  }
  return s;
}

}  // namespace muralo::gdi
