// TJPEGImage against libjpeg-turbo's own tools: files written by cjpeg, decoded by us and by djpeg
// with the same defaults (islow DCT, fancy upsampling, Floyd-Steinberg dithering when quantising),
// must be equal sample for sample.
#include <gtest/gtest.h>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/JPEGImage.h"
#include "classlib/Streams.h"
#include "classlib/TestTools.h"

namespace muralo {
namespace {

using test::BitmapRgb;
using test::Quote;
using test::SameImage;
using test::TempDir;

std::unique_ptr<TJPEGImage> LoadBytes(const std::vector<uint8_t>& bytes) {
  auto j = std::make_unique<TJPEGImage>();
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  j->LoadFromStream(s);
  return j;
}

// A photograph-like test picture (ImageMagick plasma) as PPM, compressed by cjpeg with options.
std::string MakeJpeg(const TempDir& dir, int w, int h, const std::string& cjpegOptions, const std::string& name) {
  const std::string ppm = dir / (name + ".ppm");
  const std::string jpg = dir / (name + ".jpg");
  test::RunOracle(test::kMagick, "-size " + std::to_string(w) + "x" + std::to_string(h) +
                                     " plasma:fractal -seed 4 -depth 8 " + Quote("ppm:" + ppm));
  test::RunOracle(test::kCJpeg, cjpegOptions + " -outfile " + Quote(jpg) + " " + Quote(ppm));
  return jpg;
}

test::TPnmImage Djpeg(const TempDir& dir, const std::string& jpg, const std::string& options) {
  const std::string out = dir / "djpeg.pnm";
  test::RunOracle(test::kDJpeg, options + " -pnm -outfile " + Quote(out) + " " + Quote(jpg));
  return test::ReadPnm(out);
}

struct JpegCase {
  const char* name;
  const char* cjpeg;
  int w, h;
  bool grayscale, progressive;
};

void PrintTo(const JpegCase& c, std::ostream* os) { *os << c.name; }

const JpegCase kCases[] = {
    {"baseline_420", "-quality 85", 64, 48, false, false},
    {"baseline_444_odd", "-quality 92 -sample 1x1", 17, 9, false, false},
    {"baseline_422", "-quality 75 -sample 2x1", 33, 15, false, false},
    {"progressive", "-quality 80 -progressive", 40, 31, false, true},
    {"grayscale", "-quality 85 -grayscale", 29, 13, true, false},
    {"grayscale_progressive", "-quality 70 -grayscale -progressive", 16, 16, true, true},
    {"optimized_restart", "-quality 60 -optimize -restart 1", 50, 20, false, false},
};

class Jpeg : public ::testing::TestWithParam<JpegCase> {
 protected:
  void TearDown() override { SetScreenBitsPerPixel(24); }
};

TEST_P(Jpeg, HeaderOnLoadPixelsLikeDjpegOnDraw) {
  const JpegCase& c = GetParam();
  TempDir dir;
  const std::string jpg = MakeJpeg(dir, c.w, c.h, c.cjpeg, "c");
  const std::vector<uint8_t> bytes = test::FileBytes(jpg);
  auto j = LoadBytes(bytes);
  EXPECT_FALSE(j->Decompressed()) << "loading reads the header only";
  EXPECT_EQ(j->Width(), c.w);
  EXPECT_EQ(j->Height(), c.h);
  EXPECT_EQ(j->Grayscale(), c.grayscale);
  EXPECT_EQ(j->ProgressiveEncoding(), c.progressive);
  EXPECT_EQ(j->Data(), bytes);

  const TBitmap& b = j->Bitmap();
  if (c.grayscale) {
    // greyscale: quantised to at most 236 levels into a palette bitmap, as djpeg -colors 236 does
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
    ASSERT_TRUE(b.Palette());
    EXPECT_LE(b.Palette()->size(), 236u);
    EXPECT_TRUE(SameImage(Djpeg(dir, jpg, "-colors 236"), BitmapRgb(b)));
  } else {
    EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
    EXPECT_TRUE(SameImage(Djpeg(dir, jpg, ""), BitmapRgb(b)));
  }

  // saving writes the held bytes unchanged
  TMemoryStream saved;
  j->SaveToStream(saved);
  EXPECT_EQ(saved.Bytes(), bytes);
}

TEST_P(Jpeg, EightBitDisplayQuantisesTo236Colours) {
  const JpegCase& c = GetParam();
  TempDir dir;
  const std::string jpg = MakeJpeg(dir, c.w, c.h, c.cjpeg, "c");
  SetScreenBitsPerPixel(8);
  auto j = LoadBytes(test::FileBytes(jpg));
  const TBitmap& b = j->Bitmap();
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf8bit);
  ASSERT_TRUE(b.Palette());
  EXPECT_LE(b.Palette()->size(), 236u);
  EXPECT_TRUE(SameImage(Djpeg(dir, jpg, "-colors 236"), BitmapRgb(b)));
}

INSTANTIATE_TEST_SUITE_P(Cjpeg, Jpeg, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

// EXIF orientation and CMYK/YCCK inks: files written by Pillow (orientation tag in IFD0, Adobe
// inverted CMYK) and by ImageMagick, shown as ImageMagick shows them with -auto-orient.
struct OrientedCase {
  const char* name;
  const char* pillowMode;  // "RGB" or "CMYK"
  int orientation;         // 0: no EXIF segment
  bool bigEndianExif;
  int tolerance;  // CMYK inks are turned into RGB by each program's own rounding
};

const OrientedCase kOrientedCases[] = {
    {"no_exif", "RGB", 0, false, 0},     {"orientation1", "RGB", 1, false, 0},     {"mirrored", "RGB", 2, false, 0},
    {"turned180", "RGB", 3, true, 0},    {"flipped", "RGB", 4, false, 0},          {"transposed", "RGB", 5, true, 0},
    {"turned90cw", "RGB", 6, false, 0},  {"transversed", "RGB", 7, false, 0},      {"turned90ccw", "RGB", 8, true, 0},
    {"cmyk_adobe", "CMYK", 0, false, 1}, {"cmyk_turned90cw", "CMYK", 6, false, 1},
};

TEST(JpegImage, ExifOrientationAndCmykShownAsImageMagickShowsThem) {
  for (const OrientedCase& c : kOrientedCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string jpg = dir / "o.jpg";
    // A 13 x 7 picture with a distinct colour in every quarter, so that each turn or mirror differs.
    const std::string script =
        "import sys\n"
        "from PIL import Image, ImageDraw\n"
        "im = Image.new('RGB', (13, 7), (250, 250, 250))\n"
        "d = ImageDraw.Draw(im)\n"
        "d.rectangle([0, 0, 5, 2], fill=(200, 30, 30)); d.rectangle([7, 0, 12, 2], fill=(30, 180, 40))\n"
        "d.rectangle([0, 4, 5, 6], fill=(20, 40, 210)); d.point((12, 6), fill=(0, 0, 0))\n"
        "im = im.convert(sys.argv[2])\n"
        "kw = {'quality': 95, 'subsampling': 0}\n"
        "o = int(sys.argv[3])\n"
        "if o:\n"
        "    e = Image.Exif(); e[0x0112] = o\n"
        "    b = e.tobytes()\n"
        "    if sys.argv[4] == '1':\n"
        "        b = b'MM\\x00\\x2a\\x00\\x00\\x00\\x08\\x00\\x01\\x01\\x12\\x00\\x03\\x00\\x00\\x00\\x01' + bytes([0, "
        "o, 0, 0]) + b'\\x00\\x00\\x00\\x00'\n"
        "        b = b'Exif\\x00\\x00' + b\n"
        "    kw['exif'] = b\n"
        "im.save(sys.argv[1], 'JPEG', **kw)\n";
    const std::string py = dir / "make.py";
    test::WriteBytes(py, std::vector<uint8_t>(script.begin(), script.end()));
    test::RunOracle(test::kPython, Quote(py) + " " + Quote(jpg) + " " + c.pillowMode + " " +
                                       std::to_string(c.orientation) + " " + (c.bigEndianExif ? "1" : "0"));
    const std::string ref = dir / "ref.ppm";
    test::RunOracle(test::kMagick, Quote(jpg) + " -auto-orient -colorspace sRGB -depth 8 " + Quote("ppm:" + ref));

    auto j = LoadBytes(test::FileBytes(jpg));
    const bool sideways = c.orientation >= 5;
    EXPECT_EQ(j->Width(), sideways ? 7 : 13);
    EXPECT_EQ(j->Height(), sideways ? 13 : 7);
    EXPECT_EQ(j->Orientation(), c.orientation == 0 ? 1 : c.orientation);
    EXPECT_TRUE(SameImage(test::ReadPnm(ref), BitmapRgb(j->Bitmap()), c.tolerance));
  }
}

TEST(JpegImage, AssignedBitmapIsCompressedAtQuality90LikeCjpeg) {
  TempDir dir;
  const std::string ppm = dir / "p.ppm";
  test::RunOracle(test::kMagick, "-size 37x21 plasma:fractal -seed 9 -depth 8 " + Quote("ppm:" + ppm));
  const test::TPnmImage source = test::ReadPnm(ppm);
  TBitmap bitmap;
  bitmap.SetPixelFormat(TPixelFormat::pf24bit);
  bitmap.SetSize(source.Width, source.Height);
  for (int y = 0; y < source.Height; ++y)
    for (int x = 0; x < source.Width; ++x) {
      const uint8_t* s = &source.Pixels[(size_t(y) * size_t(source.Width) + size_t(x)) * 3];
      uint8_t* d = bitmap.RowData(y) + 3 * x;
      d[0] = s[2], d[1] = s[1], d[2] = s[0];
    }
  TJPEGImage j;
  j.Assign(bitmap);
  EXPECT_TRUE(j.Data().empty());
  EXPECT_EQ(j.Width(), 37);
  TMemoryStream out;
  j.SaveToStream(out);
  test::RunOracle(test::kCJpeg, "-quality 90 -outfile " + Quote(dir / "ref.jpg") + " " + Quote(ppm));
  EXPECT_EQ(out.Bytes(), test::FileBytes(dir / "ref.jpg"));
}

TEST(JpegImage, LibjpegErrorsBecomeInvalidGraphicWithLibjpegsText) {
  const std::vector<uint8_t> notJpeg = {'B', 'M', 0, 0, 0, 0, 0, 0};
  try {
    LoadBytes(notJpeg);
    FAIL() << "loaded";
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(std::string(e.what()).find("Not a JPEG file"), std::string::npos) << e.what();
  }
  EXPECT_THROW(LoadBytes({}), EInvalidGraphic);
}

// Every prefix and many byte corruptions either load and draw (libjpeg's warnings about a
// premature end do not abort) or raise EInvalidGraphic; nothing crashes or reads out of bounds.
TEST(JpegImage, TruncatedAndCorruptedFilesRaiseInvalidGraphic) {
  TempDir dir;
  for (const char* options : {"-quality 80", "-progressive -quality 50", "-grayscale"}) {
    SCOPED_TRACE(options);
    const std::vector<uint8_t> bytes = test::FileBytes(MakeJpeg(dir, 24, 16, options, "h"));
    auto attempt = [](const std::vector<uint8_t>& data) {
      try {
        auto j = LoadBytes(data);
        const TBitmap& b = j->Bitmap();
        EXPECT_EQ(b.Width(), j->Width());
      } catch (const EInvalidGraphic&) {
      }
    };
    for (size_t n = 0; n < bytes.size(); ++n) attempt(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
    for (size_t i = 2; i < bytes.size(); i += 3) {
      std::vector<uint8_t> corrupt = bytes;
      corrupt[i] ^= 0xA5;
      attempt(corrupt);
    }
  }
}

TEST(JpegImage, SizePastTheMemoryLimitIsRefusedOnDecompression) {
  TempDir dir;
  const std::vector<uint8_t> bytes = test::FileBytes(MakeJpeg(dir, 64, 64, "-quality 50", "m"));
  const uint64_t saved = MemoryLimit();
  SetMemoryLimit(64 * 64 * 3 - 1);
  auto j = LoadBytes(bytes);
  EXPECT_THROW(j->Bitmap(), EInvalidGraphic);
  SetMemoryLimit(saved);
}

}  // namespace
}  // namespace muralo
