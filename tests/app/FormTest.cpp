// The main window under QTest (offscreen platform): every control and menu item does what its row
// says, with the real settings hive and picture loader, and a desktop that records the calls.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QFontDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>

#include "app/Help.h"
#include "app/OpenPictureDialog.h"
#include "app/QtBridge.h"
#include "app/Splash.h"
#include "app/SystemServices.h"
#include "app/Unit1.h"
#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "imaging/PictureLoader.h"
#include "platform/Registry.h"
#include "tests/app/TestSupport.h"
#include "ui_Unit1.h"

using namespace muralo;
using muralo::test::FileText;
using muralo::test::MagickDecode;
using muralo::test::RunTool;
using muralo::test::TempDir;
using muralo::test::WriteText;
using muralo::testing::TRecordingDesktop;

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "form_tests";
    static char* argv[] = {name, nullptr};
    App = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    Translated = InstallFrenchTranslations();
    InstallFontSubstitutions();
    SetTextRenderer(&Renderer);
  }
  void TearDown() override {
    SetTextRenderer(nullptr);
    delete App;
  }
  QApplication* App = nullptr;
  TQtTextRenderer Renderer;
  bool Translated = false;
};
QtEnvironment* const Env = new QtEnvironment;
[[maybe_unused]] auto* const Registered = ::testing::AddGlobalTestEnvironment(Env);

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Desktop = std::make_unique<TRecordingDesktop>((Dir.Path / "data").string());
    std::filesystem::create_directory(Dir.Path / "data");
    Hive = std::make_unique<TRegistry>(Dir / "registry.reg");
    auto icon = std::make_shared<TIcon>();
    icon->LoadFromFile(muralo::test::SourcePath("resources/icons/stopped.ico"));
    Fallback = icon;
    auto running = std::make_shared<TIcon>();
    running->LoadFromFile(muralo::test::SourcePath("resources/icons/running.ico"));
    Running = running;
  }

  // Pictures written by ImageMagick for the test.
  std::string MakePicture(const std::string& name, const std::string& recipe) {
    const std::string path = Dir / name;
    RunTool(muralo::test::kMagick + " " + recipe + " -type TrueColor 'BMP3:" + path + "'");
    return path;
  }

  TForm1Services Services() {
    TForm1Services s;
    s.Hive = Hive.get();
    s.Desktop = Desktop.get();
    s.Image2 = Fallback;
    s.StoppedIcon = ToQIconOf(*Fallback);
    s.RunningIcon = ToQIconOf(*Running);
    s.ShowError = [this](const QString& text) { Errors << text; };
    s.ShowNotice = [this](const QString& text) { Notices << text; };
    s.OpenImages = [this] { return ImagesToAdd; };
    s.OpenListFile = [this] { return ListToOpen; };
    s.SaveListFile = [this](const QString& preset) {
      SaveAsPresets << preset;
      return ListToSaveAs;
    };
    s.TrayAvailable = [this] { return TrayAvailable; };
    return s;
  }

  static QIcon ToQIconOf(TGraphic& g) { return QIcon(QPixmap::fromImage(RenderToQImage(g, g.Width(), g.Height()))); }

  TForm1& Form(TForm1Services services) {
    FormPtr = std::make_unique<TForm1>(std::move(services));
    FormPtr->FormCreate();
    return *FormPtr;
  }
  TForm1& Form() { return Form(Services()); }

  void WriteList(const std::string& name, const TEntryList& entries) { WriteText(name, FormatListText(entries)); }

  // A hive naming the list file l.que (holding entries), with "Changer au démarrage" as given.
  void StoreListSettings(const TEntryList& entries, bool startupChange) {
    WriteList(Dir / "l.que", entries);
    TSettings s;
    s.ListeCourante = Dir / "l.que";
    s.Debut = startupChange;
    SaveSettings(*Hive, s);
  }

  TempDir Dir;
  std::unique_ptr<TRecordingDesktop> Desktop;
  std::unique_ptr<TRegistry> Hive;
  std::shared_ptr<TGraphic> Fallback, Running;
  QStringList Errors;
  QStringList Notices;
  QStringList ImagesToAdd;
  QString ListToOpen;
  QString ListToSaveAs;
  QStringList SaveAsPresets;
  bool TrayAvailable = true;
  std::unique_ptr<TForm1> FormPtr;
};

struct ControlRow {
  const char* Name;
  int X, Y, W, H;  // W, H of 0: not checked
  const char* Text;
  const char* Hint;
};

// The count label grows with its number (to the left: it is right-aligned) instead of cutting it.
TEST_F(FormTest, TheCountLabelSizesItselfToItsText) {
  TEntryList many(10000, "/p/x.png");
  StoreListSettings(many, false);
  TForm1& f = Form();
  QLabel* label = f.ui()->Label2;
  EXPECT_EQ(label->text(), "10000");
  EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance("10000"));
  EXPECT_EQ(label->x() + label->width(), 73 + 24);  // the right edge stays
  f.SetEntries({"/a"});
  f.ui()->EnleverBN->click();  // nothing selected: the count is shown again
  EXPECT_EQ(label->geometry(), QRect(73, 0, 24, 13));
}

TEST_F(FormTest, Windows1252EntriesShowAsTextAndKeepTheirBytes) {
  const std::string utf8Name = MakePicture("été.bmp", "-size 200x30 xc:white");
  const std::string cp1252Name = Dir / "\xE9t\xE9.bmp";
  std::filesystem::copy_file(utf8Name, cp1252Name);
  StoreListSettings({cp1252Name}, false);
  TForm1& f = Form();
  ASSERT_EQ(f.ui()->Liste->count(), 1);
  EXPECT_EQ(f.ui()->Liste->item(0)->text(), QString::fromStdString(utf8Name));
  // The caption on the wallpaper is the same text as for the UTF-8 name.
  f.ui()->CheckBox1->setChecked(true);
  f.SetEntryIndex(0);
  f.ui()->Changer1->trigger();
  const std::string withCp1252 = FileText(Dir / "data/muralo.bmp");
  f.SetEntries({utf8Name});
  f.SetEntryIndex(0);
  f.ui()->Changer1->trigger();
  EXPECT_EQ(FileText(Dir / "data/muralo.bmp"), withCp1252);
  EXPECT_TRUE(Errors.isEmpty());
  // The list file keeps the bytes.
  f.SetEntries({cp1252Name});
  f.ui()->FermerBN->click();
  EXPECT_EQ(FileText(Dir / "l.que"), cp1252Name + "\r\n");
}

TEST_F(FormTest, LayoutCaptionsAndHints) {
  TForm1& f = Form();
  EXPECT_EQ(f.windowTitle(), "Muralo");
  EXPECT_EQ(f.centralWidget()->size(), QSize(422, 280));
  const ControlRow rows[] = {
      {"Label1", 16, 0, 0, 0, "Liste :", ""},
      {"Label2", 73, 0, 24, 0, "0000", ""},
      {"Label3", 104, 0, 0, 0, "images", ""},
      {"CheckBox3", 152, 0, 0, 0, "Trier", "Trie les images par ordre alphabétique"},
      {"Apercu", 288, 0, 0, 0, "Aperçu auto", "Montre l'aperçu automatiquement"},
      {"Liste", 8, 16, 401, 121, "", "Liste des fichiers images"},
      {"Image1", 8, 160, 133, 100, "", ""},
      {"AjouterBN", 152, 152, 43, 25, "+", "Ajoute une ou plusieurs images"},
      {"EnleverBN", 152, 184, 43, 25, "-", "Enlève une image de la liste"},
      {"ApercuBN", 152, 216, 41, 25, "Aperçu", "Montre un aperçu de l'image sélectionnée"},
      {"FermerBN", 152, 248, 43, 25, "Fermer", "Ferme le programme"},
      {"GroupBox1", 208, 144, 201, 129, "", ""},
      {"Mosaique", 16, 16, 0, 0, "Mosaïque", "Place le papier en mosaïque sur l'écran"},
      {"Centre", 16, 32, 0, 0, "Centré", "Centre l'image sur l'écran"},
      {"Retaille", 16, 56, 0, 0, "Taille écran", "Etire l'image à la taille de l'écran"},
      {"CheckBox2", 16, 72, 0, 0, "Garder les proportions", "Conserve ou non les proportions de l'image"},
      {"CheckBox1", 16, 88, 0, 0, "Nom du fichier", "Affiche le nom complet du fichier image"},
      {"CheckBox4", 16, 104, 0, 0, "Changer au démarrage", ""},
      {"ChangerBN", 112, 24, 75, 25, "Changer", "Change le papier peint"},
  };
  for (const ControlRow& r : rows) {
    SCOPED_TRACE(r.Name);
    auto* w = f.findChild<QWidget*>(r.Name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), QPoint(r.X, r.Y));
    if (r.W) {
      EXPECT_EQ(w->width(), r.W);
    }
    if (r.H) {
      EXPECT_EQ(w->height(), r.H);
    }
    EXPECT_EQ(w->toolTip(), QString::fromUtf8(r.Hint));
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
      EXPECT_EQ(b->text(), QString::fromUtf8(r.Text));
    }
    if (auto* l = qobject_cast<QLabel*>(w); l && *r.Text) {
      EXPECT_EQ(l->text(), QString::fromUtf8(r.Text));
    }
  }
  EXPECT_EQ(f.ui()->GroupBox1->title(), "Papier Peint");
  EXPECT_TRUE(f.ui()->Label1->font().bold());
  EXPECT_TRUE(f.ui()->AjouterBN->font().bold());
  EXPECT_TRUE(f.ui()->Centre->isChecked());
  EXPECT_TRUE(f.ui()->CheckBox4->isChecked());
  EXPECT_FALSE(f.ui()->CheckBox2->isEnabled());
  EXPECT_TRUE(f.ui()->Label2->alignment() & Qt::AlignRight);
}

// One menu as captions, "-" for a separator.
QStringList MenuCaptions(QMenu* menu) {
  QStringList items;
  for (QAction* a : menu->actions()) items << (a->isSeparator() ? QString("-") : a->text());
  return items;
}

TEST_F(FormTest, MainMenuAndTrayMenuAsListed) {
  TForm1& f = Form();
  QStringList titles;
  QList<QStringList> menus;
  for (QAction* a : f.menuBar()->actions()) {
    titles << a->text();
    menus << MenuCaptions(a->menu());
  }
  EXPECT_EQ(titles, (QStringList{"&Fichier", "&Recherche", "&Papier Peint", "&Timer", "&Aide"}));
  ASSERT_EQ(menus.size(), 5);
  EXPECT_EQ(menus[0], (QStringList{"&Nouvelle Liste", "&Charger Liste...", "&Sauver Liste Sous...", "-",
                                   "Charger des &Images...", "-", "&Quitter"}));
  EXPECT_EQ(menus[1], (QStringList{"&Rechercher une image..."}));
  EXPECT_EQ(menus[2], (QStringList{QString::fromUtf8("Taille écran"), "-", "Changer", "-",
                                   QString::fromUtf8("Mosaïque"), QString::fromUtf8("Centré"), "-", "&Police..."}));
  EXPECT_EQ(menus[3], (QStringList{"Timer &on", "Timer o&ff", "-", QString::fromUtf8("Durée..."), "-",
                                   QString::fromUtf8("&Ordonné"), QString::fromUtf8("&Aléatoire")}));
  EXPECT_EQ(menus[4], (QStringList{"&Aide", "Aide sur l'aide", "A propos de..."}));
  EXPECT_EQ(MenuCaptions(f.PopupMenu1()),
            (QStringList{"&Timer On", "Timer Off", "&Restaurer", "&Changer", "-", "&Quitter"}));
  EXPECT_EQ(f.PopupMenu1()->defaultAction(), f.ui()->Changer2);
  EXPECT_TRUE(f.ui()->Changer2->font().bold());
  // Checked at start: "Centré", "Timer o&ff", "&Ordonné", "Timer Off".
  EXPECT_TRUE(f.ui()->Centr1->isChecked());
  EXPECT_TRUE(f.ui()->Timeroff1->isChecked());
  EXPECT_TRUE(f.ui()->TimerOff2->isChecked());
  EXPECT_TRUE(f.ui()->Ordonn1->isChecked());
  EXPECT_FALSE(f.ui()->Taillecran1->isChecked());
}

TEST_F(FormTest, RadioGroupsUncheckTheirPartner) {
  TForm1& f = Form();
  struct Pair {
    QAction *A, *B;
  } pairs[] = {{f.ui()->Mosaque1, f.ui()->Centr1},
               {f.ui()->Timeron1, f.ui()->Timeroff1},
               {f.ui()->Ordonn1, f.ui()->Alatoire1},
               {f.ui()->TimerOn2, f.ui()->TimerOff2}};
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.A->text().toStdString());
    p.A->trigger();
    EXPECT_TRUE(p.A->isChecked());
    EXPECT_FALSE(p.B->isChecked());
    p.B->trigger();
    EXPECT_TRUE(p.B->isChecked());
    EXPECT_FALSE(p.A->isChecked());
  }
}

TEST_F(FormTest, MenuItemsPushTheirStateToTheControlsNeverBack) {
  TForm1& f = Form();
  auto* ui = f.ui();
  f.show();
  QTest::mouseClick(ui->Retaille, Qt::LeftButton);
  EXPECT_TRUE(ui->Retaille->isChecked());
  EXPECT_TRUE(ui->CheckBox2->isEnabled());
  EXPECT_FALSE(ui->Taillecran1->isChecked());  // the control does not touch the menu
  ui->Taillecran1->trigger();
  EXPECT_TRUE(ui->Taillecran1->isChecked());
  EXPECT_TRUE(ui->Retaille->isChecked());
  ui->Taillecran1->trigger();
  EXPECT_FALSE(ui->Retaille->isChecked());
  EXPECT_FALSE(ui->CheckBox2->isEnabled());

  QTest::mouseClick(ui->Mosaique, Qt::LeftButton);
  EXPECT_TRUE(ui->Mosaique->isChecked());
  EXPECT_TRUE(ui->Centr1->isChecked());  // the menu's check stays
  EXPECT_EQ(Desktop->TileWrites, (std::vector<std::string>{"1"}));
  ui->Centr1->trigger();  // already checked in the menu: the control still follows
  EXPECT_TRUE(ui->Centre->isChecked());
  EXPECT_EQ(Desktop->TileWrites, (std::vector<std::string>{"1", "0"}));
  ui->Centr1->trigger();  // the control already has the state: no change
  EXPECT_EQ(Desktop->TileWrites.size(), 2u);
  ui->Mosaque1->trigger();
  EXPECT_TRUE(ui->Mosaque1->isChecked());
  EXPECT_TRUE(ui->Mosaique->isChecked());
  EXPECT_EQ(Desktop->TileWrites.back(), "1");
  EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(FormTest, AutoPreviewDisablesThePreviewButton) {
  TForm1& f = Form();
  f.show();
  QTest::mouseClick(f.ui()->Apercu, Qt::LeftButton);
  EXPECT_FALSE(f.ui()->ApercuBN->isEnabled());
  QTest::mouseClick(f.ui()->Apercu, Qt::LeftButton);
  EXPECT_TRUE(f.ui()->ApercuBN->isEnabled());
}

TEST_F(FormTest, PreviewOutcomes) {
  const std::string good = MakePicture("good.bmp", "-size 40x30 xc:'#336699'");
  const std::string other = MakePicture("other.bmp", "-size 7x5 xc:red");
  WriteText(Dir / "unknown.xyz", "whatever");
  TForm1& f = Form();
  f.SetEntries({good, Dir / "missing.bmp", Dir / "unknown.xyz", other});

  f.SetEntryIndex(0);
  f.ApercuBNClick();
  ASSERT_NE(f.Picture(), nullptr);
  EXPECT_EQ(f.Picture()->Width(), 40);
  EXPECT_EQ(f.Picture()->Height(), 30);
  EXPECT_FALSE(f.ui()->Image1->pixmap().isNull());

  f.SetEntryIndex(1);  // cannot be opened: a copy of the fallback icon
  f.ApercuBNClick();
  ASSERT_NE(f.Picture(), nullptr);
  EXPECT_NE(f.Picture(), Fallback.get());
  EXPECT_EQ(f.Picture()->Width(), 32);
  EXPECT_EQ(f.Picture()->Height(), 32);

  f.SetEntryIndex(2);  // no reader for the extension: the thumbnail is emptied
  f.ApercuBNClick();
  EXPECT_EQ(f.Picture(), nullptr);
  EXPECT_TRUE(f.ui()->Image1->pixmap().isNull());

  f.SetEntryIndex(-1);  // nothing selected: nothing happens
  f.SetEntryIndex(3);
  f.ApercuBNClick();
  f.SetEntryIndex(-1);
  f.ApercuBNClick();
  ASSERT_NE(f.Picture(), nullptr);
  EXPECT_EQ(f.Picture()->Width(), 7);
  EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(FormTest, AnotherLoadErrorKeepsTheThumbnailStopsTheChangeAndIsReported) {
  const std::string good = MakePicture("good.bmp", "-size 10x10 xc:blue");
  TForm1Services s = Services();
  s.LoadPicture = [](TPicture& picture, const std::string& name) {
    if (name.find("damaged") != std::string::npos) throw EReadError();
    LoadPicture(picture, name);
  };
  TForm1& f = Form(std::move(s));
  f.SetEntries({good, Dir / "damaged.bmp"});
  f.SetEntryIndex(0);
  f.ApercuBNClick();
  f.SetEntryIndex(1);
  f.ui()->Changer1->trigger();  // preview, then change
  ASSERT_EQ(Errors.size(), 1);
  // The stream's text first, then the file and why.
  EXPECT_EQ(Errors[0], QString::fromStdString(Format(SStreamErrorDetail, SReadError, Dir / "damaged.bmp",
                                                     "fichier tronqué ou endommagé")));
  ASSERT_NE(f.Picture(), nullptr);
  EXPECT_EQ(f.Picture()->Width(), 10);
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
}

TEST_F(FormTest, ChangerRendersTheThumbnailAsItIsWithTheNewEntrysName) {
  const std::string first = MakePicture("first.bmp", "-size 300x40 xc:'#00FF00'");
  const std::string second = MakePicture("second.bmp", "-size 50x50 xc:'#0000FF'");
  TForm1& f = Form();
  f.SetEntries({first, second});
  f.SetEntryIndex(0);
  f.ApercuBNClick();
  f.SetEntryIndex(1);  // "Aperçu auto" is off: the thumbnail keeps the first picture
  f.ui()->CheckBox1->setChecked(true);
  f.ui()->ChangerBN->click();
  ASSERT_EQ(Desktop->WallpaperCalls.size(), 1u);
  auto image = MagickDecode(Dir / "data/muralo.bmp");
  ASSERT_EQ(image.Width, 300);
  ASSERT_EQ(image.Height, 40);
  // The name is written on a white box from (5, 5) in the caption colour (red 255, green 64, blue 64).
  EXPECT_EQ(image.At(5, 5)[0], 255);
  EXPECT_EQ(image.At(5, 5)[1], 255);
  EXPECT_EQ(image.At(4, 4)[1], 255);  // outside the box the picture stays green
  EXPECT_EQ(image.At(4, 4)[0], 0);
  int reddish = 0;
  for (int y = 5; y < 40; ++y)
    for (int x = 5; x < 300; ++x)
      if (image.At(x, y)[0] > 200 && image.At(x, y)[1] < 140 && image.At(x, y)[2] < 140) ++reddish;
  EXPECT_GT(reddish, 20) << "no text in the caption colour";
  EXPECT_EQ(image.At(299, 39)[1], 255);
  EXPECT_EQ(image.At(299, 39)[0], 0);
}

TEST_F(FormTest, CaptionWithoutSelectionWritesNoText) {
  const std::string pic = MakePicture("p.bmp", "-size 60x30 xc:'#00FF00'");
  TForm1& f = Form();
  f.SetEntries({pic});
  f.SetEntryIndex(0);
  f.ApercuBNClick();
  f.SetEntryIndex(-1);
  f.ui()->CheckBox1->setChecked(true);
  f.Changer();
  auto image = MagickDecode(Dir / "data/muralo.bmp");
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 60; ++x) ASSERT_EQ(image.At(x, y)[0], 0) << x << "," << y;
}

TEST_F(FormTest, TimerStepWalksTheListInOrderAndAtRandom) {
  const std::string a = MakePicture("a.bmp", "-size 11x3 xc:red");
  const std::string b = MakePicture("b.bmp", "-size 12x3 xc:red");
  const std::string c = MakePicture("c.bmp", "-size 13x3 xc:red");
  TForm1& f = Form();
  f.SetEntries({a, b, c});
  const int widths[] = {11, 12, 13, 11};
  for (int w : widths) {
    f.Timer2Timer();
    EXPECT_EQ(MagickDecode(Dir / "data/muralo.bmp").Width, w);
  }
  EXPECT_EQ(f.EntryIndex(), 0);
  f.ui()->Alatoire1->trigger();
  std::vector<uint32_t> draws = {5, 5, 3};
  size_t next = 0;
  f.SetRandomSource([&] { return draws[next++]; });
  f.Timer2Timer();
  EXPECT_EQ(f.EntryIndex(), 2);
  f.Timer2Timer();
  EXPECT_EQ(f.EntryIndex(), 2);  // the same entry again
  f.Timer2Timer();
  EXPECT_EQ(f.EntryIndex(), 0);
  // The tray's "&Changer" runs the same step.
  f.SetRandomSource([] { return 1u; });
  f.ui()->Changer2->trigger();
  EXPECT_EQ(f.EntryIndex(), 1);
  EXPECT_EQ(Desktop->WallpaperCalls.size(), 8u);
}

TEST_F(FormTest, CheckBoxesChangeOnlyAfterASelectionWasMade) {
  const std::string pic = MakePicture("p.bmp", "-size 20x10 xc:red");
  TForm1& f = Form();
  f.SetEntries({pic});
  f.SetEntryIndex(0);
  f.ApercuBNClick();
  f.ui()->Retaille->setChecked(true);
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
  f.show();
  QListWidget* list = f.ui()->Liste;
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
  EXPECT_TRUE(f.SelectionMade());
  f.ui()->CheckBox2->setChecked(true);
  ASSERT_EQ(Desktop->WallpaperCalls.size(), 1u);
  EXPECT_EQ(MagickDecode(Dir / "data/muralo.bmp").Width, 1024);
  EXPECT_EQ(MagickDecode(Dir / "data/muralo.bmp").Height, 512);
  f.ui()->CheckBox1->setChecked(true);
  EXPECT_EQ(Desktop->WallpaperCalls.size(), 2u);
}

TEST_F(FormTest, ClickWithAutoPreviewPreviewsAndDoubleClickChanges) {
  const std::string pic = MakePicture("p.bmp", "-size 20x10 xc:red");
  TForm1& f = Form();
  f.SetEntries({pic});
  f.ui()->Apercu->setChecked(true);
  f.show();
  QListWidget* list = f.ui()->Liste;
  const QPoint at = list->visualItemRect(list->item(0)).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
  ASSERT_NE(f.Picture(), nullptr);
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
  EXPECT_EQ(Desktop->WallpaperCalls.size(), 1u);
}

TEST_F(FormTest, UnwritableDataDirectoryIsReportedAndNoWallpaperCallIsMade) {
  const std::string pic = MakePicture("p.bmp", "-size 20x10 xc:red");
  WriteText(Dir / "plain", "x");
  Desktop->Directory = Dir / "plain";
  TForm1& f = Form();
  f.SetEntries({pic});
  f.SetEntryIndex(0);
  f.ui()->Changer1->trigger();
  EXPECT_EQ(Errors.size(), 1);
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
  EXPECT_EQ(f.Entries().size(), 1u);
  ASSERT_NE(f.Picture(), nullptr);
}

// ---- start-up -------------------------------------------------------------------------------------

void StoreSettings(TRegistry& hive, const TSettings& s) { SaveSettings(hive, s); }

TEST_F(FormTest, FirstRunKeepsTheDefaultsAndCreatesTheKey) {
  TForm1& f = Form();
  EXPECT_TRUE(f.ui()->Centre->isChecked());
  EXPECT_TRUE(f.ui()->Ordonn1->isChecked());
  EXPECT_TRUE(f.ui()->CheckBox4->isChecked());
  EXPECT_FALSE(f.TimerRunning());
  EXPECT_EQ(f.TimerDuration(), 0);
  EXPECT_TRUE(f.Entries().empty());
  EXPECT_EQ(f.CurrentListFile(), "");
  EXPECT_TRUE(Desktop->TileWrites.empty());  // the reading stopped before "Centré"
  EXPECT_TRUE(TRegistry(Dir / "registry.reg").KeyExists(SettingsKey));
  EXPECT_EQ(f.ui()->Label2->text(), "0000");
  EXPECT_FALSE(f.isVisible());  // lives in the tray
  ASSERT_NE(f.TrayIcon(), nullptr);
  EXPECT_EQ(f.TrayIcon()->toolTip(), "Changer de papier peint");
}

TEST_F(FormTest, RestoredValuesGoThroughTheControlsAndTheStartUpPickIsEntryOne) {
  const std::string a = MakePicture("a.bmp", "-size 11x3 xc:red");
  const std::string b = MakePicture("b.bmp", "-size 12x3 xc:red");
  const std::string c = MakePicture("c.bmp", "-size 13x3 xc:red");
  WriteList(Dir / "l.que", {a, b, c});
  TSettings s;
  s.Apercu = true;
  s.Mosaique = true;
  s.Centre = false;
  s.Retaille = true;
  s.ListeCourante = Dir / "l.que";
  s.ImageCourante = 2;
  s.DureeTimer = 60000;
  s.Timer = true;
  StoreSettings(*Hive, s);
  TForm1& f = Form();
  EXPECT_TRUE(f.ui()->Mosaique->isChecked());
  EXPECT_FALSE(f.ui()->Centre->isChecked());
  EXPECT_FALSE(f.ui()->ApercuBN->isEnabled());
  EXPECT_TRUE(f.ui()->CheckBox2->isEnabled());
  EXPECT_EQ(Desktop->TileWrites, (std::vector<std::string>{"1"}));
  EXPECT_TRUE(f.TimerRunning());
  EXPECT_EQ(f.TimerInterval(), 60000u);
  EXPECT_TRUE(f.ui()->Timeron1->isChecked());
  EXPECT_TRUE(f.ui()->TimerOn2->isChecked());
  EXPECT_FALSE(f.ui()->Mosaque1->isChecked());  // the menu's marks are not restored
  EXPECT_EQ(f.ui()->Label2->text(), "3");
  EXPECT_EQ(f.EntryIndex(), 1);  // whatever "Image courante" says
  ASSERT_EQ(Desktop->WallpaperCalls.size(), 1u);
  auto image = MagickDecode(Dir / "data/muralo.bmp");
  EXPECT_EQ(image.Width, 1024);  // stretched to the screen
  EXPECT_TRUE(f.SelectionMade());
}

TEST_F(FormTest, AMissingListFileIsSwallowedAndKeptAsTheListName) {
  TSettings s;
  s.ListeCourante = Dir / "gone.que";
  StoreSettings(*Hive, s);
  TForm1& f = Form();
  EXPECT_TRUE(Errors.isEmpty());
  EXPECT_TRUE(f.Entries().empty());
  EXPECT_EQ(f.ui()->Label2->text(), "0000");
  EXPECT_EQ(f.CurrentListFile(), Dir / "gone.que");
}

TEST_F(FormTest, OneShotChangesOnceWithoutWindowTrayOrSave) {
  const std::string a = MakePicture("a.bmp", "-size 11x3 xc:red");
  const std::string b = MakePicture("b.bmp", "-size 12x3 xc:red");
  WriteList(Dir / "l.que", {a, b});
  TSettings s;
  s.ListeCourante = Dir / "l.que";
  StoreSettings(*Hive, s);
  const std::string hiveBefore = FileText(Dir / "registry.reg");
  TForm1Services services = Services();
  services.OneShot = true;
  TForm1& f = Form(std::move(services));
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.TrayIcon(), nullptr);
  ASSERT_EQ(Desktop->WallpaperCalls.size(), 1u);
  EXPECT_EQ(MagickDecode(Dir / "data/muralo.bmp").Width, 12);
  FormPtr.reset();
  EXPECT_EQ(FileText(Dir / "registry.reg"), hiveBefore);
}

TEST_F(FormTest, OneShotPrintsTheSwallowedStartUpFailureOnOneLine) {
  StoreListSettings({Dir / "x.bmp", Dir / "damaged.bmp"}, true);
  TForm1Services s = Services();
  s.OneShot = true;
  s.LoadPicture = [](TPicture&, const std::string&) { throw EReadError(); };
  ::testing::internal::CaptureStderr();
  Form(std::move(s));
  const std::string printed = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(
      printed,
      "muralo : " + Format(SStreamErrorDetail, SReadError, Dir / "damaged.bmp", "fichier tronqué ou endommagé") + "\n");
  EXPECT_TRUE(Errors.isEmpty());
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
}

TEST_F(FormTest, StartUpChangeOffMakesNoWallpaper) {
  const std::string a = MakePicture("a.bmp", "-size 11x3 xc:red");
  StoreListSettings({a}, false);
  TForm1& f = Form();
  EXPECT_EQ(f.Entries().size(), 1u);
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
  EXPECT_FALSE(f.SelectionMade());
}

// ---- list commands --------------------------------------------------------------------------------

TEST_F(FormTest, AddingToAnUnnamedListAsksForANameEachTime) {
  TForm1& f = Form();
  ImagesToAdd = {QString::fromStdString(Dir / "x.png"), QString::fromStdString(Dir / "y.png")};
  f.ui()->AjouterBN->click();
  EXPECT_EQ(SaveAsPresets.size(), 1);
  EXPECT_EQ(f.Entries().size(), 2u);
  EXPECT_EQ(f.ui()->Label2->text(), "2");
  EXPECT_EQ(f.CurrentListFile(), "");
  ListToSaveAs = QString::fromStdString(Dir / "mine");  // no extension typed
  f.ui()->ChargerdesImages1->trigger();
  EXPECT_EQ(SaveAsPresets.size(), 2);
  EXPECT_EQ(f.CurrentListFile(), Dir / "mine.que");
  EXPECT_EQ(ReadListFile(Dir / "mine.que").size(), 4u);
  TRegistry check(Dir / "registry.reg");
  check.OpenKey(SettingsKey, false);
  EXPECT_EQ(check.ReadString("Liste courante"), Dir / "mine.que");
}

TEST_F(FormTest, RemoveWithoutSelectionStillSaves) {
  StoreListSettings({"a", "b", "c"}, false);
  TForm1& f = Form();
  WriteText(Dir / "l.que", "");  // to see the save
  f.ui()->EnleverBN->click();
  EXPECT_EQ(ReadListFile(Dir / "l.que"), (TEntryList{"a", "b", "c"}));
  f.SetEntryIndex(1);
  f.ui()->EnleverBN->click();
  EXPECT_EQ(ReadListFile(Dir / "l.que"), (TEntryList{"a", "c"}));
  EXPECT_EQ(f.EntryIndex(), -1);
  EXPECT_EQ(f.ui()->Label2->text(), "2");
}

TEST_F(FormTest, DroppingFourFilesAddsFourEntries) {
  StoreListSettings({"a"}, false);
  TForm1& f = Form();
  QMimeData mime;
  QList<QUrl> urls;
  for (const char* n : {"1.png", "2.png", "folder", "notes.txt"})
    urls << QUrl::fromLocalFile(QString::fromStdString(Dir / n));
  mime.setUrls(urls);
  ASSERT_TRUE(f.acceptDrops());
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&f, &drop);
  ASSERT_EQ(f.Entries().size(), 5u);
  EXPECT_EQ(f.ui()->Label2->text(), "5");
  EXPECT_EQ(ReadListFile(Dir / "l.que").size(), 5u);
  EXPECT_EQ(f.Entries()[4], Dir / "notes.txt");
}

TEST_F(FormTest, SortingFollowsTheCheckBox) {
  TForm1& f = Form();
  f.SetEntries({"/b/Zeta", "/b/alpha", "/b/Mu"});
  f.ui()->CheckBox3->setChecked(true);
  EXPECT_EQ(f.Entries(), (TEntryList{"/b/alpha", "/b/Mu", "/b/Zeta"}));
  ListToSaveAs = QString::fromStdString(Dir / "s.que");
  ImagesToAdd = {"/b/beta"};
  f.AjouterBNClick();
  EXPECT_EQ(f.Entries(), (TEntryList{"/b/alpha", "/b/beta", "/b/Mu", "/b/Zeta"}));
  EXPECT_EQ(ReadListFile(Dir / "s.que"), f.Entries());
  EXPECT_EQ(f.ui()->Liste->item(1)->text(), "/b/beta");
  f.ui()->CheckBox3->setChecked(false);
  ImagesToAdd = {"/b/aaa"};
  f.AjouterBNClick();
  EXPECT_EQ(f.Entries().back(), "/b/aaa");
}

TEST_F(FormTest, NewAndLoadListSaveTheCurrentOneFirst) {
  WriteList(Dir / "other.que", {"/o/1", "/o/2"});
  TForm1& f = Form();
  f.SetEntries({"/c/1"});
  ListToSaveAs = "";  // cancelled: the current list stays unsaved
  ListToOpen = QString::fromStdString(Dir / "other.que");
  f.ui()->ChargerListe1->trigger();
  EXPECT_EQ(SaveAsPresets.size(), 1);
  EXPECT_EQ(f.Entries(), (TEntryList{"/o/1", "/o/2"}));
  EXPECT_EQ(f.CurrentListFile(), Dir / "other.que");
  EXPECT_EQ(f.ui()->Label2->text(), "2");
  f.SetEntries({"/o/1", "/o/2", "/o/3"});
  f.ui()->NouvelleListe1->trigger();  // named: written without asking
  EXPECT_EQ(SaveAsPresets.size(), 1);
  EXPECT_EQ(ReadListFile(Dir / "other.que").size(), 3u);
  EXPECT_TRUE(f.Entries().empty());
  EXPECT_EQ(f.CurrentListFile(), "");
  EXPECT_EQ(f.ui()->Label2->text(), "0");
  ListToOpen = QString::fromStdString(Dir / "none.que");
  ListToSaveAs = "";
  f.ui()->ChargerListe1->trigger();
  ASSERT_EQ(Errors.size(), 1);  // the open error is reported
  EXPECT_EQ(f.CurrentListFile(), Dir / "none.que");
}

TEST_F(FormTest, SaveAsPrefillsAndCancelKeepsTheName) {
  TForm1& f = Form();
  f.SetCurrentListFile(Dir / "a.que");
  ListToSaveAs = "";
  f.ui()->SauverListeSous1->trigger();
  EXPECT_EQ(SaveAsPresets, QStringList{QString::fromStdString(Dir / "a.que")});
  EXPECT_EQ(f.CurrentListFile(), Dir / "a.que");
  EXPECT_FALSE(std::filesystem::exists(Dir / "a.que"));
}

// ---- tray, timer, close -----------------------------------------------------------------------------

bool SameIcon(const QIcon& a, const QIcon& b) { return a.pixmap(32, 32).toImage() == b.pixmap(32, 32).toImage(); }

TEST_F(FormTest, TimerItemsSwitchTheTrayIconAndBothMenus) {
  TForm1Services services = Services();
  const QIcon stopped = services.StoppedIcon, running = services.RunningIcon;
  ASSERT_FALSE(SameIcon(stopped, running));
  TForm1& f = Form(std::move(services));
  ASSERT_NE(f.TrayIcon(), nullptr);
  EXPECT_TRUE(SameIcon(f.TrayIcon()->icon(), stopped));
  f.SetTimerDuration(5000);
  f.ui()->TimerOn2->trigger();  // from the tray menu
  EXPECT_TRUE(f.TimerRunning());
  EXPECT_EQ(f.TimerInterval(), 5000u);
  EXPECT_TRUE(f.ui()->Timeron1->isChecked());
  EXPECT_FALSE(f.ui()->Timeroff1->isChecked());
  EXPECT_TRUE(SameIcon(f.TrayIcon()->icon(), running));
  f.ui()->Timeroff1->trigger();
  EXPECT_FALSE(f.TimerRunning());
  EXPECT_TRUE(f.ui()->TimerOff2->isChecked());
  EXPECT_TRUE(SameIcon(f.TrayIcon()->icon(), stopped));
}

TEST_F(FormTest, DurationCommandSetsTheIntervalAndSaves) {
  TForm1Services services = Services();
  services.ChooseDuration = [](int32_t current) -> std::optional<int32_t> {
    if (current == 0) return 300000;
    return std::nullopt;
  };
  TForm1& f = Form(std::move(services));
  ListToSaveAs = QString::fromStdString(Dir / "d.que");
  f.ui()->Dure1->trigger();
  EXPECT_EQ(f.TimerDuration(), 300000);
  EXPECT_EQ(f.TimerInterval(), 300000u);
  EXPECT_FALSE(f.TimerRunning());
  TRegistry check(Dir / "registry.reg");
  check.OpenKey(SettingsKey, false);
  EXPECT_EQ(check.ReadInteger("Duree Timer"), 300000);
  f.ui()->Dure1->trigger();  // cancelled: nothing changes
  EXPECT_EQ(f.TimerDuration(), 300000);
}

TEST_F(FormTest, TrayClicksAndTheSecondInstanceMessage) {
  const std::string a = MakePicture("a.bmp", "-size 11x3 xc:red");
  TForm1& f = Form();
  f.SetEntries({a});
  f.TrayIconMessage(QSystemTrayIcon::Trigger);
  EXPECT_EQ(Desktop->WallpaperCalls.size(), 1u);
  f.TrayIconMessage(QSystemTrayIcon::Context);  // the menu opens by itself
  f.TrayIconMessage(QSystemTrayIcon::MiddleClick);
  EXPECT_EQ(Desktop->WallpaperCalls.size(), 1u);
  // A double click is two left-button releases: Trigger, then DoubleClick, two changes.
  f.TrayIconMessage(QSystemTrayIcon::Trigger);
  f.TrayIconMessage(QSystemTrayIcon::DoubleClick);
  EXPECT_EQ(Desktop->WallpaperCalls.size(), 3u);
  EXPECT_EQ(f.TrayIcon()->contextMenu(), f.PopupMenu1());
  EXPECT_FALSE(f.isVisible());
  f.WMShowMain(1, 0);
  EXPECT_FALSE(f.isVisible());
  f.WMShowMain(0, 0);
  EXPECT_TRUE(f.isVisible());
  f.MinimizeToTray();
  EXPECT_FALSE(f.isVisible());
  f.ui()->Restaurer1->trigger();
  EXPECT_TRUE(f.isVisible());
  ASSERT_NE(f.TrayIcon(), nullptr);  // the tray icon stays
  f.showMinimized();
  QTRY_VERIFY_WITH_TIMEOUT(!f.isVisible(), 2000);
}

TEST_F(FormTest, WithoutATrayTheWindowShowsAndSaysSoOnce) {
  TrayAvailable = false;
  TForm1& f = Form();
  EXPECT_TRUE(f.isVisible());
  ASSERT_EQ(Notices.size(), 1);
  f.MinimizeToTray();
  EXPECT_TRUE(f.isVisible());
  EXPECT_EQ(Notices.size(), 1);
  EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(FormTest, CloseSavesAndRemovesTheTrayIcon) {
  StoreListSettings({"a"}, false);
  TForm1& f = Form();
  f.ui()->CheckBox1->setChecked(true);
  f.SetEntries({"a", "b"});
  f.ui()->FermerBN->click();
  EXPECT_EQ(f.TrayIcon(), nullptr);
  EXPECT_EQ(ReadListFile(Dir / "l.que"), (TEntryList{"a", "b"}));
  TRegistry check(Dir / "registry.reg");
  check.OpenKey(SettingsKey, false);
  EXPECT_TRUE(check.ReadBool("Titre"));
  EXPECT_FALSE(f.acceptDrops());
}

TEST_F(FormTest, AFailedSaveStopsTheCloseAndKeepsTheProgramRunning) {
  TForm1& f = Form();
  f.SetEntries({"/k/1.png", "/k/2.png"});
  f.ui()->CheckBox1->setChecked(true);
  f.SetCurrentListFile(Dir / "gone/l.que");  // its folder does not exist
  f.show();
  f.ui()->FermerBN->click();
  ASSERT_EQ(Errors.size(), 1);
  EXPECT_TRUE(f.isVisible());
  ASSERT_NE(f.TrayIcon(), nullptr);
  EXPECT_TRUE(f.acceptDrops());
  EXPECT_EQ(f.Entries().size(), 2u);
  // Once the list has a place it can be written to, closing saves and ends as usual.
  f.SetCurrentListFile(Dir / "kept.que");
  f.ui()->Quitter1->trigger();
  EXPECT_EQ(Errors.size(), 1);
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.TrayIcon(), nullptr);
  EXPECT_EQ(ReadListFile(Dir / "kept.que"), (TEntryList{"/k/1.png", "/k/2.png"}));
  TRegistry check(Dir / "registry.reg");
  check.OpenKey(SettingsKey, false);
  EXPECT_TRUE(check.ReadBool("Titre"));
}

TEST_F(FormTest, UnwritableSettingsAreReportedOnceAndTheCloseGoesOn) {
  // A settings folder nobody can write to (its parent is a plain file: root cannot either).
  WriteText(Dir / "plain", "x");
  Hive = std::make_unique<TRegistry>(Dir / "plain/registry.reg");
  TForm1& f = Form();
  f.SetEntries({"/k/1.png"});
  f.SetCurrentListFile(Dir / "l.que");
  f.show();
  f.ui()->FermerBN->click();
  EXPECT_EQ(Errors.size(), 1);
  EXPECT_FALSE(f.isVisible());
  EXPECT_EQ(f.TrayIcon(), nullptr);
  EXPECT_EQ(ReadListFile(Dir / "l.que"), (TEntryList{"/k/1.png"}));  // the list was still saved
}

TEST_F(FormTest, TrayAndMainMenuQuitCloseAfterSaving) {
  for (const char* item : {"Quitter2", "Quitter1"}) {
    SCOPED_TRACE(item);
    StoreListSettings({"a"}, false);
    TForm1& f = Form();
    f.SetEntries({"a", "b", "c"});
    f.findChild<QAction*>(item)->trigger();
    EXPECT_EQ(f.TrayIcon(), nullptr);
    EXPECT_EQ(ReadListFile(Dir / "l.que").size(), 3u);
  }
}

TEST_F(FormTest, EndOfSessionKeepsAnUnnamedListWithoutAskingForAName) {
  TForm1& f = Form();
  f.SetEntries({"/u/1.png", "/u/2.png"});
  f.WMEndSession(true);
  EXPECT_TRUE(SaveAsPresets.isEmpty());
  EXPECT_EQ(f.CurrentListFile(), Dir / "data/liste-sans-nom.que");
  EXPECT_EQ(ReadListFile(Dir / "data/liste-sans-nom.que"), (TEntryList{"/u/1.png", "/u/2.png"}));
  TRegistry check(Dir / "registry.reg");
  check.OpenKey(SettingsKey, false);
  EXPECT_EQ(check.ReadString("Liste courante"), Dir / "data/liste-sans-nom.que");
}

TEST_F(FormTest, EndOfSessionWithAnEmptyUnnamedListWritesTheSettingsWithoutAskingForAName) {
  TForm1& f = Form();  // a first run: no list file, no entries
  f.ui()->CheckBox1->setChecked(true);
  f.WMEndSession(true);
  EXPECT_TRUE(SaveAsPresets.isEmpty());
  EXPECT_TRUE(f.CurrentListFile().empty());
  EXPECT_EQ(f.TrayIcon(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Dir / "data/liste-sans-nom.que"));
  TRegistry check(Dir / "registry.reg");
  check.OpenKey(SettingsKey, false);
  EXPECT_TRUE(check.ReadBool("Titre"));
}

TEST_F(FormTest, EndOfSessionSavesOnlyWhenItReallyEnds) {
  TForm1& f = Form();
  f.SetCurrentListFile(Dir / "e.que");
  f.SetEntries({"x"});
  f.WMEndSession(false);
  EXPECT_FALSE(std::filesystem::exists(Dir / "e.que"));
  f.WMEndSession(true);
  EXPECT_EQ(ReadListFile(Dir / "e.que"), (TEntryList{"x"}));
  EXPECT_EQ(f.TrayIcon(), nullptr);
}

TEST_F(FormTest, FontAndHelpCommands) {
  TForm1Services services = Services();
  std::vector<std::string> helpCalls;
  services.ProgramDir = "/opt/muralo/";
  bool helpFound = true;
  services.OpenHelp = [&](const std::string& dir) {
    helpCalls.push_back(dir + "muralo.chm");
    return helpFound;
  };
  services.OpenHelpOnHelp = [&] { helpCalls.push_back("help on help"); };
  int about = 0;
  services.ShowAbout = [&] { ++about; };
  const bool timesInstalled = QFontDatabase::families().contains("Times New Roman", Qt::CaseInsensitive);
  std::vector<QFont> fontsOffered;
  services.ChooseFont = [&](const QFont& current) -> std::optional<QFont> {
    fontsOffered.push_back(current);
    QFont f("Liberation Sans");
    f.setPointSize(30);
    f.setItalic(true);
    return f;
  };
  std::vector<QColor> colorsOffered;
  std::optional<QColor> colorChosen = QColor(0, 0, 255);
  services.ChooseColor = [&](const QColor& current) {
    colorsOffered.push_back(current);
    return colorChosen;
  };
  TForm1& f = Form(std::move(services));
  EXPECT_EQ(f.CaptionFont.Name, "Times new Roman");
  EXPECT_EQ(f.CaptionFont.Color, 0x004040FFu);
  f.ui()->Police1->trigger();
  EXPECT_EQ(f.CaptionFont.Size, 30);
  EXPECT_EQ(f.CaptionFont.Name, "Liberation Sans");
  EXPECT_EQ(f.CaptionFont.Color, 0x00FF0000u);  // blue, as a COLORREF
  // The dialog opened on the caption font: its family (or the metric-compatible one), size, style.
  ASSERT_EQ(fontsOffered.size(), 1u);
  EXPECT_EQ(fontsOffered[0].family(), timesInstalled ? "Times new Roman" : "Liberation Serif");
  EXPECT_EQ(fontsOffered[0].pointSize(), 16);
  EXPECT_FALSE(fontsOffered[0].bold() || fontsOffered[0].italic());
  ASSERT_EQ(colorsOffered.size(), 1u);
  EXPECT_EQ(colorsOffered[0], QColor(255, 64, 64));
  colorChosen.reset();  // a cancelled colour keeps the colour, the font still changes
  f.ui()->Police1->trigger();
  EXPECT_EQ(f.CaptionFont.Color, 0x00FF0000u);
  EXPECT_TRUE(f.CaptionFont.Style & static_cast<uint8_t>(TFontStyle::fsItalic));
  f.ui()->Aide2->trigger();
  f.ui()->Aidesurlaide1->trigger();
  f.ui()->Aproposde1->trigger();
  EXPECT_EQ(helpCalls, (std::vector<std::string>{"/opt/muralo/muralo.chm", "help on help"}));
  EXPECT_EQ(about, 1);
  EXPECT_TRUE(Errors.isEmpty());
  helpFound = false;  // no help can be opened: the user is told so
  f.ui()->Aide2->trigger();
  ASSERT_EQ(Errors.size(), 1);
  EXPECT_EQ(Errors[0], QString::fromUtf8(SNoHelp));
}

// Qt's own font dialog selects the caption font's family, size and style (with Qt's French texts
// loaded, as in the program).
TEST_F(FormTest, TheFontDialogOpensOnTheCaptionFont) {
  const bool timesInstalled = QFontDatabase::families().contains("Times New Roman", Qt::CaseInsensitive);
  TFont font;
  font.Name = "Times new Roman";
  font.Size = 16;
  for (uint8_t style : {0, 1, 2, 3}) {
    SCOPED_TRACE(style);
    font.Style = style;
    QFontDialog dialog(ToDialogFont(font));
    EXPECT_EQ(dialog.currentFont().family().toLower(), timesInstalled ? "times new roman" : "liberation serif");
    EXPECT_EQ(dialog.currentFont().pointSize(), 16);
    EXPECT_EQ(dialog.currentFont().bold(), (style & 1) != 0);
    EXPECT_EQ(dialog.currentFont().italic(), (style & 2) != 0);
  }
}

// Qt's standard dialogs speak French, as the rest of the program (the environment loaded them as
// the program does at start-up).
TEST_F(FormTest, QtsOwnDialogTextsAreFrench) {
  ASSERT_TRUE(Env->Translated) << "Qt's French translations (qt6-translations-l10n) are needed";
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), QString::fromUtf8("Voir dans :"));
  QDialogButtonBox buttons(QDialogButtonBox::Open | QDialogButtonBox::Cancel | QDialogButtonBox::Save);
  EXPECT_EQ(buttons.button(QDialogButtonBox::Cancel)->text().remove('&'), "Annuler");
  EXPECT_EQ(buttons.button(QDialogButtonBox::Save)->text().remove('&'), "Enregistrer");
  EXPECT_EQ(buttons.button(QDialogButtonBox::Open)->text().remove('&'), "Ouvrir");
}

TEST_F(FormTest, OpenPictureDialogPreviewsThroughThePictureLoader) {
  const std::string pic = MakePicture("p.bmp", "-size 320x80 xc:'#FF0000'");
  TOpenPictureDialog dialog;
  EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFiles);
  ASSERT_FALSE(dialog.nameFilters().isEmpty());
  EXPECT_TRUE(dialog.nameFilters().front().contains("*.bmp"));
  EXPECT_TRUE(dialog.nameFilters().join('\n').contains("Bitmaps (*.bmp)"));
  dialog.ShowPreview(QString::fromStdString(pic));
  const QPixmap shown = dialog.PreviewPane()->pixmap();
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(shown.size(), QSize(160, 40));  // scaled with its proportions
  EXPECT_EQ(shown.toImage().pixelColor(80, 20), QColor(255, 0, 0));
  EXPECT_EQ(dialog.SizeLabel()->text(), "320 x 80");
  dialog.ShowPreview(QString::fromStdString(Dir / "missing.bmp"));
  EXPECT_TRUE(dialog.PreviewPane()->pixmap().isNull());
}

TEST_F(FormTest, TrayIconsKeepTheIconsColoursAndTransparency) {
  const std::string icon = muralo::test::SourcePath("resources/icons/running.ico");
  const QImage shown = ToQIcon(*Running).pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(shown.size(), QSize(32, 32));
  // ImageMagick's reading of the same file, with its alpha channel.
  const std::string rgba = Dir / "icon.rgba";
  RunTool(muralo::test::kMagick + " '" + icon + "' -depth 8 'rgba:" + rgba + "'");
  const std::string bytes = FileText(rgba);
  ASSERT_EQ(bytes.size(), 32u * 32u * 4u);
  int opaque = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) {
      const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + (y * 32 + x) * 4;
      const QColor c = shown.pixelColor(x, y);
      ASSERT_EQ(c.alpha() > 127, p[3] > 127) << x << "," << y;
      if (p[3] > 127) {
        ++opaque;
        ASSERT_EQ(c.red(), p[0]) << x << "," << y;
        ASSERT_EQ(c.green(), p[1]) << x << "," << y;
        ASSERT_EQ(c.blue(), p[2]) << x << "," << y;
      }
    }
  EXPECT_GT(opaque, 100);
}

TEST_F(FormTest, KeyboardMovesCountAsClicks) {
  const std::string pic = MakePicture("p.bmp", "-size 20x10 xc:red");
  TForm1& f = Form();
  f.SetEntries({pic, pic});
  f.ui()->Apercu->setChecked(true);
  f.show();
  f.ui()->Liste->setFocus();
  EXPECT_FALSE(f.SelectionMade());
  QTest::keyClick(f.ui()->Liste, Qt::Key_Down);
  EXPECT_TRUE(f.SelectionMade());
  EXPECT_GE(f.EntryIndex(), 0);
  ASSERT_NE(f.Picture(), nullptr);  // "Aperçu auto" previewed it
}

TEST_F(FormTest, SplashWindowLayout) {
  auto banner = std::make_unique<TBitmap>();
  banner->LoadFromFile(muralo::test::SourcePath("resources/splash.bmp"));
  EXPECT_EQ(banner->Width(), 317);
  EXPECT_EQ(banner->Height(), 93);
  TfrmSplash splash(banner.get());
  EXPECT_EQ(splash.size(), QSize(312, 114));
  EXPECT_EQ(splash.Banner()->geometry(), QRect(0, 0, 312, 73));
  EXPECT_FALSE(splash.Banner()->pixmap().isNull());
  EXPECT_EQ(splash.Label()->text(), "Muralo");
  EXPECT_EQ(splash.Label()->font().pointSize(), 22);
  EXPECT_TRUE(splash.Label()->alignment() & Qt::AlignRight);
  EXPECT_EQ(splash.Label()->palette().color(QPalette::WindowText), QColor(0, 128, 128));
}

}  // namespace
