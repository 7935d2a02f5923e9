// The program from the outside: a private Xvfb (-noreset, own display number), its own XDG
// directories, a settings hive and a list prepared for the run, the X11 root window as the desktop.
// The expected desktops are drawn by ImageMagick; the root window is captured by ImageMagick.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int ScreenW = 320, ScreenH = 240;

std::string SourceDir() {
  const char* dir = std::getenv("MURALO_SOURCE_DIR");
  return dir ? dir : "../..";
}

std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

struct TImage {
  int W = 0, H = 0;
  std::vector<uint8_t> Rgb;
  bool operator==(const TImage&) const = default;
};

class E2E : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdpyinfo", "convert-im6.q16", "import-im6.q16", "xdotool"})
      ASSERT_EQ(std::system((std::string("command -v ") + tool + " >/dev/null").c_str()), 0)
          << "the end-to-end tests need " << tool;
    std::string pattern = (fs::temp_directory_path() / "muralo-e2e-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    Dir = pattern;
    for (const char* d : {"config/muralo", "data", "run"}) fs::create_directories(Dir / d);
    fs::permissions(Dir / "run", fs::perms::owner_all);
    // Xvfb picks a free display number itself and tells it through -displayfd.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string log = (Dir / "xvfb.log").string();
    const std::string screen = std::to_string(ScreenW) + "x" + std::to_string(ScreenH) + "x24";
    Xvfb = ::fork();
    if (Xvfb == 0) {
      ::close(fds[0]);
      if (FILE* out = std::fopen(log.c_str(), "a")) {
        ::dup2(fileno(out), 1);
        ::dup2(fileno(out), 2);
      }
      const std::string fd = std::to_string(fds[1]);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-noreset", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) Display = ":" + number;
    ASSERT_FALSE(Display.empty()) << "no Xvfb could be started";
  }

  void TearDown() override {
    for (pid_t p : Children) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
    if (Xvfb > 0) {
      ::kill(Xvfb, SIGTERM);
      ::waitpid(Xvfb, nullptr, 0);
    }
    std::error_code ec;
    fs::remove_all(Dir, ec);
  }

  std::vector<std::string> Environment() const {
    return {"DISPLAY=" + Display, "XDG_CONFIG_HOME=" + (Dir / "config").string(),
            "XDG_DATA_HOME=" + (Dir / "data").string(), "XDG_RUNTIME_DIR=" + (Dir / "run").string(),
            "HOME=" + Dir.string(), "MURALO_DESKTOP=x11", "QT_QPA_PLATFORM=xcb",
            // No session bus: nothing may start a bus daemon that outlives the test.
            "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"};
  }

  // Starts a program with the run's environment; output goes to log.
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, bool withEnvironment = true) {
    std::vector<std::string> env;
    if (withEnvironment) env = Environment();
    pid_t pid = ::fork();
    if (pid == 0) {
      for (const std::string& e : env) ::putenv(const_cast<char*>(e.c_str()));
      FILE* out = std::fopen(log.c_str(), "a");
      if (out) {
        ::dup2(fileno(out), 1);
        ::dup2(fileno(out), 2);
      }
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      ::execvp(args[0], args.data());
      ::_exit(127);
    }
    if (withEnvironment) Children.push_back(pid);
    return pid;
  }

  // Waits for a child; its exit status, or -1 after the timeout.
  int Wait(pid_t pid, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(Children, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

  int Shell(const std::string& command) {
    std::string prefix;
    for (const std::string& e : Environment()) prefix += e + " ";
    return std::system((prefix + command).c_str());
  }

  std::string ShellOutput(const std::string& command) {
    const std::string out = (Dir / "shell.out").string();
    Shell(command + " >" + Quote(out) + " 2>/dev/null");
    return ReadAll(out);
  }

  // The settings of the run, written as the hive file the program reads.
  void WriteSettings(bool tiled, bool stretch, bool proportions, const std::string& list, bool startupChange = true) {
    auto dword = [](bool b) { return std::string(b ? "dword:00000001" : "dword:00000000"); };
    std::ofstream hive(Dir / "config/muralo/registry.reg", std::ios::binary);
    hive << "REGEDIT4\n\n[Control Panel\\Desktop]\n\"TileWallpaper\"=\"" << (tiled ? "1" : "0") << "\"\n\n"
         << "[Software\\Brenwick\\Muralo\\3]\n"
         << "\"Apercu\"=" << dword(false) << "\n\"Mosaïque\"=" << dword(tiled) << "\n\"Centré\"=" << dword(!tiled)
         << "\n\"Retaillé\"=" << dword(stretch) << "\n\"Titre\"=" << dword(false) << "\n\"Timer\"=" << dword(false)
         << "\n\"Ordonné\"=" << dword(true) << "\n\"Aléatoire\"=" << dword(false) << "\n\"Liste courante\"=\"" << list
         << "\"\n\"Image courante\"=dword:ffffffff\n\"Duree Timer\"=" << dword(false)
         << "\n\"Proportions\"=" << dword(proportions) << "\n\"Debut\"=" << dword(startupChange) << "\n";
  }

  std::string WriteList(const std::vector<std::string>& entries) {
    const std::string name = (Dir / "list.que").string();
    std::ofstream out(name, std::ios::binary);
    for (const std::string& e : entries) out << e << "\r\n";
    return name;
  }

  std::string MakePicture(const std::string& name, const std::string& recipe) {
    const std::string path = (Dir / name).string();
    EXPECT_EQ(std::system(("convert-im6.q16 " + recipe + " -type TrueColor " + Quote("BMP3:" + path)).c_str()), 0);
    return path;
  }

  TImage Decode(const std::string& file) {
    const std::string ppm = file + ".ppm";
    EXPECT_EQ(std::system(("convert-im6.q16 " + Quote(file) + " -depth 8 " + Quote("ppm:" + ppm)).c_str()), 0);
    std::string bytes = ReadAll(ppm);
    std::istringstream in(bytes);
    std::string magic;
    int maxval;
    TImage img;
    in >> magic >> img.W >> img.H >> maxval;
    in.get();
    img.Rgb.assign(bytes.begin() + static_cast<std::ptrdiff_t>(in.tellg()), bytes.end());
    return img;
  }

  TImage CaptureRoot() {
    const std::string png = (Dir / "root.png").string();
    EXPECT_EQ(Shell("import-im6.q16 -window root " + Quote(png)), 0);
    return Decode(png);
  }

  // The expected desktop, drawn by ImageMagick from a convert command that writes to its last argument.
  TImage Expected(const std::string& recipe) {
    const std::string png = (Dir / "expected.png").string();
    EXPECT_EQ(std::system(("convert-im6.q16 " + recipe + " " + Quote(png)).c_str()), 0);
    return Decode(png);
  }

  int RunOnce() {
    pid_t pid = Spawn({MURALO_PROGRAM, "once"}, (Dir / "muralo.log").string());
    return Wait(pid, 60);
  }

  bool WaitFor(const std::function<bool()>& condition, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
      if (condition()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // trayer as the notification area (Qt's tray icon embeds itself there through XEmbed).
  void StartTrayHost() {
    ASSERT_EQ(std::system("command -v trayer >/dev/null"), 0) << "the tray tests need trayer";
    Spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "64", "--height", "32"},
          (Dir / "trayer.log").string());
    ASSERT_TRUE(WaitFor([&] { return !ShellOutput("xdotool search --class trayer").empty(); }, 20));
  }

  std::string Log() { return ReadAll((Dir / "muralo.log").string()); }

  fs::path Dir;
  std::string Display;
  pid_t Xvfb = -1;
  std::vector<pid_t> Children;
};

// A picture with a distinct colour in each quadrant, so placement and scaling show.
const char* Quadrants(int w, int h) {
  static std::string recipe;
  recipe = "-size " + std::to_string(w) + "x" + std::to_string(h) +
         " xc:'#2040C0' -fill '#E02020' -draw 'rectangle 0,0 " + std::to_string(w / 2 - 1) + "," +
         std::to_string(h / 2 - 1) + "' -fill '#20E020' -draw 'rectangle " + std::to_string(w / 2) + "," +
         std::to_string(h / 2) + " " + std::to_string(w - 1) + "," + std::to_string(h - 1) + "'";
  return recipe.c_str();
}

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
    ASSERT_EQ(root.W, ScreenW);
    ASSERT_EQ(root.H, ScreenH);
    ASSERT_EQ(expected.Rgb.size(), root.Rgb.size());
    size_t differing = 0, first = 0;
    for (size_t i = 0; i < root.Rgb.size(); ++i)
      if (root.Rgb[i] != expected.Rgb[i] && differing++ == 0) first = i / 3;
    EXPECT_EQ(differing, 0u) << "first at " << first % ScreenW << "," << first / ScreenW << Log();
    EXPECT_TRUE(fs::exists(Dir / "data/muralo/muralo.bmp"));
  }
}

TEST_F(E2E, AMissingListedFileGivesTheFallbackIcon) {
  const std::string list = WriteList({(Dir / "gone.bmp").string(), (Dir / "gone2.bmp").string()});
  WriteSettings(false, false, false, list);
  ASSERT_EQ(RunOnce(), 0) << Log();
  const std::string icon = SourceDir() + "/resources/icons/stopped.ico";
  const TImage expected = Expected("-size " + std::to_string(ScreenW) + "x" + std::to_string(ScreenH) + " xc:black " +
                                   Quote(icon) + " -gravity center -composite");
  const TImage root = CaptureRoot();
  ASSERT_EQ(expected.Rgb.size(), root.Rgb.size());
  size_t differing = 0;
  for (size_t i = 0; i < root.Rgb.size(); ++i) differing += root.Rgb[i] != expected.Rgb[i];
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
  EXPECT_EQ(ShellOutput("xdotool search --onlyvisible --name '^Muralo$'"), "");  // hidden in the tray
  pid_t second = Spawn({MURALO_PROGRAM}, (Dir / "second.log").string());
  EXPECT_EQ(Wait(second, 30), 0);
  EXPECT_TRUE(WaitFor([&] { return !ShellOutput("xdotool search --onlyvisible --name '^Muralo$'").empty(); }, 20))
      << Log();
  // The first goes on running; SIGTERM (what a logout sends) makes it save and end.
  EXPECT_EQ(::kill(first, SIGTERM), 0);
  EXPECT_EQ(Wait(first, 30), 0) << Log();
  const std::string hive = ReadAll((Dir / "config/muralo/registry.reg").string());
  EXPECT_NE(hive.find("\"Image courante\""), std::string::npos);
}

TEST_F(E2E, TrayIconChangesOnClickAndOpensItsMenu) {
  StartTrayHost();
  const std::string a = MakePicture("a.bmp", Quadrants(40, 30));
  const std::string b = MakePicture("b.bmp", Quadrants(60, 20));
  WriteSettings(false, false, false, WriteList({a, b}), false);
  Spawn({MURALO_PROGRAM}, (Dir / "muralo.log").string());
  // The tray icon is an XEmbed window of the program, inside the tray host.
  std::string iconWindow;
  ASSERT_TRUE(WaitFor(
      [&] {
        std::istringstream ids(ShellOutput("xdotool search --onlyvisible --class muralo"));
        for (std::string id; ids >> id;) {
          std::string geometry = ShellOutput("xdotool getwindowgeometry " + id);
          if (geometry.find("Geometry:") != std::string::npos) {
            iconWindow = id;
            return true;
          }
        }
        return false;
      },
      30))
      << Log();
  EXPECT_FALSE(fs::exists(Dir / "data/muralo/muralo.bmp"));
  Shell("xdotool mousemove --window " + iconWindow + " 4 4 click 1");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "data/muralo/muralo.bmp"); }, 20)) << Log();
  const TImage expected = Expected("-size " + std::to_string(ScreenW) + "x" + std::to_string(ScreenH) + " xc:black " +
                                   Quote(a) + " -gravity center -composite");
  // The file is written just before the desktop is set: wait for the root window to follow.
  // The tray host covers the top of the screen: compare below it.
  auto belowTray = [](TImage img) {
    img.Rgb.erase(img.Rgb.begin(), img.Rgb.begin() + 40 * ScreenW * 3);
    return img;
  };
  EXPECT_TRUE(WaitFor([&] { return belowTray(CaptureRoot()) == belowTray(expected); }, 10))
      << "the first entry is the desktop after one click; wallpaper file "
      << ShellOutput("identify-im6.q16 " + Quote((Dir / "data/muralo/muralo.bmp").string())) << Log();
  const std::string before = ShellOutput("xdotool search --onlyvisible --class muralo");
  Shell("xdotool mousemove --window " + iconWindow + " 4 4 click 3");
  EXPECT_TRUE(WaitFor(
      [&] {
        std::string now = ShellOutput("xdotool search --onlyvisible --class muralo");
        return std::count(now.begin(), now.end(), '\n') > std::count(before.begin(), before.end(), '\n');
      },
      20))
      << "the tray menu did not open";
}

}  // namespace
