#pragma once
// The pieces every end-to-end test shares: a private Xvfb (-noreset, own display number), its own
// XDG directories, a settings hive and a list prepared for the run, children started in their own
// process groups and ended with the test, pictures drawn and screens read through ImageMagick.
#include <gtest/gtest.h>

#include "kit/TestKit.h"

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

using muralo::test::kMagick;
using muralo::test::kMagickIdentify;
using muralo::test::kMagickImport;
using muralo::test::kTrayer;
using muralo::test::kXdotool;
using muralo::test::kXprop;
using muralo::test::kXrandr;
using muralo::test::kXvfb;
using muralo::test::MagickDecode;
using muralo::test::Quote;
using TImage = muralo::test::TPnmImage;

// A log or settings file, empty while it does not exist (a program may not have written it yet).
inline std::string ReadAll(const fs::path& name) { return fs::exists(name) ? muralo::test::FileText(name) : ""; }

class E2E : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& tool : {kXvfb, muralo::test::kXdpyinfo, kMagick, kMagickImport, kXdotool})
      ASSERT_TRUE(muralo::test::ToolAvailable(tool)) << "the end-to-end tests need " << tool;
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
      ::execlp(kXvfb.c_str(), kXvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-noreset",
               "-nolisten", "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    ::close(fds[0]);
    if (!number.empty()) Display = ":" + number;
    ASSERT_FALSE(Display.empty()) << "no " << kXvfb << " could be started";
  }

  void TearDown() override {
    for (pid_t p : Children) {
      ::kill(-p, SIGKILL);  // its process group: whatever it started goes too
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
    if (Xvfb > 0) {
      ::kill(Xvfb, SIGTERM);
      ::waitpid(Xvfb, nullptr, 0);
    }
  }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env = {"DISPLAY=" + Display, "XDG_CONFIG_HOME=" + (Dir / "config").string(),
                                    "XDG_DATA_HOME=" + (Dir / "data").string(),
                                    "XDG_RUNTIME_DIR=" + (Dir / "run").string(), "HOME=" + Dir.string(),
                                    "MURALO_DESKTOP=x11", "QT_QPA_PLATFORM=xcb",
                                    // No session bus: nothing may start a bus daemon that outlives the test.
                                    "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/bus"};
    // A test's own values replace the defaults of the same name ("NAME=" leaves it empty, "-NAME"
    // removes it).
    for (const std::string& o : Overrides) {
      const bool remove = o.front() == '-';
      const std::string name = remove ? o.substr(1) + "=" : o.substr(0, o.find('=') + 1);
      std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
      if (!remove) env.push_back(o);
    }
    return env;
  }

  std::vector<std::string> Overrides;

  // Starts a program with the run's environment; output goes to log.
  pid_t Spawn(const std::vector<std::string>& argv, const std::string& log, bool withEnvironment = true) {
    std::vector<std::string> env;
    if (withEnvironment) env = Environment();
    pid_t pid = ::fork();
    if (pid == 0) {
      ::setpgid(0, 0);
      if (withEnvironment)
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "QT_QPA_PLATFORM"})
          ::unsetenv(name);  // only the run's own values reach the program
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
    EXPECT_EQ(std::system((kMagick + " " + recipe + " -type TrueColor " + Quote("BMP3:" + path)).c_str()), 0);
    return path;
  }

  TImage CaptureRoot() {
    const std::string png = (Dir / "root.png").string();
    EXPECT_EQ(Shell(kMagickImport + " -window root " + Quote(png)), 0);
    return MagickDecode(png);
  }

  // The expected desktop, drawn by ImageMagick from a convert command that writes to its last argument.
  TImage Expected(const std::string& recipe) {
    const std::string png = (Dir / "expected.png").string();
    EXPECT_EQ(std::system((kMagick + " " + recipe + " " + Quote(png)).c_str()), 0);
    return MagickDecode(png);
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
    ASSERT_TRUE(muralo::test::ToolAvailable(kTrayer)) << "the tray tests need " << kTrayer;
    Spawn({kTrayer, "--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "64", "--height", "32"},
          (Dir / "trayer.log").string());
    ASSERT_TRUE(WaitFor([&] { return !ShellOutput(kXdotool + " search --class trayer").empty(); }, 20));
  }

  std::string Log() { return ReadAll((Dir / "muralo.log").string()); }

  muralo::test::TempDir Scratch;
  fs::path Dir = Scratch.Path;
  std::string Display;
  pid_t Xvfb = -1;
  std::vector<pid_t> Children;
};

// A picture with a distinct colour in each quadrant, so placement and scaling show.
inline const char* Quadrants(int w, int h) {
  static std::string recipe;
  recipe = "-size " + std::to_string(w) + "x" + std::to_string(h) +
           " xc:'#2040C0' -fill '#E02020' -draw 'rectangle 0,0 " + std::to_string(w / 2 - 1) + "," +
           std::to_string(h / 2 - 1) + "' -fill '#20E020' -draw 'rectangle " + std::to_string(w / 2) + "," +
           std::to_string(h / 2) + " " + std::to_string(w - 1) + "," + std::to_string(h - 1) + "'";
  return recipe.c_str();
}

}  // namespace
