// Loading large 24-bit pictures through TPicture (extension → registry → reader → colour manager →
// bitmap), each beside a peer decoding the same file in the same run: netpbm's libnetpbm for the
// portable pixel map, ImageMagick's MagickCore for every format where it is built in, and the bare
// read of the file into memory as the floor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "bench/BenchFiles.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/PictureLoader.h"

#if MURALO_HAVE_NETPBM
#include <netpbm/ppm.h>
#endif
#if MURALO_HAVE_MAGICKCORE
#include <magick/MagickCore.h>
#endif

namespace {

using namespace muralo;

// The test pictures, written once by ImageMagick into a scratch folder. With MURALO_BENCH_DIR set
// they go into that folder and stay there, so that another program (bench/pillow-ratios) can time
// its peer on the very same files.
struct Files : bench::TBenchFiles {
  Files() : TBenchFiles(true) {
    const std::string base = muralo::test::kMagick + " rose: -resize 2400x1600! -depth 8 ";
    Make(base + "-compress RLE tga:'" + Path("rle.tga") + "'");
    Make(base + "-compress None tga:'" + Path("raw.tga") + "'");
    Make(base + "pcx:'" + Path("big.pcx") + "'");
    Make(base + "ppm:'" + Path("big.ppm") + "'");
    // A photograph-sized Photoshop composite, PackBits compressed as Photoshop saves it.
    Make(muralo::test::kMagick + " rose: -resize 4000x3000! -depth 8 -compress RLE psd:'" + Path("big.psd") + "'");
    Make(base + "-compress RLE sgi:'" + Path("rle.sgi") + "'");
    Make(base + "-compress None sgi:'" + Path("raw.sgi") + "'");
    Make(base + "-type TrueColor bmp3:'" + Path("big.bmp") + "'");
  }
};

// Bytes of 24-bit pixels in each picture.
int64_t PixelBytes(const char* name) {
  return std::string(name) == "big.psd" ? int64_t{4000} * 3000 * 3 : int64_t{2400} * 1600 * 3;
}

const Files& TestFiles() {
  static const TFrameworkScope framework;
  static const Files files;
  return files;
}

void Ours(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  bench::LoadEachIteration(state, file);
  state.SetBytesProcessed(int64_t(state.iterations()) * PixelBytes(name));
}

void ReadIntoMemory(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  for (auto _ : state) benchmark::DoNotOptimize(ReadFileBytes(file));
  state.SetBytesProcessed(int64_t(state.iterations()) * PixelBytes(name));
}

#if MURALO_HAVE_MAGICKCORE
void Magick(benchmark::State& state, const char* name) {
  const std::string file = TestFiles().Path(name);
  static const bool started = (MagickCoreGenesis(nullptr, MagickFalse), true);
  (void)started;
  ExceptionInfo* exception = AcquireExceptionInfo();
  ImageInfo* info = AcquireImageInfo();
  CopyMagickString(info->filename, file.c_str(), MaxTextExtent);
  for (auto _ : state) {
    Image* image = ReadImage(info, exception);
    if (!image) state.SkipWithError("MagickCore could not read the file");
    // Touch the pixels as a reader's caller would.
    if (image) benchmark::DoNotOptimize(GetVirtualPixels(image, 0, 0, image->columns, image->rows, exception));
    if (image) DestroyImage(image);
  }
  DestroyImageInfo(info);
  DestroyExceptionInfo(exception);
  state.SetBytesProcessed(int64_t(state.iterations()) * PixelBytes(name));
}
#endif

#if MURALO_HAVE_NETPBM
void Netpbm(benchmark::State& state) {
  const std::string file = TestFiles().Path("big.ppm");
  for (auto _ : state) {
    FILE* f = std::fopen(file.c_str(), "rb");
    int cols = 0, rows = 0;
    pixval maxval = 0;
    pixel** pixels = ppm_readppm(f, &cols, &rows, &maxval);
    benchmark::DoNotOptimize(pixels);
    ppm_freearray(pixels, rows);
    std::fclose(f);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2400 * 1600 * 3);
}
BENCHMARK(Netpbm)->Name("P6/netpbm")->Unit(benchmark::kMillisecond);
#endif

#define MURALO_FORMAT_BENCH(label, file)                                                       \
  BENCHMARK_CAPTURE(Ours, label, file)->Name(#label "/muralo")->Unit(benchmark::kMillisecond); \
  BENCHMARK_CAPTURE(ReadIntoMemory, label, file)->Name(#label "/read_only")->Unit(benchmark::kMillisecond)

MURALO_FORMAT_BENCH(TargaRLE, "rle.tga");
MURALO_FORMAT_BENCH(TargaRaw, "raw.tga");
MURALO_FORMAT_BENCH(PCX, "big.pcx");
MURALO_FORMAT_BENCH(P6, "big.ppm");
MURALO_FORMAT_BENCH(PSDRLE, "big.psd");
MURALO_FORMAT_BENCH(SGIRLE, "rle.sgi");
MURALO_FORMAT_BENCH(SGIRaw, "raw.sgi");
MURALO_FORMAT_BENCH(BMP, "big.bmp");

#if MURALO_HAVE_MAGICKCORE
BENCHMARK_CAPTURE(Magick, TargaRLE, "rle.tga")->Name("TargaRLE/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, TargaRaw, "raw.tga")->Name("TargaRaw/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, PCX, "big.pcx")->Name("PCX/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, P6, "big.ppm")->Name("P6/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, PSDRLE, "big.psd")->Name("PSDRLE/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, SGIRLE, "rle.sgi")->Name("SGIRLE/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, SGIRaw, "raw.sgi")->Name("SGIRaw/magickcore")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Magick, BMP, "big.bmp")->Name("BMP/magickcore")->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
  ::benchmark::Initialize(&argc, argv);
  if (::benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  ::benchmark::RunSpecifiedBenchmarks();
  ::benchmark::Shutdown();
  return 0;
}
