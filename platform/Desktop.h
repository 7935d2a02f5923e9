#pragma once
// The wallpaper call. In place of SystemParametersInfoA(SPI_SETDESKWALLPAPER, ...): the picture
// file is handed to the running desktop through the backend that fits it. As on Windows, whether
// it is tiled or centred comes from the string value "TileWallpaper" of "Control Panel\Desktop"
// in the settings hive ("1" tiled, anything else centred).
//
// The backend is chosen from $MURALO_DESKTOP when set (x11, gnome, cinnamon, mate, kde, xfce, lxde,
// lxqt, budgie, sway, wayfire, hyprland or wlroots), otherwise from $XDG_CURRENT_DESKTOP (and
// $SWAYSOCK / $HYPRLAND_INSTANCE_SIGNATURE / $WAYLAND_DISPLAY / $DISPLAY). A backend that cannot
// apply the picture says why through the platform's reporter (platform/Report.h).

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/Process.h"

namespace muralo {

class TBitmap;

enum class TDesktopKind {
  dkNone,
  dkX11,
  dkGnome,
  dkCinnamon,
  dkMate,
  dkKde,
  dkXfce,
  dkLxde,      // pcmanfm --desktop
  dkLxqt,      // pcmanfm-qt --desktop
  dkBudgie,    // GNOME's keys, drawn without picture-options on Wayland
  dkSway,      // sway's own "output * bg"
  dkWayfire,   // wf-shell's wf-background
  dkHyprland,  // hyprpaper
  dkWlroots,   // any other wlroots compositor: a swaybg of our own
};

enum class TWallpaperStyle { wsCentred, wsTiled };

// The environment the detection looks at (only these names are read).
struct TDesktopEnvironment {
  std::string MuraloDesktop;          // MURALO_DESKTOP
  std::string XdgCurrentDesktop;      // XDG_CURRENT_DESKTOP
  std::string DesktopSession;         // DESKTOP_SESSION
  std::string SwaySock;               // SWAYSOCK
  std::string WaylandDisplay;         // WAYLAND_DISPLAY
  std::string Display;                // DISPLAY
  std::string HyprlandInstance = {};  // HYPRLAND_INSTANCE_SIGNATURE
  static TDesktopEnvironment FromProcess();
};

// Which backend serves this environment (dkNone: no desktop to talk to). *guessed is set when no
// name of the environment was recognised and the kind is only a guess from the display variables.
TDesktopKind DetectDesktop(const TDesktopEnvironment& env, bool* guessed = nullptr);
// The backend named by a MURALO_DESKTOP value, case-insensitive; empty for an unknown name.
std::optional<TDesktopKind> DesktopKindFromName(const std::string& name);
const char* DesktopKindName(TDesktopKind kind);

// Told when neither X11 nor Wayland is there to show a wallpaper.
inline constexpr const char* NoDesktopMessage = "aucun bureau connu (ni X11 ni Wayland) : fond d'écran non appliqué";

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
  // The same with the file's picture at hand in memory: a backend that draws the picture itself
  // takes it from there instead of reading the file back; the others hand over the file.
  virtual void ApplyPicture(const std::string& bmpFile, const TBitmap& /*picture*/, TWallpaperStyle style) {
    Apply(bmpFile, style);
  }
};

// Where a backend keeps its own files (KDE's fresh copies, swaybg's process id, wf-shell.ini) and
// the screen size it composes full-screen pictures for. Defaults to GetWindowsDirectory(),
// RuntimeDir(), ConfigHome() and PrimaryScreenSize().
struct TBackendDirs {
  std::string DataDir;
  std::string RuntimeDir;
  std::string ConfigDir;
  int ScreenWidth = 0, ScreenHeight = 0;
  static TBackendDirs Default();
};

// The command-driven backends run everything through runner; the X11 backend talks to the X server
// of displayName ("" = $DISPLAY).
std::unique_ptr<TDesktopBackend> CreateDesktopBackend(TDesktopKind kind, TCommandRunner& runner,
                                                      const TBackendDirs& dirs, const std::string& displayName = "");

// The X11 root-window wallpaper, for tests and for the program: fills a screen-sized pixmap with the
// picture on every monitor (RandR monitors, or the whole screen without them): tiled from the
// monitor's top-left, or centred on black, cut where it is larger than the monitor. It becomes the
// root window's background, clears the root, names it in _XROOTPMAP_ID and
// ESETROOT_PMAP_ID and keeps it after this process ends; the previous setter's pixmap is freed.
// Raises EDesktopError when the display cannot be opened.
void SetX11RootWallpaper(const TBitmap& picture, TWallpaperStyle style, const std::string& displayName = "");

// A rectangle of the screen that shows the picture once: one monitor.
struct TMonitorArea {
  int X = 0, Y = 0, Width = 0, Height = 0;
};

// A full-screen picture of width × height, 32 bits per pixel: on each monitor area (the whole
// screen when there is none) the picture tiled from the area's top-left, or centred on black and
// cut to the area. The root window is composed the same way; desktops that only stretch or zoom
// what they are given get this picture.
void ComposeScreenPicture(const TBitmap& picture, TWallpaperStyle style, int width, int height, TBitmap& screen,
                          const std::vector<TMonitorArea>& monitors = {});

// "file:///..." for an absolute path, percent-encoding every byte outside the unreserved set and '/'.
std::string FileUri(const std::string& path);

// SystemParametersInfoA action and flag used by the program.
inline constexpr unsigned SPI_SETDESKWALLPAPER = 20;
inline constexpr unsigned SPIF_UPDATEINIFILE = 1;
inline constexpr unsigned SPIF_SENDWININICHANGE = 2;

// SystemParametersInfoA(SPI_SETDESKWALLPAPER, 0, file, flags): reads "TileWallpaper", records the
// file as "Wallpaper" of "Control Panel\Desktop" when SPIF_UPDATEINIFILE is given, and applies the
// file through the detected backend (failures go to the platform's reporter). Other actions do nothing and give false.
// picture, when given, is the file's picture still in memory (see TDesktopBackend::ApplyPicture).
bool SystemParametersInfo(unsigned action, unsigned param, const std::string& file, unsigned flags,
                          const TBitmap* picture = nullptr);

// After the screen changed (RandR): the root-window wallpaper is laid out again from the BMP file
// when the desktop is one whose background is the root window; other desktops place their own.
// False when nothing was done (another desktop, or no file).
bool RefreshRootWallpaper(const std::string& bmpFile, const std::string& registryFile, const TDesktopEnvironment& env,
                          TCommandRunner& runner, const TBackendDirs& dirs);

// The same with everything injected (tests): the hive's TileWallpaper is read from registryFile.
void SetDesktopWallpaper(const std::string& bmpFile, const std::string& registryFile, const TDesktopEnvironment& env,
                         TCommandRunner& runner, const TBackendDirs& dirs, const TBitmap* picture = nullptr);

}  // namespace muralo
