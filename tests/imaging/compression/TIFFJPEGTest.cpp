// The TIFF JPEG decoder: strips made with libjpeg's abbreviated streams (one tables-only stream,
// image streams without tables) decoded against their tables and compared with djpeg decoding the
// full stream of the same strip; the strip checks and their messages; early end of data; fatal
// library errors; and the strips of a JPEG TIFF written by ImageMagick against ImageMagick's own
// decoding.

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>

#include <jpeglib.h>

#include "DecoderTestTools.h"
#include "imaging/Graphicstrings.h"
#include "imaging/Warnings.h"

namespace muralo::test {
namespace {

struct Picture {
  uint32_t Width = 0, Height = 0, Components = 3;
  Bytes Samples;  // interleaved, RGB order (or grey)
};

Picture MakePicture(uint32_t width, uint32_t height, uint32_t components, uint32_t seed) {
  Picture p{width, height, components, {}};
  std::mt19937 random(seed);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      for (uint32_t c = 0; c < components; ++c)
        p.Samples.push_back(static_cast<uint8_t>((x * (c + 2) * 5 + y * 9 + c * 60) % 256 ^ (random() % 16)));
  return p;
}

// Compresses JPEG streams of one picture's strips with shared settings: the tables-only stream,
// abbreviated strips and complete strips.
class StripEncoder {
 public:
  StripEncoder(const Picture& picture, J_COLOR_SPACE space, int hSampling, int vSampling) : Pic(picture) {
    Info.err = jpeg_std_error(&Error);
    jpeg_create_compress(&Info);
    Info.image_width = picture.Width;
    Info.image_height = 8;
    Info.input_components = static_cast<int>(picture.Components);
    Info.in_color_space = picture.Components == 3 ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&Info);
    jpeg_set_colorspace(&Info, space);
    jpeg_set_quality(&Info, 85, TRUE);
    Info.comp_info[0].h_samp_factor = hSampling;
    Info.comp_info[0].v_samp_factor = vSampling;
  }
  ~StripEncoder() { jpeg_destroy_compress(&Info); }

  Bytes Tables() {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&Info, &buffer, &size);
    jpeg_write_tables(&Info);
    return Take(buffer, size);
  }

  // Rows [first, first + rows) of the picture; abbreviated leaves the tables out.
  Bytes Strip(uint32_t first, uint32_t rows, bool abbreviated) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&Info, &buffer, &size);
    Info.image_height = rows;
    jpeg_suppress_tables(&Info, abbreviated ? TRUE : FALSE);
    jpeg_start_compress(&Info, abbreviated ? FALSE : TRUE);
    const size_t rowBytes = size_t(Pic.Width) * Pic.Components;
    for (uint32_t y = first; y < first + rows; ++y) {
      JSAMPROW row = const_cast<JSAMPROW>(Pic.Samples.data() + y * rowBytes);
      jpeg_write_scanlines(&Info, &row, 1);
    }
    jpeg_finish_compress(&Info);
    return Take(buffer, size);
  }

 private:
  static Bytes Take(unsigned char* buffer, unsigned long size) {
    Bytes b(buffer, buffer + size);
    std::free(buffer);
    return b;
  }
  const Picture& Pic;
  jpeg_compress_struct Info{};
  jpeg_error_mgr Error{};
};

// djpeg's decoding (slow integer DCT, as ours) of a complete JPEG stream, as interleaved samples.
Bytes Djpeg(const TempDir& dir, const Bytes& stream, const std::string& name) {
  WriteBytes(dir / (name + ".jpg"), stream);
  RunOracle(kDJpeg, "-dct int -pnm -outfile " + Quote(dir / (name + ".pnm")) + " " + Quote(dir / (name + ".jpg")));
  const Bytes f = FileBytes(dir / (name + ".pnm"));
  // "P5|P6 <w> <h> 255\n": skip four whitespace-separated fields.
  size_t p = 0;
  for (int field = 0; field < 4; ++field) {
    while (p < f.size() && std::isspace(f[p])) ++p;
    while (p < f.size() && !std::isspace(f[p])) ++p;
  }
  return Bytes(f.begin() + static_cast<std::ptrdiff_t>(p + 1), f.end());
}

Bytes SwapRedBlue(Bytes samples) {
  for (size_t i = 0; i + 2 < samples.size(); i += 3) std::swap(samples[i], samples[i + 2]);
  return samples;
}

TImageProperties Properties(const Picture& p, TColorScheme scheme, uint32_t rowsPerStrip, TByteArray subSampling) {
  TImageProperties props;
  props.Width = p.Width;
  props.Height = p.Height;
  props.SamplesPerPixel = static_cast<uint8_t>(p.Components);
  props.BitsPerSample = 8;
  props.PlanarConfig = 1;
  props.ColorScheme = scheme;
  props.RowsPerStrip = {rowsPerStrip};
  props.YCbCrSubSampling = std::move(subSampling);
  props.BytesPerLine = p.Width * p.Components;
  props.Compression = ctJPEG;
  return props;
}

// Decodes one strip into an exact-size area; answers the area.
Bytes DecodeStrip(TTIFFJPEGDecoder& decoder, const Bytes& strip, size_t room) {
  const DecodeResult r = RunDecoder(decoder, strip, room);
  EXPECT_TRUE(r.GuardIntact);
  return r.Output;
}

// Captures the framework's warnings during a test.
class WarningCapture {
 public:
  WarningCapture() {
    Previous = SetWarningHandler(
        [this](const std::string& title, const std::string& text) { Warnings.push_back(title + ": " + text); });
  }
  ~WarningCapture() { SetWarningHandler(Previous); }
  std::vector<std::string> Warnings;

 private:
  TWarningHandler Previous;
};

struct LayoutCase {
  const char* Name;
  uint32_t Components;
  J_COLOR_SPACE Space;
  TColorScheme Scheme;
  int H, V;
  TByteArray SubSampling;
};

const LayoutCase kLayouts[] = {
    {"YCbCr 2x2", 3, JCS_YCbCr, csYCbCr, 2, 2, {2, 2}}, {"YCbCr 2x1", 3, JCS_YCbCr, csYCbCr, 2, 1, {2, 1}},
    {"YCbCr 1x1", 3, JCS_YCbCr, csYCbCr, 1, 1, {1, 1}}, {"RGB without transform", 3, JCS_RGB, csRGB, 1, 1, {}},
    {"grey", 1, JCS_GRAYSCALE, csG, 1, 1, {}},
};

// Strips of 8 rows with shared tables; the last strip of a 19-row picture has 3 rows.
TEST(TIFFJPEGDecoder, AbbreviatedStripsAgainstSharedTables) {
  TempDir dir;
  for (const LayoutCase& c : kLayouts) {
    SCOPED_TRACE(c.Name);
    const Picture pic = MakePicture(37, 19, c.Components, 11);
    StripEncoder encoder(pic, c.Space, c.H, c.V);
    TImageProperties props = Properties(pic, c.Scheme, 8, c.SubSampling);
    props.JPEGTables = encoder.Tables();
    TTIFFJPEGDecoder decoder(&props);
    decoder.DecodeInit();
    for (uint32_t first = 0; first < pic.Height; first += 8) {
      const uint32_t rows = std::min(8u, pic.Height - first);
      SCOPED_TRACE(first);
      props.CurrentRow = first;
      const Bytes strip = encoder.Strip(first, rows, true);
      const Bytes ours = DecodeStrip(decoder, strip, size_t(rows) * props.BytesPerLine);
      Bytes theirs = Djpeg(dir, encoder.Strip(first, rows, false), "strip");
      if (c.Components == 3) theirs = SwapRedBlue(theirs);  // ours comes blue, green, red
      ASSERT_EQ(ours.size(), theirs.size());
      EXPECT_TRUE(ours == theirs);
    }
    decoder.DecodeEnd();
  }
}

TEST(TIFFJPEGDecoder, CompleteStripsWithoutTablesField) {
  TempDir dir;
  const Picture pic = MakePicture(20, 10, 3, 12);
  StripEncoder encoder(pic, JCS_YCbCr, 2, 2);
  TImageProperties props = Properties(pic, csYCbCr, 10, {2, 2});
  TTIFFJPEGDecoder decoder(&props);
  decoder.DecodeInit();
  const Bytes strip = encoder.Strip(0, 10, false);
  EXPECT_EQ(DecodeStrip(decoder, strip, 10 * props.BytesPerLine), SwapRedBlue(Djpeg(dir, strip, "full")));
  decoder.DecodeEnd();
}

void ExpectMessage(const std::function<void()>& action, const char* message) {
  try {
    action();
    ADD_FAILURE() << "no error, expected: " << message;
  } catch (const EGraphicCompression& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

TEST(TIFFJPEGDecoder, StripChecks) {
  const Picture pic = MakePicture(16, 19, 3, 13);
  StripEncoder encoder(pic, JCS_YCbCr, 2, 2);
  const Bytes tables = encoder.Tables();
  const Bytes strip8 = encoder.Strip(0, 8, true);
  struct Check {
    const char* Name;
    std::function<void(TImageProperties&)> Change;
    size_t Room;
    const char* Message;
  };
  const Check checks[] = {
      {"last strip expects 3 rows", [](TImageProperties& p) { p.CurrentRow = 16; }, 3 * 48, gesJPEGStripSize},
      {"width differs", [](TImageProperties& p) { p.Width = 17; }, 8 * 48, gesJPEGStripSize},
      {"rows per strip differ", [](TImageProperties& p) { p.RowsPerStrip = {4}; }, 4 * 48, gesJPEGStripSize},
      {"component count", [](TImageProperties& p) { p.SamplesPerPixel = 4; }, 8 * 48, gesJPEGComponentCount},
      {"planar configuration 2 means one component", [](TImageProperties& p) { p.PlanarConfig = 2; }, 8 * 48,
       gesJPEGComponentCount},
      {"data precision", [](TImageProperties& p) { p.BitsPerSample = 12; }, 8 * 48, gesJPEGDataPrecision},
      {"sampling factors",
       [](TImageProperties& p) {
         p.YCbCrSubSampling = {2, 1};
       },
       8 * 48, gesJPEGSamplingFactors},
      {"no subsampling given means 1x1", [](TImageProperties& p) { p.YCbCrSubSampling.clear(); }, 8 * 48,
       gesJPEGSamplingFactors},
      {"fractional scanline", [](TImageProperties&) {}, 8 * 48 - 1, gesJPEGFractionalLine},
      {"row size 0", [](TImageProperties& p) { p.BytesPerLine = 0; }, 8 * 48, gesJPEGFractionalLine},
  };
  for (const Check& c : checks) {
    SCOPED_TRACE(c.Name);
    TImageProperties props = Properties(pic, csYCbCr, 8, {2, 2});
    props.JPEGTables = tables;
    c.Change(props);
    TTIFFJPEGDecoder decoder(&props);
    decoder.DecodeInit();
    ExpectMessage([&] { DecodeStrip(decoder, strip8, c.Room); }, c.Message);
    decoder.DecodeEnd();
  }
}

TEST(TIFFJPEGDecoder, TablesFieldMustHoldTablesOnly) {
  const Picture pic = MakePicture(16, 8, 3, 14);
  StripEncoder encoder(pic, JCS_YCbCr, 2, 2);
  TImageProperties props = Properties(pic, csYCbCr, 8, {2, 2});
  props.JPEGTables = encoder.Strip(0, 8, false);  // a whole image, not a tables stream
  TTIFFJPEGDecoder decoder(&props);
  ExpectMessage([&] { decoder.DecodeInit(); }, gesJPEGBogusTableField);
}

// Data that ends early: the warning "Attention" / gesJPEGEOI, an end-of-image marker is supplied
// and the strip is delivered as far as it goes, without an error.
TEST(TIFFJPEGDecoder, EarlyEndOfDataWarnsAndGoesOn) {
  TempDir dir;
  const Picture pic = MakePicture(64, 48, 3, 15);
  StripEncoder encoder(pic, JCS_YCbCr, 2, 2);
  TImageProperties props = Properties(pic, csYCbCr, 48, {2, 2});
  props.JPEGTables = encoder.Tables();
  const Bytes strip = encoder.Strip(0, 48, true);
  const Bytes full = SwapRedBlue(Djpeg(dir, encoder.Strip(0, 48, false), "full"));
  WarningCapture capture;
  TTIFFJPEGDecoder decoder(&props);
  decoder.DecodeInit();
  const Bytes cut(strip.begin(), strip.begin() + static_cast<std::ptrdiff_t>(strip.size() * 2 / 3));
  Bytes ours;
  EXPECT_NO_THROW(ours = DecodeStrip(decoder, cut, 48 * props.BytesPerLine));
  EXPECT_NE(std::find(capture.Warnings.begin(), capture.Warnings.end(), std::string(gesWarning) + ": " + gesJPEGEOI),
            capture.Warnings.end());
  // The first rows (of the first of three MCU rows, whose data was all there) are as in the
  // complete decoding; the rows past the cut are not.
  const size_t intact = 8 * props.BytesPerLine;
  EXPECT_FALSE(std::equal(ours.end() - static_cast<std::ptrdiff_t>(intact), ours.end(),
                          full.end() - static_cast<std::ptrdiff_t>(intact)));
  EXPECT_TRUE(std::equal(ours.begin(), ours.begin() + static_cast<std::ptrdiff_t>(intact), full.begin()));
  decoder.DecodeEnd();
}

// A fatal library error becomes EGraphicCompression carrying libjpeg's text; the decoder can go on.
TEST(TIFFJPEGDecoder, FatalLibraryErrorsBecomeExceptions) {
  const Picture pic = MakePicture(16, 8, 3, 16);
  StripEncoder encoder(pic, JCS_YCbCr, 2, 2);
  TImageProperties props = Properties(pic, csYCbCr, 8, {2, 2});
  props.JPEGTables = encoder.Tables();
  TTIFFJPEGDecoder decoder(&props);
  decoder.DecodeInit();
  try {
    DecodeStrip(decoder, {0x12, 0x34, 0x56, 0x78}, 8 * 48);
    ADD_FAILURE() << "garbage accepted";
  } catch (const EGraphicCompression& e) {
    EXPECT_NE(std::string(e.what()).find("Not a JPEG file"), std::string::npos) << e.what();
  }
  EXPECT_THROW(DecodeStrip(decoder, {}, 8 * 48), EGraphicCompression);
  EXPECT_NO_THROW(DecodeStrip(decoder, encoder.Strip(0, 8, true), 8 * 48));
  decoder.DecodeEnd();
}

// A row size below the decoded scanline width: each row gets its first BytesPerLine bytes and
// nothing is written past the area.
TEST(TIFFJPEGDecoder, NarrowRowsAreCut) {
  TempDir dir;
  const Picture pic = MakePicture(16, 8, 3, 17);
  StripEncoder encoder(pic, JCS_YCbCr, 1, 1);
  TImageProperties props = Properties(pic, csYCbCr, 8, {1, 1});
  props.BytesPerLine = 10;
  const Bytes strip = encoder.Strip(0, 8, false);
  const Bytes full = SwapRedBlue(Djpeg(dir, strip, "full"));
  TTIFFJPEGDecoder decoder(&props);
  decoder.DecodeInit();
  const Bytes ours = DecodeStrip(decoder, strip, 8 * 10);
  for (size_t y = 0; y < 8; ++y)
    EXPECT_TRUE(std::equal(ours.begin() + static_cast<std::ptrdiff_t>(y * 10),
                           ours.begin() + static_cast<std::ptrdiff_t>(y * 10 + 10),
                           full.begin() + static_cast<std::ptrdiff_t>(y * 48)));
  decoder.DecodeEnd();
}

// A JPEG TIFF written by an independent encoder (ImageMagick through libtiff: JPEGTables and
// abbreviated strips), decoded strip by strip and compared with ImageMagick's decoding.
TEST(TIFFJPEGDecoder, StripsOfImageMagickTiff) {
  TempDir dir;
  RunOracle(kMagick,
            "-seed 5 -size 61x45 plasma:fractal -depth 8 -compress JPEG -quality 90 "
            "-define tiff:rows-per-strip=16 " +
                Quote(dir / "j.tif"));
  const TiffImage tiff = ReadTiff(dir / "j.tif");
  ASSERT_EQ(tiff.Tag(259), 7u);
  const Bytes rgb = MagickDecode(dir / "j.tif").Pixels;
  TImageProperties props;
  props.Width = tiff.Tag(256);
  props.Height = tiff.Tag(257);
  props.SamplesPerPixel = static_cast<uint8_t>(tiff.Tag(277));
  props.BitsPerSample = 8;
  props.PlanarConfig = tiff.Tag(284, 1);
  props.RowsPerStrip = {tiff.Tag(278)};
  props.ColorScheme = tiff.Tag(262) == 6 ? csYCbCr : csRGB;
  if (tiff.Tags.count(530))
    props.YCbCrSubSampling = {uint8_t(tiff.Tags.at(530)[0]), uint8_t(tiff.Tags.at(530)[1])};
  else if (props.ColorScheme == csYCbCr)
    props.YCbCrSubSampling = {2, 2};  // the TIFF default
  for (uint32_t v : tiff.Tags.at(347)) props.JPEGTables.push_back(static_cast<uint8_t>(v));
  props.BytesPerLine = props.Width * 3;
  ASSERT_EQ(props.SamplesPerPixel, 3);
  ASSERT_EQ(rgb.size(), size_t(props.Width) * props.Height * 3);
  TTIFFJPEGDecoder decoder(&props);
  decoder.DecodeInit();
  Bytes ours;
  for (size_t s = 0; s < tiff.Strips.size(); ++s) {
    props.CurrentRow = static_cast<uint32_t>(s) * props.RowsPerStrip[0];
    const uint32_t rows = std::min(props.RowsPerStrip[0], props.Height - props.CurrentRow);
    const Bytes strip = DecodeStrip(decoder, tiff.Strips[s], size_t(rows) * props.BytesPerLine);
    ours.insert(ours.end(), strip.begin(), strip.end());
  }
  decoder.DecodeEnd();
  ASSERT_GT(tiff.Strips.size(), 1u);
  EXPECT_TRUE(SwapRedBlue(ours) == rgb);
}

}  // namespace
}  // namespace muralo::test
