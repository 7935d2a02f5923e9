// Run-length data written by independent encoders, decoded by us and compared with the encoders'
// own decoding: PackBits TIFF strips (libtiff's tiffcp, netpbm, Pillow), and the Targa, PCX and SGI
// files of ImageMagick.

#include "DecoderTestTools.h"

namespace muralo::test {
namespace {

// A picture with runs (posterised plasma), as a PPM file, and its raw RGB bytes.
struct Source {
  uint32_t Width, Height;
  Bytes Rgb;
};

Source MakeSource(const TempDir& dir, uint32_t width, uint32_t height) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  RunOracle(kMagick,
            "-seed 9 -size " + size + " plasma:fractal -posterize 3 -depth 8 " + Quote("ppm:" + (dir / "src.ppm")));
  return {width, height, ReadPnm(dir / "src.ppm").Pixels};
}

uint32_t BE16(const Bytes& b, size_t p) { return uint32_t(b.at(p)) << 8 | b.at(p + 1); }
uint32_t BE32(const Bytes& b, size_t p) { return BE16(b, p) << 16 | BE16(b, p + 2); }
uint32_t LE16(const Bytes& b, size_t p) { return b.at(p) | uint32_t(b.at(p + 1)) << 8; }

TEST(RunLengthOracles, PackBitsTiffStrips) {
  TempDir dir;
  const Source src = MakeSource(dir, 203, 37);
  RunOracle(kPnmToTiff, "-none " + Quote(dir / "src.ppm") + " > " + Quote(dir / "plain.tif"));
  const std::string python = kPython;
  const std::pair<const char*, std::string> encoders[] = {
      {"libtiff -c packbits, 5-row strips", kTiffCp + " -c packbits -r 5 plain.tif out.tif"},
      {"netpbm -packbits", kPnmToTiff + " -packbits -rowsperstrip 8 src.ppm > out.tif"},
      {"Pillow packbits", python + " -c \"from PIL import Image; Image.open('src.ppm').save('out.tif', "
                                   "compression='packbits')\""},
      {"libtiff -c packbits of a grey picture", kTiffCp + " -c packbits -r 16 grey.tif out.tif"},
  };
  RunOracle(kMagick, Quote(dir / "src.ppm") + " -colorspace Gray -depth 8 " + Quote(dir / "grey.tif"));
  for (const auto& [name, command] : encoders) {
    SCOPED_TRACE(name);
    RunOracle("cd", Quote(dir.Path.string()) + " && rm -f out.tif none.tif && " + command);
    RunOracle(kTiffCp, "-c none -r 100000 " + Quote(dir / "out.tif") + " " + Quote(dir / "none.tif"));
    const TiffImage tiff = ReadTiff(dir / "out.tif");
    ASSERT_EQ(tiff.Tag(259), 32773u);
    const uint32_t width = tiff.Tag(256), height = tiff.Tag(257), spp = tiff.Tag(277, 1);
    const uint32_t rowsPerStrip = std::min(tiff.Tag(278, height), height);
    const size_t rowBytes = size_t(width) * spp;
    TPackbitsRLEDecoder decoder;
    Bytes ours;
    for (size_t s = 0; s < tiff.Strips.size(); ++s) {
      const uint32_t rows = std::min<uint32_t>(rowsPerStrip, height - static_cast<uint32_t>(s) * rowsPerStrip);
      const DecodeResult r = RunDecoder(decoder, tiff.Strips[s], rows * rowBytes);
      EXPECT_TRUE(r.GuardIntact);
      ours.insert(ours.end(), r.Output.begin(), r.Output.end());
    }
    Bytes theirs;
    for (const Bytes& strip : ReadTiff(dir / "none.tif").Strips)
      theirs.insert(theirs.end(), strip.begin(), strip.end());
    ASSERT_EQ(ours.size(), theirs.size());
    EXPECT_TRUE(ours == theirs);
    if (spp == 3) {
      EXPECT_TRUE(ours == src.Rgb);
    }
  }
}

// Truevision TGA 2.0, image type 10 (run-length true colour), pixels blue, green, red. Written by
// ImageMagick, decoded for comparison by Pillow (ImageMagick's writer stores the rows top first
// under a bottom-left origin, and its reader agrees with it; Pillow follows the origin bit).
TEST(RunLengthOracles, TargaFileOfImageMagick) {
  TempDir dir;
  const Source made = MakeSource(dir, 150, 41);
  RunOracle(kMagick, Quote(dir / "src.ppm") + " -compress RLE " + Quote(dir / "out.tga"));
  RunOracle(kPython, "-c \"from PIL import Image; open('" + (dir / "pil.rgb") + "', 'wb').write(Image.open('" +
                         (dir / "out.tga") + "').convert('RGB').tobytes())\"");
  const Source src{made.Width, made.Height, FileBytes(dir / "pil.rgb")};
  ASSERT_EQ(src.Rgb.size(), made.Rgb.size());
  const Bytes f = FileBytes(dir / "out.tga");
  ASSERT_EQ(f.at(2), 10);
  ASSERT_EQ(f.at(16), 24);
  const uint32_t width = LE16(f, 12), height = LE16(f, 14);
  ASSERT_EQ(width, src.Width);
  ASSERT_EQ(height, src.Height);
  const bool topDown = f.at(17) & 0x20;
  const size_t start = 18 + f.at(0) + (f.at(1) ? LE16(f, 5) * ((f.at(7) + 7) / 8) : 0);
  const Bytes packed(f.begin() + static_cast<std::ptrdiff_t>(start), f.end());
  TTargaRLEDecoder decoder(24);
  // The whole picture in one call: the decoder must cope with packets that cross rows.
  const DecodeResult r = RunDecoder(decoder, packed, size_t(width) * height * 3, static_cast<size_t>(width * height));
  EXPECT_TRUE(r.GuardIntact);
  EXPECT_LE(r.SourceMoved, packed.size());
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      const size_t file = (size_t(topDown ? y : height - 1 - y) * width + x) * 3;
      const size_t rgb = (size_t(y) * width + x) * 3;
      ASSERT_EQ(r.Output[file], src.Rgb[rgb + 2]) << x << "," << y;
      ASSERT_EQ(r.Output[file + 1], src.Rgb[rgb + 1]) << x << "," << y;
      ASSERT_EQ(r.Output[file + 2], src.Rgb[rgb]) << x << "," << y;
    }
}

// ZSoft PCX 3.0, 24-bit as three 8-bit planes per row, run-length encoding 1.
TEST(RunLengthOracles, PcxFileOfImageMagick) {
  TempDir dir;
  const Source src = MakeSource(dir, 131, 29);
  RunOracle(kMagick, Quote(dir / "src.ppm") + " -type TrueColor " + Quote(dir / "out.pcx"));
  const Bytes f = FileBytes(dir / "out.pcx");
  ASSERT_EQ(f.at(2), 1);  // run-length encoded
  const uint32_t width = LE16(f, 8) - LE16(f, 4) + 1, height = LE16(f, 10) - LE16(f, 6) + 1;
  const uint32_t planes = f.at(65), bytesPerLine = LE16(f, 66);
  ASSERT_EQ(width, src.Width);
  ASSERT_EQ(planes, 3u);
  ASSERT_EQ(f.at(3), 8);
  const Bytes packed(f.begin() + 128, f.end());
  TPCXRLEDecoder decoder;
  const DecodeResult r = RunDecoder(decoder, packed, size_t(height) * planes * bytesPerLine);
  EXPECT_TRUE(r.GuardIntact);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t p = 0; p < planes; ++p)
      for (uint32_t x = 0; x < width; ++x)
        ASSERT_EQ(r.Output[(size_t(y) * planes + p) * bytesPerLine + x], src.Rgb[(size_t(y) * width + x) * 3 + p])
            << x << "," << y << " plane " << p;
}

// SGI image file format, storage 1 (RLE): offset and length tables, one run-length row per channel.
TEST(RunLengthOracles, SgiFileOfImageMagick) {
  TempDir dir;
  const Source src = MakeSource(dir, 117, 23);
  RunOracle(kMagick, Quote(dir / "src.ppm") + " -compress RLE " + Quote(dir / "out.sgi"));
  const Bytes f = FileBytes(dir / "out.sgi");
  ASSERT_EQ(BE16(f, 0), 474u);
  ASSERT_EQ(f.at(2), 1);  // RLE
  ASSERT_EQ(f.at(3), 1);  // one byte per sample
  const uint32_t width = BE16(f, 6), height = BE16(f, 8), channels = BE16(f, 10);
  ASSERT_EQ(width, src.Width);
  ASSERT_EQ(height, src.Height);
  ASSERT_GE(channels, 3u);
  TSGIRLEDecoder decoder(8);
  for (uint32_t c = 0; c < 3; ++c)
    for (uint32_t row = 0; row < height; ++row) {
      const size_t i = row + size_t(c) * height;
      const uint32_t offset = BE32(f, 512 + 4 * i), length = BE32(f, 512 + 4 * (height * channels + i));
      ASSERT_LE(size_t(offset) + length, f.size());
      const Bytes packed(f.begin() + offset, f.begin() + offset + length);
      const DecodeResult r = RunDecoder(decoder, packed, width);
      ASSERT_TRUE(r.GuardIntact);
      const uint32_t y = height - 1 - row;  // rows are stored bottom first
      for (uint32_t x = 0; x < width; ++x)
        ASSERT_EQ(r.Output[x], src.Rgb[(size_t(y) * width + x) * 3 + c]) << x << "," << y << " channel " << c;
    }
}

}  // namespace
}  // namespace muralo::test
