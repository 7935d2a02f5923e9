#pragma once
// What the format benchmarks share: a scratch folder of pictures written once by the peers' tools,
// and the timed load of one of them through TPicture.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "imaging/PictureLoader.h"
#include "tests/kit/Oracles.h"

namespace muralo::bench {

// A scratch folder, removed at the end; with MURALO_BENCH_DIR set (and keepable) the pictures go
// into that folder and stay there, so that another program can time its peer on the same files.
class TBenchFiles {
 public:
  explicit TBenchFiles(bool keepable = false) {
    if (const char* keep = std::getenv("MURALO_BENCH_DIR"); keepable && keep && *keep) {
      Dir = keep;
      Keep = true;
      std::filesystem::create_directories(Dir);
    } else {
      std::string pattern = (std::filesystem::temp_directory_path() / "muralo-bench-XXXXXX").string();
      if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
      Dir = pattern;
    }
  }
  ~TBenchFiles() {
    std::error_code ec;
    if (!Keep) std::filesystem::remove_all(Dir, ec);
  }
  TBenchFiles(const TBenchFiles&) = delete;
  TBenchFiles& operator=(const TBenchFiles&) = delete;

  std::string Path(const char* name) const { return (Dir / name).string(); }
  // Runs a command that writes a benchmark picture; a failure stops the benchmark.
  static void Make(const std::string& command) {
    if (std::system(command.c_str()) != 0) throw std::runtime_error("benchmark input failed: " + command);
  }

 private:
  std::filesystem::path Dir;
  bool Keep = false;
};

// Loads the file through TPicture once per iteration, as the program does.
inline void LoadEachIteration(benchmark::State& state, const std::string& file) {
  for (auto _ : state) {
    TPicture picture;
    picture.LoadFromFile(file);
    benchmark::DoNotOptimize(picture.Graphic());
  }
}

}  // namespace muralo::bench
