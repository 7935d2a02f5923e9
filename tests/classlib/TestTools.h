#pragma once
// Helpers of the class-library and picture-loader tests: a temporary folder, running the oracle
// tools (ImageMagick, libjpeg-turbo's cjpeg/djpeg), and reading the PPM files they write.

#include <gtest/gtest.h>

#include "SharedTestTools.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Streams.h"

namespace muralo::test {

inline constexpr const char* kMagick = "convert-im6.q16";

struct RgbImage {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
};

// Binary PPM (P6, maxval 255) or PGM (P5) as written by ImageMagick and djpeg; PGM is expanded to RGB.
inline RgbImage ReadPnm(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t p = 0;
  auto token = [&]() {
    while (p < bytes.size()) {
      if (bytes[p] == '#') {
        while (p < bytes.size() && bytes[p] != '\n') ++p;
      } else if (std::isspace(bytes[p])) {
        ++p;
      } else {
        break;
      }
    }
    std::string t;
    while (p < bytes.size() && !std::isspace(bytes[p])) t += char(bytes[p++]);
    return t;
  };
  const std::string magic = token();
  if (magic != "P6" && magic != "P5") throw std::runtime_error("not a binary PPM/PGM: " + fileName);
  RgbImage img;
  img.Width = std::stoi(token());
  img.Height = std::stoi(token());
  if (std::stoi(token()) != 255) throw std::runtime_error("maxval is not 255: " + fileName);
  ++p;  // the single blank after maxval
  const size_t n = size_t(img.Width) * size_t(img.Height);
  const size_t channels = magic == "P6" ? 3 : 1;
  if (bytes.size() < p + n * channels) throw std::runtime_error("short PNM: " + fileName);
  img.Rgb.resize(n * 3);
  for (size_t i = 0; i < n; ++i)
    for (size_t c = 0; c < 3; ++c) img.Rgb[i * 3 + c] = bytes[p + i * channels + (channels == 3 ? c : 0)];
  return img;
}

// ImageMagick's own decode of a picture file, as 8-bit RGB without alpha.
inline RgbImage MagickDecode(const TempDir& dir, const std::string& fileName) {
  const std::string out = dir / "magick-decode.ppm";
  RunOracle(kMagick, Quote(fileName) + " -alpha off -depth 8 " + Quote("ppm:" + out));
  return ReadPnm(out);
}

// The bitmap's pixels as RGB.
inline RgbImage BitmapRgb(const TBitmap& bitmap) {
  RgbImage img;
  img.Width = bitmap.Width();
  img.Height = bitmap.Height();
  std::vector<uint8_t> row(size_t(img.Width) * 4);
  for (int y = 0; y < img.Height; ++y) {
    bitmap.ReadRowBGRA(y, row.data());
    for (int x = 0; x < img.Width; ++x) {
      img.Rgb.push_back(row[4 * size_t(x) + 2]);
      img.Rgb.push_back(row[4 * size_t(x) + 1]);
      img.Rgb.push_back(row[4 * size_t(x)]);
    }
  }
  return img;
}

// Equal sizes and every sample within tolerance; reports the first differing pixel.
inline ::testing::AssertionResult SameImage(const RgbImage& expected, const RgbImage& actual, int tolerance = 0) {
  if (expected.Width != actual.Width || expected.Height != actual.Height)
    return ::testing::AssertionFailure() << "size " << actual.Width << "x" << actual.Height << ", expected "
                                         << expected.Width << "x" << expected.Height;
  for (size_t i = 0; i < expected.Rgb.size(); ++i) {
    if (std::abs(int(expected.Rgb[i]) - int(actual.Rgb[i])) > tolerance) {
      const size_t pixel = i / 3;
      return ::testing::AssertionFailure()
             << "pixel (" << pixel % size_t(expected.Width) << ", " << pixel / size_t(expected.Width) << ") channel "
             << i % 3 << ": " << int(actual.Rgb[i]) << ", expected " << int(expected.Rgb[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

inline std::vector<uint8_t> FileBytes(const std::string& fileName) { return ReadFileBytes(fileName); }

inline void WriteFile(const std::string& fileName, const std::vector<uint8_t>& bytes) {
  std::ofstream out(fileName, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace muralo::test
