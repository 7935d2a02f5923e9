#include "app/Unit1.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QFontDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QRadioButton>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/Help.h"
#include "app/QtBridge.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "ui_Unit1.h"

namespace muralo {

namespace {

// Shows the application-starting cursor for the length of a change and restores the previous one.
class TBusyCursor {
 public:
  TBusyCursor() {
    QApplication::setOverrideCursor(Qt::BusyCursor);
    QApplication::processEvents();
  }
  ~TBusyCursor() { QApplication::restoreOverrideCursor(); }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;
};

constexpr const char* TrayTip = "Changer de papier peint";
constexpr const char* FontColorTitle = "Couleur du nom du fichier";
// Why a picture could not be read when the reader's stream gave no reason of its own.
constexpr const char* SDamagedPicture = "fichier tronqué ou endommagé";
constexpr const char* UnsavedListName = "liste-sans-nom.que";

// Sizes a label to its text, as the class library's labels do, never below its designed box (so
// the window keeps its layout): a right-aligned label keeps its right edge and grows to the left,
// any other keeps its left edge and grows to the right.
void AutoSize(QLabel* label) {
  constexpr const char* Designed = "designedGeometry";
  if (!label->property(Designed).isValid()) label->setProperty(Designed, label->geometry());
  QRect g = label->property(Designed).toRect();
  const QMargins margins = label->contentsMargins();
  const int text =
      label->fontMetrics().horizontalAdvance(label->text()) + margins.left() + margins.right() + 2 * label->margin();
  const int width = std::max(g.width(), text);
  if (label->alignment() & Qt::AlignRight)
    g.setLeft(g.left() + g.width() - width);
  else
    g.setWidth(width);
  label->setGeometry(g);
}

// An entry as the list shows it.
QString EntryText(const std::string& entry) { return QString::fromStdString(EntryDisplayText(entry)); }

}  // namespace

TForm1::TForm1(TForm1Services services, QWidget* parent)
    : QMainWindow(parent), Ui(std::make_unique<::Ui::TForm1>()), Services(std::move(services)) {
  Ui->setupUi(this);
  setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowMaximizeButtonHint);
  centralWidget()->setFixedSize(422, 280);
  layout()->setSizeConstraint(QLayout::SetFixedSize);
  // The caption font; the font of the file name written onto the wallpaper.
  CaptionFont.Name = "Times new Roman";
  CaptionFont.Size = 16;
  CaptionFont.Color = 0x004040FF;
  connect(&Timer2, &TLongTimer::timeout, this, [this] { Run(&TForm1::Timer2Timer); });
  Generator.seed(static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count()));
  Random = [this] { return static_cast<uint32_t>(Generator() >> 1); };
  Ui->Image1->installEventFilter(this);
  Image1.OnChange = [this](TPicture&) { UpdateThumbnail(); };
  BuildMenus();
  ConnectControls();
  for (QLabel* label : {Ui->Label1, Ui->Label2, Ui->Label3}) AutoSize(label);
}

TForm1::~TForm1() {
  // FormDestroy: the tray icon goes.
  SetTrayIcon(2);
}

void TForm1::BuildMenus() {
  auto group = [this](std::initializer_list<QAction*> actions) {
    auto* g = new QActionGroup(this);
    g->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (QAction* a : actions) g->addAction(a);
    return g;
  };
  WallpaperGroup = group({Ui->Mosaque1, Ui->Centr1});
  TimerGroup = group({Ui->Timeron1, Ui->Timeroff1});
  TrayTimerGroup = group({Ui->TimerOn2, Ui->TimerOff2});
  OrderGroup = group({Ui->Ordonn1, Ui->Alatoire1});

  FPopupMenu = new QMenu(this);
  FPopupMenu->setObjectName("PopupMenu1");
  FPopupMenu->addAction(Ui->TimerOn2);
  FPopupMenu->addAction(Ui->TimerOff2);
  FPopupMenu->addAction(Ui->Restaurer1);
  FPopupMenu->addAction(Ui->Changer2);
  FPopupMenu->addSeparator();
  FPopupMenu->addAction(Ui->Quitter2);
  QFont bold = FPopupMenu->font();
  bold.setBold(true);
  Ui->Changer2->setFont(bold);
  FPopupMenu->setDefaultAction(Ui->Changer2);
}

void TForm1::ConnectControls() {
  auto on = [this](QAction* action, void (TForm1::*handler)()) {
    connect(action, &QAction::triggered, this, [this, handler] { Run(handler); });
  };
  on(Ui->NouvelleListe1, &TForm1::NouvelleListe1Click);
  on(Ui->ChargerListe1, &TForm1::ChargerListe1Click);
  on(Ui->SauverListeSous1, &TForm1::SauverListeSous1Click);
  on(Ui->ChargerdesImages1, &TForm1::AjouterBNClick);
  on(Ui->Quitter1, &TForm1::Quitter1Click);
  on(Ui->Rechercheruneimage1, &TForm1::Rechercheruneimage1Click);
  on(Ui->Taillecran1, &TForm1::Taillecran1Click);
  on(Ui->Changer1, &TForm1::Changer1Click);
  on(Ui->Mosaque1, &TForm1::Mosaque1Click);
  on(Ui->Centr1, &TForm1::Centr1Click);
  on(Ui->Police1, &TForm1::Police1Click);
  on(Ui->Timeron1, &TForm1::Timeron1Click);
  on(Ui->Timeroff1, &TForm1::Timeroff1Click);
  on(Ui->Dure1, &TForm1::Dure1Click);
  on(Ui->Ordonn1, &TForm1::Ordonn1Click);
  on(Ui->Alatoire1, &TForm1::Alatoire1Click);
  on(Ui->Aide2, &TForm1::Aide2Click);
  on(Ui->Aidesurlaide1, &TForm1::Aidesurlaide1Click);
  on(Ui->Aproposde1, &TForm1::Aproposde1Click);
  on(Ui->TimerOn2, &TForm1::Timeron1Click);
  on(Ui->TimerOff2, &TForm1::Timeroff1Click);
  on(Ui->Restaurer1, &TForm1::Restaurer1Click);
  on(Ui->Changer2, &TForm1::Timer2Timer);
  on(Ui->Quitter2, &TForm1::FermerBNClick);

  auto click = [this](QAbstractButton* b, void (TForm1::*handler)()) {
    connect(b, &QAbstractButton::clicked, this, [this, handler] { Run(handler); });
  };
  click(Ui->AjouterBN, &TForm1::AjouterBNClick);
  click(Ui->EnleverBN, &TForm1::EnleverBNClick);
  click(Ui->ApercuBN, &TForm1::ApercuBNClick);
  click(Ui->FermerBN, &TForm1::FermerBNClick);
  click(Ui->ChangerBN, &TForm1::Changer);
  // Check boxes run their handler on every change of state, by the user or by the program.
  auto toggled = [this](QAbstractButton* b, void (TForm1::*handler)()) {
    connect(b, &QAbstractButton::toggled, this, [this, handler](bool) { Run(handler); });
  };
  toggled(Ui->Apercu, &TForm1::ApercuClick);
  toggled(Ui->CheckBox3, &TForm1::CheckBox3Click);
  toggled(Ui->Retaille, &TForm1::RetailleClick);
  toggled(Ui->CheckBox1, &TForm1::RetailleClick);
  toggled(Ui->CheckBox2, &TForm1::RetailleClick);
  // Radio buttons run theirs when they become checked.
  connect(Ui->Mosaique, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) Run(&TForm1::MosaiqueClick);
  });
  connect(Ui->Centre, &QRadioButton::toggled, this, [this](bool checked) {
    if (checked) Run(&TForm1::CentreClick);
  });
  connect(Ui->Liste, &QListWidget::itemClicked, this, [this] { Run(&TForm1::ListeClick); });
  connect(Ui->Liste, &QListWidget::itemDoubleClicked, this, [this] { Run(&TForm1::ListeDblClick); });
  // Keyboard moves of the selection count as clicks; mouse presses are handled on their release.
  connect(Ui->Liste, &QListWidget::currentRowChanged, this, [this](int) {
    if (!SelectingProgrammatically && QApplication::mouseButtons() == Qt::NoButton) Run(&TForm1::ListeClick);
  });
}

void TForm1::Run(void (TForm1::*handler)()) {
  RunGuarded([&] { (this->*handler)(); });
}

void TForm1::ShowErrorReport(const QString& text) {
  if (Services.ShowError) {
    Services.ShowError(text);
    return;
  }
  QMessageBox::critical(isVisible() ? this : nullptr, QApplication::applicationDisplayName(), text);
}

// ---- list state -------------------------------------------------------------------------------

int TForm1::EntryIndex() const { return Ui->Liste->currentRow(); }

void TForm1::SetEntryIndex(int index) {
  SelectingProgrammatically = true;
  // An out-of-range index is refused by the list, as the list control of the platform does.
  if (index >= -1 && index < static_cast<int>(List.size())) Ui->Liste->setCurrentRow(index);
  SelectingProgrammatically = false;
}

void TForm1::RefreshList() {
  SelectingProgrammatically = true;
  Ui->Liste->setUpdatesEnabled(false);
  Ui->Liste->clear();
  for (const std::string& e : List) Ui->Liste->addItem(EntryText(e));
  Ui->Liste->setCurrentRow(-1);
  Ui->Liste->setUpdatesEnabled(true);
  SelectingProgrammatically = false;
}

void TForm1::SetEntries(const TEntryList& entries) {
  List = entries;
  if (Ui->CheckBox3->isChecked()) std::stable_sort(List.begin(), List.end(), ListTextLess);
  RefreshList();
}

void TForm1::AddEntry(const std::string& path) {
  SelectingProgrammatically = true;
  if (Ui->CheckBox3->isChecked()) {
    size_t pos = SortedInsertPosition(List, path);
    List.insert(List.begin() + static_cast<std::ptrdiff_t>(pos), path);
    Ui->Liste->insertItem(static_cast<int>(pos), EntryText(path));
  } else {
    List.push_back(path);
    Ui->Liste->addItem(EntryText(path));
  }
  SelectingProgrammatically = false;
}

void TForm1::ShowCount() {
  Ui->Label2->setText(QString::number(List.size()));
  AutoSize(Ui->Label2);
}

void TForm1::ComputeHorizontalExtent() {
  QFontMetrics metrics(Ui->Liste->font());
  int widest = 0;
  for (const std::string& e : List) widest = std::max(widest, metrics.horizontalAdvance(EntryText(e)));
  FHorizontalExtent = widest;
}

// ---- thumbnail and change ----------------------------------------------------------------------

void TForm1::UpdateThumbnail() {
  TGraphic* picture = Image1.Graphic();
  if (!picture || picture->Empty()) {
    Ui->Image1->clear();
    return;
  }
  // The thumbnail shows its picture squeezed into 133 × 100, not keeping proportions.
  Ui->Image1->setPixmap(QPixmap::fromImage(RenderToQImage(*picture, Ui->Image1->width(), Ui->Image1->height())));
}

void TForm1::ApercuBNClick() {
  const int index = EntryIndex();
  if (index < 0 || index >= static_cast<int>(List.size())) return;
  const std::string fileName = List[static_cast<size_t>(index)];
  try {
    if (Services.LoadPicture)
      Services.LoadPicture(Image1, fileName);
    else
      LoadPicture(Image1, fileName);
  } catch (const EInvalidGraphic&) {
    Image1.Clear();
  } catch (const EFOpenError&) {
    if (Services.Image2)
      Image1.Assign(*Services.Image2);
    else
      Image1.Clear();
  } catch (const EReadError& e) {
    // A damaged picture: the report says which file.
    if (e.message().find(fileName) != std::string::npos) throw;
    throw EReadError(Format(SStreamErrorDetail, SReadError, fileName, SDamagedPicture));
  }
}

void TForm1::Changer() {
  Ui->CheckBox2->setEnabled(Ui->Retaille->isChecked());
  TBusyCursor busy;
  TWallpaperOptions options;
  options.Retaille = Ui->Retaille->isChecked();
  options.Proportions = Ui->CheckBox2->isChecked();
  options.Titre = Ui->CheckBox1->isChecked();
  std::optional<std::string> caption;
  const int index = EntryIndex();
  if (index >= 0 && index < static_cast<int>(List.size())) caption = EntryDisplayText(List[static_cast<size_t>(index)]);
  ApplyWallpaper(*Services.Desktop, Image1.Graphic(), options, caption, CaptionFont);
}

void TForm1::Timer2Timer() {
  const int count = static_cast<int>(List.size());
  if (count == 0) return;
  const int next = NextEntryIndex(count, EntryIndex(), Ui->Ordonn1->isChecked(), Random());
  SetEntryIndex(next);
  ApercuBNClick();
  Changer();
}

void TForm1::MosaiqueClick() {
  if (Ui->Mosaique->isChecked()) Services.Desktop->WriteTileWallpaper(true);
  if (!Restoring) Changer();
}

void TForm1::CentreClick() {
  if (Ui->Centre->isChecked()) Services.Desktop->WriteTileWallpaper(false);
  if (!Restoring) Changer();
}

void TForm1::RetailleClick() {
  Ui->CheckBox2->setEnabled(Ui->Retaille->isChecked());
  if (FSelectionMade) Changer();
}

void TForm1::Changer1Click() {
  if (EntryIndex() < 0) return;
  ApercuBNClick();
  Changer();
}

void TForm1::ListeClick() {
  FSelectionMade = true;
  if (Ui->Apercu->isChecked()) ApercuBNClick();
}

void TForm1::ListeDblClick() {
  ApercuBNClick();
  Changer();
}

void TForm1::Image1DblClick() {
  if (Services.ShowPreviewWindow) Services.ShowPreviewWindow();
}

void TForm1::ApercuClick() { Ui->ApercuBN->setEnabled(!Ui->Apercu->isChecked()); }

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Ui->Image1 && event->type() == QEvent::MouseButtonDblClick) {
    Run(&TForm1::Image1DblClick);
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- settings ------------------------------------------------------------------------------------

TSettings TForm1::CurrentSettings() const {
  TSettings s;
  s.Apercu = Ui->Apercu->isChecked();
  s.Mosaique = Ui->Mosaique->isChecked();
  s.Centre = Ui->Centre->isChecked();
  s.Retaille = Ui->Retaille->isChecked();
  s.Titre = Ui->CheckBox1->isChecked();
  s.Timer = Timer2.Enabled();
  s.Ordonne = Ui->Ordonn1->isChecked();
  s.Aleatoire = Ui->Alatoire1->isChecked();
  s.ListeCourante = ListFile;
  s.ImageCourante = EntryIndex();
  s.DureeTimer = FTimerDuration;
  s.Proportions = Ui->CheckBox2->isChecked();
  s.Debut = Ui->CheckBox4->isChecked();
  return s;
}

void TForm1::SaveSettings() {
  SaveCurrentList();
  muralo::SaveSettings(*Services.Hive, CurrentSettings());
}

void TForm1::SetRadio(QRadioButton* button, bool checked) {
  if (checked) {
    button->setChecked(true);
    return;
  }
  // Unchecking one radio button leaves its partner as it is.
  button->setAutoExclusive(false);
  button->setChecked(false);
  button->setAutoExclusive(true);
}

void TForm1::ApplyRestored(int index, const TSettings& s) {
  switch (index) {
    case 0:
      Ui->Apercu->setChecked(s.Apercu);
      break;
    case 1:
      SetRadio(Ui->Mosaique, s.Mosaique);
      break;
    case 2:
      SetRadio(Ui->Centre, s.Centre);
      break;
    case 3:
      Ui->Retaille->setChecked(s.Retaille);
      break;
    case 4:
      Ui->CheckBox1->setChecked(s.Titre);
      break;
    case 5:
      CheckTimerItems(s.Timer);
      break;
    case 6:
      Ui->Ordonn1->setChecked(s.Ordonne);
      break;
    case 7:
      Ui->Alatoire1->setChecked(s.Aleatoire);
      break;
    case 8:
      ListFile = s.ListeCourante;
      break;
    case 9:
      break;  // "Image courante" is read, the selection is not set from it
    case 10:
      FTimerDuration = s.DureeTimer;
      Timer2.SetInterval(static_cast<uint32_t>(FTimerDuration));
      if (s.Timer) Timer2.Start();
      break;
    case 11:
      Ui->CheckBox2->setChecked(s.Proportions);
      break;
    case 12:
      Ui->CheckBox4->setChecked(s.Debut);
      break;
    default:
      break;
  }
}

void TForm1::FormCreate() {
  FSelectionMade = false;
  TSettings restored;
  Restoring = true;
  try {
    int read = RestoreSettings(*Services.Hive, restored, [&](int index) { ApplyRestored(index, restored); });
    if (read < 0) ListFile.clear();
  } catch (...) {
    Restoring = false;
    throw;
  }
  Restoring = false;
  if (!Services.OneShot) {
    MinimizeToTray();
  }
  if (!ListFile.empty()) {
    try {
      List = ReadListFile(ListFile);
      RefreshList();
      ShowCount();
      if (!List.empty() && Ui->CheckBox4->isChecked()) {
        FSelectionMade = true;
        SetEntryIndex(0);
        SetEntryIndex(NextEntryIndex(static_cast<int>(List.size()), 0, Ui->Ordonn1->isChecked(), Random()));
        ApercuBNClick();
        Changer();
      }
    } catch (const std::exception& e) {
      // Errors of the start-up loading and change are swallowed; the start goes on. Started only to
      // change the wallpaper, the program has no window to show them in: one line on stderr says
      // why the wallpaper did not change.
      if (Services.OneShot) {
        std::string line = e.what();
        std::replace(line.begin(), line.end(), '\n', ' ');
        std::fprintf(stderr, "muralo : %s\n", line.c_str());
      }
    }
  }
  if (!Services.OneShot) setAcceptDrops(true);
  ComputeHorizontalExtent();
}

void TForm1::FormClose() {
  if (Closed) return;
  // A list that cannot be written stops the close: the error is reported and the program keeps
  // running with its list, so that the user can save it elsewhere instead of losing it.
  SaveCurrentList();
  // Settings that cannot be written (a read-only configuration folder) must not keep the program
  // from ending: the error is reported once and the close goes on.
  RunGuarded([&] { muralo::SaveSettings(*Services.Hive, CurrentSettings()); });
  Closed = true;
  SetTrayIcon(2);
  setAcceptDrops(false);
}

void TForm1::WMEndSession(bool ending) {
  if (!ending || Closed) return;
  Closed = true;
  // Nobody can answer a save-as dialog while the session ends: an unnamed list that holds entries
  // is kept in the data directory instead, and named, so the next start finds it; an unnamed empty
  // list has nothing to keep, and only the settings are written.
  if (ListFile.empty() && !List.empty()) {
    std::string dir = Services.Desktop->WindowsDirectory();
    if (dir.empty() || dir.back() != '/') dir += '/';
    ListFile = dir + UnsavedListName;
  }
  try {
    if (ListFile.empty())
      muralo::SaveSettings(*Services.Hive, CurrentSettings());
    else
      SaveSettings();
  } catch (...) {
    SetTrayIcon(2);
    throw;
  }
  SetTrayIcon(2);
}

void TForm1::closeEvent(QCloseEvent* event) {
  // Closing the main window, by any means, ends the program after saving.
  bool saved = false;
  RunGuarded([&] {
    FormClose();
    saved = true;
  });
  if (!saved) {
    event->ignore();
    return;
  }
  event->accept();
  QApplication::quit();
}

void TForm1::Quitter1Click() { close(); }
void TForm1::FermerBNClick() { close(); }

void TForm1::Rechercheruneimage1Click() {
  if (Services.ShowSearch) Services.ShowSearch();
}

// ---- menus ---------------------------------------------------------------------------------------

// The menu items push their state to the controls and never take it from them.
void TForm1::Taillecran1Click() { Ui->Retaille->setChecked(Ui->Taillecran1->isChecked()); }

void TForm1::Mosaque1Click() {
  Ui->Mosaque1->setChecked(true);
  Ui->Mosaique->setChecked(true);
}

void TForm1::Centr1Click() {
  Ui->Centr1->setChecked(true);
  Ui->Centre->setChecked(true);
}

void TForm1::Police1Click() {
  // The dialog opens on the caption font's family (its metric-compatible one when the Windows face
  // is not installed), size and style; the colour is chosen right after, as the Windows font
  // dialog offers it with the font.
  const QFont current = ToDialogFont(CaptionFont);
  std::optional<QFont> chosen;
  if (Services.ChooseFont) {
    chosen = Services.ChooseFont(current);
  } else {
    bool ok = false;
    QFont f = QFontDialog::getFont(&ok, current, this);
    if (ok) chosen = f;
  }
  if (!chosen) return;
  const QColor currentColor = ToQColor(CaptionFont.Color);
  std::optional<QColor> color;
  if (Services.ChooseColor) {
    color = Services.ChooseColor(currentColor);
  } else {
    const QColor c = QColorDialog::getColor(currentColor, this, QString::fromUtf8(FontColorTitle));
    if (c.isValid()) color = c;
  }
  // Cancelling the colour keeps the previous colour with the new font.
  CaptionFont = FromQFont(*chosen, color ? FromQColor(*color) : CaptionFont.Color);
}

void TForm1::CheckTimerItems(bool running) {
  // Both menus show the state; each radio item unchecks its partner.
  Ui->Timeron1->setChecked(running);
  Ui->TimerOn2->setChecked(running);
  Ui->Timeroff1->setChecked(!running);
  Ui->TimerOff2->setChecked(!running);
}

void TForm1::Timeron1Click() {
  Timer2.SetInterval(static_cast<uint32_t>(FTimerDuration));
  Timer2.Start();
  CheckTimerItems(true);
  SetTrayIcon(1);
}

void TForm1::Timeroff1Click() {
  Timer2.Stop();
  CheckTimerItems(false);
  SetTrayIcon(1);
}

void TForm1::Dure1Click() {
  if (!Services.ChooseDuration) throw Exception("La boîte de durée n'est pas disponible");
  std::optional<int32_t> ms = Services.ChooseDuration(FTimerDuration);
  if (!ms) return;
  FTimerDuration = *ms;
  Timer2.SetInterval(static_cast<uint32_t>(FTimerDuration));
  SaveSettings();
}

void TForm1::Ordonn1Click() { Ui->Ordonn1->setChecked(true); }
void TForm1::Alatoire1Click() { Ui->Alatoire1->setChecked(true); }

void TForm1::Aide2Click() {
  // Where nothing can be opened the user is told so, instead of nothing happening.
  if (Services.OpenHelp && !Services.OpenHelp(Services.ProgramDir)) throw Exception(SNoHelp);
}

void TForm1::Aidesurlaide1Click() {
  if (Services.OpenHelpOnHelp) Services.OpenHelpOnHelp();
}

void TForm1::Aproposde1Click() {
  if (Services.ShowAbout) Services.ShowAbout();
}

// ---- timer ---------------------------------------------------------------------------------------

// ---- tray ----------------------------------------------------------------------------------------

bool TForm1::SetTrayIcon(int action) {
  if (action == 2) {
    if (FTray) {
      FTray->hide();
      delete FTray.data();
    }
    return true;
  }
  if (action == 0) {
    if (FTray) return false;  // an icon that already exists: harmless failure
    FTray = new QSystemTrayIcon(this);
    FTray->setContextMenu(FPopupMenu);
    connect(FTray.data(), &QSystemTrayIcon::activated, this, &TForm1::TrayIconMessage);
    return true;
  }
  if (!FTray) return false;
  FTray->setIcon(Timer2.Enabled() ? Services.RunningIcon : Services.StoppedIcon);
  FTray->setToolTip(QString::fromUtf8(TrayTip));
  FTray->show();
  return true;
}

void TForm1::MinimizeToTray() {
  const bool trayAvailable =
      Services.TrayAvailable ? Services.TrayAvailable() : QSystemTrayIcon::isSystemTrayAvailable();
  SetTrayIcon(0);
  SetTrayIcon(1);
  if (!trayAvailable) {
    // Without a notification area the window is the only way to reach the program.
    if (!TrayNoticeShown) {
      TrayNoticeShown = true;
      const QString text =
          QString::fromUtf8("Aucune zone de notification n'est disponible : Muralo reste affiché dans sa fenêtre.");
      if (Services.ShowNotice) {
        Services.ShowNotice(text);
      } else {
        auto* box = new QMessageBox(QMessageBox::Information, QApplication::applicationDisplayName(), text,
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
      }
    }
    Restaurer1Click();
    return;
  }
  hide();
}

void TForm1::Restaurer1Click() {
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  show();
  raise();
  activateWindow();
}

void TForm1::WMShowMain(uintptr_t wParam, intptr_t /*lParam*/) {
  if (wParam == 0) Run(&TForm1::Restaurer1Click);
}

void TForm1::TrayIconMessage(QSystemTrayIcon::ActivationReason reason) {
  // Every left-button release is the next wallpaper; the context menu opens by itself on a right
  // click. A double click arrives as Trigger then DoubleClick, so it changes the wallpaper twice.
  if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) Run(&TForm1::Timer2Timer);
}

void TForm1::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && !Closed) {
    // The application's minimise handler; run it once the state change has settled.
    QMetaObject::invokeMethod(
        this, [this] { Run(&TForm1::MinimizeToTray); }, Qt::QueuedConnection);
  }
}

}  // namespace muralo
