#pragma once
// The program's settings: one declared table of value name, type and default that drives both the
// restoring at start-up and the saving. Values live in one key of the user's settings hive; the hive
// itself is reached through TSettingsHive so that the window code never sees how it is stored.

#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "platform/Registry.h"

namespace muralo {

inline constexpr const char* SettingsKey = "\\Software\\Brenwick\\Muralo\\3\\";

// Every persisted setting, with its default (the state of a first run).
struct TSettings {
  bool Apercu = false;
  bool Mosaique = false;
  bool Centre = true;
  bool Retaille = false;
  bool Titre = false;
  bool Timer = false;
  bool Ordonne = true;
  bool Aleatoire = false;
  std::string ListeCourante;
  int32_t ImageCourante = -1;
  int32_t DureeTimer = 0;
  bool Proportions = false;
  bool Debut = true;
  bool operator==(const TSettings&) const = default;
};

enum class TSettingType { stBoolean, stInteger, stString };

struct TSettingDef {
  const char* Name;  // the value name in the key (UTF-8; accented names as the user sees them)
  TSettingType Type;
  std::variant<bool TSettings::*, int32_t TSettings::*, std::string TSettings::*> Field;
};

// The values in the order they are read and written.
inline constexpr int SettingCount = 13;
extern const TSettingDef SettingsTable[SettingCount];

// Restores into settings (which starts at its defaults): opens SettingsKey (creating it), reads the
// values in table order and calls applied(index) after each value is stored, so the caller can set
// its controls at once. The first boolean or integer value that cannot be read ends the reading
// silently; a missing string reads as empty. Returns the number of values read; -1 when the key
// could not be opened (ListeCourante is then empty).
int RestoreSettings(TRegistry& hive, TSettings& settings, const std::function<void(int index)>& applied = {});

// Writes every value in table order, in one transaction of the hive. The writes are attempted even
// when the key does not open; the first failing write raises (naming the first value when the hive
// file cannot be written).
void SaveSettings(TRegistry& hive, const TSettings& settings);

}  // namespace muralo
