// muralo-img from the outside: its conversions of the bundled samples against ImageMagick's
// decode, its exit statuses and what it prints.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

#include "classlib/TestTools.h"

namespace muralo {
namespace {

using test::Quote;
using test::TempDir;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

// Runs muralo-img with the arguments; stdout and stderr are captured through files.
ToolRun MuraloImg(const TempDir& dir, const std::string& arguments) {
  const char* tool = std::getenv("MURALO_IMG");
  if (!tool) tool = MURALO_IMG_BUILT;
  const std::string command = Quote(tool) + " " + arguments + " >" + Quote(dir / "out.txt") + " 2>" + Quote(dir / "err.txt");
  const int raw = std::system(command.c_str());
  ToolRun r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const auto out = test::FileBytes(dir / "out.txt"), err = test::FileBytes(dir / "err.txt");
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

std::string Sample(const std::string& name) {
  const char* root = std::getenv("MURALO_SOURCE_DIR");
  return std::string(root ? root : "..") + "/resources/samples/" + name;
}

TEST(MuraloImg, ConvertsSamplesLikeMagick) {
  for (const char* name : {"plasma.bmp", "gradient-rle8.bmp", "photo.jpg", "icon.ico"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string in = Sample(name);
    for (const char* ext : {"ppm", "bmp"}) {
      const std::string out = dir / (std::string("o.") + ext);
      const ToolRun r = MuraloImg(dir, "convert " + Quote(in) + " " + Quote(out));
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      // the icon is drawn onto white: its 32 × 32 image flattened on white
      const std::string source = std::string(name) == "icon.ico" ? in + "[1]" : in;
      test::RunOracle(test::kMagick, Quote(source) + " -background white -flatten -alpha off -depth 8 " + Quote("ppm:" + (dir / "ref.ppm")));
      const test::RgbImage reference = test::ReadPnm(dir / "ref.ppm");
      // ImageMagick's own JPEG decode is libjpeg-turbo with the same defaults as ours
      EXPECT_TRUE(test::SameImage(reference, std::string(ext) == "ppm" ? test::ReadPnm(out) : test::MagickDecode(dir, out)));
      if (std::string(ext) == "bmp") {
        const auto bytes = test::FileBytes(out);
        EXPECT_EQ(bytes[28], 24) << "24 bits per pixel";
        EXPECT_EQ(bytes[30], 0) << "uncompressed";
      }
    }
  }
}

TEST(MuraloImg, SaveWritesTheGraphicsOwnFormat) {
  TempDir dir;
  const ToolRun r = MuraloImg(dir, "save " + Quote(Sample("photo.jpg")) + " " + Quote(dir / "copy.bmp"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::FileBytes(dir / "copy.bmp"), test::FileBytes(Sample("photo.jpg")));
}

TEST(MuraloImg, InfoPrintsKeyValueLines) {
  TempDir dir;
  const ToolRun r = MuraloImg(dir, "info " + Quote(Sample("gradient-rle8.bmp")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "class: TBitmap\nwidth: 120\nheight: 80\npixel format: pf8bit\npalette size: 256\n");
}

TEST(MuraloImg, FormatsListsEntriesAndFilter) {
  TempDir dir;
  const ToolRun r = MuraloImg(dir, "formats");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("ico\tIcônes\tTIcon\nbmp\tBitmaps\tTBitmap\njpeg\tFichier image JPEG\tTJPEGImage\n"), std::string::npos);
  EXPECT_NE(r.out.find("\nfilter: Tout ("), std::string::npos);
}

TEST(MuraloImg, FailuresPrintTheMessageAloneAndExitOne) {
  struct Case {
    std::string arguments;
    int status;
    std::string err;  // exact stderr, or empty to check only that something was printed
  };
  TempDir dir;
  test::WriteFile(dir / "bad.bmp", {'B', 'M', 1, 2, 3});
  const Case cases[] = {
      {"info " + Quote(dir / "picture.xyz"), 1, "Extension de fichier graphique inconnue (.xyz)\n"},
      {"info " + Quote(dir / "bad.bmp"), 1, "Erreur de lecture du flux\n"},
      {"convert " + Quote(dir / "missing.bmp") + " " + Quote(dir / "o.ppm"), 1, ""},
      {"convert " + Quote(Sample("plasma.bmp")) + " " + Quote(dir / "o.gif"), 2, ""},
      {"", 2, ""},
      {"frobnicate", 2, ""},
      {"info", 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun r = MuraloImg(dir, c.arguments);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    if (!c.err.empty())
      EXPECT_EQ(r.err, c.err);
    else
      EXPECT_FALSE(r.err.empty());
  }
}

}  // namespace
}  // namespace muralo
