#pragma once
// Kodak Photo-CD Huffman residuals: the corrections that refine an upsampled image to 4Base or
// 16Base. The compressed bits come from the stream given at construction (read from its position
// in 2048-byte sectors with exact reads, so a stream that ends early raises EReadError). Decode
// takes as Source the address of an array of three plane addresses (luma, chroma 1, chroma 2),
// ignores Dest, takes as PackedSize the row stride of the planes in bytes and as UnpackedSize the
// row number at which decoding ends. A chroma row r is plane row r div 2. Corrections that fall
// outside the planes (a row past ALumaRows or AChromaRows, a column past the stride) are dropped.
// A plane type of 1 in a row header raises EAbort; a code longer than 16 bits in a table ends
// decoding at once with nothing written.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/compression/Decoder.h"

namespace muralo {

class TStream;

class TPCDDecoder : public TDecoder {
 public:
  TPCDDecoder(TStream& AStream, uint32_t ALumaRows, uint32_t AChromaRows);

  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;

  struct TCodeEntry {
    uint32_t Code = 0;  // the code in the top Length bits
    uint32_t Mask = 0;  // the top Length bits set
    uint8_t Length = 0;
    int8_t Delta = 0;
  };

 private:
  void Advance(uint32_t Bits);
  uint8_t NextByte();
  bool AtRowMarker() const { return (Window & 0xFFFFFF00u) == 0xFFFFFE00u; }
  void Synchronize();

  TStream& Stream;
  uint32_t LumaRows;
  uint32_t ChromaRows;
  uint32_t Window = 0;
  int32_t Fill = 32;
  std::vector<uint8_t> Buffer;
  size_t BufferAt = 0;
};

}  // namespace muralo
