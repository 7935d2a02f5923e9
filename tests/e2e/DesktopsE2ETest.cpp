// The one-shot change on real desktop components, each started headless for the test: the desktop's
// own setting must name the picture and the screen must show it. X11 desktops run on a private
// Xvfb with a private session bus; sway runs on wlroots' headless backend as an unprivileged user.
#include <pwd.h>

#include "E2ESupport.h"

namespace {

constexpr const char* TestUser = "muralo-e2e";

class Desktops : public E2E {
 protected:
  void RequireTools(std::initializer_list<std::string> tools) {
    for (const std::string& tool : tools)
      ASSERT_TRUE(muralo::test::ToolAvailable(tool)) << "the desktop tests need " << tool;
  }

  // A session bus of the test's own; its address goes into every child's environment.
  void StartSessionBus() {
    const std::string log = (Dir / "dbus.log").string();
    Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, log);
    std::string address;
    ASSERT_TRUE(WaitFor(
        [&] {
          std::istringstream in(ReadAll(log));
          std::string line;
          while (std::getline(in, line))
            if (line.rfind("unix:", 0) == 0) address = line;
          return !address.empty();
        },
        10))
        << ReadAll(log);
    Overrides.push_back("DBUS_SESSION_BUS_ADDRESS=" + address);
  }

  void UseDesktop(const std::string& xdgCurrentDesktop) {
    Overrides.push_back("MURALO_DESKTOP=");
    Overrides.push_back("XDG_CURRENT_DESKTOP=" + xdgCurrentDesktop);
  }

  bool WindowOfClass(const std::string& name) {
    return !ShellOutput(kXdotool + " search --class " + Quote(name)).empty();
  }

  // A 40 × 30 picture centred on the screen, as the settings of the run ask.
  std::string PrepareCentredPicture() {
    const std::string picture = MakePicture("p.bmp", Quadrants(40, 30));
    WriteSettings(false, false, false, WriteList({picture}));
    return picture;
  }

  // Whether the screen shows the picture's own pixels, centred.
  static bool ShowsCentred(const TImage& screen, const TImage& picture) {
    if (screen.Width < picture.Width || screen.Height < picture.Height) return false;
    const int ox = (screen.Width - picture.Width) / 2, oy = (screen.Height - picture.Height) / 2;
    for (int y = 0; y < picture.Height; ++y)
      for (int x = 0; x < picture.Width; ++x)
        for (int c = 0; c < 3; ++c)
          if (screen.Pixels[(static_cast<size_t>(oy + y) * screen.Width + ox + x) * 3 + c] !=
              picture.Pixels[(static_cast<size_t>(y) * picture.Width + x) * 3 + c])
            return false;
    return true;
  }

  std::string WallpaperFile() const { return (Dir / "data/muralo/muralo.bmp").string(); }
};

TEST_F(Desktops, LxdeShowsThePictureThroughPcmanfm) {
  RequireTools({"pcmanfm", "dbus-daemon"});
  StartSessionBus();
  UseDesktop("LXDE");
  Spawn({"pcmanfm", "--desktop", "--profile", "LXDE"}, (Dir / "pcmanfm.log").string());
  ASSERT_TRUE(WaitFor([&] { return WindowOfClass("pcmanfm"); }, 20)) << ReadAll(Dir / "pcmanfm.log");
  const TImage picture = MagickDecode(PrepareCentredPicture());
  ASSERT_EQ(RunOnce(), 0) << Log();
  // pcmanfm's desktop window covers the root window: only its own setting reaches the screen.
  EXPECT_TRUE(WaitFor([&] { return ShowsCentred(CaptureRoot(), picture); }, 15)) << Log();
  const std::string config = ReadAll(Dir / "config/pcmanfm/LXDE/desktop-items-0.conf");
  EXPECT_NE(config.find("wallpaper=" + WallpaperFile()), std::string::npos) << config;
  EXPECT_NE(config.find("wallpaper_mode=center"), std::string::npos) << config;
}

TEST_F(Desktops, XfceShowsThePictureOnItsBackdrop) {
  RequireTools({"xfdesktop", "xfwm4", "xfconf-query", "dbus-daemon"});
  StartSessionBus();
  UseDesktop("XFCE");
  Spawn({"xfwm4", "--compositor=off"}, (Dir / "xfwm4.log").string());
  Spawn({"xfdesktop"}, (Dir / "xfdesktop.log").string());
  ASSERT_TRUE(WaitFor([&] { return WindowOfClass("xfdesktop"); }, 30)) << ReadAll(Dir / "xfdesktop.log");
  // xfdesktop names its backdrops a moment after its window shows.
  ASSERT_TRUE(WaitFor(
      [&] { return ShellOutput("xfconf-query -c xfce4-desktop -l").find("/last-image") != std::string::npos; }, 60));
  const TImage picture = MagickDecode(PrepareCentredPicture());
  ASSERT_EQ(RunOnce(), 0) << Log();
  EXPECT_TRUE(WaitFor([&] { return ShowsCentred(CaptureRoot(), picture); }, 15)) << Log();
  const std::string listing = ShellOutput("xfconf-query -c xfce4-desktop -lv");
  EXPECT_NE(listing.find("/last-image"), std::string::npos) << listing;
  EXPECT_NE(listing.find("muralo-xfce-"), std::string::npos) << listing;
}

// A change made before xfdesktop runs (at login) names the backdrops that xfdesktop then shows.
TEST_F(Desktops, XfceStartedAfterTheChangeShowsThePicture) {
  RequireTools({"xfdesktop", "xfwm4", "xfconf-query", kXrandr, "dbus-daemon"});
  StartSessionBus();
  UseDesktop("XFCE");
  const TImage picture = MagickDecode(PrepareCentredPicture());
  ASSERT_EQ(RunOnce(), 0) << Log();
  Spawn({"xfwm4", "--compositor=off"}, (Dir / "xfwm4.log").string());
  Spawn({"xfdesktop"}, (Dir / "xfdesktop.log").string());
  ASSERT_TRUE(WaitFor([&] { return WindowOfClass("xfdesktop"); }, 30)) << ReadAll(Dir / "xfdesktop.log");
  EXPECT_TRUE(WaitFor([&] { return ShowsCentred(CaptureRoot(), picture); }, 15)) << Log();
}

TEST_F(Desktops, MateSettingsDaemonDrawsThePicture) {
  RequireTools({"mate-settings-daemon", "gsettings", "dbus-daemon"});
  StartSessionBus();
  UseDesktop("MATE");
  // Without caja's desktop (a session with icons on the desktop lets caja draw), the daemon draws.
  ASSERT_EQ(Shell("gsettings set org.mate.background show-desktop-icons false"), 0);
  Spawn({"mate-settings-daemon"}, (Dir / "msd.log").string());
  // The daemon's background plugin names its pixmap on the root window once it runs.
  ASSERT_TRUE(
      WaitFor([&] { return ShellOutput(kXprop + " -root _XROOTPMAP_ID").find("pixmap id") != std::string::npos; }, 30))
      << ReadAll(Dir / "msd.log");
  const TImage picture = MagickDecode(PrepareCentredPicture());
  ASSERT_EQ(RunOnce(), 0) << Log();
  EXPECT_EQ(ShellOutput("gsettings get org.mate.background picture-filename"), "'" + WallpaperFile() + "'\n");
  EXPECT_TRUE(WaitFor([&] { return ShowsCentred(CaptureRoot(), picture); }, 15)) << Log();
}

// sway refuses to run as root: it runs as a dedicated unprivileged user, made here when missing.
class Sway : public Desktops {
 protected:
  void SetUp() override {
    E2E::SetUp();
    if (::getuid() != 0) {
      Uid = ::getuid();
      return;
    }
    if (!::getpwnam(TestUser)) {
      const std::string add = std::string("useradd --system --no-create-home --shell /usr/sbin/nologin ") + TestUser;
      ASSERT_EQ(std::system(add.c_str()), 0);
    }
    const passwd* user = ::getpwnam(TestUser);
    ASSERT_NE(user, nullptr);
    Uid = user->pw_uid;
  }

  void TearDown() override {
    // What the user's programs left (sway's own swaybg runs in a session of its own).
    if (::getuid() == 0 && Uid > 0)
      for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) == 0 && st.st_uid == Uid) ::kill(std::stoi(name), SIGKILL);
      }
    E2E::TearDown();
  }

  // The argv that runs a program as the test user with exactly the given environment.
  std::vector<std::string> AsUser(const std::vector<std::string>& env, const std::vector<std::string>& argv) {
    std::vector<std::string> all;
    if (::getuid() == 0) all = {"runuser", "-u", TestUser, "--"};
    all.push_back("env");
    all.push_back("-i");
    all.insert(all.end(), env.begin(), env.end());
    all.insert(all.end(), argv.begin(), argv.end());
    return all;
  }

  uid_t Uid = 0;
};

TEST_F(Sway, SwayWithItsOwnBackgroundShowsThePicture) {
  RequireTools({"sway", "swaymsg", "swaybg", "grim"});
  // sway's configured background, as Debian's default config has one.
  const std::string configured = MakePicture("configured.bmp", "-size 16x16 xc:'#20E020'");
  std::ofstream(Dir / "sway.config") << "output * bg " << configured << " fill\n";
  const TImage picture = MagickDecode(PrepareCentredPicture());
  const fs::path run = Dir / "sway-run";
  fs::create_directories(run);
  if (::getuid() == 0) {
    ASSERT_EQ(std::system(("chown -R " + std::string(TestUser) + " " + Quote(Dir.string())).c_str()), 0);
  }
  fs::permissions(Dir, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                           fs::perms::others_exec);
  fs::permissions(run, fs::perms::owner_all);
  const std::vector<std::string> base = {
      "PATH=/usr/bin:/bin", "HOME=" + Dir.string(), "XDG_RUNTIME_DIR=" + run.string(),
      "XDG_CONFIG_HOME=" + (Dir / "config").string(), "XDG_DATA_HOME=" + (Dir / "data").string()};
  std::vector<std::string> swayEnv = base;
  for (const char* e : {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"})
    swayEnv.push_back(e);
  Children.push_back(
      Spawn(AsUser(swayEnv, {"sway", "-c", (Dir / "sway.config").string()}), (Dir / "sway.log").string(), false));
  std::string sock;
  ASSERT_TRUE(WaitFor(
      [&] {
        for (const auto& entry : fs::directory_iterator(run))
          if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0) sock = entry.path().string();
        return !sock.empty() && fs::exists(run / "wayland-1");
      },
      20))
      << ReadAll(Dir / "sway.log");
  std::vector<std::string> session = base;
  session.push_back("WAYLAND_DISPLAY=wayland-1");
  session.push_back("SWAYSOCK=" + sock);
  session.push_back("XDG_CURRENT_DESKTOP=sway");
  session.push_back("DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus");
  // In the sanitizer build: the Wayland client library keeps its registry allocations to the end.
  session.push_back("ASAN_OPTIONS=detect_leaks=0");
  const std::string shot = (Dir / "shot.png").string();
  auto screen = [&] {
    const pid_t grim = Spawn(AsUser(session, {"grim", shot}), (Dir / "grim.log").string(), false);
    Children.push_back(grim);
    if (Wait(grim, 10) != 0) return TImage{};
    return MagickDecode(shot);
  };
  // The build tree may lie in a folder the test user cannot enter (a private temporary folder):
  // the program runs from a copy in the test's own folder.
  const fs::path program = Dir / "muralo";
  fs::copy_file(MURALO_PROGRAM, program, fs::copy_options::overwrite_existing);
  fs::permissions(program, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                               fs::perms::others_read | fs::perms::others_exec);
  if (::getuid() == 0) {
    ASSERT_EQ(std::system(("chown " + std::string(TestUser) + " " + Quote(program.string())).c_str()), 0);
  }
  const pid_t muralo = Spawn(AsUser(session, {program.string(), "once"}), (Dir / "muralo.log").string(), false);
  Children.push_back(muralo);
  ASSERT_EQ(Wait(muralo, 60), 0) << Log();
  EXPECT_TRUE(WaitFor([&] { return ShowsCentred(screen(), picture); }, 15)) << Log() << ReadAll(Dir / "sway.log");
}

}  // namespace
