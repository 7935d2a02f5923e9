#include "QtTestApp.h"

#include <QApplication>

QApplication& TestApplication() {
  // Widget tests run without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "muralo-test";
  static char* argv[] = {name, nullptr};
  // Never destroyed: tearing Qt down among the static destructors at exit crashes.
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// Under LeakSanitizer: fontconfig, loaded by Qt's font database, keeps a cache it never frees.
// Only that library's allocations are ignored.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
