#pragma once
// The bodies of the decoders' fuzz targets, one function per target, shared by the libFuzzer
// programs (fuzz_<target>.cpp) and by the test that replays the seed corpora and kept finds.

#include "DecoderFuzzer.h"
#include "classlib/Streams.h"

namespace muralo::fuzz {

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

// the PackBits decoder, one or several calls over the data.
inline int FuzzPackbits(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TPackbitsRLEDecoder decoder;
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
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

// the PCX run-length decoder, one or several calls over the data.
inline int FuzzPcxRle(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TPCXRLEDecoder decoder;
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
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

// the Dr. Halo CUT run-length decoder, one or several calls over the data.
inline int FuzzCutRle(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TCUTRLEDecoder decoder;
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
  return 0;
}

// the Paint Shop Pro run-length decoder, one or several calls over the data.
inline int FuzzPspRle(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TPSPRLEDecoder decoder;
  Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
  return 0;
}

// the Alias/Wavefront RLA run-length decoder, one or several calls over the data.
inline int FuzzRlaRle(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  TRLADecoder decoder;
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
  return Guard([&] {
    if (in.P0 & 0x80) {
      TCCITTMHDecoder decoder(0, swap, word, width);
      Decode(decoder, in, in.Room(), 1);
    } else {
      TCCITTFax3Decoder decoder(word ? 1 : 4, swap, false, width);  // T4Options bit 0 (2-D) must be refused
      Decode(decoder, in, in.Room(), 1);
    }
  });
}

// TLZ77Decoder, the stream fed in several pieces, with each flush mode and reset rule.
inline int FuzzLz77(const uint8_t* data, size_t size) {
  TFuzzInput in;
  if (!Split(data, size, in)) return 0;
  static const int32_t flushModes[] = {Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FINISH};
  return Guard([&] {
    TLZ77Decoder decoder(flushModes[in.P0 % 4], in.P0 & 4);
    decoder.DecodeInit();
    Decode(decoder, in, in.Room(), 1 + in.P3 % 4);
    decoder.DecodeEnd();
  });
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
  return Guard([&] {
    TTIFFJPEGDecoder decoder(&props);
    decoder.DecodeInit();
    Decode(decoder, strip, size_t(props.Height) * props.BytesPerLine, 1);
    decoder.DecodeEnd();
  });
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
  return Guard([&] {
    const uint8_t* source = reinterpret_cast<const uint8_t*>(addresses);
    uint8_t* dest = nullptr;
    decoder.Decode(source, dest, static_cast<int32_t>(stride), in.P1);
  });
}

// The targets by name (the corpus folder names).
struct TFuzzTarget {
  const char* Name;
  int (*Run)(const uint8_t*, size_t);
};
inline constexpr TFuzzTarget FuzzTargets[] = {
    {"targa_rle", FuzzTargaRle}, {"packbits", FuzzPackbits},  {"pcx_rle", FuzzPcxRle},  {"sgi_rle", FuzzSgiRle},
    {"cut_rle", FuzzCutRle},     {"psp_rle", FuzzPspRle},     {"rla_rle", FuzzRlaRle},  {"ccitt", FuzzCcitt},
    {"lz77", FuzzLz77},          {"tiff_jpeg", FuzzTiffJpeg}, {"thunder", FuzzThunder}, {"tiff_lzw", FuzzTiffLzw},
    {"pcd_huffman", FuzzPcd},
};

}  // namespace muralo::fuzz
