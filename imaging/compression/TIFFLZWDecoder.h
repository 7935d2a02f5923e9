#pragma once
// LZW for TIFF strips and tiles (TIFF compression 5, TIFF 6.0 section 13): 9- to 12-bit codes,
// 256 = Clear, 257 = EndOfInformation, the first free code 258. Two bit orders exist: the standard
// one (codes packed most significant bit first, the code width growing one code early) and the
// old "compat" one of pre-6.0 writers (least significant bit first, the width growing when the
// table reaches a power of two); each Decode call is one stream and tells them apart by its first
// two bytes. Output stops at UnpackedSize; a code that names no string yet (corrupt data) ends the
// block there, leaving the rest of the output as it was. Neither pointer is moved.
#include <cstddef>
#include <cstdint>

#include "imaging/compression/Decoder.h"

namespace muralo {

class TTIFFLZWDecoder : public TDecoder {
 public:
  TTIFFLZWDecoder();
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;

  // Whether a stream starting with these bytes uses the old least-significant-bit-first codes.
  static bool IsCompatStream(const uint8_t* Source, size_t PackedSize);
  // Bytes written by the last Decode call.
  size_t BytesDecoded() const { return Decoded; }

 private:
  // A string of the table as a piece of the output already decoded (codes below 256 are their
  // own byte).
  struct TEntry {
    uint32_t At;      // where the string starts in the output
    uint32_t Length;  // bytes of the string
  };
  template <bool Compat>
  size_t DecodeStream(const uint8_t* Source, size_t PackedSize, uint8_t* Dest, size_t Room);
  TEntry Table[4096];
  size_t Decoded = 0;
};

}  // namespace muralo
