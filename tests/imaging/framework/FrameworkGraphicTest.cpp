// The reader base: record reset, content tests by stream and by file, Assign, resources and the
// progress conventions, through a small reader defined here and the real readers.
#include <gtest/gtest.h>

#include "classlib/Exception.h"
#include "classlib/Resources.h"
#include "classlib/Streams.h"
#include "imaging/GraphicFramework.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PPMGraphic.h"
#include "imaging/formats/TargaGraphic.h"

namespace muralo {
namespace {

const std::string kPPM = "P5\n3 3\n255\n\x01\x02\x03\x04\x05\x06\x07\x08\x09";
std::vector<uint8_t> PPMBytes() { return {kPPM.begin(), kPPM.end()}; }

TEST(FrameworkGraphic, BaseReadImagePropertiesResetsTheRecord) {
  TFrameworkGraphic graphic;
  TImageProperties& p = graphic.ImageProperties;
  p.Version = 42, p.Width = 5, p.Height = 6, p.ColorScheme = csCMYK, p.BitsPerSample = 8, p.Compression = ctLZW;
  p.Options = {ioTiled, ioBigEndian}, p.FileGamma = 2.5f, p.XResolution = 72, p.BottomUp = true;
  p.RowsPerStrip = {8, 8}, p.YCbCrSubSampling = {2, 2}, p.JPEGTables = {1, 2, 3}, p.StripCount = 2;
  TMemoryStream s(PPMBytes());
  EXPECT_FALSE(graphic.ReadImageProperties(s, 0));
  EXPECT_EQ(p.Version, 0u);
  EXPECT_EQ(p.Width, 0u);
  EXPECT_EQ(p.Height, 0u);
  EXPECT_EQ(p.ColorScheme, csUnknown);
  EXPECT_EQ(p.BitsPerSample, 0);
  EXPECT_EQ(p.Compression, ctUnknown);
  EXPECT_TRUE(p.Options.Empty());
  EXPECT_EQ(p.FileGamma, 1.0f);
  EXPECT_EQ(p.XResolution, 0.0f);
  EXPECT_FALSE(p.BottomUp);
  EXPECT_TRUE(p.RowsPerStrip.empty());
  EXPECT_TRUE(p.YCbCrSubSampling.empty());
  EXPECT_TRUE(p.JPEGTables.empty());
  EXPECT_EQ(p.StripCount, 0u);
  EXPECT_EQ(s.Position(), 0);
}

TEST(FrameworkGraphic, ContentTestOfTheBaseAndByFileName) {
  TMemoryStream s(PPMBytes());
  EXPECT_FALSE(TFrameworkGraphic::CanLoad(s));
  test::TempDir dir;
  const std::string file = dir.File("grey.pgm");
  test::WriteBytes(file, PPMBytes());
  EXPECT_TRUE(TFrameworkGraphic::CanLoad(file, TPPMGraphic::StaticClass()));
  EXPECT_FALSE(TFrameworkGraphic::CanLoad(file, TTargaGraphic::StaticClass()));
  EXPECT_TRUE(TPPMGraphic::CanLoad(file, TPPMGraphic::StaticClass()));
  EXPECT_THROW(TFrameworkGraphic::CanLoad(dir.File("missing.pgm"), TPPMGraphic::StaticClass()), EFOpenError);
}

TEST(FrameworkGraphic, ClassReferences) {
  EXPECT_TRUE(IsFrameworkClass(TPPMGraphic::StaticClass()));
  EXPECT_TRUE(IsFrameworkClass(TFrameworkGraphic::StaticClass()));
  EXPECT_FALSE(IsFrameworkClass(TBitmap::StaticClass()));
  EXPECT_FALSE(IsFrameworkClass(nullptr));
  EXPECT_TRUE(TPPMGraphic::StaticClass()->InheritsFrom(TBitmap::StaticClass()));
  auto made = TTargaGraphic::StaticClass()->Create();
  EXPECT_EQ(made->ClassType(), TTargaGraphic::StaticClass());
}

TEST(FrameworkGraphic, AssignCopiesTheRecordFromFrameworkGraphicsOnly) {
  auto source = test::LoadBytes<TPPMGraphic>(PPMBytes());
  source->ImageProperties.RowsPerStrip = {4, 5};
  TTargaGraphic target;
  target.Assign(*source);
  EXPECT_EQ(target.ImageProperties.Width, 3u);
  EXPECT_EQ(target.ImageProperties.RowsPerStrip, (TCardinalArray{4, 5}));
  EXPECT_EQ(target.Width(), 3);
  EXPECT_EQ(target.Pixel(2, 2), RGB(9, 9, 9));

  TBitmap plain;
  plain.SetPixelFormat(TPixelFormat::pf24bit);
  plain.SetSize(2, 1);
  target.Assign(plain);
  EXPECT_EQ(target.ImageProperties.Width, 3u) << "a plain bitmap leaves the record as it was";
  EXPECT_EQ(target.Width(), 2);
}

TEST(FrameworkGraphic, LoadsFromRCDATAResources) {
  TResourceTable table;
  const std::vector<uint8_t> image = PPMBytes();
  const std::string other = "P5\n1 1\n255\n\x7F";
  table.Add(RT_RCDATA, 7, image.data(), image.size());
  table.Add(RT_BITMAP, 8, other.data(), other.size());
  table.Add(RT_RCDATA, "PICTURE", image.data(), image.size());
  TPPMGraphic byId;
  byId.LoadFromResourceID(&table, 7);
  EXPECT_EQ(byId.Width(), 3);
  TPPMGraphic byName;
  byName.LoadFromResourceName(&table, "picture");
  EXPECT_EQ(byName.Pixel(0, 0), RGB(1, 1, 1));
  TPPMGraphic wrongType;
  EXPECT_THROW(wrongType.LoadFromResourceID(&table, 8), EResNotFound);
  EXPECT_THROW(wrongType.LoadFromResourceName(&table, "missing"), EResNotFound);
}

TEST(FrameworkGraphic, ProgressPercentagesAreRoundedAndTheRectangleMovesDown) {
  TPPMGraphic graphic;
  struct Event {
    TProgressStage Stage;
    int Percent;
    TRect Rect;
    std::string Message;
  };
  std::vector<Event> events;
  graphic.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect& r,
                           const std::string& msg) {
    events.push_back({stage, percent, r, msg});
  };
  TMemoryStream s(PPMBytes());
  graphic.LoadFromStream(s);
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[0].Stage, TProgressStage::psStarting);
  EXPECT_EQ(events[0].Message, "Transfere...");
  EXPECT_EQ(events[0].Rect, (TRect{0, 0, 3, 1}));
  EXPECT_EQ(events[1].Percent, 33);
  EXPECT_EQ(events[2].Percent, 67);
  EXPECT_EQ(events[3].Percent, 100);
  EXPECT_EQ(events[1].Rect, (TRect{0, 0, 3, 1}));
  EXPECT_EQ(events[3].Rect, (TRect{0, 2, 3, 3}));
  EXPECT_EQ(events[4].Stage, TProgressStage::psEnding);
}

TEST(FrameworkGraphic, EveryReaderOwnsItsColourManager) {
  TTargaGraphic a, b;
  a.ColorManager().SetSourceColorScheme(csCMYK);
  EXPECT_EQ(b.ColorManager().SourceColorScheme(), csRGB);
  EXPECT_NE(&a.ColorManager(), &b.ColorManager());
}

TEST(FrameworkHelpers, PeekHeaderAndCheckedArithmetic) {
  TMemoryStream s(std::vector<uint8_t>{1, 2, 3, 4});
  s.SetPosition(1);
  uint8_t buf[3] = {};
  EXPECT_TRUE(PeekHeader(s, buf, 3, 3));
  EXPECT_EQ(buf[2], 4);
  EXPECT_FALSE(PeekHeader(s, buf, 3, 4));
  EXPECT_EQ(s.Position(), 1);
  EXPECT_EQ(CheckedMul(1u << 20, 1u << 20, "X"), uint64_t(1) << 40);
  EXPECT_THROW(CheckedMul(uint64_t(1) << 40, uint64_t(1) << 30, "X"), EInvalidGraphic);
  EXPECT_THROW(CheckedAdd(~uint64_t(0), 1, "X"), EInvalidGraphic);
}

}  // namespace
}  // namespace muralo
