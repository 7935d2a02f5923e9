// The version API: a block written byte by byte, blocks from the writer inside byte-built PE files
// (32- and 64-bit), and malformed blocks and PE files, which must give "no resource", never a crash.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "kit/TestKit.h"
#include "platform/PEResources.h"
#include "platform/VersionInfo.h"
#include "tests/platform/PEFileBuilder.h"

namespace muralo {
namespace {

// A temporary folder that the tests write their files into.
struct TempFiles {
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = Dir / name;
    test::WriteBytes(path, bytes);
    return path;
  }
  test::TempDir Dir;
};

// Reads the file's resource the way a caller of the Windows API does.
std::vector<uint8_t> Read(const std::string& file) {
  const uint32_t size = GetFileVersionInfoSize(file);
  if (size == 0) return {};
  std::vector<uint8_t> buffer(size);
  EXPECT_TRUE(GetFileVersionInfo(file, size, buffer.data()));
  return buffer;
}

std::string Text(std::vector<uint8_t>& buffer, const std::string& path) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (!VerQueryValue(buffer.data(), uint32_t(buffer.size()), path, &value, &length)) return "<absent>";
  EXPECT_EQ(static_cast<const char*>(value)[length - 1], '\0');
  return std::string(static_cast<const char*>(value), length - 1);
}

// Any value at the path; damaged blocks may hold binary where text belongs.
void Query(std::vector<uint8_t>& buffer, const std::string& path) {
  const void* value = nullptr;
  uint32_t length = 0;
  if (VerQueryValue(buffer.data(), uint32_t(buffer.size()), path, &value, &length)) {
    const auto* bytes = static_cast<const uint8_t*>(value);
    ASSERT_TRUE(bytes >= buffer.data() && bytes + length <= buffer.data() + buffer.size());
  }
}

TVersionData Sample() {
  TVersionData d;
  const uint16_t v[4] = {1, 2, 3, 4}, p[4] = {5, 6, 7, 8};
  std::copy(v, v + 4, d.FileVersion);
  std::copy(p, p + 4, d.ProductVersion);
  d.Strings = {
      {"ProductName", "Muralo"}, {"FileVersion", "1.2.3.4"}, {"LegalCopyright", "2026 Brenwick é"}, {"Comments", ""}};
  return d;
}

// A block with no fixed information, one string table "040c04e4" holding A = "é", written out.
// clang-format off
constexpr uint8_t kHandBlock[] = {
    116, 0, 0, 0, 0, 0,  // VS_VERSION_INFO: wLength 116, no value, binary
    'V', 0, 'S', 0, '_', 0, 'V', 0, 'E', 0, 'R', 0, 'S', 0, 'I', 0, 'O', 0, 'N', 0, '_', 0, 'I', 0, 'N', 0, 'F', 0,
    'O', 0, 0, 0, 0, 0,  // key, NUL, padding to 40
    76, 0, 0, 0, 1, 0,   // StringFileInfo: 76 bytes, text
    'S', 0, 't', 0, 'r', 0, 'i', 0, 'n', 0, 'g', 0, 'F', 0, 'i', 0, 'l', 0, 'e', 0, 'I', 0, 'n', 0, 'f', 0, 'o', 0,
    0, 0,                // key and NUL: 36, aligned
    40, 0, 0, 0, 1, 0,   // the table: 40 bytes
    '0', 0, '4', 0, '0', 0, 'c', 0, '0', 0, '4', 0, 'e', 0, '4', 0, 0, 0,
    16, 0, 2, 0, 1, 0,   // String A: 16 bytes, 2 UTF-16 units of text
    'A', 0, 0, 0, 0, 0,  // key, NUL, padding to 12
    0xE9, 0, 0, 0,       // "é" and its NUL
};
// clang-format on
static_assert(sizeof kHandBlock == 116);

TEST(VersionInfoTest, WalksAHandWrittenBlock) {
  TempFiles dir;
  const std::string pe = dir.Write("hand.exe", test::BuildPEFile({std::begin(kHandBlock), std::end(kHandBlock)}));
  std::vector<uint8_t> buffer = Read(pe);
  ASSERT_FALSE(buffer.empty());
  EXPECT_EQ(Text(buffer, "\\StringFileInfo\\040c04e4\\A"), "é");
  EXPECT_EQ(Text(buffer, "\\stringfileinfo\\040C04E4\\a"), "é");  // keys ignore ASCII case
  EXPECT_EQ(Text(buffer, "\\StringFileInfo\\040c04e4\\B"), "<absent>");
  EXPECT_EQ(Text(buffer, "\\VarFileInfo\\Translation"), "<absent>");
  const void* value = nullptr;
  uint32_t length = 0;
  EXPECT_FALSE(VerQueryValue(buffer.data(), uint32_t(buffer.size()), "\\", &value, &length));  // no fixed info
}

TEST(VersionInfoTest, ReadsTheWritersBlockFromPEFiles) {
  TempFiles dir;
  const std::vector<uint8_t> block = BuildVersionInfo(Sample());
  for (bool plus : {false, true}) {
    SCOPED_TRACE(plus ? "PE32+" : "PE32");
    std::vector<uint8_t> buffer = Read(dir.Write("a.dll", test::BuildPEFile(block, plus)));
    ASSERT_GE(buffer.size(), block.size());
    const void* value = nullptr;
    uint32_t length = 0;
    ASSERT_TRUE(VerQueryValue(buffer.data(), uint32_t(buffer.size()), "\\", &value, &length));
    ASSERT_EQ(length, 52u);
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, value, sizeof fixed);
    EXPECT_EQ(fixed.dwSignature, VS_FFI_SIGNATURE);
    EXPECT_EQ(fixed.dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed.dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed.dwProductVersionLS, 0x00070008u);
    EXPECT_EQ(fixed.dwFileOS, VOS_NT_WINDOWS32);
    ASSERT_TRUE(VerQueryValue(buffer.data(), uint32_t(buffer.size()), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(length, 4u);
    const auto* pair = static_cast<const uint8_t*>(value);
    EXPECT_EQ(pair[0] | pair[1] << 8, 0x040C);
    EXPECT_EQ(pair[2] | pair[3] << 8, 1252);
    EXPECT_EQ(Text(buffer, "\\StringFileInfo\\040c04e4\\ProductName"), "Muralo");
    EXPECT_EQ(Text(buffer, "\\StringFileInfo\\040c04e4\\LegalCopyright"), "2026 Brenwick é");
    EXPECT_EQ(Text(buffer, "\\StringFileInfo\\040c04e4\\Comments"), "");
    EXPECT_EQ(Text(buffer, "\\StringFileInfo\\040c04e4\\SpecialBuild"), "<absent>");
  }
  // A buffer smaller than the block is refused.
  const std::string pe = dir.Write("b.exe", test::BuildPEFile(block));
  std::vector<uint8_t> small(block.size() - 1);
  EXPECT_FALSE(GetFileVersionInfo(pe, uint32_t(small.size()), small.data()));
}

TEST(VersionInfoTest, FilesWithoutAResourceHaveNone) {
  TempFiles dir;
  EXPECT_EQ(GetFileVersionInfoSize("/bin/sh"), 0u);  // ELF
  EXPECT_EQ(GetFileVersionInfoSize(dir.Write("t.txt", {'M', 'Z', 'h', 'i'})), 0u);
  EXPECT_EQ(GetFileVersionInfoSize(dir.Dir / "missing.exe"), 0u);
  std::vector<uint8_t> buffer(64);
  EXPECT_FALSE(GetFileVersionInfo("/bin/sh", 64, buffer.data()));
}

TEST(VersionInfoTest, MalformedPEFilesAndBlocksNeverCrash) {
  TempFiles dir;
  test::TPEOffsets at;
  const std::vector<uint8_t> good = test::BuildPEFile(BuildVersionInfo(Sample()), false, &at);
  // Every truncation: no resource, or (once the block is whole) the resource.
  for (size_t n = 0; n < good.size(); n += 7) {
    std::vector<uint8_t> prefix(good.begin(), good.begin() + std::ptrdiff_t(n));
    TReadOnlyMemoryStream s(prefix.data(), prefix.size());
    try {
      ReadPEVersionResource(s);
    } catch (const Exception&) {
      // a short read raises the class library's error: expected for a cut file
    }
    EXPECT_EQ(GetFileVersionInfoSize(dir.Write("p.exe", prefix)), 0u) << n;
  }
  // Named fields pointing anywhere.
  struct Poke {
    const char* Name;
    size_t Offset;
    uint32_t Value;
  };
  const Poke pokes[] = {
      {"e_lfanew past the end", 0x3C, 0xFFFFFFF0u},
      {"section count huge", 0x46, 0xFFFF},
      {"optional size tiny", 0x54, 4},
      {"directory count 1", at.Optional + 92, 1},
      {"resource RVA outside", at.Optional + 112, 0x7FFFFFFF},
      {"resource size huge", at.Optional + 116, 0xFFFFFFFF},
      {"raw data past the end", at.Sections + 20, 0xFFFFFF00},
      {"raw size huge", at.Sections + 16, 0xFFFFFFFF},
      {"entry count huge", at.Resources + 14, 0xFFFF},
      {"subdirectory loops", at.Resources + 20, 0x80000000u},
      {"data RVA outside", at.DataEntry, 0xFFFFFFF0u},
      {"data size huge", at.DataEntry + 4, 0x7FFFFFFF},
      {"root wLength huge", at.Block, 0xFFFF},
      {"root wLength tiny", at.Block, 3},
      {"key without NUL", at.Block + 36, 0x41414141},
      {"child length huge", at.Block + 92, 0xFFFF},
  };
  for (const Poke& p : pokes) {
    SCOPED_TRACE(p.Name);
    std::vector<uint8_t> bad = good;
    if (p.Value > 0xFFFF || p.Name == std::string("key without NUL"))
      test::Put32(bad, p.Offset, p.Value);
    else
      test::Put16(bad, p.Offset, uint16_t(p.Value));
    std::vector<uint8_t> buffer = Read(dir.Write("bad.exe", bad));
    if (!buffer.empty()) {
      // What is found is still walked safely.
      Query(buffer, "\\StringFileInfo\\040c04e4\\ProductName");
      Query(buffer, "\\VarFileInfo\\Translation");
    }
  }
  // Random damage: never a crash, never a read outside (the sanitizer build checks that).
  std::mt19937 rng(11);
  for (int round = 0; round < 150; ++round) {
    std::vector<uint8_t> bad = good;
    for (int k = 0; k < 4; ++k) bad[rng() % bad.size()] = uint8_t(rng());
    std::vector<uint8_t> buffer = Read(dir.Write("r.exe", bad));
    if (!buffer.empty()) {
      Query(buffer, "\\StringFileInfo\\040c04e4\\ProductName");
      Query(buffer, "\\");
    }
  }
}

TEST(VersionInfoTest, LanguageNames) {
  EXPECT_EQ(VerLanguageName(0x040C), "Français (France)");
  EXPECT_EQ(VerLanguageName(0x0409), "Anglais (États-Unis)");
  EXPECT_EQ(VerLanguageName(0x0411), "Japonais (Japon)");
  EXPECT_EQ(VerLanguageName(0x7777), "Langue inconnue");
}

}  // namespace
}  // namespace muralo
