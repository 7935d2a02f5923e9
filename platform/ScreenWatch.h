#pragma once
// Changes of the X screen's monitors (a monitor added, removed, resized or turned), through RandR's
// screen-change events on a connection of our own, for a program that keeps the root-window
// wallpaper right while it runs.

#include <string>

namespace muralo {

class TScreenChangeWatcher {
 public:
  // Watches the X display displayName ("" = $DISPLAY); inactive without X or RandR.
  explicit TScreenChangeWatcher(const std::string& displayName = "");
  ~TScreenChangeWatcher();
  TScreenChangeWatcher(const TScreenChangeWatcher&) = delete;
  TScreenChangeWatcher& operator=(const TScreenChangeWatcher&) = delete;

  bool Active() const { return FDisplay != nullptr; }
  // The connection's socket, readable when events wait (-1 when inactive).
  int Fd() const;
  // Reads the waiting events; true when the screen changed since the last call.
  bool TakeChange();

 private:
  void* FDisplay = nullptr;  // Display*, kept out of this header with Xlib's macros
  int FEventBase = 0;
};

}  // namespace muralo
