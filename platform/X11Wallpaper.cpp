// The root-window wallpaper of plain X11 sessions, after the convention of Esetroot and its
// successors: the background pixmap is named in the root properties _XROOTPMAP_ID and
// ESETROOT_PMAP_ID, is kept by the server after its maker disconnects (RetainPermanent), and is
// freed by the next setter (XKillClient on it) when both properties name it.

#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "platform/X11Backend.h"

// Xlib last: its macros (None, Success, Status, ...) must not reach our headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>

namespace muralo {

namespace {

// Xlib reports protocol errors through one process-wide handler; while ours is installed the
// errors are counted instead of ending the process.
int trappedError = 0;

int TrapError(Display*, XErrorEvent* event) {
  if (trappedError == 0) trappedError = event->error_code;
  return 0;
}

class TErrorTrap {
 public:
  explicit TErrorTrap(Display* display) : FDisplay(display) {
    XSync(FDisplay, False);
    trappedError = 0;
    FPrevious = XSetErrorHandler(TrapError);
  }
  ~TErrorTrap() {
    XSync(FDisplay, False);
    XSetErrorHandler(FPrevious);
  }
  // The first error since the trap was set (or since the last call), after a round trip.
  int Take() {
    XSync(FDisplay, False);
    int error = trappedError;
    trappedError = 0;
    return error;
  }
  TErrorTrap(const TErrorTrap&) = delete;
  TErrorTrap& operator=(const TErrorTrap&) = delete;

 private:
  Display* FDisplay;
  XErrorHandler FPrevious;
};

struct TDisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};

Pixmap ReadPixmapProperty(Display* display, Window root, Atom property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  Pixmap pixmap = None;
  if (XGetWindowProperty(display, root, property, 0, 1, False, XA_PIXMAP, &type, &format, &count, &after, &data) ==
          Success &&
      type == XA_PIXMAP && format == 32 && count == 1 && data)
    pixmap = static_cast<Pixmap>(*reinterpret_cast<unsigned long*>(data));
  if (data) XFree(data);
  return pixmap;
}

// One colour channel of a TrueColor visual: where its bits sit in a pixel.
struct TChannel {
  int Shift = 0;
  int Bits = 0;

  explicit TChannel(unsigned long mask) {
    if (!mask) return;
    while (!(mask & 1)) {
      mask >>= 1;
      ++Shift;
    }
    while (mask & 1) {
      mask >>= 1;
      ++Bits;
    }
  }
  unsigned long Place(uint8_t value) const {
    unsigned long v = Bits >= 8 ? static_cast<unsigned long>(value) << (Bits - 8) : value >> (8 - Bits);
    return v << Shift;
  }
};

// The monitors of the screen (RandR 1.5), each cut to the screen; the whole screen when the server
// knows none.
std::vector<TMonitorArea> MonitorAreas(Display* display, Window root, int width, int height) {
  std::vector<TMonitorArea> areas;
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
      (major > 1 || (major == 1 && minor >= 5))) {
    int count = 0;
    if (XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count)) {
      for (int i = 0; i < count; ++i) {
        const int x0 = std::max(monitors[i].x, 0), y0 = std::max(monitors[i].y, 0);
        const int x1 = std::min(monitors[i].x + monitors[i].width, width);
        const int y1 = std::min(monitors[i].y + monitors[i].height, height);
        if (x1 > x0 && y1 > y0) areas.push_back({x0, y0, x1 - x0, y1 - y0});
      }
      XRRFreeMonitors(monitors);
    }
  }
  if (areas.empty()) areas.push_back({0, 0, width, height});
  return areas;
}

// True when the image's pixels are B, G, R, unused bytes in memory: a 32-bit little-endian
// TrueColor image with 8-bit channels, which is what the picture's 32-bit rows already are.
bool IsBGRXImage(const XImage* image, const Visual* visual) {
  return image->bits_per_pixel == 32 && image->byte_order == LSBFirst && visual->red_mask == 0xFF0000 &&
         visual->green_mask == 0xFF00 && visual->blue_mask == 0xFF;
}

// One row of the picture as B, G, R, X bytes: the bitmap's own row when it is stored that way,
// otherwise converted into scratch.
const uint8_t* RowBGRX(const TBitmap& picture, int y, std::vector<uint8_t>& scratch) {
  const bool plainMasks =
      picture.RedMask == 0 || (picture.RedMask == 0xFF0000 && picture.GreenMask == 0xFF00 && picture.BlueMask == 0xFF);
  const TPixelFormat format = picture.PixelFormat();
  const unsigned bpp = picture.BitsPerPixel();
  if (bpp == 32 && plainMasks &&
      (format == TPixelFormat::pf32bit || format == TPixelFormat::pfCustom || format == TPixelFormat::pfDevice))
    return picture.RowData(y);
  const int width = picture.Width();
  scratch.resize(static_cast<size_t>(width) * 4);
  if (bpp == 24 && (format == TPixelFormat::pf24bit || format == TPixelFormat::pfDevice)) {
    const uint8_t* in = picture.RowData(y);
    uint8_t* out = scratch.data();
    for (int x = 0; x < width; ++x, in += 3, out += 4) {
      out[0] = in[0];
      out[1] = in[1];
      out[2] = in[2];
      out[3] = 0;
    }
  } else {
    picture.ReadRowBGRA(y, scratch.data());
  }
  return scratch.data();
}

bool IsPacked24(const TBitmap& picture) {
  return picture.BitsPerPixel() == 24 &&
         (picture.PixelFormat() == TPixelFormat::pf24bit || picture.PixelFormat() == TPixelFormat::pfDevice);
}

// n pixels of B, G, R bytes as B, G, R, 0.
void Bgr24ToBgrx(uint8_t* out, const uint8_t* in, int n) {
  int i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  // Four bytes at a time, the fourth (the next pixel's blue) masked off; the last pixel goes byte
  // by byte, so that nothing past the span is read.
  for (; i + 1 < n; ++i, in += 3, out += 4) {
    uint32_t v;
    std::memcpy(&v, in, 4);
    v &= 0x00FFFFFFu;
    std::memcpy(out, &v, 4);
  }
#endif
  for (; i < n; ++i, in += 3, out += 4) {
    out[0] = in[0];
    out[1] = in[1];
    out[2] = in[2];
    out[3] = 0;
  }
}

// Screen rows [first, first + count) composed into image, whose row 0 is screen row first: on each
// area the picture tiled from the area's top-left corner, or centred and cut where it is larger
// than the area. What the picture leaves uncovered is not touched (the image starts black).
void ComposeRows(XImage* image, int first, int count, const TBitmap& picture, TWallpaperStyle style,
                 const Visual* visual, const std::vector<TMonitorArea>& areas) {
  const int pw = picture.Width(), ph = picture.Height();
  if (pw <= 0 || ph <= 0) return;
  const bool tiled = style == TWallpaperStyle::wsTiled;
  // The picture's rows go straight into the image where both are B, G, R in memory.
  const bool bgrx = IsBGRXImage(image, visual);
  const bool direct24 = bgrx && IsPacked24(picture);
  const TChannel red(visual->red_mask), green(visual->green_mask), blue(visual->blue_mask);
  std::vector<uint8_t> scratch;
  for (const TMonitorArea& area : areas) {
    const int ox = (area.Width - pw) / 2, oy = (area.Height - ph) / 2;
    const int top = std::max(area.Y, first), bottom = std::min(area.Y + area.Height, first + count);
    for (int y = top; y < bottom; ++y) {
      const int ay = y - area.Y;
      const int sy = tiled ? ay % ph : ay - oy;
      if (sy < 0 || sy >= ph) continue;
      auto* out = reinterpret_cast<uint8_t*>(image->data) +
                  static_cast<size_t>(y - first) * static_cast<size_t>(image->bytes_per_line);
      const uint8_t* row = direct24 ? picture.RowData(sy) : RowBGRX(picture, sy, scratch);
      // The spans of this screen row that show picture columns [sx, sx + n).
      auto put = [&](int dx, int sx, int n) {
        uint8_t* to = out + static_cast<size_t>(area.X + dx) * 4;
        if (direct24) {
          Bgr24ToBgrx(to, row + static_cast<size_t>(sx) * 3, n);
        } else if (bgrx) {
          std::memcpy(to, row + static_cast<size_t>(sx) * 4, static_cast<size_t>(n) * 4);
        } else {
          for (int i = 0; i < n; ++i) {
            const uint8_t* p = row + static_cast<size_t>(sx + i) * 4;
            XPutPixel(image, area.X + dx + i, y - first, red.Place(p[2]) | green.Place(p[1]) | blue.Place(p[0]));
          }
        }
      };
      if (tiled) {
        for (int dx = 0; dx < area.Width; dx += pw) put(dx, 0, std::min(pw, area.Width - dx));
      } else {
        const int dx = std::max(ox, 0), sx = dx - ox;
        const int n = std::min(area.Width - dx, pw - sx);
        if (n > 0) put(dx, sx, n);
      }
    }
  }
}

}  // namespace

void ComposeScreenPicture(const TBitmap& picture, TWallpaperStyle style, int width, int height, TBitmap& screen,
                          const std::vector<TMonitorArea>& monitors) {
  screen.SetPixelFormat(TPixelFormat::pf32bit);
  screen.SetSize(width, height);
  for (int y = 0; y < height; ++y) std::memset(screen.RowData(y), 0, static_cast<size_t>(width) * 4);
  // The same placement as the root window's, on a plain B, G, R, X image.
  Visual visual{};
  visual.red_mask = 0xFF0000;
  visual.green_mask = 0xFF00;
  visual.blue_mask = 0xFF;
  XImage image{};
  image.width = width;
  image.height = height;
  image.bits_per_pixel = 32;
  image.byte_order = LSBFirst;
  image.bytes_per_line = static_cast<int>(screen.RowBytes());
  image.data = reinterpret_cast<char*>(screen.RowData(0));
  std::vector<TMonitorArea> areas;
  if (monitors.empty()) areas.push_back(TMonitorArea{0, 0, width, height});
  for (const TMonitorArea& area : monitors) {
    const int x0 = std::max(area.X, 0), y0 = std::max(area.Y, 0);
    const int x1 = std::min(area.X + area.Width, width), y1 = std::min(area.Y + area.Height, height);
    if (x1 > x0 && y1 > y0) areas.push_back(TMonitorArea{x0, y0, x1 - x0, y1 - y0});
  }
  ComposeRows(&image, 0, height, picture, style, &visual, areas);
  screen.Modified();
}

namespace {

// The screen goes to the server in strips of rows, each composed in a small buffer that serves
// again for a later strip, not in one screen-sized image: the fresh pages of 33 MB (a 4K screen)
// cost more to fault in, on both sides, than composing them. On a local server the buffers are
// shared memory (MIT-SHM), two of them, so that one is composed while the server copies the other;
// where the extension is missing or refuses (a remote display), one ordinary buffer goes through
// the socket, which Xlib has copied from before XPutImage returns.
class TStripUploader {
 public:
  TStripUploader(Display* display, Visual* visual, int depth, int width, int height, const TX11Upload& upload,
                 TErrorTrap& trap)
      : FDisplay(display), FWidth(width) {
    XImage* probe = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(width), 1, 32, 0);
    if (!probe) throw EDesktopError("image X impossible à créer");
    const size_t rowBytes = static_cast<size_t>(probe->bytes_per_line);
    XDestroyImage(probe);
    FRows = static_cast<int>(std::clamp<size_t>(upload.StripBytes / std::max<size_t>(rowBytes, 1), 1,
                                                static_cast<size_t>(std::max(height, 1))));
    if (upload.SharedMemory && XShmQueryExtension(display)) {
      for (TShared& buffer : FShared)
        if (!AttachShared(buffer, visual, depth, trap)) {
          ReleaseShared();
          break;
        }
    }
    if (FSharedCount > 0) return;
    FPlain = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), static_cast<unsigned>(FRows), 32, 0);
    if (!FPlain) throw EDesktopError("image X impossible à créer");
    FPlain->data = static_cast<char*>(std::malloc(rowBytes * static_cast<size_t>(FRows)));
    if (!FPlain->data) {
      XDestroyImage(FPlain);
      throw EDesktopError("mémoire insuffisante pour l'image de l'écran");
    }
  }

  ~TStripUploader() {
    ReleaseShared();
    if (FPlain) XDestroyImage(FPlain);
  }
  TStripUploader(const TStripUploader&) = delete;
  TStripUploader& operator=(const TStripUploader&) = delete;

  int Rows() const { return FRows; }

  // The buffer of the next strip, black. A shared one was last sent two strips ago, and the round
  // trip made before the strip in between was sent has seen the server through it.
  XImage* Next() {
    XImage* image = FSharedCount > 0 ? FShared[FPuts % 2].Image : FPlain;
    std::memset(image->data, 0, static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(FRows));
    return image;
  }

  // Sends the first rows of the buffer that Next gave into the pixmap at screen row y.
  void Put(Pixmap pixmap, GC gc, int y, int rows) {
    const unsigned w = static_cast<unsigned>(FWidth), h = static_cast<unsigned>(rows);
    if (FSharedCount > 0) {
      if (FPuts > 0) XSync(FDisplay, False);  // the previous strip is in: its buffer is free
      XShmPutImage(FDisplay, pixmap, gc, FShared[FPuts % 2].Image, 0, 0, 0, y, w, h, False);
    } else {
      XPutImage(FDisplay, pixmap, gc, FPlain, 0, 0, 0, y, w, h);
    }
    ++FPuts;
  }

 private:
  struct TShared {
    XImage* Image = nullptr;
    XShmSegmentInfo Segment{};
  };

  bool AttachShared(TShared& buffer, Visual* visual, int depth, TErrorTrap& trap) {
    XImage* image = XShmCreateImage(FDisplay, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &buffer.Segment,
                                    static_cast<unsigned>(FWidth), static_cast<unsigned>(FRows));
    if (!image) return false;
    const size_t bytes = static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(FRows);
    buffer.Segment.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (buffer.Segment.shmid < 0) {
      XDestroyImage(image);
      return false;
    }
    buffer.Segment.shmaddr = static_cast<char*>(shmat(buffer.Segment.shmid, nullptr, 0));
    bool attached = false;
    if (buffer.Segment.shmaddr != reinterpret_cast<char*>(-1)) {
      buffer.Segment.readOnly = True;
      XShmAttach(FDisplay, &buffer.Segment);
      attached = trap.Take() == 0;  // BadAccess from a server on another machine
    }
    // Marked for removal once attached: it goes when both sides let go, also if we crash.
    shmctl(buffer.Segment.shmid, IPC_RMID, nullptr);
    if (!attached) {
      if (buffer.Segment.shmaddr != reinterpret_cast<char*>(-1)) shmdt(buffer.Segment.shmaddr);
      XDestroyImage(image);
      return false;
    }
    image->data = buffer.Segment.shmaddr;
    buffer.Image = image;
    ++FSharedCount;
    return true;
  }

  void ReleaseShared() {
    if (FSharedCount == 0) return;
    for (TShared& buffer : FShared)
      if (buffer.Image) XShmDetach(FDisplay, &buffer.Segment);
    XSync(FDisplay, False);
    for (TShared& buffer : FShared) {
      if (!buffer.Image) continue;
      shmdt(buffer.Segment.shmaddr);
      buffer.Image->data = nullptr;
      XDestroyImage(buffer.Image);
      buffer.Image = nullptr;
    }
    FSharedCount = 0;
  }

  Display* FDisplay;
  int FWidth;
  int FRows = 1;
  TShared FShared[2];
  int FSharedCount = 0;
  XImage* FPlain = nullptr;
  int FPuts = 0;
};

class TX11Backend final : public TDesktopBackend {
 public:
  explicit TX11Backend(std::string displayName) : FDisplayName(std::move(displayName)) {}
  TDesktopKind Kind() const override { return TDesktopKind::dkX11; }

  void ApplyPicture(const std::string&, const TBitmap& picture, TWallpaperStyle style) override {
    SetX11RootWallpaper(picture, style, FDisplayName);
  }

  void Apply(const std::string& bmpFile, TWallpaperStyle style) override {
    TBitmap picture;
    try {
      TFileStream stream(bmpFile, TFileMode::fmOpenRead);
      picture.LoadFromStream(stream);
    } catch (const Exception& error) {
      throw EDesktopError(Format("%s ne peut pas être lu : %s", bmpFile, error.what()));
    }
    SetX11RootWallpaper(picture, style, FDisplayName);
  }

 private:
  std::string FDisplayName;
};

}  // namespace

std::unique_ptr<TDesktopBackend> CreateX11Backend(const std::string& displayName) {
  return std::make_unique<TX11Backend>(displayName);
}

void SetX11RootWallpaper(const TBitmap& picture, TWallpaperStyle style, const std::string& displayName) {
  SetX11RootWallpaper(picture, style, displayName, TX11Upload{});
}

void SetX11RootWallpaper(const TBitmap& picture, TWallpaperStyle style, const std::string& displayName,
                         const TX11Upload& upload) {
  // A connection of our own: its close-down mode must not touch the toolkit's connection.
  std::unique_ptr<Display, TDisplayCloser> display(XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str()));
  if (!display) {
    const char* name = displayName.empty() ? std::getenv("DISPLAY") : displayName.c_str();
    throw EDesktopError(Format("l'écran X « %s » ne peut pas être ouvert", name ? name : ""));
  }
  Display* dpy = display.get();
  const int screen = DefaultScreen(dpy);
  const Window root = RootWindow(dpy, screen);
  Visual* visual = DefaultVisual(dpy, screen);
  const int depth = DefaultDepth(dpy, screen);
  const int width = DisplayWidth(dpy, screen), height = DisplayHeight(dpy, screen);
  if (visual->c_class != TrueColor && visual->c_class != DirectColor)
    throw EDesktopError("l'écran X n'est pas en couleurs vraies (TrueColor)");

  const Atom rootPmap = XInternAtom(dpy, "_XROOTPMAP_ID", False);
  const Atom esetrootPmap = XInternAtom(dpy, "ESETROOT_PMAP_ID", False);
  TErrorTrap trap(dpy);
  const Pixmap oldRoot = ReadPixmapProperty(dpy, root, rootPmap);
  const Pixmap oldEsetroot = ReadPixmapProperty(dpy, root, esetrootPmap);

  const std::vector<TMonitorArea> areas = MonitorAreas(dpy, root, width, height);
  const Pixmap pixmap = XCreatePixmap(dpy, root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                      static_cast<unsigned>(depth));
  GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
  try {
    TStripUploader strips(dpy, visual, depth, width, height, upload, trap);
    for (int y = 0; y < height; y += strips.Rows()) {
      const int rows = std::min(strips.Rows(), height - y);
      ComposeRows(strips.Next(), y, rows, picture, style, visual, areas);
      strips.Put(pixmap, gc, y, rows);
    }
  } catch (...) {
    XFreeGC(dpy, gc);
    XFreePixmap(dpy, pixmap);
    throw;
  }
  XFreeGC(dpy, gc);
  if (int error = trap.Take()) {
    XFreePixmap(dpy, pixmap);
    throw EDesktopError(Format("le serveur X refuse le fond d'écran (erreur %d)", error));
  }

  XSetWindowBackgroundPixmap(dpy, root, pixmap);
  XClearWindow(dpy, root);
  const unsigned long id = pixmap;
  XChangeProperty(dpy, root, rootPmap, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
  XChangeProperty(dpy, root, esetrootPmap, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id),
                  1);
  if (int error = trap.Take()) throw EDesktopError(Format("le serveur X refuse le fond d'écran (erreur %d)", error));

  // The previous setter's pixmap, retained after it disconnected, is ours to free only when both
  // properties named it; otherwise it belongs to a program that is still drawing the desktop.
  if (oldRoot != None && oldRoot == oldEsetroot && oldRoot != pixmap) {
    XKillClient(dpy, oldRoot);
    trap.Take();  // BadValue when it is already gone: nothing left to free
  }
  XSetCloseDownMode(dpy, RetainPermanent);
  XSync(dpy, False);
}

}  // namespace muralo
