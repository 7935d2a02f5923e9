#pragma once
// The bodies of the decoders' fuzz targets, one function per target, shared by the fuzz programs
// (DecoderFuzzer.cpp, built once a target) and by the test that replays the seed corpora and kept
// finds. An input is four parameter bytes (decoder settings and the size of the output area)
// followed by the compressed data. The data and the output area are copied into heap blocks of
// exactly their size, so that the address sanitizer catches any read or write outside them.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "classlib/Streams.h"
#include "fuzz/FuzzHarness.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo::fuzz {

struct TFuzzInput {
  uint8_t P0 = 0, P1 = 0, P2 = 0, P3 = 0;  // parameters
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  size_t Room() const { return static_cast<size_t>(P1) | static_cast<size_t>(P2) << 8; }  // up to 64 KiB
};

inline bool Split(const uint8_t* data, size_t size, TFuzzInput& input) {
  if (size < 4) return false;
  input.P0 = data[0];
  input.P1 = data[1];
  input.P2 = data[2];
  input.P3 = data[3];
  input.Data = data + 4;
  input.Size = size - 4;
  return true;
}

// Runs Decode over the data in `pieces` consecutive calls (the deflate decoder keeps its stream
// between calls), each given the data still left and the room still left. Units converts the
// room in bytes into the decoder's UnpackedSize (pixels for Targa).
inline void Decode(TDecoder& decoder, const TFuzzInput& input, size_t room, int pieces = 1,
                   const std::function<size_t(size_t)>& units = nullptr) {
  std::unique_ptr<uint8_t[]> source(new uint8_t[std::max<size_t>(input.Size, 1)]);
  if (input.Size > 0) std::memcpy(source.get(), input.Data, input.Size);
  std::unique_ptr<uint8_t[]> dest(new uint8_t[std::max<size_t>(room, 1)]);
  std::memset(dest.get(), 0, std::max<size_t>(room, 1));
  const uint8_t* s = source.get();
  uint8_t* d = dest.get();
  const uint8_t* const sourceEnd = source.get() + input.Size;
  uint8_t* const destEnd = dest.get() + room;
  TFuzzOutcome& outcome = Outcome();
  outcome.Decoded = true;
  outcome.Input = input.Size;
  outcome.Room = room;
  for (int piece = 0; piece < pieces; ++piece) {
    const size_t inputLeft = static_cast<size_t>(sourceEnd - s);
    const size_t take = piece + 1 == pieces ? inputLeft : inputLeft / static_cast<size_t>(pieces - piece);
    const uint8_t* before = s;
    const size_t roomLeft = static_cast<size_t>(destEnd - d);
    decoder.Decode(s, d, take, units ? units(roomLeft) : roomLeft);
    // Pointers written back must stay inside their areas.
    if (s < source.get() || s > sourceEnd || d < dest.get() || d > destEnd) __builtin_trap();
    if (s == before) s = before + take;  // decoders that do not move Source: go on after this piece
    if (s > sourceEnd) s = sourceEnd;
    outcome.Consumed = static_cast<size_t>(s - source.get());
    outcome.Produced = static_cast<size_t>(d - dest.get());
  }
}

// A decoder built without settings, run in one to three calls over the data.
template <class TPlainDecoder>
int FuzzInPieces(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TPlainDecoder decoder;
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
  return 0;
}

// TTargaRLEDecoder (decoding, and encoding the decoded pixels back).
inline int FuzzTargaRle(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  static const uint32_t depths[] = {8, 15, 16, 24, 32, 12};
  const uint32_t bits = depths[in.P0 % 6];
  const size_t pixelSize = bits == 8 ? 1 : bits <= 16 ? 2 : bits / 8;
  TTargaRLEDecoder decoder(bits);
  Decode(decoder, in, in.Room() / pixelSize * pixelSize, 1 + in.P3 % 3,
         [pixelSize](size_t room) { return room / pixelSize; });
  // The encoder stays inside its stated bound for any pixels.
  const auto count = static_cast<uint32_t>(std::min<size_t>(in.Size / pixelSize, 4096));
  std::unique_ptr<uint8_t[]> out(new uint8_t[decoder.MaxEncodedSize(count)]);
  size_t stored = 0;
  decoder.Encode(in.Data, out.get(), count, stored);
  if (stored > decoder.MaxEncodedSize(count)) __builtin_trap();
  return 0;
}

// the TIFF LZW decoder (standard and old-style streams), one or several calls over the data.
inline int FuzzTiffLzw(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TTIFFLZWDecoder decoder;
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
  if (decoder.BytesDecoded() > in.Room()) __builtin_trap();
  return 0;
}

// the SGI run-length decoder (8-bit and 16-bit samples), one or several calls over the data.
inline int FuzzSgiRle(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TSGIRLEDecoder decoder(in.P0 & 1 ? 8 : 16);
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
  return 0;
}

// the CCITT fax decoders (TIFF compression 3, 2 and 32771), with any width, bit order
// and T4Options.
inline int FuzzCcitt(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  const uint32_t width = (in.P3 | (in.P0 & 0x0F) << 8) * 2 + (in.P0 >> 4 & 1);  // 0..8191
  const bool swap = in.P0 & 0x20, word = in.P0 & 0x40;
  Guard([&] {
    if (in.P0 & 0x80) {
      TCCITTMHDecoder decoder(0, swap, word, width);
      Decode(decoder, in, in.Room(), 1);
    } else {
      TCCITTFax3Decoder decoder(word ? 1 : 4, swap, false, width);  // T4Options bit 0 (2-D) must be refused
      Decode(decoder, in, in.Room(), 1);
    }
  });
  return 0;
}

// TLZ77Decoder, the stream fed in several pieces, with each flush mode and reset rule.
inline int FuzzLz77(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  static const int32_t flushModes[] = {Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FINISH};
  Guard([&] {
    TLZ77Decoder decoder(flushModes[in.P0 % 4], in.P0 & 4);
    decoder.DecodeInit();
    Decode(decoder, in, in.Room(), 1 + in.P3 % 4);
    decoder.DecodeEnd();
  });
  return 0;
}

// TTIFFJPEGDecoder with a properties record drawn from the parameters, the data split
// into a tables stream and a strip when asked.
inline int FuzzTiffJpeg(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TImageProperties props;
  const bool colour = in.P0 & 1;
  props.Width = 1u + in.P3;
  props.Height = 1u + (in.P1 & 0x3F);
  props.SamplesPerPixel = colour ? 3 : 1;
  props.BitsPerSample = in.P0 & 0x40 ? 12 : 8;
  props.PlanarConfig = in.P0 & 0x80 ? 2 : 1;
  props.ColorScheme = colour && (in.P0 & 2) ? csYCbCr : colour ? csRGB : csG;
  if (in.P0 & 4) props.YCbCrSubSampling = {2, static_cast<uint8_t>(in.P0 & 8 ? 2 : 1)};
  props.RowsPerStrip = {props.Height};
  props.BytesPerLine = props.Width * props.SamplesPerPixel - (in.P2 & 1);
  props.Compression = ctJPEG;
  TFuzzInput strip = in;
  if (in.P0 & 0x10) {  // the first part of the data is the JPEGTables field
    const size_t tables = std::min<size_t>(in.Size, in.P2 * 4u);
    props.JPEGTables.assign(in.Data, in.Data + tables);
    strip.Data += tables;
    strip.Size -= tables;
  }
  Guard([&] {
    TTIFFJPEGDecoder decoder(&props);
    decoder.DecodeInit();
    Decode(decoder, strip, size_t(props.Height) * props.BytesPerLine, 1);
    decoder.DecodeEnd();
  });
  return 0;
}

// the ThunderScan decoder, one or several calls over the data.
inline int FuzzThunder(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TThunderDecoder decoder(1u + in.P3 + (in.P0 & 7) * 256u);
  Decode(decoder, in, in.Room(), 1 + in.P0 % 2);
  return 0;
}

// the Photo-CD residual decoder: P0 bit 0 selects three tables (a row stride past 1536 bytes),
// P1 is the end row, P2 the planes' row count; the data is the stream the decoder reads. The
// planes are heap blocks of exactly their size.
inline int FuzzPcd(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  const size_t stride = (in.P0 & 1) ? 1600 : 16 + in.P3;
  const uint32_t rows = 1 + (in.P2 & 15);
  std::unique_ptr<uint8_t[]> planes[3];
  for (auto& p : planes) p.reset(new uint8_t[stride * rows]());
  uint8_t* addresses[3] = {planes[0].get(), planes[1].get(), planes[2].get()};
  TReadOnlyMemoryStream stream(in.Data, in.Size);
  TPCDDecoder decoder(stream, rows, rows);
  Guard([&] {
    const uint8_t* source = reinterpret_cast<const uint8_t*>(addresses);
    uint8_t* dest = nullptr;
    decoder.Decode(source, dest, static_cast<int32_t>(stride), in.P1);
  });
  return 0;
}

// The targets by name (the corpus folder names).
struct TFuzzTarget {
  const char* Name;
  int (*Run)(const uint8_t*, size_t);
};
inline constexpr TFuzzTarget FuzzTargets[] = {
    {"targa_rle", FuzzTargaRle},
    {"packbits", FuzzInPieces<TPackbitsRLEDecoder>},
    {"pcx_rle", FuzzInPieces<TPCXRLEDecoder>},
    {"sgi_rle", FuzzSgiRle},
    {"cut_rle", FuzzInPieces<TCUTRLEDecoder>},
    {"psp_rle", FuzzInPieces<TPSPRLEDecoder>},
    {"rla_rle", FuzzInPieces<TRLADecoder>},
    {"ccitt", FuzzCcitt},
    {"lz77", FuzzLz77},
    {"tiff_jpeg", FuzzTiffJpeg},
    {"thunder", FuzzThunder},
    {"tiff_lzw", FuzzTiffLzw},
    {"pcd_huffman", FuzzPcd},
};

}  // namespace muralo::fuzz
