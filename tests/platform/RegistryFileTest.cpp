// The hive's text form: hand-written files in, the writer's text out.

#include <gtest/gtest.h>

#include "platform/RegistryFile.h"

namespace muralo {
namespace {

const TRegValue* Value(const THive& hive, const std::string& key, const std::string& name) {
  const TRegKey* k = hive.Find(key);
  return k ? k->Find(name) : nullptr;
}

TEST(HiveParser, ReadsTheFileAUserWouldWrite) {
  const std::string text =
      "REGEDIT4\r\n"
      "\r\n"
      "; written by hand\r\n"
      "[HKEY_CURRENT_USER\\Software\\Brenwick\\Muralo\\3]\r\n"
      "\"Apercu\"=dword:00000001\r\n"
      "\"Mosaïque\"=dword:0\r\n"
      "\"Duree Timer\"=dword:ffffffff\r\n"
      "\"Liste courante\"=\"C:\\\\Images\\\\liste \\\"été\\\".que\"\r\n"
      "@=\"default\"\r\n"
      "\r\n"
      "[Control Panel\\Desktop]\r\n"
      "\"TileWallpaper\"=\"1\"\r\n";
  THiveParseError error;
  auto hive = ParseHive(text, &error);
  ASSERT_TRUE(hive) << error.Line << ": " << error.Reason;
  ASSERT_EQ(hive->Keys.size(), 2u);
  EXPECT_EQ(hive->Keys[0].Path, "Software\\Brenwick\\Muralo\\3");
  const TRegValue* apercu = Value(*hive, "software\\BRENWICK\\muralo\\3", "APERCU");
  ASSERT_NE(apercu, nullptr);
  EXPECT_EQ(apercu->Kind, TRegValueKind::rvDWord);
  EXPECT_EQ(apercu->DWord, 1u);
  ASSERT_NE(Value(*hive, "Software\\Brenwick\\Muralo\\3", "Mosaïque"), nullptr);
  EXPECT_EQ(Value(*hive, "Software\\Brenwick\\Muralo\\3", "Mosaïque")->DWord, 0u);
  EXPECT_EQ(Value(*hive, "Software\\Brenwick\\Muralo\\3", "Duree Timer")->DWord, 0xFFFFFFFFu);
  const TRegValue* list = Value(*hive, "Software\\Brenwick\\Muralo\\3", "Liste courante");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Kind, TRegValueKind::rvString);
  EXPECT_EQ(list->Text, "C:\\Images\\liste \"été\".que");
  ASSERT_NE(Value(*hive, "Software\\Brenwick\\Muralo\\3", ""), nullptr);
  EXPECT_EQ(Value(*hive, "Software\\Brenwick\\Muralo\\3", "")->Text, "default");
  EXPECT_EQ(Value(*hive, "Control Panel\\Desktop", "TileWallpaper")->Text, "1");
}

TEST(HiveParser, AcceptsWhatRegeditAndEditorsProduce) {
  struct Case {
    const char* Name;
    std::string Text;
    std::string Key, Value, Expected;
  };
  const Case cases[] = {
      {"byte-order mark and version 5 header", "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n[A]\n\"v\"=\"x\"\n",
       "A", "v", "x"},
      {"blanks around the line", "REGEDIT4\n  [A]  \n\t\"v\" = \"x\"  \n", "A", "v", "x"},
      {"HKCU abbreviation", "REGEDIT4\n[HKCU\\A\\B]\n\"v\"=\"x\"\n", "A\\B", "v", "x"},
      {"trailing separator in the key", "REGEDIT4\n[A\\B\\]\n\"v\"=\"x\"\n", "A\\B", "v", "x"},
      {"no final line end", "REGEDIT4\n[A]\n\"v\"=\"x\"", "A", "v", "x"},
      {"unknown escape kept literally", "REGEDIT4\n[A]\n\"v\"=\"a\\qb\"\n", "A", "v", "a\\qb"},
      {"control characters escaped", "REGEDIT4\n[A]\n\"v\"=\"1\\n2\\r3\"\n", "A", "v", "1\n2\r3"},
      {"escaped quote in a name", "REGEDIT4\n[A]\n\"a\\\"b\"=\"x\"\n", "A", "a\"b", "x"},
      {"second section of one key merges", "REGEDIT4\n[A]\n\"u\"=\"1\"\n[B]\n[A]\n\"v\"=\"x\"\n", "A", "v", "x"},
      {"a later value replaces an earlier one", "REGEDIT4\n[A]\n\"v\"=\"old\"\n\"V\"=\"x\"\n", "A", "v", "x"},
      {"empty string", "REGEDIT4\n[A]\n\"v\"=\"\"\n", "A", "v", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    THiveParseError error;
    auto hive = ParseHive(c.Text, &error);
    ASSERT_TRUE(hive) << error.Line << ": " << error.Reason;
    const TRegValue* v = Value(*hive, c.Key, c.Value);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->Text, c.Expected);
  }
}

TEST(HiveParser, EmptyFileIsAnEmptyHive) {
  for (const char* text : {"", "\n\n", "  \r\n", "REGEDIT4\n"}) {
    SCOPED_TRACE(text);
    auto hive = ParseHive(text);
    ASSERT_TRUE(hive);
    EXPECT_TRUE(hive->Keys.empty());
  }
}

TEST(HiveParser, RefusesDamagedFilesAndSaysWhere) {
  struct Case {
    const char* Name;
    std::string Text;
    int Line;
  };
  const Case cases[] = {
      {"no header", "[A]\n\"v\"=\"x\"\n", 1},
      {"other header", "REGEDIT5\n", 1},
      {"text cut inside a string", "REGEDIT4\n[A]\n\"v\"=\"C:\\\\Ima", 3},
      {"text cut inside a name", "REGEDIT4\n[A]\n\"Liste cou", 3},
      {"text cut inside a key", "REGEDIT4\n[Software\\Bren", 2},
      {"value before any key", "REGEDIT4\n\"v\"=\"x\"\n", 2},
      {"dword with a letter", "REGEDIT4\n[A]\n\"v\"=dword:0000000g\n", 3},
      {"dword too long", "REGEDIT4\n[A]\n\"v\"=dword:000000001\n", 3},
      {"dword without digits", "REGEDIT4\n[A]\n\"v\"=dword:\n", 3},
      {"unknown data type", "REGEDIT4\n[A]\n\"v\"=qword:1\n", 3},
      {"garbage after a string", "REGEDIT4\n[A]\n\"v\"=\"x\" y\n", 3},
      {"missing equals sign", "REGEDIT4\n[A]\n\"v\" \"x\"\n", 3},
      {"stray line", "REGEDIT4\n[A]\nhello\n", 3},
      {"key deletion", "REGEDIT4\n[-A]\n", 2},
      {"continuation at end of file", "REGEDIT4\n[A]\n\"v\"=hex:01,02,\\", 3},
      {"binary with a non-hex byte", "REGEDIT4\n[A]\n\"v\"=hex:01,zz\n", 3},
      {"binary data on the header line", std::string("REGEDIT4\n\0\0\0", 12), 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    THiveParseError error;
    EXPECT_FALSE(ParseHive(c.Text, &error));
    EXPECT_EQ(error.Line, c.Line);
    EXPECT_FALSE(error.Reason.empty());
  }
}

TEST(HiveWriter, WritesRegedit4AndReadsBackTheSame) {
  THive hive;
  TRegKey& settings = hive.FindOrAdd("Software\\Brenwick\\Muralo\\3");
  settings.Values.push_back({"Apercu", TRegValueKind::rvDWord, "", 1});
  settings.Values.push_back({"Duree Timer", TRegValueKind::rvDWord, "", 0x80000000u});
  settings.Values.push_back({"Liste courante", TRegValueKind::rvString, "/home/a \"b\"\\c.que", 0});
  settings.Values.push_back({"Ctl", TRegValueKind::rvString, std::string("a\nb\rc\0d", 7), 0});
  settings.Values.push_back({"", TRegValueKind::rvString, "def", 0});
  hive.FindOrAdd("Empty\\Key");
  TRegKey& other = hive.FindOrAdd("Other");
  other.Values.push_back({"Bin", TRegValueKind::rvRaw, "hex:01,02,\\\n  03", 0});

  const std::string text = FormatHive(hive);
  EXPECT_EQ(text,
            "REGEDIT4\n"
            "\n"
            "[Software\\Brenwick\\Muralo\\3]\n"
            "\"Apercu\"=dword:00000001\n"
            "\"Duree Timer\"=dword:80000000\n"
            "\"Liste courante\"=\"/home/a \\\"b\\\"\\\\c.que\"\n"
            "\"Ctl\"=\"a\\nb\\rc\\0d\"\n"
            "@=\"def\"\n"
            "\n"
            "[Empty\\Key]\n"
            "\n"
            "[Other]\n"
            "\"Bin\"=hex:01,02,\\\n"
            "  03\n");
  auto back = ParseHive(text);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->Keys.size(), 3u);
  EXPECT_EQ(Value(*back, "Software\\Brenwick\\Muralo\\3", "Liste courante")->Text, "/home/a \"b\"\\c.que");
  EXPECT_EQ(Value(*back, "Software\\Brenwick\\Muralo\\3", "Ctl")->Text, std::string("a\nb\rc\0d", 7));
  EXPECT_EQ(Value(*back, "Software\\Brenwick\\Muralo\\3", "Duree Timer")->DWord, 0x80000000u);
  EXPECT_EQ(Value(*back, "Other", "Bin")->Text, "hex:01,02,\\\n  03");
  EXPECT_EQ(FormatHive(*back), text);  // a second round changes nothing
}

TEST(HiveWriter, KeepsEveryByteOfAString) {
  // All 256 byte values (UTF-8 or not) survive a write and a read.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  THive hive;
  hive.FindOrAdd("K").Values.push_back({"bytes", TRegValueKind::rvString, all, 0});
  auto back = ParseHive(FormatHive(hive));
  ASSERT_TRUE(back);
  EXPECT_EQ(Value(*back, "K", "bytes")->Text, all);
}

TEST(HiveWriter, KeyNamesThatLookLikeARootOrADeletionReadBackAsThemselves) {
  for (const char* path : {"-x", "HKEY_CURRENT_USER\\x", "hkcu\\y", "HKCU", "HKEY_CURRENT_USER", ""}) {
    SCOPED_TRACE(path);
    THive hive;
    hive.FindOrAdd(path).Values.push_back({"v", TRegValueKind::rvString, "1", 0});
    auto back = ParseHive(FormatHive(hive));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->Keys.size(), 1u);
    EXPECT_EQ(back->Keys[0].Path, path);
  }
  // Found by the fuzzer: a leading separator hid the '-' from the deletion check.
  auto hidden = ParseHive("REGEDIT4\n[\\-alo3\\]\n");
  ASSERT_TRUE(hidden);
  ASSERT_EQ(hidden->Keys.size(), 1u);
  EXPECT_EQ(hidden->Keys[0].Path, "-alo3");
  auto hiddenBack = ParseHive(FormatHive(*hidden));
  ASSERT_TRUE(hiddenBack);
  EXPECT_EQ(hiddenBack->Keys[0].Path, "-alo3");
  auto root = ParseHive("REGEDIT4\n[HKCU]\n\"v\"=\"1\"\n[HKEY_CURRENT_USER]\n\"w\"=\"2\"\n");
  ASSERT_TRUE(root);
  ASSERT_EQ(root->Keys.size(), 1u);
  EXPECT_EQ(root->Keys[0].Path, "");
}

TEST(HiveNames, KeyPathsAreNormalised) {
  EXPECT_EQ(NormalizeKeyPath("\\Software\\Brenwick\\Muralo\\3\\"), "Software\\Brenwick\\Muralo\\3");
  EXPECT_EQ(NormalizeKeyPath("A\\\\B"), "A\\B");
  EXPECT_EQ(NormalizeKeyPath("\\"), "");
  EXPECT_TRUE(SameRegistryName("Control Panel\\Desktop", "CONTROL PANEL\\desktop"));
  EXPECT_FALSE(SameRegistryName("Mosaïque", "MOSAÏQUE"));  // only ASCII folds
  EXPECT_FALSE(SameRegistryName("Apercu", "Apercu "));
}

}  // namespace
}  // namespace muralo
