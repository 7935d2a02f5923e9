#pragma once
// The decoders of the image framework (unit GraphicCompression): one class per compression scheme
// that the format readers meet, all derived from TDecoder.
//
// Bounds. Every Decode is given both ends of its data and never reads or writes outside them,
// whatever the data holds:
//   - PackedSize is the number of compressed bytes readable at Source;
//   - UnpackedSize is the room at Dest: a number of bytes, except for TTargaRLEDecoder where it is
//     a number of pixels (the room is then UnpackedSize x pixel size bytes).
// A negative size counts as 0. Well-formed data decodes exactly within these bounds; a packet that
// would read past the input or write past the output is cut at the boundary and decoding of that
// block stops there. The run-length decoders raise no errors; the fax, deflate and JPEG decoders
// raise EGraphicCompression (or the framework's warning) as documented at each class.
//
// Write-back. Source and Dest are passed by reference so that a decoder can report how far it got.
// TTargaRLEDecoder and TCUTRLEDecoder move Source to the first byte they did not consume;
// TLZ77Decoder moves both Source and Dest. No other decoder moves either pointer; a caller that
// decodes several blocks from one buffer keeps its own positions.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <zlib.h>

#include "classlib/Exception.h"
#include "imaging/ImageTypes.h"

namespace muralo {

// The error of the decoders: corrupt compressed data or a scheme the framework cannot decode.
class EGraphicCompression : public Exception {
 public:
  using Exception::Exception;
};

// Raises EGraphicCompression with the given text.
[[noreturn]] void CompressionError(const std::string& ErrorString);

// The common decoder interface. A reader creates the decoder it needs for one image, calls
// DecodeInit once, Decode as often as its format dictates (once per row, per channel row, per strip
// or per block), DecodeEnd once, and frees the decoder (also when loading fails).
class TDecoder {
 public:
  TDecoder() = default;
  TDecoder(const TDecoder&) = delete;
  TDecoder& operator=(const TDecoder&) = delete;
  virtual ~TDecoder() = default;

  virtual void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) = 0;
  virtual void DecodeEnd() {}
  virtual void DecodeInit() {}
  // Compresses Count units from Source into Dest and sets BytesStored to the number of bytes
  // written. Only TTargaRLEDecoder encodes; every other decoder leaves BytesStored as it was.
  virtual void Encode(const uint8_t* Source, uint8_t* Dest, uint32_t Count, uint32_t& BytesStored) = 0;
  virtual void EncodeInit() {}
  virtual void EncodeEnd() {}
};

// ---------------------------------------------------------------------------------------------
// Run-length decoders. Pure functions of their input: no state between calls, no allocation.

// Truevision Targa RLE: header bit 7 set = run, clear = raw; (header & 0x7F) + 1 pixels.
// UnpackedSize counts pixels. Source is moved to the first byte not consumed.
class TTargaRLEDecoder : public TDecoder {
 public:
  explicit TTargaRLEDecoder(uint32_t APixelBits) : PixelBits(APixelBits) {}

  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  // Dest must hold MaxEncodedSize(Count) bytes; twice the row size always suffices. (8-bit
  // rows such as A B B C D D ... take 4 bytes per 3 pixels, more than the row plus one header per
  // 128 pixels.)
  void Encode(const uint8_t* Source, uint8_t* Dest, uint32_t Count, uint32_t& BytesStored) override;
  size_t MaxEncodedSize(uint32_t Count) const;

  uint32_t PixelBits;  // 8, 15, 16, 24 or 32; any other depth decodes nothing
};

// PackBits (Apple, TIFF compression 32773, Photoshop): signed n 0..127 literal of n + 1 bytes,
// -127..-1 run of 1 - n bytes, -128 no operation.
class TPackbitsRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// ZSoft PCX: a byte with both top bits set is a run of (byte & 0x3F) copies of the next byte,
// any other byte stands for itself. A run longer than the room left is cut to it.
class TPCXRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Silicon Graphics RLE, one channel row ending with a 0-length header: bit 7 set = literal,
// clear = run; count = header & 0x7F. SampleBits 8 selects byte units, any other value 16-bit
// big-endian units (copied in their stored byte order).
class TSGIRLEDecoder : public TDecoder {
 public:
  explicit TSGIRLEDecoder(uint8_t ASampleBits) : SampleBits(ASampleBits) {}

  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  uint8_t SampleBits;
};

// Dr. Halo CUT, one row: a 2-byte count (skipped), then packets until a 0 byte; bit 7 set = run,
// clear = literal; count = header & 0x7F. Source is moved just past the row's 0 byte.
class TCUTRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Paint Shop Pro RLE: header below 128 = literal of that many bytes, 128 and above = run of
// (header - 128) copies of the next byte.
class TPSPRLEDecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// Alias/Wavefront RLA: signed n >= 0 = run of n + 1 copies of the next byte, n < 0 = literal of
// -n bytes.
class TRLADecoder : public TDecoder {
 public:
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}
};

// ---------------------------------------------------------------------------------------------
// CCITT fax decoders: one-dimensional Modified Huffman coding of ITU-T T.4 into 1-bit rows
// (first pixel in the most significant bit, 1 = black, each row starting on a new byte, so a row
// takes (Width + 7) div 8 bytes). Neither encodes; neither moves Source or Dest. The compressed
// data is never modified (bit-reversed input is read through a table).

// One node of a code tree.
struct TStateEntry {
  uint32_t NewState[2] = {0, 0};  // next node for bit 0 and bit 1; 0 = no transition
  int32_t RunLength = 0;          // run length of the code ending here; -1 end of line; -2 invalid
};
using TStateArray = std::vector<TStateEntry>;

class TCCITTDecoder : public TDecoder {
 public:
  // AOptions: the TIFF T4Options value; ASwapBits: bytes store their bits least significant first
  // (TIFF FillOrder 2); AWordAligned: rows of compressed data start on even byte offsets.
  TCCITTDecoder(uint32_t AOptions, bool ASwapBits, bool AWordAligned, uint32_t AWidth);

  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  // The code trees, built from the T.4 tables at construction (exposed for tests).
  const TStateArray& GetWhiteStates() const { return WhiteStates; }
  const TStateArray& GetBlackStates() const { return BlackStates; }

 protected:
  void MakeStates();
  bool NextBit();
  int32_t FindWhiteCode();
  int32_t FindBlackCode();
  bool FillRun(uint32_t RunLength);
  void EndRow();
  // Sets up the bit reader and the run writer for one Decode call and clears the output.
  void StartBlock(const uint8_t* Source, uint8_t* Dest, int32_t PackedSize, int32_t UnpackedSize);
  bool SourceLeft() const { return BitsLeft > 0 || PackedSize > 0; }
  bool TargetLeft() const { return Target < TargetEnd; }

  uint32_t Options;
  bool IsWhite = false;
  bool SwapBits;
  TStateArray WhiteStates;
  TStateArray BlackStates;
  uint32_t Width;
  uint8_t BitsLeft = 0;
  uint8_t Mask = 0;
  uint8_t Bits = 0;
  int32_t PackedSize = 0;
  uint32_t RestWidth = 0;
  const uint8_t* Source = nullptr;
  uint8_t* Target = nullptr;
  uint8_t FreeTargetBits = 8;
  bool WordAligned;
  const uint8_t* SourceStart = nullptr;  // the block's first byte
  uint8_t* TargetEnd = nullptr;          // just past the output

 private:
  // Four bits walked at once from a node: where the walk ends, how many bits it took, and
  // whether it stopped at a node that has no transition for the following bit.
  struct TNibbleStep {
    uint16_t Node;
    uint8_t Bits;
    bool Stops;
  };
  using TNibbleSteps = std::vector<TNibbleStep>;
  static TNibbleSteps MakeNibbleSteps(const TStateArray& States);
  int32_t FindCode(const TStateArray& States, const TNibbleSteps& Steps);
  TNibbleSteps WhiteSteps, BlackSteps;
  void SetBits(uint8_t Value);  // sets bits in the current output byte, if it lies inside the output
};

// TIFF compression 3 (T.4 one-dimensional, rows introduced by end-of-line codes). T4Options bit 0
// (two-dimensional coding) is refused: the constructor raises EGraphicCompression.
class TCCITTFax3Decoder : public TCCITTDecoder {
 public:
  TCCITTFax3Decoder(uint32_t AOptions, bool ASwapBits, bool AWordAligned, uint32_t AWidth);
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

// TIFF compression 2 (Modified Huffman, rows byte aligned, no end-of-line codes) and 32771 (the
// same with rows word aligned).
class TCCITTMHDecoder : public TCCITTDecoder {
 public:
  using TCCITTDecoder::TCCITTDecoder;
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

// ---------------------------------------------------------------------------------------------
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
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void DecodeEnd() override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  uint32_t GetAvailableInput() const { return Stream.avail_in; }
  uint32_t GetAvailableOutput() const { return Stream.avail_out; }

  int32_t ZLibResult = Z_OK;
  int32_t FlushMode;
  bool AutoReset;

 private:
  z_stream Stream;
  bool Initialized = false;
};

// ---------------------------------------------------------------------------------------------
// JPEG-compressed TIFF strips (TIFF compression 7) through libjpeg, with the optional shared
// tables stream (JPEGTables). Delivers three-sample pixels in blue, green, red order. Each Decode
// takes one strip whose geometry must match the properties record (Width, Height, CurrentRow,
// RowsPerStrip, SamplesPerPixel, PlanarConfig, BitsPerSample, YCbCrSubSampling, ColorScheme,
// BytesPerLine). Data that ends early raises the warning gesJPEGEOI and decodes as if an
// end-of-image marker followed; a fatal libjpeg error raises EGraphicCompression with libjpeg's
// text; mismatches raise EGraphicCompression with the check's message.
class TTIFFJPEGDecoder : public TDecoder {
 public:
  explicit TTIFFJPEGDecoder(PImageProperties AProperties);
  ~TTIFFJPEGDecoder() override;

  void DecodeInit() override;
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void DecodeEnd() override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  struct TJPEGState;  // the libjpeg objects (defined in the source)

 private:
  TJPEGState* State = nullptr;
  PImageProperties ImageProperties;
  uint16_t HSubSampling = 1;
  uint16_t VSubSampling = 1;
  uint32_t BytesPerLine = 0;
  const uint8_t* TablesData = nullptr;
  size_t TablesSize = 0;
};

// ---------------------------------------------------------------------------------------------
// ThunderScan 4-bit run-length/delta coding (TIFF compression 32809): 4-bit grey pixels, two per
// output byte, the first in the high nibble. The decoder restarts (last value 0) after every
// 2 x Width pixels, that is after every Width output bytes. Neither pointer is moved.
class TThunderDecoder : public TDecoder {
 public:
  explicit TThunderDecoder(uint32_t AWidth) : Width(AWidth) {}
  void Decode(const uint8_t*& Source, uint8_t*& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
  void Encode(const uint8_t*, uint8_t*, uint32_t, uint32_t&) override {}

  uint32_t Width;
};

}  // namespace muralo
