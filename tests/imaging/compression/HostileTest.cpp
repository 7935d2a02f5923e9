// Hostile input: every seed of the decoders' fuzz corpora and every input the fuzzers found
// (kept under hostile/<target>/) is replayed through the fuzz targets' own bodies, whole and cut
// at every length. The harness traps on any pointer written back outside its area; run under the
// address sanitizer this also catches every read or write outside the buffers.

#include <cstdlib>
#include <filesystem>

#include "DecoderTestTools.h"
#include "fuzz/compression/DecoderFuzzTargets.h"

namespace muralo::test {
namespace {

std::vector<std::filesystem::path> Inputs(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(folder))
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(HostileInput, SeedsAndFindsReplayedWholeAndTruncated) {
  const std::filesystem::path root = SourceDir();
  for (const fuzz::TFuzzTarget& target : fuzz::FuzzTargets) {
    SCOPED_TRACE(target.Name);
    const auto seeds = Inputs(root / "fuzz" / "compression" / "corpus" / target.Name);
    const auto finds = Inputs(root / "tests" / "imaging" / "compression" / "hostile" / target.Name);
    EXPECT_FALSE(seeds.empty()) << "no seed corpus for " << target.Name << " under " << root;
    for (const auto& file : seeds) {
      SCOPED_TRACE(file.filename().string());
      const Bytes data = FileBytes(file.string());
      for (size_t length = 0; length <= data.size(); ++length) {
        // A block of exactly this length, so that a read past it is caught.
        std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(length, 1)]);
        std::copy(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length), copy.get());
        EXPECT_EQ(target.Run(copy.get(), length), 0);
      }
    }
    for (const auto& file : finds) {
      SCOPED_TRACE(file.filename().string());
      const Bytes data = FileBytes(file.string());
      std::unique_ptr<uint8_t[]> copy(new uint8_t[std::max<size_t>(data.size(), 1)]);
      std::copy(data.begin(), data.end(), copy.get());
      EXPECT_EQ(target.Run(copy.get(), data.size()), 0);
    }
  }
}

}  // namespace
}  // namespace muralo::test
