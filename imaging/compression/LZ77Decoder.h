#pragma once
// Deflate (zlib inflate).
#include <cstddef>
#include <cstdint>

#include <zlib.h>

#include "imaging/compression/Decoder.h"

namespace muralo {

// Deflate (zlib inflate) for TIFF strips, Paint Shop Pro blocks and the PNG image data stream.
class TLZ77Decoder : public TDecoder {
 public:
  // AFlushMode: the flush argument of every inflate call (TIFF and PNG pass Z_PARTIAL_FLUSH, Paint
  // Shop Pro Z_FINISH). AAutoReset: reset the inflater at the start of every Decode (TIFF strips);
  // without it one stream continues across calls (PNG rows straddling IDAT chunks).
  TLZ77Decoder(int32_t AFlushMode, bool AAutoReset);
  ~TLZ77Decoder() override;

  // Raises EGraphicCompression(gesLZ77Error) when zlib refuses.
  void DecodeInit() override;
  // On return Source and Dest point just past the consumed input and the produced output, and
  // ZLibResult holds the outcome: Z_OK (more input may follow), Z_STREAM_END, or a negative zlib
  // error when the data is corrupt beyond what inflateSync can recover (the pointers are then
  // left as they were).
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
  void DecodeEnd() override;

  uint32_t GetAvailableInput() const { return Stream.avail_in; }
  uint32_t GetAvailableOutput() const { return Stream.avail_out; }

  int32_t ZLibResult = Z_OK;
  int32_t FlushMode;
  bool AutoReset;

 private:
  z_stream Stream;
  bool Initialized = false;
};

}  // namespace muralo
