// The deflate decoder: streams continued across calls (input split at every position, output
// handed out row by row), automatic reset per strip, the buffer-error rule, the write-back of both
// pointers, recovery at a full-flush point, and the image data of PNG files written by ImageMagick
// fed chunk by chunk.

#include <zlib.h>

#include <cstdlib>
#include <random>

#include "DecoderTestTools.h"
#include "imaging/Graphicstrings.h"

namespace muralo::test {
namespace {

Bytes PngLikeRows(size_t rows, size_t rowBytes, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes data;
  for (size_t y = 0; y < rows; ++y) {
    data.push_back(static_cast<uint8_t>(y % 5));  // a filter-type byte
    for (size_t x = 0; x < rowBytes; ++x)
      data.push_back(static_cast<uint8_t>((x * 3 + y) / 7 + (random() % 4 == 0 ? random() % 256 : 0)));
  }
  return data;
}

// zlib's deflate, optionally with a full-flush point after the first `flushAt` bytes.
Bytes Deflate(const Bytes& data, int level = 6, size_t flushAt = 0) {
  z_stream z{};
  EXPECT_EQ(deflateInit(&z, level), Z_OK);
  Bytes out(deflateBound(&z, data.size()) + 64);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  z.next_in = const_cast<Bytef*>(data.data());
  if (flushAt > 0) {
    z.avail_in = static_cast<uInt>(flushAt);
    EXPECT_EQ(deflate(&z, Z_FULL_FLUSH), Z_OK);
  }
  z.avail_in = static_cast<uInt>(data.size() - flushAt);
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST(LZ77Decoder, WholeStreamInOneCall) {
  const Bytes data = PngLikeRows(40, 300, 1);
  const Bytes packed = Deflate(data);
  for (int flush : {Z_PARTIAL_FLUSH, Z_FINISH, Z_NO_FLUSH}) {
    SCOPED_TRACE(flush);
    TLZ77Decoder decoder(flush, false);
    decoder.DecodeInit();
    Bytes out(data.size());
    const uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<size_t>(packed.size()), static_cast<size_t>(out.size()));
    EXPECT_EQ(decoder.ZLibResult, Z_STREAM_END);
    EXPECT_EQ(out, data);
    EXPECT_EQ(source, packed.data() + packed.size());
    EXPECT_EQ(dest, out.data() + out.size());
    EXPECT_EQ(decoder.GetAvailableInput(), 0u);
    EXPECT_EQ(decoder.GetAvailableOutput(), 0u);
    decoder.DecodeEnd();
  }
}

// PNG rows straddling IDAT chunks: the input is cut at every position; the first call uses up its
// part (the buffer-error rule turns "no progress" into 0) and the second continues the stream.
TEST(LZ77Decoder, InputSplitAtEveryPosition) {
  const Bytes data = PngLikeRows(6, 90, 2);
  const Bytes packed = Deflate(data);
  for (size_t cut = 0; cut <= packed.size(); ++cut) {
    SCOPED_TRACE(cut);
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    const Bytes first(packed.begin(), packed.begin() + static_cast<std::ptrdiff_t>(cut));
    const Bytes second(packed.begin() + static_cast<std::ptrdiff_t>(cut), packed.end());
    GuardedRow out(data.size(), GuardedRow::kGuardByte);
    uint8_t* dest = out.data();
    const uint8_t* source = first.data();
    decoder.Decode(source, dest, static_cast<size_t>(first.size()), static_cast<size_t>(data.size()));
    if (cut < packed.size()) {
      ASSERT_EQ(decoder.ZLibResult, Z_OK);
      ASSERT_EQ(source, first.data() + first.size());
      ASSERT_EQ(decoder.GetAvailableInput(), 0u);
    }
    const auto produced = static_cast<size_t>(dest - out.data());
    source = second.data();
    decoder.Decode(source, dest, static_cast<size_t>(second.size()), static_cast<size_t>(data.size()) - produced);
    ASSERT_EQ(decoder.ZLibResult, Z_STREAM_END);
    ASSERT_EQ(dest, out.data() + data.size());
    ASSERT_EQ(out.Row(), data);
    ASSERT_TRUE(out.Intact());
    decoder.DecodeEnd();
  }
}

// The PNG reader asks for one row at a time; Source comes back at the first unconsumed byte.
TEST(LZ77Decoder, OutputHandedOutRowByRow) {
  const size_t rowBytes = 301, rows = 30;
  const Bytes data = PngLikeRows(rows, rowBytes - 1, 3);
  const Bytes packed = Deflate(data, 9);
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.DecodeInit();
  const uint8_t* source = packed.data();
  const uint8_t* const end = packed.data() + packed.size();
  Bytes out(data.size());
  for (size_t y = 0; y < rows; ++y) {
    SCOPED_TRACE(y);
    uint8_t* dest = out.data() + y * rowBytes;
    decoder.Decode(source, dest, static_cast<size_t>(end - source), static_cast<size_t>(rowBytes));
    ASSERT_EQ(dest, out.data() + (y + 1) * rowBytes);
    ASSERT_EQ(decoder.GetAvailableOutput(), 0u);
    ASSERT_EQ(static_cast<size_t>(end - source), decoder.GetAvailableInput());
    ASSERT_EQ(decoder.ZLibResult, y + 1 == rows ? Z_STREAM_END : Z_OK);
  }
  EXPECT_EQ(out, data);
  decoder.DecodeEnd();
}

// TIFF strips are separate streams: with AutoReset each Decode starts a new one.
TEST(LZ77Decoder, AutoResetStartsEachStripAfresh) {
  const Bytes a = PngLikeRows(5, 100, 4), b = PngLikeRows(7, 60, 5);
  const Bytes pa = Deflate(a), pb = Deflate(b, 1);
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, true);
  decoder.DecodeInit();
  for (int round = 0; round < 2; ++round) {
    for (const auto* pair : {&a, &b}) {
      const Bytes& plain = *pair;
      const Bytes& packed = pair == &a ? pa : pb;
      Bytes out(plain.size());
      const uint8_t* source = packed.data();
      uint8_t* dest = out.data();
      decoder.Decode(source, dest, static_cast<size_t>(packed.size()), static_cast<size_t>(out.size()));
      EXPECT_EQ(decoder.ZLibResult, Z_STREAM_END);
      EXPECT_EQ(out, plain);
    }
  }
  decoder.DecodeEnd();
  // Without the reset, a second stream after the end of the first cannot be decoded.
  TLZ77Decoder noReset(Z_PARTIAL_FLUSH, false);
  noReset.DecodeInit();
  Bytes out(a.size()), again(a.size());
  for (Bytes* buffer : {&out, &again}) {
    const uint8_t* source = pa.data();
    uint8_t* dest = buffer->data();
    noReset.Decode(source, dest, static_cast<size_t>(pa.size()), static_cast<size_t>(buffer->size()));
    if (buffer == &again) {  // the pointers handed in come back: nothing read, nothing written
      EXPECT_EQ(source, pa.data());
      EXPECT_EQ(dest, again.data());
    }
  }
  EXPECT_EQ(noReset.ZLibResult, Z_STREAM_END);  // nothing more happens once the stream has ended
  EXPECT_EQ(noReset.GetAvailableInput(), pa.size());
  noReset.DecodeEnd();
}

// Data after the end of the stream stays unconsumed; the PNG reader reports it.
TEST(LZ77Decoder, DataAfterTheStreamEndIsLeft) {
  const Bytes data = PngLikeRows(3, 50, 6);
  Bytes packed = Deflate(data);
  packed.insert(packed.end(), {1, 2, 3, 4, 5});
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.DecodeInit();
  Bytes out(data.size() + 10);
  const uint8_t* source = packed.data();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, static_cast<size_t>(packed.size()), static_cast<size_t>(out.size()));
  EXPECT_EQ(decoder.ZLibResult, Z_STREAM_END);
  EXPECT_EQ(decoder.GetAvailableInput(), 5u);
  EXPECT_EQ(decoder.GetAvailableOutput(), 10u);
  EXPECT_EQ(source, packed.data() + packed.size() - 5);
  EXPECT_EQ(dest, out.data() + data.size());
  decoder.DecodeEnd();
}

// A data error: inflateSync looks for the next full-flush point and decoding goes on from there;
// without one Decode returns at once, leaving both pointers where they were.
TEST(LZ77Decoder, DataErrorsAndFullFlushRecovery) {
  const Bytes data = PngLikeRows(10, 100, 7);
  const size_t flushAt = 400;
  Bytes packed = Deflate(data, 6, flushAt);
  packed[2] = 0x07;  // BFINAL 1, BTYPE 11: an invalid block type (RFC 1951 3.2.3)
  {
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    Bytes out(data.size(), 0);
    const uint8_t* source = packed.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<size_t>(packed.size()), static_cast<size_t>(out.size()));
    // The part after the flush point is recovered at the start of the output.
    const Bytes tail(data.begin() + static_cast<std::ptrdiff_t>(flushAt), data.end());
    EXPECT_EQ(Bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(tail.size())), tail);
    decoder.DecodeEnd();
  }
  {
    Bytes noFlush = Deflate(data);
    noFlush[2] = 0x07;
    TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
    decoder.DecodeInit();
    Bytes out(data.size(), 0);
    const uint8_t* source = noFlush.data();
    uint8_t* dest = out.data();
    decoder.Decode(source, dest, static_cast<size_t>(noFlush.size()), static_cast<size_t>(out.size()));
    EXPECT_EQ(decoder.ZLibResult, Z_DATA_ERROR);
    EXPECT_EQ(source, noFlush.data());
    EXPECT_EQ(dest, out.data());
    decoder.DecodeEnd();
  }
}

TEST(LZ77Decoder, StartAndEnd) {
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  const Bytes packed = Deflate({1, 2, 3});
  Bytes out(3);
  const uint8_t* source = packed.data();
  uint8_t* dest = out.data();
  // Decoding before DecodeInit is refused rather than run on an unset stream.
  EXPECT_THROW(decoder.Decode(source, dest, static_cast<size_t>(packed.size()), 3), EGraphicCompression);
  decoder.DecodeInit();
  decoder.Decode(source, dest, static_cast<size_t>(packed.size()), 3);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  decoder.DecodeEnd();
  EXPECT_NO_THROW(decoder.DecodeEnd());  // a second end does nothing
  // A decoder started again begins a new stream.
  decoder.DecodeInit();
  source = packed.data();
  dest = out.data();
  out.assign(3, 0);
  decoder.Decode(source, dest, static_cast<size_t>(packed.size()), 3);
  EXPECT_EQ(out, (Bytes{1, 2, 3}));
  // The destructor ends a stream that was not ended (checked by the leak sanitizer).
}

// PNG 9.2: undoes the filter of one row (filter byte first) given the previous unfiltered row.
void Unfilter(Bytes& row, const Bytes& previous, size_t bpp) {
  const uint8_t type = row[0];
  ASSERT_LE(type, 4) << "filter type";
  for (size_t i = 1; i < row.size(); ++i) {
    const int a = i > bpp ? row[i - bpp] : 0, b = previous[i], c = i > bpp ? previous[i - bpp] : 0;
    int predictor = 0;
    switch (type) {
      case 1:
        predictor = a;
        break;
      case 2:
        predictor = b;
        break;
      case 3:
        predictor = (a + b) / 2;
        break;
      case 4: {
        const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
        predictor = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        break;
      }
      default:
        break;
    }
    row[i] = static_cast<uint8_t>(row[i] + predictor);
  }
}

// The image data of a PNG file written by ImageMagick, fed in small chunks, one row at a time,
// unfiltered and compared with ImageMagick's own decoding.
TEST(LZ77Decoder, PngImageDataOfImageMagick) {
  TempDir dir;
  RunOracle(kMagick,
            "-seed 3 -size 173x61 plasma:fractal -depth 8 "
            "-quality 90 png24:" +
                Quote(dir / "p.png"));
  const Bytes file = FileBytes(dir / "p.png");
  const Bytes rgb = MagickDecode(dir / "p.png").Pixels;
  Bytes stream;
  std::vector<Bytes> chunks;
  uint32_t width = 0, height = 0;
  for (size_t p = 8; p + 12 <= file.size();) {
    const uint32_t length = uint32_t(file[p]) << 24 | file[p + 1] << 16 | file[p + 2] << 8 | file[p + 3];
    const std::string type(file.begin() + static_cast<std::ptrdiff_t>(p + 4),
                           file.begin() + static_cast<std::ptrdiff_t>(p + 8));
    const auto data = file.begin() + static_cast<std::ptrdiff_t>(p + 8);
    if (type == "IHDR") {
      width = uint32_t(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3];
      height = uint32_t(data[4]) << 24 | data[5] << 16 | data[6] << 8 | data[7];
      ASSERT_EQ(data[8], 8);   // bit depth
      ASSERT_EQ(data[9], 2);   // colour type RGB
      ASSERT_EQ(data[12], 0);  // not interlaced
    }
    if (type == "IDAT") stream.insert(stream.end(), data, data + length);
    p += 12 + length;
  }
  ASSERT_EQ(rgb.size(), size_t(width) * height * 3);
  // ImageMagick writes the stream in one IDAT chunk; cut it as a writer of 97-byte chunks would.
  for (size_t p = 0; p < stream.size(); p += 97)
    chunks.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(p),
                        stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), p + 97)));
  ASSERT_GT(chunks.size(), 3u);
  TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
  decoder.DecodeInit();
  const size_t rowBytes = 1 + size_t(width) * 3;
  Bytes row(rowBytes), previous(rowBytes, 0);
  size_t chunk = 0;
  const uint8_t* source = chunks[0].data();
  for (uint32_t y = 0; y < height; ++y) {
    SCOPED_TRACE(y);
    uint8_t* dest = row.data();
    while (dest < row.data() + rowBytes) {
      if (decoder.GetAvailableInput() == 0 && source == chunks[chunk].data() + chunks[chunk].size()) {
        ASSERT_LT(++chunk, chunks.size());
        source = chunks[chunk].data();
      }
      const auto left = static_cast<size_t>(chunks[chunk].data() + chunks[chunk].size() - source);
      decoder.Decode(source, dest, left, static_cast<size_t>(row.data() + rowBytes - dest));
      ASSERT_GE(decoder.ZLibResult, 0);
    }
    Unfilter(row, previous, 3);
    ASSERT_TRUE(std::equal(row.begin() + 1, row.end(), rgb.begin() + static_cast<std::ptrdiff_t>(y * (rowBytes - 1))));
    previous = row;
  }
  EXPECT_EQ(decoder.ZLibResult, Z_STREAM_END);
  decoder.DecodeEnd();
}

}  // namespace
}  // namespace muralo::test
