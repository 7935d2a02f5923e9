// Deflate (RFC 1951 inside an RFC 1950 zlib stream) through zlib's inflate.

#include <algorithm>
#include <limits>

#include "imaging/Graphicstrings.h"
#include "imaging/compression/LZ77Decoder.h"

namespace muralo {

TLZ77Decoder::TLZ77Decoder(int32_t AFlushMode, bool AAutoReset) : FlushMode(AFlushMode), AutoReset(AAutoReset) {
  Stream = z_stream{};
}

TLZ77Decoder::~TLZ77Decoder() {
  if (Initialized) inflateEnd(&Stream);
}

void TLZ77Decoder::DecodeInit() {
  if (Initialized) {  // a second start begins a new stream
    inflateEnd(&Stream);
    Initialized = false;
  }
  Stream = z_stream{};
  ZLibResult = inflateInit(&Stream);
  if (ZLibResult < 0) CompressionError(gesLZ77Error);
  Initialized = true;
}

void TLZ77Decoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  if (!Initialized) CompressionError(gesLZ77Error);  // DecodeInit was not called
  // zlib never writes through next_in; its field is merely not declared const.
  Stream.next_in = const_cast<Bytef*>(Source);
  // zlib counts in uInt: a larger block is taken in part, and Source and Dest say how far.
  Stream.avail_in = static_cast<uInt>(std::min<size_t>(PackedSize, std::numeric_limits<uInt>::max()));
  // Set before anything else: a call that decodes nothing (the stream has ended) hands both pointers
  // back unchanged rather than those of an earlier call's buffers.
  Stream.next_out = Dest;
  Stream.avail_out = static_cast<uInt>(std::min<size_t>(UnpackedSize, std::numeric_limits<uInt>::max()));
  if (AutoReset) ZLibResult = inflateReset(&Stream);
  if (ZLibResult == Z_OK) {
    do {
      ZLibResult = inflate(&Stream, FlushMode);
      if (ZLibResult == Z_STREAM_END) break;
      if (ZLibResult == Z_DATA_ERROR) {
        // Skip to the next full-flush point and go on from there; without one the data is lost.
        if (inflateSync(&Stream) != Z_OK) return;
        continue;
      }
      if (ZLibResult == Z_BUF_ERROR) {
        // No progress possible: the input is used up before the output is full. Not an error,
        // the caller may supply more input (a PNG image data stream spread over IDAT chunks).
        ZLibResult = Z_OK;
        break;
      }
      if (ZLibResult != Z_OK) break;  // a preset dictionary is required, or zlib failed
    } while (Stream.avail_out > 0);
  }
  Source = Stream.next_in;
  Dest = Stream.next_out;
}

void TLZ77Decoder::DecodeEnd() {
  if (!Initialized) return;
  Initialized = false;
  ZLibResult = inflateEnd(&Stream);
  if (ZLibResult < 0) CompressionError(gesLZ77Error);
}

}  // namespace muralo
