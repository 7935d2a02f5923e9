#pragma once
// Helpers of the colour-manager tests: rows of 16-bit words and ImageMagick as the oracle of raw
// pixel conversions.

#include <gtest/gtest.h>
#include "kit/TestKit.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/color/GraphicColor.h"

namespace muralo::colortest {

using muralo::test::TempDir;

using muralo::test::GuardedRow;

inline std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
  std::vector<uint8_t> bytes(words.size() * 2);
  std::memcpy(bytes.data(), words.begin(), bytes.size());
  return bytes;
}

// Runs ImageMagick 6 on raw pixels: `inputSpec` names the raw input (for example
// "-size 256x1 -depth 8 cmyk:"), `arguments` the conversion; the result is 8-bit raw RGB.
// A missing tool or a failing command fails the calling test.
inline std::vector<uint8_t> MagickToRGB8(const std::vector<uint8_t>& input, const std::string& inputSpec,
                                         const std::string& arguments) {
  TempDir dir;
  test::WriteBytes(dir / "in.raw", input);
  test::RunOracle(test::kMagick, inputSpec + test::Quote(dir / "in.raw") + " " + arguments + " -depth 8 " +
                                     test::Quote("rgb:" + (dir / "out.raw")));
  return test::FileBytes(dir / "out.raw");
}

}  // namespace muralo::colortest
