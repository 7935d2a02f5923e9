#pragma once
// ThunderScan 4-bit run-length/delta coding.
#include <cstddef>
#include <cstdint>

#include "imaging/compression/Decoder.h"

namespace muralo {

// ThunderScan 4-bit run-length/delta coding (TIFF compression 32809): 4-bit grey pixels, two per
// output byte, the first in the high nibble. The decoder restarts (last value 0) after every
// 2 x Width pixels, that is after every Width output bytes. Neither pointer is moved.
class TThunderDecoder : public TDecoder {
 public:
  explicit TThunderDecoder(uint32_t AWidth) : Width(AWidth) {}
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;

  uint32_t Width;
};

}  // namespace muralo
