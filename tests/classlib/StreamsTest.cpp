// The checked stream reads every reader relies on: exact reads raise EReadError at the end, and
// seeks from header fields can neither go before the start nor wrap around.
#include <gtest/gtest.h>

#include <cstdint>

#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo {
namespace {

TEST(Streams, ExactReadsRaiseAtTheEnd) {
  const uint8_t bytes[5] = {1, 2, 3, 4, 5};
  TReadOnlyMemoryStream s(bytes, sizeof bytes);
  EXPECT_EQ(ReadLE32(s), 0x04030201u);
  EXPECT_THROW(ReadLE16(s), EReadError);
  s.SetPosition(3);
  EXPECT_EQ(ReadBE16(s), 0x0405);
  EXPECT_THROW(ReadU8(s), EReadError);
  s.SetPosition(1);
  EXPECT_THROW(ReadBytes(s, 5), EReadError);
  EXPECT_EQ(ReadBytes(s, 4).size(), 4u);
  EXPECT_EQ(s.Remaining(), 0);
}

TEST(Streams, SeeksAreChecked) {
  const uint8_t bytes[4] = {};
  TReadOnlyMemoryStream ro(bytes, sizeof bytes);
  TMemoryStream mem(bytes, sizeof bytes);
  for (TStream* s : {static_cast<TStream*>(&ro), static_cast<TStream*>(&mem)}) {
    EXPECT_THROW(s->Seek(-1, TSeekOrigin::soBeginning), EReadError);
    EXPECT_THROW(s->Seek(-5, TSeekOrigin::soEnd), EReadError);
    EXPECT_EQ(s->Seek(-4, TSeekOrigin::soEnd), 0);
    s->SetPosition(2);
    EXPECT_THROW(s->Seek(INT64_MAX, TSeekOrigin::soCurrent), EReadError);
    EXPECT_THROW(s->Seek(INT64_MIN, TSeekOrigin::soCurrent), EReadError);
    EXPECT_EQ(s->Position(), 2);
    EXPECT_EQ(s->Seek(INT64_MAX - 2, TSeekOrigin::soCurrent), INT64_MAX);
    EXPECT_EQ(s->Remaining(), 0);
    uint8_t b;
    EXPECT_THROW(s->ReadBuffer(&b, 1), EReadError);
  }
}

}  // namespace
}  // namespace muralo
