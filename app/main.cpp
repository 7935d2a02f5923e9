// The program entry: single-instance guard, splash, windows, tray life and the end of the session.

#include <QApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/AboutBox.h"
#include "app/Help.h"
#include "app/ImageWindow.h"
#include "app/QtBridge.h"
#include "app/SignalWatcher.h"
#include "app/Splash.h"
#include "app/SystemServices.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "app/Unit3.h"
#include "classlib/Resources.h"
#include "imaging/FileFormatList.h"
#include "platform/Desktop.h"
#include "platform/Registry.h"
#include "platform/Report.h"
#include "platform/ScreenWatch.h"
#include "platform/Shell.h"
#include "platform/SingleInstance.h"
#include "platform/System.h"

using namespace muralo;

namespace {

std::string ProgramDirectory(const char* argv0) {
  std::string dir = QCoreApplication::applicationDirPath().toStdString();
  if (dir.empty()) {
    std::string self = argv0 ? argv0 : "";
    auto slash = self.rfind('/');
    dir = slash == std::string::npos ? "." : self.substr(0, slash);
  }
  return dir + "/";
}

std::shared_ptr<TGraphic> TryLoadIcon(const char* name) {
  try {
    return LoadResourceIcon(name);
  } catch (const std::exception&) {
    return nullptr;
  }
}

// The end of the session: nobody is left to close a message box, so a save that fails is told on
// stderr (the session's log) and the program still ends.
void EndSession(TForm1& form) {
  try {
    form.WMEndSession(true);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "muralo : %s\n", e.what());
  }
}

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

// Whether Qt's Wayland platform plugin is installed (Debian's qt6-wayland).
bool HasQtWaylandPlugin() {
  const QString dir = QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms/";
  return QFileInfo::exists(dir + "libqwayland-generic.so") || QFileInfo::exists(dir + "libqwayland-egl.so");
}

// Chooses Qt's platform before the application object exists, where Qt would abort on a display
// it cannot reach. The one-shot change shows no window: it runs on the offscreen platform, so it
// starts neither the tray machinery nor the session bus, and it takes the screen from X itself.
// Returns an empty string when the program can run, otherwise the message to end with.
std::string ChooseQtPlatform(bool oneShot) {
  const std::string chosen = EnvOrEmpty("QT_QPA_PLATFORM");
  const bool x11 = CanOpenX11Display(EnvOrEmpty("DISPLAY"));
  const bool wayland = HasWaylandSocket(EnvOrEmpty("WAYLAND_DISPLAY"), EnvOrEmpty("XDG_RUNTIME_DIR"));
  if (oneShot) {
    if (!x11 && !wayland) return NoDesktopMessage;
    // Without X the primary screen's size comes from the compositor through Qt, when Qt can talk to it.
    qputenv("QT_QPA_PLATFORM", !x11 && HasQtWaylandPlugin() ? "wayland" : "offscreen");
    return {};
  }
  if (!chosen.empty() && chosen.rfind("offscreen", 0) == 0) return {};
  if (!x11 && !wayland) return NoDesktopMessage;
  if (!x11 && !HasQtWaylandPlugin())
    return "session Wayland sans X : le module Wayland de Qt manque (paquet qt6-wayland)";
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  SetPlatformReporter(StderrReporter("muralo"));
  RegisterProgramResources();
  RegisterVersionResource();
  TFrameworkScope framework;
  const bool oneShot = argc > 1 && argv[1] && argv[1][0] != '\0';

  // Another instance runs: it shows its window, and this one ends.
  TNamedMutex mutex("MuraloMutex");
  try {
    if (!mutex.TryAcquire()) {
      // The first instance may still be starting and not listen yet: try again for a few seconds.
      for (int attempt = 0; attempt < 50 && !SendInstanceMessage("Muralo", TInstanceMessage{WM_SHOWMAIN, 0, 0});
           ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return 0;
    }
  } catch (const std::exception&) {
    // Without a lock file the guard cannot work; the program runs on its own.
  }

  if (std::string problem = ChooseQtPlatform(oneShot); !problem.empty()) {
    PlatformReport(problem);
    return 1;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Muralo");
  QApplication::setApplicationDisplayName("Muralo");
  QApplication::setQuitOnLastWindowClosed(false);
  InstallFrenchTranslations();  // Qt's own dialogs speak French too
  InstallFontSubstitutions();
  TQtTextRenderer textRenderer;
  SetTextRenderer(&textRenderer);
  // On X the platform layer reads the primary monitor's real pixel size itself (RandR). Elsewhere
  // Qt's geometry is in device-independent pixels: the real size is it times the (possibly
  // fractional) device pixel ratio, rounded.
  if (QScreen* screen = QGuiApplication::primaryScreen();
      screen && QGuiApplication::platformName() != "xcb" && QGuiApplication::platformName() != "offscreen")
    SetScreenSize(static_cast<int>(std::lround(screen->geometry().width() * screen->devicePixelRatio())),
                  static_cast<int>(std::lround(screen->geometry().height() * screen->devicePixelRatio())));

  try {
    // Started to change the wallpaper once, the program shows no window at all (it runs on the
    // offscreen platform): it builds neither the splash nor, after the change, the windows that
    // only the tray program opens.
    std::unique_ptr<TGraphic> banner;
    std::unique_ptr<TfrmSplash> splash;
    if (!oneShot) {
      try {
        banner = LoadResourceBitmap(ResSplashBanner);
      } catch (const std::exception&) {
      }
      splash = std::make_unique<TfrmSplash>(banner.get());
      splash->show();
      QApplication::processEvents();
    }

    TRegistry hive;
    TSystemDesktop desktop;
    TForm1Services services;
    services.Hive = &hive;
    services.Desktop = &desktop;
    services.Image2 = TryLoadIcon(ResStoppedIcon);
    std::shared_ptr<TGraphic> image3 = TryLoadIcon(ResRunningIcon);
    if (services.Image2) services.StoppedIcon = ToQIcon(*services.Image2);
    if (image3) services.RunningIcon = ToQIcon(*image3);
    services.OneShot = oneShot;
    services.ProgramDir = ProgramDirectory(argv[0]);
    services.OpenHelp = [](const std::string& programDir) { return OpenHelp(programDir); };
    services.OpenHelpOnHelp = [] { OpenHelpOnHelp(); };
    // The duration dialog is created after the main window, as the windows' order wants.
    // The main window owns the dialog (Qt deletes it with its parent).
    QPointer<TForm2> form2;
    services.ChooseDuration = [&form2](int32_t current) -> std::optional<int32_t> {
      if (!form2) return std::nullopt;
      return ExecuteDurationDialog(*form2, current);
    };

    // The search dialog and the preview window, created after the duration dialog.
    QPointer<TForm3> form3;
    QPointer<TImgWin> imgWin;
    TForm1* mainForm = nullptr;
    services.ShowSearch = [&form3] {
      if (form3) form3->ShowSearch();
    };
    services.ShowPreviewWindow = [&imgWin, &mainForm] {
      if (imgWin && mainForm) ShowPreviewModal(*imgWin, mainForm->Picture());
    };

    // The About box: the program's own version resource, the project's site and address (as in the
    // package metadata), the stopped-timer icon.
    TAboutBox aboutBox;
    aboutBox.URLSite = "https://www.brenwick.fr/muralo";
    aboutBox.EMail = "muralo@brenwick.fr";
    aboutBox.SetImage(services.Image2.get());
    services.ShowAbout = [&aboutBox, &mainForm] {
      aboutBox.SetFileName(ProgramFileName());  // a fresh reading of the resource
      aboutBox.Execute(mainForm);
    };

    TForm1 form(services);
    mainForm = &form;
    form.setWindowIcon(services.StoppedIcon);
    // The second instance's message arrives on the instance socket. It is heard from before the
    // start-up change: a second start while that change runs is answered once it ends, not lost.
    TInstanceWindow instance("Muralo");
    std::unique_ptr<QSocketNotifier> instanceNotifier;
    if (!oneShot && instance.Listen()) {
      instanceNotifier = std::make_unique<QSocketNotifier>(instance.SocketFd(), QSocketNotifier::Read);
      QObject::connect(instanceNotifier.get(), &QSocketNotifier::activated, &form, [&] {
        for (const TInstanceMessage& m : instance.ReadPendingMessages())
          if (m.Msg == WM_SHOWMAIN) form.WMShowMain(static_cast<uintptr_t>(m.WParam), static_cast<intptr_t>(m.LParam));
      });
    }
    // The end of the session (SIGTERM) may come while the start-up change runs: it is kept until
    // the message loop runs.
    std::unique_ptr<TSignalWatcher> termSignals;
    bool sessionEnded = false;
    if (!oneShot)
      termSignals = std::make_unique<TSignalWatcher>([&](int) {
        EndSession(form);
        sessionEnded = true;
        QApplication::quit();  // does nothing before the loop runs: sessionEnded covers that
      });
    form.RunGuarded([&] { form.FormCreate(); });
    if (oneShot) return 0;
    form2 = new TForm2(&form);
    form3 = new TForm3(form, &form);
    imgWin = new TImgWin(&form);
    splash->hide();
    splash.reset();
    if (sessionEnded) return 0;

    // The end of the desktop session: the list and the settings are saved, the tray icon goes.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form, [&](QSessionManager&) { EndSession(form); });
    // On X, a monitor added, removed or resized lays the root-window wallpaper out again.
    TScreenChangeWatcher screenChanges;
    std::unique_ptr<QSocketNotifier> screenNotifier;
    if (screenChanges.Active()) {
      screenNotifier = std::make_unique<QSocketNotifier>(screenChanges.Fd(), QSocketNotifier::Read);
      QObject::connect(screenNotifier.get(), &QSocketNotifier::activated, &form, [&] {
        if (screenChanges.TakeChange())
          RefreshRootWallpaper(WallpaperFileName(), DefaultHiveFile(), TDesktopEnvironment::FromProcess(),
                               SystemCommandRunner(), TBackendDirs::Default());
      });
    }
    QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Muralo", QString::fromUtf8(e.what()));
  }
  return 0;
}
