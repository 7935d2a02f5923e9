#pragma once
// Version resources: the VS_VERSIONINFO blocks of the Windows resource format, read with the three
// calls of the Windows version API and written by the build for the program's own file.
//
// Where a block comes from:
// - the program's own file: the RT_VERSION resource (id 1) of its embedded resource table;
// - any other file: the RT_VERSION resource of a PE executable or DLL (its .rsrc data directory);
// - anything else (ELF binaries, text, truncated or malformed PE files) has none.
//
// Layout of a block (Microsoft, "VS_VERSIONINFO structure" and "String / Var structures"): every
// node is WORD wLength, WORD wValueLength, WORD wType (1 text, 0 binary), a NUL-terminated UTF-16LE
// key, padding to 32 bits, the value, padding to 32 bits, then its children up to wLength.

#include <cstdint>
#include <string>
#include <vector>

namespace muralo {

// VS_FIXEDFILEINFO, 52 bytes, little-endian fields in this order.
struct VS_FIXEDFILEINFO {
  uint32_t dwSignature;  // 0xFEEF04BD
  uint32_t dwStrucVersion;
  uint32_t dwFileVersionMS, dwFileVersionLS;
  uint32_t dwProductVersionMS, dwProductVersionLS;
  uint32_t dwFileFlagsMask, dwFileFlags;
  uint32_t dwFileOS, dwFileType, dwFileSubtype;
  uint32_t dwFileDateMS, dwFileDateLS;
};
static_assert(sizeof(VS_FIXEDFILEINFO) == 52);
inline constexpr uint32_t VS_FFI_SIGNATURE = 0xFEEF04BD;
inline constexpr uint32_t VOS_NT_WINDOWS32 = 0x00040004;
inline constexpr uint32_t VFT_APP = 1;

// The size of buffer GetFileVersionInfo needs for the file's version resource (the block plus room
// for the UTF-8 copies of its texts that VerQueryValue makes); 0 when the file has none or cannot
// be read. Never raises.
uint32_t GetFileVersionInfoSize(const std::string& fileName);
// Copies the file's version resource into data (size bytes, as GetFileVersionInfoSize answered);
// false when there is none, it cannot be read or size is too small. Never raises.
bool GetFileVersionInfo(const std::string& fileName, uint32_t size, void* data);
// Looks a value up in a buffer filled by GetFileVersionInfo: "\" gives the VS_FIXEDFILEINFO,
// "\VarFileInfo\Translation" the language/code-page pairs, "\StringFileInfo\<key>\<name>" a text
// (as UTF-8 with its NUL, length counting the NUL). Keys compare without regard to ASCII case.
// false when the path is absent or the block is malformed. Never reads outside the buffer.
bool VerQueryValue(void* block, uint32_t blockSize, const std::string& subBlock, const void** buffer, uint32_t* length);
// The Windows name of a language identifier, as a French system gives it ("Français (France)"
// for 0x040C); "Langue inconnue" for identifiers it does not know.
std::string VerLanguageName(uint32_t language);

// The program's own file, for the version reader's empty file name (the running executable).
std::string ProgramFileName();

// ---- writing a block (the build's resource, and tests) ----

struct TVersionString {
  std::string Name;   // UTF-8
  std::string Value;  // UTF-8
};

struct TVersionData {
  uint16_t FileVersion[4] = {0, 0, 0, 0};
  uint16_t ProductVersion[4] = {0, 0, 0, 0};
  uint32_t FileFlagsMask = 0x3F, FileFlags = 0, FileOS = VOS_NT_WINDOWS32, FileType = VFT_APP, FileSubtype = 0;
  std::string TranslationKey = "040c04e4";  // the string table's key
  std::vector<TVersionString> Strings;
  std::vector<uint16_t> Translation = {0x040C, 1252};  // language, code page pairs
};

// A complete VS_VERSIONINFO block; raises Exception when it would pass the format's 64 KiB.
std::vector<uint8_t> BuildVersionInfo(const TVersionData& data);

}  // namespace muralo
