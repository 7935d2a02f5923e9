#pragma once
// TKvVersionInfo: reads the version resource of a file (the program's own when the name is empty)
// through the version API of platform/VersionInfo.h and answers its strings, version numbers and
// fixed fields. Every query gives its empty value (empty text, zeros) until a resource was read.

#include <QObject>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/VersionInfo.h"

namespace muralo {

// Registers the program's VS_VERSIONINFO block, written by the build, in the program's resource
// table (defined by the generated resource file of the muralo_version library).
void RegisterVersionResource();

// The string names, by index.
inline constexpr const char* kVersionStringNames[12] = {
    "Comments",        "CompanyName",      "FileDescription", "FileVersion", "InternalName",   "LegalCopyright",
    "LegalTrademarks", "OriginalFileName", "PrivateBuild",    "ProductName", "ProductVersion", "SpecialBuild"};

struct TCodePageName {
  uint16_t CodePage;
  const char* Name;
};
// Code-page names, searched in this order.
inline constexpr TCodePageName kCodePageNames[12] = {
    {0, "7-bit ASCII"},
    {932, "Windows, Japan (Shift - JIS X-0208)"},
    {949, "Windows, Korea (Shift - KSC 5601)"},
    {950, "Windows, Taiwan (GB5)"},
    {1200, "Unicode"},
    {1250, "Windows, Latin-2 (Eastern European)"},
    {1251, "Windows, Cyrillic"},
    {1252, "Windows, Multilingual"},
    {1253, "Windows, Greek"},
    {1254, "Windows, Turkish"},
    {1255, "Windows, Hebrew"},
    {1256, "Windows, Arabic"},
};

class TKvVersionInfo : public QObject {
 public:
  // Reads the program's own resource (FileName set empty).
  explicit TKvVersionInfo(QObject* owner = nullptr);

  const std::string& FileName() const { return FFileName; }
  // Stores the name (an empty name stores the program's own path), then reads its resource.
  void SetFileName(const std::string& name);
  bool InfoLoaded() const { return FInfoLoaded; }
  const std::string& TranslationKey() const { return FTranslationKey; }
  const VS_FIXEDFILEINFO& FixedInfo() const { return FFixedInfo; }

  void ClearProperties() { FInfoLoaded = false; }
  void ReadVersionInfo();
  // Replaces the info buffer with one of size bytes.
  void GetInfoBuffer(uint32_t size);

  std::string GetStringFileInfo(int index);
  std::array<uint16_t, 4> GetFileVersionNumber() const;
  std::array<uint16_t, 4> GetProductVersionNumber() const;
  uint32_t GetFileOS() const { return FInfoLoaded ? FFixedInfo.dwFileOS : 0; }
  uint32_t GetFileType() const { return FInfoLoaded ? FFixedInfo.dwFileType : 0; }
  uint32_t GetFileSubType() const { return FInfoLoaded ? FFixedInfo.dwFileSubtype : 0; }
  uint32_t GetFileFlagsMask() const { return FInfoLoaded ? FFixedInfo.dwFileFlagsMask : 0; }
  uint32_t GetFileFlags() const { return FInfoLoaded ? FFixedInfo.dwFileFlags : 0; }
  std::string GetLanguage() const;
  std::string GetCharSet() const;

 private:
  std::string FFileName;
  bool FInfoLoaded = false;
  std::vector<uint8_t> FInfoBuffer;
  VS_FIXEDFILEINFO FFixedInfo{};
  uint16_t FLanguage = 0, FCodePage = 0;
  std::string FTranslationKey;
};

}  // namespace muralo
