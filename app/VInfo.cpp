#include "app/VInfo.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "classlib/ByteOrder.h"

namespace muralo {

TKvVersionInfo::TKvVersionInfo(QObject* owner) : QObject(owner) { SetFileName(""); }

void TKvVersionInfo::SetFileName(const std::string& name) {
  FFileName = name.empty() ? ProgramFileName() : name;
  ClearProperties();
  ReadVersionInfo();
}

void TKvVersionInfo::GetInfoBuffer(uint32_t size) {
  FInfoBuffer.clear();
  FInfoBuffer.shrink_to_fit();
  FInfoBuffer.resize(size);
}

void TKvVersionInfo::ReadVersionInfo() {
  FInfoLoaded = false;
  const uint32_t size = GetFileVersionInfoSize(FFileName);
  if (size == 0) return;
  GetInfoBuffer(size);
  if (!GetFileVersionInfo(FFileName, size, FInfoBuffer.data())) return;
  FInfoLoaded = true;
  const void* value = nullptr;
  uint32_t length = 0;
  FFixedInfo = {};
  if (VerQueryValue(FInfoBuffer.data(), size, "\\", &value, &length))
    std::memcpy(&FFixedInfo, value, std::min<size_t>(length, sizeof FFixedInfo));
  // A resource without a translation table names no string table: every string is then absent.
  FLanguage = FCodePage = 0;
  FTranslationKey.clear();
  if (VerQueryValue(FInfoBuffer.data(), size, "\\VarFileInfo\\Translation", &value, &length) && length >= 4) {
    const auto* pair = static_cast<const uint8_t*>(value);
    FLanguage = GetLE16(pair);
    FCodePage = GetLE16(pair + 2);
    char key[16];
    std::snprintf(key, sizeof key, "%4.4x%4.4x", unsigned(FLanguage), unsigned(FCodePage));
    FTranslationKey = key;
  }
}

std::string TKvVersionInfo::GetStringFileInfo(int index) {
  if (!FInfoLoaded || FTranslationKey.empty() || index < 0 || index >= 12) return {};
  const std::string path = "\\StringFileInfo\\" + FTranslationKey + "\\" + kVersionStringNames[index];
  const void* value = nullptr;
  uint32_t length = 0;
  if (!VerQueryValue(FInfoBuffer.data(), uint32_t(FInfoBuffer.size()), path, &value, &length)) return {};
  // The text up to its terminating NUL.
  const auto* text = static_cast<const char*>(value);
  return std::string(text, strnlen(text, length));
}

std::array<uint16_t, 4> TKvVersionInfo::GetFileVersionNumber() const {
  if (!FInfoLoaded) return {0, 0, 0, 0};
  return {uint16_t(FFixedInfo.dwFileVersionMS >> 16), uint16_t(FFixedInfo.dwFileVersionMS),
          uint16_t(FFixedInfo.dwFileVersionLS >> 16), uint16_t(FFixedInfo.dwFileVersionLS)};
}

std::array<uint16_t, 4> TKvVersionInfo::GetProductVersionNumber() const {
  if (!FInfoLoaded) return {0, 0, 0, 0};
  return {uint16_t(FFixedInfo.dwProductVersionMS >> 16), uint16_t(FFixedInfo.dwProductVersionMS),
          uint16_t(FFixedInfo.dwProductVersionLS >> 16), uint16_t(FFixedInfo.dwProductVersionLS)};
}

std::string TKvVersionInfo::GetLanguage() const {
  if (!FInfoLoaded) return {};
  std::string name = VerLanguageName(FLanguage);
  if (name.size() > 254) name.resize(254);  // the 255-character buffer with its NUL
  return name;
}

std::string TKvVersionInfo::GetCharSet() const {
  if (!FInfoLoaded) return {};
  for (const TCodePageName& c : kCodePageNames)
    if (c.CodePage == FCodePage) return c.Name;
  return "Unknown";
}

}  // namespace muralo
