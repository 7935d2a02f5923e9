// LZW as TIFF stores it (TIFF 6.0 section 13, "LZW Compression").
//
// Codes grow from 9 to 12 bits. Code 256 (Clear) empties the string table, 257 ends the data,
// 258 onwards are the strings added while decoding: each new entry is the previous code's string
// followed by the first byte of the current one. TIFF 6.0 writers switch to the next width one
// code before the table needs it and pack codes most significant bit first; the writers of TIFF
// 5.0 days packed them least significant bit first and switched exactly at the power of two.
// Readers still meet both; a stream of the old kind starts with a zero byte whose successor has
// its lowest bit set (Clear read least significant bit first), which no standard stream does
// (its Clear code makes the first byte 0x80).

#include <cstring>

#include "imaging/compression/GraphicCompression.h"

namespace muralo {

namespace {

constexpr uint32_t kClear = 256;
constexpr uint32_t kEndOfInformation = 257;
constexpr uint32_t kFirstFree = 258;
constexpr uint32_t kTableSize = 4096;
constexpr unsigned kMinWidth = 9;
constexpr unsigned kMaxWidth = 12;

// Codes from a bounded byte area, in either bit order; a code is only delivered whole.
template <bool LeastFirst>
class TCodeReader {
 public:
  TCodeReader(const uint8_t* data, size_t size) : At(data), End(data + size) {}

  bool Next(unsigned width, uint32_t& code) {
    if (Count < width) {
      Refill();
      if (Count < width) return false;
    }
    if constexpr (LeastFirst) {
      code = static_cast<uint32_t>(Buffer & ((uint64_t{1} << width) - 1));
      Buffer >>= width;
    } else {
      code = static_cast<uint32_t>(Buffer >> (64 - width));
      Buffer <<= width;
    }
    Count -= width;
    return true;
  }

 private:
  void Refill() {
    while (Count <= 56 && At < End) {
      if constexpr (LeastFirst)
        Buffer |= uint64_t{*At++} << Count;
      else
        Buffer |= uint64_t{*At++} << (56 - Count);
      Count += 8;
    }
  }

  const uint8_t* At;
  const uint8_t* End;
  uint64_t Buffer = 0;
  unsigned Count = 0;
};

}  // namespace

TTIFFLZWDecoder::TTIFFLZWDecoder() {
  std::memset(Table, 0, sizeof Table);
  for (uint32_t i = 0; i < 256; ++i) Table[i] = TEntry{0, 1, static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
}

bool TTIFFLZWDecoder::IsCompatStream(const uint8_t* Source, size_t PackedSize) {
  return Source != nullptr && PackedSize >= 2 && Source[0] == 0 && (Source[1] & 1) != 0;
}

void TTIFFLZWDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  const size_t packed = PackedSize;
  const size_t room = UnpackedSize;
  Decoded = 0;
  if (packed == 0 || room == 0) return;
  Decoded = IsCompatStream(Source, PackedSize) ? DecodeStream<true>(Source, packed, Dest, room)
                                               : DecodeStream<false>(Source, packed, Dest, room);
}

template <bool Compat>
size_t TTIFFLZWDecoder::DecodeStream(const uint8_t* Source, size_t PackedSize, uint8_t* Dest, size_t Room) {
  TCodeReader<Compat> reader(Source, PackedSize);
  unsigned width = kMinWidth;
  uint32_t next = kFirstFree;
  uint32_t previous = kTableSize;  // none: the next code starts the table afresh
  size_t out = 0;
  uint32_t code = 0;
  while (out < Room && reader.Next(width, code)) {
    if (code == kEndOfInformation) break;
    if (code == kClear) {
      width = kMinWidth;
      next = kFirstFree;
      previous = kTableSize;
      continue;
    }
    if (previous == kTableSize) {
      // The first code after Clear must be a single byte.
      if (code >= 256) break;
      Dest[out++] = static_cast<uint8_t>(code);
      previous = code;
      continue;
    }
    if (code > next || (code == next && next >= kTableSize)) break;  // names no string: corrupt
    if (next < kTableSize) {
      // Section 13: the new string is the previous one plus the first byte of this one (of the
      // previous one itself when this code is the one being defined).
      const TEntry& before = Table[previous];
      const uint8_t first = code == next ? before.First : Table[code].First;
      Table[next] =
          TEntry{static_cast<uint16_t>(previous), static_cast<uint16_t>(before.Length + 1), first, before.First};
      ++next;
      // Standard streams widen the codes one entry before the table needs it, old ones exactly
      // when it does.
      const uint32_t limit = (uint32_t{1} << width) - (Compat ? 0 : 1);
      if (next >= limit && width < kMaxWidth) ++width;
    }
    const TEntry& entry = Table[code];
    size_t length = entry.Length;
    uint32_t c = code;
    const size_t left = Room - out;
    if (length > left) {
      // Only the string's head fits: drop its tail bytes from the walk.
      for (size_t skip = length - left; skip > 0; --skip) c = Table[c].Prefix;
      length = left;
    }
    uint8_t* p = Dest + out + length;
    for (size_t k = length; k > 0; --k) {
      *--p = Table[c].Suffix;
      c = Table[c].Prefix;
    }
    out += length;
    previous = code;
  }
  return out;
}

}  // namespace muralo
