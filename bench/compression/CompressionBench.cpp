// Decoder speed beside a peer in one run:
//   - TLZ77Decoder and zlib's inflate called directly on the same PNG-style stream (in one call and
//     row by row, as the PNG reader asks);
//   - the PackBits, Targa and PCX run-length decoders beside a memcpy of the output size;
//   - the one-dimensional fax decoder and libtiff decoding the same 1728-pixel-wide page.

#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/compression/GraphicCompression.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace muralo;

// ---------------------------------------------------------------------------------------------
// Deflate

constexpr size_t kPngRowBytes = 1 + 1600 * 3;  // a 1600-pixel RGB row and its filter byte
constexpr size_t kPngRows = 1200;

const Bytes& PngData() {
  static const Bytes data = [] {
    Bytes d;
    std::mt19937 random(1);
    for (size_t y = 0; y < kPngRows; ++y) {
      d.push_back(static_cast<uint8_t>(y % 5));
      for (size_t x = 1; x < kPngRowBytes; ++x)
        d.push_back(static_cast<uint8_t>((x / 3 + y) / 5 + (random() % 8 == 0 ? random() % 32 : 0)));
    }
    return d;
  }();
  return data;
}

const Bytes& PngStream() {
  static const Bytes stream = [] {
    const Bytes& data = PngData();
    uLongf size = compressBound(data.size());
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), data.size(), 6) != Z_OK) throw std::runtime_error("compress2");
    out.resize(size);
    return out;
  }();
  return stream;
}

void BM_LZ77Decoder_Whole(benchmark::State& state) {
  const Bytes& stream = PngStream();
  Bytes out(PngData().size());
  for (auto _ : state) {
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    const uint8_t* source = stream.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<size_t>(stream.size()), static_cast<size_t>(out.size()));
    if (decoder.ZLibResult != Z_STREAM_END) state.SkipWithError("stream not decoded");
    decoder.DecodeEnd();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void BM_ZlibInflate_Whole(benchmark::State& state) {
  const Bytes& stream = PngStream();
  Bytes out(PngData().size());
  for (auto _ : state) {
    z_stream z{};
    inflateInit(&z);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (inflate(&z, Z_PARTIAL_FLUSH) != Z_STREAM_END) state.SkipWithError("stream not decoded");
    inflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * out.size()));
}

void BM_LZ77Decoder_RowByRow(benchmark::State& state) {
  const Bytes& stream = PngStream();
  Bytes row(kPngRowBytes);
  for (auto _ : state) {
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    const uint8_t* source = stream.data();
    const uint8_t* const end = stream.data() + stream.size();
    for (size_t y = 0; y < kPngRows; ++y) {
      uint8_t* dest = row.data();
      decoder.Decode(source, dest, static_cast<size_t>(end - source), static_cast<size_t>(row.size()));
      benchmark::DoNotOptimize(row.data());
    }
    decoder.DecodeEnd();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPngRows * kPngRowBytes));
}

void BM_ZlibInflate_RowByRow(benchmark::State& state) {
  const Bytes& stream = PngStream();
  Bytes row(kPngRowBytes);
  for (auto _ : state) {
    z_stream z{};
    inflateInit(&z);
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = static_cast<uInt>(stream.size());
    for (size_t y = 0; y < kPngRows; ++y) {
      z.next_out = row.data();
      z.avail_out = static_cast<uInt>(row.size());
      inflate(&z, Z_PARTIAL_FLUSH);
      benchmark::DoNotOptimize(row.data());
    }
    inflateEnd(&z);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPngRows * kPngRowBytes));
}

BENCHMARK(BM_LZ77Decoder_Whole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate_Whole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LZ77Decoder_RowByRow)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate_RowByRow)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Run-length decoders beside memcpy

constexpr size_t kRleBytes = 3 << 21;  // 6 MiB, whole 24-bit pixels

// Rows of a picture with runs of 1..40 bytes: the encoders' packets mix runs and literals.
const Bytes& RleSource() {
  static const Bytes data = [] {
    Bytes d;
    std::mt19937 random(2);
    while (d.size() < kRleBytes) {
      const size_t run = 1 + random() % 40;
      const auto value = static_cast<uint8_t>(random() % 3 == 0 ? random() : d.empty() ? 0 : d.back() + 1);
      d.insert(d.end(), std::min(run, kRleBytes - d.size()), value);
    }
    return d;
  }();
  return data;
}

Bytes PackBitsEncode(const Bytes& in) {
  Bytes out;
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 2) {
      out.push_back(static_cast<uint8_t>(257 - run));
      out.push_back(in[i]);
      i += run;
      continue;
    }
    size_t lit = 1;
    while (i + lit < in.size() && lit < 128 && !(i + lit + 1 < in.size() && in[i + lit] == in[i + lit + 1])) ++lit;
    out.push_back(static_cast<uint8_t>(lit - 1));
    out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
               in.begin() + static_cast<std::ptrdiff_t>(i + lit));
    i += lit;
  }
  return out;
}

Bytes PcxEncode(const Bytes& in) {
  Bytes out;
  size_t i = 0;
  while (i < in.size()) {
    size_t run = 1;
    while (i + run < in.size() && run < 63 && in[i + run] == in[i]) ++run;
    if (run > 1 || (in[i] & 0xC0) == 0xC0) {
      out.push_back(static_cast<uint8_t>(0xC0 | run));
      out.push_back(in[i]);
    } else {
      out.push_back(in[i]);
    }
    i += run;
  }
  return out;
}

Bytes TargaEncode(const Bytes& in) {
  TTargaRLEDecoder encoder(24);
  const auto pixels = static_cast<uint32_t>(in.size() / 3);
  Bytes out(encoder.MaxEncodedSize(pixels));
  size_t stored = 0;
  encoder.Encode(in.data(), out.data(), pixels, stored);
  out.resize(stored);
  return out;
}

template <typename Decoder>
void RunRle(benchmark::State& state, Decoder& decoder, const Bytes& packed, size_t units) {
  Bytes out(kRleBytes);
  for (auto _ : state) {
    const uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<size_t>(packed.size()), units);
    benchmark::DoNotOptimize(out.data());
  }
  if (out != RleSource()) state.SkipWithError("decoded data differ");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRleBytes));
}

void BM_PackBits(benchmark::State& state) {
  static const Bytes packed = PackBitsEncode(RleSource());
  TPackbitsRLEDecoder decoder;
  RunRle(state, decoder, packed, static_cast<size_t>(kRleBytes));
}

void BM_PCX(benchmark::State& state) {
  static const Bytes packed = PcxEncode(RleSource());
  TPCXRLEDecoder decoder;
  RunRle(state, decoder, packed, static_cast<size_t>(kRleBytes));
}

void BM_Targa24(benchmark::State& state) {
  static const Bytes packed = TargaEncode(RleSource());
  TTargaRLEDecoder decoder(24);
  RunRle(state, decoder, packed, static_cast<size_t>(kRleBytes / 3));
}

void BM_Memcpy(benchmark::State& state) {
  const Bytes& in = RleSource();
  Bytes out(kRleBytes);
  for (auto _ : state) {
    std::memcpy(out.data(), in.data(), kRleBytes);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kRleBytes));
}

BENCHMARK(BM_PackBits)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PCX)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Targa24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// ---------------------------------------------------------------------------------------------
// Fax page

constexpr uint32_t kFaxWidth = 1728, kFaxHeight = 2200;

struct FaxPage {
  std::string File;
  Bytes Strip;  // the one strip as stored
  Bytes Pixels;
  FaxPage() {
    File =
        (std::filesystem::temp_directory_path() / ("muralo-bench-fax-" + std::to_string(getpid()) + ".tif")).string();
    const size_t rowBytes = kFaxWidth / 8;
    Pixels.assign(rowBytes * kFaxHeight, 0);
    std::mt19937 random(3);
    for (uint32_t y = 0; y < kFaxHeight; ++y) {
      if (y % 40 > 28) continue;  // white space between lines of "text"
      uint32_t x = 100;
      while (x < kFaxWidth - 100) {
        const uint32_t white = 1 + random() % 30, black = 1 + random() % 6;
        x += white;
        for (uint32_t i = x; i < std::min(x + black, kFaxWidth - 100); ++i)
          Pixels[y * rowBytes + i / 8] |= 0x80 >> (i % 8);
        x += black;
      }
    }
    TIFF* tif = TIFFOpen(File.c_str(), "w");
    if (!tif) throw std::runtime_error("cannot write the fax page");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kFaxWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kFaxHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
    TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kFaxHeight);
    for (uint32_t y = 0; y < kFaxHeight; ++y) TIFFWriteScanline(tif, &Pixels[y * rowBytes], y, 0);
    TIFFClose(tif);
    tif = TIFFOpen(File.c_str(), "r");
    Strip.resize(TIFFRawStripSize(tif, 0));
    TIFFReadRawStrip(tif, 0, Strip.data(), static_cast<tmsize_t>(Strip.size()));
    TIFFClose(tif);
  }
  ~FaxPage() { std::remove(File.c_str()); }
};

const FaxPage& Page() {
  static const FaxPage page;
  return page;
}

void BM_CCITTFax3Decoder(benchmark::State& state) {
  const FaxPage& page = Page();
  Bytes out(page.Pixels.size());
  TCCITTFax3Decoder decoder(0, false, false, kFaxWidth);
  for (auto _ : state) {
    const uint8_t* source = page.Strip.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<size_t>(page.Strip.size()), static_cast<size_t>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  if (out != page.Pixels) state.SkipWithError("decoded page differs");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kFaxHeight));
}

void BM_LibtiffFax3(benchmark::State& state) {
  const FaxPage& page = Page();
  Bytes out(page.Pixels.size());
  TIFF* tif = TIFFOpen(page.File.c_str(), "r");
  for (auto _ : state) {
    TIFFReadEncodedStrip(tif, 0, out.data(), static_cast<tmsize_t>(out.size()));
    benchmark::DoNotOptimize(out.data());
  }
  TIFFClose(tif);
  if (out != page.Pixels) state.SkipWithError("libtiff's page differs");
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kFaxHeight));
}

BENCHMARK(BM_CCITTFax3Decoder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibtiffFax3)->Unit(benchmark::kMillisecond);

}  // namespace
