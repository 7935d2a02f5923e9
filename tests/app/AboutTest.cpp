// TKvVersionInfo over byte-built PE files and the program's own resource as the build wrote it, and
// the About box (offscreen) filled from it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fstream>

#include "app/AboutBox.h"
#include "app/QtBridge.h"
#include "classlib/Icon.h"
#include "tests/app/TestSupport.h"
#include "tests/platform/PEFileBuilder.h"
#include "ui_AboutBox.h"

using namespace muralo;
using muralo::test::TempDir;

namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "about_tests";
    static char* argv[] = {name, nullptr};
    App = new QApplication(argc, argv);
    RegisterVersionResource();
  }
  void TearDown() override { delete App; }
  QApplication* App = nullptr;
};
[[maybe_unused]] auto* const Env = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string WritePE(const TempDir& dir, const std::string& name, const TVersionData& data) {
  const std::vector<uint8_t> bytes = test::BuildPEFile(BuildVersionInfo(data));
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return dir / name;
}

TVersionData Data(uint16_t codePage) {
  TVersionData d;
  const uint16_t v[4] = {1, 2, 3, 4};
  std::copy(v, v + 4, d.FileVersion);
  std::copy(v, v + 4, d.ProductVersion);
  d.FileFlags = 0x2, d.FileSubtype = 7;
  d.Translation = {0x040C, codePage};
  d.TranslationKey = codePage == 1252 ? "040c04e4" : "040c04b1";
  d.Strings = {{"ProductName", "Essai"}, {"CompanyName", "Brenwick"}};
  return d;
}

TEST(VersionInfoReaderTest, ReadsAPEFilesResource) {
  TempDir dir;
  TKvVersionInfo info;
  info.SetFileName(WritePE(dir, "a.exe", Data(1252)));
  ASSERT_TRUE(info.InfoLoaded());
  EXPECT_EQ(info.TranslationKey(), "040c04e4");
  EXPECT_EQ(info.GetCharSet(), "Windows, Multilingual");
  EXPECT_EQ(info.GetLanguage(), "Français (France)");
  EXPECT_EQ(info.GetFileVersionNumber(), (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(info.GetProductVersionNumber(), (std::array<uint16_t, 4>{1, 2, 3, 4}));
  EXPECT_EQ(info.GetStringFileInfo(9), "Essai");
  EXPECT_EQ(info.GetStringFileInfo(1), "Brenwick");
  EXPECT_EQ(info.GetStringFileInfo(5), "");  // absent from the table
  EXPECT_EQ(info.GetFileOS(), VOS_NT_WINDOWS32);
  EXPECT_EQ(info.GetFileType(), VFT_APP);
  EXPECT_EQ(info.GetFileSubType(), 7u);
  EXPECT_EQ(info.GetFileFlags(), 2u);
  EXPECT_EQ(info.GetFileFlagsMask(), 0x3Fu);

  // Code page 1201 is not in the table.
  info.SetFileName(WritePE(dir, "b.exe", Data(1201)));
  EXPECT_EQ(info.GetCharSet(), "Unknown");
  EXPECT_EQ(info.GetStringFileInfo(9), "Essai");  // found under 040c04b1

  // No translation table: loaded, but no string table is named.
  TVersionData none = Data(1252);
  none.Translation.clear();
  info.SetFileName(WritePE(dir, "c.exe", none));
  EXPECT_TRUE(info.InfoLoaded());
  EXPECT_EQ(info.GetStringFileInfo(9), "");

  // A file without a resource: every query gives its empty value.
  info.SetFileName("/bin/sh");
  EXPECT_FALSE(info.InfoLoaded());
  EXPECT_EQ(info.GetStringFileInfo(9), "");
  EXPECT_EQ(info.GetFileVersionNumber(), (std::array<uint16_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(info.GetFileOS(), 0u);
  EXPECT_EQ(info.GetLanguage(), "");
  EXPECT_EQ(info.GetCharSet(), "");
}

TEST(VersionInfoReaderTest, TheProgramsOwnResourceAsTheBuildWroteIt) {
  TKvVersionInfo info;  // empty name: the running program
  EXPECT_EQ(info.FileName(), ProgramFileName());
  ASSERT_TRUE(info.InfoLoaded());
  const std::string version = std::string(MURALO_PROJECT_VERSION) + ".0";
  EXPECT_EQ(info.GetStringFileInfo(3), version);
  EXPECT_EQ(info.GetStringFileInfo(10), version);
  EXPECT_EQ(info.GetStringFileInfo(9), "Muralo");
  EXPECT_EQ(info.TranslationKey(), "040c04e4");
  EXPECT_EQ(info.GetCharSet(), "Windows, Multilingual");
  const auto n = info.GetFileVersionNumber();
  EXPECT_EQ(std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." + std::to_string(n[3]),
            version);
}

TEST(AboutBoxTest, ShowsProductNameVersionCopyrightAndLinks) {
  TAboutBox box;
  box.URLSite = "https://example.org/muralo";
  box.EMail = "muralo@example.org";
  TIcon icon;
  icon.LoadFromFile(muralo::test::SourcePath("resources/icons/stopped.ico"));
  box.SetImage(&icon);
  box.SetImage(nullptr);  // ignored
  ASSERT_NE(box.Icon(), nullptr);
  std::vector<std::string> opened;
  box.OpenLink = [&](const std::string& target) { opened.push_back(target); };
  bool shown = false;
  box.OnShow = [&](TAboutForm& form) {
    shown = true;
    auto* ui = form.ui();
    EXPECT_EQ(form.windowTitle(), "A propos");
    EXPECT_EQ(form.size(), QSize(298, 212));
    EXPECT_EQ(ui->Panel1->geometry(), QRect(8, 8, 281, 161));
    EXPECT_EQ(ui->ProgramIcon->geometry(), QRect(8, 8, 65, 57));
    EXPECT_FALSE(ui->ProgramIcon->pixmap().isNull());
    EXPECT_EQ(ui->ProductName->pos(), QPoint(88, 16));
    EXPECT_TRUE(ui->ProductName->font().bold());
    EXPECT_EQ(ui->ProductName->text(), "Muralo");
    EXPECT_EQ(ui->Version->pos(), QPoint(88, 40));
    EXPECT_EQ(ui->Version->text(), QString("Version ") + MURALO_PROJECT_VERSION + ".0");
    EXPECT_EQ(ui->Copyright->pos(), QPoint(8, 80));
    EXPECT_TRUE(ui->Copyright->text().startsWith(QString::fromUtf8("© ")));
    EXPECT_GT(ui->Copyright->text().size(), 2);
    for (QLabel* link : {ui->URLSite, ui->EMail}) {
      EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
      EXPECT_TRUE(link->wordWrap());
      EXPECT_TRUE(link->styleSheet().contains("blue") && link->styleSheet().contains("underline"));
    }
    EXPECT_EQ(ui->URLSite->pos(), QPoint(8, 112));
    EXPECT_EQ(ui->EMail->pos(), QPoint(8, 136));
    EXPECT_EQ(ui->URLSite->text(), "https://example.org/muralo");
    EXPECT_EQ(ui->OKButton->geometry(), QRect(111, 180, 75, 25));
    EXPECT_TRUE(ui->OKButton->isDefault());
    QTimer::singleShot(0, &form, [&form, ui] {
      QTest::mouseClick(ui->URLSite, Qt::LeftButton);
      QTest::mouseClick(ui->EMail, Qt::LeftButton);
      QTest::mouseClick(ui->OKButton, Qt::LeftButton);
      EXPECT_FALSE(form.isVisible());
    });
  };
  EXPECT_TRUE(box.Execute());
  EXPECT_TRUE(shown);
  EXPECT_EQ(opened, (std::vector<std::string>{"https://example.org/muralo", "mailto:muralo@example.org"}));
}

TEST(AboutBoxTest, AFileWithoutResourceShowsTheBareLabels) {
  TAboutBox box;
  box.SetFileName("/bin/sh");
  box.OnShow = [](TAboutForm& form) {
    EXPECT_EQ(form.ui()->ProductName->text(), "");
    EXPECT_EQ(form.ui()->Version->text(), "Version ");
    EXPECT_EQ(form.ui()->Copyright->text(), QString::fromUtf8("© "));
    QTimer::singleShot(0, &form, [&form] { form.accept(); });
  };
  box.Execute();
}

}  // namespace
