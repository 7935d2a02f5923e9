#include "platform/System.h"

// Xlib last: its macros must not reach our headers.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// XDG base directories: a relative value is invalid and is ignored.
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

// The primary monitor through RandR 1.3: the output marked primary, or else the lit output at the
// origin, or else the first lit one. False when the server has no RandR 1.3 or no lit output.
bool PrimaryMonitorSize(Display* display, TScreenSize& size) {
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor) || major < 1 ||
      (major == 1 && minor < 3))
    return false;
  const Window root = DefaultRootWindow(display);
  XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
  if (!resources) return false;
  struct TLit {
    int X, Y, Width, Height;
  };
  auto litOutput = [&](RROutput output, TLit& lit) {
    bool found = false;
    if (XRROutputInfo* info = XRRGetOutputInfo(display, resources, output)) {
      if (info->crtc != None) {
        if (XRRCrtcInfo* crtc = XRRGetCrtcInfo(display, resources, info->crtc)) {
          if (crtc->width > 0 && crtc->height > 0) {
            lit = {crtc->x, crtc->y, static_cast<int>(crtc->width), static_cast<int>(crtc->height)};
            found = true;
          }
          XRRFreeCrtcInfo(crtc);
        }
      }
      XRRFreeOutputInfo(info);
    }
    return found;
  };
  TLit lit{};
  bool found = false;
  if (RROutput primary = XRRGetOutputPrimary(display, root); primary != None) found = litOutput(primary, lit);
  for (int pass = 0; pass < 2 && !found; ++pass)
    for (int i = 0; i < resources->noutput && !found; ++i)
      found = litOutput(resources->outputs[i], lit) && (pass == 1 || (lit.X == 0 && lit.Y == 0));
  XRRFreeScreenResources(resources);
  if (found) size = {lit.Width, lit.Height};
  return found;
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
  // Without a toolkit: the primary monitor of $DISPLAY (or its whole screen), through a short-lived
  // connection.
  if (!EnvOrEmpty("DISPLAY").empty()) {
    if (Display* display = XOpenDisplay(nullptr)) {
      TScreenSize size{DisplayWidth(display, DefaultScreen(display)), DisplayHeight(display, DefaultScreen(display))};
      PrimaryMonitorSize(display, size);
      XCloseDisplay(display);
      if (size.Width > 0 && size.Height > 0) return size;
    }
  }
  return {1024, 768};
}

bool CanOpenX11Display(const std::string& name) {
  if (name.empty()) return false;
  Display* display = XOpenDisplay(name.c_str());
  if (!display) return false;
  XCloseDisplay(display);
  return true;
}

bool HasWaylandSocket(const std::string& waylandDisplay, const std::string& runtimeDir) {
  if (waylandDisplay.empty()) return false;
  const std::string path = waylandDisplay.front() == '/' ? waylandDisplay : runtimeDir + "/" + waylandDisplay;
  if (runtimeDir.empty() && waylandDisplay.front() != '/') return false;
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool listening = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return listening;
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
