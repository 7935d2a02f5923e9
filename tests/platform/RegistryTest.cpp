// TRegistry over its hive file: the values the program restores and saves, damaged and unwritable
// hives, and writes that survive a crash.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "PlatformTestTools.h"
#include "classlib/Format.h"
#include "platform/Registry.h"
#include "platform/RegistryFile.h"
#include "platform/System.h"

namespace muralo {
namespace {

using test::FileText;
using test::TXdgSandbox;
using test::WriteText;

constexpr const char* kSettingsKey = "\\Software\\Brenwick\\Muralo\\3\\";

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// What the registry error says, for a call that must raise it.
template <typename F>
std::string RegistryErrorOf(F&& call) {
  try {
    call();
  } catch (const ERegistryException& error) {
    return error.what();
  }
  return "(no error)";
}

class RegistryTest : public ::testing::Test {
 protected:
  TXdgSandbox Sandbox;
  std::string Hive() const { return Sandbox.Config + "/muralo/registry.reg"; }
};

TEST_F(RegistryTest, LivesInTheUsersConfigurationDirectory) {
  EXPECT_EQ(DefaultHiveFile(), Hive());
  TRegistry registry;
  EXPECT_EQ(registry.HiveFile(), Hive());
}

TEST_F(RegistryTest, SavesAndRestoresTheSettingsAsTextAUserCanRead) {
  {
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
    registry.WriteBool("Apercu", true);
    registry.WriteBool("Mosaïque", false);
    registry.WriteString("Liste courante", "/home/ann/images/liste \"été\".que");
    registry.WriteInteger("Image courante", -1);
    registry.WriteInteger("Duree Timer", 600000);
    registry.CloseKey();
  }
  EXPECT_EQ(FileText(Hive()),
            "REGEDIT4\n"
            "\n"
            "[Software\\Brenwick\\Muralo\\3]\n"
            "\"Apercu\"=dword:00000001\n"
            "\"Mosaïque\"=dword:00000000\n"
            "\"Liste courante\"=\"/home/ann/images/liste \\\"été\\\".que\"\n"
            "\"Image courante\"=dword:ffffffff\n"
            "\"Duree Timer\"=dword:000927c0\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, false));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Brenwick\\Muralo\\3");
  EXPECT_TRUE(registry.ReadBool("Apercu"));
  EXPECT_FALSE(registry.ReadBool("Mosaïque"));
  EXPECT_EQ(registry.ReadString("Liste courante"), "/home/ann/images/liste \"été\".que");
  EXPECT_EQ(registry.ReadInteger("Image courante"), -1);
  EXPECT_EQ(registry.ReadInteger("Duree Timer"), 600000);
  EXPECT_EQ(registry.GetValueNames(),
            (std::vector<std::string>{"Apercu", "Mosaïque", "Liste courante", "Image courante", "Duree Timer"}));
}

TEST_F(RegistryTest, MissingOrMistypedValuesRaiseTheRegistryError) {
  std::filesystem::create_directories(Sandbox.Config + "/muralo");
  WriteText(Hive(),
            "REGEDIT4\n[Software\\Brenwick\\Muralo\\3]\n"
            "\"Apercu\"=\"1\"\n"
            "\"Timer\"=dword:00000002\n"
            "\"Liste courante\"=dword:00000001\n"
            "\"Bin\"=hex:01,00,00,00\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, false));
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadBool("Apercu"); }), "Type de données incorrect pour 'Apercu'");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadInteger("Apercu"); }), "Type de données incorrect pour 'Apercu'");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadBool("Centré"); }), "Valeur 'Centré' absente");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadInteger("Duree Timer"); }), "Valeur 'Duree Timer' absente");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadString("Liste courante"); }),
            "Type de données incorrect pour 'Liste courante'");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadBool("Bin"); }), "Type de données incorrect pour 'Bin'");
  // Any non-zero number reads as true; a missing string reads as empty.
  EXPECT_TRUE(registry.ReadBool("Timer"));
  EXPECT_EQ(registry.ReadString("Image courante"), "");
  EXPECT_EQ(registry.GetDataType("Apercu"), TRegDataType::rdString);
  EXPECT_EQ(registry.GetDataType("Timer"), TRegDataType::rdInteger);
  EXPECT_EQ(registry.GetDataType("Bin"), TRegDataType::rdUnknown);
  EXPECT_TRUE(registry.ValueExists("Bin"));
  EXPECT_FALSE(registry.ValueExists("Debut"));
  // The error is one of the class library's exceptions, as the program's error report expects.
  EXPECT_THROW(registry.ReadBool("Debut"), Exception);
}

TEST_F(RegistryTest, OpeningWithoutCreatingLeavesNoTrace) {
  TRegistry registry;
  EXPECT_FALSE(registry.OpenKey("\\Software\\Nobody", false));
  EXPECT_FALSE(registry.HasCurrentKey());
  EXPECT_FALSE(std::filesystem::exists(Hive()));
  EXPECT_EQ(RegistryErrorOf([&] { registry.WriteBool("Apercu", true); }), "Aucune clé ouverte pour la valeur 'Apercu'");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadBool("Apercu"); }), "Valeur 'Apercu' absente");
}

TEST_F(RegistryTest, CreatingAKeyStoresItAtOnce) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
  EXPECT_EQ(FileText(Hive()), "REGEDIT4\n\n[Software\\Brenwick\\Muralo\\3]\n");
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadBool("Apercu"); }), "Valeur 'Apercu' absente");
  TRegistry other;
  EXPECT_TRUE(other.KeyExists("\\SOFTWARE\\brenwick\\Muralo\\3"));
  // Its parents exist with it, as in the Windows registry; a sibling does not.
  EXPECT_TRUE(other.KeyExists("\\Software\\Brenwick"));
  EXPECT_TRUE(other.OpenKey("\\Software", false));
  EXPECT_FALSE(other.KeyExists("\\Software\\Bren"));
  EXPECT_FALSE(other.KeyExists("\\Software\\Brenwick\\Muralo\\30"));
  EXPECT_TRUE(other.KeyExists("\\Control Panel"));
}

TEST_F(RegistryTest, RelativeKeysOpenBelowTheCurrentOne) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey("\\Software", true));
  ASSERT_TRUE(registry.OpenKey("Brenwick\\Muralo", true));
  EXPECT_EQ(registry.CurrentPath(), "Software\\Brenwick\\Muralo");
  ASSERT_TRUE(registry.OpenKey("\\Other", true));
  EXPECT_EQ(registry.CurrentPath(), "Other");
  registry.CloseKey();
  ASSERT_TRUE(registry.OpenKey("Third", true));
  EXPECT_EQ(registry.CurrentPath(), "Third");
}

TEST_F(RegistryTest, TheDesktopKeyExistsOnAFirstRun) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey("Control Panel\\Desktop", false));
  registry.WriteString("TileWallpaper", "1");
  registry.CloseKey();
  TRegistry again;
  ASSERT_TRUE(again.OpenKey("\\Control Panel\\Desktop", false));
  EXPECT_EQ(again.ReadString("TileWallpaper"), "1");
}

TEST_F(RegistryTest, KeepsKeysAndValuesItDoesNotKnow) {
  std::filesystem::create_directories(Sandbox.Config + "/muralo");
  WriteText(Hive(),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_CURRENT_USER\\Software\\Brenwick\\Muralo\\3]\r\n"
            "\"Apercu\"=dword:00000000\r\n"
            "\"Futur\"=hex(2):25,00,48,00,\\\r\n"
            "  00,00\r\n"
            "\r\n"
            "[Software\\Someone\\Else]\r\n"
            "\"Name\"=\"kept \\\"as is\\\"\"\r\n");
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
  registry.WriteBool("apercu", true);  // names fold case, and the stored spelling stays
  registry.WriteBool("Debut", true);
  EXPECT_EQ(FileText(Hive()),
            "REGEDIT4\n"
            "\n"
            "[Software\\Brenwick\\Muralo\\3]\n"
            "\"Apercu\"=dword:00000001\n"
            "\"Futur\"=hex(2):25,00,48,00,\\\n"
            "  00,00\n"
            "\"Debut\"=dword:00000001\n"
            "\n"
            "[Software\\Someone\\Else]\n"
            "\"Name\"=\"kept \\\"as is\\\"\"\n");
}

TEST_F(RegistryTest, DeletesValues) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
  registry.WriteString("A", "1");
  registry.WriteString("B", "2");
  EXPECT_TRUE(registry.DeleteValue("a"));
  EXPECT_FALSE(registry.DeleteValue("a"));
  EXPECT_FALSE(registry.ValueExists("A"));
  EXPECT_EQ(registry.ReadString("B"), "2");
}

TEST_F(RegistryTest, ADamagedHiveIsSetAsideAndReadingStartsEmpty) {
  const std::string dir = Sandbox.Config + "/muralo";
  std::filesystem::create_directories(dir);
  const std::string damaged = "REGEDIT4\n[Software\\Brenwick\\Muralo\\3]\n\"Apercu\"=dword:000000\n\"Liste cou";
  WriteText(Hive(), damaged);
  muralo::test::TReportCapture capture;
  TRegistry registry;
  EXPECT_FALSE(registry.OpenKey(kSettingsKey, false));
  EXPECT_TRUE(registry.OpenKey(kSettingsKey, true));
  EXPECT_EQ(RegistryErrorOf([&] { registry.ReadBool("Apercu"); }), "Valeur 'Apercu' absente");
  registry.WriteBool("Apercu", false);
  const std::string told = capture.Messages;

  const std::vector<std::string> files = FilesIn(dir);
  std::vector<std::string> aside;
  for (const std::string& name : files)
    if (name.rfind("registry.reg.damaged-", 0) == 0) aside.push_back(name);
  ASSERT_EQ(aside.size(), 1u) << told;
  EXPECT_EQ(FileText(dir + "/" + aside[0]), damaged);  // nothing of the user's file is lost
  // Said once, naming both files and the line at fault.
  EXPECT_NE(told.find(Hive()), std::string::npos) << told;
  EXPECT_NE(told.find(aside[0]), std::string::npos) << told;
  EXPECT_NE(told.find("ligne 4"), std::string::npos) << told;
  EXPECT_EQ(told.find('\n'), told.size() - 1) << told;
  EXPECT_EQ(FileText(Hive()), "REGEDIT4\n\n[Software\\Brenwick\\Muralo\\3]\n\"Apercu\"=dword:00000000\n");
}

TEST_F(RegistryTest, AnUnwritableConfigurationDirectoryFailsLoudlyNotSilently) {
  // A plain file where the configuration directory should be: nothing can be created below it
  // (unlike permission bits, this holds for root too).
  const std::string blocked = Sandbox.Root + "/blocked";
  WriteText(blocked, "not a directory");
  TRegistry registry(blocked + "/muralo/registry.reg");
  EXPECT_FALSE(registry.OpenKey(kSettingsKey, true));  // as RegCreateKeyEx failing
  EXPECT_TRUE(registry.OpenKey("\\Control Panel\\Desktop", false));
  const std::string error = RegistryErrorOf([&] { registry.WriteString("TileWallpaper", "0"); });
  EXPECT_EQ(error.rfind("Impossible d'écrire la valeur 'TileWallpaper' : ", 0), 0u) << error;
  EXPECT_EQ(registry.ReadString("TileWallpaper"), "");
}

TEST_F(RegistryTest, AReadOnlyHiveStillReads) {
  std::filesystem::create_directories(Sandbox.Config + "/muralo");
  WriteText(Hive(), "REGEDIT4\n[Software\\Brenwick\\Muralo\\3]\n\"Debut\"=dword:00000000\n");
  chmod(Hive().c_str(), 0400);
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, false));
  EXPECT_FALSE(registry.ReadBool("Debut"));
}

TEST_F(RegistryTest, AHiveBehindASymbolicLinkIsWrittenWhereItLives) {
  const std::string kept = Sandbox.Root + "/dotfiles/registry.reg";
  std::filesystem::create_directories(Sandbox.Root + "/dotfiles");
  std::filesystem::create_directories(Sandbox.Config + "/muralo");
  WriteText(kept, "REGEDIT4\n[Software\\Brenwick\\Muralo\\3]\n\"Debut\"=dword:00000001\n");
  std::filesystem::create_symlink(kept, Hive());
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, false));
  EXPECT_TRUE(registry.ReadBool("Debut"));
  registry.WriteBool("Debut", false);
  EXPECT_TRUE(std::filesystem::is_symlink(Hive()));
  EXPECT_EQ(FileText(kept), "REGEDIT4\n\n[Software\\Brenwick\\Muralo\\3]\n\"Debut\"=dword:00000000\n");
}

TEST_F(RegistryTest, WritesLeaveNoTemporaryFiles) {
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
  for (int i = 0; i < 5; ++i) registry.WriteInteger("Duree Timer", i);
  for (const std::string& name : FilesIn(Sandbox.Config + "/muralo"))
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
}

TEST_F(RegistryTest, AKilledWriterNeverLeavesAHalfWrittenHive) {
  // A child rewrites a large hive as fast as it can and is killed at an arbitrary moment; whatever
  // moment that was, the file holds one complete version.
  const std::string big(20000, 'x');
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      TRegistry registry;
      if (!registry.OpenKey(kSettingsKey, true)) _exit(2);
      for (int i = 0;; ++i) {
        registry.WriteString("Big", big);
        registry.WriteInteger("Counter", i);
      }
    }
    usleep(20000 + 7000 * round);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    if (!std::filesystem::exists(Hive())) continue;  // killed before the first write
    auto hive = ParseHive(FileText(Hive()));
    ASSERT_TRUE(hive);
    const TRegKey* key = hive->Find("Software\\Brenwick\\Muralo\\3");
    ASSERT_NE(key, nullptr);
    if (const TRegValue* value = key->Find("Big")) {
      EXPECT_EQ(value->Text, big);
    }
  }
  // The next write clears the temporary files the killed writers left.
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, true));
  registry.WriteBool("Apercu", true);
  for (const std::string& name : FilesIn(Sandbox.Config + "/muralo"))
    EXPECT_TRUE(name == "registry.reg" || name == "registry.reg.lock") << name;
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kWrites = 40;
  auto writer = [&](const char* prefix) {
    TRegistry registry;
    if (!registry.OpenKey(kSettingsKey, true)) _exit(2);
    for (int i = 0; i < kWrites; ++i) registry.WriteInteger(std::string(prefix) + std::to_string(i), i);
    _exit(0);
  };
  pid_t a = fork();
  if (a == 0) writer("a");
  pid_t b = fork();
  if (b == 0) writer("b");
  int status = 0;
  waitpid(a, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  waitpid(b, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey(kSettingsKey, false));
  EXPECT_EQ(registry.GetValueNames().size(), 2u * kWrites);
  for (int i = 0; i < kWrites; ++i) {
    EXPECT_EQ(registry.ReadInteger("a" + std::to_string(i)), i);
    EXPECT_EQ(registry.ReadInteger("b" + std::to_string(i)), i);
  }
}

}  // namespace
}  // namespace muralo
