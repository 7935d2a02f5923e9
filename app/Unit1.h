#pragma once
// TForm1, the main window: the image list, the wallpaper options, the menus, the tray icon and the
// timer. Widgets only route events to the plain classes of Wallpaper, ImageList and Settings.

#include <QActionGroup>
#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "app/ImageList.h"
#include "app/LongTimer.h"
#include "app/Settings.h"
#include "app/Wallpaper.h"
#include "classlib/Canvas.h"
#include "classlib/Graphics.h"
#include "imaging/PictureLoader.h"

namespace Ui {
class TForm1;
}
class QListWidget;
class QRadioButton;

namespace muralo {

// Everything the window reaches outside itself. The program fills it with the real services; tests
// fill it with recording fakes.
struct TForm1Services {
  TRegistry* Hive = nullptr;
  TDesktopServices* Desktop = nullptr;
  // Loads a picture file through the picture loader (raises EInvalidGraphic, EFOpenError, ...);
  // LoadPicture of the picture loader when unset.
  std::function<void(TPicture& picture, const std::string& fileName)> LoadPicture;
  // The fallback picture Image2 (the stopped-timer icon); the thumbnail receives copies of it.
  std::shared_ptr<TGraphic> Image2;
  QIcon StoppedIcon;  // Image2
  QIcon RunningIcon;  // Image3
  // The standard error report; a message box when unset.
  std::function<void(const QString& text)> ShowError;
  // A notice that must not block the start (no tray); a non-modal message box when unset.
  std::function<void(const QString& text)> ShowNotice;
  // File dialogs; the Qt dialogs with their titles and filters when unset. Empty result: cancelled.
  std::function<QStringList()> OpenImages;
  std::function<QString()> OpenListFile;
  std::function<QString(const QString& preset)> SaveListFile;
  std::function<std::optional<QFont>(const QFont& current)> ChooseFont;
  // The caption's colour, asked right after the font; nullopt when cancelled.
  std::function<std::optional<QColor>(const QColor& current)> ChooseColor;
  // The duration dialog: shows the dialog for a duration in ms; nullopt when not confirmed.
  std::function<std::optional<int32_t>(int32_t current)> ChooseDuration;
  std::function<void()> ShowSearch;
  std::function<void()> ShowPreviewWindow;
  std::function<void()> ShowAbout;
  // Opens the help of the program folder; false when there is none to open.
  std::function<bool(const std::string& programDir)> OpenHelp;
  std::function<void()> OpenHelpOnHelp;
  // Tray availability (QSystemTrayIcon::isSystemTrayAvailable when unset).
  std::function<bool()> TrayAvailable;
  // The command line's first argument is non-empty: change once, no window, no tray, no save.
  bool OneShot = false;
  std::string ProgramDir;
};

class TForm1 : public QMainWindow {
 public:
  explicit TForm1(TForm1Services services, QWidget* parent = nullptr);
  ~TForm1() override;

  Ui::TForm1* ui() const { return Ui.get(); }

  // Restoring and the start-up change; run once right after construction.
  void FormCreate();

  // Part of the wallpaper change.
  void ApercuBNClick();
  void Changer();
  void Timer2Timer();
  void MosaiqueClick();
  void CentreClick();
  void RetailleClick();
  void Changer1Click();
  void ListeClick();
  void ListeDblClick();
  void Image1DblClick();
  void ApercuClick();
  // The list.
  void AjouterBNClick();
  void EnleverBNClick();
  void WMDropFiles(const QStringList& files);
  void CheckBox3Click();
  void NouvelleListe1Click();
  void ChargerListe1Click();
  void SauverListeSous1Click();
  // Settings and shutdown.
  void SaveSettings();
  void FormClose();
  void WMEndSession(bool ending);
  // Menus.
  void Quitter1Click();
  void FermerBNClick();
  void Rechercheruneimage1Click();
  void Taillecran1Click();
  void Mosaque1Click();
  void Centr1Click();
  void Police1Click();
  void Timeron1Click();
  void Timeroff1Click();
  void Dure1Click();
  void Ordonn1Click();
  void Alatoire1Click();
  void Aide2Click();
  void Aidesurlaide1Click();
  void Aproposde1Click();
  // Tray.
  void MinimizeToTray();
  void Restaurer1Click();
  void WMShowMain(uintptr_t wParam, intptr_t lParam);
  void TrayIconMessage(QSystemTrayIcon::ActivationReason reason);

  // State, readable by the program and the tests.
  const TEntryList& Entries() const { return List; }
  int EntryIndex() const;
  void SetEntryIndex(int index);
  void SetEntries(const TEntryList& entries);
  TGraphic* Picture() const { return Image1.Graphic(); }
  const std::string& CurrentListFile() const { return ListFile; }
  void SetCurrentListFile(const std::string& name) { ListFile = name; }
  bool SelectionMade() const { return FSelectionMade; }
  int32_t TimerDuration() const { return FTimerDuration; }
  void SetTimerDuration(int32_t ms) { FTimerDuration = ms; }
  bool TimerRunning() const { return Timer2.Enabled(); }
  uint32_t TimerInterval() const { return Timer2.Interval(); }
  TLongTimer& Timer() { return Timer2; }
  TFont CaptionFont;
  QMenu* PopupMenu1() const { return FPopupMenu; }
  QSystemTrayIcon* TrayIcon() const { return FTray; }
  TSettings CurrentSettings() const;
  // Replaces the random source of the random order (tests).
  void SetRandomSource(std::function<uint32_t()> source) { Random = std::move(source); }
  // Computes the list's horizontal extent from the widest entry (done once at start-up).
  int HorizontalExtent() const { return FHorizontalExtent; }

  // Runs a command under the standard error report: any exception is shown and the program goes on.
  void Run(void (TForm1::*handler)());
  template <class F>
  void RunGuarded(F&& f);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void ConnectControls();
  void ApplyRestored(int index, const TSettings& s);
  void SetRadio(QRadioButton* button, bool checked);
  void ShowCount();
  void RefreshList();
  void AddEntry(const std::string& path);
  void SaveCurrentList();
  void WriteList(const std::string& fileName);
  void UpdateThumbnail();
  void ShowErrorReport(const QString& text);
  bool SetTrayIcon(int action);  // 0 add, 1 modify, 2 delete
  void ComputeHorizontalExtent();
  void CheckTimerItems(bool running);

  std::unique_ptr<Ui::TForm1> Ui;
  TForm1Services Services;
  TEntryList List;
  std::string ListFile;
  TPicture Image1;  // the thumbnail's picture
  bool FSelectionMade = false;
  bool Restoring = false;
  bool SelectingProgrammatically = false;
  bool Closed = false;
  bool TrayNoticeShown = false;
  int32_t FTimerDuration = 0;
  TLongTimer Timer2;
  QMenu* FPopupMenu = nullptr;
  QPointer<QSystemTrayIcon> FTray;
  QActionGroup* WallpaperGroup = nullptr;
  QActionGroup* TimerGroup = nullptr;
  QActionGroup* TrayTimerGroup = nullptr;
  QActionGroup* OrderGroup = nullptr;
  std::function<uint32_t()> Random;
  std::mt19937 Generator;
  int FHorizontalExtent = 0;
};

template <class F>
void TForm1::RunGuarded(F&& f) {
  try {
    f();
  } catch (const std::exception& e) {
    ShowErrorReport(QString::fromUtf8(e.what()));
  }
}

}  // namespace muralo
