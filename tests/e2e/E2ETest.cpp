// The program from the outside: a private Xvfb (-noreset, own display number), its own XDG
// directories, a settings hive and a list prepared for the run, the X11 root window as the desktop.
// The expected desktops are drawn by ImageMagick; the root window is captured by ImageMagick.
#include "E2ESupport.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
// Xlib last: its macros must not reach the other headers.
#include <X11/Xlib.h>

namespace {

struct RenderCase {
  const char* Name;
  bool Tiled, Stretch, Proportions;
  int PicW, PicH;
  std::string ExpectedRecipe;  // ImageMagick arguments drawing the desktop from the picture {P}
};

TEST_F(E2E, OneShotSetsTheRootWindowAsRendered) {
  const std::string size = std::to_string(ScreenW) + "x" + std::to_string(ScreenH);
  const RenderCase cases[] = {
      {"tiled", true, false, false, 48, 36, "-size " + size + " tile:{P}"},
      {"centred", false, false, false, 40, 30, "-size " + size + " xc:black {P} -gravity center -composite"},
      {"stretched", false, true, false, 40, 30, "{P} -sample " + size + "!"},
      // 80 × 20 keeps its proportions as 320 × 80 (an exact 4× scale), centred on black.
      {"kept proportions", false, true, true, 80, 20,
       "-size " + size + " xc:black \\( {P} -sample 320x80! \\) -geometry +0+80 -composite"},
      {"kept proportions, tiled", true, true, true, 80, 20,
       "{P} -sample 320x80! -write mpr:t +delete -size " + size + " tile:mpr:t"},
  };
  for (const RenderCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string picture = MakePicture(std::string(c.Name) + ".bmp", Quadrants(c.PicW, c.PicH));
    const std::string list = WriteList({picture});
    WriteSettings(c.Tiled, c.Stretch, c.Proportions, list);
    ASSERT_EQ(RunOnce(), 0) << Log();
    std::string recipe = c.ExpectedRecipe;
    recipe.replace(recipe.find("{P}"), 3, Quote(picture));
    const TImage expected = Expected(recipe);
    const TImage root = CaptureRoot();
    ASSERT_EQ(root.Width, ScreenW);
    ASSERT_EQ(root.Height, ScreenH);
    ASSERT_EQ(expected.Pixels.size(), root.Pixels.size());
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < root.Pixels.size(); ++i)
      if (root.Pixels[i] != expected.Pixels[i] && differing++ == 0) first = i / 3;
    EXPECT_EQ(differing, 0u) << "first at " << first % ScreenW << "," << first / ScreenW << Log();
    EXPECT_TRUE(fs::exists(Dir / "data/muralo/muralo.bmp"));
  }
}

TEST_F(E2E, AMissingListedFileGivesTheFallbackIcon) {
  const std::string list = WriteList({(Dir / "gone.bmp").string(), (Dir / "gone2.bmp").string()});
  WriteSettings(false, false, false, list);
  ASSERT_EQ(RunOnce(), 0) << Log();
  const std::string icon = muralo::test::SourcePath("resources/icons/stopped.ico");
  const TImage expected = Expected("-size " + std::to_string(ScreenW) + "x" + std::to_string(ScreenH) + " xc:black " +
                                   Quote(icon) + " -gravity center -composite");
  const TImage root = CaptureRoot();
  ASSERT_EQ(expected.Pixels.size(), root.Pixels.size());
  size_t differing = 0;
  for (size_t i = 0; i < root.Pixels.size(); ++i) differing += root.Pixels[i] != expected.Pixels[i];
  EXPECT_EQ(differing, 0u);
}

TEST_F(E2E, OneShotWithoutStartUpChangeLeavesTheDesktopAndSavesNothing) {
  const std::string picture = MakePicture("p.bmp", Quadrants(40, 30));
  const std::string list = WriteList({picture});
  WriteSettings(false, false, false, list, false);
  const std::string hive = ReadAll((Dir / "config/muralo/registry.reg").string());
  ASSERT_EQ(RunOnce(), 0) << Log();
  EXPECT_FALSE(fs::exists(Dir / "data/muralo/muralo.bmp"));
  EXPECT_EQ(ReadAll((Dir / "config/muralo/registry.reg").string()), hive);
}

// The wallpaper's size is the screen's real pixel size, also where Qt scales by a fraction.
TEST_F(E2E, FractionalScalingKeepsTheRealScreenSize) {
  Overrides = {"QT_SCALE_FACTOR=1.25"};
  WriteSettings(false, true, false, WriteList({MakePicture("p.bmp", Quadrants(40, 30))}));
  ASSERT_EQ(RunOnce(), 0) << Log();
  const TImage written = MagickDecode((Dir / "data/muralo/muralo.bmp").string());
  EXPECT_EQ(written.Width, ScreenW);
  EXPECT_EQ(written.Height, ScreenH);
}

// Without any display the program says so and ends with status 1 (a signal would give -1 here).
TEST_F(E2E, NoDisplayIsAClearMessageAndStatusOne) {
  Overrides = {"-DISPLAY", "-QT_QPA_PLATFORM"};
  WriteSettings(false, false, false, WriteList({MakePicture("p.bmp", Quadrants(40, 30))}));
  for (const bool oneShot : {true, false}) {
    SCOPED_TRACE(oneShot ? "one-shot" : "tray");
    std::vector<std::string> argv = {MURALO_PROGRAM};
    if (oneShot) argv.push_back("once");
    ASSERT_EQ(Wait(Spawn(argv, (Dir / "muralo.log").string()), 60), 1) << Log();
    EXPECT_NE(Log().find("muralo: aucun bureau connu"), std::string::npos) << Log();
  }
}

// With no session bus, a program that asks for one makes libdbus autolaunch a bus daemon through
// dbus-launch, which owns a selection on the display and outlives the program.
TEST_F(E2E, OneShotStartsNoSessionBus) {
  Overrides = {"-DBUS_SESSION_BUS_ADDRESS"};
  WriteSettings(false, false, false, WriteList({MakePicture("p.bmp", Quadrants(40, 30))}));
  ASSERT_EQ(RunOnce(), 0) << Log();
  const std::string machine = ReadAll("/etc/machine-id").substr(0, 32);
  ASSERT_EQ(machine.size(), 32u);
  const char* user = std::getenv("USER");
  std::string name = user ? user : "";
  if (name.empty()) name = ShellOutput("id -un").substr(0, ShellOutput("id -un").find('\n'));
  ::Display* display = XOpenDisplay(Display.c_str());
  ASSERT_NE(display, nullptr);
  const Atom selection = XInternAtom(display, ("_DBUS_SESSION_BUS_SELECTION_" + name + "_" + machine).c_str(), False);
  EXPECT_EQ(XGetSelectionOwner(display, selection), static_cast<Window>(0));
  XCloseDisplay(display);
  EXPECT_TRUE(fs::exists(Dir / "data/muralo/muralo.bmp"));
}

TEST_F(E2E, ACorruptedHiveStartsAsAFirstRun) {
  const std::string picture = MakePicture("p.bmp", Quadrants(40, 30));
  WriteSettings(false, false, false, WriteList({picture}));
  {
    std::ofstream damaged(Dir / "config/muralo/registry.reg", std::ios::binary | std::ios::app);
    static constexpr char garbage[] = "\0\0[[[ not a hive\n\"Debut\"=dword:";
    damaged << std::string(garbage, sizeof garbage - 1);
  }
  ASSERT_EQ(RunOnce(), 0) << Log();
  // The reading stopped at once: no list is named, so no wallpaper is made.
  EXPECT_FALSE(fs::exists(Dir / "data/muralo/muralo.bmp"));
}

TEST_F(E2E, ASecondStartShowsTheFirstWindowAndEnds) {
  StartTrayHost();
  const std::string list = WriteList({});
  WriteSettings(false, false, false, list, false);
  pid_t first = Spawn({MURALO_PROGRAM}, (Dir / "muralo.log").string());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "run/Muralo.sock"); }, 30)) << Log();
  EXPECT_EQ(ShellOutput(kXdotool + " search --onlyvisible --name '^Muralo$'"), "");  // hidden in the tray
  pid_t second = Spawn({MURALO_PROGRAM}, (Dir / "second.log").string());
  EXPECT_EQ(Wait(second, 30), 0);
  EXPECT_TRUE(WaitFor([&] { return !ShellOutput(kXdotool + " search --onlyvisible --name '^Muralo$'").empty(); }, 20))
      << Log();
  // The first goes on running; SIGTERM (what a logout sends) makes it save and end.
  EXPECT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(Wait(first, 30), 0) << Log();
  const std::string hive = ReadAll((Dir / "config/muralo/registry.reg").string());
  EXPECT_NE(hive.find("\"Image courante\""), std::string::npos);
}

// A second start while the first is still in its start-up change (here: waiting on a listed file
// that is a pipe nobody writes yet) is answered once that change ends.
TEST_F(E2E, ASecondStartDuringTheStartUpChangeIsNotLost) {
  StartTrayHost();
  const std::string fifo = (Dir / "slow.bmp").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  WriteSettings(false, false, false, WriteList({fifo, fifo}), true);
  pid_t first = Spawn({MURALO_PROGRAM}, (Dir / "muralo.log").string());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "run/Muralo.sock"); }, 30)) << Log();
  pid_t second = Spawn({MURALO_PROGRAM}, (Dir / "second.log").string());
  EXPECT_EQ(Wait(second, 30), 0);
  EXPECT_EQ(ShellOutput(kXdotool + " search --onlyvisible --name '^Muralo$'"), "");
  // Let the start-up change go on: the pipe gets a writer that writes nothing.
  int writer = -1;
  ASSERT_TRUE(WaitFor([&] { return (writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK)) >= 0; }, 30));
  ::close(writer);
  EXPECT_TRUE(WaitFor([&] { return !ShellOutput(kXdotool + " search --onlyvisible --name '^Muralo$'").empty(); }, 20))
      << Log();
  EXPECT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(Wait(first, 30), 0) << Log();
}

// The end of the session on a first run (no settings, an unnamed empty list) ends the program.
TEST_F(E2E, EndOfSessionOnAFirstRunEnds) {
  StartTrayHost();
  pid_t first = Spawn({MURALO_PROGRAM}, (Dir / "muralo.log").string());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "run/Muralo.sock"); }, 30)) << Log();
  EXPECT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(Wait(first, 30), 0) << Log();
  EXPECT_NE(ReadAll((Dir / "config/muralo/registry.reg").string()).find("\"Image courante\""), std::string::npos);
}

TEST_F(E2E, TrayIconChangesOnClickAndOpensItsMenu) {
  StartTrayHost();
  const std::string a = MakePicture("a.bmp", Quadrants(40, 30));
  const std::string b = MakePicture("b.bmp", Quadrants(60, 20));
  WriteSettings(false, false, false, WriteList({a, b}), false);
  Spawn({MURALO_PROGRAM}, (Dir / "muralo.log").string());
  // The tray icon is an XEmbed window of the program, inside the tray host: the program's small
  // visible window (the splash screen, shown longer on a slow start, is one of its windows too).
  std::string iconWindow;
  ASSERT_TRUE(WaitFor(
      [&] {
        std::istringstream ids(ShellOutput(kXdotool + " search --onlyvisible --class muralo"));
        for (std::string id; ids >> id;) {
          const std::string geometry = ShellOutput(kXdotool + " getwindowgeometry " + id);
          const size_t at = geometry.find("Geometry:");
          int w = 0, h = 0;
          if (at != std::string::npos && std::sscanf(geometry.c_str() + at, "Geometry: %dx%d", &w, &h) == 2 && w > 0 &&
              w <= 64 && h > 0 && h <= 64) {
            iconWindow = id;
            return true;
          }
        }
        return false;
      },
      30))
      << Log();
  EXPECT_FALSE(fs::exists(Dir / "data/muralo/muralo.bmp"));
  Shell(kXdotool + " mousemove --window " + iconWindow + " 4 4 click 1");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "data/muralo/muralo.bmp"); }, 20)) << Log();
  const TImage expected = Expected("-size " + std::to_string(ScreenW) + "x" + std::to_string(ScreenH) + " xc:black " +
                                   Quote(a) + " -gravity center -composite");
  // The file is written just before the desktop is set: wait for the root window to follow.
  // The tray host covers the top of the screen: compare below it.
  auto belowTray = [](TImage img) {
    img.Pixels.erase(img.Pixels.begin(), img.Pixels.begin() + 40 * ScreenW * 3);
    return img;
  };
  EXPECT_TRUE(WaitFor([&] { return belowTray(CaptureRoot()) == belowTray(expected); }, 10))
      << "the first entry is the desktop after one click; wallpaper file "
      << ShellOutput(kMagickIdentify + " " + Quote((Dir / "data/muralo/muralo.bmp").string())) << Log();
  const std::string before = ShellOutput(kXdotool + " search --onlyvisible --class muralo");
  Shell(kXdotool + " mousemove --window " + iconWindow + " 4 4 click 3");
  EXPECT_TRUE(WaitFor(
      [&] {
        std::string now = ShellOutput(kXdotool + " search --onlyvisible --class muralo");
        return std::count(now.begin(), now.end(), '\n') > std::count(before.begin(), before.end(), '\n');
      },
      20))
      << "the tray menu did not open";
}

}  // namespace

// The program carries the version resource the build wrote, and "A propos de..." opens the About
// dialog from it.
TEST_F(E2E, AboutBoxFromTheProgramsVersionResource) {
  // UTF-16LE text as it stands in a VS_VERSIONINFO block.
  const auto utf16 = [](const std::string& s) {
    std::string out;
    for (char c : s) out += c, out += '\0';
    return out;
  };
  const std::string program = ReadAll(MURALO_PROGRAM);
  for (const auto& [name, value] : {std::pair<std::string, std::string>{"ProductName", "Muralo"},
                                    {"FileVersion", std::string(MURALO_PROJECT_VERSION) + ".0"}}) {
    const size_t at = program.find(utf16(name) + std::string(2, '\0'));
    ASSERT_NE(at, std::string::npos) << name;
    EXPECT_NE(program.find(utf16(value) + std::string(2, '\0'), at), std::string::npos) << name;
  }
  EXPECT_NE(program.find(utf16("040c04e4")), std::string::npos);

  StartTrayHost();
  WriteSettings(false, false, false, WriteList({}), false);
  Spawn({MURALO_PROGRAM}, (Dir / "muralo.log").string());
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "run/Muralo.sock"); }, 30)) << Log();
  Spawn({MURALO_PROGRAM}, (Dir / "second.log").string());  // shows the first one's window
  std::string window;
  ASSERT_TRUE(WaitFor(
      [&] { return !(window = ShellOutput(kXdotool + " search --onlyvisible --name '^Muralo$'")).empty(); }, 20));
  window = window.substr(0, window.find('\n'));
  // "&Aide" > "A propos de..." (the third item).
  Shell(kXdotool + " windowfocus --sync " + window + " key --clearmodifiers alt+a");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  Shell(kXdotool + " key Down Down Return");
  EXPECT_TRUE(WaitFor([&] { return !ShellOutput(kXdotool + " search --onlyvisible --name '^A propos$'").empty(); }, 20))
      << Log();
}
