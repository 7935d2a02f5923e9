// TIcon against ImageMagick's ICO decoder: icons crafted here at every depth with AND masks (and
// icons written by ImageMagick) drawn onto white must equal ImageMagick's decode flattened on white.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Icon.h"
#include "classlib/Streams.h"
#include "classlib/TestTools.h"

namespace muralo {
namespace {

using test::BitmapRgb;
using test::Quote;
using test::SameImage;
using test::TempDir;

void Put16(std::vector<uint8_t>& d, uint16_t v) { d.insert(d.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void Put32(std::vector<uint8_t>& d, uint32_t v) {
  d.insert(d.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

struct IconImage {
  int w, h;
  unsigned bpp;
  std::vector<uint8_t> png;  // when set, the image is this PNG stream
  bool alpha = true;         // 32 bits: graded alpha, or all zero (the AND mask then decides)
};

// The DIB of one icon image: BITMAPINFOHEADER (doubled height), colour table, XOR rows and AND
// rows, bottom-up, from a deterministic pattern. Every third pixel or so is masked out; 32-bit
// images carry graded alpha.
std::vector<uint8_t> MakeDib(int w, int h, unsigned bpp, bool alpha = true) {
  std::vector<uint8_t> d;
  Put32(d, 40);
  Put32(d, uint32_t(w));
  Put32(d, uint32_t(2 * h));
  Put16(d, 1);
  Put16(d, uint16_t(bpp));
  for (int i = 0; i < 6; ++i) Put32(d, 0);
  if (bpp <= 8) {
    for (unsigned i = 0; i < (1u << bpp); ++i)
      d.insert(d.end(), {uint8_t(i * 53), uint8_t(255 - i * 29), uint8_t(i * 97), 0});
  }
  const size_t xorRow = ((size_t(w) * bpp + 31) / 32) * 4, andRow = ((size_t(w) + 31) / 32) * 4;
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> row(xorRow, 0);
    for (int x = 0; x < w; ++x) {
      const unsigned v = unsigned(x * 7 + y * 13 + x * y);
      if (bpp <= 8) {
        const unsigned index = v & ((1u << bpp) - 1);
        const size_t bit = size_t(x) * bpp;
        row[bit / 8] |= uint8_t(index << (8 - bpp - bit % 8));
      } else {
        uint8_t* px = &row[size_t(x) * (bpp / 8)];
        px[0] = uint8_t(v * 3), px[1] = uint8_t(v * 5), px[2] = uint8_t(v * 11);
        if (bpp == 32) px[3] = alpha ? uint8_t((x + y) % 4 == 0 ? 0 : 60 * ((x + y) % 4) + 75) : 0;
      }
    }
    d.insert(d.end(), row.begin(), row.end());
  }
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> row(andRow, 0);
    for (int x = 0; x < w; ++x)
      if ((x + 2 * y) % 3 == 0) row[size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
    d.insert(d.end(), row.begin(), row.end());
  }
  return d;
}

std::vector<uint8_t> MakeIco(const std::vector<IconImage>& images) {
  std::vector<std::vector<uint8_t>> data;
  for (const IconImage& i : images) data.push_back(i.png.empty() ? MakeDib(i.w, i.h, i.bpp, i.alpha) : i.png);
  std::vector<uint8_t> d;
  Put16(d, 0);
  Put16(d, 1);
  Put16(d, uint16_t(images.size()));
  uint32_t offset = uint32_t(6 + 16 * images.size());
  for (size_t k = 0; k < images.size(); ++k) {
    d.push_back(uint8_t(images[k].w == 256 ? 0 : images[k].w));
    d.push_back(uint8_t(images[k].h == 256 ? 0 : images[k].h));
    d.push_back(images[k].bpp < 8 ? uint8_t(1u << images[k].bpp) : 0);
    d.push_back(0);
    Put16(d, 1);
    Put16(d, uint16_t(images[k].bpp));
    Put32(d, uint32_t(data[k].size()));
    Put32(d, offset);
    offset += uint32_t(data[k].size());
  }
  for (const auto& x : data) d.insert(d.end(), x.begin(), x.end());
  return d;
}

std::unique_ptr<TIcon> LoadBytes(const std::vector<uint8_t>& bytes) {
  auto icon = std::make_unique<TIcon>();
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  icon->LoadFromStream(s);
  return icon;
}

// Our icon drawn unscaled onto a white 24-bit bitmap.
test::TPnmImage OnWhite(TIcon& icon) {
  TBitmap b;
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.SetSize(icon.Width(), icon.Height());
  b.Canvas().FillRect(TRect{0, 0, b.Width(), b.Height()});
  b.Canvas().Draw(0, 0, icon);
  return BitmapRgb(b);
}

test::TPnmImage MagickOnWhite(const TempDir& dir, const std::string& ico, int index) {
  const std::string out = dir / "ico.ppm";
  test::RunOracle(test::kMagick, Quote(ico + "[" + std::to_string(index) + "]") +
                                     " -background white -flatten -alpha off -depth 8 " + Quote("ppm:" + out));
  return test::ReadPnm(out);
}

TEST(Icon, EveryDepthWithItsMaskDrawsLikeMagick) {
  struct Case {
    int w, h;
    unsigned bpp;
  };
  const Case cases[] = {{16, 16, 1}, {32, 32, 1},  {32, 32, 4}, {13, 7, 4},   {32, 32, 8},
                        {5, 9, 8},   {32, 32, 24}, {7, 3, 24},  {32, 32, 32}, {48, 48, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " " + std::to_string(c.bpp) + " bits");
    TempDir dir;
    const std::vector<uint8_t> bytes = MakeIco({{c.w, c.h, c.bpp, {}}});
    test::WriteBytes(dir / "i.ico", bytes);
    auto icon = LoadBytes(bytes);
    EXPECT_EQ(icon->Width(), c.w);
    EXPECT_EQ(icon->Height(), c.h);
    // file rows are bottom-up: the first pixel of the file is the bottom-left one, masked in every pattern
    EXPECT_EQ(icon->PixelAlpha(0, c.h - 1), 0);
    EXPECT_TRUE(SameImage(MagickOnWhite(dir, dir / "i.ico", 0), OnWhite(*icon), c.bpp == 32 ? 1 : 0));
  }
}

TEST(Icon, ThirtyTwoBitImageWithoutAlphaUsesItsMask) {
  const std::vector<uint8_t> bytes = MakeIco({{9, 6, 32, {}, false}});
  auto icon = LoadBytes(bytes);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 9; ++x) {
      const int fileRow = 5 - y;
      EXPECT_EQ(icon->PixelAlpha(x, y), (x + 2 * fileRow) % 3 == 0 ? 0 : 255) << x << "," << y;
    }
  // Windows draws such an icon through its AND mask (the alpha channel carries nothing);
  // ImageMagick and Pillow take the zero alpha as fully transparent, so they are no oracle here.
}

TEST(Icon, ShowsTheImageClosestTo32Pixels) {
  struct Case {
    const char* name;
    std::vector<IconImage> images;
    int shown;
  };
  const std::vector<Case> cases = {
      {"16, 32, 48", {{16, 16, 8, {}}, {32, 32, 8, {}}, {48, 48, 8, {}}}, 1},
      {"48, 16", {{48, 48, 8, {}}, {16, 16, 8, {}}}, 0},  // both 32 away from 32 × 32 (sum of sides): first
      {"32 at 4 and 32 bits", {{32, 32, 4, {}}, {32, 32, 32, {}}, {24, 24, 8, {}}}, 1},
      {"single 16", {{16, 16, 4, {}}}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::vector<uint8_t> bytes = MakeIco(c.images);
    test::WriteBytes(dir / "i.ico", bytes);
    auto icon = LoadBytes(bytes);
    EXPECT_EQ(icon->ImageCount(), int(c.images.size()));
    EXPECT_EQ(icon->ShownImage(), c.shown);
    EXPECT_TRUE(SameImage(MagickOnWhite(dir, dir / "i.ico", c.shown), OnWhite(*icon), 1));
  }
}

TEST(Icon, MagickWrittenIconShows32AndSavesItsBytes) {
  TempDir dir;
  test::RunOracle(test::kMagick,
                  "-size 64x64 plasma:fractal -seed 5 -define icon:auto-resize=16,32,48 " + Quote(dir / "m.ico"));
  const std::vector<uint8_t> bytes = test::FileBytes(dir / "m.ico");
  auto icon = LoadBytes(bytes);
  EXPECT_EQ(icon->Width(), 32);
  EXPECT_EQ(icon->ShownImage(), 1);
  EXPECT_TRUE(SameImage(MagickOnWhite(dir, dir / "m.ico", 1), OnWhite(*icon)));
  TMemoryStream saved;
  icon->SaveToStream(saved);
  EXPECT_EQ(saved.Bytes(), bytes);
  // a copy holds the same file
  auto copy = icon->Clone();
  TMemoryStream copied;
  copy->SaveToStream(copied);
  EXPECT_EQ(copied.Bytes(), bytes);
}

TEST(Icon, PngImageNeedsAPluggedDecoder) {
  TempDir dir;
  test::RunOracle(test::kMagick,
                  "-size 256x256 plasma:fractal -seed 5 -define icon:auto-resize=256 " + Quote(dir / "p.ico"));
  const std::vector<uint8_t> bytes = test::FileBytes(dir / "p.ico");
  ASSERT_EQ(bytes[22 + 1], 'P') << "ImageMagick stores a 256-pixel icon image as PNG";
  try {
    LoadBytes(bytes);
    FAIL() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_STREQ(e.what(), SIconPngUnsupported);
  }
  // with a decoder plugged in, the icon hands it exactly the PNG stream of its entry
  size_t seenSize = 0;
  SetIconPngDecoder([&](const uint8_t* data, size_t size, int& w, int& h) {
    EXPECT_EQ(data[0], 0x89);
    EXPECT_EQ(data[1], 'P');
    seenSize = size;
    w = 2, h = 1;
    return std::vector<uint8_t>{10, 20, 30, 255, 0, 0, 0, 0};
  });
  auto icon = LoadBytes(bytes);
  SetIconPngDecoder(nullptr);
  EXPECT_EQ(seenSize, bytes.size() - 22);
  EXPECT_EQ(icon->Width(), 2);
  EXPECT_EQ(icon->PixelColor(0, 0), RGB(30, 20, 10));
  EXPECT_EQ(icon->PixelAlpha(1, 0), 0);
}

TEST(Icon, StretchedDrawMapsPixelCentres) {
  // 2 × 1 icon: opaque red, transparent; drawn into 4 × 2 over black
  std::vector<uint8_t> bytes = MakeIco({{2, 1, 24, {}}});
  auto icon = LoadBytes(bytes);
  TBitmap b;
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.SetSize(4, 2);
  b.Canvas().Brush.Color = clBlack;
  b.Canvas().FillRect(TRect{0, 0, 4, 2});
  b.Canvas().StretchDraw(TRect{0, 0, 4, 2}, *icon);
  // pattern: pixel 0 is masked ((0 + 0) % 3 == 0), pixel 1 is opaque
  for (int y = 0; y < 2; ++y) {
    EXPECT_EQ(b.Pixel(0, y), clBlack);
    EXPECT_EQ(b.Pixel(1, y), clBlack);
    EXPECT_EQ(b.Pixel(2, y), icon->PixelColor(1, 0));
    EXPECT_EQ(b.Pixel(3, y), icon->PixelColor(1, 0));
  }
}

TEST(Icon, TruncatedAndCorruptedFilesRaiseFrameworkErrors) {
  const std::vector<uint8_t> bytes = MakeIco({{16, 16, 4, {}}, {32, 32, 8, {}}, {8, 8, 32, {}}});
  for (size_t n = 0; n < bytes.size(); ++n) {
    try {
      LoadBytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
      ADD_FAILURE() << "prefix of " << n << " bytes loaded";
    } catch (const EInvalidGraphic&) {
    } catch (const EReadError&) {
    }
  }
  for (size_t i = 0; i < 6 + 48 + 60; ++i) {
    for (const uint8_t v : {uint8_t(0), uint8_t(0xFF), uint8_t(bytes[i] ^ 0x40)}) {
      std::vector<uint8_t> corrupt = bytes;
      corrupt[i] = v;
      try {
        auto icon = LoadBytes(corrupt);
        EXPECT_GT(icon->Width(), 0);
      } catch (const EInvalidGraphic&) {
      } catch (const EReadError&) {
      }
    }
  }
}

}  // namespace
}  // namespace muralo
