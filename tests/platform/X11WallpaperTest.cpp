// The X11 root-window wallpaper under a private Xvfb: the pixels of the root pixmap, and that
// repeated changes free what the previous change left on the server.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "PlatformTestTools.h"
#include "classlib/Bitmap.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "platform/ScreenWatch.h"
#include "platform/System.h"
#include "platform/X11Backend.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>

namespace muralo {
namespace {

constexpr int kScreenW = 320, kScreenH = 240;

// Xvfb on a display number it picks itself (-displayfd), torn down with the test.
class TXvfb {
 public:
  explicit TXvfb(int depth = 24, int width = kScreenW, int height = kScreenH, bool sharedMemory = true) {
    int fds[2];
    if (pipe(fds) != 0) return;
    Pid = fork();
    if (Pid == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_WRONLY);
      dup2(null, STDERR_FILENO);
      const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
      const std::string fd = std::to_string(fds[1]);
      if (sharedMemory)
        execlp(test::kXvfb.c_str(), test::kXvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-noreset", "-nolisten", "tcp", static_cast<char*>(nullptr));
      else
        execlp(test::kXvfb.c_str(), test::kXvfb.c_str(), "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(),
               "-noreset", "-nolisten", "tcp", "-extension", "MIT-SHM", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    pollfd wait{fds[0], POLLIN, 0};
    while (poll(&wait, 1, 20000) > 0) {
      char c;
      if (read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    close(fds[0]);
    if (!number.empty()) Name = ":" + number;
  }
  ~TXvfb() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      int status;
      waitpid(Pid, &status, 0);
    }
  }
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;

  std::string Name;  // ":N", empty when Xvfb did not start
  pid_t Pid = -1;
};

struct TDisplayCloser {
  void operator()(Display* d) const { XCloseDisplay(d); }
};
using TDisplayPtr = std::unique_ptr<Display, TDisplayCloser>;

int lastError = 0;
int RecordError(Display*, XErrorEvent* e) {
  lastError = e->error_code;
  return 0;
}

Pixmap RootProperty(Display* d, const char* name) {
  Atom type;
  int format;
  unsigned long n, after;
  unsigned char* data = nullptr;
  Pixmap p = None;
  if (XGetWindowProperty(d, DefaultRootWindow(d), XInternAtom(d, name, False), 0, 1, False, XA_PIXMAP, &type, &format,
                         &n, &after, &data) == Success &&
      type == XA_PIXMAP && n == 1)
    p = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return p;
}

// Whether a pixmap still exists on the server (XGetGeometry gives BadDrawable once it is freed).
bool PixmapExists(Display* d, Pixmap p) {
  XSync(d, False);
  lastError = 0;
  XErrorHandler old = XSetErrorHandler(RecordError);
  Window root;
  int x, y;
  unsigned w, h, border, depth;
  Status ok = XGetGeometry(d, p, &root, &x, &y, &w, &h, &border, &depth);
  XSync(d, False);
  XSetErrorHandler(old);
  return ok && lastError == 0;
}

// A picture whose every pixel differs from its neighbours.
std::unique_ptr<TBitmap> Picture(int w, int h) {
  auto picture = std::make_unique<TBitmap>();
  TBitmap& b = *picture;
  b.SetPixelFormat(TPixelFormat::pf24bit);
  b.SetSize(w, h);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      row[x * 4 + 0] = static_cast<uint8_t>(200 - 3 * y);  // blue
      row[x * 4 + 1] = static_cast<uint8_t>(7 * y + x);    // green
      row[x * 4 + 2] = static_cast<uint8_t>(11 * x + 1);   // red
      row[x * 4 + 3] = 255;
    }
    b.WriteRowBGRA(y, row.data());
  }
  return picture;
}

unsigned long Rgb(const TBitmap& b, int x, int y) {
  TColor c = b.Pixel(x, y);  // COLORREF 0x00BBGGRR
  return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
}

class X11WallpaperTest : public ::testing::Test {
 protected:
  explicit X11WallpaperTest(bool sharedMemory = true) : Server(24, kScreenW, kScreenH, sharedMemory) {}
  void SetUp() override {
    ASSERT_FALSE(Server.Name.empty()) << test::kXvfb + " (package xvfb) is needed for the X11 wallpaper tests";
    Viewer.reset(XOpenDisplay(Server.Name.c_str()));
    ASSERT_TRUE(Viewer);
  }

  // The root pixmap as both properties name it, read back pixel by pixel.
  XImage* RootImage() {
    Display* d = Viewer.get();
    Pixmap p = RootProperty(d, "_XROOTPMAP_ID");
    EXPECT_NE(p, static_cast<Pixmap>(None));
    EXPECT_EQ(RootProperty(d, "ESETROOT_PMAP_ID"), p);
    if (p == None) return nullptr;
    return XGetImage(d, p, 0, 0, kScreenW, kScreenH, AllPlanes, ZPixmap);
  }

  // Every screen pixel against what the picture puts there.
  template <typename Expect>
  void CheckScreen(Expect&& expected) {
    XImage* image = RootImage();
    ASSERT_NE(image, nullptr);
    int wrong = 0;
    for (int y = 0; y < kScreenH; ++y)
      for (int x = 0; x < kScreenW; ++x) {
        const unsigned long want = expected(x, y), got = XGetPixel(image, x, y) & 0xFFFFFF;
        if (got != want && ++wrong <= 5)
          ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << got << " not " << want;
      }
    EXPECT_EQ(wrong, 0);
    XDestroyImage(image);
  }

  // A picture that the strips' boundaries cut, tiled and centred, sent as upload says.
  void CheckStrips(const TX11Upload& upload) {
    const auto picture = Picture(51, 37);
    SetX11RootWallpaper(*picture, TWallpaperStyle::wsTiled, Server.Name, upload);
    CheckScreen([&](int x, int y) { return Rgb(*picture, x % 51, y % 37); });
    SetX11RootWallpaper(*picture, TWallpaperStyle::wsCentred, Server.Name, upload);
    const int ox = (kScreenW - 51) / 2, oy = (kScreenH - 37) / 2;
    CheckScreen([&](int x, int y) -> unsigned long {
      if (x < ox || y < oy || x >= ox + 51 || y >= oy + 37) return 0;
      return Rgb(*picture, x - ox, y - oy);
    });
  }

  test::TXdgSandbox Sandbox;
  TXvfb Server;
  TDisplayPtr Viewer;
};

TEST_F(X11WallpaperTest, TilesFromTheTopLeft) {
  const auto picture = Picture(7, 5);
  SetX11RootWallpaper(*picture, TWallpaperStyle::wsTiled, Server.Name);
  CheckScreen([&](int x, int y) { return Rgb(*picture, x % 7, y % 5); });
}

TEST_F(X11WallpaperTest, CentresOnBlack) {
  const auto picture = Picture(51, 30);
  SetX11RootWallpaper(*picture, TWallpaperStyle::wsCentred, Server.Name);
  const int ox = (kScreenW - 51) / 2, oy = (kScreenH - 30) / 2;
  CheckScreen([&](int x, int y) -> unsigned long {
    if (x < ox || y < oy || x >= ox + 51 || y >= oy + 30) return 0;
    return Rgb(*picture, x - ox, y - oy);
  });
}

TEST_F(X11WallpaperTest, APictureLargerThanTheScreenShowsItsCentreOrItsTopLeft) {
  const auto picture = Picture(400, 300);
  SetX11RootWallpaper(*picture, TWallpaperStyle::wsCentred, Server.Name);
  CheckScreen([&](int x, int y) { return Rgb(*picture, x + 40, y + 30); });
  SetX11RootWallpaper(*picture, TWallpaperStyle::wsTiled, Server.Name);
  CheckScreen([&](int x, int y) { return Rgb(*picture, x, y); });
}

TEST_F(X11WallpaperTest, EveryStripSizeGivesTheSameScreenThroughSharedMemoryOrTheSocket) {
  // 240 rows: 34 strips of 7 and one of 2; strips of one row (the least a strip holds); one strip.
  const size_t row = kScreenW * 4;
  const struct {
    const char* Name;
    TX11Upload Upload;
  } cases[] = {
      {"shared memory, strips of 7 rows", {7 * row, true}},
      {"socket, strips of 7 rows", {7 * row, false}},
      {"shared memory, strips of 1 row", {1, true}},
      {"socket, one strip", {size_t(1) << 30, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    CheckStrips(c.Upload);
  }
}

// A server without MIT-SHM (as a remote one is): the screen goes through the socket.
class X11WallpaperWithoutShmTest : public X11WallpaperTest {
 protected:
  X11WallpaperWithoutShmTest() : X11WallpaperTest(false) {}
};

TEST_F(X11WallpaperWithoutShmTest, TheSocketCarriesTheScreen) {
  ASSERT_FALSE(XShmQueryExtension(Viewer.get()));
  CheckStrips(TX11Upload{});
}

TEST_F(X11WallpaperTest, AnIndexedPictureShowsItsPaletteColours) {
  TBitmap picture;
  picture.SetPixelFormat(TPixelFormat::pf8bit);
  std::vector<TPaletteEntry> entries = {{255, 0, 0, 0}, {0, 0, 255, 0}, {10, 20, 30, 0}};
  picture.SetPalette(CreatePalette(entries));
  picture.SetSize(3, 1);
  picture.RowData(0)[0] = 0;
  picture.RowData(0)[1] = 1;
  picture.RowData(0)[2] = 2;
  SetX11RootWallpaper(picture, TWallpaperStyle::wsTiled, Server.Name);
  const unsigned long colours[3] = {0xFF0000, 0x0000FF, 0x0A141E};
  CheckScreen([&](int x, int) { return colours[x % 3]; });
}

TEST_F(X11WallpaperTest, AnEmptyPictureGivesABlackScreen) {
  SetX11RootWallpaper(TBitmap(), TWallpaperStyle::wsCentred, Server.Name);
  CheckScreen([](int, int) { return 0ul; });
}

TEST_F(X11WallpaperTest, RepeatedChangesFreeThePreviousPixmap) {
  Display* d = Viewer.get();
  std::vector<Pixmap> seen;
  for (int change = 0; change < 12; ++change) {
    SCOPED_TRACE(change);
    SetX11RootWallpaper(*Picture(5 + change, 5), change % 2 ? TWallpaperStyle::wsTiled : TWallpaperStyle::wsCentred,
                        Server.Name);
    const Pixmap now = RootProperty(d, "_XROOTPMAP_ID");
    ASSERT_NE(now, static_cast<Pixmap>(None));
    EXPECT_TRUE(PixmapExists(d, now));  // kept after the setter's connection closed
    // The server hands a freed client's id range to the next client, so an id may come back.
    for (Pixmap old : seen) {
      if (old != now) {
        EXPECT_FALSE(PixmapExists(d, old)) << "pixmap " << old << " leaked";
      }
    }
    if (std::find(seen.begin(), seen.end(), now) == seen.end()) seen.push_back(now);
  }
  // Each change connects before it frees the previous setter, so two client slots take turns;
  // a leak would use a new slot (a new id range) at every change.
  EXPECT_LE(seen.size(), 2u);
}

TEST_F(X11WallpaperTest, APixmapOfALiveDesktopProgramIsLeftAlone) {
  // Another program draws the desktop: it names its pixmap in _XROOTPMAP_ID only. Freeing it (by
  // killing its client) would kill that program's connection.
  Display* d = Viewer.get();
  Window root = DefaultRootWindow(d);
  Pixmap theirs = XCreatePixmap(d, root, 4, 4, static_cast<unsigned>(DefaultDepth(d, DefaultScreen(d))));
  unsigned long id = theirs;
  XChangeProperty(d, root, XInternAtom(d, "_XROOTPMAP_ID", False), XA_PIXMAP, 32, PropModeReplace,
                  reinterpret_cast<unsigned char*>(&id), 1);
  XSync(d, False);
  SetX11RootWallpaper(*Picture(4, 4), TWallpaperStyle::wsTiled, Server.Name);
  EXPECT_TRUE(PixmapExists(d, theirs));
  EXPECT_NE(RootProperty(d, "_XROOTPMAP_ID"), theirs);
}

TEST_F(X11WallpaperTest, TheScreenSizeComesFromTheDisplayUnlessTheProgramTellsIt) {
  const char* old = std::getenv("DISPLAY");
  const std::string saved = old ? old : "";
  setenv("DISPLAY", Server.Name.c_str(), 1);
  SetScreenSize(0, 0);
  const TScreenSize size = PrimaryScreenSize();
  SetScreenSize(1920, 1080);
  const TScreenSize told = PrimaryScreenSize();
  SetScreenSize(0, 0);
  if (old)
    setenv("DISPLAY", saved.c_str(), 1);
  else
    unsetenv("DISPLAY");
  EXPECT_EQ(size.Width, kScreenW);
  EXPECT_EQ(size.Height, kScreenH);
  EXPECT_EQ(told.Width, 1920);
  EXPECT_EQ(told.Height, 1080);
}

TEST_F(X11WallpaperTest, AnUnreachableDisplayIsAnError) {
  EXPECT_THROW(SetX11RootWallpaper(*Picture(2, 2), TWallpaperStyle::wsTiled, ":987654"), EDesktopError);
}

// A P6 file as ImageMagick writes it: rows of R, G, B bytes.
struct TPpm {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Rgb;
  unsigned long At(int x, int y) const {
    const uint8_t* p = &Rgb[(static_cast<size_t>(y) * Width + x) * 3];
    return (static_cast<unsigned long>(p[0]) << 16) | (p[1] << 8) | p[2];
  }
};

TPpm ReadPpm(const std::string& name) {
  std::istringstream in(test::FileText(name));
  std::string magic;
  int maxval = 0;
  TPpm ppm;
  in >> magic >> ppm.Width >> ppm.Height >> maxval;
  in.get();
  if (magic != "P6" || maxval != 255) throw std::runtime_error("not an 8-bit P6 file: " + name);
  ppm.Rgb.resize(static_cast<size_t>(ppm.Width) * ppm.Height * 3);
  in.read(reinterpret_cast<char*>(ppm.Rgb.data()), static_cast<std::streamsize>(ppm.Rgb.size()));
  if (!in) throw std::runtime_error("short P6 file: " + name);
  return ppm;
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

TEST_F(X11WallpaperTest, ShowsABmpFileThroughTheWallpaperCall) {
  // The files come from ImageMagick; its own decoding of each is the reference.
  ASSERT_EQ(Shell("command -v " + test::kMagick + " >/dev/null"), 0) << "ImageMagick (" + test::kMagick + ") is needed";
  struct Case {
    const char* Name;
    const char* Options;  // how ImageMagick writes the BMP
    const char* Tile;     // TileWallpaper
  };
  const Case cases[] = {
      {"24-bit, tiled", "-type TrueColor", "1"},
      {"8-bit palette, centred", "-type Palette -colors 200", "0"},
      {"4-bit palette, tiled", "-type Palette -colors 16", "1"},
      {"1-bit, centred", "-type Bilevel", "0"},
  };
  const std::string hive = Sandbox.Config + "/muralo/registry.reg";
  const TDesktopEnvironment env{"x11", "GNOME", "", "", "", Server.Name};
  test::TFakeRunner runner;
  const TBackendDirs dirs{Sandbox.Data + "/muralo", Sandbox.Runtime, Sandbox.Config, 0, 0};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::string bmp = Sandbox.Root + "/muralo.bmp", ppm = Sandbox.Root + "/reference.ppm";
    ASSERT_EQ(Shell(test::kMagick + " -seed 7 -size 37x23 plasma:fractal " + std::string(c.Options) + " BMP3:'" + bmp +
                    "' && " + test::kMagick + " '" + bmp + "' -depth 8 ppm:'" + ppm + "'"),
              0);
    const TPpm reference = ReadPpm(ppm);
    ASSERT_EQ(reference.Width, 37);
    ASSERT_EQ(reference.Height, 23);
    {
      TRegistry registry(hive);
      ASSERT_TRUE(registry.OpenKey("\\Control Panel\\Desktop", false));
      registry.WriteString("TileWallpaper", c.Tile);
    }
    muralo::test::TReportCapture capture;
    SetDesktopWallpaper(bmp, hive, env, runner, dirs);
    const std::string told = capture.Messages;
    EXPECT_EQ(told, "");
    const bool tiled = std::string(c.Tile) == "1";
    const int ox = (kScreenW - 37) / 2, oy = (kScreenH - 23) / 2;
    CheckScreen([&](int x, int y) -> unsigned long {
      if (tiled) return reference.At(x % 37, y % 23);
      if (x < ox || y < oy || x >= ox + 37 || y >= oy + 23) return 0;
      return reference.At(x - ox, y - oy);
    });
  }
  EXPECT_TRUE(runner.Runs.empty());  // X11 needs no command
}

TEST_F(X11WallpaperTest, APictureAtHandIsShownWithoutReadingTheFile) {
  const auto picture = Picture(5, 4);
  test::TFakeRunner runner;
  muralo::test::TReportCapture capture;
  SetDesktopWallpaper(Sandbox.Root + "/never-written.bmp", Sandbox.Config + "/muralo/registry.reg",
                      {"x11", "", "", "", "", Server.Name}, runner,
                      {Sandbox.Data, Sandbox.Runtime, Sandbox.Config, 0, 0}, picture.get());
  const std::string told = capture.Messages;
  EXPECT_EQ(told, "");
  const int ox = (kScreenW - 5) / 2, oy = (kScreenH - 4) / 2;
  CheckScreen([&](int x, int y) -> unsigned long {
    if (x < ox || y < oy || x >= ox + 5 || y >= oy + 4) return 0;
    return Rgb(*picture, x - ox, y - oy);
  });
}

TEST_F(X11WallpaperTest, AnUnreadableFileIsReportedAndTheWallpaperStays) {
  SetX11RootWallpaper(*Picture(3, 3), TWallpaperStyle::wsTiled, Server.Name);
  const Pixmap before = RootProperty(Viewer.get(), "_XROOTPMAP_ID");
  const std::string bmp = Sandbox.Root + "/broken.bmp";
  test::WriteText(bmp, "BM not really");
  test::TFakeRunner runner;
  muralo::test::TReportCapture capture;
  SetDesktopWallpaper(bmp, Sandbox.Config + "/muralo/registry.reg", {"x11", "", "", "", "", Server.Name}, runner,
                      {Sandbox.Data, Sandbox.Runtime, Sandbox.Config, 0, 0});
  SetDesktopWallpaper(Sandbox.Root + "/missing.bmp", Sandbox.Config + "/muralo/registry.reg",
                      {"x11", "", "", "", "", Server.Name}, runner,
                      {Sandbox.Data, Sandbox.Runtime, Sandbox.Config, 0, 0});
  const std::string told = capture.Messages;
  EXPECT_NE(told.find("broken.bmp ne peut pas être lu"), std::string::npos) << told;
  EXPECT_NE(told.find("missing.bmp ne peut pas être lu"), std::string::npos) << told;
  EXPECT_EQ(RootProperty(Viewer.get(), "_XROOTPMAP_ID"), before);
  EXPECT_TRUE(PixmapExists(Viewer.get(), before));
}

// RAII for one environment variable.
class TEnvVar {
 public:
  TEnvVar(const char* name, const std::string& value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    setenv(name, value.c_str(), 1);
  }
  ~TEnvVar() {
    if (FOld)
      setenv(FName.c_str(), FOld->c_str(), 1);
    else
      unsetenv(FName.c_str());
  }
  TEnvVar(const TEnvVar&) = delete;
  TEnvVar& operator=(const TEnvVar&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

TEST(X11ScreenSize, IsThePrimaryMonitorNotTheWholeRoot) {
  // A 640 x 480 root whose only monitor shows 320 x 240 of it, set up with xrandr.
  test::TXdgSandbox sandbox;
  TXvfb server(24, 640, 480);
  ASSERT_FALSE(server.Name.empty()) << test::kXvfb + " (package xvfb) is needed";
  ASSERT_EQ(Shell("command -v " + test::kXrandr + " >/dev/null"), 0)
      << test::kXrandr + " (package x11-xserver-utils) is needed";
  TEnvVar display("DISPLAY", server.Name);
  SetScreenSize(0, 0);
  const TScreenSize whole = PrimaryScreenSize();
  EXPECT_EQ(whole.Width, 640);
  EXPECT_EQ(whole.Height, 480);
  ASSERT_EQ(Shell(test::kXrandr + " --newmode m320 10 320 321 322 323 240 241 242 243 && " + test::kXrandr +
                  " --addmode screen m320 && " + test::kXrandr + " --fb 640x480 --output screen --mode m320"),
            0);
  const TScreenSize monitor = PrimaryScreenSize();  // lit at the origin, not marked primary
  EXPECT_EQ(monitor.Width, 320);
  EXPECT_EQ(monitor.Height, 240);
  ASSERT_EQ(Shell(test::kXrandr + " --output screen --primary"), 0);
  const TScreenSize primary = PrimaryScreenSize();
  EXPECT_EQ(primary.Width, 320);
  EXPECT_EQ(primary.Height, 240);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 320);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 240);
}

TEST(X11WallpaperDepth16, PlacesTheChannelsOfA565Visual) {
  test::TXdgSandbox sandbox;
  TXvfb server(16);
  ASSERT_FALSE(server.Name.empty()) << test::kXvfb + " (package xvfb) is needed for the X11 wallpaper tests";
  const auto picture = Picture(9, 4);
  SetX11RootWallpaper(*picture, TWallpaperStyle::wsTiled, server.Name);
  TDisplayPtr d(XOpenDisplay(server.Name.c_str()));
  ASSERT_TRUE(d);
  ASSERT_EQ(DefaultDepth(d.get(), 0), 16);
  Pixmap p = RootProperty(d.get(), "_XROOTPMAP_ID");
  XImage* image = XGetImage(d.get(), p, 0, 0, kScreenW, kScreenH, AllPlanes, ZPixmap);
  ASSERT_NE(image, nullptr);
  int wrong = 0;
  for (int y = 0; y < kScreenH; ++y)
    for (int x = 0; x < kScreenW; ++x) {
      TColor c = picture->Pixel(x % 9, y % 4);
      unsigned long want = ((c & 0xF8) << 8) | (((c >> 8) & 0xFC) << 3) | (((c >> 16) & 0xF8) >> 3);
      if (XGetPixel(image, x, y) != want) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
  XDestroyImage(image);
}

}  // namespace
TEST_F(X11WallpaperTest, AScreenChangeLaysTheWallpaperOutAgain) {
  TScreenChangeWatcher watcher(Server.Name);
  ASSERT_TRUE(watcher.Active());
  EXPECT_FALSE(watcher.TakeChange());
  const std::string bmp = Sandbox.Root + "/wall.bmp";
  const std::unique_ptr<TBitmap> picture = Picture(5, 4);
  picture->SaveToFile(bmp);
  const std::string hive = Sandbox.Config + "/muralo/registry.reg";
  test::TFakeRunner runner;
  const TBackendDirs dirs{Sandbox.Data, Sandbox.Runtime, Sandbox.Config, 0, 0};
  SetX11RootWallpaper(*picture, TWallpaperStyle::wsCentred, Server.Name);
  // The monitor goes off and comes back (what a hot-plug does; Xvfb refuses the screen size that
  // --auto asks for, after the change is made); the root pixmap is lost meanwhile, as after a reset.
  ASSERT_EQ(Shell("command -v " + test::kXrandr + " >/dev/null"), 0)
      << test::kXrandr + " (package x11-xserver-utils) is needed";
  Shell("DISPLAY=" + Server.Name + " " + test::kXrandr + " --output screen --off 2>/dev/null; DISPLAY=" + Server.Name +
        " " + test::kXrandr + " --output screen --auto 2>/dev/null");
  XDeleteProperty(Viewer.get(), DefaultRootWindow(Viewer.get()), XInternAtom(Viewer.get(), "_XROOTPMAP_ID", False));
  XSync(Viewer.get(), False);
  bool changed = false;
  for (int i = 0; i < 50 && !changed; ++i) {
    changed = watcher.TakeChange();
    if (!changed) usleep(20000);
  }
  ASSERT_TRUE(changed);
  EXPECT_FALSE(RefreshRootWallpaper(bmp, hive, {"", "GNOME", "", "", "", Server.Name}, runner, dirs));
  EXPECT_EQ(RootProperty(Viewer.get(), "_XROOTPMAP_ID"), static_cast<Pixmap>(None));
  ASSERT_TRUE(RefreshRootWallpaper(bmp, hive, {"x11", "", "", "", "", Server.Name}, runner, dirs));
  const int ox = (kScreenW - 5) / 2, oy = (kScreenH - 4) / 2;
  CheckScreen([&](int x, int y) -> unsigned long {
    if (x < ox || y < oy || x >= ox + 5 || y >= oy + 4) return 0;
    return Rgb(*picture, x - ox, y - oy);
  });
  EXPECT_TRUE(runner.Runs.empty());
}

}  // namespace muralo
