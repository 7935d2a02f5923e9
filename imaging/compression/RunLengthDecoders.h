#pragma once
// The run-length decoders (Targa, PackBits, PCX, SGI, Dr. Halo, Paint Shop Pro, RLA) and the Targa
// run-length encoder.
#include <cstddef>
#include <cstdint>

#include "imaging/compression/Decoder.h"

namespace muralo {

// Run-length decoders. Pure functions of their input (no state between calls, no allocation),
// except the Targa and PCX decoders, which read a file's data in pieces: a packet cut by the end
// of the output area goes on at the next call (packets that cross rows), and one cut by the end of
// the input takes what is there and goes on with the next piece; DecodeInit forgets such a packet.

// Truevision Targa RLE: header bit 7 set = run, clear = raw; (header & 0x7F) + 1 pixels.
// UnpackedSize counts pixels. Source moves past the whole pixels taken; a run header whose pixel
// is not all in the input stays there for the next call.
class TTargaRLEDecoder : public TDecoder {
 public:
  explicit TTargaRLEDecoder(uint32_t APixelBits) : PixelBits(APixelBits) {}

  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
  void DecodeInit() override { Left = 0; }
  // Dest must hold MaxEncodedSize(Count) bytes; twice the row size always suffices. (8-bit
  // rows such as A B B C D D ... take 4 bytes per 3 pixels, more than the row plus one header per
  // 128 pixels.)
  void Encode(const uint8_t* Source, uint8_t* Dest, size_t Count, size_t& BytesStored) override;
  size_t MaxEncodedSize(size_t Count) const;

  uint32_t PixelBits;  // 8, 15, 16, 24 or 32; any other depth decodes nothing

  // The packet in progress: pixels still to write, whether it is a run, and the run's pixel.
  size_t Left = 0;
  bool Run = false;
  uint8_t Pixel[4] = {};
};

// PackBits (Apple, TIFF compression 32773, Photoshop): signed n 0..127 literal of n + 1 bytes,
// -127..-1 run of 1 - n bytes, -128 no operation.
class TPackbitsRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
};

// ZSoft PCX: a byte with both top bits set is a run of (byte & 0x3F) copies of the next byte,
// any other byte stands for itself. Source moves past the bytes taken; a count without its value
// stays there for the next call.
class TPCXRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
  void DecodeInit() override { Left = 0; }

  size_t Left = 0;  // bytes of the run in progress still to write
  uint8_t Value = 0;
};

// Silicon Graphics RLE, one channel row ending with a 0-length header: bit 7 set = literal,
// clear = run; count = header & 0x7F. SampleBits 8 selects byte units, any other value 16-bit
// big-endian units (copied in their stored byte order). 8-bit rows far from the room's end are
// written 32 bytes at a time: a row that ends early may leave up to 31 bytes of the room after it
// written over.
class TSGIRLEDecoder : public TDecoder {
 public:
  explicit TSGIRLEDecoder(uint8_t ASampleBits) : SampleBits(ASampleBits) {}

  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;

  uint8_t SampleBits;
};

// Dr. Halo CUT, one row: a 2-byte count (skipped), then packets until a 0 byte; bit 7 set = run,
// clear = literal; count = header & 0x7F. Source is moved just past the row's 0 byte (pixels past
// the room are passed over).
class TCUTRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
};

// Paint Shop Pro RLE: header below 128 = literal of that many bytes, 128 and above = run of
// (header - 128) copies of the next byte.
class TPSPRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
};

// Alias/Wavefront RLA: signed n >= 0 = run of n + 1 copies of the next byte, n < 0 = literal of
// -n bytes.
class TRLADecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
};

}  // namespace muralo
