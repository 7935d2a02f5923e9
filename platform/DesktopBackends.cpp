// The desktop backends that work through the desktops' own documented commands.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "platform/Desktop.h"
#include "platform/X11Backend.h"

namespace muralo {

namespace {

namespace fs = std::filesystem;

std::string Joined(const TCommandLine& argv) {
  std::string text;
  for (const std::string& arg : argv) {
    if (!text.empty()) text += ' ';
    text += arg;
  }
  return text;
}

// Runs a command that must succeed.
void RunChecked(TCommandRunner& runner, const TCommandLine& argv, std::string* output = nullptr) {
  // What the commands print on success (dbus-send's reply, for one) is not the program's output.
  std::string ignored;
  int status = runner.Run(argv, output ? output : &ignored);
  if (status == -1) throw EDesktopError(Format("%s ne peut pas être lancé", argv.front()));
  if (status != 0) throw EDesktopError(Format("« %s » a échoué (code %d)", Joined(argv), status));
}

// The GSettings desktops (GNOME, Cinnamon) name the picture by URI and the placement by
// "wallpaper" (tiled) or "centered".
class TGSettingsBackend final : public TDesktopBackend {
 public:
  TGSettingsBackend(TDesktopKind kind, TCommandRunner& runner) : FKind(kind), FRunner(runner) {}
  TDesktopKind Kind() const override { return FKind; }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    const std::string options = style == TWallpaperStyle::wsTiled ? "wallpaper" : "centered";
    switch (FKind) {
      case TDesktopKind::dkGnome: {
        const std::string schema = "org.gnome.desktop.background";
        const std::string uri = FileUri(bmpFile);
        RunChecked(FRunner, {"gsettings", "set", schema, "picture-options", options});
        RunChecked(FRunner, {"gsettings", "set", schema, "picture-uri", uri});
        // GNOME 42 and later show picture-uri-dark in the dark style; older ones lack the key, which
        // is no failure.
        std::string ignored;
        FRunner.Run({"gsettings", "set", schema, "picture-uri-dark", uri}, &ignored);
        break;
      }
      case TDesktopKind::dkCinnamon: {
        const std::string schema = "org.cinnamon.desktop.background";
        RunChecked(FRunner, {"gsettings", "set", schema, "picture-options", options});
        RunChecked(FRunner, {"gsettings", "set", schema, "picture-uri", FileUri(bmpFile)});
        break;
      }
      default: {  // MATE names the picture by a plain path
        const std::string schema = "org.mate.background";
        RunChecked(FRunner, {"gsettings", "set", schema, "picture-options", options});
        RunChecked(FRunner, {"gsettings", "set", schema, "picture-filename", bmpFile});
        break;
      }
    }
  }

 private:
  TDesktopKind FKind;
  TCommandRunner& FRunner;
};

// Desktops that keep a picture by its file name and do not look again at a name they already show
// (Plasma, xfdesktop) get a fresh copy under a new name at every change; the copies of earlier
// changes are removed once the new one is in place.
class TFreshCopies {
 public:
  TFreshCopies(std::string dir, std::string prefix) : FDir(std::move(dir)), FPrefix(std::move(prefix)) {}

  std::string Make(const std::string& bmpFile) const {
    std::error_code error;
    fs::create_directories(FDir, error);
    const auto stamp =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    std::string name;
    for (int n = 0;; ++n) {
      name = FDir + "/" + FPrefix + std::to_string(stamp) + (n ? "-" + std::to_string(n) : "") + ".bmp";
      if (!fs::exists(name)) break;
    }
    if (!fs::copy_file(bmpFile, name, error))
      throw EDesktopError(Format("copie de %s impossible : %s", bmpFile, error.message()));
    return name;
  }

  // Makes a fresh copy and hands it to the desktop; on success the earlier copies go, on failure
  // the new one does (the desktop still shows an earlier one).
  void Show(const std::string& bmpFile, const std::function<void(const std::string& copy)>& hand) {
    const std::string copy = Make(bmpFile);
    try {
      hand(copy);
    } catch (...) {
      std::error_code ignored;
      fs::remove(copy, ignored);
      throw;
    }
    RemoveAllBut(copy);
  }

 private:
  // Removes every copy except keep.
  void RemoveAllBut(const std::string& keep) {
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(FDir, error)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(FPrefix, 0) == 0 && entry.path().extension() == ".bmp" && entry.path().string() != keep)
        fs::remove(entry.path(), error);
    }
  }

  std::string FDir, FPrefix;
};

// A JavaScript string literal.
std::string JsString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// KDE Plasma: a desktop script through org.kde.PlasmaShell.evaluateScript, for every desktop
// (one per screen and activity). FillMode follows Qt's QQuickImage::FillMode: 3 Tile, 6 Pad (centred).
class TPlasmaBackend final : public TDesktopBackend {
 public:
  TPlasmaBackend(TCommandRunner& runner, const TBackendDirs& dirs)
      : FRunner(runner), FCopies(dirs.DataDir, "muralo-kde-") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkKde; }

  static std::string Script(const std::string& uri, TWallpaperStyle style) {
    const char* fillMode = style == TWallpaperStyle::wsTiled ? "3" : "6";
    return "var all = desktops();"
           " for (var i = 0; i < all.length; i++) {"
           " var d = all[i];"
           " d.wallpaperPlugin = \"org.kde.image\";"
           " d.currentConfigGroup = Array(\"Wallpaper\", \"org.kde.image\", \"General\");"
           " d.writeConfig(\"Image\", " +
           JsString(uri) +
           ");"
           " d.writeConfig(\"FillMode\", " +
           fillMode +
           ");"
           " }";
  }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    FCopies.Show(bmpFile, [&](const std::string& copy) {
      RunChecked(FRunner,
                 {"dbus-send", "--session", "--type=method_call", "--print-reply", "--dest=org.kde.plasmashell",
                  "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript", "string:" + Script(FileUri(copy), style)});
    });
  }

 private:
  TCommandRunner& FRunner;
  TFreshCopies FCopies;
};

// Xfce: every backdrop (one per monitor and workspace) that xfdesktop has made names its picture in
// /backdrop/screenN/monitorM/workspaceK/last-image, beside its image-style (1 centred, 2 tiled).
class TXfceBackend final : public TDesktopBackend {
 public:
  TXfceBackend(TCommandRunner& runner, const TBackendDirs& dirs)
      : FRunner(runner), FCopies(dirs.DataDir, "muralo-xfce-") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkXfce; }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    std::string listing;
    RunChecked(FRunner, {"xfconf-query", "-c", "xfce4-desktop", "-l"}, &listing);
    std::vector<std::string> images;
    size_t start = 0;
    while (start < listing.size()) {
      size_t end = listing.find('\n', start);
      if (end == std::string::npos) end = listing.size();
      std::string line = listing.substr(start, end - start);
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      const std::string suffix = "/last-image";
      if (line.rfind("/backdrop/", 0) == 0 && line.size() > suffix.size() &&
          line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0)
        images.push_back(line);
      start = end + 1;
    }
    // Before xfdesktop has run (a change made at login may come first) there are none yet: the first
    // workspace's backdrop of every monitor is named as xfdesktop names it (monitor<RandR name>), and
    // xfdesktop takes it when it starts.
    const bool create = images.empty();
    if (create) images = FirstWorkspaceBackdrops();
    if (images.empty()) throw EDesktopError("xfconf-query ne connaît aucune propriété /backdrop/.../last-image");
    const char* imageStyle = style == TWallpaperStyle::wsTiled ? "2" : "1";
    FCopies.Show(bmpFile, [&](const std::string& copy) {
      for (const std::string& image : images) {
        const std::string styleProperty =
            image.substr(0, image.size() - std::string("last-image").size()) + "image-style";
        RunChecked(FRunner,
                   {"xfconf-query", "-c", "xfce4-desktop", "-p", styleProperty, "-n", "-t", "int", "-s", imageStyle});
        if (create)
          RunChecked(FRunner, {"xfconf-query", "-c", "xfce4-desktop", "-p", image, "-n", "-t", "string", "-s", copy});
        else
          RunChecked(FRunner, {"xfconf-query", "-c", "xfce4-desktop", "-p", image, "-s", copy});
      }
    });
  }

 private:
  // "/backdrop/screen0/monitor<name>/workspace0/last-image" for every monitor xrandr lists (lines
  // " 0: +screen 1024/271x768/203+0+0  screen" after a count line; the name comes last).
  std::vector<std::string> FirstWorkspaceBackdrops() {
    std::string listing;
    if (FRunner.Run({"xrandr", "--listmonitors"}, &listing) != 0) return {};
    std::vector<std::string> images;
    size_t start = 0;
    while (start < listing.size()) {
      size_t end = listing.find('\n', start);
      if (end == std::string::npos) end = listing.size();
      const std::string line = listing.substr(start, end - start);
      start = end + 1;
      if (line.find(": ") == std::string::npos) continue;  // "Monitors: N" and blank lines
      const size_t last = line.find_last_not_of(" \t\r");
      if (last == std::string::npos) continue;
      const size_t first = line.find_last_of(" \t", last);
      const std::string name = line.substr(first == std::string::npos ? 0 : first + 1, last - first);
      if (!name.empty() && line.rfind("Monitors:", 0) != 0)
        images.push_back("/backdrop/screen0/monitor" + name + "/workspace0/last-image");
    }
    return images;
  }

  TCommandRunner& FRunner;
  TFreshCopies FCopies;
};

// wlroots compositors: a swaybg process draws the background. The new one starts first and the one
// of the previous change (its id kept in the runtime directory) ends a moment later, so the screen
// never shows the bare background in between.
class TSwaybgBackend final : public TDesktopBackend {
 public:
  TSwaybgBackend(TCommandRunner& runner, const TBackendDirs& dirs)
      : FRunner(runner), FPidFile(dirs.RuntimeDir + "/muralo-swaybg.pid") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkWlroots; }

  static constexpr int kOverlapMilliseconds = 500;

  // How long a fresh swaybg must live before it counts as drawing: one that cannot connect to the
  // compositor or read the picture ends well within this.
  static constexpr int kStartMilliseconds = 300;

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    const long previous = ReadPid();
    const long pid = FRunner.Spawn(
        {"swaybg", "-i", bmpFile, "-m", style == TWallpaperStyle::wsTiled ? "tile" : "center", "-c", "#000000"});
    if (pid < 0) throw EDesktopError("swaybg ne peut pas être lancé");
    FRunner.Sleep(kStartMilliseconds);
    if (!FRunner.IsRunning(pid, "swaybg")) throw EDesktopError("swaybg s'est arrêté dès son lancement");
    WritePid(pid);
    if (previous > 0 && previous != pid) {
      FRunner.Sleep(kOverlapMilliseconds);
      FRunner.Terminate(previous, "swaybg");
    }
  }

 private:
  long ReadPid() const {
    std::ifstream in(FPidFile);
    long pid = -1;
    if (!(in >> pid)) return -1;
    return pid;
  }

  void WritePid(long pid) const {
    const std::string temp = FPidFile + ".tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << pid << '\n';
      if (!out) return;
    }
    std::error_code ignored;
    fs::rename(temp, FPidFile, ignored);
  }

  TCommandRunner& FRunner;
  std::string FPidFile;
};

// The previous swaybg of ours, when a backend that draws by other means takes over.
void EndOurSwaybg(TCommandRunner& runner, const TBackendDirs& dirs) {
  const std::string pidFile = dirs.RuntimeDir + "/muralo-swaybg.pid";
  std::ifstream in(pidFile);
  long pid = -1;
  if (in >> pid) {
    runner.Terminate(pid, "swaybg");
    std::error_code ignored;
    fs::remove(pidFile, ignored);
  }
}

// LXDE and LXQt: pcmanfm's desktop window covers the root window, so the picture goes through its
// own command (both take --set-wallpaper and --wallpaper-mode center|tile).
class TPcmanfmBackend final : public TDesktopBackend {
 public:
  TPcmanfmBackend(TDesktopKind kind, TCommandRunner& runner) : FKind(kind), FRunner(runner) {}
  TDesktopKind Kind() const override { return FKind; }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    const char* program = FKind == TDesktopKind::dkLxqt ? "pcmanfm-qt" : "pcmanfm";
    const std::string mode = style == TWallpaperStyle::wsTiled ? "tile" : "center";
    if (FKind == TDesktopKind::dkLxqt)
      RunChecked(FRunner, {program, "--set-wallpaper", bmpFile, "--wallpaper-mode", mode});
    else
      RunChecked(FRunner, {program, "--set-wallpaper=" + bmpFile, "--wallpaper-mode=" + mode});
  }

 private:
  TDesktopKind FKind;
  TCommandRunner& FRunner;
};

// sway: "output * bg FILE MODE" through its IPC (sway-output(5)); it replaces the background of the
// configuration (Debian's default config sets one) on every output and runs swaybg itself.
class TSwayBackend final : public TDesktopBackend {
 public:
  TSwayBackend(TCommandRunner& runner, const TBackendDirs& dirs) : FRunner(runner), FDirs(dirs) {}
  TDesktopKind Kind() const override { return TDesktopKind::dkSway; }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    RunChecked(FRunner, {"swaymsg", "output", "*", "bg", bmpFile, style == TWallpaperStyle::wsTiled ? "tile" : "center",
                         "#000000"});
    EndOurSwaybg(FRunner, FDirs);
  }

 private:
  TCommandRunner& FRunner;
  TBackendDirs FDirs;
};

// Desktops that only fill, zoom or stretch what they are given get the screen-sized picture
// composed here (centred or tiled as the style says), under a fresh name per change.
class TComposedCopies {
 public:
  TComposedCopies(const TBackendDirs& dirs, std::string prefix)
      : FDirs(dirs), FCopies(dirs.DataDir, std::move(prefix)) {}

  void Show(const std::string& bmpFile, TWallpaperStyle style, const std::function<void(const std::string&)>& hand) {
    TBitmap picture;
    try {
      TFileStream in(bmpFile, TFileMode::fmOpenRead);
      picture.LoadFromStream(in);
    } catch (const Exception& error) {
      throw EDesktopError(Format("%s ne peut pas être lu : %s", bmpFile, error.what()));
    }
    const int width = FDirs.ScreenWidth > 0 ? FDirs.ScreenWidth : picture.Width();
    const int height = FDirs.ScreenHeight > 0 ? FDirs.ScreenHeight : picture.Height();
    TBitmap screen;
    ComposeScreenPicture(picture, style, width, height, screen);
    const std::string composed = FDirs.DataDir + "/muralo-screen.bmp";
    try {
      screen.SaveToFile(composed);
    } catch (const Exception& error) {
      throw EDesktopError(Format("%s ne peut pas être écrit : %s", composed, error.what()));
    }
    FCopies.Show(composed, hand);
    std::error_code ignored;
    fs::remove(composed, ignored);
  }

 private:
  TBackendDirs FDirs;
  TFreshCopies FCopies;
};

// Budgie: GNOME's keys; its Wayland session draws them with swaybg, which ignores picture-options,
// so the picture it gets is already the screen's size.
class TBudgieBackend final : public TDesktopBackend {
 public:
  TBudgieBackend(TCommandRunner& runner, const TBackendDirs& dirs)
      : FRunner(runner), FComposed(dirs, "muralo-budgie-") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkBudgie; }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    FComposed.Show(bmpFile, style, [&](const std::string& copy) {
      const std::string schema = "org.gnome.desktop.background";
      RunChecked(FRunner, {"gsettings", "set", schema, "picture-options", "stretched"});
      RunChecked(FRunner, {"gsettings", "set", schema, "picture-uri", FileUri(copy)});
      std::string ignored;
      FRunner.Run({"gsettings", "set", schema, "picture-uri-dark", FileUri(copy)}, &ignored);
    });
  }

 private:
  TCommandRunner& FRunner;
  TComposedCopies FComposed;
};

// Wayfire: wf-shell's wf-background reads "[background] image" and "fill_mode" from wf-shell.ini
// and reloads the file when it changes; it has no centred or tiled mode, so it gets the
// screen-sized picture, stretched.
class TWayfireBackend final : public TDesktopBackend {
 public:
  TWayfireBackend(const TBackendDirs& dirs)
      : FIni(dirs.ConfigDir + "/wf-shell.ini"), FComposed(dirs, "muralo-wayfire-") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkWayfire; }

  // The ini text with "[background] image" and "fill_mode" set, everything else kept.
  static std::string WithBackground(const std::string& text, const std::string& image) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    auto keyOf = [](const std::string& line) {
      size_t eq = line.find('=');
      if (eq == std::string::npos) return std::string();
      std::string key = line.substr(0, eq);
      key.erase(0, key.find_first_not_of(" \t"));
      while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.pop_back();
      return key;
    };
    const std::vector<std::pair<std::string, std::string>> wanted = {{"image", image}, {"fill_mode", "stretch"}};
    std::vector<std::string> out;
    bool inBackground = false, sawBackground = false;
    std::vector<bool> done(wanted.size(), false);
    auto flush = [&] {
      for (size_t i = 0; i < wanted.size(); ++i)
        if (!done[i]) out.push_back(wanted[i].first + " = " + wanted[i].second);
    };
    for (const std::string& line : lines) {
      const std::string trimmed = line.substr(0, line.find_last_not_of(" \t\r") + 1);
      if (!trimmed.empty() && trimmed.front() == '[') {
        if (inBackground) flush();
        inBackground = trimmed == "[background]";
        sawBackground = sawBackground || inBackground;
        out.push_back(line);
        continue;
      }
      if (inBackground) {
        const std::string key = keyOf(line);
        bool replaced = false;
        for (size_t i = 0; i < wanted.size(); ++i)
          if (key == wanted[i].first) {
            out.push_back(wanted[i].first + " = " + wanted[i].second);
            done[i] = replaced = true;
          }
        if (replaced) continue;
      }
      out.push_back(line);
    }
    if (inBackground) flush();
    if (!sawBackground) {
      out.push_back("[background]");
      flush();
    }
    std::string result;
    for (const std::string& line : out) result += line + "\n";
    return result;
  }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    FComposed.Show(bmpFile, style, [&](const std::string& copy) {
      std::string text;
      {
        std::ifstream in(FIni, std::ios::binary);
        std::ostringstream all;
        all << in.rdbuf();
        text = all.str();
      }
      const std::string temp = FIni + ".muralo";
      {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << WithBackground(text, copy);
        if (!out) throw EDesktopError(Format("%s ne peut pas être écrit", temp));
      }
      std::error_code error;
      fs::rename(temp, FIni, error);
      if (error) throw EDesktopError(Format("%s ne peut pas être écrit : %s", FIni, error.message()));
    });
  }

 private:
  std::string FIni;
  TComposedCopies FComposed;
};

// Hyprland: hyprpaper's IPC through hyprctl: "preload" the file, show it on every monitor with
// "wallpaper ,FILE", then "unload unused" frees the previous one. hyprpaper only covers or
// contains, so it gets the screen-sized picture.
class THyprlandBackend final : public TDesktopBackend {
 public:
  THyprlandBackend(TCommandRunner& runner, const TBackendDirs& dirs)
      : FRunner(runner), FComposed(dirs, "muralo-hypr-") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkHyprland; }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    FComposed.Show(bmpFile, style, [&](const std::string& copy) {
      RunChecked(FRunner, {"hyprctl", "hyprpaper", "preload", copy});
      RunChecked(FRunner, {"hyprctl", "hyprpaper", "wallpaper", "," + copy});
      std::string ignored;
      FRunner.Run({"hyprctl", "hyprpaper", "unload", "unused"}, &ignored);
    });
  }

 private:
  TCommandRunner& FRunner;
  TComposedCopies FComposed;
};

}  // namespace

std::unique_ptr<TDesktopBackend> CreateDesktopBackend(TDesktopKind kind, TCommandRunner& runner,
                                                      const TBackendDirs& dirs, const std::string& displayName) {
  switch (kind) {
    case TDesktopKind::dkGnome:
    case TDesktopKind::dkCinnamon:
    case TDesktopKind::dkMate:
      return std::make_unique<TGSettingsBackend>(kind, runner);
    case TDesktopKind::dkKde:
      return std::make_unique<TPlasmaBackend>(runner, dirs);
    case TDesktopKind::dkXfce:
      return std::make_unique<TXfceBackend>(runner, dirs);
    case TDesktopKind::dkWlroots:
      return std::make_unique<TSwaybgBackend>(runner, dirs);
    case TDesktopKind::dkLxde:
    case TDesktopKind::dkLxqt:
      return std::make_unique<TPcmanfmBackend>(kind, runner);
    case TDesktopKind::dkSway:
      return std::make_unique<TSwayBackend>(runner, dirs);
    case TDesktopKind::dkBudgie:
      return std::make_unique<TBudgieBackend>(runner, dirs);
    case TDesktopKind::dkWayfire:
      return std::make_unique<TWayfireBackend>(dirs);
    case TDesktopKind::dkHyprland:
      return std::make_unique<THyprlandBackend>(runner, dirs);
    case TDesktopKind::dkX11:
    case TDesktopKind::dkNone:
      break;
  }
  return CreateX11Backend(displayName);
}

}  // namespace muralo
