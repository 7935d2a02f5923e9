// Kodak Photo-CD residual decoding: Huffman-coded corrections of 4Base and 16Base images.
#include <algorithm>

#include "classlib/Streams.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

namespace {
// Photo-CD packs are read in sectors of this size.
constexpr size_t kSectorBytes = 2048;
// With rows up to this many bytes (Base and 4Base luma) one table serves every plane; 16Base
// carries one table per plane.
constexpr size_t kOneTableStride = 1536;
}  // namespace

TPCDDecoder::TPCDDecoder(TStream& AStream, uint32_t ALumaRows, uint32_t AChromaRows)
    : Stream(AStream), LumaRows(ALumaRows), ChromaRows(AChromaRows) {}

uint8_t TPCDDecoder::NextByte() {
  if (BufferAt == Buffer.size()) {
    Buffer.resize(kSectorBytes);
    Stream.ReadBuffer(Buffer.data(), kSectorBytes);
    BufferAt = 0;
  }
  return Buffer[BufferAt++];
}

// The bit window: the next bits to decode at the top of Window; after each advance it is topped
// up a byte at a time, so that the low bits hold the bytes just read.
void TPCDDecoder::Advance(uint32_t Bits) {
  Window = Bits >= 32 ? 0 : Window << Bits;
  Fill -= static_cast<int32_t>(Bits);
  while (Fill <= 24) {
    Window |= uint32_t{NextByte()} << (24 - Fill);
    Fill += 8;
  }
}

// A run of twelve 1 bits on a byte boundary, then bit by bit up to the row marker (23 ones and a
// zero).
void TPCDDecoder::Synchronize() {
  while ((Window & 0xFFF000u) != 0xFFF000u) Advance(8);
  while (!AtRowMarker()) Advance(1);
}

void TPCDDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  (void)Dest;
  uint8_t* const* planes = reinterpret_cast<uint8_t* const*>(Source);
  const size_t stride = PackedSize;
  Window = 0;
  Fill = 32;
  Buffer.clear();
  BufferAt = 0;

  std::vector<TCodeEntry> tables[3];
  const int tableCount = PackedSize <= kOneTableStride ? 1 : 3;
  for (int t = 0; t < tableCount; ++t) {
    Advance(8);
    const uint32_t entries = (Window & 0xFF) + 1;
    for (uint32_t e = 0; e < entries; ++e) {
      TCodeEntry entry;
      Advance(8);
      const uint32_t length = (Window & 0xFF) + 1;
      if (length > 16) return;
      entry.Length = static_cast<uint8_t>(length);
      Advance(16);
      entry.Code = (Window & 0xFFFF) << 16;
      Advance(8);
      entry.Delta = static_cast<int8_t>(Window & 0xFF);
      entry.Mask = ~uint32_t{0} << (32 - length);
      tables[t].push_back(entry);
    }
  }

  Advance(16);
  Advance(16);
  Synchronize();

  uint8_t* target = nullptr;  // the next sample to correct; null while the row lies outside its plane
  uint8_t* rowEnd = nullptr;
  const std::vector<TCodeEntry>* table = &tables[0];
  for (;;) {
    if (AtRowMarker()) {
      Advance(16);
      const uint32_t row = (Window >> 9) & 0x1FFF;
      if (static_cast<size_t>(row) == UnpackedSize) return;
      Advance(8);
      const uint32_t type = Window >> 30;
      Advance(16);
      if (type == 1) throw EAbort();
      // Type 0 luma, 2 chroma 1, 3 chroma 2. With one table it serves the chroma rows too.
      const uint32_t plane = type == 0 ? 0 : type - 1;
      const uint32_t planeRow = plane == 0 ? row : row / 2;
      const uint32_t rows = plane == 0 ? LumaRows : ChromaRows;
      table = &tables[std::min<int>(static_cast<int>(plane), tableCount - 1)];
      target = planeRow < rows && planes[plane] ? planes[plane] + planeRow * stride : nullptr;
      rowEnd = target ? target + stride : nullptr;
      continue;
    }
    const auto match =
        std::find_if(table->begin(), table->end(), [this](const TCodeEntry& e) { return (Window & e.Mask) == e.Code; });
    if (match == table->end()) {
      Synchronize();
      continue;
    }
    if (target && target < rowEnd) {
      *target = static_cast<uint8_t>(std::clamp(int32_t{*target} + match->Delta, 0, 255));
      ++target;
    }
    Advance(match->Length);
  }
}

}  // namespace muralo
