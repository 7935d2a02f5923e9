#include "classlib/Bitmap.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"

namespace muralo {

namespace {
unsigned gScreenBits = 24;
uint64_t gMemoryLimit = uint64_t(1) << 30;

uint8_t Expand5(unsigned v) { return static_cast<uint8_t>((v << 3) | (v >> 2)); }
uint8_t Expand6(unsigned v) { return static_cast<uint8_t>((v << 2) | (v >> 4)); }
}  // namespace

void* AllocatePixelMemory(size_t bytes) {
  // calloc fills only memory it reuses: memory fresh from the system is zero already.
  void* memory = std::calloc(std::max<size_t>(bytes, 1), 1);
  if (!memory) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
  constexpr uintptr_t kHugePage = uintptr_t(2) << 20;
  if (bytes >= 2 * kHugePage) {
    // The advice covers the whole huge pages inside the buffer and nothing else. Only advice:
    // where the system declines, ordinary pages serve.
    const uintptr_t first = (reinterpret_cast<uintptr_t>(memory) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(memory) + bytes) & ~(kHugePage - 1);
    (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
  }
#endif
  return memory;
}

void FreePixelMemory(void* memory, size_t) noexcept { std::free(memory); }

MURALO_DEFINE_GRAPHIC_CLASS(TBitmap, TGraphic, nullptr)

TBitmap::TBitmap() = default;
TBitmap::~TBitmap() = default;

unsigned BitsPerPixelOf(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pfDevice:
      return gScreenBits;
    case TPixelFormat::pf1bit:
      return 1;
    case TPixelFormat::pf4bit:
      return 4;
    case TPixelFormat::pf8bit:
      return 8;
    case TPixelFormat::pf15bit:
      return 16;
    case TPixelFormat::pf16bit:
      return 16;
    case TPixelFormat::pf24bit:
      return 24;
    case TPixelFormat::pf32bit:
      return 32;
    case TPixelFormat::pfCustom:
      return 32;
  }
  return 24;
}

bool IsIndexedFormat(TPixelFormat format) { return BitsPerPixelOf(format) <= 8; }

unsigned ScreenBitsPerPixel() { return gScreenBits; }
void SetScreenBitsPerPixel(unsigned bits) {
  gScreenBits = (bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32) ? bits : 24;
}

uint64_t MemoryLimit() { return gMemoryLimit; }
void SetMemoryLimit(uint64_t bytes) { gMemoryLimit = bytes; }

uint64_t BitmapRowBytes(uint64_t width, unsigned bitsPerPixel) { return ((width * bitsPerPixel + 31) / 32) * 4; }

void CheckImageSize(uint64_t width, uint64_t height, unsigned bitsPerPixel) {
  // width and height come from file headers: keep the product inside 64 bits before comparing.
  const uint64_t limit = gMemoryLimit;
  const bool tooLarge = width > (uint64_t(1) << 31) || height > (uint64_t(1) << 31) ||
                        (height != 0 && BitmapRowBytes(width, bitsPerPixel) > limit / height);
  if (tooLarge) throw EInvalidGraphic(Format(SImageTooLarge, width, height));
}

void CheckAllocation(uint64_t bytes) {
  if (bytes > gMemoryLimit) throw EOutOfResources(Format(SBufferTooLarge, bytes));
}

HPALETTE CreatePalette(const TPaletteEntry* entries, size_t count) {
  if (count == 0) return nullptr;
  count = std::min<size_t>(count, 256);
  return std::make_shared<const TPalette>(std::vector<TPaletteEntry>(entries, entries + count));
}

HPALETTE CreatePalette(const std::vector<TPaletteEntry>& entries) {
  return CreatePalette(entries.data(), entries.size());
}

void TBitmap::SetSize(int width, int height) {
  width = std::max(0, width);
  height = std::max(0, height);
  if (width == FWidth && height == FHeight) return;
  const unsigned bpp = BitsPerPixel();
  CheckImageSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height), bpp);
  const size_t rowBytes = static_cast<size_t>(BitmapRowBytes(static_cast<uint64_t>(width), bpp));
  TPixelBytes bits(rowBytes * static_cast<size_t>(height));  // zero, as the allocator gives it
  const int keepRows = std::min(height, FHeight);
  const size_t keepBytes = std::min(rowBytes, FRowBytes);
  for (int y = 0; y < keepRows; ++y)
    std::memcpy(bits.data() + rowBytes * size_t(y), FBits.data() + FRowBytes * size_t(y), keepBytes);
  FBits = std::move(bits);
  FRowBytes = rowBytes;
  FWidth = width;
  FHeight = height;
  if (width == 0 || height == 0) {
    // an empty bitmap holds no pixels at all, whatever the other side's size
    FBits.clear();
  }
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format) {
  if (format == FFormat) return;
  const int w = FWidth, h = FHeight;
  if (w == 0 || h == 0) {
    FFormat = format;
    FRowBytes = static_cast<size_t>(BitmapRowBytes(static_cast<uint64_t>(w), BitsPerPixel()));
    Changed();
    return;
  }
  const unsigned oldBpp = BitsPerPixel();
  const unsigned newBpp = BitsPerPixelOf(format);
  CheckImageSize(static_cast<uint64_t>(w), static_cast<uint64_t>(h), newBpp);
  TBitmap converted;
  converted.FFormat = format;
  converted.FPalette = FPalette;
  converted.SetSize(w, h);
  if (oldBpp <= 8 && newBpp <= 8 && newBpp >= oldBpp) {
    for (int y = 0; y < h; ++y) {
      const uint8_t* src = RowData(y);
      uint8_t* dst = converted.RowData(y);
      for (int x = 0; x < w; ++x) {
        const unsigned index =
            (src[(size_t(x) * oldBpp) / 8] >> (8 - oldBpp - (size_t(x) * oldBpp) % 8)) & ((1u << oldBpp) - 1);
        const size_t bit = size_t(x) * newBpp;
        const unsigned shift = 8 - newBpp - unsigned(bit % 8);
        dst[bit / 8] = static_cast<uint8_t>((dst[bit / 8] & ~(((1u << newBpp) - 1) << shift)) | (index << shift));
      }
    }
  } else {
    std::vector<uint8_t> row(size_t(w) * 4);
    for (int y = 0; y < h; ++y) {
      ReadRowBGRA(y, row.data());
      converted.WriteRowBGRA(y, row.data());
    }
  }
  FBits = std::move(converted.FBits);
  FRowBytes = converted.FRowBytes;
  FFormat = format;
  Changed();
}

void TBitmap::SetPalette(HPALETTE palette) {
  FPalette = std::move(palette);
  Changed();
}

uint8_t* TBitmap::RowData(int y) {
  if (y < 0 || y >= FHeight) throw EInvalidGraphic(Format(SRowOutOfRange, y));
  return FBits.data() + FRowBytes * size_t(y);
}

const uint8_t* TBitmap::RowData(int y) const {
  if (y < 0 || y >= FHeight) throw EInvalidGraphic(Format(SRowOutOfRange, y));
  return FBits.data() + FRowBytes * size_t(y);
}

void TBitmap::ReleaseImage() {
  FBits.clear();
  FBits.shrink_to_fit();
  FWidth = FHeight = 0;
  FRowBytes = 0;
  FPalette.reset();
  RedMask = GreenMask = BlueMask = 0;
  Transparent = false;
  TransparentColor = clBlack;
  Changed();
}

void TBitmap::ReadRowBGRA(int y, uint8_t* out) const { ReadPixelsBGRA(y, 0, FWidth, out); }

void TBitmap::ReadPixelsBGRA(int y, int first, int count, uint8_t* bgra) const {
  const uint8_t* row = RowData(y);
  if (first < 0 || count < 0 || count > FWidth - first) throw EInvalidGraphic(Format(SColumnOutOfRange, first + count));
  const unsigned bpp = BitsPerPixel();
  const int end = first + count;
  auto paletteColour = [&](unsigned index, uint8_t* px) {
    if (FPalette && index < FPalette->size()) {
      const TPaletteEntry& e = (*FPalette)[index];
      px[0] = e.Blue, px[1] = e.Green, px[2] = e.Red;
    } else if (FPalette) {
      px[0] = px[1] = px[2] = 0;
    } else {
      // no palette: a grey ramp over the index range
      const unsigned maxIndex = (1u << bpp) - 1;
      px[0] = px[1] = px[2] = static_cast<uint8_t>(index * 255 / maxIndex);
    }
    px[3] = 255;
  };
  switch (bpp) {
    case 1:
    case 2:
    case 4:
    case 8:
      for (int x = first; x < end; ++x) {
        const size_t bit = size_t(x) * bpp;
        const unsigned index = (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
        paletteColour(index, bgra + size_t(x - first) * 4);
      }
      break;
    case 16: {
      const bool is565 = FFormat == TPixelFormat::pf16bit || FFormat == TPixelFormat::pfDevice;
      for (int x = first; x < end; ++x) {
        const unsigned v = row[2 * x] | (row[2 * x + 1] << 8);
        uint8_t* px = bgra + size_t(x - first) * 4;
        if (is565) {
          px[0] = Expand5(v & 31), px[1] = Expand6((v >> 5) & 63), px[2] = Expand5((v >> 11) & 31);
        } else {
          px[0] = Expand5(v & 31), px[1] = Expand5((v >> 5) & 31), px[2] = Expand5((v >> 10) & 31);
        }
        px[3] = 255;
      }
      break;
    }
    case 24:
      for (int x = first; x < end; ++x) {
        uint8_t* px = bgra + size_t(x - first) * 4;
        px[0] = row[3 * x], px[1] = row[3 * x + 1], px[2] = row[3 * x + 2], px[3] = 255;
      }
      break;
    default:
      for (int x = first; x < end; ++x) {
        uint8_t* px = bgra + size_t(x - first) * 4;
        px[0] = row[4 * x], px[1] = row[4 * x + 1], px[2] = row[4 * x + 2], px[3] = 255;
      }
      break;
  }
}

static unsigned NearestIndex(const TPalette* palette, unsigned count, uint8_t b, uint8_t g, uint8_t r) {
  if (!palette) {
    // no palette: the grey ramp that ReadRowBGRA assumes
    const unsigned lum = (r * 77u + g * 150u + b * 29u) >> 8;
    return (lum * ((1u << count) - 1) + 127) / 255;
  }
  unsigned best = 0;
  int bestDist = 1 << 30;
  const size_t n = std::min<size_t>(palette->size(), size_t(1) << count);
  for (size_t i = 0; i < n; ++i) {
    const TPaletteEntry& e = (*palette)[i];
    const int dr = int(e.Red) - r, dg = int(e.Green) - g, db = int(e.Blue) - b;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = unsigned(i);
      if (d == 0) break;
    }
  }
  return best;
}

void TBitmap::WriteRowBGRA(int y, const uint8_t* in) {
  uint8_t* row = RowData(y);
  const unsigned bpp = BitsPerPixel();
  const int w = FWidth;
  switch (bpp) {
    case 1:
    case 2:
    case 4:
    case 8: {
      uint32_t lastColour = 0xFFFFFFFF;
      unsigned lastIndex = 0;
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = in + size_t(x) * 4;
        const uint32_t colour = px[0] | (px[1] << 8) | (px[2] << 16);
        if (colour != lastColour) {
          lastIndex = NearestIndex(FPalette.get(), bpp, px[0], px[1], px[2]);
          lastColour = colour;
        }
        const size_t bit = size_t(x) * bpp;
        const unsigned shift = 8 - bpp - unsigned(bit % 8);
        const unsigned mask = ((1u << bpp) - 1) << shift;
        row[bit / 8] = static_cast<uint8_t>((row[bit / 8] & ~mask) | (lastIndex << shift));
      }
      break;
    }
    case 16: {
      const bool is565 = FFormat == TPixelFormat::pf16bit || FFormat == TPixelFormat::pfDevice;
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = in + size_t(x) * 4;
        const unsigned v = is565 ? ((px[2] >> 3) << 11) | ((px[1] >> 2) << 5) | (px[0] >> 3)
                                 : ((px[2] >> 3) << 10) | ((px[1] >> 3) << 5) | (px[0] >> 3);
        row[2 * x] = uint8_t(v), row[2 * x + 1] = uint8_t(v >> 8);
      }
      break;
    }
    case 24:
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = in + size_t(x) * 4;
        row[3 * x] = px[0], row[3 * x + 1] = px[1], row[3 * x + 2] = px[2];
      }
      break;
    default:
      for (int x = 0; x < w; ++x) std::memcpy(row + 4 * size_t(x), in + 4 * size_t(x), 4);
      break;
  }
}

TColor TBitmap::Pixel(int x, int y) const {
  if (x < 0 || x >= FWidth) throw EInvalidGraphic(Format(SColumnOutOfRange, x));
  uint8_t px[4];
  ReadPixelsBGRA(y, x, 1, px);
  return RGB(px[2], px[1], px[0]);
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) { StretchBlt(canvas.Bitmap(), rect, *this); }

void TBitmap::Assign(const TGraphic& source) {
  if (&source == this) return;
  if (!source.InheritsFrom(TBitmap::StaticClass())) {
    // any other picture: render it onto a 24-bit bitmap of its size
    const int w = source.Width(), h = source.Height();
    ReleaseImage();
    FFormat = TPixelFormat::pf24bit;
    SetSize(w, h);
    if (w > 0 && h > 0) {
      Canvas().FillRect(TRect{0, 0, w, h});
      Canvas().Draw(0, 0, const_cast<TGraphic&>(source));
    }
    Changed();
    return;
  }
  const auto& other = static_cast<const TBitmap&>(source);
  FWidth = other.FWidth;
  FHeight = other.FHeight;
  FFormat = other.FFormat;
  FPalette = other.FPalette;
  FBits = other.FBits;
  FRowBytes = other.FRowBytes;
  RedMask = other.RedMask, GreenMask = other.GreenMask, BlueMask = other.BlueMask;
  Transparent = other.Transparent;
  TransparentColor = other.TransparentColor;
  Changed();
}

TCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>(*this);
  return *FCanvas;
}

}  // namespace muralo
