#pragma once
// The X11 root-window backend (used by CreateDesktopBackend).

#include <cstddef>
#include <memory>
#include <string>

#include "platform/Desktop.h"

namespace muralo {

// Reads the BMP file with the class library's bitmap reader and calls SetX11RootWallpaper; given
// the picture in memory, it takes that.
std::unique_ptr<TDesktopBackend> CreateX11Backend(const std::string& displayName);

// How SetX11RootWallpaper sends the screen to the server: in strips of at most StripBytes bytes
// (at least one row each), through MIT-SHM when SharedMemory is set and the server offers it,
// otherwise through the socket. Tests vary both.
struct TX11Upload {
  size_t StripBytes = size_t(1) << 20;
  bool SharedMemory = true;
};
void SetX11RootWallpaper(const TBitmap& picture, TWallpaperStyle style, const std::string& displayName,
                         const TX11Upload& upload);

}  // namespace muralo
