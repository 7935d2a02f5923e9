// Finding RT_VERSION in a PE file: DOS stub → PE signature → COFF header → optional header's data
// directory 2 (resource table) → the section holding it → the three-level resource directory
// (type, name, language) → IMAGE_RESOURCE_DATA_ENTRY → the data, addressed by RVA.

#include "platform/PEResources.h"

#include <algorithm>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo {

namespace {

constexpr uint32_t kResourceType = 16;           // RT_VERSION
constexpr uint32_t kMaxResourceBytes = 1 << 20;  // a version block is at most 64 KiB; generous cap

struct TSection {
  uint32_t VirtualAddress, VirtualSize, RawSize, RawOffset;
};

template <size_t N>
void ReadAt(TStream& s, int64_t offset, uint8_t (&buffer)[N]) {
  s.SetPosition(offset);
  s.ReadBuffer(buffer, N);
}

class TPEFile {
 public:
  explicit TPEFile(TStream& stream) : S(stream) {}

  // false when the stream does not start like a PE file.
  bool ReadHeaders() {
    if (S.Size() < 0x40) return false;
    uint8_t dos[0x40];
    ReadAt(S, 0, dos);
    if (dos[0] != 'M' || dos[1] != 'Z') return false;
    const uint32_t peOffset = GetLE32(dos + 0x3C);
    uint8_t coff[24];
    if (int64_t(peOffset) + 24 > S.Size()) return false;
    ReadAt(S, peOffset, coff);
    if (coff[0] != 'P' || coff[1] != 'E' || coff[2] != 0 || coff[3] != 0) return false;
    const uint16_t sectionCount = GetLE16(coff + 6);
    const uint16_t optionalSize = GetLE16(coff + 20);
    const int64_t optionalStart = int64_t(peOffset) + 24;
    // Optional header: magic 0x10B (PE32, directories at 96) or 0x20B (PE32+, at 112).
    uint8_t magic[2];
    if (optionalSize < 2) return false;
    ReadAt(S, optionalStart, magic);
    const uint16_t kind = GetLE16(magic);
    const uint32_t directories = kind == 0x10B ? 96 : kind == 0x20B ? 112 : 0;
    if (directories == 0 || optionalSize < directories) return false;
    uint8_t count[4];
    ReadAt(S, optionalStart + directories - 4, count);
    const uint32_t directoryCount = GetLE32(count);
    if (directoryCount <= 2 || directories + 3 * 8 > optionalSize) return false;
    uint8_t resource[8];
    ReadAt(S, optionalStart + directories + 2 * 8, resource);
    ResourceRVA = GetLE32(resource);
    ResourceSize = GetLE32(resource + 4);
    for (uint16_t i = 0; i < sectionCount; ++i) {
      uint8_t h[40];
      ReadAt(S, optionalStart + optionalSize + int64_t(i) * 40, h);
      Sections.push_back({GetLE32(h + 12), GetLE32(h + 8), GetLE32(h + 16), GetLE32(h + 20)});
    }
    return ResourceRVA != 0 && ResourceSize != 0;
  }

  // The file offset of size bytes at rva, all inside one section's raw data; -1 when outside.
  int64_t FileOffset(uint32_t rva, uint32_t size) const {
    for (const TSection& s : Sections) {
      const uint64_t extent = std::max(s.VirtualSize, s.RawSize);
      if (rva < s.VirtualAddress || uint64_t(rva) - s.VirtualAddress >= extent) continue;
      const uint64_t within = uint64_t(rva) - s.VirtualAddress;
      if (within + size > s.RawSize) return -1;
      return int64_t(s.RawOffset) + int64_t(within);
    }
    return -1;
  }

  // An entry of the directory at offset (relative to the resource table): the first whose id is
  // wanted (any id or name when wanted is 0). Answers its OffsetToData, or 0 when absent.
  uint32_t FindEntry(uint32_t directory, uint32_t wanted) {
    uint8_t header[16];
    ReadTable(directory, header);
    const uint32_t named = GetLE16(header + 12), ids = GetLE16(header + 14);
    for (uint32_t i = 0; i < named + ids; ++i) {
      uint8_t entry[8];
      ReadTable(directory + 16 + i * 8, entry);
      const uint32_t name = GetLE32(entry);
      if (wanted == 0 || ((name & 0x80000000u) == 0 && name == wanted)) return GetLE32(entry + 4);
    }
    return 0;
  }

  std::vector<uint8_t> VersionResource() {
    uint32_t next = FindEntry(0, kResourceType);
    // Type → name → language: two subdirectories, then a data entry.
    for (int level = 0; level < 2; ++level) {
      if ((next & 0x80000000u) == 0) return {};
      next = FindEntry(next & 0x7FFFFFFFu, 0);
    }
    if (next == 0 || (next & 0x80000000u) != 0) return {};
    uint8_t data[16];
    ReadTable(next, data);
    const uint32_t rva = GetLE32(data), size = GetLE32(data + 4);
    if (size == 0 || size > kMaxResourceBytes) return {};
    const int64_t offset = FileOffset(rva, size);
    if (offset < 0 || offset + int64_t(size) > S.Size()) return {};
    std::vector<uint8_t> bytes(size);
    S.SetPosition(offset);
    S.ReadBuffer(bytes.data(), size);
    return bytes;
  }

 private:
  template <size_t N>
  void ReadTable(uint32_t offset, uint8_t (&buffer)[N]) {
    if (uint64_t(offset) + N > ResourceSize) throw Exception("Répertoire de ressources invalide");
    const int64_t at = FileOffset(ResourceRVA + offset, N);
    if (at < 0) throw Exception("Répertoire de ressources invalide");
    ReadAt(S, at, buffer);
  }

  TStream& S;
  uint32_t ResourceRVA = 0, ResourceSize = 0;
  std::vector<TSection> Sections;
};

}  // namespace

std::vector<uint8_t> ReadPEVersionResource(TStream& stream) {
  TPEFile file(stream);
  if (!file.ReadHeaders()) return {};
  return file.VersionResource();
}

}  // namespace muralo
