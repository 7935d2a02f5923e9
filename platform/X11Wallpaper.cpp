// The root-window wallpaper of plain X11 sessions, after the convention of Esetroot and its
// successors: the background pixmap is named in the root properties _XROOTPMAP_ID and
// ESETROOT_PMAP_ID, is kept by the server after its maker disconnects (RetainPermanent), and is
// freed by the next setter (XKillClient on it) when both properties name it.

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

// The screen image: the picture tiled from the top-left corner, or centred on black and cut where it
// is larger than the screen.
void Compose(XImage* image, const TBitmap& picture, TWallpaperStyle style, const Visual* visual) {
  const int width = image->width, height = image->height;
  const int pw = picture.Width(), ph = picture.Height();
  const TChannel red(visual->red_mask), green(visual->green_mask), blue(visual->blue_mask);
  const int ox = (width - pw) / 2, oy = (height - ph) / 2;
  std::vector<uint8_t> bgra(static_cast<size_t>(pw > 0 ? pw : 1) * 4);
  for (int y = 0; y < height; ++y) {
    int sy = -1;
    if (pw > 0 && ph > 0) sy = style == TWallpaperStyle::wsTiled ? y % ph : y - oy;
    if (sy < 0 || sy >= ph) {
      for (int x = 0; x < width; ++x) XPutPixel(image, x, y, 0);
      continue;
    }
    picture.ReadRowBGRA(sy, bgra.data());
    for (int x = 0; x < width; ++x) {
      const int sx = style == TWallpaperStyle::wsTiled ? x % pw : x - ox;
      unsigned long pixel = 0;
      if (sx >= 0 && sx < pw) {
        const uint8_t* p = &bgra[static_cast<size_t>(sx) * 4];
        pixel = red.Place(p[2]) | green.Place(p[1]) | blue.Place(p[0]);
      }
      XPutPixel(image, x, y, pixel);
    }
  }
}

class TX11Backend final : public TDesktopBackend {
public:
  explicit TX11Backend(std::string displayName) : FDisplayName(std::move(displayName)) {}
  TDesktopKind Kind() const override { return TDesktopKind::dkX11; }

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

  XImage* image = XCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                               static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
  if (!image) throw EDesktopError("image X impossible à créer");
  image->data = static_cast<char*>(std::calloc(static_cast<size_t>(image->bytes_per_line), static_cast<size_t>(height)));
  if (!image->data) {
    XDestroyImage(image);
    throw EDesktopError("mémoire insuffisante pour l'image de l'écran");
  }
  Compose(image, picture, style, visual);

  const Pixmap pixmap = XCreatePixmap(dpy, root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                      static_cast<unsigned>(depth));
  GC gc = XCreateGC(dpy, pixmap, 0, nullptr);
  XPutImage(dpy, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
  XFreeGC(dpy, gc);
  XDestroyImage(image);
  if (int error = trap.Take()) {
    XFreePixmap(dpy, pixmap);
    throw EDesktopError(Format("le serveur X refuse le fond d'écran (erreur %d)", error));
  }

  XSetWindowBackgroundPixmap(dpy, root, pixmap);
  XClearWindow(dpy, root);
  const unsigned long id = pixmap;
  XChangeProperty(dpy, root, rootPmap, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&id), 1);
  XChangeProperty(dpy, root, esetrootPmap, XA_PIXMAP, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&id), 1);
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
