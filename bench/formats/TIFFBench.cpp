// Loading TIFF files through TPicture beside libtiff in the same run: libtiff's RGBA interface
// (TIFFReadRGBAImageOriented, what a viewer built on it calls) and its bare strip decode into
// memory (TIFFReadEncodedStrip, the floor of any reader on libtiff). A 4000 × 3000 RGB picture
// uncompressed, PackBits, LZW and deflate (both with predictor 2), and a 1728 × 2200 CCITT
// Group 3 fax page.
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/BenchFiles.h"
#include "imaging/FileFormatList.h"
#include "imaging/PictureLoader.h"

namespace {

using namespace muralo;

constexpr int kWidth = 4000, kHeight = 3000;
constexpr int kFaxWidth = 1728, kFaxHeight = 2200;

struct Files : bench::TBenchFiles {
  Files() {
    Make(muralo::test::kMagick + " rose: -resize " + std::to_string(kWidth) + "x" + std::to_string(kHeight) +
         "! -attenuate 0.2 +noise Gaussian -type TrueColor -depth 8 -compress None '" + Path("none.tif") + "'");
    Make(muralo::test::kTiffCp + " -c packbits '" + Path("none.tif") + "' '" + Path("packbits.tif") + "'");
    Make(muralo::test::kTiffCp + " -c lzw:2 '" + Path("none.tif") + "' '" + Path("lzw.tif") + "'");
    Make(muralo::test::kTiffCp + " -c zip:2 '" + Path("none.tif") + "' '" + Path("zip.tif") + "'");
    Make(muralo::test::kMagick + " rose: -resize " + std::to_string(kFaxWidth) + "x" + std::to_string(kFaxHeight) +
         "! -monochrome -type bilevel -depth 1 -compress None '" + Path("mono.tif") + "'");
    Make(muralo::test::kTiffCp + " -c g3:1d '" + Path("mono.tif") + "' '" + Path("fax.tif") + "'");
  }
};

const Files& TestFiles() {
  static const TFrameworkScope framework;
  static const Files files;
  return files;
}

int64_t PixelsOf(const char* name) {
  return std::string(name) == "fax.tif" ? int64_t{kFaxWidth} * kFaxHeight : int64_t{kWidth} * kHeight;
}

void Ours(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  bench::LoadEachIteration(state, file);
  state.counters["pixels/s"] =
      benchmark::Counter(double(PixelsOf(name)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void LibtiffRGBA(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  TIFFSetWarningHandler(nullptr);
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<uint32_t> raster(size_t(w) * h);
    if (!TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0)) state.SkipWithError("libtiff");
    benchmark::DoNotOptimize(raster.data());
    TIFFClose(tif);
  }
  state.counters["pixels/s"] =
      benchmark::Counter(double(PixelsOf(name)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

void LibtiffStrips(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  for (auto _ : state) {
    TIFF* tif = TIFFOpen(file.c_str(), "r");
    const tmsize_t stripSize = TIFFStripSize(tif);
    const uint32_t strips = TIFFNumberOfStrips(tif);
    std::vector<uint8_t> image(size_t(stripSize) * strips);
    for (uint32_t s = 0; s < strips; ++s) TIFFReadEncodedStrip(tif, s, image.data() + size_t(s) * stripSize, -1);
    benchmark::DoNotOptimize(image.data());
    TIFFClose(tif);
  }
  state.counters["pixels/s"] =
      benchmark::Counter(double(PixelsOf(name)) * double(state.iterations()), benchmark::Counter::kIsRate);
}

#define TIFF_CASE(label, file)                                                \
  BENCHMARK_CAPTURE(Ours, label, file)->Unit(benchmark::kMillisecond);        \
  BENCHMARK_CAPTURE(LibtiffRGBA, label, file)->Unit(benchmark::kMillisecond); \
  BENCHMARK_CAPTURE(LibtiffStrips, label, file)->Unit(benchmark::kMillisecond);

TIFF_CASE(none, "none.tif")
TIFF_CASE(packbits, "packbits.tif")
TIFF_CASE(lzw_predictor, "lzw.tif")
TIFF_CASE(deflate_predictor, "zip.tif")
TIFF_CASE(fax_g3, "fax.tif")

}  // namespace
