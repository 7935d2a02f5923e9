// The Targa run-length encoder: the exact packets it chooses, round trips through the decoder for
// every pixel size, and ImageMagick reading files made of our packets.

#include <random>

#include "DecoderTestTools.h"

namespace muralo::test {
namespace {

Bytes Encode(uint32_t pixelBits, const Bytes& pixels, uint32_t count) {
  TTargaRLEDecoder encoder(pixelBits);
  GuardedRow out(encoder.MaxEncodedSize(count), GuardedRow::kGuardByte);
  size_t stored = 0xDEADBEEF;
  encoder.Encode(pixels.data(), out.data(), count, stored);
  EXPECT_LE(stored, out.size());
  for (size_t i = stored; i < out.size(); ++i) EXPECT_EQ(out[i], GuardedRow::kGuardByte) << "byte " << i;
  EXPECT_TRUE(out.Intact());
  return Bytes(out.data(), out.data() + std::min(stored, out.size()));
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

Bytes Ramp(size_t count, uint8_t start = 0) {
  Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = static_cast<uint8_t>(start + i);
  return b;
}

struct EncodeCase {
  const char* Name;
  uint32_t PixelBits;
  Bytes Pixels;
  Bytes Expected;
};

const EncodeCase kEncodeCases[] = {
    {"A B B B C", 8, {0x0A, 0x0B, 0x0B, 0x0B, 0x0C}, {0x00, 0x0A, 0x82, 0x0B, 0x00, 0x0C}},
    {"300 equal pixels: three runs", 8, Bytes(300, 0x77), {0xFF, 0x77, 0xFF, 0x77, 0xAB, 0x77}},
    {"130 distinct pixels: raw 128 and raw 2", 8, Ramp(130), Cat({{0x7F}, Ramp(128), {0x01, 128, 129}})},
    {"one pixel", 8, {0x42}, {0x00, 0x42}},
    {"two equal pixels form a run", 8, {5, 5}, {0x81, 5}},
    {"raw ends before the first equal pair", 8, {1, 2, 3, 3}, {0x01, 1, 2, 0x81, 3}},
    {"run then single", 8, {9, 9, 9, 4}, {0x82, 9, 0x00, 4}},
    {"15-bit pixels are two bytes", 15, {0x01, 0x80, 0x01, 0x80, 0x02, 0x80}, {0x81, 0x01, 0x80, 0x00, 0x02, 0x80}},
    {"16-bit pixels", 16, {0x34, 0x12, 0x35, 0x12}, {0x01, 0x34, 0x12, 0x35, 0x12}},
    {"24-bit pixels compared whole", 24, {1, 2, 3, 1, 2, 4, 1, 2, 4}, {0x00, 1, 2, 3, 0x81, 1, 2, 4}},
    {"32-bit run", 32, {1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4}, {0x82, 1, 2, 3, 4}},
    {"129 equal pixels: run 128 and raw 1", 8, Bytes(129, 3), {0xFF, 3, 0x00, 3}},
};

TEST(TargaEncode, ExactPackets) {
  for (const EncodeCase& c : kEncodeCases) {
    SCOPED_TRACE(c.Name);
    const uint32_t pixelSize = (c.PixelBits + 1) / 8;
    const auto count = static_cast<uint32_t>(c.Pixels.size() / pixelSize);
    const Bytes encoded = Encode(c.PixelBits, c.Pixels, count);
    EXPECT_EQ(Hex(encoded), Hex(c.Expected));
  }
}

// The worst case of 8-bit pixels: a single pixel, then a pair, again and again.
TEST(TargaEncode, WorstCaseFitsTheBound) {
  for (uint32_t pixelBits : {8u, 16u, 24u}) {
    SCOPED_TRACE(pixelBits);
    const uint32_t pixelSize = (pixelBits + 1) / 8, count = 3 * 200 + 1;
    Bytes pixels;
    for (uint32_t i = 0; i < count; ++i) {
      const auto value = static_cast<uint8_t>((i + 2) / 3 * 2 + (i % 3 == 0 ? 1 : 0));  // A, B B, C, D D, ...
      pixels.insert(pixels.end(), pixelSize, value);
    }
    const Bytes encoded = Encode(pixelBits, pixels, count);
    if (pixelSize == 1) {
      EXPECT_EQ(encoded.size(), 4u * 200 + 2);  // raw 1 + run 2 per three pixels
    }
    EXPECT_LE(encoded.size(), 2u * count * pixelSize);
  }
}

TEST(TargaEncode, ZeroPixelsStoreNothing) {
  TTargaRLEDecoder encoder(24);
  GuardedRow out(4, GuardedRow::kGuardByte);
  size_t stored = 99;
  encoder.Encode(nullptr, out.data(), 0, stored);
  EXPECT_EQ(stored, 0u);
  EXPECT_EQ(out[0], GuardedRow::kGuardByte);
}

// Random rows with runs of every length, decoded back to the same pixels; the output never grows
// past the worst case, and twice the row size is always enough.
TEST(TargaEncode, RoundTripsRandomRows) {
  std::mt19937 random(20261208);
  for (uint32_t pixelBits : {8u, 15u, 16u, 24u, 32u}) {
    const uint32_t pixelSize = (pixelBits + 1) / 8;
    for (uint32_t width : {1u, 2u, 3u, 127u, 128u, 129u, 255u, 256u, 257u, 1000u}) {
      SCOPED_TRACE(testing::Message() << pixelBits << " bits, width " << width);
      for (int trial = 0; trial < 8; ++trial) {
        Bytes row;
        std::uniform_int_distribution<int> runLength(1, trial % 2 ? 200 : 3);
        std::uniform_int_distribution<int> value(0, trial < 4 ? 1 : 255);  // few values make many runs
        while (row.size() < width * pixelSize) {
          Bytes pixel(pixelSize);
          for (auto& b : pixel) b = static_cast<uint8_t>(value(random));
          for (int k = runLength(random); k > 0 && row.size() < width * pixelSize; --k)
            row.insert(row.end(), pixel.begin(), pixel.end());
        }
        const Bytes encoded = Encode(pixelBits, row, width);
        EXPECT_LE(encoded.size(), 2u * width * pixelSize);
        TTargaRLEDecoder decoder(pixelBits);
        const DecodeResult r = RunDecoder(decoder, encoded, row.size(), static_cast<size_t>(width));
        EXPECT_EQ(r.Output, row);
        EXPECT_EQ(r.SourceMoved, encoded.size());
        EXPECT_TRUE(r.GuardIntact);
      }
    }
  }
}

// A Targa file (image type 10 true colour or 11 grey, run-length encoded) made of our packets is
// read by ImageMagick, and its pixels are those we encoded.
TEST(TargaEncode, ImageMagickReadsOurPackets) {
  TempDir dir;
  std::mt19937 random(7);
  for (uint32_t pixelBits : {8u, 24u, 32u}) {
    SCOPED_TRACE(pixelBits);
    const uint32_t pixelSize = pixelBits / 8, width = 300, height = 5;
    Bytes file = {0,
                  0,
                  static_cast<uint8_t>(pixelBits == 8 ? 11 : 10),
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  0,
                  static_cast<uint8_t>(width & 0xFF),
                  static_cast<uint8_t>(width >> 8),
                  static_cast<uint8_t>(height),
                  0,
                  static_cast<uint8_t>(pixelBits),
                  static_cast<uint8_t>(0x20 | (pixelBits == 32 ? 8 : 0))};  // top-left origin
    Bytes pixels;
    std::uniform_int_distribution<int> value(0, 3);
    for (uint32_t i = 0; i < width * height; ++i) {
      const uint8_t v = static_cast<uint8_t>(value(random) * 80);
      for (uint32_t k = 0; k < pixelSize; ++k) pixels.push_back(static_cast<uint8_t>(v + (k == 3 ? 255 - v : k)));
    }
    for (uint32_t y = 0; y < height; ++y) {  // each row encoded on its own, as the Targa writer does
      Bytes row(pixels.begin() + y * width * pixelSize, pixels.begin() + (y + 1) * width * pixelSize);
      const Bytes encoded = Encode(pixelBits, row, width);
      file.insert(file.end(), encoded.begin(), encoded.end());
    }
    WriteBytes(dir / "ours.tga", file);
    const Bytes rgb = MagickDecode(dir / "ours.tga").Pixels;
    ASSERT_EQ(rgb.size(), width * height * 3);
    for (uint32_t i = 0; i < width * height; ++i) {
      const uint8_t* p = &pixels[i * pixelSize];
      const uint8_t expected[3] = {pixelSize == 1 ? p[0] : p[2], pixelSize == 1 ? p[0] : p[1], p[0]};  // BGR order
      ASSERT_EQ(rgb[i * 3], expected[0]) << "pixel " << i;
      ASSERT_EQ(rgb[i * 3 + 1], expected[1]) << "pixel " << i;
      ASSERT_EQ(rgb[i * 3 + 2], expected[2]) << "pixel " << i;
    }
  }
}

}  // namespace
}  // namespace muralo::test
