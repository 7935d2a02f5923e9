#pragma once
// TBitmap: a device-independent bitmap with a pixel format, an optional palette and direct row
// access (row 0 at the top). Rows are padded to 4 bytes, as in a Windows DIB, and every colour
// format stores blue, green, red in that byte order. BMP reading and writing live in BmpCodec.cpp.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "classlib/Graphics.h"

namespace muralo {

enum class TPixelFormat {
  pfDevice,  // the display's format: ScreenBitsPerPixel() bits (24 or 32 here)
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,   // 5-5-5, top bit unused
  pf16bit,   // 5-6-5
  pf24bit,   // B, G, R
  pf32bit,   // B, G, R, unused/alpha
  pfCustom,  // what a BMP file with unusual bit fields was; stored as 32-bit B, G, R, A
};

// Bits per pixel of a format as it is stored (pfDevice resolves to the screen's depth).
unsigned BitsPerPixelOf(TPixelFormat format);
bool IsIndexedFormat(TPixelFormat format);

// The display's colour depth (bits per pixel). 24 unless set otherwise; the application sets it
// from the screen it runs on, tests set it to exercise the 8-bit paths.
unsigned ScreenBitsPerPixel();
void SetScreenBitsPerPixel(unsigned bits);

// The framework's memory limit for one bitmap's pixel data (default 1 GiB).
uint64_t MemoryLimit();
void SetMemoryLimit(uint64_t bytes);
// Bytes of one row padded to 4 bytes; 0 for a width of 0.
uint64_t BitmapRowBytes(uint64_t width, unsigned bitsPerPixel);
// Refuses (EInvalidGraphic, SImageTooLarge) an image whose pixel data would pass the memory limit.
void CheckImageSize(uint64_t width, uint64_t height, unsigned bitsPerPixel);
// Refuses a single buffer of that many bytes past the memory limit (decoders' work buffers).
void CheckAllocation(uint64_t bytes);

// A logical palette (what CreatePalette of the Windows graphics interface makes).
struct TPaletteEntry {
  uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
  bool operator==(const TPaletteEntry&) const = default;
};

class TPalette {
 public:
  explicit TPalette(std::vector<TPaletteEntry> entries) : Entries(std::move(entries)) {}
  const std::vector<TPaletteEntry>& entries() const { return Entries; }
  size_t size() const { return Entries.size(); }
  const TPaletteEntry& operator[](size_t i) const { return Entries[i]; }

 private:
  std::vector<TPaletteEntry> Entries;
};
using HPALETTE = std::shared_ptr<const TPalette>;

// A palette object of count entries (at most 256; missing entries zero-filled). A count of 0
// gives an empty handle.
HPALETTE CreatePalette(const TPaletteEntry* entries, size_t count);
HPALETTE CreatePalette(const std::vector<TPaletteEntry>& entries);

// Pixel storage, zeroed without a pass of ours where the memory is fresh from the system. Buffers
// of several MiB (a 4K wallpaper is 24 MiB) ask for transparent huge pages: their first touch then
// costs a dozen page faults instead of thousands, which on a virtual machine is most of the time of
// a wallpaper change.
void* AllocatePixelMemory(size_t bytes);
void FreePixelMemory(void* memory, size_t bytes) noexcept;

// Elements a vector makes without a value are left as the memory came: a pixel buffer made with
// its size reads as zero without a second pass. (Growing one in place would not zero the new
// part: pixel buffers are only ever made anew.)
template <typename T>
struct TPixelAllocator {
  using value_type = T;
  TPixelAllocator() = default;
  template <typename U>
  TPixelAllocator(const TPixelAllocator<U>&) noexcept {}
  T* allocate(size_t n) { return static_cast<T*>(AllocatePixelMemory(n * sizeof(T))); }
  void deallocate(T* p, size_t n) noexcept { FreePixelMemory(p, n * sizeof(T)); }
  template <typename U>
  void construct(U*) noexcept {}
  template <typename U, typename... A>
  void construct(U* p, A&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(args)...);
  }
  template <typename U>
  bool operator==(const TPixelAllocator<U>&) const noexcept {
    return true;
  }
};
using TPixelBytes = std::vector<uint8_t, TPixelAllocator<uint8_t>>;

class TBitmap : public TGraphic {
  MURALO_GRAPHIC_CLASS(TBitmap)
 public:
  TBitmap();
  ~TBitmap() override;  // out of line: TCanvas is incomplete here

  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  // Resizing keeps the overlapping top-left part of the image; new pixels are zero.
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }
  void SetSize(int width, int height);

  TPixelFormat PixelFormat() const { return FFormat; }
  // Changing the format converts the pixels it holds (indexed to a larger indexed format keeps
  // the indices and the palette; anything else goes through colour).
  void SetPixelFormat(TPixelFormat format);
  unsigned BitsPerPixel() const { return BitsPerPixelOf(FFormat); }

  HPALETTE Palette() const { return FPalette; }
  // Takes the palette (up to 256 entries are used).
  void SetPalette(HPALETTE palette);

  // Bit masks of a 16/32-bit BI_BITFIELDS image (red, green, blue); zero for the standard layouts.
  uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0;

  // When Transparent is set, drawing this bitmap leaves the target's pixels where this bitmap's
  // pixel has the colour TransparentColor (a COLORREF), as icons leave them under their mask.
  bool Transparent = false;
  TColor TransparentColor = clBlack;

  uint8_t* RowData(int y);
  const uint8_t* RowData(int y) const;
  size_t RowBytes() const { return FRowBytes; }
  // The whole pixel buffer, top row first.
  const TPixelBytes& Bits() const { return FBits; }

  // Releases the image: an empty 0 × 0 bitmap, no palette; the pixel format stays.
  void ReleaseImage();

  // One row as B, G, R, A bytes (A = 255), whatever the format.
  void ReadRowBGRA(int y, uint8_t* bgra) const;
  // Pixels first .. first + count - 1 of one row as B, G, R, A bytes.
  void ReadPixelsBGRA(int y, int first, int count, uint8_t* bgra) const;
  // Stores one row given as B, G, R, A; for indexed formats each pixel takes the nearest palette entry.
  void WriteRowBGRA(int y, const uint8_t* bgra);
  TColor Pixel(int x, int y) const;  // COLORREF of one pixel

  void Draw(TCanvas& canvas, const TRect& rect) override;
  void LoadFromStream(TStream& stream) override;  // BMP
  void SaveToStream(TStream& stream) override;    // uncompressed BMP in the bitmap's own format
  void Assign(const TGraphic& source) override;

  // The canvas drawing on this bitmap (created on first use).
  TCanvas& Canvas();

  // Tells the bitmap its pixels were changed through RowData (raises OnChange).
  void Modified() { Changed(); }

 private:
  int FWidth = 0, FHeight = 0;
  TPixelFormat FFormat = TPixelFormat::pfDevice;
  HPALETTE FPalette;
  TPixelBytes FBits;
  size_t FRowBytes = 0;
  std::unique_ptr<TCanvas> FCanvas;
};

}  // namespace muralo
