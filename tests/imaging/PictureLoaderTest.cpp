// The picture loader and TPicture: the initial list, newest-wins look-up, removal of derived
// classes, the extension rule, the filter string, and a picture that keeps its image when a load fails.
#include <gtest/gtest.h>

#include <filesystem>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "classlib/TestTools.h"
#include "imaging/PictureLoader.h"

namespace muralo {
namespace {

using test::Quote;
using test::TempDir;

// A bitmap class of the tests' own, derived from TBitmap, that reports progress while it loads.
class TTestBitmap : public TBitmap {
  MURALO_GRAPHIC_CLASS(TTestBitmap)
 public:
  void LoadFromStream(TStream& stream) override {
    Progress(TProgressStage::psStarting, 0, false, TRect{}, "test");
    TBitmap::LoadFromStream(stream);
    Progress(TProgressStage::psEnding, 100, false, TRect{0, 0, Width(), Height()}, "test");
  }
};
MURALO_DEFINE_GRAPHIC_CLASS(TTestBitmap, TBitmap, nullptr)

// Each test starts from the list as the process built it and leaves it so.
class PictureLoader : public ::testing::Test {
 protected:
  void SetUp() override { Saved = PictureFormats(); }
  void TearDown() override {
    RemoveClass(TGraphic::StaticClass());
    for (const TPictureFormat& f : Saved) AddFormat(f.Extension, f.Description, f.GraphicClass);
  }
  std::vector<TPictureFormat> Saved;
};
using Picture = PictureLoader;

std::string MakeBmp(const TempDir& dir, const std::string& name, const std::string& size = "6x4") {
  const std::string file = dir / name;
  std::filesystem::create_directories(std::filesystem::path(file).parent_path());
  test::RunOracle(test::kMagick, "-size " + size + " plasma:fractal -seed 1 -type truecolor " + Quote("BMP3:" + file));
  return file;
}

TEST_F(PictureLoader, StartsWithTheClassLibrarysFormats) {
  const std::vector<TPictureFormat> formats = PictureFormats();
  ASSERT_GE(formats.size(), 6u);
  const TPictureFormat expected[6] = {{"wmf", "MétaFichiers", TMetafile::StaticClass()},
                                      {"emf", "MétaFichiers évolués", TMetafile::StaticClass()},
                                      {"ico", "Icônes", TIcon::StaticClass()},
                                      {"bmp", "Bitmaps", TBitmap::StaticClass()},
                                      {"jpeg", "Fichier image JPEG", TJPEGImage::StaticClass()},
                                      {"jpg", "Fichier image JPEG", TJPEGImage::StaticClass()}};
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].Extension);
    EXPECT_EQ(formats[i].Extension, expected[i].Extension);
    EXPECT_EQ(formats[i].Description, expected[i].Description);
    EXPECT_EQ(formats[i].GraphicClass, expected[i].GraphicClass);
  }
}

TEST_F(PictureLoader, NewestRegistrationWinsWhateverTheCase) {
  EXPECT_EQ(ClassForExtension("BMP"), TBitmap::StaticClass());
  EXPECT_EQ(ClassForExtension("gif"), nullptr);
  AddFormat("BmP", "Bitmaps de test", TTestBitmap::StaticClass());
  EXPECT_EQ(PictureFormats().back().Extension, "bmp") << "stored lower-cased";
  for (const char* ext : {"bmp", "BMP", "Bmp"}) EXPECT_EQ(ClassForExtension(ext), TTestBitmap::StaticClass()) << ext;
  EXPECT_EQ(ClassForExtension("jpg"), TJPEGImage::StaticClass());
}

TEST_F(PictureLoader, RemoveClassRemovesDerivedClassesToo) {
  AddFormat("tga", "Targa de test", TTestBitmap::StaticClass());
  AddFormat("bmp", "Bitmaps de test", TTestBitmap::StaticClass());
  RemoveClass(TTestBitmap::StaticClass());
  EXPECT_EQ(ClassForExtension("tga"), nullptr);
  EXPECT_EQ(ClassForExtension("bmp"), TBitmap::StaticClass()) << "the base class's entry stays";
  AddFormat("tga", "Targa de test", TTestBitmap::StaticClass());
  RemoveClass(TBitmap::StaticClass());
  EXPECT_EQ(ClassForExtension("tga"), nullptr);
  EXPECT_EQ(ClassForExtension("bmp"), nullptr);
  EXPECT_EQ(ClassForExtension("ico"), TIcon::StaticClass());
  EXPECT_EQ(ClassForExtension("emf"), TMetafile::StaticClass());
  EXPECT_EQ(PictureFormats().size(), 5u);
}

TEST_F(PictureLoader, ExtensionIsAfterTheLastDotOfTheName) {
  struct Case {
    const char* name;
    const char* extension;
  };
  const Case cases[] = {{"photo.png", "png"},
                        {"PHOTO.PNG", "PNG"},
                        {"archive.tar.tga", "tga"},
                        {"images.old/photo", ""},
                        {"C:\\images.old\\photo", ""},
                        {"C:photo.bmp", "bmp"},
                        {"x.y:z", ""},
                        {"noext", ""},
                        {"trailing.", ""},
                        {"/a.b/c.d/e.jpeg", "jpeg"},
                        {".hidden", "hidden"},
                        {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(PictureExtension(c.name), c.extension) << c.name;
}

TEST_F(PictureLoader, LoadsWhateverTheCaseOfTheExtension) {
  TempDir dir;
  for (const char* name : {"PHOTO.BMP", "photo.bmp", "photo.Bmp"}) {
    SCOPED_TRACE(name);
    TPicture picture;
    LoadPicture(picture, MakeBmp(dir, name));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Graphic()->ClassType(), TBitmap::StaticClass());
    EXPECT_EQ(picture.Width(), 6);
    EXPECT_EQ(picture.Height(), 4);
  }
}

TEST_F(PictureLoader, OnlyTheLastExtensionCounts) {
  TempDir dir;
  AddFormat("tga", "Targa de test", TTestBitmap::StaticClass());
  TPicture picture;
  LoadPicture(picture, MakeBmp(dir, "archive.tar.tga"));
  EXPECT_EQ(picture.Graphic()->ClassType(), TTestBitmap::StaticClass());
}

TEST_F(PictureLoader, UnknownExtensionsRaiseTheLoadersMessage) {
  TempDir dir;
  struct Case {
    std::string file;
    std::string message;
  };
  const Case cases[] = {{MakeBmp(dir, "images.old/photo"), "Extension de fichier graphique inconnue (.)"},
                        {MakeBmp(dir, "photo.gif"), "Extension de fichier graphique inconnue (.gif)"},
                        {dir / "missing.XYZ", "Extension de fichier graphique inconnue (.XYZ)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    TPicture picture;
    try {
      LoadPicture(picture, c.file);
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.message(), c.message);
    }
    EXPECT_TRUE(picture.Empty());
  }
}

TEST_F(PictureLoader, FailingLoadKeepsThePreviousImage) {
  TempDir dir;
  const std::string good = MakeBmp(dir, "good.bmp");
  std::vector<uint8_t> broken = test::FileBytes(good);
  broken.resize(40);
  test::WriteBytes(dir / "broken.bmp", broken);
  test::WriteBytes(dir / "notbmp.bmp",
                   {'n', 'o', 't', ' ', 'a', ' ', 'b', 'm', 'p', '!', '!', '!', '!', '!', '!', '!'});

  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TPicture&) { ++changes; };
  LoadPicture(picture, good);
  EXPECT_EQ(changes, 1);
  TGraphic* before = picture.Graphic();
  ASSERT_NE(before, nullptr);

  EXPECT_THROW(LoadPicture(picture, dir / "broken.bmp"), EReadError);
  EXPECT_THROW(LoadPicture(picture, dir / "notbmp.bmp"), EInvalidGraphic);
  EXPECT_THROW(LoadPicture(picture, dir / "photo.gif"), EInvalidGraphic);
  // a file that cannot be opened raises the file-open error, which is not an invalid-graphic error
  try {
    LoadPicture(picture, dir / "missing.bmp");
    ADD_FAILURE() << "loaded";
  } catch (const EInvalidGraphic&) {
    ADD_FAILURE() << "EInvalidGraphic for a missing file";
  } catch (const EFOpenError&) {
  }
  EXPECT_EQ(picture.Graphic(), before);
  EXPECT_EQ(picture.Width(), 6);
  EXPECT_EQ(changes, 1);
}

TEST_F(PictureLoader, ProgressOfTheLoadingObjectReachesThePicture) {
  TempDir dir;
  AddFormat("tbm", "Test", TTestBitmap::StaticClass());
  TPicture picture;
  std::vector<TProgressStage> stages;
  picture.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
    stages.push_back(stage);
  };
  LoadPicture(picture, MakeBmp(dir, "p.tbm"));
  EXPECT_EQ(stages, (std::vector<TProgressStage>{TProgressStage::psStarting, TProgressStage::psEnding}));
}

TEST_F(PictureLoader, FilterListsNewestFirstAfterTheTouPair) {
  AddFormat("png", "Images Portable network graphic", TTestBitmap::StaticClass());
  AddFormat("", "Sans extension", TTestBitmap::StaticClass());
  AddFormat("jpg", "Images JPG", TTestBitmap::StaticClass());
  const std::string patterns = "*.jpg;*.png;*.jpg;*.jpeg;*.bmp;*.ico;*.emf;*.wmf";
  EXPECT_EQ(FilterFor(TGraphic::StaticClass()),
            "Tout (" + patterns + ")|" + patterns +
                "|Images JPG (*.jpg)|*.jpg|Images Portable network graphic (*.png)|*.png"
                "|Fichier image JPEG (*.jpg)|*.jpg|Fichier image JPEG (*.jpeg)|*.jpeg"
                "|Bitmaps (*.bmp)|*.bmp|Icônes (*.ico)|*.ico"
                "|MétaFichiers évolués (*.emf)|*.emf|MétaFichiers (*.wmf)|*.wmf");
  // only classes derived from the base; one entry alone has no "Tout" pair
  EXPECT_EQ(FilterFor(TIcon::StaticClass()), "Icônes (*.ico)|*.ico");
  EXPECT_EQ(FilterFor(TTestBitmap::StaticClass()),
            "Tout (*.jpg;*.png)|*.jpg;*.png|Images JPG (*.jpg)|*.jpg|Images Portable network graphic (*.png)|*.png");
}

TEST_F(Picture, EmptyPictureHasNoSize) {
  TPicture picture;
  EXPECT_TRUE(picture.Empty());
  EXPECT_THROW(picture.Width(), EInvalidGraphic);
  EXPECT_THROW(picture.Height(), EInvalidGraphic);
  EXPECT_THROW(picture.SaveToFile("unused.bmp"), EInvalidGraphic);
}

TEST_F(Picture, AssignHoldsACopy) {
  TempDir dir;
  test::RunOracle(test::kMagick, "-size 32x32 plasma:fractal -seed 2 " + Quote(dir / "i.ico"));
  TIcon icon;
  icon.LoadFromFile(dir / "i.ico");
  TPicture picture;
  int changes = 0;
  picture.OnChange = [&](TPicture&) { ++changes; };
  picture.Assign(icon);
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_NE(picture.Graphic(), &icon);
  EXPECT_EQ(picture.Graphic()->ClassType(), TIcon::StaticClass());
  EXPECT_EQ(picture.Width(), 32);
  EXPECT_EQ(changes, 1);
  picture.SaveToFile(dir / "copy.ico");
  EXPECT_EQ(test::FileBytes(dir / "copy.ico"), test::FileBytes(dir / "i.ico"));
  picture.Clear();
  EXPECT_TRUE(picture.Empty());
  EXPECT_EQ(changes, 2);
}

TEST_F(Picture, PreviewedJpegIsSavedBackByteForByte) {
  TempDir dir;
  test::RunOracle(test::kMagick, "-size 30x20 plasma:fractal -seed 8 -depth 8 " + Quote("ppm:" + (dir / "p.ppm")));
  test::RunOracle(test::kCJpeg, "-quality 77 -outfile " + Quote(dir / "Photo.JPG") + " " + Quote(dir / "p.ppm"));
  TPicture picture;
  LoadPicture(picture, dir / "Photo.JPG");
  EXPECT_EQ(picture.Graphic()->ClassType(), TJPEGImage::StaticClass());
  // the preview draws it, then it is saved under another extension: its own format is written
  TBitmap canvas;
  canvas.SetPixelFormat(TPixelFormat::pf24bit);
  canvas.SetSize(30, 20);
  canvas.Canvas().Draw(0, 0, *picture.Graphic());
  picture.SaveToFile(dir / "saved.bmp");
  EXPECT_EQ(test::FileBytes(dir / "saved.bmp"), test::FileBytes(dir / "Photo.JPG"));
}

}  // namespace
}  // namespace muralo
