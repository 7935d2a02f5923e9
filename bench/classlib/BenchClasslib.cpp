// Our JPEG decode beside libjpeg called directly on the same bytes, and our 24-bit BMP write and
// read beside a memcpy of the same size. The test picture (3000 × 2000, photograph-like: smooth
// waves plus grain) is made once at start.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "classlib/Bitmap.h"
#include "classlib/JPEGImage.h"
#include "classlib/Streams.h"

namespace {

using namespace muralo;

constexpr int kWidth = 3000, kHeight = 2000;

TBitmap& Picture() {
  static const std::unique_ptr<TBitmap> bitmap = [] {
    auto owned = std::make_unique<TBitmap>();
    TBitmap& b = *owned;
    b.SetPixelFormat(TPixelFormat::pf24bit);
    b.SetSize(kWidth, kHeight);
    uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y) {
      uint8_t* row = b.RowData(y);
      for (int x = 0; x < kWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int grain = int(seed >> 28) - 8;
        const double v = std::sin(x * 0.011) * std::cos(y * 0.007) + std::sin((x + y) * 0.003);
        for (int c = 0; c < 3; ++c)
          row[3 * x + c] = uint8_t(std::clamp(int(128 + 60 * v + 40 * std::sin(x * 0.002 * (c + 1))) + grain, 0, 255));
      }
    }
    return owned;
  }();
  return *bitmap;
}

const std::vector<uint8_t>& JpegBytes() {
  static const std::vector<uint8_t> bytes = [] {
    TJPEGImage j;
    j.Assign(Picture());
    TMemoryStream s;
    j.SaveToStream(s);
    return s.Bytes();
  }();
  return bytes;
}

const std::vector<uint8_t>& BmpBytes() {
  static const std::vector<uint8_t> bytes = [] {
    TMemoryStream s;
    Picture().SaveToStream(s);
    return s.Bytes();
  }();
  return bytes;
}

void BM_JpegDecode_Muralo(benchmark::State& state) {
  const auto& bytes = JpegBytes();
  for (auto _ : state) {
    TJPEGImage j;
    TReadOnlyMemoryStream s(bytes.data(), bytes.size());
    j.LoadFromStream(s);
    benchmark::DoNotOptimize(j.Bitmap().RowData(0));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

struct JumpError {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

void BM_JpegDecode_Libjpeg(benchmark::State& state) {
  const auto& bytes = JpegBytes();
  std::vector<uint8_t> out(size_t(kWidth) * kHeight * 3);
  for (auto _ : state) {
    jpeg_decompress_struct cinfo;
    JumpError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JumpError*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) {
      jpeg_destroy_decompress(&cinfo);
      state.SkipWithError("libjpeg failed");
      return;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW row = out.data() + size_t(cinfo.output_scanline) * kWidth * 3;
      jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

void BM_BmpWrite24_Muralo(benchmark::State& state) {
  TBitmap& b = Picture();
  for (auto _ : state) {
    TMemoryStream s;
    b.SaveToStream(s);
    benchmark::DoNotOptimize(s.Memory());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(BmpBytes().size()));
}

void BM_BmpRead24_Muralo(benchmark::State& state) {
  const auto& bytes = BmpBytes();
  for (auto _ : state) {
    TBitmap b;
    TReadOnlyMemoryStream s(bytes.data(), bytes.size());
    b.LoadFromStream(s);
    benchmark::DoNotOptimize(b.RowData(0));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void BM_Memcpy_SameSize(benchmark::State& state) {
  const auto& bytes = BmpBytes();
  for (auto _ : state) {
    std::vector<uint8_t> copy(bytes.size());
    std::memcpy(copy.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(copy.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

BENCHMARK(BM_JpegDecode_Muralo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_JpegDecode_Libjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpWrite24_Muralo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BmpRead24_Muralo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy_SameSize)->Unit(benchmark::kMillisecond);

}  // namespace
