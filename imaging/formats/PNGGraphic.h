#pragma once
// Portable Network Graphics (PNG) images: every colour type and bit depth of the format, plain or
// Adam7-interlaced, read into the bitmap through the colour manager. The image data stream is
// inflated in one call with libdeflate when the whole filtered image fits the memory limit, and
// row by row with zlib otherwise; both give the same pixels.
#include <cstdint>
#include <memory>
#include <vector>

#include "imaging/GraphicFramework.h"
#include "imaging/Graphicstrings.h"

namespace muralo {

class TLZ77Decoder;
class TImageBuffer;

// A chunk type: its four ASCII letters read as one big-endian value (PNG 5.3).
using TChunkType = uint32_t;

constexpr TChunkType ChunkType(const char (&name)[5]) {
  return (uint32_t(uint8_t(name[0])) << 24) | (uint32_t(uint8_t(name[1])) << 16) | (uint32_t(uint8_t(name[2])) << 8) |
         uint32_t(uint8_t(name[3]));
}

struct TPNGChunkHeader {
  uint32_t Length = 0;  // bytes of data, machine order
  TChunkType ChunkType = 0;
};

// The 13 data bytes of IHDR (PNG 11.2.2), width and height in machine order.
struct TPNGIHDR {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t BitDepth = 0;
  uint8_t ColorType = 0;
  uint8_t Compression = 0;
  uint8_t Filter = 0;
  uint8_t Interlace = 0;
};

// Undoes one PNG row filter (PNG 9.2): line holds the filtered bytes, previous the row above
// (already unfiltered), target receives the row; target may equal line. Unknown filter types leave
// the row as read.
void ApplyFilter(uint8_t filter, const uint8_t* line, const uint8_t* previous, uint8_t* target, uint32_t bpp,
                 uint32_t rowBytes);
// The portable version of the same, for checking the vector paths.
void ApplyFilterPortable(uint8_t filter, const uint8_t* line, const uint8_t* previous, uint8_t* target, uint32_t bpp,
                         uint32_t rowBytes);

// Decodes a whole PNG file held in memory into width × height B, G, R, A bytes, top row first:
// the alpha of RGBA images as stored, 0 where a tRNS colour makes a pixel transparent, else 255.
// The icon class gets its PNG images through it (PNG-compressed icon entries).
std::vector<uint8_t> DecodePNGToBGRA(const uint8_t* data, size_t size, int& width, int& height);

// Which inflater decoded the image data of the last load (tests compare both paths).
enum class TPNGInflatePath { ipNone, ipWhole, ipStreaming };

class TPNGGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPNGGraphic)
 public:
  TPNGGraphic();
  ~TPNGGraphic() override;

  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

  // Off: always inflate row by row with zlib (the path that works within any memory limit).
  bool AllowWholeInflate = true;
  TPNGInflatePath LastInflatePath() const { return FLastPath; }

 protected:
  const char* RefusedHeaderLabel() const override { return lblPNG; }
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  bool IsChunk(TChunkType type) const;
  uint32_t LoadAndSwapHeader();
  void ReadDataAndCheckCRC();
  void CheckChunkFits();
  void ReadChunkData(uint8_t* into);
  void SkipChunk();
  uint32_t SetupColorDepth(uint8_t colorType, uint8_t bitDepth);
  void ReadRow(uint8_t* buffer, uint32_t count);
  void LoadIDAT(const TPNGIHDR& ihdr);
  void LoadBackgroundColor(const TPNGIHDR& ihdr);
  void LoadTransparency(const TPNGIHDR& ihdr);
  void LoadPalette(const TPNGIHDR& ihdr);

  // Row decoding behind LoadIDAT.
  void GatherImageData(uint64_t expected);
  bool InflateWhole(uint64_t filteredSize, uint8_t* out);
  void DecodeRows(const TPNGIHDR& ihdr, uint32_t multiplier, uint8_t* whole);
  void PrepareBitmap(const TPNGIHDR& ihdr);
  void FillBackground(uint32_t firstRow);
  void FinishTransparency(const TPNGIHDR& ihdr, const uint8_t* sourceRow, uint8_t* targetRow, uint64_t pixels,
                          uint32_t first, uint32_t step);

  std::unique_ptr<TLZ77Decoder> Decoder;
  uint32_t IDATSize = 0;
  std::vector<uint8_t> RawBuffer;
  const uint8_t* CurrentSource = nullptr;
  TPNGChunkHeader Header;
  uint32_t CurrentCRC = 0;
  uint32_t SourceBPP = 1;
  HPALETTE Palette;
  // The transparent colour is the bitmap's own TransparentColor; while loading, 0x1FFFFFFF there
  // means that no tRNS chunk gave one.
  uint32_t BackgroundColor = 0xFFFFFF;

  // Per-load bookkeeping beyond the fields above.
  bool ColorDepthSet = false;
  bool ImageDataRead = false;
  bool StreamEnded = false;  // the image data ran out before the image was complete
  // The image data chunks read ahead for the one-call inflate: their data back to back, and
  // each chunk's length, so that the row-by-row inflate can still take them chunk by chunk.
  struct TGathered {
    std::unique_ptr<TImageBuffer> Buffer;  // grown without clearing: every byte is read into first
    uint8_t* Data = nullptr;
    size_t Size = 0, Capacity = 0;
    uint8_t* Extend(size_t count);  // room for count more bytes at the end
  } Gathered;
  void ReleaseGathered();
  std::vector<uint32_t> GatheredLengths;
  size_t NextGathered = 0;
  size_t GatheredOffset = 0;
  bool UseGathered = false;
  const uint8_t* ChunkStart = nullptr;
  std::vector<uint8_t> TransparentSample;  // the tRNS samples as stored (big-endian, 2 bytes each)
  uint8_t TransparentTarget[3] = {};       // what those samples become in the bitmap
  TPNGInflatePath FLastPath = TPNGInflatePath::ipNone;
};

}  // namespace muralo
