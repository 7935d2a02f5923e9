// The readers' stream window: exact amounts across its chunks, its end, and rows decoded through
// it with packets that cross rows and data that ends inside a row.
#include <gtest/gtest.h>

#include <vector>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "imaging/compression/RunLengthDecoders.h"
#include "imaging/formats/ReaderInput.h"

namespace muralo {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ReaderInput, GivesExactAmountsAcrossChunks) {
  Bytes data(600000);  // more than two chunks of 256 KiB
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 % 251);
  // Steps smaller than a chunk, and one larger than a chunk.
  for (const size_t step : {size_t{1}, size_t{5}, size_t{65535}, size_t{270000}}) {
    SCOPED_TRACE(step);
    TMemoryStream stream(data);
    TReaderInput input(stream);
    size_t at = 0;
    for (; at + step <= data.size(); at += step) {
      const uint8_t* p = input.Need(step);
      ASSERT_GE(input.Available(), step);
      ASSERT_TRUE(std::equal(p, p + step, data.begin() + static_cast<ptrdiff_t>(at)));
      input.Consume(step);
      ASSERT_EQ(input.Remaining(), data.size() - at - step);
    }
    EXPECT_THROW(input.Need(data.size() - at + 1), EReadError);
  }
}

TEST(ReaderInput, ReadsNothingPastItsSize) {
  const Bytes data = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  TMemoryStream stream(data);
  TReaderInput input(stream, 6);  // the last four bytes are a trailer read apart
  EXPECT_EQ(input.Need(6)[5], 6);
  EXPECT_THROW(input.Need(7), EReadError);
  EXPECT_EQ(stream.Position(), 6);
}

TEST(ReaderInput, DecodesRowsWhosePacketsCrossThem) {
  // 8-bit Targa packets, rows of 3 pixels: a run of 5, then a raw packet of 4.
  const Bytes data = {0x84, 7, 0x03, 1, 2, 3, 4};
  const Bytes rows = {7, 7, 7, 7, 7, 1, 2, 3, 4};
  TMemoryStream whole(data);
  TReaderInput input(whole);
  TTargaRLEDecoder decoder(8);
  Bytes out(9);
  for (size_t r = 0; r < 3; ++r) input.DecodeRow(decoder, out.data() + 3 * r, 3, 3);
  EXPECT_EQ(out, rows);
  EXPECT_EQ(input.Remaining(), 0u);

  TMemoryStream cut(Bytes(data.begin(), data.end() - 1));
  TReaderInput shorter(cut);
  TTargaRLEDecoder again(8);
  shorter.DecodeRow(again, out.data(), 3, 3);
  shorter.DecodeRow(again, out.data(), 3, 3);
  EXPECT_THROW(shorter.DecodeRow(again, out.data(), 3, 3), EReadError);
}

}  // namespace
}  // namespace muralo
