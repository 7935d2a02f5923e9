#include "app/Wallpaper.h"

#include "classlib/Streams.h"

namespace muralo {

std::optional<TSize> WallpaperSize(std::optional<TSize> pictureSize, TSize screen, const TWallpaperOptions& options) {
  if (!options.Retaille) return pictureSize;
  if (!options.Proportions) return screen;
  float ratio = 1.0f;
  if (pictureSize && pictureSize->Height != 0)
    ratio = static_cast<float>(pictureSize->Width) / static_cast<float>(pictureSize->Height);
  // Only the comparison rounds the product to single precision; the sides themselves are
  // truncated from the exact (wider) product and quotient, so 1024 / 1.7777778f gives 575.
  const volatile float product = static_cast<float>(screen.Height) * ratio;
  if (static_cast<float>(screen.Width) >= product)
    return TSize{static_cast<int>(static_cast<double>(screen.Height) * static_cast<double>(ratio)), screen.Height};
  return TSize{screen.Width, static_cast<int>(static_cast<double>(screen.Width) / static_cast<double>(ratio))};
}

int NextEntryIndex(int count, int index, bool ordered, uint32_t random31) {
  if (count <= 0) return -1;
  if (ordered) {
    if (count == index + 1) index = -1;
    index = index + 1;
    return index < count && index >= 0 ? index : 0;
  }
  return static_cast<int>((random31 & 0x7FFFFFFFu) % static_cast<uint32_t>(count));
}

std::unique_ptr<TBitmap> RenderWallpaper(TGraphic* picture, TSize screen, const TWallpaperOptions& options,
                                         const std::optional<std::string>& caption, const TFont& captionFont) {
  if (!picture || picture->Empty()) return nullptr;
  std::optional<TSize> pictureSize = TSize{picture->Width(), picture->Height()};
  std::optional<TSize> size = WallpaperSize(pictureSize, screen, options);
  if (!size || size->Width <= 0 || size->Height <= 0) return nullptr;
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(TPixelFormat::pfDevice);
  bitmap->SetSize(size->Width, size->Height);
  TCanvas& canvas = bitmap->Canvas();
  if (options.Retaille)
    canvas.StretchDraw(TRect{0, 0, size->Width, size->Height}, *picture);
  else
    canvas.Draw(0, 0, *picture);
  if (options.Titre && caption) {
    canvas.Font = captionFont;
    canvas.TextOut(5, 5, *caption);
  }
  return bitmap;
}

std::string WallpaperPath(const std::string& windowsDirectory) {
  std::string path = windowsDirectory;
  if (path.empty() || path.back() != '/') path += '/';
  return path + "muralo.bmp";
}

bool ApplyWallpaper(TDesktopServices& desktop, TGraphic* picture, const TWallpaperOptions& options,
                    const std::optional<std::string>& caption, const TFont& captionFont) {
  const std::string path = WallpaperPath(desktop.WindowsDirectory());
  std::unique_ptr<TBitmap> bitmap = RenderWallpaper(picture, desktop.ScreenSize(), options, caption, captionFont);
  if (!bitmap) return false;
  // The file is written beside and renamed over the previous one: a disk that fills up leaves the
  // previous wallpaper whole, and the desktop is then not told of a new one. The bitmap outlives
  // the call, so that a desktop drawn by the program itself (the X root window) does not read the
  // file back.
  ReplaceFileContent(path, [&](TStream& file) { bitmap->SaveToStream(file); });
  desktop.SetDeskWallpaper(path, bitmap.get());
  return true;
}

}  // namespace muralo
