#pragma once
// A minimal Windows PE file written byte by byte (Microsoft PE/COFF format): DOS header,
// "PE\0\0", COFF header, a PE32 or PE32+ optional header with 16 data directories, one ".rsrc"
// section whose resource directory holds one RT_VERSION resource (type 16 → id 1 → language 0x040C
// → data entry → the block).

#include <cstdint>
#include <cstring>
#include <vector>

namespace muralo::test {

struct TPEOffsets {
  size_t Optional = 0, Sections = 0, Resources = 0, DataEntry = 0, Block = 0;
};

inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
inline void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

inline std::vector<uint8_t> BuildPEFile(const std::vector<uint8_t>& block, bool pe32plus = false,
                                        TPEOffsets* offsets = nullptr) {
  constexpr uint32_t kSectionRVA = 0x1000, kRawOffset = 0x200;
  const uint16_t optionalSize = pe32plus ? 240 : 224;
  const size_t optional = 0x40 + 24;
  const size_t sections = optional + optionalSize;
  // Resource section: three directories of one entry each (16 + 8 bytes), a data entry, the block.
  const uint32_t dataEntry = 3 * 24, blockAt = dataEntry + 16;
  const uint32_t rsrcSize = blockAt + uint32_t(block.size());
  std::vector<uint8_t> f(kRawOffset + rsrcSize, 0);
  f[0] = 'M', f[1] = 'Z';
  Put32(f, 0x3C, 0x40);
  f[0x40] = 'P', f[0x41] = 'E';
  Put16(f, 0x44, pe32plus ? 0x8664 : 0x014C);  // Machine
  Put16(f, 0x46, 1);                           // NumberOfSections
  Put16(f, 0x54, optionalSize);                // SizeOfOptionalHeader
  Put16(f, 0x56, 0x0102);                      // Characteristics: executable, 32-bit
  Put16(f, optional, pe32plus ? 0x20B : 0x10B);
  const size_t directories = optional + (pe32plus ? 112 : 96);
  Put32(f, directories - 4, 16);               // NumberOfRvaAndSizes
  Put32(f, directories + 2 * 8, kSectionRVA);  // resource table
  Put32(f, directories + 2 * 8 + 4, rsrcSize);
  std::memcpy(&f[sections], ".rsrc\0\0\0", 8);
  Put32(f, sections + 8, rsrcSize);      // VirtualSize
  Put32(f, sections + 12, kSectionRVA);  // VirtualAddress
  Put32(f, sections + 16, rsrcSize);     // SizeOfRawData
  Put32(f, sections + 20, kRawOffset);   // PointerToRawData
  const size_t r = kRawOffset;
  const uint32_t ids[3] = {16, 1, 0x040C};
  for (uint32_t level = 0; level < 3; ++level) {
    const size_t dir = r + level * 24;
    Put16(f, dir + 14, 1);  // NumberOfIdEntries
    Put32(f, dir + 16, ids[level]);
    Put32(f, dir + 20, level < 2 ? (0x80000000u | ((level + 1) * 24)) : dataEntry);
  }
  Put32(f, r + dataEntry, kSectionRVA + blockAt);
  Put32(f, r + dataEntry + 4, uint32_t(block.size()));
  std::memcpy(&f[r + blockAt], block.data(), block.size());
  if (offsets) *offsets = {optional, sections, r, r + dataEntry, r + blockAt};
  return f;
}

}  // namespace muralo::test
