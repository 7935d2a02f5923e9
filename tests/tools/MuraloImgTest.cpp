// muralo-img from the outside: its conversions of the bundled samples against ImageMagick's
// decode, its exit statuses and what it prints.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <array>
#include <cstdio>
#include <cstdlib>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/MetafileBuilder.h"
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
  const std::string command =
      Quote(tool) + " " + arguments + " >" + Quote(dir / "out.txt") + " 2>" + Quote(dir / "err.txt");
  const int raw = std::system(command.c_str());
  ToolRun r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  const auto out = test::FileBytes(dir / "out.txt"), err = test::FileBytes(dir / "err.txt");
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

std::string Sample(const std::string& name) { return test::SourcePath("resources/samples/" + name); }

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
      test::RunOracle(test::kMagick, Quote(source) + " -background white -flatten -alpha off -depth 8 " +
                                         Quote("ppm:" + (dir / "ref.ppm")));
      const test::TPnmImage reference = test::ReadPnm(dir / "ref.ppm");
      // ImageMagick's own JPEG decode is libjpeg-turbo with the same defaults as ours
      EXPECT_TRUE(
          test::SameImage(reference, std::string(ext) == "ppm" ? test::ReadPnm(out) : test::MagickDecode(dir, out)));
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

TEST(MuraloImg, MetafilesPrintTheirHeaderConvertAtTheirSizeAndSaveTheirBytes) {
  TempDir dir;
  const std::vector<uint8_t> emf =
      test::EmfBuilder(12, 8, 3).Brush(1, 0x0000FF).Select(1).Select(0x80000008).Rectangle(0, 0, 4, 4).Bytes();
  const std::string in = dir / "p.emf", out = dir / "p.ppm", saved = dir / "copy.bmp";
  {
    std::FILE* f = std::fopen(in.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(emf.data(), 1, emf.size(), f);
    std::fclose(f);
  }
  const ToolRun info = MuraloImg(dir, "info " + Quote(in));
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out,
            "class: TMetafile\nwidth: 12\nheight: 8\npixel format: none\npalette size: 0\nmetafile: EMF\n"
            "size 0.01 mm: 1200 800\nbounds: 0 0 11 7\nframe: 0 0 1200 800\ndevice: 1000 1000\n"
            "millimeters: 1000 1000\nrecords: 6\nhandles: 3\nbytes: " +
                std::to_string(emf.size()) + "\n");
  ASSERT_EQ(MuraloImg(dir, "convert " + Quote(in) + " " + Quote(out)).status, 0);
  const test::TPnmImage img = test::ReadPnm(out);
  ASSERT_EQ(img.Width, 12);
  ASSERT_EQ(img.Height, 8);
  EXPECT_EQ(img.Pixels[0], 255);  // red at (0, 0), white at (5, 5)
  EXPECT_EQ(img.Pixels[2], 0);
  EXPECT_EQ(img.Pixels[size_t(5 * 12 + 5) * 3 + 2], 255);
  ASSERT_EQ(MuraloImg(dir, "save " + Quote(in) + " " + Quote(saved)).status, 0);
  EXPECT_EQ(test::FileBytes(saved), emf) << "a metafile writes the bytes it was loaded from";
}

TEST(MuraloImg, FormatsListsEntriesAndFilter) {
  TempDir dir;
  const ToolRun r = MuraloImg(dir, "formats");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(
      r.out.find(
          "wmf\tMétaFichiers\tTMetafile\nemf\tMétaFichiers "
          "évolués\tTMetafile\nico\tIcônes\tTIcon\nbmp\tBitmaps\tTBitmap\njpeg\tFichier image JPEG\tTJPEGImage\n"),
      std::string::npos);
  EXPECT_NE(r.out.find("\nfilter: Tout ("), std::string::npos);
}

TEST(MuraloImg, FailuresPrintTheMessageAloneAndExitOne) {
  struct Case {
    std::string arguments;
    int status;
    std::string err;  // exact stderr, or empty to check only that something was printed
  };
  TempDir dir;
  test::WriteBytes(dir / "bad.bmp", {'B', 'M', 1, 2, 3});
  const Case cases[] = {
      {"info " + Quote(dir / "picture.xyz"), 1, "Extension de fichier graphique inconnue (.xyz)\n"},
      // the stream's text, then the file and why
      {"info " + Quote(dir / "bad.bmp"), 1, Format(SStreamErrorDetail, SReadError, dir / "bad.bmp", SEndOfFile) + "\n"},
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

namespace muralo {
namespace {

TEST(MuraloImg, StretchResamplesToTheGivenSize) {
  test::TempDir dir;
  const std::string in = test::Quote(Sample("plasma.bmp"));
  ASSERT_EQ(MuraloImg(dir, "convert " + in + " " + test::Quote(dir / "same.ppm")).status, 0);
  const test::TPnmImage original = test::ReadPnm(dir / "same.ppm");
  // A box of the picture's own size reproduces it; a Lanczos3 shrink has the asked size.
  const std::string size = std::to_string(original.Width) + " " + std::to_string(original.Height);
  ToolRun r = MuraloImg(dir, "stretch " + in + " " + test::Quote(dir / "box.ppm") + " " + size + " box");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::ReadPnm(dir / "box.ppm").Pixels, original.Pixels);
  r = MuraloImg(dir, "stretch " + in + " " + test::Quote(dir / "l.ppm") + " 37 21 lanczos3 2.5");
  ASSERT_EQ(r.status, 0) << r.err;
  const test::TPnmImage small = test::ReadPnm(dir / "l.ppm");
  EXPECT_EQ(small.Width, 37);
  EXPECT_EQ(small.Height, 21);
  for (const char* bad : {" 10 10 gauss", " 0 10 box", " 10 x box", " 10 10 box 1q", " 10 10 box nan"})
    EXPECT_EQ(MuraloImg(dir, "stretch " + in + " " + test::Quote(dir / "x.ppm") + bad).status, 2) << bad;
}

TEST(MuraloImg, FailedWritesLeaveNoOutputBehind) {
  TempDir dir;
  test::RunOracle(test::kPbmMake, "70000 1 > " + Quote(dir / "wide.pbm"));
  test::WriteBytes(dir / "kept.tga", {'o', 'l', 'd'});
  struct Case {
    std::string arguments, output;
    bool existed;
  };
  const Case cases[] = {
      // Targa stores sizes in 16 bits: refused before anything is written.
      {"convert " + Quote(dir / "wide.pbm") + " " + Quote(dir / "o.tga"), dir / "o.tga", false},
      {"convert " + Quote(dir / "wide.pbm") + " " + Quote(dir / "kept.tga"), dir / "kept.tga", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const ToolRun r = MuraloImg(dir, c.arguments);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(r.err.empty());
    if (c.existed)
      EXPECT_EQ(test::FileBytes(c.output), (std::vector<uint8_t>{'o', 'l', 'd'}));
    else
      EXPECT_FALSE(std::filesystem::exists(c.output));
  }
  // Nothing but the inputs, the kept file and the captured output remains in the folder.
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
  EXPECT_EQ(entries, 4);
}

}  // namespace
}  // namespace muralo
