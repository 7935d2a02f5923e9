#pragma once
// The wallpaper change without any window: the size arithmetic, the rendering of a picture into the
// wallpaper bitmap, the next-entry rule, and the desktop services the change talks to.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"

namespace muralo {

struct TSize {
  int Width = 0, Height = 0;
  bool operator==(const TSize&) const = default;
};

// What the change needs from the desktop: the primary screen's size, the directory the wallpaper
// file goes to, the "TileWallpaper" value, and the wallpaper call itself.
class TDesktopServices {
 public:
  virtual ~TDesktopServices() = default;
  virtual TSize ScreenSize() = 0;
  virtual std::string WindowsDirectory() = 0;
  // Writes "TileWallpaper" ("1" tiled, "0" centred) under Control Panel\Desktop, without creating the key.
  virtual void WriteTileWallpaper(bool tiled) = 0;
  // SystemParametersInfo(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE); the result is not used.
  // picture is what the file holds, still in memory (null when it is not at hand): a desktop that
  // draws the picture itself takes it from there instead of reading the file back.
  virtual void SetDeskWallpaper(const std::string& path, const TBitmap* picture) = 0;
};

struct TWallpaperOptions {
  bool Retaille = false;     // stretch to the screen
  bool Proportions = false;  // keep the picture's proportions while stretching
  bool Titre = false;        // write the file name at (5, 5)
};

// Bitmap size for a picture of pictureSize (nullopt when the size cannot be read) on a screen.
// Keeping proportions: ratio = float(w) / h in single precision; the screen-height product is
// rounded to single precision for the comparison with the screen width; the side that does not
// equal the screen's is the product or quotient truncated toward zero. With no readable size the
// ratio is 1. Without stretch the bitmap is the picture's own size (nullopt without a size).
std::optional<TSize> WallpaperSize(std::optional<TSize> pictureSize, TSize screen, const TWallpaperOptions& options);

// The next selected index of the timer step: in order, the entry after index (the first after the
// last and when nothing is selected); otherwise random % count with random a non-negative 31-bit
// number. -1 for an empty list.
int NextEntryIndex(int count, int index, bool ordered, uint32_t random31);

// Draws the picture into a new bitmap of the display's format shaped by the options, with the
// caption in captionFont on the canvas's white brush when options.Titre and a caption is given.
// Returns null when there is no picture to draw (the wallpaper then stays as it was).
std::unique_ptr<TBitmap> RenderWallpaper(TGraphic* picture, TSize screen, const TWallpaperOptions& options,
                                         const std::optional<std::string>& caption, const TFont& captionFont);

// The path of the wallpaper file in a directory.
std::string WallpaperPath(const std::string& windowsDirectory);

// The whole change: render, write muralo.bmp into the directory through a temporary file renamed
// over the previous one, straight from the bitmap in one pass (errors propagate, the previous file
// stays whole and the wallpaper call is then not made), call the wallpaper with the file and the
// bitmap, release the bitmap. Returns false when nothing was drawn (no picture).
bool ApplyWallpaper(TDesktopServices& desktop, TGraphic* picture, const TWallpaperOptions& options,
                    const std::optional<std::string>& caption, const TFont& captionFont);

}  // namespace muralo
