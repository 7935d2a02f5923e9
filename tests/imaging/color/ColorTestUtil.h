#pragma once
// Helpers of the colour-manager tests: guarded target rows and the ImageMagick oracle.

#include <gtest/gtest.h>
#include "SharedTestTools.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "imaging/color/GraphicColor.h"

namespace muralo::colortest {

using muralo::test::TempDir;
using muralo::test::ToolAvailable;

// A target row with guard bytes on both sides; Intact() tells whether the converter stayed inside.
class GuardedRow {
 public:
  static constexpr size_t kGuard = 16;
  static constexpr uint8_t kGuardByte = 0xA5;

  explicit GuardedRow(size_t bytes, uint8_t fill = 0xCC) : Buffer(bytes + 2 * kGuard, kGuardByte), Bytes(bytes) {
    std::fill(Buffer.begin() + kGuard, Buffer.begin() + kGuard + bytes, fill);
  }
  uint8_t* data() { return Buffer.data() + kGuard; }
  const uint8_t* data() const { return Buffer.data() + kGuard; }
  uint8_t operator[](size_t i) const { return data()[i]; }
  size_t size() const { return Bytes; }
  std::vector<uint8_t> Row() const { return {data(), data() + Bytes}; }
  uint16_t Word(size_t i) const {
    uint16_t v;
    std::memcpy(&v, data() + 2 * i, 2);
    return v;
  }
  bool Intact() const {
    for (size_t i = 0; i < kGuard; ++i)
      if (Buffer[i] != kGuardByte || Buffer[kGuard + Bytes + i] != kGuardByte) return false;
    return true;
  }

 private:
  std::vector<uint8_t> Buffer;
  size_t Bytes;
};

inline std::vector<uint8_t> Words(std::initializer_list<uint16_t> words) {
  std::vector<uint8_t> bytes(words.size() * 2);
  std::memcpy(bytes.data(), words.begin(), bytes.size());
  return bytes;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs ImageMagick 6 on raw pixels: `inputSpec` names the raw input (for example
// "-size 256x1 -depth 8 cmyk:"), `arguments` the conversion; the result is 8-bit raw RGB.
// A missing tool fails the calling test.
inline std::vector<uint8_t> MagickToRGB8(const std::vector<uint8_t>& input, const std::string& inputSpec,
                                         const std::string& arguments) {
  const std::string tool = "convert-im6.q16";
  if (!ToolAvailable(tool)) {
    ADD_FAILURE() << tool << " (ImageMagick 6) is needed as the oracle of this test and is missing";
    return {};
  }
  TempDir dir;
  WriteFile(dir / "in.raw", input);
  const std::string command =
      tool + " " + inputSpec + "'" + (dir / "in.raw") + "' " + arguments + " -depth 8 'rgb:" + (dir / "out.raw") + "'";
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "oracle command failed: " << command;
    return {};
  }
  return ReadFile(dir / "out.raw");
}

}  // namespace muralo::colortest
