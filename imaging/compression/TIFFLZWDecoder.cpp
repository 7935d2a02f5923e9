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

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "imaging/compression/GraphicCompression.h"

namespace muralo {

namespace {

constexpr uint32_t kClear = 256;
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
    if (End - At >= 8) {
      // Eight bytes at once; the whole bytes among them that fit are taken, and the bits of the
      // next byte that slip in are its own, so loading it again later changes nothing.
      uint64_t word;
      std::memcpy(&word, At, 8);
      if constexpr (std::endian::native == std::endian::little) {
        if constexpr (!LeastFirst) word = __builtin_bswap64(word);
      } else {
        if constexpr (LeastFirst) word = __builtin_bswap64(word);
      }
      if constexpr (LeastFirst)
        Buffer |= word << Count;
      else
        Buffer |= word >> Count;
      At += (63 - Count) >> 3;
      Count |= 56;
      return;
    }
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
  for (uint32_t i = 0; i < 256; ++i) Table[i] = TEntry{0, 1};
}

bool TTIFFLZWDecoder::IsCompatStream(const uint8_t* Source, size_t PackedSize) {
  return Source != nullptr && PackedSize >= 2 && Source[0] == 0 && (Source[1] & 1) != 0;
}

void TTIFFLZWDecoder::Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) {
  const size_t packed = PackedSize;
  // Table entries locate strings by 32-bit offsets; no TIFF block comes near that size.
  const size_t room = std::min<size_t>(UnpackedSize, 0xFFFFFFFFu);
  Decoded = 0;
  if (packed == 0 || room == 0) return;
  Decoded = IsCompatStream(Source, PackedSize) ? DecodeStream<true>(Source, packed, Dest, room)
                                               : DecodeStream<false>(Source, packed, Dest, room);
}

namespace {

// Masks of the first n bytes of a word loaded from memory (n from 0 to 8).
constexpr std::array<uint64_t, 9> MakeHeadMasks() {
  std::array<uint64_t, 9> masks{};
  for (unsigned n = 1; n <= 8; ++n) {
    const uint64_t ones = n == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * n)) - 1;
    masks[n] = std::endian::native == std::endian::little || n == 8 ? ones : ones << (64 - 8 * n);
  }
  return masks;
}
constexpr std::array<uint64_t, 9> kHeadMasks = MakeHeadMasks();
inline uint64_t HeadMask(size_t n) { return kHeadMasks[n]; }

// Copies a string of the output that lies wholly before `to` (from + length <= to) and has at
// least 8 bytes of room after its end. Short strings go through whole 8-byte words, the last one
// merged with what the target holds past the string, so nothing beyond it changes. Each word is
// loaded before it is stored, so a source that runs into the target still yields the string's
// own bytes first.
inline void CopyString(uint8_t* to, const uint8_t* from, size_t length) {
  if (length > 16) {
    std::memcpy(to, from, length);
    return;
  }
  uint64_t a, b, old;
  std::memcpy(&a, from, 8);
  if (length > 8) {
    std::memcpy(&b, from + 8, 8);
    std::memcpy(&old, to + 8, 8);
    const uint64_t mask = HeadMask(length - 8);
    b = (b & mask) | (old & ~mask);
    std::memcpy(to, &a, 8);
    std::memcpy(to + 8, &b, 8);
  } else {
    std::memcpy(&old, to, 8);
    const uint64_t mask = HeadMask(length);
    a = (a & mask) | (old & ~mask);
    std::memcpy(to, &a, 8);
  }
}

// Copies the head of a string that does not fit before the end of the room, byte by byte, forwards
// (a string being defined reads its first byte back as its last).
inline void CopyHead(uint8_t* to, const uint8_t* from, size_t length) {
  for (size_t k = 0; k < length; ++k) to[k] = from[k];
}

}  // namespace

// Every string of the table is a piece of the output already written: the string a new code
// defines is the previous code's string just emitted followed by the first byte of the current
// one, which is the byte emitted right after it. An entry therefore only records where that
// piece starts and how long it is, and decoding a code copies bytes of the output forwards
// instead of walking a chain of prefixes.
template <bool Compat>
size_t TTIFFLZWDecoder::DecodeStream(const uint8_t* Source, size_t PackedSize, uint8_t* Dest, size_t Room) {
  TCodeReader<Compat> reader(Source, PackedSize);
  size_t out = 0;
  uint32_t code = 0;
  for (;;) {
    // A table starts afresh: at the stream's start and after each Clear.
    unsigned width = kMinWidth;
    do {
      if (out >= Room || !reader.Next(width, code)) return out;
    } while (code == kClear);
    // The first code after Clear must be a single byte.
    if (code >= 256) return out;
    uint32_t next = kFirstFree;
    // Standard streams widen the codes one entry before the table needs it, old ones exactly
    // when it does.
    uint32_t limit = (uint32_t{1} << width) - (Compat ? 0 : 1);
    size_t previousAt = out;  // where the previous code's string was emitted, and its length
    uint32_t previousLength = 1;
    Dest[out++] = static_cast<uint8_t>(code);
    for (;;) {
      if (out >= Room || !reader.Next(width, code)) return out;
      const size_t left = Room - out;
      uint32_t length;
      if (code < 256) {
        Dest[out] = static_cast<uint8_t>(code);
        length = 1;
      } else if (code - kFirstFree < next - kFirstFree) {
        const TEntry entry = Table[code];
        length = entry.Length;
        if (length + 8 <= left)
          CopyString(Dest + out, Dest + entry.At, length);
        else
          CopyHead(Dest + out, Dest + entry.At, std::min<size_t>(length, left));
      } else if (code == kClear) {
        break;
      } else if (code == next && next < kTableSize) {
        // Section 13: the code being defined is the previous string plus its own first byte.
        length = previousLength + 1;
        const uint8_t* from = Dest + previousAt;
        if (length + 8 <= left) {
          CopyString(Dest + out, from, previousLength);
          Dest[out + previousLength] = *from;
        } else {
          CopyHead(Dest + out, from, std::min<size_t>(length, left));
        }
      } else {
        return out;  // End of information (257), or a code that names no string (corrupt data)
      }
      // Section 13: the new string is the previous one plus the first byte of this one.
      if (next < kTableSize) {
        Table[next] = TEntry{static_cast<uint32_t>(previousAt), previousLength + 1};
        if (++next >= limit && width < kMaxWidth) limit = (uint32_t{1} << ++width) - (Compat ? 0 : 1);
      }
      previousAt = out;
      previousLength = length;
      out += std::min<size_t>(length, left);
    }
  }
}

}  // namespace muralo
