// The image data of a PNG file: inflating the zlib stream carried by the IDAT chunks, undoing the
// row filters, walking the Adam7 passes and converting the rows into the bitmap.
#include <algorithm>
#include <cstring>
#include <memory>

#include <libdeflate.h>
#include <zlib.h>

#ifdef __linux__
#include <sys/mman.h>
#endif

#include "classlib/ByteOrder.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"
#include "imaging/formats/PNGGraphic.h"

namespace muralo {

// The image data of a whole load, and the image it inflates to: megabytes written once and read
// once. Mapped on
// its own, in 2 MiB pages where the system allows them, it costs a few page faults instead of one
// per 4 KiB page (which can take longer than inflating). Not cleared: the inflate writes every
// byte that the rows read.
class TImageBuffer {
 public:
  explicit TImageBuffer(size_t size) {
#ifdef __linux__
    constexpr size_t kHuge = size_t{2} << 20;
    if (size >= kHuge) {
      Mapped = kHuge + (size + kHuge - 1) / kHuge * kHuge;
      void* p = mmap(nullptr, Mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p != MAP_FAILED) {
        Base = static_cast<uint8_t*>(p);
        Data = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + kHuge - 1) & ~uintptr_t(kHuge - 1));
        madvise(Data, Mapped - size_t(Data - Base), MADV_HUGEPAGE);
        return;
      }
    }
#endif
    Owned.reset(new uint8_t[size]);
    Data = Owned.get();
  }
  ~TImageBuffer() {
#ifdef __linux__
    if (Base) munmap(Base, Mapped);
#endif
  }
  TImageBuffer(const TImageBuffer&) = delete;
  TImageBuffer& operator=(const TImageBuffer&) = delete;
  uint8_t* get() const { return Data; }

 private:
  std::unique_ptr<uint8_t[]> Owned;
  uint8_t* Base = nullptr;
  size_t Mapped = 0;
  uint8_t* Data = nullptr;
};

namespace {

constexpr const char* kLabel = "PNG";
constexpr uint32_t kNoColor = 0x1FFFFFFF;
constexpr TChunkType kIDAT = ChunkType("IDAT");

// PNG 8.2, table 8.1: the seven Adam7 passes, with the pixel mask that selects each pass's
// columns in a group of eight (bit 7 = first column).
struct TAdam7Pass {
  uint32_t RowStart, ColumnStart, RowStep, ColumnStep;
  uint8_t Mask;
};
constexpr TAdam7Pass kAdam7[7] = {{0, 0, 8, 8, 0x80}, {0, 4, 8, 8, 0x08}, {4, 0, 8, 4, 0x88}, {0, 2, 4, 4, 0x22},
                                  {2, 0, 4, 2, 0xAA}, {0, 1, 2, 2, 0x55}, {1, 0, 2, 1, 0xFF}};
// A plain image is one pass over every pixel.
constexpr TAdam7Pass kWhole = {0, 0, 1, 1, 0xFF};

[[noreturn]] void Invalid(const char* message) { throw EInvalidGraphic(Format(message, kLabel)); }

// Filtered bytes of one row of `pixels` pixels, without the filter byte (PNG 7.2).
uint64_t FilteredRowBytes(uint64_t pixels, uint32_t bitDepth, uint32_t multiplier) {
  return (pixels * bitDepth + 7) / 8 * multiplier;
}

uint64_t PassWidth(uint32_t width, const TAdam7Pass& p) {
  return p.ColumnStart >= width ? 0 : (uint64_t{width} + p.ColumnStep - p.ColumnStart - 1) / p.ColumnStep;
}

uint64_t PassHeight(uint32_t height, const TAdam7Pass& p) {
  return p.RowStart >= height ? 0 : (uint64_t{height} + p.RowStep - p.RowStart - 1) / p.RowStep;
}

void PutBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

struct TDecompressorFree {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

}  // namespace

void TPNGGraphic::ReadRow(uint8_t* buffer, uint32_t count) {
  uint8_t* dest = buffer;
  // A stream that has ended gives nothing more (the inflater is not asked again: it would not
  // move its pointers).
  if (count > 0 && Decoder->ZLibResult == Z_STREAM_END) Invalid(gesExtraCompressedData);
  while (dest < buffer + count) {
    uint32_t left = IDATSize - static_cast<uint32_t>(CurrentSource - ChunkStart);
    bool noMoreInput = false;
    if (left == 0) {
      // The next chunk with data; empty IDAT chunks are passed over.
      IDATSize = 0;
      while (IDATSize == 0 && !noMoreInput) {
        if (UseGathered) {
          if (NextGathered == GatheredLengths.size()) {
            noMoreInput = true;
            break;
          }
          ChunkStart = Gathered.Data + GatheredOffset;
          IDATSize = GatheredLengths[NextGathered++];
          GatheredOffset += IDATSize;
        } else {
          if (!IsChunk(kIDAT)) {
            noMoreInput = true;
            break;
          }
          ReadDataAndCheckCRC();
          ChunkStart = RawBuffer.data();
          IDATSize = Header.Length;
          CurrentCRC = LoadAndSwapHeader();
        }
      }
      CurrentSource = ChunkStart;
      left = IDATSize;
    }
    // Without more input the inflater still gives what its buffered bits hold, and tells whether
    // the stream ended there (an error: the image is not complete) or was cut off.
    const uint8_t* before = CurrentSource;
    uint8_t* const beforeDest = dest;
    Decoder->Decode(CurrentSource, dest, static_cast<int32_t>(std::min<uint32_t>(left, INT32_MAX)),
                    static_cast<int32_t>(buffer + count - dest));
    if (Decoder->ZLibResult == Z_STREAM_END) {
      // The stream ended: short of the image, or with data after its end in this chunk.
      if (dest < buffer + count || Decoder->GetAvailableInput() > 0) Invalid(gesExtraCompressedData);
      return;
    }
    if (Decoder->ZLibResult != Z_OK) Invalid(gesCompression);
    if (CurrentSource == before && dest == beforeDest) {
      if (!noMoreInput) Invalid(gesCompression);  // input that the inflater cannot take
      StreamEnded = true;                         // the data was cut off: the rest of the image stays as it is
      return;
    }
  }
}

TPNGGraphic::TPNGGraphic() = default;
TPNGGraphic::~TPNGGraphic() = default;

uint8_t* TPNGGraphic::TGathered::Extend(size_t count) {
  if (Size + count > Capacity) {
    const size_t capacity = std::max(Size + count, Capacity * 2);
    auto grown = std::make_unique<TImageBuffer>(capacity);
    if (Size > 0) std::memcpy(grown->get(), Data, Size);
    Buffer = std::move(grown);
    Data = Buffer->get();
    Capacity = capacity;
  }
  Size += count;
  return Data + Size - count;
}

void TPNGGraphic::ReleaseGathered() {
  Gathered.Buffer.reset();
  Gathered.Data = nullptr;
  Gathered.Size = Gathered.Capacity = 0;
  GatheredLengths = {};
}

// Reads every consecutive IDAT chunk (CRC checked) into one buffer, keeping each chunk's length,
// and leaves the first chunk after them current.
void TPNGGraphic::GatherImageData(uint64_t expected) {
  ReleaseGathered();
  // Room for a stream about the image's size, within what the file holds; more grows the buffer.
  const int64_t left = Stream->Size() - Stream->Position();
  if (left > 0) {
    const uint64_t first = std::min<uint64_t>(uint64_t(left), expected + expected / 64 + 1024);
    Gathered.Extend(first);
    Gathered.Size = 0;
  }
  while (IsChunk(kIDAT)) {
    CheckChunkFits();
    ReadChunkData(Gathered.Extend(Header.Length));
    if (Header.Length > 0) GatheredLengths.push_back(Header.Length);
    CurrentCRC = LoadAndSwapHeader();
  }
  NextGathered = 0;
  GatheredOffset = 0;
  UseGathered = true;
}

// Inflates the gathered zlib stream in one call. Succeeds only where the row-by-row inflate
// would give the same rows without an error: the stream ends exactly with the image and exactly
// at the end of its last chunk; anything else is left to the row-by-row inflate.
bool TPNGGraphic::InflateWhole(uint64_t filteredSize, uint8_t* out) {
  std::unique_ptr<libdeflate_decompressor, TDecompressorFree> d(libdeflate_alloc_decompressor());
  if (!d) return false;
  size_t used = 0, produced = 0;
  const libdeflate_result r =
      libdeflate_zlib_decompress_ex(d.get(), Gathered.Data, Gathered.Size, out, filteredSize, &used, &produced);
  return r == LIBDEFLATE_SUCCESS && produced == filteredSize && used == Gathered.Size;
}

void TPNGGraphic::FillBackground(uint32_t firstRow) {
  const int w = Width();
  const uint32_t c = BackgroundColor;
  for (int y = static_cast<int>(firstRow); y < Height(); ++y) {
    uint8_t* row = RowData(y);
    switch (PixelFormat()) {
      // Grey and palette background values are levels or indices of the bitmap's own palette.
      case TPixelFormat::pf1bit:
        std::memset(row, (c & 1) ? 0xFF : 0, RowBytes());
        break;
      case TPixelFormat::pf4bit:
        std::memset(row, int((c & 0xF) * 0x11), RowBytes());
        break;
      case TPixelFormat::pf8bit:
        std::memset(row, int(c & 0xFF), RowBytes());
        break;
      case TPixelFormat::pf24bit:
        for (int x = 0; x < w; ++x)
          row[3 * x] = GetBValue(c), row[3 * x + 1] = GetGValue(c), row[3 * x + 2] = GetRValue(c);
        break;
      default:
        for (int x = 0; x < w; ++x)
          row[4 * x] = GetBValue(c), row[4 * x + 1] = GetGValue(c), row[4 * x + 2] = GetRValue(c),
                  row[4 * x + 3] = 0xFF;
        break;
    }
  }
}

void TPNGGraphic::PrepareBitmap(const TPNGIHDR& ihdr) {
  if (Palette) SetPalette(Palette);
  SizeFromProperties();
  Transparent = false;
  if (TransparentColor == kNoColor) {
    TransparentColor = clBlack;
    return;
  }
  // The transparent colour is what the tRNS samples become in the bitmap: one pixel of them
  // goes through the same conversion as the image (gamma included).
  uint8_t source[8] = {};
  const uint32_t d = ihdr.BitDepth;
  const size_t samples = TransparentSample.size() / 2;
  for (size_t i = 0; i < samples; ++i) {
    const uint16_t v = GetBE16(TransparentSample.data() + 2 * i);
    if (d == 16)
      PutBE16(source + 2 * i, v);
    else if (d == 8)
      source[i] = uint8_t(v);
    else
      source[0] = uint8_t(v << (8 - d));
  }
  uint8_t target[8] = {};
  ColorManager().ConvertRow(source, target, 1, 0xFF);
  if (PixelFormat() == TPixelFormat::pf24bit) {
    std::copy_n(target, 3, TransparentTarget);
    TransparentColor = RGB(target[2], target[1], target[0]);
  } else {
    const unsigned bits = BitsPerPixel();
    TransparentTarget[0] = uint8_t(target[0] >> (8 - bits));
    const HPALETTE pal = TBitmap::Palette();
    const TPaletteEntry e = pal && TransparentTarget[0] < pal->size() ? (*pal)[TransparentTarget[0]] : TPaletteEntry{};
    TransparentColor = RGB(e.Red, e.Green, e.Blue);
  }
  Transparent = true;
}

// After a row is converted: where the bitmap cannot tell the transparent samples from others (16-bit
// samples reduced to 8 bits, or colours merged by the gamma table), the pixels that only look
// like the transparent colour are moved off it by one level, so that exactly the pixels whose
// samples equal the tRNS samples at the image's depth are drawn transparent (PNG 11.3.2.1).
void TPNGGraphic::FinishTransparency(const TPNGIHDR& ihdr, const uint8_t* source, uint8_t* target, uint64_t pixels,
                                     uint32_t first, uint32_t step) {
  if (!Transparent) return;
  const uint32_t d = ihdr.BitDepth;
  const bool merges = d == 16 || (ihdr.ColorType == 2 && ColorManager().TargetOptions.Has(coApplyGamma));
  if (!merges) return;
  const size_t samples = TransparentSample.size() / 2;
  const size_t sampleBytes = d / 8;
  uint8_t key[6];
  for (size_t i = 0; i < samples; ++i) {
    const uint16_t v = GetBE16(TransparentSample.data() + 2 * i);
    if (d == 16)
      PutBE16(key + 2 * i, v);
    else
      key[i] = uint8_t(v);
  }
  const size_t pixelBytes = samples * sampleBytes;
  const size_t targetBytes = ihdr.ColorType == 2 ? 3 : 1;
  for (uint64_t i = 0; i < pixels; ++i) {
    uint8_t* t = target + (first + i * step) * targetBytes;
    if (std::memcmp(t, TransparentTarget, targetBytes) != 0) continue;
    if (std::memcmp(source + i * pixelBytes, key, pixelBytes) != 0) t[0] ^= 1;
  }
}

void TPNGGraphic::DecodeRows(const TPNGIHDR& ihdr, uint32_t multiplier, uint8_t* whole) {
  const uint32_t width = ihdr.Width, height = ihdr.Height;
  const bool interlaced = ihdr.Interlace != 0;
  const uint64_t fullRow = FilteredRowBytes(width, ihdr.BitDepth, multiplier);
  const std::vector<uint8_t> zeros(fullRow + 1, 0);
  std::vector<uint8_t> current, previous;
  if (!whole) {
    CheckAllocation(2 * (fullRow + 1));
    current.assign(fullRow + 1, 0);
    previous.assign(fullRow + 1, 0);
  }
  TColorManager& cm = ColorManager();
  uint8_t* at = whole;
  const int passes = interlaced ? 7 : 1;
  for (int p = 0; p < passes; ++p) {
    const TAdam7Pass& pass = interlaced ? kAdam7[p] : kWhole;
    const uint64_t pixels = PassWidth(width, pass);
    if (pixels == 0) continue;
    const uint64_t r = FilteredRowBytes(pixels, ihdr.BitDepth, multiplier);
    // The first row of a pass has an all-zero row above it (PNG 9.2).
    const uint8_t* above = zeros.data() + 1;
    if (!whole) std::fill_n(previous.begin(), r + 1, 0);
    for (uint64_t y = pass.RowStart; y < height; y += pass.RowStep) {
      uint8_t* line;
      if (whole) {
        line = at;
        at += r + 1;
      } else {
        ReadRow(current.data(), static_cast<uint32_t>(r + 1));
        // The data ended early: rows not decoded keep the background.
        if (StreamEnded) {
          if (!interlaced) FillBackground(static_cast<uint32_t>(y));
          return;
        }
        line = current.data();
      }
      ApplyFilter(line[0], line + 1, above, line + 1, SourceBPP, static_cast<uint32_t>(r));
      uint8_t* target = RowData(static_cast<int>(y));
      cm.ConvertRow(line + 1, target, width, pass.Mask);
      FinishTransparency(ihdr, line + 1, target, pixels, pass.ColumnStart, pass.ColumnStep);
      if (whole) {
        above = line + 1;
      } else {
        std::swap(current, previous);
        above = previous.data() + 1;
      }
      // Progress after each row; interlaced images report their last pass, whose rows complete
      // the picture.
      if (!interlaced)
        RowProgress(static_cast<uint32_t>(y + 1), height);
      else if (p == 6)
        RowProgress(static_cast<uint32_t>(y / 2 + 1), height / 2);
    }
  }
}

void TPNGGraphic::LoadIDAT(const TPNGIHDR& ihdr) {
  StartProgress(gesTransfering);
  if (!ColorDepthSet) SourceBPP = SetupColorDepth(ihdr.ColorType, ihdr.BitDepth);
  ColorDepthSet = true;
  // PNG 11.2.3: a palette image cannot be shown without its palette.
  if (ihdr.ColorType == 3 && !Palette) Invalid(gesInvalidPalette);
  const uint32_t multiplier = ihdr.BitDepth == 16 ? SourceBPP / 2 : SourceBPP;
  PrepareBitmap(ihdr);
  // Interlaced images are filled first: an image cut short leaves pixels of every row unwritten.
  if (ihdr.Interlace != 0) FillBackground(0);

  // The size of the whole filtered image, filter bytes included.
  uint64_t filteredSize = 0;
  const int passes = ihdr.Interlace != 0 ? 7 : 1;
  for (int p = 0; p < passes; ++p) {
    const TAdam7Pass& pass = ihdr.Interlace != 0 ? kAdam7[p] : kWhole;
    const uint64_t w = PassWidth(ihdr.Width, pass);
    if (w > 0) filteredSize += PassHeight(ihdr.Height, pass) * (FilteredRowBytes(w, ihdr.BitDepth, multiplier) + 1);
  }

  IDATSize = 0;
  ChunkStart = CurrentSource = RawBuffer.data();
  if (AllowWholeInflate && filteredSize <= MemoryLimit()) {
    GatherImageData(filteredSize);
    TImageBuffer whole(filteredSize);
    if (InflateWhole(filteredSize, whole.get())) {
      FLastPath = TPNGInflatePath::ipWhole;
      ReleaseGathered();
      DecodeRows(ihdr, multiplier, whole.get());
      return;
    }
  }
  FLastPath = TPNGInflatePath::ipStreaming;
  DecodeRows(ihdr, multiplier, nullptr);
  // Image data left over after the image is read (CRC checked) and ignored.
  while (!UseGathered && IsChunk(kIDAT)) {
    ReadDataAndCheckCRC();
    CurrentCRC = LoadAndSwapHeader();
  }
}

}  // namespace muralo
