#pragma once
// Helpers of the class-library and picture-loader tests: a bitmap's pixels as RGB and their
// comparison with an oracle's decode.

#include <gtest/gtest.h>

#include "kit/TestKit.h"

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

// ImageMagick's decode of a picture file as 8-bit RGB, its alpha dropped.
inline TPnmImage MagickDecode(const TempDir&, const std::string& fileName) {
  return MagickDecode(fileName, "-alpha off");
}

// The bitmap's pixels as RGB.
inline TPnmImage BitmapRgb(const TBitmap& bitmap) {
  TPnmImage img;
  img.Width = bitmap.Width();
  img.Height = bitmap.Height();
  std::vector<uint8_t> row(size_t(img.Width) * 4);
  for (int y = 0; y < img.Height; ++y) {
    bitmap.ReadRowBGRA(y, row.data());
    for (int x = 0; x < img.Width; ++x) {
      img.Pixels.push_back(row[4 * size_t(x) + 2]);
      img.Pixels.push_back(row[4 * size_t(x) + 1]);
      img.Pixels.push_back(row[4 * size_t(x)]);
    }
  }
  return img;
}

// Equal sizes and every sample within tolerance; reports the first differing pixel.
inline ::testing::AssertionResult SameImage(const TPnmImage& expected, const TPnmImage& actual, int tolerance = 0) {
  if (expected.Width != actual.Width || expected.Height != actual.Height)
    return ::testing::AssertionFailure() << "size " << actual.Width << "x" << actual.Height << ", expected "
                                         << expected.Width << "x" << expected.Height;
  for (size_t i = 0; i < expected.Pixels.size(); ++i) {
    if (std::abs(int(expected.Pixels[i]) - int(actual.Pixels[i])) > tolerance) {
      const size_t pixel = i / 3;
      return ::testing::AssertionFailure()
             << "pixel (" << pixel % size_t(expected.Width) << ", " << pixel / size_t(expected.Width) << ") channel "
             << i % 3 << ": " << int(actual.Pixels[i]) << ", expected " << int(expected.Pixels[i]);
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace muralo::test
