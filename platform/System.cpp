#include "platform/System.h"

#include <X11/Xlib.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace muralo {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeDir() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return "/";
}

// The XDG base directory specification: a relative value is invalid and is ignored.
std::string XdgDir(const char* variable, const char* fallbackBelowHome) {
  std::string value = EnvOrEmpty(variable);
  if (!value.empty() && value.front() == '/') return value;
  return HomeDir() + "/" + fallbackBelowHome;
}

// Creates the directory and its parents; a failure is left to the caller's next file operation,
// which reports it with the file's own name.
std::string Ensured(const std::string& dir) {
  std::error_code ignored;
  std::filesystem::create_directories(dir, ignored);
  return dir;
}

std::mutex screenMutex;
TScreenSize screenOverride;

}  // namespace

std::string ConfigHome() { return XdgDir("XDG_CONFIG_HOME", ".config"); }
std::string DataHome() { return XdgDir("XDG_DATA_HOME", ".local/share"); }

std::string RuntimeDir() {
  // XDG: the runtime directory must be owned by the user with mode 0700; otherwise fall back.
  std::string value = EnvOrEmpty("XDG_RUNTIME_DIR");
  struct stat st {};
  if (!value.empty() && value.front() == '/' && stat(value.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
      st.st_uid == getuid() && (st.st_mode & 077) == 0)
    return value;
  return MuraloConfigDir();
}

std::string MuraloConfigDir() { return Ensured(ConfigHome() + "/muralo"); }

std::string GetWindowsDirectory() { return Ensured(DataHome() + "/muralo"); }

std::string WallpaperFileName() { return GetWindowsDirectory() + "/muralo.bmp"; }

void SetScreenSize(int width, int height) {
  std::lock_guard lock(screenMutex);
  if (width <= 0 || height <= 0)
    screenOverride = {};
  else
    screenOverride = {width, height};
}

TScreenSize PrimaryScreenSize() {
  {
    std::lock_guard lock(screenMutex);
    if (screenOverride.Width > 0) return screenOverride;
  }
  // Without a toolkit: the default screen of $DISPLAY, through a short-lived connection.
  if (!EnvOrEmpty("DISPLAY").empty()) {
    if (Display* display = XOpenDisplay(nullptr)) {
      TScreenSize size{DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))};
      XCloseDisplay(display);
      if (size.Width > 0 && size.Height > 0) return size;
    }
  }
  return {1024, 768};
}

int GetSystemMetrics(int index) {
  switch (index) {
    case SM_CXSCREEN:
      return PrimaryScreenSize().Width;
    case SM_CYSCREEN:
      return PrimaryScreenSize().Height;
    default:
      return 0;
  }
}

}  // namespace muralo
