// The file-format registry: the framework's table as registered, look-ups, registration and
// unregistration rules with their effect on the picture loader, content look-ups and filters.
#include <gtest/gtest.h>

#include <algorithm>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/GraphicFramework.h"
#include "imaging/Graphicstrings.h"
#include "imaging/PictureLoader.h"
#include "imaging/ReaderTable.h"
#include "imaging/formats/AutodeskGraphic.h"
#include "imaging/formats/CUTGraphic.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PCDGraphic.h"
#include "imaging/formats/PCXGraphic.h"
#include "imaging/formats/PPMGraphic.h"
#include "imaging/formats/PSDGraphic.h"
#include "imaging/formats/PSPGraphic.h"
#include "imaging/formats/RLAGraphic.h"
#include "imaging/formats/SGIGraphic.h"
#include "imaging/formats/TargaGraphic.h"

namespace muralo {

// Two readers of nothing, so that registry edge cases do not disturb the real formats.
class TAlphaGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TAlphaGraphic)
 public:
  static bool CanLoad(TStream& s) {
    uint8_t b = 0;
    return PeekHeader(s, &b, 1, 1) && b == 'A';
  }
};
class TBetaGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TBetaGraphic)
};
MURALO_DEFINE_GRAPHIC_CLASS(TAlphaGraphic, TFrameworkGraphic, &TAlphaGraphic::CanLoad)
MURALO_DEFINE_GRAPHIC_CLASS(TBetaGraphic, TFrameworkGraphic, nullptr)

namespace {

class FrameworkStarted : public testing::Test {
 protected:
  void SetUp() override { InitializeFramework(); }
  void TearDown() override { FinalizeFramework(); }
  TFileFormatList& List() { return *FileFormatList; }
};

// The framework's full registration: 39 extensions in order and the class entries they make
// (description, extension count, first extension). Classes not built yet are absent from the reader
// table; everything the table holds must appear here in this order with these texts and counts.
const char* const kAllExtensions[] = {"bmp", "ico", "wmf", "emf", "jfif", "jpg",  "jpe", "jpeg", "rle", "dib",
                                      "win", "vst", "vda", "tga", "icb",  "tiff", "tif", "fax",  "eps", "pcx",
                                      "pcc", "scr", "rpf", "rla", "sgi",  "rgba", "rgb", "bw",   "psd", "pdd",
                                      "ppm", "pgm", "pbm", "cel", "pic",  "pcd",  "cut", "psp",  "png"};
struct ClassRow {
  const char* Description;
  uint32_t Count;
  const char* FirstExtension;
};
const ClassRow kAllClasses[] = {{"Bitmaps Windows", 3, "bmp"},
                                {"Icone Windows", 1, "ico"},
                                {"Metafiles Windows", 2, "wmf"},
                                {"Images JPG", 4, "jfif"},
                                {"Images Truevision", 5, "win"},
                                {"Images Tagged image file format", 3, "tiff"},
                                {"Postcript encapsulé", 1, "eps"},
                                {"Images ZSoft Paintbrush", 3, "pcx"},
                                {"Images Alias/Wavefront", 2, "rpf"},
                                {"Images SGI", 4, "sgi"},
                                {"Images Photoshop", 2, "psd"},
                                {"Images Portable map", 3, "ppm"},
                                {"Images Autodesk", 2, "cel"},
                                {"Images Kodak Photo-CD", 1, "pcd"},
                                {"Images Dr. Halo", 1, "cut"},
                                {"Images Paintshop Pro", 1, "psp"},
                                {"Images Portable network graphic", 1, "png"}};

std::vector<std::string> TableExtensions() {
  std::vector<std::string> all;
  for (const TReaderRow& row : ReaderTable())
    for (const TExtensionRow& ext : row.Extensions) all.push_back(ext.Extension);
  return all;
}

bool InTable(const std::string& extension) {
  const std::vector<std::string> all = TableExtensions();
  return std::find(all.begin(), all.end(), extension) != all.end();
}

TEST_F(FrameworkStarted, TableIsRegisteredInOrder) {
  std::vector<std::string> extensions;
  List().GetExtensionList(extensions);
  std::vector<std::string> expected;
  for (const char* e : kAllExtensions)
    if (InTable(e)) expected.push_back(e);
  EXPECT_EQ(extensions, expected);
  EXPECT_EQ(TableExtensions(), expected) << "the table lists every extension once, in registration order";

  std::vector<const ClassRow*> classes;
  for (const ClassRow& c : kAllClasses)
    if (InTable(c.FirstExtension)) classes.push_back(&c);
  ASSERT_EQ(List().ClassList().size(), classes.size());
  for (size_t i = 0; i < classes.size(); ++i) {
    SCOPED_TRACE(classes[i]->Description);
    EXPECT_EQ(List().ClassList()[i]->GraphicClass, List().GraphicFromExtension(classes[i]->FirstExtension));
    EXPECT_EQ(List().ClassList()[i]->Description, classes[i]->Description);
    EXPECT_EQ(List().ClassList()[i]->Count, classes[i]->Count);
  }
}

TEST_F(FrameworkStarted, EveryRegistrationReachesThePictureLoader) {
  struct Row {
    const char* Extension;
    TGraphicClass Class;
    const char* Description;
  };
  const Row rows[] = {{"tga", TTargaGraphic::StaticClass(), "Images Truevision"},
                      {"scr", TPCXGraphic::StaticClass(), "Capture d'ecrant Word 5.x"},
                      {"bw", TSGIGraphic::StaticClass(), "Images SGI noir/blanc"},
                      {"pgm", TPPMGraphic::StaticClass(), "Images Portable gray map"},
                      {"cut", TCUTGraphic::StaticClass(), "Images Dr. Halo"},
                      {"jpe", TJPEGImage::StaticClass(), "Images JPE"},
                      {"wmf", TMetafile::StaticClass(), "Metafiles Windows"},
                      {"emf", TMetafile::StaticClass(), "Metafiles Windows améliorés"},
                      {"dib", TBitmap::StaticClass(), "Bitmaps Windows (Device independant)"}};
  const std::vector<TPictureFormat> formats = PictureFormats();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Extension);
    EXPECT_EQ(ClassForExtension(r.Extension), r.Class);
    const auto found = std::find_if(formats.rbegin(), formats.rend(),
                                    [&](const TPictureFormat& f) { return f.Extension == r.Extension; });
    ASSERT_NE(found, formats.rend());
    EXPECT_EQ(found->Description, r.Description);
  }
  // Letter case does not matter, in the registry nor in the loader.
  for (const char* e : {"TGA", "Tga", "tga"}) {
    EXPECT_EQ(ClassForExtension(e), TTargaGraphic::StaticClass());
    EXPECT_EQ(List().GraphicFromExtension(e), TTargaGraphic::StaticClass());
  }
}

TEST_F(FrameworkStarted, LookUps) {
  EXPECT_EQ(List().FindExtension(""), -1);
  const std::vector<std::string> all = TableExtensions();
  EXPECT_EQ(List().FindExtension("PCX"), std::find(all.begin(), all.end(), "pcx") - all.begin());
  EXPECT_EQ(List().FindExtension("gif"), -1);
  EXPECT_EQ(List().FindGraphicClass(TFrameworkGraphic::StaticClass()), -1) << "no inheritance";
  EXPECT_EQ(List().GetDescription(TSGIGraphic::StaticClass()), "Images SGI");
  EXPECT_EQ(List().GetDescription(TAlphaGraphic::StaticClass()), "");
  EXPECT_EQ(List().GraphicFromExtension("pcx"), TPCXGraphic::StaticClass());
  EXPECT_EQ(List().GraphicFromExtension(".pcx"), TPCXGraphic::StaticClass());
  EXPECT_EQ(List().GraphicFromExtension("photo.pcx"), TPCXGraphic::StaticClass());
  EXPECT_EQ(List().GraphicFromExtension("a.b.pcx"), nullptr);
  EXPECT_EQ(List().GraphicFromExtension("gif"), nullptr);
}

TEST_F(FrameworkStarted, ContentLookUpAsksTheReadersInOrder) {
  const std::string ppm = "P6\n1 1\n255\nabc";
  std::vector<uint8_t> pcx(200, 0);
  pcx[0] = 10, pcx[1] = 5, pcx[2] = 1;
  std::vector<uint8_t> bmp = {'B', 'M'};
  bmp.resize(100, 0);
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    TGraphicClass Expected;
  };
  const Case cases[] = {{"ppm", {ppm.begin(), ppm.end()}, TPPMGraphic::StaticClass()},
                        {"pcx", pcx, TPCXGraphic::StaticClass()},
                        {"bitmap content is not asked", bmp, nullptr},
                        {"nothing", std::vector<uint8_t>(10, 0xFF), nullptr}};
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_EQ(List().GraphicFromContent(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
    const std::string file = dir.File(std::string(c.Name) + ".bin");
    test::WriteBytes(file, c.Bytes);
    EXPECT_EQ(List().GraphicFromContent(file), c.Expected);
  }
}

TEST_F(FrameworkStarted, ThePictureLoaderReadsFrameworkFiles) {
  test::TempDir dir;
  const std::string file = dir.File("archive.tar.TGA");
  test::RunTool(test::kMagick + " rose: -compress RLE tga:'" + file + "'");
  TPicture picture;
  picture.LoadFromFile(file);
  ASSERT_NE(picture.Graphic(), nullptr);
  EXPECT_EQ(picture.Graphic()->ClassType(), TTargaGraphic::StaticClass());
  EXPECT_EQ(picture.Width(), 70);
  test::ExpectSamePixels(*dynamic_cast<TBitmap*>(picture.Graphic()), test::OracleDecode(file));
}

TEST_F(FrameworkStarted, Filters) {
  struct Case {
    const char* Name;
    TFormatTypes Formats;
    TFilterSortType Sort;
    TFilterOptions Options;
    TGraphicClass Class;
    std::string Expected;
  };
  const std::string sgi = "*.sgi; *.rgba; *.rgb; *.bw";
  const Case cases[] = {
      {"compact class with extensions",
       {},
       fstNone,
       {foCompact, foIncludeExtension},
       TSGIGraphic::StaticClass(),
       "Images SGI (" + sgi + ")|" + sgi},
      {"compact class without extensions", {}, fstNone, {foCompact}, TSGIGraphic::StaticClass(), "Images SGI|" + sgi},
      {"compact class sorted by extension",
       {},
       fstExtension,
       {foCompact},
       TSGIGraphic::StaticClass(),
       "Images SGI|*.bw; *.rgb; *.rgba; *.sgi"},
      {"one entry per extension",
       {},
       fstNone,
       {},
       TSGIGraphic::StaticClass(),
       "Images SGI true color|*.sgi|Images SGI true color avec canal alpha|*.rgba|Images SGI true color|*.rgb|"
       "Images SGI noir/blanc|*.bw"},
      {"sorted descriptions drop repeats",
       {},
       fstDescription,
       {},
       TTargaGraphic::StaticClass(),
       "Images Truevision|*.win"},
      {"with all images",
       {ftRaster},
       fstNone,
       {foCompact, foIncludeAll},
       TCUTGraphic::StaticClass(),
       "Toutes les images|*.cut|Images Dr. Halo|*.cut"},
      {"vector formats: the metafiles and Paint Shop Pro",
       {ftVector},
       fstNone,
       {foCompact, foIncludeAll},
       nullptr,
       "Toutes les images|*.wmf; *.emf; *.psp|Metafiles Windows|*.wmf; *.emf|Images Paintshop Pro|*.psp"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(List().GetGraphicFilter(c.Formats, c.Sort, c.Options, c.Class), c.Expected);
  }
  const std::string all = List().GetGraphicFilter({}, fstBoth, {foCompact, foIncludeAll, foIncludeExtension}, nullptr);
  EXPECT_EQ(
      all.rfind("Toutes les images|*.bmp; *.bw; *.cel; *.cut; *.dib; *.emf; *.eps; *.fax; *.icb; *.ico; *.jfif; ", 0),
      0u)
      << all;
  EXPECT_NE(all.find("|Bitmaps Windows (*.bmp; *.dib; *.rle)|*.bmp; *.dib; *.rle|"), std::string::npos) << all;
  EXPECT_NE(all.back(), '|');
}

TEST(FrameworkStop, UnregistersEverythingFromThePictureLoader) {
  InitializeFramework();
  EXPECT_EQ(ClassForExtension("pcx"), TPCXGraphic::StaticClass());
  FinalizeFramework();
  EXPECT_EQ(FileFormatList, nullptr);
  for (const char* e : {"pcx", "tga", "sgi", "ppm", "cel", "cut", "rla", "rle", "dib", "jfif"}) {
    SCOPED_TRACE(e);
    EXPECT_EQ(ClassForExtension(e), nullptr);
  }
  // Starting again gives the same registry.
  TFrameworkScope scope;
  EXPECT_EQ(ClassForExtension("pcx"), TPCXGraphic::StaticClass());
}

// Registration rules on a list of its own, with two test classes.
TEST(Registration, RulesOfRegisteringAndUnregistering) {
  TFileFormatList list;
  const TGraphicClass a = TAlphaGraphic::StaticClass(), b = TBetaGraphic::StaticClass();
  list.RegisterFileFormat("", "ignored", "", {ftRaster}, false, a);
  EXPECT_TRUE(list.ExtensionList().empty());
  list.RegisterFileFormat("aaa", "Alpha", "", {ftRaster}, false, a);
  list.RegisterFileFormat("aab", "", "Alpha two", {ftRaster}, false, a);
  ASSERT_EQ(list.ClassList().size(), 1u);
  EXPECT_EQ(list.ClassList()[0]->Count, 2u);
  EXPECT_EQ(ClassForExtension("aaa"), a);
  EXPECT_EQ(PictureFormats().back().Description, "Alpha two");

  try {
    list.RegisterFileFormat("AAA", "Other", "", {ftVector}, false, b);
    FAIL() << "registered twice";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesRegistration, "AAA"));
  }
  EXPECT_EQ(list.ClassList().size(), 1u);

  // Replace moves "aaa" to b; its own description and types stay.
  list.RegisterFileFormat("aaa", "Beta", "", {ftVector}, true, b);
  ASSERT_EQ(list.ClassList().size(), 2u);
  EXPECT_EQ(list.ClassList()[0]->Count, 1u);
  EXPECT_EQ(list.ClassList()[1]->Description, "Beta");
  EXPECT_EQ(list.ExtensionList()[0]->FormatTypes, TFormatTypes{ftRaster});
  EXPECT_EQ(list.GraphicFromExtension("aaa"), b);
  EXPECT_EQ(ClassForExtension("aaa"), b);
  // Replacing the last extension of a moves it away: a's class entry goes.
  list.RegisterFileFormat("aab", "", "", {ftRaster}, true, b);
  ASSERT_EQ(list.ClassList().size(), 1u);
  EXPECT_EQ(list.ClassList()[0]->GraphicClass, b);
  EXPECT_EQ(list.ClassList()[0]->Count, 2u);

  // One of several: the class stays, also in the loader.
  list.UnregisterFileFormat("aab", nullptr);
  EXPECT_EQ(list.FindExtension("aab"), -1);
  EXPECT_EQ(ClassForExtension("aaa"), b);
  // The last one: the class entry and its loader entries go.
  list.UnregisterFileFormat("unknown", b);
  EXPECT_EQ(list.ClassList().size(), 1u);
  list.UnregisterFileFormat("aaa", a);
  EXPECT_TRUE(list.ClassList().empty());
  // b's loader entries are gone; the loader's older entries for a (whose class entry left the
  // list when replacing moved its last extension away) show through again.
  for (const TPictureFormat& f : PictureFormats()) EXPECT_NE(f.GraphicClass, b);
  EXPECT_EQ(ClassForExtension("aaa"), a);
  RemoveClass(a);
  EXPECT_EQ(ClassForExtension("aab"), nullptr);
}

TEST(Registration, WholeClassAndBitmapExtensions) {
  TFileFormatList list;
  const TGraphicClass a = TAlphaGraphic::StaticClass(), b = TBetaGraphic::StaticClass();
  for (const char* e : {"a1", "a2", "a3"}) list.RegisterFileFormat(e, "Alpha", "", {ftRaster}, false, a);
  list.RegisterFileFormat("b1", "Beta", "", {ftRaster}, false, b);
  list.UnregisterFileFormat("", TIcon::StaticClass());  // not registered: nothing happens
  EXPECT_EQ(list.ExtensionList().size(), 4u);
  list.UnregisterFileFormat("", a);
  ASSERT_EQ(list.ExtensionList().size(), 1u);
  EXPECT_EQ(list.ExtensionList()[0]->Extension, "b1");
  ASSERT_EQ(list.ClassList().size(), 1u);
  EXPECT_EQ(ClassForExtension("a2"), nullptr);
  EXPECT_EQ(ClassForExtension("b1"), b);

  list.RegisterFileFormat("bmp", "Bitmaps Windows", "", {ftRaster}, false, TBitmap::StaticClass());
  list.RegisterFileFormat("rle", "Bitmaps Windows", "Bitmaps Windows (Run length encoded)", {ftRaster}, false,
                          TBitmap::StaticClass());
  EXPECT_EQ(list.ClassList().size(), 2u);
  EXPECT_EQ(list.ClassList()[1]->Count, 2u);
}

TEST(Registration, ContentLookUpSkipsClassesWithoutAContentTest) {
  TFileFormatList list;
  list.RegisterFileFormat("bb", "Beta", "", {ftRaster}, false, TBetaGraphic::StaticClass());
  list.RegisterFileFormat("aa", "Alpha", "", {ftRaster}, false, TAlphaGraphic::StaticClass());
  TMemoryStream s(std::vector<uint8_t>{'A', 1, 2});
  EXPECT_EQ(list.GraphicFromContent(s), TAlphaGraphic::StaticClass());
}

}  // namespace
}  // namespace muralo
