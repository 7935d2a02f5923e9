// The preview window TImgWin and the search dialog TForm3 under QTest (offscreen platform): their
// layouts, the scale toggle, saving in the picture's own format, and the search rules against a
// real main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/ImageWindow.h"
#include "app/QtBridge.h"
#include "app/Unit1.h"
#include "app/Unit3.h"
#include "classlib/Bitmap.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/formats/TargaGraphic.h"
#include "platform/Registry.h"
#include "tests/app/TestSupport.h"
#include "ui_ImageWindow.h"
#include "ui_Unit1.h"
#include "ui_Unit3.h"

using namespace muralo;
using muralo::test::TempDir;
using muralo::testing::TRecordingDesktop;

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "window_tests";
    static char* argv[] = {name, nullptr};
    App = new QApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationDisplayName("Muralo");
    SetTextRenderer(&Renderer);
    Framework = std::make_unique<TFrameworkScope>();
  }
  void TearDown() override {
    Framework.reset();
    SetTextRenderer(nullptr);
    delete App;
  }
  QApplication* App = nullptr;
  TQtTextRenderer Renderer;
  std::unique_ptr<TFrameworkScope> Framework;
};
[[maybe_unused]] auto* const Env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string Sample(const std::string& name) { return muralo::test::SourcePath("resources/samples/" + name); }

std::unique_ptr<TBitmap> Gradient(int w, int h) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(TPixelFormat::pf24bit);
  b->SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b->RowData(y) + 3 * x;
      p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = uint8_t(x ^ y);
    }
  return b;
}

// A picture class without a writer of its own, as the TIFF class is: saving writes nothing.
class TReadOnlyBitmap : public TBitmap {
  MURALO_GRAPHIC_CLASS(TReadOnlyBitmap)
 public:
  void SaveToStream(TStream&) override {}
};
MURALO_DEFINE_GRAPHIC_CLASS(TReadOnlyBitmap, TBitmap, nullptr)

// Runs action and answers the modal message box it opens; returns the box's title and text. The
// timer lives only for the call, so a box that never opens leaves nothing pending behind.
std::pair<QString, QString> AnswerMessageBox(const std::function<void()>& action) {
  std::pair<QString, QString> seen;
  QTimer timer;
  timer.setInterval(10);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      timer.stop();
      seen = {box->windowTitle(), box->text()};
      EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
      box->accept();
    }
  });
  timer.start();
  action();
  return seen;
}

TEST(ImageWindowTest, Layout) {
  TImgWin w;
  EXPECT_EQ(w.windowTitle(), "Image");
  EXPECT_EQ(w.size(), QSize(342, 327));
  EXPECT_EQ(w.ui()->ToolBar1->height(), 29);
  EXPECT_EQ(w.ui()->SpeedButton1->toolTip(), QString::fromUtf8("Mise à l'échelle"));
  EXPECT_EQ(w.ui()->SpeedButton2->toolTip(), "Enregistrer sur disque");
  EXPECT_TRUE(w.ui()->SpeedButton1->isCheckable());
  EXPECT_FALSE(w.ui()->SpeedButton2->isCheckable());
  EXPECT_TRUE(w.ui()->SpeedButton1->autoRaise() && w.ui()->SpeedButton2->autoRaise());
  EXPECT_EQ(w.ui()->ScrollBox1->widget(), w.ui()->Image1);
  EXPECT_EQ(w.ui()->Image1->pos(), QPoint(0, 0));
  EXPECT_TRUE(w.isSizeGripEnabled());
}

TEST(ImageWindowTest, ScaleToggleTakesTheSizeOfTheMomentAndKeepsIt) {
  TImgWin w;
  w.show();
  auto big = Gradient(900, 700);
  QTimer::singleShot(0, &w, [&] { w.reject(); });
  ShowPreviewModal(w, big.get());
  QLabel* image = w.ui()->Image1;
  EXPECT_EQ(image->size(), QSize(900, 700));  // sized to its picture, the scroll box scrolls
  EXPECT_TRUE(w.Picture().Graphic()->InheritsFrom(TBitmap::StaticClass()));
  w.show();
  QApplication::processEvents();
  const QSize visible = w.ui()->ScrollBox1->viewport()->size();
  QTest::mouseClick(w.ui()->SpeedButton1, Qt::LeftButton);
  EXPECT_TRUE(w.ui()->SpeedButton1->isChecked());
  EXPECT_EQ(image->size(), visible);
  EXPECT_TRUE(image->hasScaledContents());
  // Later resizing does not change the size taken at the click.
  w.resize(600, 500);
  QApplication::processEvents();
  EXPECT_EQ(image->size(), visible);
  // A new picture shown while the button is down (next opening) is stretched to that size.
  auto small = Gradient(40, 30);
  QTimer::singleShot(0, &w, [&] { w.reject(); });
  ShowPreviewModal(w, small.get());
  EXPECT_TRUE(w.ui()->SpeedButton1->isChecked());
  EXPECT_EQ(image->size(), visible);
  QTest::mouseClick(w.ui()->SpeedButton1, Qt::LeftButton);
  EXPECT_FALSE(image->hasScaledContents());
  EXPECT_EQ(image->size(), QSize(40, 30));
}

TEST(ImageWindowTest, SavesWithThePicturesOwnClass) {
  TempDir dir;
  TImgWin w;
  QStringList errors;
  w.ShowError = [&](const QString& text) { errors << text; };
  QString chosen;
  w.SavePictureDialog1 = [&] { return chosen; };

  // An empty preview writes nothing.
  chosen = QString::fromStdString(dir / "empty.bmp");
  w.SpeedButton2Click();
  EXPECT_FALSE(std::filesystem::exists(dir / "empty.bmp"));

  struct Case {
    const char* Name;
    std::function<std::unique_ptr<TGraphic>()> Make;
    const char* Target;
    std::function<void(const std::string& saved)> Check;
  };
  const auto sameBytesAs = [](const std::string& original) {
    return [original](const std::string& saved) {
      EXPECT_EQ(muralo::test::FileText(saved), muralo::test::FileText(original));
    };
  };
  const Case cases[] = {
      {"JPEG under .bmp",
       [] {
         auto g = std::make_unique<TJPEGImage>();
         g->LoadFromFile(Sample("photo.jpg"));
         return std::unique_ptr<TGraphic>(std::move(g));
       },
       "photo.bmp", sameBytesAs(Sample("photo.jpg"))},
      {"icon under .png",
       [] {
         auto g = std::make_unique<TIcon>();
         g->LoadFromFile(Sample("icon.ico"));
         return std::unique_ptr<TGraphic>(std::move(g));
       },
       "icon.png", sameBytesAs(Sample("icon.ico"))},
      {"Targa under .jpg",
       [] {
         auto t = std::make_unique<TTargaGraphic>();
         t->Assign(*Gradient(17, 5));
         return std::unique_ptr<TGraphic>(std::move(t));
       },
       "t.jpg",
       [](const std::string& saved) {
         TTargaGraphic back;
         back.LoadFromFile(saved);  // Targa bytes, not BMP
         EXPECT_EQ(back.Width(), 17);
         EXPECT_EQ(back.Pixel(3, 4), Gradient(17, 5)->Pixel(3, 4));
       }},
      {"read-only class as BMP",
       [] {
         auto r = std::make_unique<TReadOnlyBitmap>();
         r->Assign(*Gradient(9, 4));
         return std::unique_ptr<TGraphic>(std::move(r));
       },
       "r.tif",
       [](const std::string& saved) {
         EXPECT_EQ(muralo::test::FileText(saved).substr(0, 2), "BM");
         TBitmap back;
         back.LoadFromFile(saved);
         EXPECT_EQ(back.Width(), 9);
         EXPECT_EQ(back.Pixel(8, 3), Gradient(9, 4)->Pixel(8, 3));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::unique_ptr<TGraphic> g = c.Make();
    w.SetPicture(g.get());
    EXPECT_EQ(w.Picture().Graphic()->ClassType(), g->ClassType());
    chosen = QString::fromStdString(dir / c.Target);
    QTest::mouseClick(w.ui()->SpeedButton2, Qt::LeftButton);
    ASSERT_TRUE(std::filesystem::exists(dir / c.Target));
    c.Check(dir / c.Target);
  }
  EXPECT_TRUE(errors.isEmpty());

  // Cancelled: nothing; a bad path: the standard error report.
  chosen.clear();
  QTest::mouseClick(w.ui()->SpeedButton2, Qt::LeftButton);
  chosen = QString::fromStdString(dir / "missing/x.bmp");
  QTest::mouseClick(w.ui()->SpeedButton2, Qt::LeftButton);
  ASSERT_EQ(errors.size(), 1);
  EXPECT_FALSE(errors[0].isEmpty());
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Desktop = std::make_unique<TRecordingDesktop>((Dir.Path).string());
    Hive = std::make_unique<TRegistry>(Dir / "registry.reg");
    TForm1Services s;
    s.Hive = Hive.get();
    s.Desktop = Desktop.get();
    auto fallback = std::make_shared<TIcon>();
    fallback->LoadFromFile(Sample("icon.ico"));
    s.Image2 = fallback;
    s.ShowError = [this](const QString& text) { Errors << text; };
    s.ShowNotice = [](const QString&) {};
    s.TrayAvailable = [] { return false; };
    Form = std::make_unique<TForm1>(std::move(s));
    Form->FormCreate();
    Form->SetEntries(
        {"C:\\Photos\\VACANCES\\mer.jpg", Sample("plasma.bmp"), "/p/été.bmp", Sample("photo.jpg"), "/p/ÉTÉ 2.bmp"});
    Search = std::make_unique<TForm3>(*Form);
    Search->ShowSearch();
  }

  // Types the text, presses Enter (the default button) and answers a "not found" box if one opens.
  std::pair<QString, QString> Find(const QString& text) {
    Search->ui()->Edit1->setText(text);
    return AnswerMessageBox([&] { QTest::keyClick(Search->ui()->Edit1, Qt::Key_Return); });
  }

  TempDir Dir;
  std::unique_ptr<TRecordingDesktop> Desktop;
  std::unique_ptr<TRegistry> Hive;
  QStringList Errors;
  std::unique_ptr<TForm1> Form;
  std::unique_ptr<TForm3> Search;
};

TEST_F(SearchTest, Layout) {
  TForm3& f = *Search;
  EXPECT_EQ(f.windowTitle(), QString::fromUtf8("Fichier à rechercher"));
  EXPECT_EQ(f.size(), QSize(304, 143));
  EXPECT_FALSE(f.isModal());
  EXPECT_EQ(f.ui()->Label1->text(), "Rechercher :");
  EXPECT_EQ(f.ui()->Label1->pos(), QPoint(16, 24));
  EXPECT_EQ(f.ui()->Edit1->geometry(), QRect(96, 16, 177, 21));
  EXPECT_EQ(f.ui()->BitBtn1->pos(), QPoint(48, 80));
  EXPECT_EQ(f.ui()->BitBtn1->text(), "Cherche");
  EXPECT_TRUE(f.ui()->BitBtn1->isDefault());
  EXPECT_FALSE(f.ui()->BitBtn1->icon().isNull());
  EXPECT_EQ(f.ui()->BitBtn2->pos(), QPoint(168, 80));
  EXPECT_EQ(f.ui()->BitBtn2->text(), "&Fermer");
}

TEST_F(SearchTest, FindsTheNextEntryFromTheSelectionWithoutWrapping) {
  // Case does not matter, the text may stand anywhere in the path.
  EXPECT_EQ(Find("vacances").second, "");
  EXPECT_EQ(Form->EntryIndex(), 0);
  // Accented letters compare upper-cased by the locale's rules: "é" finds "É"; again finds the next.
  EXPECT_EQ(Find(QString::fromUtf8("été")).second, "");
  EXPECT_EQ(Form->EntryIndex(), 2);
  EXPECT_EQ(Find(QString::fromUtf8("été")).second, "");
  EXPECT_EQ(Form->EntryIndex(), 4);
  // No wrap-around past the last entry, though entry 2 matches.
  const auto [title, text] = Find(QString::fromUtf8("été"));
  EXPECT_EQ(title, "Muralo");
  EXPECT_EQ(text, QString::fromUtf8("Chaîne non trouvée dans la liste."));
  EXPECT_EQ(Form->EntryIndex(), 4);
  // The search previews but never counts as a user's selection nor changes the wallpaper.
  EXPECT_FALSE(Form->SelectionMade());
  EXPECT_TRUE(Desktop->WallpaperCalls.empty());
  EXPECT_TRUE(Errors.isEmpty());
}

TEST_F(SearchTest, PreviewsTheFoundEntry) {
  Find("plasma");
  EXPECT_EQ(Form->EntryIndex(), 1);
  ASSERT_NE(Form->Picture(), nullptr);
  EXPECT_TRUE(Form->Picture()->InheritsFrom(TBitmap::StaticClass()));
  EXPECT_EQ(Form->ui()->Liste->currentRow(), 1);
  Find("photo.JPG");
  EXPECT_TRUE(Form->Picture()->InheritsFrom(TJPEGImage::StaticClass()));
}

TEST_F(SearchTest, EmptyTextNeverMatches) {
  EXPECT_EQ(Find("").second, QString::fromUtf8(SNotFoundInList));
  EXPECT_EQ(Form->EntryIndex(), -1);
  EXPECT_FALSE(ContainsUpperCase("abc", ""));
  EXPECT_TRUE(ContainsUpperCase(QString::fromUtf8("/a/Élan"), QString::fromUtf8("éla")));
}

TEST_F(SearchTest, CloseHidesAndKeepsTheText) {
  Search->ui()->Edit1->setText("mer");
  QTest::mouseClick(Search->ui()->BitBtn2, Qt::LeftButton);
  EXPECT_FALSE(Search->isVisible());
  Search->ShowSearch();
  EXPECT_TRUE(Search->isVisible());
  EXPECT_EQ(Search->ui()->Edit1->text(), "mer");
}

}  // namespace
