// Stretch 4000 × 3000 → 1920 × 1440, 24-bit, beside Pillow's Image.resize(..., LANCZOS) on the same
// picture in the same run (single-threaded both). Pillow is timed inside its own interpreter, one
// resize per benchmark iteration, as the processor time of its process (reported as manual time);
// compare it with the CPU column of our rows, which does not count time lost to other processes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "classlib/Bitmap.h"
#include "imaging/FileFormatList.h"
#include "imaging/PictureLoader.h"
#include "imaging/Resample.h"
#include "tests/kit/Oracles.h"

namespace {

using namespace muralo;

constexpr int kWidth = 4000, kHeight = 3000, kNewWidth = 1920, kNewHeight = 1440;
// Debian's interpreter, which has Pillow (python3-pil).
using muralo::test::kPython;

struct Picture {
  std::filesystem::path Dir;
  std::string File;
  Picture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "muralo-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    Dir = pattern;
    File = (Dir / "photo.ppm").string();
    // A photograph-like picture: ImageMagick's built-in rose, enlarged, with fine noise on top.
    const std::string command = muralo::test::kMagick + " rose: -resize " + std::to_string(kWidth) + "x" +
                                std::to_string(kHeight) + "! -attenuate 0.3 +noise Gaussian -depth 8 ppm:'" + File +
                                "'";
    if (std::system(command.c_str()) != 0) throw std::runtime_error("benchmark input failed: " + command);
  }
  ~Picture() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
};

const Picture& TestPicture() {
  static const TFrameworkScope framework;
  static const Picture picture;
  return picture;
}

void LoadSource(TBitmap& bitmap) {
  TPicture picture;
  picture.LoadFromFile(TestPicture().File);
  bitmap.Assign(*picture.Graphic());
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
}

void Ours(benchmark::State& state, TResamplingFilter filter) {
  TBitmap source, target;
  LoadSource(source);
  for (auto _ : state) {
    Stretch(kNewWidth, kNewHeight, filter, 0, source, target);
    benchmark::DoNotOptimize(target.RowData(0));
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

void Pillow(benchmark::State& state) {
  const std::string script =
      "import sys, time\n"
      "from PIL import Image\n"
      "im = Image.open(sys.argv[1]); im.load()\n"
      "for _ in range(int(sys.argv[2])):\n"
      "    t = time.process_time(); im.resize((" +
      std::to_string(kNewWidth) + ", " + std::to_string(kNewHeight) +
      "), Image.LANCZOS); print(time.process_time() - t, flush=True)\n";
  const std::string scriptFile = (TestPicture().Dir / "pillow.py").string();
  if (FILE* f = std::fopen(scriptFile.c_str(), "w")) {
    std::fputs(script.c_str(), f);
    std::fclose(f);
  }
  const std::string command =
      kPython + " '" + scriptFile + "' '" + TestPicture().File + "' " + std::to_string(state.max_iterations);
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    state.SkipWithError("cannot start Pillow");
    return;
  }
  for (auto _ : state) {
    double seconds = 0;
    if (std::fscanf(pipe, "%lf", &seconds) != 1) {
      state.SkipWithError("Pillow did not answer (python3-pil missing?)");
      break;
    }
    state.SetIterationTime(seconds);
  }
  pclose(pipe);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
}

BENCHMARK_CAPTURE(Ours, Lanczos3, TResamplingFilter::sfLanczos3)
    ->Name("Lanczos3/muralo")
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Pillow)->Name("Lanczos3/pillow")->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, Triangle, TResamplingFilter::sfTriangle)
    ->Name("Triangle/muralo")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
