#pragma once
// Deflate for whole TIFF strips and tiles: libdeflate inflates a block in one call; a block it
// refuses (corrupt data, or more data than the room) goes through TLZ77Decoder instead, which
// keeps what it can recover. Neither pointer is moved.
#include <cstddef>
#include <cstdint>

#include "imaging/compression/LZ77Decoder.h"

namespace muralo {

class TDeflateBlockDecoder : public TDecoder {
 public:
  TDeflateBlockDecoder();
  ~TDeflateBlockDecoder() override;

  void DecodeInit() override;
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
  void DecodeEnd() override;

  // Bytes written by the last Decode call.
  size_t BytesDecoded() const { return Decoded; }

 private:
  struct libdeflate_decompressor* Decompressor = nullptr;
  TLZ77Decoder Fallback{Z_PARTIAL_FLUSH, true};
  size_t Decoded = 0;
};

}  // namespace muralo
