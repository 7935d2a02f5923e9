#pragma once
// The system facts the program asks Windows for: its data ("Windows") directory and the size of
// the primary screen. No toolkit here; the program may tell the screen size it knows.

#include <string>

namespace muralo {

// The user's XDG base directories (the variable, or its default
// under $HOME); never empty.
std::string ConfigHome();  // $XDG_CONFIG_HOME or ~/.config
std::string DataHome();    // $XDG_DATA_HOME or ~/.local/share
// $XDG_RUNTIME_DIR when set and usable, otherwise ConfigHome()/muralo.
std::string RuntimeDir();

// Muralo's own configuration directory ConfigHome()/muralo, created when missing.
std::string MuraloConfigDir();

// In place of GetWindowsDirectoryA: Muralo's data directory DataHome()/muralo (no trailing
// separator), created when missing. The program writes "muralo.bmp" there.
std::string GetWindowsDirectory();

// The file the wallpaper is written to: GetWindowsDirectory() + "/muralo.bmp".
std::string WallpaperFileName();

// GetSystemMetrics indices used by the program.
inline constexpr int SM_CXSCREEN = 0;
inline constexpr int SM_CYSCREEN = 1;

struct TScreenSize {
  int Width = 0;
  int Height = 0;
};

// The primary screen's size in pixels: the size set by SetScreenSize when there is one, otherwise
// the primary monitor of the X display $DISPLAY (RandR), or its whole screen, otherwise 1024 × 768.
TScreenSize PrimaryScreenSize();
// Tells the primary screen's size (the program passes its toolkit's primary screen; tests pin it).
// A width or height of 0 clears it.
void SetScreenSize(int width, int height);

// Whether an X display can be opened ("" = none); a short-lived connection.
bool CanOpenX11Display(const std::string& name);
// Whether a Wayland compositor listens on the socket named by WAYLAND_DISPLAY (a name under
// XDG_RUNTIME_DIR, or an absolute path).
bool HasWaylandSocket(const std::string& waylandDisplay, const std::string& runtimeDir);

// In place of GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN); 0 for any other index.
int GetSystemMetrics(int index);

}  // namespace muralo
