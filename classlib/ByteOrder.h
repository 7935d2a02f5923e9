#pragma once
// Little- and big-endian values in byte buffers that a reader already holds (headers read whole
// through TStream::ReadBuffer). The pointer must address enough bytes; nothing here checks.

#include <cstdint>

namespace muralo {

constexpr uint16_t GetLE16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
constexpr uint32_t GetLE32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
constexpr uint16_t GetBE16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }
constexpr uint32_t GetBE32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}
constexpr void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace muralo
