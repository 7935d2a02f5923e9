#include "platform/Desktop.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "classlib/Bitmap.h"
#include "classlib/Streams.h"
#include "platform/Registry.h"
#include "platform/Report.h"
#include "platform/System.h"

namespace muralo {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string Lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::vector<std::string> SplitList(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// One desktop name of XDG_CURRENT_DESKTOP (or DESKTOP_SESSION), lower case.
std::optional<TDesktopKind> KindOfDesktopName(const std::string& name) {
  static const struct {
    const char* Name;
    TDesktopKind Kind;
  } table[] = {
      {"gnome", TDesktopKind::dkGnome},
      {"gnome-classic", TDesktopKind::dkGnome},
      {"gnome-flashback", TDesktopKind::dkGnome},
      {"ubuntu", TDesktopKind::dkGnome},
      {"unity", TDesktopKind::dkGnome},
      {"budgie", TDesktopKind::dkBudgie},
      {"budgie-desktop", TDesktopKind::dkBudgie},
      {"pantheon", TDesktopKind::dkGnome},
      {"pop", TDesktopKind::dkGnome},
      {"cosmic", TDesktopKind::dkGnome},
      {"x-cinnamon", TDesktopKind::dkCinnamon},
      {"cinnamon", TDesktopKind::dkCinnamon},
      {"mate", TDesktopKind::dkMate},
      {"kde", TDesktopKind::dkKde},
      {"plasma", TDesktopKind::dkKde},
      {"xfce", TDesktopKind::dkXfce},
      {"xfce4", TDesktopKind::dkXfce},
      {"sway", TDesktopKind::dkSway},
      {"wlroots", TDesktopKind::dkWlroots},
      {"hyprland", TDesktopKind::dkHyprland},
      {"river", TDesktopKind::dkWlroots},
      {"wayfire", TDesktopKind::dkWayfire},
      {"labwc", TDesktopKind::dkWlroots},
      {"niri", TDesktopKind::dkWlroots},
      {"lxde", TDesktopKind::dkLxde},
      {"lxqt", TDesktopKind::dkLxqt},
      {"i3", TDesktopKind::dkX11},
      {"openbox", TDesktopKind::dkX11},
      {"fluxbox", TDesktopKind::dkX11},
      {"icewm", TDesktopKind::dkX11},
      {"windowmaker", TDesktopKind::dkX11},
      {"awesome", TDesktopKind::dkX11},
      {"bspwm", TDesktopKind::dkX11},
      {"dwm", TDesktopKind::dkX11},
  };
  for (const auto& row : table)
    if (name == row.Name) return row.Kind;
  return std::nullopt;
}

// Names of the kinds, as MURALO_DESKTOP takes them.
constexpr struct {
  const char* Name;
  TDesktopKind Kind;
} kindNames[] = {
    {"x11", TDesktopKind::dkX11},         {"gnome", TDesktopKind::dkGnome},     {"cinnamon", TDesktopKind::dkCinnamon},
    {"mate", TDesktopKind::dkMate},       {"kde", TDesktopKind::dkKde},         {"xfce", TDesktopKind::dkXfce},
    {"lxde", TDesktopKind::dkLxde},       {"lxqt", TDesktopKind::dkLxqt},       {"budgie", TDesktopKind::dkBudgie},
    {"sway", TDesktopKind::dkSway},       {"wayfire", TDesktopKind::dkWayfire}, {"hyprland", TDesktopKind::dkHyprland},
    {"wlroots", TDesktopKind::dkWlroots},
};

}  // namespace

TDesktopEnvironment TDesktopEnvironment::FromProcess() {
  return {EnvOrEmpty("MURALO_DESKTOP"),
          EnvOrEmpty("XDG_CURRENT_DESKTOP"),
          EnvOrEmpty("DESKTOP_SESSION"),
          EnvOrEmpty("SWAYSOCK"),
          EnvOrEmpty("WAYLAND_DISPLAY"),
          EnvOrEmpty("DISPLAY"),
          EnvOrEmpty("HYPRLAND_INSTANCE_SIGNATURE")};
}

std::optional<TDesktopKind> DesktopKindFromName(const std::string& name) {
  const std::string lower = Lower(name);
  for (const auto& row : kindNames)
    if (lower == row.Name) return row.Kind;
  return std::nullopt;
}

const char* DesktopKindName(TDesktopKind kind) {
  for (const auto& row : kindNames)
    if (kind == row.Kind) return row.Name;
  return "none";
}

TDesktopKind DetectDesktop(const TDesktopEnvironment& env, bool* guessed) {
  if (guessed) *guessed = false;
  if (!env.MuraloDesktop.empty()) {
    if (std::optional<TDesktopKind> kind = DesktopKindFromName(env.MuraloDesktop)) return *kind;
    std::string known;
    for (const auto& row : kindNames) known += std::string(known.empty() ? "" : ", ") + row.Name;
    PlatformReport("MURALO_DESKTOP=" + env.MuraloDesktop + " inconnu (" + known + ")");
  }
  // XDG_CURRENT_DESKTOP is a colon-separated list, most specific first ("ubuntu:GNOME").
  for (const std::string& name : SplitList(Lower(env.XdgCurrentDesktop), ':'))
    if (std::optional<TDesktopKind> kind = KindOfDesktopName(name)) return *kind;
  if (!env.SwaySock.empty()) return TDesktopKind::dkSway;
  if (!env.HyprlandInstance.empty()) return TDesktopKind::dkHyprland;
  if (std::optional<TDesktopKind> kind = KindOfDesktopName(Lower(env.DesktopSession))) return *kind;
  // An unknown Wayland compositor without X is most likely a wlroots one; any X session without a
  // known desktop draws its background on the root window.
  if (guessed) *guessed = true;
  if (!env.Display.empty()) return TDesktopKind::dkX11;
  if (!env.WaylandDisplay.empty()) return TDesktopKind::dkWlroots;
  return TDesktopKind::dkNone;
}

TBackendDirs TBackendDirs::Default() {
  const TScreenSize screen = PrimaryScreenSize();
  return {GetWindowsDirectory(), muralo::RuntimeDir(), ConfigHome(), screen.Width, screen.Height};
}

std::string FileUri(const std::string& path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string uri = "file://";
  for (unsigned char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                 c == '_' || c == '~' || c == '/';
    if (plain) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

void SetDesktopWallpaper(const std::string& bmpFile, const std::string& registryFile, const TDesktopEnvironment& env,
                         TCommandRunner& runner, const TBackendDirs& dirs, const TBitmap* picture) {
  // As Windows does: the style is the string "TileWallpaper" of the desktop key; "1" tiles.
  TWallpaperStyle style = TWallpaperStyle::wsCentred;
  try {
    TRegistry registry(registryFile);
    if (registry.OpenKey("\\Control Panel\\Desktop", false) && registry.ReadString("TileWallpaper") == "1")
      style = TWallpaperStyle::wsTiled;
  } catch (const Exception&) {
    // A TileWallpaper of another type counts as absent: centred, the Windows default.
  }
  bool guessed = false;
  const TDesktopKind kind = DetectDesktop(env, &guessed);
  if (kind == TDesktopKind::dkNone) {
    PlatformReport(NoDesktopMessage);
    return;
  }
  if (guessed) {
    // Told once per process: the tray program changes the wallpaper many times.
    static std::once_flag told;
    std::call_once(told, [&] {
      const std::string seen = env.XdgCurrentDesktop.empty() ? env.DesktopSession : env.XdgCurrentDesktop;
      PlatformReport((seen.empty() ? std::string("bureau non reconnu") : "bureau « " + seen + " » non reconnu") +
                     " : fond d'écran posé par " +
                     (kind == TDesktopKind::dkX11 ? std::string("la fenêtre racine X11") : std::string("swaybg")));
    });
  }
  try {
    std::string absolute = std::filesystem::absolute(bmpFile).string();
    std::unique_ptr<TDesktopBackend> backend = CreateDesktopBackend(kind, runner, dirs, env.Display);
    if (picture)
      backend->ApplyPicture(absolute, *picture, style);
    else
      backend->Apply(absolute, style);
  } catch (const std::exception& error) {
    PlatformReport(std::string("fond d'écran non appliqué (") + DesktopKindName(kind) + ") : " + error.what());
  }
}

bool RefreshRootWallpaper(const std::string& bmpFile, const std::string& registryFile, const TDesktopEnvironment& env,
                          TCommandRunner& runner, const TBackendDirs& dirs) {
  if (DetectDesktop(env) != TDesktopKind::dkX11 || !std::filesystem::exists(bmpFile)) return false;
  SetDesktopWallpaper(bmpFile, registryFile, env, runner, dirs);
  return true;
}

bool SystemParametersInfo(unsigned action, unsigned /*param*/, const std::string& file, unsigned flags,
                          const TBitmap* picture) {
  if (action != SPI_SETDESKWALLPAPER) return false;
  const std::string hive = DefaultHiveFile();
  if (flags & SPIF_UPDATEINIFILE) {
    try {
      TRegistry registry(hive);
      // A hive write costs two fsyncs, and every change names the same file: the value is
      // written only when it is not that file already.
      if (registry.OpenKey("\\Control Panel\\Desktop", false) &&
          (registry.GetDataType("Wallpaper") != TRegDataType::rdString || registry.ReadString("Wallpaper") != file))
        registry.WriteString("Wallpaper", file);
    } catch (const Exception& error) {
      PlatformReport(error.what());
    }
  }
  SetDesktopWallpaper(file, hive, TDesktopEnvironment::FromProcess(), SystemCommandRunner(), TBackendDirs::Default(),
                      picture);
  return true;
}

}  // namespace muralo
