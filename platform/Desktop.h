#pragma once
// The wallpaper call. In place of SystemParametersInfoA(SPI_SETDESKWALLPAPER, ...): the picture
// file is handed to the running desktop through the backend that fits it. As on Windows, whether
// it is tiled or centred comes from the string value "TileWallpaper" of "Control Panel\Desktop"
// in the settings hive ("1" tiled, anything else centred).
//
// The backend is chosen from $MURALO_DESKTOP when set (x11, gnome, cinnamon, mate, kde, xfce, sway
// or wlroots), otherwise from $XDG_CURRENT_DESKTOP (and $SWAYSOCK / $WAYLAND_DISPLAY / $DISPLAY).
// A backend that cannot apply the picture says why on stderr; the call itself reports nothing.

#include <stdexcept>
#include <memory>
#include <optional>
#include <string>

#include "platform/Process.h"

namespace muralo {

class TBitmap;

enum class TDesktopKind { dkNone, dkX11, dkGnome, dkCinnamon, dkMate, dkKde, dkXfce, dkWlroots };

enum class TWallpaperStyle { wsCentred, wsTiled };

// The environment the detection looks at (only these names are read).
struct TDesktopEnvironment {
  std::string MuraloDesktop;      // MURALO_DESKTOP
  std::string XdgCurrentDesktop;  // XDG_CURRENT_DESKTOP
  std::string DesktopSession;     // DESKTOP_SESSION
  std::string SwaySock;           // SWAYSOCK
  std::string WaylandDisplay;     // WAYLAND_DISPLAY
  std::string Display;            // DISPLAY
  static TDesktopEnvironment FromProcess();
};

// Which backend serves this environment (dkNone: no desktop to talk to).
TDesktopKind DetectDesktop(const TDesktopEnvironment& env);
// The backend named by a MURALO_DESKTOP value, case-insensitive ("sway" and "wlroots" are the same);
// empty for an unknown name.
std::optional<TDesktopKind> DesktopKindFromName(const std::string& name);
const char* DesktopKindName(TDesktopKind kind);

// A backend failed: the message says why, for stderr.
class EDesktopError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TDesktopBackend {
public:
  virtual ~TDesktopBackend() = default;
  virtual TDesktopKind Kind() const = 0;
  // Shows the BMP file bmpFile (absolute path) as the wallpaper; raises EDesktopError on failure.
  virtual void Apply(const std::string& bmpFile, TWallpaperStyle style) = 0;
};

// Where a backend keeps its own files (KDE's fresh copies, swaybg's process id). Defaults to
// GetWindowsDirectory() and RuntimeDir().
struct TBackendDirs {
  std::string DataDir;
  std::string RuntimeDir;
  static TBackendDirs Default();
};

// The command-driven backends (GNOME, Cinnamon, MATE, KDE, Xfce, wlroots) run everything through
// runner; the X11 backend talks to the X server of displayName ("" = $DISPLAY).
std::unique_ptr<TDesktopBackend> CreateDesktopBackend(TDesktopKind kind, TCommandRunner& runner,
                                                      const TBackendDirs& dirs,
                                                      const std::string& displayName = "");

// The X11 root-window wallpaper, for tests and for the program: fills a screen-sized pixmap with the
// picture (tiled from the top-left, or centred on black, cut where it is larger than the screen),
// makes it the root window's background, clears the root, names it in _XROOTPMAP_ID and
// ESETROOT_PMAP_ID and keeps it after this process ends; the previous setter's pixmap is freed.
// Raises EDesktopError when the display cannot be opened.
void SetX11RootWallpaper(const TBitmap& picture, TWallpaperStyle style, const std::string& displayName = "");

// "file:///..." for an absolute path, percent-encoding every byte outside the unreserved set and '/'.
std::string FileUri(const std::string& path);

// SystemParametersInfoA action and flag used by the program.
inline constexpr unsigned SPI_SETDESKWALLPAPER = 20;
inline constexpr unsigned SPIF_UPDATEINIFILE = 1;
inline constexpr unsigned SPIF_SENDWININICHANGE = 2;

// SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, file, flags): reads "TileWallpaper", records the
// file as "Wallpaper" of "Control Panel\Desktop" when SPIF_UPDATEINIFILE is given, and applies the
// file through the detected backend (failures go to stderr). Other actions do nothing and give false.
bool SystemParametersInfo(unsigned action, unsigned param, const std::string& file, unsigned flags);

// The same with everything injected (tests): the hive's TileWallpaper is read from registryFile.
void SetDesktopWallpaper(const std::string& bmpFile, const std::string& registryFile,
                         const TDesktopEnvironment& env, TCommandRunner& runner, const TBackendDirs& dirs);

}  // namespace muralo
