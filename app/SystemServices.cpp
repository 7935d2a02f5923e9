#include "app/SystemServices.h"

#include <QPixmap>

#include <cstring>

#include "app/QtBridge.h"
#include "classlib/Bitmap.h"
#include "classlib/Icon.h"
#include "classlib/Resources.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace muralo {

TSize TSystemDesktop::ScreenSize() { return TSize{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

std::string TSystemDesktop::WindowsDirectory() { return GetWindowsDirectory(); }

void TSystemDesktop::WriteTileWallpaper(bool tiled) {
  TRegistry registry;
  if (registry.OpenKey("\\Control Panel\\Desktop", false)) {
    registry.WriteString("TileWallpaper", tiled ? "1" : "0");
    registry.CloseKey();
  }
}

void TSystemDesktop::SetDeskWallpaper(const std::string& path, const TBitmap* picture) {
  SystemParametersInfo(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE, picture);
}

std::unique_ptr<TGraphic> LoadResourceIcon(const char* name) {
  TResourceStream stream(HInstance(), name, RT_RCDATA);
  auto icon = std::make_unique<TIcon>();
  icon->LoadFromStream(stream);
  return icon;
}

std::unique_ptr<TGraphic> LoadResourceBitmap(const char* name) {
  TResourceStream stream(HInstance(), name, RT_RCDATA);
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->LoadFromStream(stream);
  return bitmap;
}

QIcon ToQIcon(TGraphic& graphic) {
  const int w = graphic.Width(), h = graphic.Height();
  QImage image(w, h, QImage::Format_ARGB32);
  if (auto* icon = dynamic_cast<TIcon*>(&graphic)) {
    // The icon's own pixels with their transparency (B, G, R, A rows, as Format_ARGB32 stores them).
    const std::vector<uint8_t>& px = icon->Pixels();
    for (int y = 0; y < h; ++y)
      std::memcpy(image.scanLine(y), px.data() + static_cast<size_t>(y) * static_cast<size_t>(w) * 4,
                  static_cast<size_t>(w) * 4);
  } else {
    image = RenderToQImage(graphic, w, h);
  }
  return QIcon(QPixmap::fromImage(image));
}

}  // namespace muralo
