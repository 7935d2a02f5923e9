#pragma once
// The decoder interface of the image framework (unit GraphicCompression): TDecoder, which every
// decoder derives from, and the decoders' error. Each decoder family has its own header beside this
// one; GraphicCompression.h includes them all.
//
// Bounds. Every Decode is given both ends of its data and never reads or writes outside them,
// whatever the data holds:
//   - PackedSize is the number of compressed bytes readable at Source;
//   - UnpackedSize is the room at Dest: a number of bytes, except for TTargaRLEDecoder where it is
//     a number of pixels (the room is then UnpackedSize x pixel size bytes).
// Sizes are size_t: a reader narrows what its file declares with CheckedSize (GraphicFramework.h)
// before it hands it on. Well-formed data decodes exactly within these bounds; a packet that
// would read past the input or write past the output is cut at the boundary and decoding of that
// block stops there. The run-length decoders raise no errors; the fax, deflate and JPEG decoders
// raise EGraphicCompression (or the framework's warning) as documented at each class.
//
// Write-back. Source and Dest are passed by reference so that a decoder can report how far it got.
// The run-length decoders and TLZ77Decoder move Dest to the first byte they did not write, so a
// reader tells a complete row from a truncated one by where Dest stopped. TTargaRLEDecoder,
// TPCXRLEDecoder, TCUTRLEDecoder and TLZ77Decoder also move Source to the first byte they did not
// consume, so a reader hands them one buffer row after row (the Targa and PCX decoders carry a
// packet cut at a row's end into the next row). The fax, JPEG and ThunderScan decoders move neither.

#include <cstddef>
#include <cstdint>
#include <string>

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

  virtual void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) = 0;
  virtual void DecodeEnd() {}
  virtual void DecodeInit() {}
  // Compresses Count units from Source into Dest and sets BytesStored to the number of bytes
  // written. Only TTargaRLEDecoder encodes; the default raises EGraphicCompression
  // (gesEncodingUnsupported) and writes nothing.
  virtual void Encode(const uint8_t* Source, uint8_t* Dest, size_t Count, size_t& BytesStored);
  virtual void EncodeInit() {}
  virtual void EncodeEnd() {}
};

}  // namespace muralo
