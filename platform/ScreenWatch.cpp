#include "platform/ScreenWatch.h"

// Xlib last: its macros must not reach our headers.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace muralo {

namespace {

Display* AsDisplay(void* display) { return static_cast<Display*>(display); }

}  // namespace

TScreenChangeWatcher::TScreenChangeWatcher(const std::string& displayName) {
  Display* display = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (!display) return;
  int errorBase = 0;
  if (!XRRQueryExtension(display, &FEventBase, &errorBase)) {
    XCloseDisplay(display);
    return;
  }
  XRRSelectInput(display, DefaultRootWindow(display), RRScreenChangeNotifyMask);
  XFlush(display);
  FDisplay = display;
}

TScreenChangeWatcher::~TScreenChangeWatcher() {
  if (FDisplay) XCloseDisplay(AsDisplay(FDisplay));
}

int TScreenChangeWatcher::Fd() const { return FDisplay ? ConnectionNumber(AsDisplay(FDisplay)) : -1; }

bool TScreenChangeWatcher::TakeChange() {
  if (!FDisplay) return false;
  Display* display = AsDisplay(FDisplay);
  bool changed = false;
  while (XPending(display) > 0) {
    XEvent event;
    XNextEvent(display, &event);
    XRRUpdateConfiguration(&event);  // keeps Xlib's idea of the screen size current
    if (event.type == FEventBase + RRScreenChangeNotify) changed = true;
  }
  return changed;
}

}  // namespace muralo
