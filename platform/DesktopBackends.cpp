// The desktop backends that work through the desktops' own documented commands.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>

#include "classlib/Format.h"
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
    const auto stamp = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
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
  TPlasmaBackend(TCommandRunner& runner, const TBackendDirs& dirs) : FRunner(runner), FCopies(dirs.DataDir, "muralo-kde-") {}
  TDesktopKind Kind() const override { return TDesktopKind::dkKde; }

  static std::string Script(const std::string& uri, TWallpaperStyle style) {
    const char* fillMode = style == TWallpaperStyle::wsTiled ? "3" : "6";
    return "var all = desktops();"
           " for (var i = 0; i < all.length; i++) {"
           " var d = all[i];"
           " d.wallpaperPlugin = \"org.kde.image\";"
           " d.currentConfigGroup = Array(\"Wallpaper\", \"org.kde.image\", \"General\");"
           " d.writeConfig(\"Image\", " + JsString(uri) + ");"
           " d.writeConfig(\"FillMode\", " + fillMode + ");"
           " }";
  }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    FCopies.Show(bmpFile, [&](const std::string& copy) {
      RunChecked(FRunner, {"dbus-send", "--session", "--type=method_call", "--print-reply",
                           "--dest=org.kde.plasmashell", "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript",
                           "string:" + Script(FileUri(copy), style)});
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
  TXfceBackend(TCommandRunner& runner, const TBackendDirs& dirs) : FRunner(runner), FCopies(dirs.DataDir, "muralo-xfce-") {}
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
    if (images.empty()) throw EDesktopError("xfconf-query ne connaît aucune propriété /backdrop/.../last-image");
    const char* imageStyle = style == TWallpaperStyle::wsTiled ? "2" : "1";
    FCopies.Show(bmpFile, [&](const std::string& copy) {
      for (const std::string& image : images) {
        const std::string styleProperty = image.substr(0, image.size() - std::string("last-image").size()) + "image-style";
        RunChecked(FRunner, {"xfconf-query", "-c", "xfce4-desktop", "-p", styleProperty, "-n", "-t", "int", "-s", imageStyle});
        RunChecked(FRunner, {"xfconf-query", "-c", "xfce4-desktop", "-p", image, "-s", copy});
      }
    });
  }

private:
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

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    const long previous = ReadPid();
    const long pid = FRunner.Spawn(
        {"swaybg", "-i", bmpFile, "-m", style == TWallpaperStyle::wsTiled ? "tile" : "center", "-c", "#000000"});
    if (pid < 0) throw EDesktopError("swaybg ne peut pas être lancé");
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
    case TDesktopKind::dkX11:
    case TDesktopKind::dkNone:
      break;
  }
  return CreateX11Backend(displayName);
}

}  // namespace muralo
