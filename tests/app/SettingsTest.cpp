// The settings table against the real settings hive (a temporary hive file).
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>

#include "app/Settings.h"
#include "platform/Registry.h"
#include "tests/app/TestSupport.h"

using namespace muralo;
using muralo::test::TempDir;

namespace {

TEST(Settings, TableIsInTheReadingOrderWithItsTypes) {
  const char* names[] = {"Apercu",      "Mosaïque",    "Centré",    "Retaillé",       "Titre",
                         "Timer",       "Ordonné",     "Aléatoire", "Liste courante", "Image courante",
                         "Duree Timer", "Proportions", "Debut"};
  for (int i = 0; i < SettingCount; ++i) {
    SCOPED_TRACE(names[i]);
    EXPECT_STREQ(SettingsTable[i].Name, names[i]);
  }
  EXPECT_EQ(SettingsTable[8].Type, TSettingType::stString);
  EXPECT_EQ(SettingsTable[9].Type, TSettingType::stInteger);
  EXPECT_EQ(SettingsTable[10].Type, TSettingType::stInteger);
  EXPECT_EQ(SettingsTable[12].Type, TSettingType::stBoolean);
}

TEST(Settings, FirstRunCreatesTheKeyAndKeepsEveryDefault) {
  TempDir dir;
  TRegistry hive(dir / "registry.reg");
  TSettings s;
  s.Centre = false;  // to see that nothing is touched when the reading stops at once
  TSettings expected = s;
  EXPECT_EQ(RestoreSettings(hive, s), 0);
  EXPECT_EQ(s, expected);
  TRegistry again(dir / "registry.reg");
  EXPECT_TRUE(again.KeyExists(SettingsKey));
}

TEST(Settings, SaveThenRestoreGivesTheSameValues) {
  TempDir dir;
  TSettings saved;
  saved.Apercu = true;
  saved.Mosaique = true;
  saved.Centre = false;
  saved.Retaille = true;
  saved.Titre = true;
  saved.Timer = true;
  saved.Ordonne = false;
  saved.Aleatoire = true;
  saved.ListeCourante = "/home/ann/images/été.que";
  saved.ImageCourante = 7;
  saved.DureeTimer = -2134967296;  // 25 days as the signed field holds it
  saved.Proportions = true;
  saved.Debut = false;
  {
    TRegistry hive(dir / "registry.reg");
    SaveSettings(hive, saved);
  }
  TRegistry hive(dir / "registry.reg");
  TSettings restored;
  std::vector<int> applied;
  EXPECT_EQ(RestoreSettings(hive, restored, [&](int i) { applied.push_back(i); }), SettingCount);
  EXPECT_EQ(restored, saved);
  ASSERT_EQ(applied.size(), static_cast<size_t>(SettingCount));
  for (int i = 0; i < SettingCount; ++i) EXPECT_EQ(applied[static_cast<size_t>(i)], i);
  // Booleans are dwords 0 or 1 and the values are written in the table's order.
  hive.OpenKey(SettingsKey, false);
  EXPECT_EQ(hive.GetDataType("Mosaïque"), TRegDataType::rdInteger);
  EXPECT_EQ(hive.ReadInteger("Mosaïque"), 1);
  EXPECT_EQ(hive.ReadInteger("Centré"), 0);
  std::vector<std::string> names = hive.GetValueNames();
  ASSERT_EQ(names.size(), static_cast<size_t>(SettingCount));
  for (int i = 0; i < SettingCount; ++i) EXPECT_EQ(names[static_cast<size_t>(i)], SettingsTable[i].Name);
}

struct StopCase {
  const char* Name;
  const char* Damaged;  // the value made unreadable
  int Read;             // values read before it
};

TEST(Settings, TheFirstUnreadableValueEndsTheReading) {
  const StopCase cases[] = {
      {"missing Ordonné", "Ordonné", 6},
      {"string where a boolean is", "Titre", 4},
      {"string Duree Timer", "Duree Timer", 10},
      {"missing Debut", "Debut", 12},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TempDir dir;
    TSettings all;
    all.Apercu = all.Mosaique = all.Retaille = all.Titre = all.Timer = all.Aleatoire = true;
    all.Ordonne = all.Centre = all.Debut = false;
    all.Proportions = true;
    all.ListeCourante = "/l.que";
    all.DureeTimer = 60000;
    all.ImageCourante = 3;
    {
      TRegistry hive(dir / "registry.reg");
      SaveSettings(hive, all);
      hive.OpenKey(SettingsKey, false);
      if (std::string(c.Name).rfind("missing", 0) == 0)
        hive.DeleteValue(c.Damaged);
      else
        hive.WriteString(c.Damaged, "oui");
    }
    TRegistry hive(dir / "registry.reg");
    TSettings restored;
    EXPECT_EQ(RestoreSettings(hive, restored), c.Read);
    const TSettings defaults;
    // Before the damaged value everything is restored; from it on everything keeps its default.
    TSettings expected = defaults;
    for (int i = 0; i < c.Read; ++i) {
      std::visit([&](auto member) { expected.*member = all.*member; }, SettingsTable[i].Field);
    }
    EXPECT_EQ(restored, expected);
  }
}

TEST(Settings, AMissingListNameReadsEmptyAndTheReadingGoesOn) {
  TempDir dir;
  TSettings all;
  all.ListeCourante = "/x.que";
  all.DureeTimer = 5000;
  {
    TRegistry hive(dir / "registry.reg");
    SaveSettings(hive, all);
    hive.OpenKey(SettingsKey, false);
    hive.DeleteValue("Liste courante");
  }
  TRegistry hive(dir / "registry.reg");
  TSettings restored;
  restored.ListeCourante = "stale";
  EXPECT_EQ(RestoreSettings(hive, restored), SettingCount);
  EXPECT_EQ(restored.ListeCourante, "");
  EXPECT_EQ(restored.DureeTimer, 5000);
}

TEST(Settings, AnyNonZeroNumberReadsAsTrue) {
  TempDir dir;
  {
    TRegistry hive(dir / "registry.reg");
    hive.OpenKey(SettingsKey, true);
    hive.WriteInteger("Apercu", 42);
  }
  TRegistry hive(dir / "registry.reg");
  TSettings restored;
  EXPECT_EQ(RestoreSettings(hive, restored), 1);
  EXPECT_TRUE(restored.Apercu);
}

TEST(Settings, ACorruptedHiveStartsAsAFirstRun) {
  TempDir dir;
  static constexpr char garbage[] = "\x00\xff garbage [[[\n\"Apercu\"=dword:zz";
  muralo::test::WriteText(dir / "registry.reg", std::string(garbage, sizeof garbage - 1));
  TRegistry hive(dir / "registry.reg");
  TSettings restored;
  EXPECT_EQ(RestoreSettings(hive, restored), 0);
  EXPECT_EQ(restored, TSettings());
}

TEST(Settings, AnUnwritableHiveRaisesOnSave) {
  TempDir dir;
  // A hive whose folder is a plain file can be written by nobody, root included.
  muralo::test::WriteText(dir / "plain", "x");
  TRegistry hive(dir / "plain/registry.reg");
  EXPECT_THROW(SaveSettings(hive, TSettings()), ERegistryException);
}

// Saving the settings is one transaction of the hive: the file is replaced once (one rename), not
// once per value. The kernel's own record of the folder (inotify) counts the replacements.
TEST(Settings, SavingReplacesTheHiveFileOnce) {
  TempDir dir;
  {
    TRegistry hive(dir / "registry.reg");
    SaveSettings(hive, TSettings());  // the key exists from now on
  }
  const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.Path.c_str(), IN_MOVED_TO | IN_CREATE), 0);
  TSettings changed;
  changed.Titre = true;
  changed.ListeCourante = "/l.que";
  TRegistry hive(dir / "registry.reg");
  SaveSettings(hive, changed);
  int renames = 0, created = 0;
  alignas(inotify_event) char buffer[16384];
  for (ssize_t n; (n = read(watch, buffer, sizeof buffer)) > 0;)
    for (char* p = buffer; p < buffer + n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(p);
      const std::string name = event->len ? event->name : "";
      if ((event->mask & IN_MOVED_TO) && name == "registry.reg") ++renames;
      if ((event->mask & IN_CREATE) && name.find(".tmp-") != std::string::npos) ++created;
      p += sizeof(inotify_event) + event->len;
    }
  close(watch);
  EXPECT_EQ(renames, 1);
  EXPECT_EQ(created, 1);
  TSettings restored;
  TRegistry check(dir / "registry.reg");
  RestoreSettings(check, restored);
  EXPECT_EQ(restored, changed);
}

// A hive that cannot be replaced reports the first value, the hive file and the reason in French.
TEST(Settings, AFailedTransactionNamesTheFirstValueAndTheHiveFile) {
  TempDir dir;
  const std::string file = dir / "registry.reg";
  {
    TRegistry hive(file);
    SaveSettings(hive, TSettings());
  }
  const std::string before = muralo::test::FileText(file);
  // The temporary file's name is taken by a folder that cannot be removed (it is not empty), which
  // stops the write whoever runs the test, root included.
  std::filesystem::create_directories(dir.Path / ("registry.reg.tmp-" + std::to_string(getpid())) / "x");
  TRegistry hive(file);
  TSettings changed;
  changed.Titre = true;
  try {
    SaveSettings(hive, changed);
    ADD_FAILURE() << "the save did not fail";
  } catch (const ERegistryException& e) {
    EXPECT_EQ(e.message(), "Impossible d'écrire la valeur 'Apercu' : " + file + " (c'est un dossier)");
  }
  EXPECT_EQ(muralo::test::FileText(file), before);
}

}  // namespace
