#pragma once
// The program's real services: the desktop through the platform layer, the pictures through the
// picture loader, the icons and the banner from the embedded resources.

#include <QIcon>
#include <QImage>

#include <memory>
#include <string>

#include "app/Wallpaper.h"
#include "classlib/Graphics.h"

namespace muralo {

class TSystemDesktop final : public TDesktopServices {
 public:
  TSize ScreenSize() override;
  std::string WindowsDirectory() override;
  void WriteTileWallpaper(bool tiled) override;
  void SetDeskWallpaper(const std::string& path, const TBitmap* picture) override;
};

// Resource names of the pictures embedded in the program (RCDATA).
inline constexpr const char* ResStoppedIcon = "IMAGE2";  // stopped timer, also the fallback picture
inline constexpr const char* ResRunningIcon = "IMAGE3";  // running timer
inline constexpr const char* ResSplashBanner = "SPLASH";

// A new picture object read from an embedded resource (TIcon for the icons, TBitmap for the banner).
std::unique_ptr<TGraphic> LoadResourceIcon(const char* name);
std::unique_ptr<TGraphic> LoadResourceBitmap(const char* name);
// The picture as a Qt icon / image, drawn through our own classes (alpha kept for icons).
QIcon ToQIcon(TGraphic& icon);

}  // namespace muralo
