#pragma once
// Helpers of the program's tests: temporary directories, oracle tools, a recording desktop.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Wallpaper.h"

namespace muralo::testing {

// A fresh directory under the system's temporary directory, removed at the end of the test.
class TTempDir {
 public:
  TTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "muralo-app-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    Path = pattern;
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(Path, ec);
  }
  std::string operator/(const std::string& name) const { return (Path / name).string(); }
  std::filesystem::path Path;
};

inline std::string ReadFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFileBytes(const std::string& name, const std::string& bytes) {
  std::ofstream out(name, std::ios::binary);
  out << bytes;
}

// Runs a shell command of an oracle tool; the test fails loudly when the tool is missing.
inline void RunOracle(const std::string& command) {
  const int status = std::system(command.c_str());
  ASSERT_EQ(status, 0) << "oracle command failed (is the tool installed?): " << command;
}

inline bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The pixels of a picture file as 8-bit RGB, decoded by ImageMagick.
struct TRgbImage {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
  const uint8_t* At(int x, int y) const { return &Rgb[(static_cast<size_t>(y) * Width + x) * 3]; }
};

inline TRgbImage DecodeWithImageMagick(const std::string& file) {
  TRgbImage image;
  const std::string ppm = file + ".oracle.ppm";
  const std::string cmd = "convert-im6.q16 '" + file + "' -depth 8 ppm:'" + ppm + "'";
  if (std::system(cmd.c_str()) != 0) {
    ADD_FAILURE() << "ImageMagick could not decode " << file;
    return image;
  }
  std::string bytes = ReadFileBytes(ppm);
  std::istringstream in(bytes);
  std::string magic;
  int maxval = 0;
  in >> magic >> image.Width >> image.Height >> maxval;
  in.get();
  image.Rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(in.tellg()), bytes.end());
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(image.Rgb.size(), static_cast<size_t>(image.Width) * image.Height * 3);
  std::filesystem::remove(ppm);
  return image;
}

// A desktop that records what the program asks of it.
class TRecordingDesktop final : public TDesktopServices {
 public:
  explicit TRecordingDesktop(std::string directory, TSize screen = {1024, 768})
      : Directory(std::move(directory)), Screen(screen) {}
  TSize ScreenSize() override { return Screen; }
  std::string WindowsDirectory() override { return Directory; }
  void WriteTileWallpaper(bool tiled) override { TileWrites.push_back(tiled ? "1" : "0"); }
  void SetDeskWallpaper(const std::string& path, const TBitmap*) override { WallpaperCalls.push_back(path); }

  std::string Directory;
  TSize Screen;
  std::vector<std::string> TileWrites;
  std::vector<std::string> WallpaperCalls;
};

}  // namespace muralo::testing
