// Row conversion on 4096-pixel rows, each beside memcpy of the same number of target bytes in the
// same run: compare the bytes_per_second of a conversion with the memcpy of its target size.

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "imaging/color/GraphicColor.h"

namespace muralo {
namespace {

constexpr uint32_t kPixels = 4096;

std::vector<uint8_t> RandomBytes(size_t n) {
  std::mt19937 rng(42);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(rng());
  return v;
}

void Memcpy(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0));
  const auto source = RandomBytes(bytes);
  std::vector<uint8_t> target(bytes);
  for (auto _ : state) {
    std::memcpy(target.data(), source.data(), bytes);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(Memcpy)->Arg(kPixels)->Arg(kPixels * 3)->Arg(kPixels * 4);

struct Config {
  TColorScheme source, target;
  uint8_t sourceBits, targetBits;
  TConvertOptions sourceOptions;
  size_t sourceBytes, targetBytes;  // of one 4096-pixel row
  uint8_t mask;
};

void Convert(benchmark::State& state, Config c) {
  TColorManager m;
  m.SetSourceColorScheme(c.source);
  m.SetTargetColorScheme(c.target);
  m.SetSourceBitsPerSample(c.sourceBits);
  m.SetTargetBitsPerSample(c.targetBits);
  m.SourceOptions = c.sourceOptions;
  const auto source = RandomBytes(c.sourceBytes);
  std::vector<uint8_t> target(c.targetBytes);
  for (auto _ : state) {
    m.ConvertRow({source.data()}, target.data(), kPixels, c.mask);
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(c.targetBytes));
}

constexpr size_t P = kPixels;
BENCHMARK_CAPTURE(Convert, RGB8_to_BGR8, Config{csRGB, csBGR, 8, 8, {}, P * 3, P * 3, 0xFF});
BENCHMARK_CAPTURE(Convert, RGBA8_to_BGRA8, Config{csRGBA, csBGRA, 8, 8, {}, P * 4, P * 4, 0xFF});
BENCHMARK_CAPTURE(Convert, RGB16swap_to_BGR8, Config{csRGB, csBGR, 16, 8, {coNeedByteSwap}, P * 6, P * 3, 0xFF});
BENCHMARK_CAPTURE(Convert, CMYK8_to_BGR8, Config{csCMYK, csBGR, 8, 8, {}, P * 4, P * 3, 0xFF});
BENCHMARK_CAPTURE(Convert, YCbCr8_to_BGR8, Config{csYCbCr, csBGR, 8, 8, {}, P * 3, P * 3, 0xFF});
BENCHMARK_CAPTURE(Convert, Indexed4_to_8, Config{csIndexed, csIndexed, 4, 8, {}, P / 2, P, 0xFF});
BENCHMARK_CAPTURE(Convert, Indexed1_to_8, Config{csIndexed, csIndexed, 1, 8, {}, P / 8, P, 0xFF});
// Adam7 pass 6 (mask 0x55: the odd pixels of a row), RGB into BGR.
BENCHMARK_CAPTURE(Convert, RGB8_to_BGR8_Adam7_mask55, Config{csRGB, csBGR, 8, 8, {}, P / 2 * 3, P * 3, 0x55});

}  // namespace
}  // namespace muralo
