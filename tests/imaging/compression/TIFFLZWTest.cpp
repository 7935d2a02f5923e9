// The TIFF LZW decoder: strips written by libtiff (tiffcp -c lzw) against the same strips stored
// uncompressed; streams of the old least-significant-bit-first kind made here and checked by
// libtiff's own decode; output bounds and corrupt codes.

#include <algorithm>
#include <map>
#include <random>

#include "DecoderTestTools.h"

namespace muralo::test {
namespace {

// An LZW encoder after TIFF 6.0 section 13, in either bit order, so that old-style streams (which
// no current tool writes) can be made. Compat streams widen their codes one entry later.
Bytes EncodeLZW(const Bytes& data, bool compat) {
  Bytes out;
  uint64_t buffer = 0;
  unsigned count = 0;
  uint32_t next = 258;
  auto width = [&] {
    unsigned w = 9;
    while (w < 12 && next > (1u << w) - (compat ? 0 : 1)) ++w;
    return w;
  };
  auto emit = [&](uint32_t code) {
    const unsigned w = width();
    if (compat) {
      buffer |= uint64_t(code) << count;
      count += w;
      for (; count >= 8; count -= 8, buffer >>= 8) out.push_back(uint8_t(buffer));
    } else {
      buffer = (buffer << w) | code;
      count += w;
      for (; count >= 8; count -= 8) out.push_back(uint8_t(buffer >> (count - 8)));
    }
  };
  std::map<uint32_t, uint32_t> table;
  emit(256);
  int32_t prefix = -1;
  for (uint8_t b : data) {
    if (prefix < 0) {
      prefix = b;
      continue;
    }
    const uint32_t key = uint32_t(prefix) << 8 | b;
    if (auto it = table.find(key); it != table.end()) {
      prefix = int32_t(it->second);
      continue;
    }
    emit(uint32_t(prefix));
    table[key] = next++;
    if (next > 4093) {
      emit(256);
      table.clear();
      next = 258;
    }
    prefix = b;
  }
  if (prefix >= 0) {
    emit(uint32_t(prefix));
    ++next;
  }
  emit(257);
  if (count > 0) out.push_back(uint8_t(compat ? buffer : buffer << (8 - count)));
  return out;
}

Bytes Sample(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes data(size);
  for (size_t i = 0; i < size; ++i) data[i] = uint8_t(i % 97 < 40 ? i / 13 : random() % 7 * 31);
  return data;
}

TEST(TIFFLZW, DecodesLibtiffStripsLikeTheirUncompressedCopies) {
  TempDir dir;
  // Large enough for the codes to reach 12 bits and for the table to be cleared.
  RunTool(kMagick + " rose: -resize 300x120! -attenuate 0.3 +noise Gaussian -compress None '" + dir.File("none.tif") +
          "'");
  RunTool(kTiffCp + " -r 60 '" + dir.File("none.tif") + "' '" + dir.File("plain.tif") + "'");
  RunTool(kTiffCp + " -c lzw -r 60 '" + dir.File("none.tif") + "' '" + dir.File("lzw.tif") + "'");
  const TiffImage plain = ReadTiff(dir.File("plain.tif"));
  const TiffImage lzw = ReadTiff(dir.File("lzw.tif"));
  ASSERT_EQ(lzw.Tag(259), 5u);
  ASSERT_EQ(plain.Strips.size(), lzw.Strips.size());
  for (size_t s = 0; s < lzw.Strips.size(); ++s) {
    SCOPED_TRACE(s);
    TTIFFLZWDecoder decoder;
    EXPECT_FALSE(TTIFFLZWDecoder::IsCompatStream(lzw.Strips[s].data(), int32_t(lzw.Strips[s].size())));
    const DecodeResult r = RunDecoder(decoder, lzw.Strips[s], plain.Strips[s].size());
    EXPECT_TRUE(r.GuardIntact);
    EXPECT_EQ(r.SourceMoved, 0u);
    EXPECT_EQ(r.Output, plain.Strips[s]);
  }
}

TEST(TIFFLZW, OldStyleStreamsDecodeAsLibtiffDecodesThem) {
  TempDir dir;
  for (bool compat : {false, true}) {
    SCOPED_TRACE(compat ? "least significant bit first" : "most significant bit first");
    const uint32_t width = 200, height = 60;
    const Bytes data = Sample(size_t(width) * height, compat ? 7 : 8);
    const Bytes stream = EncodeLZW(data, compat);
    EXPECT_EQ(TTIFFLZWDecoder::IsCompatStream(stream.data(), int32_t(stream.size())), compat);
    TTIFFLZWDecoder decoder;
    const DecodeResult r = RunDecoder(decoder, stream, data.size());
    EXPECT_EQ(r.Output, data);
    EXPECT_EQ(decoder.BytesDecoded(), data.size());

    // The same stream as the strip of an 8-bit grey TIFF, decoded by libtiff.
    Bytes f = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const uint32_t entries[][3] = {{256, 4, width},  {257, 4, height},
                                   {258, 3, 8},      {259, 3, 5},
                                   {262, 3, 1},      {273, 4, 8 + 2 + 8 * 12 + 4},
                                   {278, 4, height}, {279, 4, uint32_t(stream.size())}};
    auto put = [&](uint32_t v, int bytes) {
      for (int i = 0; i < bytes; ++i) f.push_back(uint8_t(v >> (8 * i)));
    };
    put(8, 2);
    for (const auto& e : entries) put(e[0], 2), put(e[1], 2), put(1, 4), put(e[2], 4);
    put(0, 4);
    f.insert(f.end(), stream.begin(), stream.end());
    WriteBytes(dir.File("lzw.tif"), f);
    RunTool(kTiffCp + " -c none '" + dir.File("lzw.tif") + "' '" + dir.File("none.tif") + "'");
    EXPECT_EQ(ReadTiff(dir.File("none.tif")).Strips.at(0), data);
  }
}

TEST(TIFFLZW, StopsAtTheOutputAndAtCorruptCodes) {
  const Bytes data = Sample(5000, 3);
  const Bytes stream = EncodeLZW(data, false);
  for (size_t room : {size_t(0), size_t(1), size_t(777), size_t(4999)}) {
    SCOPED_TRACE(room);
    TTIFFLZWDecoder decoder;
    const DecodeResult r = RunDecoder(decoder, stream, room);
    EXPECT_TRUE(r.GuardIntact);
    EXPECT_EQ(r.Output, Bytes(data.begin(), data.begin() + std::ptrdiff_t(room)));
  }
  // Truncated input: a prefix of the data, the rest of the output untouched.
  TTIFFLZWDecoder truncated;
  const DecodeResult cut = RunDecoder(truncated, Bytes(stream.begin(), stream.begin() + 300), data.size());
  EXPECT_GT(truncated.BytesDecoded(), 0u);
  EXPECT_LT(truncated.BytesDecoded(), data.size());
  EXPECT_TRUE(
      std::equal(cut.Output.begin(), cut.Output.begin() + std::ptrdiff_t(truncated.BytesDecoded()), data.begin()));
  EXPECT_EQ(cut.Output[truncated.BytesDecoded()], 0xEE);
  // A code beyond the table (Clear, then 300 in 9 bits, most significant bit first) names no string.
  TTIFFLZWDecoder corrupt;
  const DecodeResult bad = RunDecoder(corrupt, {0x80, 0x4B, 0x00, 0x00}, 16);
  EXPECT_EQ(corrupt.BytesDecoded(), 0u);
  EXPECT_TRUE(bad.GuardIntact);
}

// Strings are copied from the output already decoded in whole words merged with what lies past
// them: every length of string (one byte repeated makes each code the one being defined, a
// repeated 40-byte pattern strings longer than 16 bytes), decoded into rooms that end anywhere
// near the data's end, must give the data's head and leave every byte after it as it was.
TEST(TIFFLZW, CopiesStringsOfEveryLengthAndLeavesTheRestOfTheRoom) {
  std::mt19937 random(11);
  Bytes pattern(40), noise(3000);
  for (auto& b : pattern) b = uint8_t(random());
  for (auto& b : noise) b = uint8_t(random());
  Bytes repeated;
  for (int i = 0; i < 60; ++i) repeated.insert(repeated.end(), pattern.begin(), pattern.end());
  Bytes period2;
  for (int i = 0; i < 1500; ++i) period2.push_back(i % 2 ? 'B' : 'A');
  struct Case {
    const char* Name;
    Bytes Data;
  };
  const Case cases[] = {{"one byte repeated", Bytes(3000, 0x41)},
                        {"two-byte period", period2},
                        {"40-byte pattern repeated", repeated},
                        {"random bytes", noise}};
  for (const Case& c : cases)
    for (bool compat : {false, true}) {
      SCOPED_TRACE(std::string(c.Name) + (compat ? " compat" : ""));
      const Bytes stream = EncodeLZW(c.Data, compat);
      for (size_t room = c.Data.size() - 30; room <= c.Data.size() + 9; ++room) {
        SCOPED_TRACE(room);
        TTIFFLZWDecoder decoder;
        const DecodeResult r = RunDecoder(decoder, stream, room);
        const size_t n = std::min(room, c.Data.size());
        ASSERT_EQ(decoder.BytesDecoded(), n);
        EXPECT_TRUE(std::equal(r.Output.begin(), r.Output.begin() + std::ptrdiff_t(n), c.Data.begin()));
        EXPECT_EQ(std::count(r.Output.begin() + std::ptrdiff_t(n), r.Output.end(), 0xEE), std::ptrdiff_t(room - n));
        EXPECT_TRUE(r.GuardIntact);
      }
    }
}

}  // namespace
}  // namespace muralo::test
