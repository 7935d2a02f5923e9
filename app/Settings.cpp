#include "app/Settings.h"

namespace muralo {

using S = TSettings;

const TSettingDef SettingsTable[SettingCount] = {
    {"Apercu", TSettingType::stBoolean, &S::Apercu},
    {"Mosaïque", TSettingType::stBoolean, &S::Mosaique},
    {"Centré", TSettingType::stBoolean, &S::Centre},
    {"Retaillé", TSettingType::stBoolean, &S::Retaille},
    {"Titre", TSettingType::stBoolean, &S::Titre},
    {"Timer", TSettingType::stBoolean, &S::Timer},
    {"Ordonné", TSettingType::stBoolean, &S::Ordonne},
    {"Aléatoire", TSettingType::stBoolean, &S::Aleatoire},
    {"Liste courante", TSettingType::stString, &S::ListeCourante},
    {"Image courante", TSettingType::stInteger, &S::ImageCourante},
    {"Duree Timer", TSettingType::stInteger, &S::DureeTimer},
    {"Proportions", TSettingType::stBoolean, &S::Proportions},
    {"Debut", TSettingType::stBoolean, &S::Debut},
};

namespace {
struct KeyCloser {
  TRegistry& Hive;
  ~KeyCloser() { Hive.CloseKey(); }
};
}  // namespace

int RestoreSettings(TRegistry& hive, TSettings& settings, const std::function<void(int)>& applied) {
  if (!hive.OpenKey(SettingsKey, true)) {
    settings.ListeCourante.clear();
    return -1;
  }
  KeyCloser closer{hive};
  int read = 0;
  try {
    for (const TSettingDef& def : SettingsTable) {
      if (auto b = std::get_if<bool S::*>(&def.Field)) {
        settings.*(*b) = hive.ReadBool(def.Name);
      } else if (auto i = std::get_if<int32_t S::*>(&def.Field)) {
        settings.*(*i) = hive.ReadInteger(def.Name);
      } else {
        auto s = std::get<std::string S::*>(def.Field);
        // A missing string reads as empty and does not end the reading.
        settings.*s = hive.ValueExists(def.Name) ? hive.ReadString(def.Name) : std::string();
      }
      if (applied) applied(read);
      ++read;
    }
  } catch (const ERegistryException&) {
    // The first unreadable value ends the reading; the rest keep their defaults.
  }
  return read;
}

void SaveSettings(TRegistry& hive, const TSettings& settings) {
  hive.OpenKey(SettingsKey, true);  // writes are attempted even when this fails
  KeyCloser closer{hive};
  // The thirteen values go into the hive in one transaction: one lock, one replacement of the file.
  struct Transaction {
    TRegistry& Hive;
    bool Done = false;
    ~Transaction() {
      if (!Done) Hive.CancelUpdate();
    }
  } transaction{hive};
  hive.BeginUpdate();
  for (const TSettingDef& def : SettingsTable) {
    if (auto b = std::get_if<bool S::*>(&def.Field)) {
      hive.WriteBool(def.Name, settings.*(*b));
    } else if (auto i = std::get_if<int32_t S::*>(&def.Field)) {
      hive.WriteInteger(def.Name, settings.*(*i));
    } else {
      hive.WriteString(def.Name, settings.*std::get<std::string S::*>(def.Field));
    }
  }
  transaction.Done = true;
  hive.EndUpdate();
}

}  // namespace muralo
