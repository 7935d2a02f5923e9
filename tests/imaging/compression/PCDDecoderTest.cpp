// Photo-CD residual decoder: bit streams built here from the layout the decoder reads (Huffman
// tables, two padding words, a synchronisation run, row headers and codes), checked at named
// samples of guarded planes.
#include <gtest/gtest.h>

#include "classlib/Streams.h"
#include "imaging/compression/DecoderTestTools.h"

namespace muralo {
namespace {

// Writes bits most significant first.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      if (Count % 8 == 0) Bytes.push_back(0);
      if ((value >> i) & 1) Bytes.back() |= uint8_t(0x80 >> (Count % 8));
      ++Count;
    }
  }
  void Align() {
    while (Count % 8) Put(0, 1);
  }
  // A row header: the marker (23 ones and a zero), the plane type (2 bits), the row number
  // (13 bits) and one spare bit.
  void Row(uint32_t type, uint32_t row) {
    Align();
    Put(0xFFFFFE, 24);
    Put(type, 2);
    Put(row, 13);
    Put(0, 1);
  }
  // A padded sector: the decoder reads whole 2048-byte sectors.
  std::vector<uint8_t> Sector() const {
    std::vector<uint8_t> b = Bytes;
    b.resize((b.size() + 2047) / 2048 * 2048, 0);
    return b;
  }
  std::vector<uint8_t> Bytes;
  size_t Count = 0;
};

struct Code {
  uint32_t Bits;
  int Length;
  int8_t Delta;
};

// One table: entry count - 1, then per entry length - 1, the code left-aligned in 16 bits and
// the delta; then the two padding words the decoder steps over.
void Tables(BitWriter& w, const std::vector<std::vector<Code>>& tables) {
  for (const auto& table : tables) {
    w.Put(uint32_t(table.size() - 1), 8);
    for (const Code& c : table) {
      w.Put(uint32_t(c.Length - 1), 8);
      w.Put(c.Bits << (16 - c.Length), 16);
      w.Put(uint8_t(c.Delta), 8);
    }
  }
  w.Put(0, 32);
}

// 0 -> +5, 10 -> -3, 110 -> +127, 111 -> -128.
const std::vector<Code> kTable = {{0b0, 1, 5}, {0b10, 2, -3}, {0b110, 3, 127}, {0b111, 3, -128}};

struct Planes {
  static constexpr size_t kStride = 8, kRows = 4;
  // Each plane with guard bytes after it, so that a write past it shows.
  std::vector<uint8_t> Luma = Fresh(), Chroma1 = Fresh(), Chroma2 = Fresh();
  static std::vector<uint8_t> Fresh() {
    std::vector<uint8_t> p(kStride * kRows + test::GuardedRow::kGuard, 10);
    std::fill(p.begin() + kStride * kRows, p.end(), test::GuardedRow::kGuardByte);
    return p;
  }
  void Decode(const std::vector<uint8_t>& bytes, int32_t endRow, int32_t stride = kStride) {
    TMemoryStream stream(bytes);
    TPCDDecoder decoder(stream, kRows, kRows);
    uint8_t* addresses[3] = {Luma.data(), Chroma1.data(), Chroma2.data()};
    const uint8_t* source = reinterpret_cast<const uint8_t*>(addresses);
    uint8_t* dest = nullptr;
    decoder.Decode(source, dest, stride, endRow);
  }
  bool GuardsIntact() const {
    for (const auto* p : {&Luma, &Chroma1, &Chroma2})
      for (size_t i = kStride * kRows; i < p->size(); ++i)
        if ((*p)[i] != test::GuardedRow::kGuardByte) return false;
    return true;
  }
};

TEST(PCDDecoder, CorrectsTheRowsOfEachPlaneAndClamps) {
  BitWriter w;
  Tables(w, {kTable});
  // Each row's codes fill whole bytes, so that no padding is read as codes.
  w.Row(0, 1);  // luma row 1: +5, -3, +127 (on 200: clamped), -128 (clamped), +127, +5, -3, +5
  w.Put(0b0, 1), w.Put(0b10, 2), w.Put(0b110, 3), w.Put(0b111, 3), w.Put(0b110, 3), w.Put(0b0, 1);
  w.Put(0b10, 2), w.Put(0b0, 1);
  w.Row(2, 2);  // chroma 1 row 2 is plane row 1
  w.Put(0b10, 2), w.Put(0b10, 2), w.Put(0b10, 2), w.Put(0b10, 2);
  w.Row(3, 6);  // chroma 2 plane row 3
  w.Put(0b110, 3), w.Put(0b110, 3), w.Put(0b10, 2);
  w.Row(0, 3);  // the end row: nothing after it is read
  w.Put(0b0, 1);
  Planes p;
  p.Luma[10] = 200;
  p.Decode(w.Sector(), 3);
  EXPECT_EQ(std::vector<uint8_t>(p.Luma.begin() + 8, p.Luma.begin() + 16),
            (std::vector<uint8_t>{15, 7, 255, 0, 137, 15, 7, 15}));
  EXPECT_EQ(p.Luma[0], 10);
  EXPECT_EQ(p.Luma[24], 10);
  EXPECT_EQ(p.Chroma1[8], 7);
  EXPECT_EQ(p.Chroma1[11], 7);
  EXPECT_EQ(p.Chroma1[12], 10);
  EXPECT_EQ(std::vector<uint8_t>(p.Chroma2.begin() + 24, p.Chroma2.begin() + 28),
            (std::vector<uint8_t>{137, 137, 7, 10}));
  EXPECT_TRUE(p.GuardsIntact());
}

TEST(PCDDecoder, ThreeTablesForWideRowsOnePerPlane) {
  BitWriter w;
  Tables(w, {{{0b0, 1, 1}}, {{0b0, 1, 2}}, {{0b0, 1, 3}}});
  w.Row(0, 0), w.Put(0, 1);
  w.Row(2, 0), w.Put(0, 1);
  w.Row(3, 0), w.Put(0, 1);
  w.Row(0, 9);
  // A stride past 1536 bytes selects three tables; the planes here hold one short row each.
  std::vector<uint8_t> luma(2000, 10), c1(2000, 10), c2(2000, 10);
  TMemoryStream stream(w.Sector());
  TPCDDecoder decoder(stream, 1, 1);
  uint8_t* addresses[3] = {luma.data(), c1.data(), c2.data()};
  const uint8_t* source = reinterpret_cast<const uint8_t*>(addresses);
  uint8_t* dest = nullptr;
  decoder.Decode(source, dest, 2000, 9);
  EXPECT_EQ(luma[0], 11);
  EXPECT_EQ(c1[0], 12);
  EXPECT_EQ(c2[0], 13);
}

TEST(PCDDecoder, BadDataIsResynchronisedAndOutOfPlaneRowsDropped) {
  BitWriter w;
  Tables(w, {{{0b00, 2, 1}}});  // only "00" is a code
  w.Row(0, 0);
  w.Put(0b00, 2), w.Put(0b11, 2);  // +1, then no code matches: skip to the next header
  w.Put(0xFFFF, 16);
  w.Row(0, 2);
  for (int i = 0; i < 12; ++i) w.Put(0b00, 2);  // 12 corrections for a row of 8: the rest dropped
  w.Row(0, 7);                                  // past the plane's 4 rows: dropped
  w.Put(0b00, 2);
  w.Row(0, 100);
  Planes p;
  p.Decode(w.Sector(), 100);
  EXPECT_EQ(p.Luma[0], 11);
  EXPECT_EQ(p.Luma[1], 10);
  for (size_t x = 0; x < 8; ++x) EXPECT_EQ(p.Luma[16 + x], 11) << x;
  EXPECT_EQ(p.Luma[24], 10);
  EXPECT_TRUE(p.GuardsIntact());
}

TEST(PCDDecoder, PlaneTypeOneAbortsLongCodesStopAndShortStreamsFail) {
  {
    BitWriter w;
    Tables(w, {kTable});
    w.Row(1, 0);
    Planes p;
    EXPECT_THROW(p.Decode(w.Sector(), 9), EAbort);
  }
  {
    BitWriter w;
    w.Put(0, 8);   // one entry
    w.Put(16, 8);  // of 17 bits: decoding ends here
    Planes p;
    p.Decode(w.Sector(), 9);
    EXPECT_EQ(p.Luma, Planes::Fresh());
  }
  {
    BitWriter w;
    Tables(w, {kTable});
    w.Row(0, 0);
    w.Put(0, 1);  // no end row follows before the sector ends
    Planes p;
    EXPECT_THROW(p.Decode(w.Sector(), 9), EReadError);
  }
}

}  // namespace
}  // namespace muralo
