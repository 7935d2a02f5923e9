// Rules every reader shares: the content test never moves the stream and never raises for short
// data, ReadImageProperties starts from a reset record, declared sizes past the memory limit are
// refused before anything is allocated, every truncation of a valid file is an error, and the
// kept fuzzer finds load without a crash.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "imaging/ReaderTable.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/SGIGraphic.h"

namespace muralo {
namespace {

// One sample file of one reader of the reader table.
struct Reader {
  std::string Name;
  const TReaderRow* Row;
  const char* Sample;  // file name in the reader's seed corpus
  std::unique_ptr<TFrameworkGraphic> Create() const { return CreateReader(*Row); }
  bool CanLoad(TStream& s) const { return Row->GraphicClass()->CanLoadStream(s); }
  std::vector<uint8_t> Bytes() const {
    return test::FileBytes((test::SourceDir() / "fuzz" / "formats" / "corpus" / Row->FuzzName / Sample).string());
  }
};

// Test names carry the sample's name; the parameter itself prints as that name too.
void PrintTo(const Reader& reader, std::ostream* os) { *os << reader.Name; }

std::string Identifier(std::string text) {
  for (char& c : text)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return text;
}

// Every sample of every reader in the table (files of the reader's seed corpus).
std::vector<Reader> Readers() {
  std::vector<Reader> readers;
  for (const TReaderRow& row : ReaderTable()) {
    if (!row.IsReader()) continue;
    for (const char* sample : row.Samples)
      readers.push_back({Identifier(std::string(row.FuzzName) + "_" + sample), &row, sample});
  }
  return readers;
}

TEST(ReaderTable, EveryReaderHasSamplesAndAContentTest) {
  for (const TReaderRow& row : ReaderTable()) {
    if (!row.IsReader()) continue;
    SCOPED_TRACE(row.FuzzName);
    EXPECT_FALSE(row.Samples.empty());
    EXPECT_NE(row.GraphicClass()->CanLoadStream, nullptr);
    EXPECT_TRUE(row.GraphicClass()->InheritsFrom(TFrameworkGraphic::StaticClass()));
  }
}

class ReaderContract : public testing::TestWithParam<Reader> {};

TEST_P(ReaderContract, SampleLoads) {
  const Reader& r = GetParam();
  auto graphic = r.Create();
  TMemoryStream s(r.Bytes());
  graphic->LoadFromStream(s);
  EXPECT_FALSE(graphic->Empty());
}

TEST_P(ReaderContract, ContentTestRestoresThePosition) {
  const Reader& r = GetParam();
  const std::vector<uint8_t> sample = r.Bytes();
  std::vector<uint8_t> embedded(5, 0x55);
  embedded.insert(embedded.end(), sample.begin(), sample.end());
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    int64_t Start;
    bool Expected;
  };
  const Case cases[] = {
      {"match", sample, 0, r.Row->HasSignature},
      {"embedded after five bytes", embedded, 5, r.Row->HasSignature},
      {"garbage", std::vector<uint8_t>(2000, 0x33), 0, false},
      {"three bytes", {sample.begin(), sample.begin() + 3}, 0, false},
      {"empty", {}, 0, false},
      {"at the end", sample, int64_t(sample.size()), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    s.SetPosition(c.Start);
    bool answer = false;
    EXPECT_NO_THROW(answer = r.CanLoad(s));
    EXPECT_EQ(answer, c.Expected);
    EXPECT_EQ(s.Position(), c.Start);
  }
}

TEST_P(ReaderContract, ReadImagePropertiesStartsFromAResetRecord) {
  const Reader& r = GetParam();
  auto graphic = r.Create();
  TImageProperties& p = graphic->ImageProperties;
  p.Version = 9, p.FirstIFD = 3, p.TileWidth = 5, p.Interlaced = true, p.HasAlpha = true, p.Rotate = 2;
  p.RowsPerStrip = {1, 2, 3}, p.YCbCrSubSampling = {2, 1}, p.JPEGTables = {7}, p.FileGamma = 3.0f;
  p.Channels = 4, p.FilterMode = 1, p.ImageCount = 8, p.Overview = true, p.CurrentStrip = 6;
  TMemoryStream s(r.Bytes());
  graphic->ReadImageProperties(s, 0);
  // Fields a reader fills from its header (TIFF's version and directory offset, tile size, stored
  // samples, page count) may hold other values; none may keep what was planted.
  EXPECT_NE(p.Version, 9u);
  EXPECT_NE(p.FirstIFD, 3u);
  EXPECT_NE(p.TileWidth, 5u);
  EXPECT_FALSE(p.Interlaced);
  EXPECT_FALSE(p.HasAlpha);
  EXPECT_EQ(p.Rotate, 0);
  EXPECT_NE(p.RowsPerStrip, (TCardinalArray{1, 2, 3}));
  EXPECT_TRUE(p.YCbCrSubSampling.empty());
  EXPECT_TRUE(p.JPEGTables.empty());
  EXPECT_NE(p.Channels, 4);
  EXPECT_EQ(p.FilterMode, 0);
  EXPECT_LE(p.ImageCount, 1);  // a reader of multi-image files counts the sample's one image
  EXPECT_FALSE(p.Overview);
  EXPECT_EQ(p.CurrentStrip, 0u);
  EXPECT_EQ(p.FileGamma, 1.0f);
  EXPECT_GT(p.Width, 0u);
}

TEST_P(ReaderContract, EveryTruncationIsAnError) {
  const Reader& r = GetParam();
  const std::vector<uint8_t> sample = r.Bytes();
  // A plain portable map may end in white space after its last number, and a plain grey or pixel
  // map's last number may end the file: dropping that white space, or digits of that number,
  // leaves a complete file.
  size_t complete = sample.size();
  while (complete > 0 && std::isspace(sample[complete - 1])) --complete;
  const bool plainSamples = sample.size() > 1 && sample[0] == 'P' && (sample[1] == '2' || sample[1] == '3');
  if (plainSamples)
    while (complete > 0 && std::isdigit(sample[complete - 1])) --complete;
  // Every prefix of a small sample; of a large one (a Photo-CD pack is 786 KB) every prefix of its
  // first 4 KiB (the headers) and last 256 bytes, and about five hundred evenly spread between.
  const bool large = complete > 16384;
  const size_t head = large ? 4096 : complete, tail = large ? 256 : complete;
  const size_t step = large ? std::max<size_t>(1, (complete - head - tail) / 512) : 1;
  for (size_t n = 0; n < complete; n += (n < head || n + tail >= complete) ? 1 : step) {
    SCOPED_TRACE(testing::Message() << "prefix of " << n << " of " << sample.size() << " bytes");
    auto graphic = r.Create();
    TReadOnlyMemoryStream s(sample.data(), n);
    try {
      graphic->LoadFromStream(s);
      ADD_FAILURE() << "a truncated file loaded";
    } catch (const EReadError&) {
    } catch (const EInvalidGraphic&) {
    }
  }
}

TEST_P(ReaderContract, ProgressStartsAndEndsWithTheRectangleMovingDown) {
  const Reader& r = GetParam();
  auto graphic = r.Create();
  std::vector<TProgressStage> stages;
  std::vector<int> tops;
  std::vector<int> percents;
  graphic->OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect& rect,
                            const std::string&) {
    stages.push_back(stage);
    // Only the last stage, the rows', reports once per row (earlier stages such as Photo-CD's
    // upsampling report as they like).
    if (stage == TProgressStage::psStarting) tops.clear(), percents.clear();
    if (stage == TProgressStage::psRunning) {
      tops.push_back(rect.Top);
      percents.push_back(percent);
    }
  };
  TMemoryStream s(r.Bytes());
  graphic->LoadFromStream(s);
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.front(), TProgressStage::psStarting);
  EXPECT_EQ(stages.back(), TProgressStage::psEnding);
  ASSERT_EQ(tops.size(), size_t(graphic->Height()));
  for (size_t i = 0; i < tops.size(); ++i) {
    EXPECT_EQ(tops[i], int(i));
    EXPECT_EQ(percents[i], int((i + 1) * 100.0 / tops.size() + 0.5));
  }
}

TEST_P(ReaderContract, FailedLoadStillEndsProgress) {
  const Reader& r = GetParam();
  std::vector<uint8_t> sample = r.Bytes();
  sample.resize(sample.size() * 2 / 3);
  auto graphic = r.Create();
  std::vector<TProgressStage> stages;
  graphic->OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
    stages.push_back(stage);
  };
  TMemoryStream s(sample);
  EXPECT_ANY_THROW(graphic->LoadFromStream(s));
  if (!stages.empty()) {
    EXPECT_EQ(stages.back(), TProgressStage::psEnding);
  }
}

INSTANTIATE_TEST_SUITE_P(Readers, ReaderContract, testing::ValuesIn(Readers()),
                         [](const auto& p) { return p.param.Name; });

// A file the named reader (its fuzz name in the reader table) must refuse.
struct RefusedFile {
  std::string Reader;
  std::vector<uint8_t> Bytes;
  const char* Name = nullptr;  // the case, when a reader has several
};

// Each file is refused with E, and no bitmap is left allocated.
template <typename E>
void ExpectRefusedWithoutBitmap(const std::vector<RefusedFile>& files) {
  for (const RefusedFile& f : files) {
    SCOPED_TRACE(f.Name ? f.Name : f.Reader.c_str());
    const auto row = std::find_if(ReaderTable().begin(), ReaderTable().end(),
                                  [&](const TReaderRow& r) { return r.FuzzName == f.Reader; });
    ASSERT_NE(row, ReaderTable().end());
    auto graphic = CreateReader(*row);
    TMemoryStream s(f.Bytes);
    EXPECT_THROW(graphic->LoadFromStream(s), E);
    EXPECT_TRUE(graphic->Bits().empty()) << "the bitmap was allocated";
  }
}

// Headers that declare 60000 × 60000 pixels: refused by the memory limit before the pixel buffer
// is allocated.
TEST(ReaderLimits, HugeDeclaredSizesAreRefused) {
  const uint64_t saved = MemoryLimit();
  SetMemoryLimit(uint64_t(64) << 20);
  std::vector<uint8_t> tga = {0, 0, 2, 0, 0, 0, 0, 24, 0, 0, 0, 0, 0x60, 0xEA, 0x60, 0xEA, 24, 0x20, 1, 2, 3};
  std::vector<uint8_t> pcx(128, 0);
  pcx[0] = 10, pcx[1] = 5, pcx[2] = 1, pcx[3] = 8, pcx[8] = 0x5F, pcx[9] = 0xEA, pcx[10] = 0x5F, pcx[11] = 0xEA;
  pcx[65] = 3, pcx[66] = 0x60, pcx[67] = 0xEA;
  pcx.resize(2000, 0xC1);
  std::vector<uint8_t> sgi(512, 0);
  sgi[0] = 0x01, sgi[1] = 0xDA, sgi[3] = 1, sgi[5] = 3, sgi[6] = 0xEA, sgi[7] = 0x60, sgi[8] = 0xEA, sgi[9] = 0x60;
  sgi[11] = 3;
  sgi.resize(600, 0);
  const std::string ppmText = "P6\n60000 60000\n255\nabcdef";
  std::vector<uint8_t> cut = {0x60, 0xEA, 0x60, 0xEA, 0, 0, 4, 0, 0x81, 1, 0};
  std::vector<uint8_t> cel = test::CelFile(2, 2);
  cel[2] = 0x60, cel[3] = 0xEA, cel[4] = 0x60, cel[5] = 0xEA;
  std::vector<uint8_t> rla = test::RLAFile({.Width = 2, .Height = 2, .Bottom = 0, .Top = 1});
  rla[10] = 0x75, rla[11] = 0x30, rla[14] = 0x75, rla[15] = 0x30;
  // 60000 × 60000 8-bit grey: ImageWidth, ImageLength, BitsPerSample, Photometric, one strip.
  std::vector<uint8_t> tiff = {'I', 'I', 42, 0, 8, 0, 0, 0, 6, 0};
  const uint16_t entries[][3] = {{256, 3, 60000}, {257, 3, 60000}, {258, 3, 8}, {262, 3, 1}, {273, 4, 8}, {279, 4, 16}};
  for (const auto& e : entries) {
    test::PutLE16(tiff, e[0]);
    test::PutLE16(tiff, e[1]);
    test::PutLE16(tiff, 1);
    test::PutLE16(tiff, 0);
    test::PutLE16(tiff, e[2]);
    test::PutLE16(tiff, 0);
  }
  tiff.resize(tiff.size() + 4 + 16, 0);
  ExpectRefusedWithoutBitmap<EInvalidGraphic>({
      {"targa", tga},
      {"pcx", pcx},
      {"sgi", sgi},
      {"ppm", {ppmText.begin(), ppmText.end()}},
      {"cut", cut},
      {"autodesk", cel},
      {"rla", rla},
  });
  SetMemoryLimit(saved);
}

// Every reader refuses, before the bitmap is allocated, a stream too short for the smallest
// encoding of the pixels its header declares (4000 x 4000 or so, within the memory limit).
TEST(AllReaders, HugeDeclaredSizesInTinyFilesAreRefusedBeforeAllocating) {
  auto sgi = [](uint8_t storage) {
    std::vector<uint8_t> b;
    test::PutBE16(b, SGIMagic);
    b.push_back(storage);
    b.push_back(1);
    for (uint16_t v : {3, 4000, 4000, 3}) test::PutBE16(b, v);
    b.resize(512 + 64, 0);
    return b;
  };
  std::vector<uint8_t> rla = test::RLAFile({.Width = 1, .Height = 1, .Bottom = 0, .Top = 0});
  rla.resize(740 + 4 + 64, 0);
  rla[10] = 4000 >> 8, rla[11] = 4000 & 0xFF;  // active window right
  rla[14] = 4000 >> 8, rla[15] = 4000 & 0xFF;  // active window top
  std::vector<uint8_t> cut;
  for (uint16_t v : {4000, 4000, 0}) test::PutLE16(cut, v);
  for (int r = 0; r < 2; ++r) cut.insert(cut.end(), {2, 0, 0x80 | 127, 7, 0});
  std::vector<uint8_t> cel = test::CelFile(1, 1);
  cel[2] = 4000 & 0xFF, cel[3] = 4000 >> 8;  // width
  cel[4] = 4000 & 0xFF, cel[5] = 4000 >> 8;  // height
  auto text = [](const std::string& s) {
    std::vector<uint8_t> b(s.begin(), s.end());
    b.resize(b.size() + 64, '1');
    return b;
  };
  ExpectRefusedWithoutBitmap<EReadError>({
      {"sgi", sgi(0), "SGI verbatim"},
      {"sgi", sgi(1), "SGI run-length"},
      {"cut", cut, "Dr. Halo"},
      {"autodesk", cel, "Autodesk"},
      {"rla", rla, "RLA"},
      {"ppm", text("P6\n4000 4000\n255\n"), "P6"},
      {"ppm", text("P5\n4000 4000\n1000\n"), "P5 two bytes a sample"},
      {"ppm", text("P4\n4000 4000\n"), "P4"},
      {"ppm", text("P1\n4000 4000\n"), "P1"},
      {"ppm", text("P3\n4000 4000\n255\n"), "P3"},
  });
}

// Inputs the fuzzers found, one folder a reader: each must load or fail with a framework error.
TEST(HostileInputs, KeptFuzzerFindsFailCleanly) {
  const std::filesystem::path root = test::SourceDir() / "tests" / "imaging" / "formats" / "hostile";
  size_t replayed = 0;
  for (const TReaderRow& row : ReaderTable()) {
    if (!row.IsReader()) continue;
    const std::filesystem::path dir = root / row.FuzzName;
    if (!std::filesystem::is_directory(dir)) continue;  // a reader without finds yet
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().filename() == "README") continue;
      SCOPED_TRACE(entry.path().string());
      auto graphic = CreateReader(row);
      TMemoryStream s(test::FileBytes(entry.path().string()));
      try {
        graphic->LoadFromStream(s);
      } catch (const Exception&) {
      }
      ++replayed;
    }
  }
  EXPECT_GT(replayed, 0u);
}

}  // namespace
}  // namespace muralo
