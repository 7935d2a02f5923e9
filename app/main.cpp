// The program entry: single-instance guard, splash, windows, tray life and the end of the session.

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>

#include <memory>

#include "app/Help.h"
#include "app/QtBridge.h"
#include "app/SignalWatcher.h"
#include "app/Splash.h"
#include "app/SystemServices.h"
#include "app/Unit1.h"
#include "app/Unit2.h"
#include "classlib/Resources.h"
#include "imaging/FileFormatList.h"
#include "platform/Registry.h"
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

}  // namespace

int main(int argc, char** argv) {
  RegisterProgramResources();
  TFrameworkScope framework;
  const bool oneShot = argc > 1 && argv[1] && argv[1][0] != '\0';

  // Another instance runs: it shows its window, and this one ends.
  TNamedMutex mutex("MuraloMutex");
  try {
    if (!mutex.TryAcquire()) {
      SendInstanceMessage("Muralo", TInstanceMessage{WM_SHOWMAIN, 0, 0});
      return 0;
    }
  } catch (const std::exception&) {
    // Without a lock file the guard cannot work; the program runs on its own.
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Muralo");
  QApplication::setApplicationDisplayName("Muralo");
  QApplication::setQuitOnLastWindowClosed(false);
  InstallFontSubstitutions();
  TQtTextRenderer textRenderer;
  SetTextRenderer(&textRenderer);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    SetScreenSize(screen->geometry().width() * static_cast<int>(screen->devicePixelRatio()),
                  screen->geometry().height() * static_cast<int>(screen->devicePixelRatio()));

  try {
    std::unique_ptr<TGraphic> banner;
    try {
      banner = LoadResourceBitmap(ResSplashBanner);
    } catch (const std::exception&) {
    }
    auto splash = std::make_unique<TfrmSplash>(banner.get());
    splash->show();
    QApplication::processEvents();

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
    services.OpenHelp = [](const std::string& programDir) { OpenHelp(programDir); };
    services.OpenHelpOnHelp = [] { OpenHelpOnHelp(); };
    // The duration dialog is created after the main window, as the windows' order wants.
    // The main window owns the dialog (Qt deletes it with its parent).
    QPointer<TForm2> form2;
    services.ChooseDuration = [&form2](int32_t current) -> std::optional<int32_t> {
      if (!form2) return std::nullopt;
      return ExecuteDurationDialog(*form2, current);
    };

    TForm1 form(services);
    form.setWindowIcon(services.StoppedIcon);
    form.RunGuarded([&] { form.FormCreate(); });
    form2 = new TForm2(&form);
    splash->hide();
    splash.reset();
    if (oneShot) return 0;

    // The second instance's message arrives on the instance socket.
    TInstanceWindow instance("Muralo");
    std::unique_ptr<QSocketNotifier> instanceNotifier;
    if (instance.Listen()) {
      instanceNotifier = std::make_unique<QSocketNotifier>(instance.SocketFd(), QSocketNotifier::Read);
      QObject::connect(instanceNotifier.get(), &QSocketNotifier::activated, &form, [&] {
        for (const TInstanceMessage& m : instance.ReadPendingMessages())
          if (m.Msg == WM_SHOWMAIN) form.WMShowMain(static_cast<uintptr_t>(m.WParam), static_cast<intptr_t>(m.LParam));
      });
    }
    // The end of the desktop session: the list and the settings are saved, the tray icon goes.
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &form,
                     [&](QSessionManager&) { form.RunGuarded([&] { form.WMEndSession(true); }); });
    TSignalWatcher termSignals([&](int) {
      form.RunGuarded([&] { form.WMEndSession(true); });
      QApplication::quit();
    });
    QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, "Muralo", QString::fromUtf8(e.what()));
  }
  return 0;
}
