#pragma once
// Helpers of the program's tests: a recording desktop (the rest comes from the test kit).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Wallpaper.h"
#include "kit/TestKit.h"

namespace muralo::testing {

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
