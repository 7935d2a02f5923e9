// Whole blocks of deflate data (RFC 1950 zlib streams, TIFF compression 8 and 32946) through
// libdeflate, with zlib's inflate as the tolerant path for blocks libdeflate refuses.

#include <libdeflate.h>

#include "imaging/Graphicstrings.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

TDeflateBlockDecoder::TDeflateBlockDecoder() = default;

TDeflateBlockDecoder::~TDeflateBlockDecoder() {
  if (Decompressor != nullptr) libdeflate_free_decompressor(Decompressor);
}

void TDeflateBlockDecoder::DecodeInit() {
  if (Decompressor == nullptr) Decompressor = libdeflate_alloc_decompressor();
  if (Decompressor == nullptr) CompressionError(gesLZ77Error);
  Fallback.DecodeInit();
}

void TDeflateBlockDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  if (Decompressor == nullptr) DecodeInit();
  const size_t packed = PackedSize;
  const size_t room = UnpackedSize;
  Decoded = 0;
  if (packed == 0 || room == 0) return;
  size_t produced = 0;
  if (libdeflate_zlib_decompress(Decompressor, Source, packed, Dest, room, &produced) == LIBDEFLATE_SUCCESS) {
    Decoded = produced;
    return;
  }
  // Corrupt or longer than the block: zlib recovers what it can, up to the room.
  const uint8_t* source = Source;
  uint8_t* dest = Dest;
  Fallback.Decode(source, dest, PackedSize, UnpackedSize);
  Decoded = static_cast<size_t>(dest - Dest);
}

void TDeflateBlockDecoder::DecodeEnd() { Fallback.DecodeEnd(); }

}  // namespace muralo
