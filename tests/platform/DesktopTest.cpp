// Which desktop backend a session gets, and what each backend runs (through a recording runner).

#include <sys/stat.h>

#include <filesystem>

#include "PlatformTestTools.h"
#include "classlib/Bitmap.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "platform/System.h"

namespace muralo {
namespace {

using test::FileText;
using test::TFakeRunner;
using test::TXdgSandbox;
using test::WriteText;
using Lines = std::vector<TCommandLine>;

TEST(DesktopDetection, FollowsTheSessionAndTheOverride) {
  struct Case {
    const char* Name;
    TDesktopEnvironment Env;
    TDesktopKind Expected;
  };
  const Case cases[] = {
      {"GNOME on Wayland", {"", "GNOME", "gnome", "", "wayland-0", ":0"}, TDesktopKind::dkGnome},
      {"Ubuntu's list", {"", "ubuntu:GNOME", "", "", "", ":0"}, TDesktopKind::dkGnome},
      {"GNOME Flashback", {"", "GNOME-Flashback:GNOME", "", "", "", ":0"}, TDesktopKind::dkGnome},
      {"Budgie", {"", "Budgie:GNOME", "", "", "", ":0"}, TDesktopKind::dkBudgie},
      {"Unity", {"", "Unity", "", "", "", ":0"}, TDesktopKind::dkGnome},
      {"Cinnamon", {"", "X-Cinnamon", "", "", "", ":0"}, TDesktopKind::dkCinnamon},
      {"MATE", {"", "MATE", "", "", "", ":0"}, TDesktopKind::dkMate},
      {"Plasma", {"", "KDE", "plasma", "", "wayland-0", ""}, TDesktopKind::dkKde},
      {"Xfce", {"", "XFCE", "xfce", "", "", ":0.0"}, TDesktopKind::dkXfce},
      {"sway", {"", "sway", "", "/run/user/1000/sway-ipc.sock", "wayland-1", ""}, TDesktopKind::dkSway},
      {"Hyprland", {"", "Hyprland", "", "", "wayland-1", ""}, TDesktopKind::dkHyprland},
      {"Hyprland by its instance", {"", "", "", "", "wayland-1", "", "abc_123"}, TDesktopKind::dkHyprland},
      {"Wayfire", {"", "Wayfire", "", "", "wayland-1", ""}, TDesktopKind::dkWayfire},
      {"river", {"", "river", "", "", "wayland-1", ""}, TDesktopKind::dkWlroots},
      {"sway without XDG_CURRENT_DESKTOP",
       {"", "", "", "/run/user/1000/sway.sock", "wayland-1", ":1"},
       TDesktopKind::dkSway},
      {"i3", {"", "i3", "", "", "", ":0"}, TDesktopKind::dkX11},
      {"LXDE", {"", "LXDE", "", "", "", ":0"}, TDesktopKind::dkLxde},
      {"LXQt", {"", "LXQt", "", "", "", ":0"}, TDesktopKind::dkLxqt},
      {"bare X session", {"", "", "", "", "", ":0"}, TDesktopKind::dkX11},
      {"unknown desktop on X", {"", "Foo", "", "", "", ":0"}, TDesktopKind::dkX11},
      {"DESKTOP_SESSION only", {"", "", "mate", "", "", ":0"}, TDesktopKind::dkMate},
      {"unknown Wayland compositor", {"", "", "", "", "wayland-0", ""}, TDesktopKind::dkWlroots},
      {"no display at all", {"", "", "", "", "", ""}, TDesktopKind::dkNone},
      {"override beats the session", {"x11", "GNOME", "", "", "wayland-0", ":0"}, TDesktopKind::dkX11},
      {"override in capitals", {"KDE", "XFCE", "", "", "", ":0"}, TDesktopKind::dkKde},
      {"override sway", {"sway", "", "", "", "", ":0"}, TDesktopKind::dkSway},
      {"override lxqt", {"LXQt", "", "", "", "", ":0"}, TDesktopKind::dkLxqt},
      {"override hyprland", {"hyprland", "", "", "", "", ":0"}, TDesktopKind::dkHyprland},
      {"override wlroots", {"wlroots", "GNOME", "", "", "", ":0"}, TDesktopKind::dkWlroots},
      {"override cinnamon", {"cinnamon", "", "", "", "", ":0"}, TDesktopKind::dkCinnamon},
      {"override mate", {"mate", "GNOME", "", "", "", ":0"}, TDesktopKind::dkMate},
      {"override xfce", {"xfce", "", "", "", "", ""}, TDesktopKind::dkXfce},
      {"override gnome", {"gnome", "", "", "", "", ":0"}, TDesktopKind::dkGnome},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(DesktopKindName(DetectDesktop(c.Env)), std::string(DesktopKindName(c.Expected)));
  }
}

TEST(DesktopDetection, AnUnknownOverrideIsToldAndIgnored) {
  muralo::test::TReportCapture capture;
  EXPECT_EQ(DetectDesktop({"amiga", "XFCE", "", "", "", ":0"}), TDesktopKind::dkXfce);
  const std::string told = capture.Messages;
  EXPECT_NE(told.find("MURALO_DESKTOP=amiga"), std::string::npos) << told;
  EXPECT_FALSE(DesktopKindFromName("amiga"));
  EXPECT_EQ(DesktopKindFromName("Sway"), TDesktopKind::dkSway);
  for (TDesktopKind kind : {TDesktopKind::dkX11, TDesktopKind::dkLxde, TDesktopKind::dkBudgie, TDesktopKind::dkWayfire,
                            TDesktopKind::dkWlroots})
    EXPECT_EQ(DesktopKindFromName(DesktopKindName(kind)), kind);
}

TEST(FileUri, EncodesEverythingButUnreservedCharacters) {
  EXPECT_EQ(FileUri("/home/ann/.local/share/muralo/muralo.bmp"), "file:///home/ann/.local/share/muralo/muralo.bmp");
  EXPECT_EQ(FileUri("/a b/été#1%?.bmp"), "file:///a%20b/%C3%A9t%C3%A9%231%25%3F.bmp");
  EXPECT_EQ(FileUri("/x'\"\\y"), "file:///x%27%22%5Cy");
}

class DesktopBackendTest : public ::testing::Test {
 protected:
  TXdgSandbox Sandbox;
  TFakeRunner Runner;
  TBackendDirs Dirs{Sandbox.Data + "/muralo", Sandbox.Runtime, Sandbox.Config, 64, 48};
  std::string Bmp = Sandbox.Data + "/muralo/muralo.bmp";

  void SetUp() override {
    std::filesystem::create_directories(Dirs.DataDir);
    WriteText(Bmp, "BM picture bytes");
  }
  void Apply(TDesktopKind kind, TWallpaperStyle style) { CreateDesktopBackend(kind, Runner, Dirs)->Apply(Bmp, style); }
  std::vector<std::string> Copies(const std::string& prefix) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(Dirs.DataDir))
      if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path().string());
    return names;
  }
};

TEST_F(DesktopBackendTest, GnomeSetsBothPictureUrisAndThePlacement) {
  const std::string uri = FileUri(Bmp);
  Apply(TDesktopKind::dkGnome, TWallpaperStyle::wsTiled);
  EXPECT_EQ(Runner.Runs, (Lines{
                             {"gsettings", "set", "org.gnome.desktop.background", "picture-options", "wallpaper"},
                             {"gsettings", "set", "org.gnome.desktop.background", "picture-uri", uri},
                             {"gsettings", "set", "org.gnome.desktop.background", "picture-uri-dark", uri},
                         }));
  Runner.Runs.clear();
  // A GNOME without the dark key answers with an error; that is no failure.
  Runner.Answers["gsettings set org.gnome.desktop.background picture-uri-dark"] = {1, ""};
  Apply(TDesktopKind::dkGnome, TWallpaperStyle::wsCentred);
  ASSERT_EQ(Runner.Runs.size(), 3u);
  EXPECT_EQ(Runner.Runs[0].back(), "centered");
}

TEST_F(DesktopBackendTest, CinnamonAndMateUseTheirOwnSchemas) {
  Apply(TDesktopKind::dkCinnamon, TWallpaperStyle::wsCentred);
  Apply(TDesktopKind::dkMate, TWallpaperStyle::wsTiled);
  EXPECT_EQ(Runner.Runs, (Lines{
                             {"gsettings", "set", "org.cinnamon.desktop.background", "picture-options", "centered"},
                             {"gsettings", "set", "org.cinnamon.desktop.background", "picture-uri", FileUri(Bmp)},
                             {"gsettings", "set", "org.mate.background", "picture-options", "wallpaper"},
                             {"gsettings", "set", "org.mate.background", "picture-filename", Bmp},
                         }));
}

TEST_F(DesktopBackendTest, AFailingCommandIsAnError) {
  Runner.Answers["gsettings"] = {-1, ""};
  EXPECT_THROW(Apply(TDesktopKind::dkGnome, TWallpaperStyle::wsTiled), EDesktopError);
  Runner.Answers["gsettings"] = {4, ""};
  try {
    Apply(TDesktopKind::dkMate, TWallpaperStyle::wsTiled);
    FAIL() << "no error";
  } catch (const EDesktopError& error) {
    EXPECT_NE(std::string(error.what()).find("code 4"), std::string::npos) << error.what();
  }
}

TEST_F(DesktopBackendTest, PlasmaGetsAFreshCopyPerChangeOnEveryDesktop) {
  Apply(TDesktopKind::dkKde, TWallpaperStyle::wsTiled);
  ASSERT_EQ(Runner.Runs.size(), 1u);
  const std::vector<std::string> first = Copies("muralo-kde-");
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(FileText(first[0]), "BM picture bytes");
  const TCommandLine& call = Runner.Runs[0];
  ASSERT_EQ(call.size(), 8u);
  EXPECT_EQ(TCommandLine(call.begin(), call.end() - 1),
            (TCommandLine{"dbus-send", "--session", "--type=method_call", "--print-reply", "--dest=org.kde.plasmashell",
                          "/PlasmaShell", "org.kde.PlasmaShell.evaluateScript"}));
  const std::string script = call.back();
  EXPECT_EQ(script.rfind("string:", 0), 0u);
  EXPECT_NE(script.find("desktops()"), std::string::npos);
  EXPECT_NE(script.find("for (var i = 0; i < all.length; i++)"), std::string::npos);
  EXPECT_NE(script.find("d.wallpaperPlugin = \"org.kde.image\""), std::string::npos);
  EXPECT_NE(script.find("d.writeConfig(\"Image\", \"" + FileUri(first[0]) + "\")"), std::string::npos) << script;
  EXPECT_NE(script.find("d.writeConfig(\"FillMode\", 3)"), std::string::npos) << script;

  Apply(TDesktopKind::dkKde, TWallpaperStyle::wsCentred);
  const std::vector<std::string> second = Copies("muralo-kde-");
  ASSERT_EQ(second.size(), 1u);  // the earlier copy is gone
  EXPECT_NE(second[0], first[0]);
  EXPECT_NE(Runner.Runs[1].back().find("d.writeConfig(\"FillMode\", 6)"), std::string::npos);
  EXPECT_NE(Runner.Runs[1].back().find(FileUri(second[0])), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Bmp));

  // Plasma not answering: the new copy goes, the shown one stays.
  Runner.Answers["dbus-send"] = {1, ""};
  EXPECT_THROW(Apply(TDesktopKind::dkKde, TWallpaperStyle::wsCentred), EDesktopError);
  EXPECT_EQ(Copies("muralo-kde-"), second);
}

TEST_F(DesktopBackendTest, XfceSetsEveryBackdropWithItsStyle) {
  Runner.Answers["xfconf-query -c xfce4-desktop -l"] = {0,
                                                        "/backdrop/screen0/monitor0/workspace0/color-style\n"
                                                        "/backdrop/screen0/monitor0/workspace0/last-image\n"
                                                        "/backdrop/screen0/monitorHDMI-1/workspace1/last-image\n"
                                                        "/backdrop/single-workspace-mode\n"
                                                        "/desktop-icons/style\n"};
  Apply(TDesktopKind::dkXfce, TWallpaperStyle::wsTiled);
  const std::vector<std::string> copies = Copies("muralo-xfce-");
  ASSERT_EQ(copies.size(), 1u);
  const std::string p0 = "/backdrop/screen0/monitor0/workspace0/";
  const std::string p1 = "/backdrop/screen0/monitorHDMI-1/workspace1/";
  EXPECT_EQ(Runner.Runs,
            (Lines{
                {"xfconf-query", "-c", "xfce4-desktop", "-l"},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p0 + "image-style", "-n", "-t", "int", "-s", "2"},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p0 + "last-image", "-s", copies[0]},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p1 + "image-style", "-n", "-t", "int", "-s", "2"},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p1 + "last-image", "-s", copies[0]},
            }));
  Runner.Runs.clear();
  Apply(TDesktopKind::dkXfce, TWallpaperStyle::wsCentred);
  ASSERT_EQ(Runner.Runs.size(), 5u);
  EXPECT_EQ(Runner.Runs[1].back(), "1");
  const std::vector<std::string> after = Copies("muralo-xfce-");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after[0], copies[0]);
}

// Before xfdesktop has named its backdrops, those of the first workspace are made for every monitor;
// with no monitor to name, it is an error.
TEST_F(DesktopBackendTest, XfceWithoutBackdropsNamesTheFirstWorkspacesOfEveryMonitor) {
  Runner.Answers["xfconf-query -c xfce4-desktop -l"] = {0, "/desktop-icons/style\n"};
  Runner.Answers["xrandr --listmonitors"] = {
      0, "Monitors: 2\n 0: +*DP-1 1920/520x1080/290+0+0  DP-1\n 1: +HDMI-1 1280/340x1024/270+1920+0  HDMI-1\n"};
  Apply(TDesktopKind::dkXfce, TWallpaperStyle::wsCentred);
  const std::vector<std::string> copies = Copies("muralo-xfce-");
  ASSERT_EQ(copies.size(), 1u);
  const std::string p0 = "/backdrop/screen0/monitorDP-1/workspace0/";
  const std::string p1 = "/backdrop/screen0/monitorHDMI-1/workspace0/";
  EXPECT_EQ(Runner.Runs,
            (Lines{
                {"xfconf-query", "-c", "xfce4-desktop", "-l"},
                {"xrandr", "--listmonitors"},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p0 + "image-style", "-n", "-t", "int", "-s", "1"},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p0 + "last-image", "-n", "-t", "string", "-s", copies[0]},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p1 + "image-style", "-n", "-t", "int", "-s", "1"},
                {"xfconf-query", "-c", "xfce4-desktop", "-p", p1 + "last-image", "-n", "-t", "string", "-s", copies[0]},
            }));

  using TAnswer = TFakeRunner::TAnswer;
  for (const TAnswer& xrandr : {TAnswer{0, "Monitors: 0\n"}, TAnswer{1, ""}}) {
    Runner.Answers["xrandr --listmonitors"] = xrandr;
    EXPECT_THROW(Apply(TDesktopKind::dkXfce, TWallpaperStyle::wsTiled), EDesktopError);
  }
  EXPECT_EQ(Copies("muralo-xfce-"), copies);
}

TEST_F(DesktopBackendTest, SwaybgStartsTheNewOneBeforeEndingTheOld) {
  Apply(TDesktopKind::dkWlroots, TWallpaperStyle::wsTiled);
  EXPECT_EQ(Runner.Spawns, (Lines{{"swaybg", "-i", Bmp, "-m", "tile", "-c", "#000000"}}));
  EXPECT_TRUE(Runner.Terminated.empty());  // nothing to replace on the first change
  EXPECT_EQ(FileText(Sandbox.Runtime + "/muralo-swaybg.pid"), "4000\n");

  // A later run of the program (the id survives in the runtime directory).
  TFakeRunner later;
  later.NextPid = 5000;
  CreateDesktopBackend(TDesktopKind::dkWlroots, later, Dirs)->Apply(Bmp, TWallpaperStyle::wsCentred);
  EXPECT_EQ(later.Spawns, (Lines{{"swaybg", "-i", Bmp, "-m", "center", "-c", "#000000"}}));
  ASSERT_EQ(later.Sleeps.size(), 2u);  // the new one's start, then the overlap
  EXPECT_GT(later.Sleeps[1], 0);
  EXPECT_EQ(later.Terminated, (std::vector<std::pair<long, std::string>>{{4000, "swaybg"}}));
  EXPECT_EQ(FileText(Sandbox.Runtime + "/muralo-swaybg.pid"), "5000\n");

  TFakeRunner broken;
  broken.SpawnFails = true;
  EXPECT_THROW(CreateDesktopBackend(TDesktopKind::dkWlroots, broken, Dirs)->Apply(Bmp, TWallpaperStyle::wsTiled),
               EDesktopError);
  EXPECT_TRUE(broken.Terminated.empty());  // the running one stays when its successor cannot start
}

TEST_F(DesktopBackendTest, ASwaybgThatEndsAtOnceIsAFailureAndKeepsThePreviousOne) {
  Apply(TDesktopKind::dkWlroots, TWallpaperStyle::wsTiled);  // 4000 runs and is recorded
  Runner.Dead.insert(4001);
  EXPECT_THROW(Apply(TDesktopKind::dkWlroots, TWallpaperStyle::wsTiled), EDesktopError);
  EXPECT_TRUE(Runner.Terminated.empty());
  EXPECT_EQ(FileText(Sandbox.Runtime + "/muralo-swaybg.pid"), "4000\n");
}

TEST_F(DesktopBackendTest, DesktopsWithTheirOwnCommand) {
  struct Case {
    const char* Name;
    TDesktopKind Kind;
    TWallpaperStyle Style;
    Lines Expected;
  };
  const Case cases[] = {
      {"LXDE centred",
       TDesktopKind::dkLxde,
       TWallpaperStyle::wsCentred,
       {{"pcmanfm", "--set-wallpaper=" + Bmp, "--wallpaper-mode=center"}}},
      {"LXDE tiled",
       TDesktopKind::dkLxde,
       TWallpaperStyle::wsTiled,
       {{"pcmanfm", "--set-wallpaper=" + Bmp, "--wallpaper-mode=tile"}}},
      {"LXQt",
       TDesktopKind::dkLxqt,
       TWallpaperStyle::wsTiled,
       {{"pcmanfm-qt", "--set-wallpaper", Bmp, "--wallpaper-mode", "tile"}}},
      {"sway",
       TDesktopKind::dkSway,
       TWallpaperStyle::wsCentred,
       {{"swaymsg", "output", "*", "bg", Bmp, "center", "#000000"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Runner.Runs.clear();
    Apply(c.Kind, c.Style);
    EXPECT_EQ(Runner.Runs, c.Expected);
    EXPECT_TRUE(Runner.Spawns.empty());
  }
  Runner.Answers["pcmanfm"] = {1, ""};
  EXPECT_THROW(Apply(TDesktopKind::dkLxde, TWallpaperStyle::wsTiled), EDesktopError);
}

TEST_F(DesktopBackendTest, SwayTakesOverFromOurOwnSwaybg) {
  Apply(TDesktopKind::dkWlroots, TWallpaperStyle::wsTiled);
  Apply(TDesktopKind::dkSway, TWallpaperStyle::wsTiled);
  EXPECT_EQ(Runner.Terminated, (std::vector<std::pair<long, std::string>>{{4000, "swaybg"}}));
  EXPECT_FALSE(std::filesystem::exists(Sandbox.Runtime + "/muralo-swaybg.pid"));
}

// A 3 × 2 picture of distinct colours, saved as a real BMP.
void WritePicture(const std::string& name) {
  TBitmap picture;
  picture.SetPixelFormat(TPixelFormat::pf24bit);
  picture.SetSize(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) {
      uint8_t* p = picture.RowData(y) + x * 3;
      p[0] = static_cast<uint8_t>(10 + x), p[1] = static_cast<uint8_t>(20 + y), p[2] = 200;
    }
  picture.SaveToFile(name);
}

// The composed screen: the picture's pixel (sx, sy) in B, G, R, or black.
TColor ComposedPixel(int sx, int sy) { return sx < 0 ? TColor(0) : TColor(200 | (20 + sy) << 8 | (10 + sx) << 16); }

TEST_F(DesktopBackendTest, DesktopsThatOnlyStretchGetTheScreenSizedPicture) {
  WritePicture(Bmp);
  WriteText(Sandbox.Config + "/wf-shell.ini",
            "[panel]\nimage = keep\n\n[background]\nimage = /old.png\ncycle_timeout = 150\n[dock]\nx = 1\n");
  struct Case {
    const char* Name;
    TDesktopKind Kind;
    TWallpaperStyle Style;
    const char* Prefix;
  };
  const Case cases[] = {
      {"Budgie", TDesktopKind::dkBudgie, TWallpaperStyle::wsCentred, "muralo-budgie-"},
      {"Hyprland", TDesktopKind::dkHyprland, TWallpaperStyle::wsTiled, "muralo-hypr-"},
      {"Wayfire", TDesktopKind::dkWayfire, TWallpaperStyle::wsCentred, "muralo-wayfire-"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Runner.Runs.clear();
    Apply(c.Kind, c.Style);
    const std::vector<std::string> copies = Copies(c.Prefix);
    ASSERT_EQ(copies.size(), 1u);
    const std::string copy = copies[0];
    TBitmap shown;
    shown.LoadFromFile(copy);
    ASSERT_EQ(shown.Width(), 64);
    ASSERT_EQ(shown.Height(), 48);
    const bool tiled = c.Style == TWallpaperStyle::wsTiled;
    for (int y = 0; y < 48; ++y)
      for (int x = 0; x < 64; ++x) {
        const int sx = tiled ? x % 3 : (x >= 30 && x < 33 ? x - 30 : -1);
        const int sy = tiled ? y % 2 : (y >= 23 && y < 25 ? y - 23 : -1);
        ASSERT_EQ(shown.Pixel(x, y), ComposedPixel(sx < 0 || sy < 0 ? -1 : sx, sy)) << x << "," << y;
      }
    switch (c.Kind) {
      case TDesktopKind::dkBudgie:
        ASSERT_GE(Runner.Runs.size(), 2u);
        EXPECT_EQ(Runner.Runs[0],
                  (TCommandLine{"gsettings", "set", "org.gnome.desktop.background", "picture-options", "stretched"}));
        EXPECT_EQ(Runner.Runs[1].back(), FileUri(copy));
        break;
      case TDesktopKind::dkHyprland:
        EXPECT_EQ(Runner.Runs, (Lines{{"hyprctl", "hyprpaper", "preload", copy},
                                      {"hyprctl", "hyprpaper", "wallpaper", "," + copy},
                                      {"hyprctl", "hyprpaper", "unload", "unused"}}));
        break;
      default:
        EXPECT_EQ(FileText(Sandbox.Config + "/wf-shell.ini"),
                  "[panel]\nimage = keep\n\n[background]\nimage = " + copy +
                      "\ncycle_timeout = 150\nfill_mode = stretch\n[dock]\nx = 1\n");
        break;
    }
  }
}

TEST_F(DesktopBackendTest, EachMonitorShowsThePictureInItsOwnPlace) {
  WritePicture(Bmp);
  TBitmap picture;
  picture.LoadFromFile(Bmp);
  // Two monitors side by side, the second one shorter and lower (20 × 6 screen).
  const std::vector<TMonitorArea> monitors = {{0, 0, 10, 6}, {10, 2, 9, 4}};
  for (TWallpaperStyle style : {TWallpaperStyle::wsCentred, TWallpaperStyle::wsTiled}) {
    const bool tiled = style == TWallpaperStyle::wsTiled;
    SCOPED_TRACE(tiled ? "tiled" : "centred");
    TBitmap screen;
    ComposeScreenPicture(picture, style, 20, 6, screen, monitors);
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 20; ++x) {
        int sx = -1, sy = -1;
        for (const TMonitorArea& m : monitors) {
          if (x < m.X || y < m.Y || x >= m.X + m.Width || y >= m.Y + m.Height) continue;
          const int ox = (m.Width - 3) / 2, oy = (m.Height - 2) / 2;
          sx = tiled ? (x - m.X) % 3 : x - m.X - ox;
          sy = tiled ? (y - m.Y) % 2 : y - m.Y - oy;
        }
        const bool inside = sx >= 0 && sx < 3 && sy >= 0 && sy < 2;
        ASSERT_EQ(screen.Pixel(x, y), ComposedPixel(inside ? sx : -1, sy)) << x << "," << y;
      }
  }
}

TEST_F(DesktopBackendTest, AnUnrecognisedDesktopFallsBackToTheRootWindowAndSaysSoOnce) {
  const std::string hive = Sandbox.Config + "/muralo/registry.reg";
  test::TReportCapture capture;
  // No X server answers on this display: the fallback is told, then its failure.
  SetDesktopWallpaper(Bmp, hive, {"", "Enlightenment", "", "", "", ":987654"}, Runner, Dirs);
  SetDesktopWallpaper(Bmp, hive, {"", "Enlightenment", "", "", "", ":987654"}, Runner, Dirs);
  const std::string notice = "bureau « Enlightenment » non reconnu : fond d'écran posé par la fenêtre racine X11";
  const size_t first = capture.Messages.find(notice);
  ASSERT_NE(first, std::string::npos) << capture.Messages;
  EXPECT_EQ(capture.Messages.find(notice, first + 1), std::string::npos) << capture.Messages;
  EXPECT_TRUE(Runner.Runs.empty());
}

TEST_F(DesktopBackendTest, TheWallpaperCallFollowsTileWallpaper) {
  const std::string hive = Sandbox.Config + "/muralo/registry.reg";
  const TDesktopEnvironment gnome{"", "GNOME", "", "", "wayland-0", ""};
  struct Case {
    const char* Name;
    const char* Tile;  // nullptr: not written
    const char* Expected;
  };
  const Case cases[] = {
      {"first run, no value: centred as on Windows", nullptr, "centered"},
      {"tiled", "1", "wallpaper"},
      {"centred", "0", "centered"},
      {"anything but 1", "2", "centered"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    if (c.Tile) {
      TRegistry registry(hive);
      ASSERT_TRUE(registry.OpenKey("Control Panel\\Desktop", false));
      registry.WriteString("TileWallpaper", c.Tile);
    }
    Runner.Runs.clear();
    SetDesktopWallpaper(Bmp, hive, gnome, Runner, Dirs);
    ASSERT_EQ(Runner.Runs.size(), 3u);
    EXPECT_EQ(Runner.Runs[0].back(), c.Expected);
    EXPECT_EQ(Runner.Runs[1].back(), FileUri(Bmp));
  }
}

TEST_F(DesktopBackendTest, TheWallpaperCallReportsFailuresOnStderrOnly) {
  const std::string hive = Sandbox.Config + "/muralo/registry.reg";
  Runner.Answers["gsettings"] = {1, ""};
  muralo::test::TReportCapture capture;
  SetDesktopWallpaper(Bmp, hive, {"mate", "", "", "", "", ""}, Runner, Dirs);
  SetDesktopWallpaper(Bmp, hive, {"", "", "", "", "", ""}, Runner, Dirs);
  const std::string told = capture.Messages;
  EXPECT_NE(told.find("fond d'écran non appliqué (mate)"), std::string::npos) << told;
  EXPECT_NE(told.find("aucun bureau"), std::string::npos) << told;
}

TEST_F(DesktopBackendTest, SystemParametersInfoRecordsTheWallpaperAndApplies) {
  setenv("MURALO_DESKTOP", "mate", 1);
  // The real runner with a PATH holding only a stand-in gsettings that logs its arguments.
  const std::string bin = Sandbox.Root + "/bin";
  std::filesystem::create_directories(bin);
  const std::string log = Sandbox.Root + "/gsettings.log";
  WriteText(bin + "/gsettings", "#!/bin/sh\necho \"$@\" >> '" + log + "'\n");
  std::filesystem::permissions(bin + "/gsettings", std::filesystem::perms::owner_all);
  const char* oldPath = std::getenv("PATH");
  const std::string savedPath = oldPath ? oldPath : "";
  setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
  EXPECT_FALSE(SystemParametersInfo(99, 0, Bmp, SPIF_UPDATEINIFILE));
  EXPECT_TRUE(SystemParametersInfo(SPI_SETDESKWALLPAPER, 0, Bmp, SPIF_UPDATEINIFILE));
  // The same file again: applied again, but the hive, which holds it already, is not rewritten.
  struct stat before;
  struct stat after;
  ASSERT_EQ(stat(DefaultHiveFile().c_str(), &before), 0);
  EXPECT_TRUE(SystemParametersInfo(SPI_SETDESKWALLPAPER, 0, Bmp, SPIF_UPDATEINIFILE));
  ASSERT_EQ(stat(DefaultHiveFile().c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  setenv("PATH", savedPath.c_str(), 1);
  unsetenv("MURALO_DESKTOP");
  const std::string once =
      "set org.mate.background picture-options centered\n"
      "set org.mate.background picture-filename " +
      Bmp + "\n";
  EXPECT_EQ(FileText(log), once + once);
  TRegistry registry;
  ASSERT_TRUE(registry.OpenKey("\\Control Panel\\Desktop", false));
  EXPECT_EQ(registry.ReadString("Wallpaper"), Bmp);
}

TEST(SystemFacts, DataDirectoryAndScreenSize) {
  TXdgSandbox sandbox;
  EXPECT_EQ(GetWindowsDirectory(), sandbox.Data + "/muralo");
  EXPECT_TRUE(std::filesystem::is_directory(sandbox.Data + "/muralo"));
  EXPECT_EQ(WallpaperFileName(), sandbox.Data + "/muralo/muralo.bmp");
  EXPECT_EQ(RuntimeDir(), sandbox.Runtime);
  SetScreenSize(1280, 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1280);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(2), 0);
  SetScreenSize(0, 0);
  // A runtime directory others can enter is not used.
  chmod(sandbox.Runtime.c_str(), 0755);
  EXPECT_EQ(RuntimeDir(), sandbox.Config + "/muralo");
  // Relative XDG values are invalid and ignored.
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/";
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  EXPECT_EQ(ConfigHome(), home + "/.config");
}

}  // namespace
}  // namespace muralo
