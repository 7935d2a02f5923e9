// Pixel memory: a bitmap reads as zero wherever nothing was written, in buffers fresh from the
// system and where a released buffer's memory comes back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "classlib/Bitmap.h"

namespace muralo {
namespace {

bool RowsAre(const TBitmap& b, int from, int to, uint8_t value) {
  const size_t used = size_t(b.Width()) * 3;
  for (int y = from; y < to; ++y)
    if (std::any_of(b.RowData(y), b.RowData(y) + used, [&](uint8_t v) { return v != value; })) return false;
  return true;
}

TEST(Bitmap, NewAndAddedPixelsReadAsZero) {
  for (const int side : {16, 2000}) {  // 24-bit 2000 x 1000: huge pages and memory of its own
    for (int round = 0; round < 2; ++round) {
      SCOPED_TRACE(side);
      TBitmap b;
      b.SetPixelFormat(TPixelFormat::pf24bit);
      b.SetSize(side, side / 2);
      EXPECT_TRUE(RowsAre(b, 0, side / 2, 0));
      for (int y = 0; y < side / 2; ++y) std::memset(b.RowData(y), 0xFF, b.RowBytes());
      b.SetSize(side, side);
      EXPECT_TRUE(RowsAre(b, 0, side / 2, 0xFF));
      EXPECT_TRUE(RowsAre(b, side / 2, side, 0));
    }
  }
}

}  // namespace
}  // namespace muralo
