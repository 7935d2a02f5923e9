// The change without a window: size arithmetic, next entry, rendering and the written file.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cerrno>
#include <csignal>

#include "app/Wallpaper.h"
#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "tests/app/TestSupport.h"

using namespace muralo;
using muralo::test::MagickDecode;
using muralo::test::TempDir;
using muralo::testing::TRecordingDesktop;

namespace {

struct SizeCase {
  const char* Name;
  TSize Screen, Picture, Expected;
};

TEST(WallpaperSize, KeepingProportionsInSinglePrecision) {
  const SizeCase cases[] = {
      {"800x600 on 1024x768 (768 * 1.3333334 rounds to 1024)", {1024, 768}, {800, 600}, {1024, 768}},
      {"600x800 on 1024x768", {1024, 768}, {600, 800}, {576, 768}},
      {"1600x900 on 1024x768 (575.99999 truncated)", {1024, 768}, {1600, 900}, {1024, 575}},
      {"3x1 on 1024x768", {1024, 768}, {3, 1}, {1024, 341}},
      {"640x480 on 1280x1024", {1280, 1024}, {640, 480}, {1280, 959}},
      {"1920x1080 on 1280x1024", {1280, 1024}, {1920, 1080}, {1280, 719}},
      {"square on a wide screen", {1920, 1080}, {10, 10}, {1080, 1080}},
      {"32x32 icon on 1024x768", {1024, 768}, {32, 32}, {768, 768}},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(c.Name);
    auto size = WallpaperSize(c.Picture, c.Screen, TWallpaperOptions{true, true, false});
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(*size, c.Expected);
  }
}

TEST(WallpaperSize, StretchWithoutProportionsIsTheScreenAndNoStretchThePicture) {
  const TSize screen{1024, 768};
  for (TSize picture : {TSize{1, 1}, TSize{800, 600}, TSize{4000, 100}}) {
    SCOPED_TRACE(picture.Width);
    EXPECT_EQ(WallpaperSize(picture, screen, {true, false, false}), screen);
    EXPECT_EQ(WallpaperSize(picture, screen, {false, false, false}), picture);
    EXPECT_EQ(WallpaperSize(picture, screen, {false, true, false}), picture);  // proportions need stretch
  }
}

TEST(WallpaperSize, UnreadableSizeFallsBackToRatioOne) {
  EXPECT_EQ(WallpaperSize(std::nullopt, {1024, 768}, {true, true, false}), (TSize{768, 768}));
  EXPECT_EQ(WallpaperSize(std::nullopt, {1024, 768}, {false, false, false}), std::nullopt);
}

struct NextCase {
  const char* Name;
  int Count, Index;
  bool Ordered;
  uint32_t Random;
  int Expected;
};

TEST(NextEntry, OrderedAndRandom) {
  const NextCase cases[] = {
      {"ordered: last of five wraps to 0", 5, 4, true, 0, 0},
      {"ordered: nothing selected gives 0", 5, -1, true, 0, 0},
      {"ordered: middle", 5, 2, true, 0, 3},
      {"ordered: one entry stays", 1, 0, true, 0, 0},
      {"ordered: start-up pick is entry 1", 3, 0, true, 0, 1},
      {"empty list", 0, -1, true, 0, -1},
      {"random: r mod count", 5, 0, false, 12, 2},
      {"random: may repeat", 5, 2, false, 7, 2},
      {"random: largest 31-bit", 7, 0, false, 0x7FFFFFFF, 0x7FFFFFFF % 7},
      {"random: empty", 0, -1, false, 3, -1},
  };
  for (const NextCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(NextEntryIndex(c.Count, c.Index, c.Ordered, c.Random), c.Expected);
  }
}

// A 3 × 2 picture with a distinct colour at every pixel.
std::unique_ptr<TBitmap> SamplePicture() {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(TPixelFormat::pf24bit);
  b->SetSize(3, 2);
  for (int y = 0; y < 2; ++y) {
    uint8_t row[12];
    for (int x = 0; x < 3; ++x) {
      row[4 * x + 0] = static_cast<uint8_t>(30 * x + 10);       // blue
      row[4 * x + 1] = static_cast<uint8_t>(100 + 50 * y);      // green
      row[4 * x + 2] = static_cast<uint8_t>(200 - 40 * x - y);  // red
      row[4 * x + 3] = 255;
    }
    b->WriteRowBGRA(y, row);
  }
  return b;
}

TEST(ApplyWallpaper, UnscaledFileMatchesThePictureDecodedByImageMagick) {
  TempDir dir;
  TRecordingDesktop desktop(dir.Path.string());
  auto picture = SamplePicture();
  ASSERT_TRUE(ApplyWallpaper(desktop, picture.get(), {}, std::nullopt, TFont()));
  ASSERT_EQ(desktop.WallpaperCalls.size(), 1u);
  EXPECT_EQ(desktop.WallpaperCalls[0], dir / "muralo.bmp");
  auto decoded = MagickDecode(dir / "muralo.bmp");
  ASSERT_EQ(decoded.Width, 3);
  ASSERT_EQ(decoded.Height, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      SCOPED_TRACE(x + 10 * y);
      TColor c = picture->Pixel(x, y);
      EXPECT_EQ(decoded.At(x, y)[0], GetRValue(c));
      EXPECT_EQ(decoded.At(x, y)[1], GetGValue(c));
      EXPECT_EQ(decoded.At(x, y)[2], GetBValue(c));
    }
}

TEST(ApplyWallpaper, StretchedFileHasTheScreenOrProportionalSize) {
  struct Case {
    TWallpaperOptions Options;
    int W, H;
  } cases[] = {{{true, false, false}, 64, 48}, {{true, true, false}, 64, 42}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.H);
    TempDir dir;
    TRecordingDesktop desktop(dir.Path.string(), {64, 48});
    auto picture = SamplePicture();
    ASSERT_TRUE(ApplyWallpaper(desktop, picture.get(), c.Options, std::nullopt, TFont()));
    auto decoded = MagickDecode(dir / "muralo.bmp");
    EXPECT_EQ(decoded.Width, c.W);
    EXPECT_EQ(decoded.Height, c.H);
    // Pixels are repeated, not filtered: every output pixel is one of the source colours.
    for (int y = 0; y < decoded.Height; ++y)
      for (int x = 0; x < decoded.Width; ++x) {
        bool found = false;
        for (int sy = 0; sy < 2 && !found; ++sy)
          for (int sx = 0; sx < 3 && !found; ++sx) {
            TColor s = picture->Pixel(sx, sy);
            found = decoded.At(x, y)[0] == GetRValue(s) && decoded.At(x, y)[1] == GetGValue(s) &&
                    decoded.At(x, y)[2] == GetBValue(s);
          }
        ASSERT_TRUE(found) << "pixel " << x << "," << y << " is not a source colour";
      }
  }
}

TEST(ApplyWallpaper, NoPictureLeavesTheWallpaperAlone) {
  TempDir dir;
  TRecordingDesktop desktop(dir.Path.string());
  for (TWallpaperOptions o : {TWallpaperOptions{false, false, false}, TWallpaperOptions{true, false, true},
                              TWallpaperOptions{true, true, false}}) {
    EXPECT_FALSE(ApplyWallpaper(desktop, nullptr, o, std::string("/x.png"), TFont()));
    TBitmap empty;
    EXPECT_FALSE(ApplyWallpaper(desktop, &empty, o, std::nullopt, TFont()));
  }
  EXPECT_TRUE(desktop.WallpaperCalls.empty());
  EXPECT_FALSE(std::filesystem::exists(dir / "muralo.bmp"));
}

TEST(ApplyWallpaper, AnUnwritableDirectoryRaisesAndMakesNoWallpaperCall) {
  TempDir dir;
  muralo::test::WriteText(dir / "plain", "x");
  TRecordingDesktop desktop(dir / "plain");
  auto picture = SamplePicture();
  EXPECT_THROW(ApplyWallpaper(desktop, picture.get(), {}, std::nullopt, TFont()), EStreamError);
  EXPECT_TRUE(desktop.WallpaperCalls.empty());
}

// A data folder that fills up. The file size limit stands in for the full disk: every write past
// 64 KiB fails, as on a disk with 64 KiB left.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &Saved);
    OldHandler = std::signal(SIGXFSZ, SIG_IGN);  // the write then fails with EFBIG
    rlimit limit = Saved;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &Saved);
    std::signal(SIGXFSZ, OldHandler);
  }

 private:
  rlimit Saved{};
  void (*OldHandler)(int) = nullptr;
};

TEST(ApplyWallpaper, AFullDiskLeavesThePreviousFileWholeAndTheDesktopAlone) {
  TempDir dir;
  TRecordingDesktop desktop(dir.Path.string(), {800, 600});
  auto picture = SamplePicture();
  ASSERT_TRUE(ApplyWallpaper(desktop, picture.get(), {}, std::nullopt, TFont()));
  const std::string previous = muralo::test::FileText(dir / "muralo.bmp");
  try {
    TFileSizeLimit full(64 * 1024);
    ApplyWallpaper(desktop, picture.get(), {true, false, false}, std::nullopt, TFont());
    ADD_FAILURE() << "the write did not fail";
  } catch (const EWriteError& e) {
    // The message names the wallpaper file and the reason, in French, after the stream's own text.
    EXPECT_EQ(e.message(), Format(SStreamErrorDetail, SWriteError, dir / "muralo.bmp", SystemErrorText(EFBIG)));
  }
  EXPECT_EQ(muralo::test::FileText(dir / "muralo.bmp"), previous);
  EXPECT_EQ(desktop.WallpaperCalls.size(), 1u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path), {}), 1) << "a temporary file was left";
}

TEST(ApplyWallpaper, TheFileIsReplacedAtEveryChange) {
  TempDir dir;
  TRecordingDesktop desktop(dir.Path.string(), {20, 10});
  auto picture = SamplePicture();
  ASSERT_TRUE(ApplyWallpaper(desktop, picture.get(), {true, false, false}, std::nullopt, TFont()));
  ASSERT_TRUE(ApplyWallpaper(desktop, picture.get(), {}, std::nullopt, TFont()));
  EXPECT_EQ(MagickDecode(dir / "muralo.bmp").Width, 3);
  EXPECT_EQ(desktop.WallpaperCalls.size(), 2u);
}

}  // namespace
