// Dr. Halo CUT, Alias/Wavefront RLA and Autodesk cel/pic readers: files built byte by byte from
// their layouts and, for CUT, compared with ImageMagick's decode of the same file.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/formats/AutodeskGraphic.h"
#include "imaging/formats/CUTGraphic.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PPMGraphic.h"
#include "imaging/formats/RLAGraphic.h"
#include "imaging/formats/SGIGraphic.h"

namespace muralo {
namespace {

// A test picture: value of channel c at (x, y).
uint8_t Sample(int x, int y, int c) { return uint8_t((x * 37 + y * 11 + c * 85) ^ (x == y ? 0xFF : 0)); }

// ---------------------------------------------------------------------------------------------
// Dr. Halo CUT

// One row: a 2-byte count, packets (bit 7 set = run of the next byte, clear = literal), then 0.
std::vector<uint8_t> CUTRow(const std::vector<uint8_t>& pixels) {
  std::vector<uint8_t> packets;
  for (size_t x = 0; x < pixels.size();) {
    size_t run = 1;
    while (x + run < pixels.size() && run < 127 && pixels[x + run] == pixels[x]) ++run;
    if (run >= 3) {
      packets.insert(packets.end(), {uint8_t(0x80 | run), pixels[x]});
      x += run;
      continue;
    }
    const size_t n = std::min<size_t>(pixels.size() - x, 5);
    packets.push_back(uint8_t(n));
    packets.insert(packets.end(), pixels.begin() + long(x), pixels.begin() + long(x + n));
    x += n;
  }
  packets.push_back(0);
  std::vector<uint8_t> row;
  test::PutLE16(row, uint16_t(packets.size()));
  row.insert(row.end(), packets.begin(), packets.end());
  return row;
}

std::vector<uint8_t> CUTFile(int w, int h) {
  std::vector<uint8_t> b;
  test::PutLE16(b, uint16_t(w));
  test::PutLE16(b, uint16_t(h));
  test::PutLE16(b, 0);
  for (int y = 0; y < h; ++y) {
    std::vector<uint8_t> pixels;
    for (int x = 0; x < w; ++x) pixels.push_back(uint8_t(x < 6 ? 7 : Sample(x, y, 0) % 100));
    const std::vector<uint8_t> row = CUTRow(pixels);
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

// A PAL file in the Dr. Halo layout: "AH" header with the entry count minus one at 12, the
// maximum component values, entries of three 16-bit words from offset 40, none across a block.
std::vector<uint8_t> PALFile(int entries) {
  std::vector<uint8_t> b = {'A', 'H'};
  test::PutLE16(b, 0xE3);  // version
  test::PutLE16(b, uint16_t(entries * 6));
  b.insert(b.end(), {0x11, 0x00});  // palette file, sub type
  test::PutLE16(b, 0);
  test::PutLE16(b, 0);
  test::PutLE16(b, uint16_t(entries - 1));
  for (int i = 0; i < 3; ++i) test::PutLE16(b, 255);
  b.resize(40, 0);
  for (int i = 0; i < entries; ++i) {
    if (b.size() % 512 > 506) b.resize((b.size() / 512 + 1) * 512, 0);
    test::PutLE16(b, uint16_t(i * 2 % 256));
    test::PutLE16(b, uint16_t(255 - i));
    test::PutLE16(b, uint16_t(i * 7 % 256));
  }
  b.resize((b.size() + 511) / 512 * 512, 0);
  return b;
}

TEST(CUTReader, WithPaletteFileMatchesImageMagick) {
  test::TempDir dir;
  const std::string file = dir.File("photo.cut");
  test::WriteBytes(file, CUTFile(23, 9));
  test::WriteBytes(dir.File("photo.pal"), PALFile(100));
  TCUTGraphic cut;
  cut.LoadFromFile(file);
  EXPECT_EQ(cut.PaletteFileName, dir.File("photo.pal"));
  ASSERT_TRUE(cut.Palette());
  EXPECT_EQ(cut.Palette()->size(), 100u);
  // Entry 78 is the first of the second block.
  EXPECT_EQ((*cut.Palette())[78], (TPaletteEntry{156, 177, 34, 0}));
  EXPECT_EQ((*cut.Palette())[99], (TPaletteEntry{198, 156, 181, 0}));
  test::ExpectSamePixels(cut, test::OracleDecode(file));
}

TEST(CUTReader, FromAStreamTheGreyPaletteIsUsed) {
  auto cut = test::LoadBytes<TCUTGraphic>(CUTFile(23, 9));
  ASSERT_TRUE(cut->Palette());
  EXPECT_EQ(cut->Palette()->size(), 256u);
  EXPECT_EQ(cut->Pixel(0, 0), RGB(7, 7, 7));
  EXPECT_EQ(cut->Pixel(10, 3), RGB(Sample(10, 3, 0) % 100, Sample(10, 3, 0) % 100, Sample(10, 3, 0) % 100));
  EXPECT_EQ(cut->ImageProperties.Compression, ctRLE);
}

TEST(CUTReader, LongPaletteKeeps256Entries) {
  test::TempDir dir;
  test::WriteBytes(dir.File("big.cut"), CUTFile(4, 2));
  test::WriteBytes(dir.File("big.pal"), PALFile(300));
  TCUTGraphic cut;
  cut.LoadFromFile(dir.File("big.cut"));
  EXPECT_EQ(cut.Palette()->size(), 256u);
}

TEST(CUTReader, ShortFiles) {
  EXPECT_THROW(test::LoadBytes<TCUTGraphic>({1, 0, 1}), EReadError);
  std::vector<uint8_t> cut = CUTFile(8, 4);
  cut.resize(cut.size() - 5);
  EXPECT_THROW(test::LoadBytes<TCUTGraphic>(cut), EReadError);
  test::TempDir dir;
  test::WriteBytes(dir.File("s.cut"), CUTFile(4, 2));
  test::WriteBytes(dir.File("s.pal"), std::vector<uint8_t>(100, 0));
  TCUTGraphic withShortPal;
  EXPECT_THROW(withShortPal.LoadFromFile(dir.File("s.cut")), EReadError);
}

TEST(CUTReader, NeverRecognisedByContent) {
  TMemoryStream s(CUTFile(4, 2));
  EXPECT_FALSE(TCUTGraphic::CanLoad(s));
  EXPECT_EQ(s.Position(), 0);
}

// ---------------------------------------------------------------------------------------------
// Alias/Wavefront RLA

struct RLAOptions {
  int Width = 13, Height = 7;
  int16_t Bottom = 0, Top = 6;  // active window rows
  int16_t Channels = 3, Matte = 0, Bits = 8;
  const char* Chan = "rgb";
  const char* Gamma = "";
};

// The stored word of a sample above 8 bits: the 8-bit sample in the top bits, a pattern below.
uint16_t RLAWord(uint8_t v, int bits) {
  if (bits <= 8) return v;
  return uint16_t(v << (bits - 8) | ((v ^ 0x5A5A) & ((1 << (bits - 8)) - 1)));
}

// Channel data as literal packets (RLA: a negative count byte -n copies n bytes).
std::vector<uint8_t> RLAChannel(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  for (size_t x = 0; x < bytes.size();) {
    const size_t n = std::min<size_t>(bytes.size() - x, 100);
    out.push_back(uint8_t(-int(n)));
    out.insert(out.end(), bytes.begin() + long(x), bytes.begin() + long(x + n));
    x += n;
  }
  return out;
}

std::vector<uint8_t> RLAFile(const RLAOptions& o) {
  std::vector<uint8_t> h(740, 0);
  auto put16 = [&](size_t at, int v) {
    h[at] = uint8_t(v >> 8);
    h[at + 1] = uint8_t(v);
  };
  put16(0, 0), put16(2, o.Width - 1), put16(4, o.Bottom), put16(6, o.Top);
  put16(8, 0), put16(10, o.Width - 1), put16(12, o.Bottom), put16(14, o.Top);
  put16(20, o.Channels), put16(22, o.Matte), put16(26, 0xFFFE);
  std::memcpy(&h[28], o.Gamma, std::strlen(o.Gamma));
  std::memcpy(&h[580], o.Chan, std::strlen(o.Chan));
  put16(658, o.Bits), put16(662, o.Bits);
  const int height = std::abs(o.Top - o.Bottom) + 1;
  const int channels = o.Channels + (o.Matte > 0 ? 1 : 0);
  const size_t sampleBytes = o.Bits > 8 ? 2 : 1;
  std::vector<uint8_t> rows;
  std::vector<uint32_t> offsets;
  const uint32_t dataStart = 740 + 4 * uint32_t(height);
  for (int r = 0; r < height; ++r) {
    offsets.push_back(dataStart + uint32_t(rows.size()));
    for (int c = 0; c < channels; ++c) {
      // Channels of more than 8 bits: a plane of the words' high bytes, then one of their low bytes.
      std::vector<uint8_t> samples(size_t(o.Width) * sampleBytes);
      for (int x = 0; x < o.Width; ++x) {
        const uint16_t v = RLAWord(Sample(x, r, c), o.Bits);
        if (sampleBytes == 2)
          samples[size_t(x)] = uint8_t(v >> 8), samples[size_t(o.Width + x)] = uint8_t(v);
        else
          samples[size_t(x)] = uint8_t(v);
      }
      const std::vector<uint8_t> packed = RLAChannel(samples);
      test::PutBE16(rows, uint16_t(packed.size()));
      rows.insert(rows.end(), packed.begin(), packed.end());
    }
  }
  for (uint32_t v : offsets) test::PutBE32(h, v);
  h.insert(h.end(), rows.begin(), rows.end());
  return h;
}

// ImageMagick 6 refuses these files ("corrupt image" from its RLA reader, whatever the header
// holds), so RLA is checked against the samples the file was built from.
TEST(RLAReader, BottomUpRGBRows) {
  auto rla = test::LoadBytes<TRLAGraphic>(RLAFile({}));
  EXPECT_TRUE(rla->ImageProperties.BottomUp);
  EXPECT_EQ(rla->PixelFormat(), TPixelFormat::pf24bit);
  // The first row in the file is the last bitmap row.
  for (int r = 0; r < 7; ++r)
    for (int x = 0; x < 13; ++x)
      ASSERT_EQ(rla->Pixel(x, 6 - r), RGB(Sample(x, r, 0), Sample(x, r, 1), Sample(x, r, 2))) << x << "," << r;
}

TEST(RLAReader, PropertiesAndLayouts) {
  struct Case {
    const char* Name;
    RLAOptions Options;
    TColorScheme Scheme;
    uint8_t Samples;
    TPixelFormat Format;
    bool BottomUp;
  };
  RLAOptions matte;
  matte.Matte = 1;
  RLAOptions topDown;
  topDown.Bottom = 6, topDown.Top = 0;
  RLAOptions capitals;
  capitals.Chan = "RGB";
  const Case cases[] = {
      {"rgb", {}, csRGB, 3, TPixelFormat::pf24bit, true},
      {"rgb with matte", matte, csRGBA, 4, TPixelFormat::pf32bit, true},
      {"top-down", topDown, csRGB, 3, TPixelFormat::pf24bit, false},
      {"RGB in capitals", capitals, csRGB, 3, TPixelFormat::pf24bit, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> bytes = RLAFile(c.Options);
    TMemoryStream s(bytes);
    EXPECT_TRUE(TRLAGraphic::CanLoad(s));
    EXPECT_EQ(s.Position(), 0);
    auto rla = test::LoadBytes<TRLAGraphic>(bytes);
    EXPECT_EQ(rla->ImageProperties.ColorScheme, c.Scheme);
    EXPECT_EQ(rla->ImageProperties.SamplesPerPixel, c.Samples);
    EXPECT_EQ(rla->PixelFormat(), c.Format);
    EXPECT_EQ(rla->ImageProperties.BottomUp, c.BottomUp);
    EXPECT_EQ(rla->ImageProperties.Width, 13u);
    EXPECT_EQ(rla->ImageProperties.Height, 7u);
    const int row = c.BottomUp ? 6 : 0;
    EXPECT_EQ(rla->Pixel(5, row), RGB(Sample(5, 0, 0), Sample(5, 0, 1), Sample(5, 0, 2)));
  }
}

TEST(RLAReader, GammaTextTurnsOnCorrection) {
  RLAOptions o;
  o.Gamma = "2.2";
  auto rla = test::LoadBytes<TRLAGraphic>(RLAFile(o));
  EXPECT_FLOAT_EQ(rla->ImageProperties.FileGamma, 2.2f);
  EXPECT_TRUE(rla->ImageProperties.Options.Has(ioUseGamma));
  const auto& table = rla->ColorManager().GammaTable();
  EXPECT_EQ(rla->Pixel(3, 6), RGB(table[Sample(3, 0, 0)], table[Sample(3, 0, 1)], table[Sample(3, 0, 2)]));
  EXPECT_NE(table[100], 100);

  RLAOptions blank;
  blank.Gamma = "   ";
  auto plain = test::LoadBytes<TRLAGraphic>(RLAFile(blank));
  EXPECT_EQ(plain->ImageProperties.FileGamma, 1.0f);
  EXPECT_FALSE(plain->ImageProperties.Options.Has(ioUseGamma));
}

// The application runs in the user's locale (Qt sets it from the environment), where the decimal
// separator may be a comma; the gamma text of the file keeps its full stop.
TEST(RLAReader, GammaTextIsReadWhateverTheLocale) {
  test::TempDir dir;
  test::RunTool("localedef -i fr_FR -f UTF-8 " + test::Quote(dir / "fr_FR.UTF-8"));
  const char* oldLocPath = std::getenv("LOCPATH");
  const std::string savedLocPath = oldLocPath ? oldLocPath : "";
  setenv("LOCPATH", dir.path().c_str(), 1);
  const std::string savedNumeric = std::setlocale(LC_NUMERIC, nullptr);
  const bool french = std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr;
  float value = 0;
  if (french) {
    // The locale is in force: the C library itself now stops at the full stop.
    EXPECT_EQ(std::strtof("2.5", nullptr), 2.0f);
    RLAOptions o;
    o.Gamma = "2.5";
    auto rla = test::LoadBytes<TRLAGraphic>(RLAFile(o));
    value = rla->ImageProperties.FileGamma;
  }
  std::setlocale(LC_NUMERIC, savedNumeric.c_str());
  if (oldLocPath)
    setenv("LOCPATH", savedLocPath.c_str(), 1);
  else
    unsetenv("LOCPATH");
  ASSERT_TRUE(french) << "the French locale built by localedef could not be set";
  EXPECT_FLOAT_EQ(value, 2.5f);
}

TEST(RLAReader, DeepChannelsAreReducedToEightBits) {
  for (int16_t bits : {10, 12, 16}) {
    SCOPED_TRACE(bits);
    RLAOptions o;
    o.Bits = bits;
    auto rla = test::LoadBytes<TRLAGraphic>(RLAFile(o));
    const uint32_t max = (1u << bits) - 1;
    const auto scaled = [&](int x, int r, int c) { return uint8_t(RLAWord(Sample(x, r, c), bits) * 255 / max); };
    for (int r = 0; r < 7; ++r)
      for (int x = 0; x < 13; ++x)
        ASSERT_EQ(rla->Pixel(x, 6 - r), RGB(scaled(x, r, 0), scaled(x, r, 1), scaled(x, r, 2))) << x << "," << r;
  }
}

TEST(RLAReader, ChannelTypesOtherThanRGBAreRefused) {
  RLAOptions xyz;
  xyz.Chan = "xyz";
  RLAOptions grey;
  grey.Channels = 1;
  for (const RLAOptions& o : {xyz, grey}) {
    try {
      test::LoadBytes<TRLAGraphic>(RLAFile(o));
      FAIL() << "a picture of channel type " << o.Chan << " and " << o.Channels << " channels loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.message(), Format(gesUnsupportedFeature, gesRLAPixelFormat, "RLA"));
    }
  }
  RLAOptions other;
  other.Chan = "cmy";
  TMemoryStream s(RLAFile(other));
  EXPECT_FALSE(TRLAGraphic::CanLoad(s));
}

TEST(RLAReader, ShortFileIsAReadError) {
  std::vector<uint8_t> b = RLAFile({});
  b.resize(b.size() - 10);
  EXPECT_THROW(test::LoadBytes<TRLAGraphic>(b), EReadError);
}

// ---------------------------------------------------------------------------------------------
// Autodesk cel/pic

std::vector<uint8_t> CelFile(int w, int h, uint8_t bits = 8) {
  std::vector<uint8_t> b;
  test::PutLE16(b, AutodeskMagic);
  test::PutLE16(b, uint16_t(w));
  test::PutLE16(b, uint16_t(h));
  b.resize(10, 0);
  b.push_back(bits);
  b.push_back(0);
  b.resize(32, 0);
  for (int i = 0; i < 256; ++i) b.insert(b.end(), {uint8_t(i % 64), uint8_t(63 - i % 64), uint8_t(i / 4)});
  b[32 + 3 * 9] = 63, b[32 + 3 * 9 + 1] = 0, b[32 + 3 * 9 + 2] = 32;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.push_back(uint8_t(x == 1 && y == 1 ? 9 : x + y));
  return b;
}

TEST(AutodeskReader, PaletteAndRows) {
  auto cel = test::LoadBytes<TAutodeskGraphic>(CelFile(5, 3));
  EXPECT_EQ(cel->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ((*cel->Palette())[9], (TPaletteEntry{252, 0, 128, 0}));
  EXPECT_EQ(cel->Pixel(1, 1), RGB(252, 0, 128));
  EXPECT_EQ(cel->RowData(2)[4], 6);
  EXPECT_EQ(cel->ImageProperties.ColorScheme, csIndexed);
}

TEST(AutodeskReader, ContentTestAndSixteenBits) {
  struct Case {
    const char* Name;
    std::vector<uint8_t> Bytes;
    bool Expected;
  };
  std::vector<uint8_t> compressed = CelFile(2, 2);
  compressed[11] = 1;
  const std::vector<uint8_t> whole = CelFile(2, 2);
  const std::vector<uint8_t> headerOnly(whole.begin(), whole.begin() + 32);
  const Case cases[] = {{"cel", CelFile(2, 2), true},
                        {"16 bits", CelFile(2, 2, 16), false},
                        {"compressed", compressed, false},
                        {"header only", headerOnly, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TMemoryStream s(c.Bytes);
    EXPECT_EQ(TAutodeskGraphic::CanLoad(s), c.Expected);
    EXPECT_EQ(s.Position(), 0);
  }
  auto sixteen = test::LoadBytes<TAutodeskGraphic>(CelFile(2, 2, 16));
  EXPECT_EQ(sixteen->PixelFormat(), TPixelFormat::pf8bit);
  EXPECT_EQ(sixteen->RowData(1)[0], 1);
}

TEST(AutodeskReader, WrongMagicIsInvalid) {
  std::vector<uint8_t> b = CelFile(2, 2);
  b[0] = 0;
  try {
    test::LoadBytes<TAutodeskGraphic>(b);
    FAIL() << "loaded without the magic";
  } catch (const EInvalidGraphic& e) {
    EXPECT_EQ(e.message(), Format(gesInvalidImage, "Autodesk"));
  }
}

// ---------------------------------------------------------------------------------------------
// Every reader refuses, before the bitmap is allocated, a stream too short for the smallest
// encoding of the pixels its header declares.

std::vector<uint8_t> TinySGI(uint8_t storage) {
  std::vector<uint8_t> b;
  test::PutBE16(b, SGIMagic);
  b.push_back(storage);
  b.push_back(1);
  test::PutBE16(b, 3);
  test::PutBE16(b, 4000);
  test::PutBE16(b, 4000);
  test::PutBE16(b, 3);
  b.resize(512 + 64, 0);
  return b;
}

std::vector<uint8_t> TinyRLA() {
  std::vector<uint8_t> b = RLAFile(RLAOptions{.Width = 1, .Height = 1, .Bottom = 0, .Top = 0});
  b.resize(740 + 4 + 64, 0);
  b[10] = 4000 >> 8, b[11] = 4000 & 0xFF;  // active window right
  b[14] = 4000 >> 8, b[15] = 4000 & 0xFF;  // active window top
  return b;
}

std::vector<uint8_t> TinyCUT() {
  std::vector<uint8_t> b;
  test::PutLE16(b, 4000);
  test::PutLE16(b, 4000);
  test::PutLE16(b, 0);
  for (int r = 0; r < 2; ++r) b.insert(b.end(), {2, 0, 0x80 | 127, 7, 0});
  return b;
}

std::vector<uint8_t> TinyCel() {
  std::vector<uint8_t> b = CelFile(1, 1);
  b[2] = 4000 & 0xFF, b[3] = 4000 >> 8;  // width
  b[4] = 4000 & 0xFF, b[5] = 4000 >> 8;  // height
  return b;
}

std::vector<uint8_t> Text(const std::string& s) {
  std::vector<uint8_t> b(s.begin(), s.end());
  b.resize(b.size() + 64, '1');
  return b;
}

TEST(AllReaders, HugeDeclaredSizesInTinyFilesAreRefusedBeforeAllocating) {
  struct Case {
    const char* Name;
    std::function<std::unique_ptr<TFrameworkGraphic>()> Create;
    std::vector<uint8_t> Bytes;
  };
  auto make = [](auto graphic) { return [] { return std::unique_ptr<TFrameworkGraphic>(new decltype(graphic)); }; };
  const Case cases[] = {
      {"SGI verbatim", make(TSGIGraphic{}), TinySGI(0)},
      {"SGI run-length", make(TSGIGraphic{}), TinySGI(1)},
      {"Dr. Halo", make(TCUTGraphic{}), TinyCUT()},
      {"Autodesk", make(TAutodeskGraphic{}), TinyCel()},
      {"RLA", make(TRLAGraphic{}), TinyRLA()},
      {"P6", make(TPPMGraphic{}), Text("P6\n4000 4000\n255\n")},
      {"P5 two bytes a sample", make(TPPMGraphic{}), Text("P5\n4000 4000\n1000\n")},
      {"P4", make(TPPMGraphic{}), Text("P4\n4000 4000\n")},
      {"P1", make(TPPMGraphic{}), Text("P1\n4000 4000\n")},
      {"P3", make(TPPMGraphic{}), Text("P3\n4000 4000\n255\n")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    auto graphic = c.Create();
    TMemoryStream stream(c.Bytes);
    EXPECT_THROW(graphic->LoadFromStream(stream), EReadError);
    EXPECT_TRUE(graphic->Bits().empty()) << "the bitmap was allocated";
  }
}

}  // namespace
}  // namespace muralo
