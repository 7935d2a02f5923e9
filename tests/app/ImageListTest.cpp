// The ".que" list files.
#include <gtest/gtest.h>

#include "app/ImageList.h"
#include "classlib/Exception.h"
#include "tests/app/TestSupport.h"

using namespace muralo;
using muralo::test::FileText;
using muralo::test::TempDir;
using muralo::test::WriteText;

namespace {

struct ParseCase {
  const char* Name;
  std::string Text;
  TEntryList Entries;
};

TEST(ImageList, LineEndsAndNul) {
  const ParseCase cases[] = {
      {"CR LF", "a\r\nb\r\nc\r\n", {"a", "b", "c"}},
      {"LF only", "a\nb\nc\n", {"a", "b", "c"}},
      {"lone CR", "a\rb\rc", {"a", "b", "c"}},
      {"mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"last line without end", "/x/1.png\r\n/x/2.png", {"/x/1.png", "/x/2.png"}},
      {"blank line in the middle", "a\r\n\r\nb\r\n", {"a", "", "b"}},
      {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
      {"NUL ends the text", std::string("a\r\nb\0c\r\nd\r\n", 11), {"a", "b"}},
      {"NUL at the start", std::string("\0a\r\n", 4), {}},
      {"empty file", "", {}},
      {"one blank line", "\r\n", {""}},
      {"spaces kept", " a b \r\n", {" a b "}},
      {"bytes kept", "\xe9t\xe9.png\r\n", {"\xe9t\xe9.png"}},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ParseListText(c.Text), c.Entries);
  }
}

TEST(ImageList, ThreeEntriesGiveThreeCrLfLines) {
  EXPECT_EQ(FormatListText({"/a.bmp", "/b c.png", ""}), "/a.bmp\r\n/b c.png\r\n\r\n");
  EXPECT_EQ(FormatListText({}), "");
}

TEST(ImageList, FileRoundTripAndExactBytes) {
  TempDir dir;
  const std::string name = dir / "liste.que";
  const TEntryList entries = {"/images/un.bmp", "/images/deux.png", "/images/trois.tga"};
  WriteListFile(name, entries);
  EXPECT_EQ(FileText(name), "/images/un.bmp\r\n/images/deux.png\r\n/images/trois.tga\r\n");
  EXPECT_EQ(ReadListFile(name), entries);
  // No temporary file stays beside it.
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path)) ++files;
  EXPECT_EQ(files, 1);
}

TEST(ImageList, WritingReplacesAnEarlierFileWhole) {
  TempDir dir;
  const std::string name = dir / "liste.que";
  WriteText(name, std::string(10000, 'x'));
  WriteListFile(name, {"a"});
  EXPECT_EQ(FileText(name), "a\r\n");
}

TEST(ImageList, VeryLongLinesSurvive) {
  TempDir dir;
  const std::string name = dir / "long.que";
  const TEntryList entries = {std::string(1 << 20, 'p'), "short", std::string(70000, 'q')};
  WriteListFile(name, entries);
  EXPECT_EQ(ReadListFile(name), entries);
}

TEST(ImageList, AFailedWriteLeavesTheOldListUntouched) {
  TempDir dir;
  WriteText(dir / "plain", "x");
  // The folder is a plain file: nothing can be created there.
  EXPECT_THROW(WriteListFile(dir / "plain/liste.que", {"a"}), EStreamError);
  // The target is a directory: the rename fails and the temporary file goes away.
  std::filesystem::create_directory(dir.Path / "liste.que");
  EXPECT_THROW(WriteListFile(dir / "liste.que", {"a"}), EStreamError);
  int files = 0;
  for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator(dir.Path)) ++files;
  EXPECT_EQ(files, 2);
}

TEST(ImageList, AMissingFileRaisesTheOpenError) {
  TempDir dir;
  EXPECT_THROW(ReadListFile(dir / "none.que"), EFOpenError);
}

TEST(ImageList, SortedOrderIgnoresCase) {
  TEntryList sorted = {"/a/Beta.png", "/a/alpha.png", "/a/GAMMA.png", "/a/delta.png"};
  std::stable_sort(sorted.begin(), sorted.end(), ListTextLess);
  EXPECT_EQ(sorted, (TEntryList{"/a/alpha.png", "/a/Beta.png", "/a/delta.png", "/a/GAMMA.png"}));
  EXPECT_EQ(SortedInsertPosition(sorted, "/a/CHARLIE.png"), 2u);
  EXPECT_EQ(SortedInsertPosition(sorted, "/a/zz"), 4u);
  EXPECT_EQ(SortedInsertPosition(sorted, "/"), 0u);
}

// Entries that are not UTF-8 are shown as Windows-1252; Python's cp1252 codec is the oracle for the
// 251 bytes it defines, the five others stand for the C1 controls of the same number.
TEST(EntryDisplayText, NonUtf8BytesReadAsWindows1252) {
  TempDir dir;
  std::string bytes = "/images/";
  for (int b = 0x20; b <= 0xFF; ++b)
    if (b != 0x7F && b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) bytes += static_cast<char>(b);
  WriteText(dir / "cp1252", bytes);
  const std::string decoded = dir / "utf8";
  muralo::test::RunTool(muralo::test::kPython +
                        " -c \"import sys; open(sys.argv[2], 'w', encoding='utf-8', newline='')"
                        ".write(open(sys.argv[1], 'rb').read().decode('cp1252'))\" '" +
                        (dir / "cp1252") + "' '" + decoded + "'");
  EXPECT_EQ(EntryDisplayText(bytes), FileText(decoded));
  EXPECT_EQ(EntryDisplayText("/x/\x81\x8D\x8F\x90\x9D"), "/x/\u0081\u008D\u008F\u0090\u009D");
}

TEST(EntryDisplayText, ValidUtf8IsShownAsItIs) {
  const struct {
    const char* Name;
    std::string Bytes, Shown;
  } cases[] = {
      {"ASCII", "/a/b.png", "/a/b.png"},
      {"UTF-8 accents", "/été/ñ.png", "/été/ñ.png"},
      {"UTF-8 four-byte", "/\xF0\x9F\x98\x80.png", "/\xF0\x9F\x98\x80.png"},
      {"Windows-1252 été", "/\xE9t\xE9.png", "/été.png"},
      {"overlong slash is not UTF-8", "/\xC0\xAF", "/À¯"},
      {"surrogate is not UTF-8", "\xED\xA0\x80", "í\u00A0€"},
      {"cut sequence is not UTF-8", "/\xC3", "/Ã"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(EntryDisplayText(c.Bytes), c.Shown);
  }
}

}  // namespace
