// muralo_embed_resources refuses, when the project is configured, entries that could not make a
// sound resource table. Each case configures a throw-away project (no compiler needed) and expects
// CMake to fail with the function's message; one sound project must configure.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kit/TestKit.h"

namespace {

namespace fs = std::filesystem;

struct Configured {
  int status;
  std::string output;
};

class EmbedProject : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream(Dir / "a.bin") << "abc";
    std::ofstream(Dir / "b.bin") << "de";
  }

  Configured Configure(const std::string& entries) {
    const fs::path module = muralo::test::SourceDir() / "cmake" / "EmbedResources.cmake";
    std::ofstream(Dir / "CMakeLists.txt")
        << "cmake_minimum_required(VERSION 3.25)\nproject(embed NONE)\n"
        << "include(\"" << module.string() << "\")\n"
        << "add_custom_target(program)\n"
        << "function(target_sources)\nendfunction()\nfunction(target_link_libraries)\nendfunction()\n"
        << "muralo_embed_resources(TARGET program ENTRIES " << entries << ")\n";
    const std::string command = std::string("'") + MURALO_CMAKE_COMMAND + "' -S '" + Dir.string() + "' -B '" +
                                (Dir / "build").string() + "' 2>&1";
    Configured result{-1, {}};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) result.output += buffer;
    result.status = pclose(pipe);
    return result;
  }

  muralo::test::TempDir Scratch;
  fs::path Dir = Scratch.Path;
};

TEST_F(EmbedProject, SoundEntriesConfigure) {
  const Configured c = Configure("RCDATA 1 a.bin RCDATA Splash b.bin ICON 1 a.bin 300 65535 b.bin");
  EXPECT_EQ(c.status, 0) << c.output;
  std::ifstream manifest(Dir / "build" / "program_resources" / "manifest.txt");
  std::string line;
  int lines = 0;
  while (std::getline(manifest, line)) ++lines;
  EXPECT_EQ(lines, 4);
}

TEST_F(EmbedProject, FaultyEntriesAreRefused) {
  struct Case {
    const char* name;
    const char* entries;
    const char* message;
  };
  const Case cases[] = {
      {"same id twice", "RCDATA 1 a.bin RCDATA 1 b.bin", "given twice"},
      {"names ignore case", "RCDATA Splash a.bin RCDATA SPLASH b.bin", "given twice"},
      {"id 0", "RCDATA 0 a.bin", "out of 1..65535"},
      {"id past 16 bits", "RCDATA 65536 a.bin", "out of 1..65535"},
      {"name with a blank", "RCDATA \"a b\" a.bin", "neither an id nor a resource name"},
      {"name with a quote", "RCDATA \"a\\\"b\" a.bin", "neither an id nor a resource name"},
      {"unknown type", "CURSOR 1 a.bin", "unknown resource type"},
      {"missing file", "RCDATA 1 missing.bin", "no file"},
      {"incomplete triple", "RCDATA 1 a.bin RCDATA 2", "triples"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Configured r = Configure(c.entries);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
    std::error_code ec;
    fs::remove_all(Dir / "build", ec);
  }
}

}  // namespace
