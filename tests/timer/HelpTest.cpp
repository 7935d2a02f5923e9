// The help commands (which file they open) and the help file the build made.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/Help.h"
#include "kit/TestKit.h"
#include "platform/Shell.h"

namespace muralo {
namespace {

namespace fs = std::filesystem;

using test::TempDir;

void Touch(const fs::path& p) {
  fs::create_directories(p.parent_path());
  std::ofstream(p) << "x";
}

// The CHM where a viewer is registered for it, else the HTML pages, else nothing (the caller says so).
TEST(HelpCommands, OpenTheChmWithAViewerElseThePagesElseNothing) {
  TempDir dir;
  std::vector<std::string> opened;
  const THelpOpener record = [&](const std::string& target) { opened.push_back(target); };
  bool viewer = true;
  const TChmViewerQuery query = [&] { return viewer; };
  const std::string programDir = dir.Path.string() + "/";

  EXPECT_FALSE(OpenHelp(programDir, record, query));  // nothing installed
  Touch(dir.Path / "muralo.chm");
  viewer = false;
  EXPECT_FALSE(OpenHelp(programDir, record, query));  // a CHM nobody can show
  Touch(dir.Path / "aide" / "index.html");
  EXPECT_TRUE(OpenHelp(programDir, record, query));
  viewer = true;
  EXPECT_TRUE(OpenHelp(dir.Path.string(), record, query));  // no trailing separator
  OpenHelpOnHelp(record);

  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(fs::path(opened[0]), dir.Path / "aide" / "index.html");
  EXPECT_EQ(fs::path(opened[1]), dir.Path / "muralo.chm");
  EXPECT_EQ(opened[2], HelpOnHelpTarget);
}

// The desktop's associations decide: xdg-mime is asked for each CHM type in turn.
TEST(HelpCommands, AViewerIsOneTheDesktopNamesForTheChmType) {
  class TFakeRunner final : public TCommandRunner {
   public:
    int Run(const TCommandLine& argv, std::string* output) override {
      Calls.push_back(argv);
      if (output && argv.back() == Registered) *output = "xchm.desktop\n";
      return 0;
    }
    long Spawn(const TCommandLine&) override { return -1; }
    bool Terminate(long, const std::string&) override { return false; }
    bool IsRunning(long, const std::string&) override { return false; }
    void Sleep(int) override {}
    bool HasProgram(const std::string&) override { return true; }
    std::string Registered;
    std::vector<TCommandLine> Calls;
  } runner;
  EXPECT_FALSE(HasOpenerFor(ChmMimeTypes, runner));
  ASSERT_EQ(runner.Calls.size(), 2u);
  EXPECT_EQ(runner.Calls[0], (TCommandLine{"xdg-mime", "query", "default", "application/vnd.ms-htmlhelp"}));
  runner.Registered = "application/x-chm";
  EXPECT_TRUE(HasOpenerFor(ChmMimeTypes, runner));
}

// The HTML pages are built beside the program whether or not a CHM is compiled.
TEST(HelpFile, ThePagesAreBuiltBesideTheProgram) {
  const fs::path index(MURALO_HELP_PAGES);
  const fs::path pages = test::SourceDir() / "resources" / "help";
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(pages)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".html" && ext != ".css") continue;
    SCOPED_TRACE(entry.path().filename().string());
    EXPECT_EQ(test::FileBytes(index.parent_path() / entry.path().filename()), test::FileBytes(entry.path()));
    ++compared;
  }
  EXPECT_GE(compared, 6);
  EXPECT_EQ(index.filename(), "index.html");
  EXPECT_EQ(index.parent_path().filename(), "aide");
}

// An installed program (<prefix>/bin/muralo) finds the help in <prefix>/share/muralo; a help beside
// the program still comes first (here with a CHM viewer registered).
TEST(HelpCommands, AnInstalledProgramFindsTheSharedHelp) {
  TempDir prefix;
  const std::string bin = (prefix.Path / "bin").string() + "/";
  fs::create_directories(prefix.Path / "bin");
  Touch(prefix.Path / "share" / "muralo" / "aide" / "index.html");
  EXPECT_EQ(fs::path(HelpFile(bin, true)), prefix.Path / "share" / "muralo" / "aide" / "index.html");
  Touch(prefix.Path / "share" / "muralo" / "muralo.chm");
  EXPECT_EQ(fs::path(HelpFile(bin, true)), prefix.Path / "share" / "muralo" / "muralo.chm");
  Touch(prefix.Path / "bin" / "aide" / "index.html");
  EXPECT_EQ(fs::path(HelpFile(bin, true)), prefix.Path / "bin" / "aide" / "index.html");
}

// The build's help: a CHM from chmcmd (ITSF header, version 3, every page in its directory), or the
// HTML pages when no compiler was found. MURALO_HELP_FILE is defined by the build: what it made.
TEST(HelpFile, TheBuildMadeAValidHelp) {
  const fs::path help(MURALO_HELP_FILE);
  ASSERT_TRUE(fs::is_regular_file(help)) << help;
  const fs::path pages = test::SourceDir() / "resources" / "help";

  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(pages))
    if (entry.path().extension() == ".html") names.push_back(entry.path().filename().string());
  ASSERT_GE(names.size(), 5u);

  if (help.extension() != ".chm") {
    // HTML fallback: every page installed byte for byte.
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      EXPECT_EQ(test::FileBytes(help.parent_path() / name), test::FileBytes(pages / name));
    }
    GTEST_SKIP() << "no CHM compiler at build time; HTML pages checked";
  }

  const std::vector<uint8_t> chm = test::FileBytes(help);
  ASSERT_GE(chm.size(), 0x60u);
  // ITSF header: signature, version 3, header length 0x60.
  EXPECT_EQ(std::string(chm.begin(), chm.begin() + 4), "ITSF");
  auto le32 = [&](size_t at) {
    return uint32_t(chm[at]) | uint32_t(chm[at + 1]) << 8 | uint32_t(chm[at + 2]) << 16 | uint32_t(chm[at + 3]) << 24;
  };
  EXPECT_EQ(le32(4), 3u);
  EXPECT_EQ(le32(8), 0x60u);
  // The directory chunks (PMGL) name every file stored, uncompressed: each page is there.
  const std::string bytes(chm.begin(), chm.end());
  EXPECT_NE(bytes.find("ITSP"), std::string::npos);
  EXPECT_NE(bytes.find("PMGL"), std::string::npos);
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_NE(bytes.find("/" + name), std::string::npos);
  }
}

// An independent reader (chmlib's extract_chmLib) takes every file back out of the CHM: the pages,
// the style sheet and the contents must come out byte for byte as written.
TEST(HelpFile, ChmlibExtractsEveryPageUnchanged) {
  const fs::path help(MURALO_HELP_FILE);
  if (help.extension() != ".chm") GTEST_SKIP() << "no CHM compiler at build time";
  ASSERT_EQ(std::system("command -v extract_chmLib > /dev/null"), 0)
      << "extract_chmLib (Debian package libchm-bin) is needed to check the help file";
  const fs::path pages = test::SourceDir() / "resources" / "help";
  TempDir out;
  const std::string command = "extract_chmLib '" + help.string() + "' '" + (out.Path / "x").string() + "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(pages)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".html" && ext != ".css" && ext != ".hhc" && ext != ".hhk") continue;
    const std::string name = entry.path().filename().string();
    SCOPED_TRACE(name);
    ASSERT_TRUE(fs::is_regular_file(out.Path / "x" / name));
    EXPECT_EQ(test::FileBytes(out.Path / "x" / name), test::FileBytes(entry.path()));
    ++compared;
  }
  EXPECT_GE(compared, 12);
}

}  // namespace
}  // namespace muralo
