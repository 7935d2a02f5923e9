#pragma once
// Building blocks shared by the row converters: the selection-mask loop, unaligned 16-bit sample
// access and MSB-first bit fields. Private to imaging/color.

#include <cstdint>
#include <cstring>

namespace muralo::color_detail {

// Calls fn(targetPixel, sourcePixel) for every target pixel whose bit is set in Mask. The selection
// bit starts at 0x80 and rotates right after every target pixel, so Mask repeats every eight pixels;
// a selected pixel takes the next source pixel, an unselected one takes none.
template <class Fn>
inline void ForEachSelected(uint32_t count, uint8_t mask, Fn&& fn) {
  if (mask == 0xFF) {
    for (uint32_t i = 0; i < count; ++i) fn(i, i);
    return;
  }
  if (mask == 0) return;
  // The selected places of a group of eight, found once; then whole groups, then the rest.
  uint32_t place[8];
  unsigned selected = 0;
  for (unsigned j = 0; j < 8; ++j)
    if (mask & (0x80u >> j)) place[selected++] = j;
  uint32_t source = 0;
  const uint32_t whole = count / 8 * 8;
  for (uint32_t base = 0; base < whole; base += 8)
    for (unsigned k = 0; k < selected; ++k) fn(base + place[k], source++);
  for (unsigned k = 0; k < selected && whole + place[k] < count; ++k) fn(whole + place[k], source++);
}

// Samples of 8 or 16 bits at any address (reader buffers need not be aligned).
template <typename T>
inline T Load(const uint8_t* base, size_t index) {
  T v;
  std::memcpy(&v, base + index * sizeof(T), sizeof(T));
  return v;
}
template <typename T>
inline void Store(uint8_t* base, size_t index, T value) {
  std::memcpy(base + index * sizeof(T), &value, sizeof(T));
}

inline uint16_t Swap16(uint16_t v) { return uint16_t((v << 8) | (v >> 8)); }

// The field of `bits` bits (1..16) that starts `bitPos` bits into a row, most significant bit
// first. Only the bytes that hold the field are read.
inline uint32_t ReadBits(const uint8_t* row, uint64_t bitPos, unsigned bits) {
  const uint8_t* p = row + bitPos / 8;
  const unsigned skip = unsigned(bitPos % 8);
  const unsigned bytes = (skip + bits + 7) / 8;  // 1..3
  uint32_t acc = 0;
  for (unsigned i = 0; i < bytes; ++i) acc = (acc << 8) | p[i];
  const unsigned drop = bytes * 8 - skip - bits;
  return (acc >> drop) & ((uint32_t(1) << bits) - 1);
}

// Stores value into that field, keeping every other bit of the bytes it touches.
inline void WriteBits(uint8_t* row, uint64_t bitPos, unsigned bits, uint32_t value) {
  uint8_t* p = row + bitPos / 8;
  const unsigned skip = unsigned(bitPos % 8);
  const unsigned bytes = (skip + bits + 7) / 8;
  const unsigned drop = bytes * 8 - skip - bits;
  const uint32_t fieldMask = ((uint32_t(1) << bits) - 1) << drop;
  uint32_t acc = 0;
  for (unsigned i = 0; i < bytes; ++i) acc = (acc << 8) | p[i];
  acc = (acc & ~fieldMask) | ((value << drop) & fieldMask);
  for (unsigned i = bytes; i-- > 0;) {
    p[i] = uint8_t(acc);
    acc >>= 8;
  }
}

}  // namespace muralo::color_detail
