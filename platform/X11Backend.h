#pragma once
// The X11 root-window backend (used by CreateDesktopBackend).

#include <memory>
#include <string>

#include "platform/Desktop.h"

namespace muralo {

// Reads the BMP file with the class library's bitmap reader and calls SetX11RootWallpaper.
std::unique_ptr<TDesktopBackend> CreateX11Backend(const std::string& displayName);

}  // namespace muralo
