// PNG decoding through TPicture beside libpng's simplified API and libspng, in the same run, on a
// 3840 × 2160 photo-like RGB picture and a screenshot-like RGBA one. The peers read the file into
// memory and decode to 8-bit B, G, R (A), the layout of our bitmap; ours loads the file by name.
#include <benchmark/benchmark.h>

#include <png.h>
#include <spng.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/PictureLoader.h"
#include "imaging/formats/PNGGraphic.h"

namespace {

using namespace muralo;

constexpr int kWidth = 3840, kHeight = 2160;

struct Files : bench::TBenchFiles {
  Files() {
    // A photograph stands in as a plasma fractal: smooth gradients with fine noise.
    Make(muralo::test::kMagick + " -seed 7 -size 3840x2160 plasma:fractal -blur 0x1 png24:'" + Path("photo.png") + "'");
    // A screenshot: flat panels, text and translucent windows over a gradient.
    Make(muralo::test::kMagick +
         " -size 3840x2160 gradient:'#203050-#7090b0' -alpha set "
         "-fill '#f0f0f0' -draw 'rectangle 200,150 2200,1500' -fill '#ffffff80' -draw 'rectangle 1800,900 3600,2000' "
         "-fill '#00000000' -draw 'rectangle 0,2100 3840,2160' -fill black -pointsize 28 "
         "-draw \"text 260,260 'Muralo  liste des images  vacances/plage.png  1920x1080'\" "
         "-draw \"text 260,320 'Duree 00:15:00  Aleatoire  Ajuster a l ecran'\" "
         "png32:'" +
         Path("screen.png") + "'");
  }
};

const Files& TestFiles() {
  static const TFrameworkScope framework;
  static const Files files;
  return files;
}

void Ours(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  bench::LoadEachIteration(state, file);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

// The reader alone, with the one-call inflate or (for comparison) the row-by-row zlib path.
void Reader(benchmark::State& state, const char* name, bool whole) {
  const std::string file = TestFiles().Path(name);
  for (auto _ : state) {
    TPNGGraphic png;
    png.AllowWholeInflate = whole;
    TFileStream s(file, TFileMode::fmOpenRead);
    png.LoadFromStream(s);
    benchmark::DoNotOptimize(png.RowData(0));
    if (whole && png.LastInflatePath() != TPNGInflatePath::ipWhole) state.SkipWithError("not inflated in one call");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void LibPNG(benchmark::State& state, const char* name, bool alpha) {
  const std::string file = TestFiles().Path(name);
  for (auto _ : state) {
    // A new picture each time, as every load makes one (not cleared: the decoder writes it all).
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(kWidth) * kHeight * 4]);
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) state.SkipWithError("libpng");
    image.format = alpha ? PNG_FORMAT_BGRA : PNG_FORMAT_BGR;
    if (!png_image_finish_read(&image, nullptr, out.get(), 0, nullptr)) state.SkipWithError("libpng");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void LibSPNG(benchmark::State& state, const char* name, bool alpha) {
  const std::string file = TestFiles().Path(name);
  const int format = alpha ? SPNG_FMT_RGBA8 : SPNG_FMT_RGB8;
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(kWidth) * kHeight * 4]);
    const std::vector<uint8_t> bytes = ReadFileBytes(file);
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, bytes.data(), bytes.size());
    size_t size = 0;
    if (spng_decoded_image_size(ctx, format, &size) || size > size_t(kWidth) * kHeight * 4 ||
        spng_decode_image(ctx, out.get(), size, format, 0))
      state.SkipWithError("libspng");
    spng_ctx_free(ctx);
    benchmark::DoNotOptimize(out.get());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

BENCHMARK_CAPTURE(Ours, PhotoRGB, "photo.png")->Name("PhotoRGB/muralo")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reader, PhotoRGB, "photo.png", true)->Name("PhotoRGB/reader")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reader, PhotoRGB, "photo.png", false)->Name("PhotoRGB/reader_zlib")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibPNG, PhotoRGB, "photo.png", false)->Name("PhotoRGB/libpng")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibSPNG, PhotoRGB, "photo.png", false)->Name("PhotoRGB/libspng")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, ScreenRGBA, "screen.png")->Name("ScreenRGBA/muralo")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reader, ScreenRGBA, "screen.png", true)->Name("ScreenRGBA/reader")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Reader, ScreenRGBA, "screen.png", false)
    ->Name("ScreenRGBA/reader_zlib")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibPNG, ScreenRGBA, "screen.png", true)->Name("ScreenRGBA/libpng")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LibSPNG, ScreenRGBA, "screen.png", true)->Name("ScreenRGBA/libspng")->Unit(benchmark::kMillisecond);

}  // namespace
