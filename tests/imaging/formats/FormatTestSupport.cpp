#include "imaging/formats/FormatTestSupport.h"

#include "imaging/formats/AutodeskGraphic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace muralo::test {

TOracleImage OracleDecode(const std::string& file, bool alpha) {
  // -auto-orient: ImageMagick keeps a file's stored row order and only records the orientation;
  // the comparison wants the picture as the file's orientation presents it.
  TOracleImage image = MagickDecode(file, "-auto-orient", alpha);
  if (image.Channels != (alpha ? 4 : 3)) throw std::runtime_error("oracle decode of the wrong depth: " + file);
  return image;
}

TOracleImage PillowDecode(const std::string& file, bool alpha) {
  const std::string out = file + (alpha ? ".pillow.pam" : ".pillow.ppm");
  // Pillow writes no PAM, so the script writes the header the parser reads.
  const std::string script =
      "import sys\n"
      "from PIL import Image\n"
      "a = sys.argv[3] == '1'\n"
      "im = Image.open(sys.argv[1]).convert('RGBA' if a else 'RGB')\n"
      "w, h = im.size\n"
      "pam = 'P7\\nWIDTH %d\\nHEIGHT %d\\nDEPTH 4\\nMAXVAL 255\\nENDHDR\\n'\n"
      "head = (pam if a else 'P6\\n%d %d\\n255\\n') % (w, h)\n"
      "open(sys.argv[2], 'wb').write(head.encode() + im.tobytes())\n";
  RunOracle(kPython, "-c " + Quote(script) + " " + Quote(file) + " " + Quote(out) + (alpha ? " 1" : " 0"));
  return ReadPnm(out);
}

TOracleImage NetpbmDecode(const std::string& converter, const std::string& file) {
  const std::string out = file + ".netpbm.ppm";
  // A converter may write another maximum sample value; pamdepth brings it to 255.
  RunOracle(converter, Quote(file) + " 2>/dev/null | " + kPamDepth + " 255 > " + Quote(out));
  return ReadPnm(out);
}

void ExpectSamePixels(const TBitmap& bitmap, const TOracleImage& oracle, int tolerance, bool alpha) {
  ASSERT_EQ(bitmap.Width(), oracle.Width);
  ASSERT_EQ(bitmap.Height(), oracle.Height);
  std::vector<uint8_t> bgra(size_t(bitmap.Width()) * 4);
  for (int y = 0; y < bitmap.Height(); ++y) {
    bitmap.ReadRowBGRA(y, bgra.data());
    for (int x = 0; x < bitmap.Width(); ++x) {
      const uint8_t* o = oracle.At(x, y);
      const uint8_t* ours = &bgra[size_t(x) * 4];
      const int diff[4] = {ours[2] - o[0], ours[1] - o[1], ours[0] - o[2], alpha ? ours[3] - o[3] : 0};
      for (int d : diff)
        if (std::abs(d) > tolerance) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << "): ours RGB(A) " << int(ours[2]) << " " << int(ours[1])
                        << " " << int(ours[0]) << " " << int(ours[3]) << ", oracle " << int(o[0]) << " " << int(o[1])
                        << " " << int(o[2]) << " " << (alpha ? int(o[3]) : 255);
          return;
        }
    }
  }
}

void PutLE16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void PutBE16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void PutBE32(std::vector<uint8_t>& b, uint32_t v) {
  PutBE16(b, uint16_t(v >> 16));
  PutBE16(b, uint16_t(v));
}

namespace {
// One CUT row: a 2-byte count, packets (bit 7 set = run of the next byte, clear = literal), then 0.
std::vector<uint8_t> CUTRow(const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> packets;
  for (size_t x = 0; x < pixels.size();) {
    size_t run = 1;
    while (x + run < pixels.size() && run < 127 && pixels[x + run] == pixels[x]) ++run;
    if (run >= 3) {
      packets.insert(packets.end(), {uint8_t(0x80 | run), pixels[x]});
      x += run;
      continue;
    }
    const size_t n = std::min<size_t>(pixels.size() - x, 5);
    packets.push_back(uint8_t(n));
    packets.insert(packets.end(), pixels.begin() + long(x), pixels.begin() + long(x + n));
    x += n;
  }
  packets.push_back(0);
  std::vector<uint8_t> row;
  PutLE16(row, uint16_t(packets.size()));
  row.insert(row.end(), packets.begin(), packets.end());
  return row;
}

// RLA channel data as literal packets (a negative count byte -n copies n bytes).
std::vector<uint8_t> RLAChannel(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  for (size_t x = 0; x < bytes.size();) {
    const size_t n = std::min<size_t>(bytes.size() - x, 100);
    out.push_back(uint8_t(-int(n)));
    out.insert(out.end(), bytes.begin() + long(x), bytes.begin() + long(x + n));
    x += n;
  }
  return out;
}
}  // namespace

std::vector<uint8_t> CUTFile(int w, int h) {
  std::vector<uint8_t> b;
  PutLE16(b, uint16_t(w));
  PutLE16(b, uint16_t(h));
  PutLE16(b, 0);
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> pixels;
    for (int x = 0; x < w; ++x) pixels.push_back(uint8_t(x < 6 ? 7 : Sample(x, y, 0) % 100));
    const std::vector<uint8_t> row = CUTRow(pixels);
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

// The Dr. Halo layout: "AH" header with the entry count minus one at 12, the maximum component
// values, entries of three 16-bit words from offset 40, none across a 512-byte block.
std::vector<uint8_t> PALFile(int entries) {
  std::vector<uint8_t> b = {'A', 'H'};
  PutLE16(b, 0xE3);  // version
  PutLE16(b, uint16_t(entries * 6));
  b.insert(b.end(), {0x11, 0x00});  // palette file, sub type
  PutLE16(b, 0);
  PutLE16(b, 0);
  PutLE16(b, uint16_t(entries - 1));
  for (int i = 0; i < 3; ++i) PutLE16(b, 255);
  b.resize(40, 0);
  for (int i = 0; i < entries; ++i) {
    if (b.size() % 512 > 506) b.resize((b.size() / 512 + 1) * 512, 0);
    PutLE16(b, uint16_t(i * 2 % 256));
    PutLE16(b, uint16_t(255 - i));
    PutLE16(b, uint16_t(i * 7 % 256));
  }
  b.resize((b.size() + 511) / 512 * 512, 0);
  return b;
}

uint16_t RLAWord(uint8_t v, int bits) {
  if (bits <= 8) return v;
  return uint16_t(v << (bits - 8) | ((v ^ 0x5A5A) & ((1 << (bits - 8)) - 1)));
}

std::vector<uint8_t> RLAFile(const RLAOptions& o) {
  std::vector<uint8_t> h(740, 0);
  auto put16 = [&](size_t at, int v) {
    h[at] = uint8_t(v >> 8);
    h[at + 1] = uint8_t(v);
  };
  put16(0, 0), put16(2, o.Width - 1), put16(4, o.Bottom), put16(6, o.Top);
  put16(8, 0), put16(10, o.Width - 1), put16(12, o.Bottom), put16(14, o.Top);
  put16(20, o.Channels), put16(22, o.Matte), put16(26, 0xFFFE);
  std::memcpy(&h[28], o.Gamma, std::strlen(o.Gamma));
  std::memcpy(&h[580], o.Chan, std::strlen(o.Chan));
  put16(658, o.Bits), put16(662, o.Bits);
  const int height = std::abs(o.Top - o.Bottom) + 1;
  const int channels = o.Channels + (o.Matte > 0 ? 1 : 0);
  const size_t sampleBytes = o.Bits > 8 ? 2 : 1;
  std::vector<uint8_t> rows;
  std::vector<uint32_t> offsets;
  const uint32_t dataStart = 740 + 4 * uint32_t(height);
  for (int r = 0; r < height; ++r) {
    offsets.push_back(dataStart + uint32_t(rows.size()));
    for (int c = 0; c < channels; ++c) {
      // Channels of more than 8 bits: a plane of the words' high bytes, then one of their low bytes.
      std::vector<uint8_t> samples(size_t(o.Width) * sampleBytes);
      for (int x = 0; x < o.Width; ++x) {
        const uint16_t v = RLAWord(Sample(x, r, c), o.Bits);
        if (sampleBytes == 2)
          samples[size_t(x)] = uint8_t(v >> 8), samples[size_t(o.Width + x)] = uint8_t(v);
        else
          samples[size_t(x)] = uint8_t(v);
      }
      const std::vector<uint8_t> packed = RLAChannel(samples);
      PutBE16(rows, uint16_t(packed.size()));
      rows.insert(rows.end(), packed.begin(), packed.end());
    }
  }
  for (uint32_t v : offsets) PutBE32(h, v);
  h.insert(h.end(), rows.begin(), rows.end());
  return h;
}

std::vector<uint8_t> CelFile(int w, int h, uint8_t bits) {
  std::vector<uint8_t> b;
  PutLE16(b, AutodeskMagic);
  PutLE16(b, uint16_t(w));
  PutLE16(b, uint16_t(h));
  b.resize(10, 0);
  b.push_back(bits);
  b.push_back(0);
  b.resize(32, 0);
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i % 64), uint8_t(63 - i % 64), uint8_t(i / 4)});
  b[32 + 3 * 9] = 63, b[32 + 3 * 9 + 1] = 0, b[32 + 3 * 9 + 2] = 32;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.push_back(uint8_t(x == 1 && y == 1 ? 9 : x + y));
  return b;
}

}  // namespace muralo::test
