// Stretched and plain draws on small exact cases: COLORONCOLOR maps every target pixel's centre
// into the source; palette targets of 8 bits or fewer under a deeper source average the covered
// source area (halftone) before taking the nearest palette entry.
#include <gtest/gtest.h>

#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"

namespace muralo {
namespace {

const TColor A = RGB(255, 0, 0), B = RGB(0, 255, 0), C = RGB(0, 0, 255), D = RGB(255, 255, 0), Z = RGB(9, 9, 9);

std::unique_ptr<TBitmap> Row(TPixelFormat format, const std::vector<TColor>& colours, int height = 1) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(format);
  b->SetSize(int(colours.size()), height);
  std::vector<uint8_t> bgra;
  for (TColor c : colours) bgra.insert(bgra.end(), {GetBValue(c), GetGValue(c), GetRValue(c), 255});
  for (int y = 0; y < height; ++y) b->WriteRowBGRA(y, bgra.data());
  return b;
}

std::vector<TColor> Pixels(const TBitmap& b, int y = 0) {
  std::vector<TColor> out;
  for (int x = 0; x < b.Width(); ++x) out.push_back(b.Pixel(x, y));
  return out;
}

TEST(Canvas, StretchMapsPixelCentres) {
  struct Case {
    const char* name;
    std::vector<TColor> source;
    int targetWidth;
    TRect dest;
    std::vector<TColor> expected;
  };
  const std::vector<Case> cases = {
      {"2 to 4 repeats", {A, B}, 4, {0, 0, 4, 1}, {A, A, B, B}},
      {"3 to 2 drops the middle", {A, B, C}, 2, {0, 0, 2, 1}, {A, C}},
      {"4 to 3", {A, B, C, D}, 3, {0, 0, 3, 1}, {A, C, D}},
      {"same size copies", {A, B, C}, 3, {0, 0, 3, 1}, {A, B, C}},
      {"mirrored rectangle", {A, B}, 2, {2, 0, 0, 1}, {B, A}},
      {"clipped on the left", {A, B}, 2, {-1, 0, 3, 1}, {A, B}},
      {"offset inside a wider target", {A, B}, 5, {1, 0, 3, 1}, {Z, A, B, Z, Z}},
      {"outside the target", {A, B}, 2, {5, 0, 9, 1}, {Z, Z}},
  };
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (format == TPixelFormat::pf24bit ? " 24" : " 32"));
      auto target = Row(format, std::vector<TColor>(size_t(c.targetWidth), Z));
      auto source = Row(TPixelFormat::pf24bit, c.source);
      target->Canvas().StretchDraw(c.dest, *source);
      EXPECT_EQ(Pixels(*target), c.expected);
    }
  }
}

TEST(Canvas, StretchVerticallyAndPlainDraw) {
  auto source = std::make_unique<TBitmap>();
  source->SetPixelFormat(TPixelFormat::pf24bit);
  source->SetSize(1, 3);
  const uint8_t rows[3][4] = {{0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255}};  // A, B, C as BGRA
  for (int y = 0; y < 3; ++y) source->WriteRowBGRA(y, rows[y]);
  auto target = Row(TPixelFormat::pf24bit, {Z, Z}, 6);
  target->Canvas().StretchDraw(TRect{0, 0, 1, 6}, *source);
  const TColor expected[6] = {A, A, B, B, C, C};
  for (int y = 0; y < 6; ++y) {
    EXPECT_EQ(target->Pixel(0, y), expected[y]) << y;
    EXPECT_EQ(target->Pixel(1, y), Z) << y;
  }
  target->Canvas().Draw(1, 4, *source);  // unscaled, clipped at the bottom
  EXPECT_EQ(target->Pixel(1, 3), Z);
  EXPECT_EQ(target->Pixel(1, 4), A);
  EXPECT_EQ(target->Pixel(1, 5), B);
}

HPALETTE BlackWhiteGrey() {
  const TPaletteEntry e[3] = {{0, 0, 0, 0}, {255, 255, 255, 0}, {128, 128, 128, 0}};
  return CreatePalette(e, 3);
}

TEST(Canvas, PaletteTargetUnderDeeperSourceUsesHalftone) {
  // a 2 × 2 checkerboard of black and white squeezed into one pixel averages to grey
  auto source = std::make_unique<TBitmap>();
  source->SetPixelFormat(TPixelFormat::pf24bit);
  source->SetSize(2, 2);
  const uint8_t r0[8] = {0, 0, 0, 255, 255, 255, 255, 255}, r1[8] = {255, 255, 255, 255, 0, 0, 0, 255};
  source->WriteRowBGRA(0, r0);
  source->WriteRowBGRA(1, r1);
  for (TPixelFormat format : {TPixelFormat::pf8bit, TPixelFormat::pf4bit}) {
    TBitmap target;
    target.SetPixelFormat(format);
    target.SetPalette(BlackWhiteGrey());
    target.SetSize(1, 1);
    target.Canvas().StretchDraw(TRect{0, 0, 1, 1}, *source);
    EXPECT_EQ(target.Pixel(0, 0), RGB(128, 128, 128));
  }
  // a deep target drops pixels instead: the centre maps to the bottom-right black pixel
  TBitmap deep;
  deep.SetPixelFormat(TPixelFormat::pf24bit);
  deep.SetSize(1, 1);
  deep.Canvas().StretchDraw(TRect{0, 0, 1, 1}, *source);
  EXPECT_EQ(deep.Pixel(0, 0), clBlack);
  // a palette source of the same depth is not halftoned either
  TBitmap indexed;
  indexed.SetPixelFormat(TPixelFormat::pf8bit);
  indexed.SetPalette(BlackWhiteGrey());
  indexed.SetSize(2, 2);
  indexed.RowData(0)[0] = 1, indexed.RowData(0)[1] = 0, indexed.RowData(1)[0] = 0, indexed.RowData(1)[1] = 1;
  TBitmap target;
  target.SetPixelFormat(TPixelFormat::pf8bit);
  target.SetPalette(BlackWhiteGrey());
  target.SetSize(1, 1);
  target.Canvas().StretchDraw(TRect{0, 0, 1, 1}, indexed);
  EXPECT_EQ(target.Pixel(0, 0), clWhite);
}

TEST(Canvas, HalftoneEnlargesWithoutGaps) {
  auto source = Row(TPixelFormat::pf24bit, {RGB(0, 0, 0), RGB(255, 255, 255)});
  TBitmap target;
  target.SetPixelFormat(TPixelFormat::pf8bit);
  target.SetPalette(BlackWhiteGrey());
  target.SetSize(4, 1);
  target.Canvas().StretchDraw(TRect{0, 0, 4, 1}, *source);
  EXPECT_EQ(Pixels(target), (std::vector<TColor>{clBlack, clBlack, clWhite, clWhite}));
}

TEST(Canvas, HalftoneAveragesAcrossWideSpans) {
  // 2500 source pixels per target pixel: the average is taken over pieces of the row
  std::vector<TColor> colours(5000, clBlack);
  for (size_t i = 2500; i < 3750; ++i) colours[i] = clWhite;  // second target pixel: half white
  auto source = Row(TPixelFormat::pf24bit, colours);
  TBitmap target;
  target.SetPixelFormat(TPixelFormat::pf8bit);
  target.SetPalette(BlackWhiteGrey());
  target.SetSize(2, 1);
  target.Canvas().StretchDraw(TRect{0, 0, 2, 1}, *source);
  EXPECT_EQ(Pixels(target), (std::vector<TColor>{clBlack, RGB(128, 128, 128)}));
}

TEST(Canvas, VeryWideSourceIsReadOnlyWhereUsed) {
  // a 1-bit row of 2^28 pixels (32 MiB; 1 GiB as B, G, R, A) squeezed into 4 pixels
  TBitmap source;
  source.SetPixelFormat(TPixelFormat::pf1bit);
  const TPaletteEntry bw[2] = {{0, 0, 0, 0}, {255, 255, 255, 0}};
  source.SetPalette(CreatePalette(bw, 2));
  source.SetSize(1 << 28, 1);
  // pixel centres of 4 target pixels: 2^25, 3 * 2^25, 5 * 2^25, 7 * 2^25; set the second one white
  source.RowData(0)[(3u << 25) / 8] = 0x80;
  auto target = Row(TPixelFormat::pf24bit, {Z, Z, Z, Z});
  target->Canvas().StretchDraw(TRect{0, 0, 4, 1}, source);
  EXPECT_EQ(Pixels(*target), (std::vector<TColor>{clBlack, clWhite, clBlack, clBlack}));
}

// A bitmap of pseudo-random bytes, padding and fourth bytes included.
std::unique_ptr<TBitmap> Noise(TPixelFormat format, int w, int h, uint32_t seed) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(format);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (size_t i = 0; i < b->RowBytes(); ++i)
      b->RowData(y)[i] = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  return b;
}

TEST(Canvas, SameLayoutCopiesEqualTheCopyThroughBGRA) {
  // Between two 24-bit or two 32-bit bitmaps pixels are copied as bytes; a transparent source with a
  // colour it does not hold takes the general path through B, G, R, A. Both must give the same
  // pixels inside the rectangle, and the bytes outside it (padding included) must stay as they were
  // (the general path rewrites the fourth byte of the whole row).
  const struct {
    const char* Name;
    int SourceW, SourceH;
    TRect Dest;
  } cases[] = {
      {"enlarged, rows repeated", 3, 2, {0, 0, 13, 7}}, {"reduced, rows and columns dropped", 29, 17, {0, 0, 13, 7}},
      {"mirrored both ways", 5, 4, {13, 7, 0, 0}},      {"clipped on every side", 9, 9, {-4, -3, 17, 11}},
      {"inside, one pixel", 1, 1, {2, 3, 5, 4}},
  };
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.Name) + (format == TPixelFormat::pf24bit ? " 24" : " 32"));
      auto source = Noise(format, c.SourceW, c.SourceH, 7);
      auto fast = Noise(format, 13, 7, 99), general = Noise(format, 13, 7, 99), before = Noise(format, 13, 7, 99);
      fast->Canvas().StretchDraw(c.Dest, *source);
      source->Transparent = true;
      source->TransparentColor = RGB(1, 2, 3);
      for (int y = 0; y < source->Height(); ++y)
        for (int x = 0; x < source->Width(); ++x) ASSERT_NE(source->Pixel(x, y), source->TransparentColor);
      general->Canvas().StretchDraw(c.Dest, *source);
      const size_t pixel = format == TPixelFormat::pf24bit ? 3 : 4;
      const int left = std::min(c.Dest.Left, c.Dest.Right), right = std::max(c.Dest.Left, c.Dest.Right);
      const int top = std::min(c.Dest.Top, c.Dest.Bottom), bottom = std::max(c.Dest.Top, c.Dest.Bottom);
      int wrong = 0;
      for (int y = 0; y < 7; ++y)
        for (size_t i = 0; i < fast->RowBytes(); ++i) {
          const int x = static_cast<int>(i / pixel);
          const bool inside = x < 13 && x >= left && x < right && y >= top && y < bottom;
          wrong += fast->RowData(y)[i] != (inside ? general : before)->RowData(y)[i];
        }
      EXPECT_EQ(wrong, 0);
    }
  }
}

TEST(Canvas, ReadPixelsChecksItsRange) {
  auto b = Row(TPixelFormat::pf24bit, {A, B, C});
  uint8_t px[12];
  b->ReadPixelsBGRA(0, 1, 2, px);
  EXPECT_EQ(RGB(px[2], px[1], px[0]), B);
  EXPECT_EQ(RGB(px[6], px[5], px[4]), C);
  EXPECT_THROW(b->ReadPixelsBGRA(0, 2, 2, px), EInvalidGraphic);
  EXPECT_THROW(b->ReadPixelsBGRA(0, -1, 1, px), EInvalidGraphic);
  EXPECT_THROW(b->ReadPixelsBGRA(1, 0, 1, px), EInvalidGraphic);
}

TEST(Canvas, FillRectIsClipped) {
  auto b = Row(TPixelFormat::pf24bit, {Z, Z, Z}, 2);
  b->Canvas().Brush.Color = A;
  b->Canvas().FillRect(TRect{-5, 1, 2, 9});
  EXPECT_EQ(Pixels(*b, 0), (std::vector<TColor>{Z, Z, Z}));
  EXPECT_EQ(Pixels(*b, 1), (std::vector<TColor>{A, A, Z}));
}

}  // namespace
}  // namespace muralo
