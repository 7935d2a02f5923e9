// Paint Shop Pro reader. No independent encoder of the format exists on Debian, so the files are
// built here byte by byte from the format's layouts (file header, block headers of version 3 and
// of later versions, attribute, palette, layer and channel blocks), for every compression and
// bit depth, and checked pixel by pixel against the values they were built from.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cstdlib>
#include <cstring>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PSPGraphic.h"

namespace muralo {
namespace {

using Bytes = std::vector<uint8_t>;

void PutLE32(Bytes& b, uint32_t v) {
  test::PutLE16(b, uint16_t(v));
  test::PutLE16(b, uint16_t(v >> 16));
}
void Append(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }

// Paint Shop Pro run-length coding: a byte below 128 introduces that many literal bytes, 128 + n
// a run of n copies of the next byte.
Bytes PspRle(const Bytes& data) {
  Bytes out;
  for (size_t i = 0; i < data.size();) {
    size_t run = 1;
    while (i + run < data.size() && data[i + run] == data[i] && run < 127) ++run;
    if (run >= 3) {
      out.push_back(uint8_t(128 + run));
      out.push_back(data[i]);
      i += run;
    } else {
      const size_t n = std::min<size_t>(run, 127);
      out.push_back(uint8_t(n));
      out.insert(out.end(), data.begin() + std::ptrdiff_t(i), data.begin() + std::ptrdiff_t(i + n));
      i += n;
    }
  }
  return out;
}

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(uLong(data.size()));
  Bytes out(size);
  if (compress(out.data(), &size, data.data(), uLong(data.size())) != Z_OK) throw std::runtime_error("compress");
  out.resize(size);
  return out;
}

struct Psp {
  uint16_t Major = 4;
  uint16_t Compression = 0;

  Bytes Header(const char* signature = "Paint Shop Pro Image File\n\x1a") const {
    Bytes b(32, 0);
    std::copy(signature, signature + std::strlen(signature), b.begin());
    test::PutLE16(b, Major);
    test::PutLE16(b, 0);
    return b;
  }
  Bytes Block(uint16_t id, const Bytes& contents) const {
    Bytes b = {'~', 'B', 'K', 0};
    test::PutLE16(b, id);
    if (Major == 3) PutLE32(b, uint32_t(contents.size()));
    PutLE32(b, uint32_t(contents.size()));
    Append(b, contents);
    return b;
  }
  Bytes Attributes(uint32_t width, uint32_t height, uint16_t depth, bool grey, double resolution = 72,
                   uint8_t metric = 1) const {
    Bytes a;
    if (Major >= 4) PutLE32(a, 46);
    PutLE32(a, width);
    PutLE32(a, height);
    uint64_t bits;
    std::memcpy(&bits, &resolution, 8);
    PutLE32(a, uint32_t(bits));
    PutLE32(a, uint32_t(bits >> 32));
    a.push_back(metric);
    test::PutLE16(a, Compression);
    test::PutLE16(a, depth);
    test::PutLE16(a, 1);
    PutLE32(a, 1u << std::min<int>(depth, 24));
    a.push_back(grey ? 1 : 0);
    a.resize(a.size() + 14, 0);
    return Block(0, a);
  }
  Bytes Palette(const std::vector<TPaletteEntry>& entries) const {
    Bytes c;
    if (Major >= 4) PutLE32(c, 8);
    PutLE32(c, uint32_t(entries.size()));
    for (const auto& e : entries) c.insert(c.end(), {e.Blue, e.Green, e.Red, 0});
    return Block(2, c);
  }
  Bytes Channel(uint16_t type, const Bytes& raw) const {
    const Bytes data = Compression == 1 ? PspRle(raw) : Compression == 2 ? Deflate(raw) : raw;
    Bytes c;
    if (Major >= 4) PutLE32(c, 16);
    PutLE32(c, uint32_t(data.size()));
    PutLE32(c, uint32_t(raw.size()));
    test::PutLE16(c, 0);
    test::PutLE16(c, type);
    Append(c, data);
    return Block(5, c);
  }
  // A layer block; later versions' chunks carry a few spare bytes that their chunk sizes skip.
  Bytes Layer(uint8_t type, const std::vector<Bytes>& channels) const {
    Bytes c;
    if (Major == 3) {
      c.resize(256, 'n');
      c.push_back(type);
      c.resize(c.size() + 114, 0);
    } else {
      const std::string name = "Layer";
      PutLE32(c, uint32_t(4 + 2 + name.size() + 115 + 3));
      test::PutLE16(c, uint16_t(name.size()));
      c.insert(c.end(), name.begin(), name.end());
      c.push_back(type);
      c.resize(c.size() + 114 + 3, 0);
      PutLE32(c, 4 + 2 + 2 + 5);
    }
    test::PutLE16(c, 1);
    test::PutLE16(c, uint16_t(channels.size()));
    if (Major >= 4) c.resize(c.size() + 5, 0);
    for (const Bytes& ch : channels) Append(c, ch);
    return Block(4, c);
  }
  Bytes LayerStart(const std::vector<Bytes>& layers) const {
    Bytes c;
    for (const Bytes& l : layers) Append(c, l);
    return Block(3, c);
  }
};

constexpr uint32_t kWidth = 5, kHeight = 3;

uint32_t IndexAt(uint32_t x, uint32_t y, uint16_t depth) { return (x + 2 * y + 1) % (1u << std::min<int>(depth, 8)); }
TPaletteEntry PaletteColour(uint32_t i) { return {uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 13 + 1), 0}; }
TPaletteEntry RgbAt(uint32_t x, uint32_t y) {
  return {uint8_t(x * 40 + 5), uint8_t(y * 70 + 9), uint8_t(x + y * 10 + 3), 0};
}

// One channel of rows of `lineSize` bytes, indices packed most significant bits first.
Bytes IndexChannel(uint16_t depth, uint32_t lineSize) {
  Bytes b(size_t(lineSize) * kHeight, 0);
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const uint32_t bit = x * depth;
      b[y * lineSize + bit / 8] |= uint8_t(IndexAt(x, y, depth) << (8 - depth - bit % 8));
    }
  return b;
}

Bytes RgbChannel(int component) {
  Bytes b;
  for (uint32_t y = 0; y < kHeight; ++y)
    for (uint32_t x = 0; x < kWidth; ++x) {
      const TPaletteEntry c = RgbAt(x, y);
      b.push_back(component == 0 ? c.Red : component == 1 ? c.Green : c.Blue);
    }
  return b;
}

void ExpectPixels(const TBitmap& bitmap, uint16_t depth, const std::vector<TPaletteEntry>& palette) {
  ASSERT_EQ(bitmap.Width(), int(kWidth));
  ASSERT_EQ(bitmap.Height(), int(kHeight));
  Bytes bgra(kWidth * 4);
  for (uint32_t y = 0; y < kHeight; ++y) {
    bitmap.ReadRowBGRA(int(y), bgra.data());
    for (uint32_t x = 0; x < kWidth; ++x) {
      const TPaletteEntry e = depth == 24 ? RgbAt(x, y) : palette[IndexAt(x, y, depth)];
      EXPECT_EQ((std::array<int, 3>{bgra[4 * x + 2], bgra[4 * x + 1], bgra[4 * x]}),
                (std::array<int, 3>{e.Red, e.Green, e.Blue}))
          << "pixel " << x << ", " << y;
    }
  }
}

struct LayoutCase {
  uint16_t Major, Compression, Depth;
};

class PspLayouts : public ::testing::TestWithParam<LayoutCase> {};

// A skipped layer first, then the raster layer with a mask channel before its colour channels;
// the palette block comes after the layer section.
TEST_P(PspLayouts, FirstRasterLayerWithPaletteFromAnywhere) {
  const LayoutCase c = GetParam();
  Psp psp{c.Major, c.Compression};
  const uint32_t lineSize = c.Depth == 1 ? (kWidth + 7) / 8 : c.Depth == 4 ? kWidth / 2 + 1 : kWidth;
  std::vector<Bytes> channels = {psp.Channel(9, Bytes(lineSize * kHeight, 0x55))};
  std::vector<TPaletteEntry> palette;
  if (c.Depth == 24) {
    for (int k = 0; k < 3; ++k) channels.push_back(psp.Channel(uint16_t(k + 1), RgbChannel(k)));
  } else {
    channels.push_back(psp.Channel(0, IndexChannel(c.Depth, lineSize)));
    for (uint32_t i = 0; i < (1u << std::min<int>(c.Depth, 8)); ++i) palette.push_back(PaletteColour(i));
  }
  const uint8_t skipped = c.Major == 3 ? 1 : 2;
  Bytes file = psp.Header();
  Append(file, psp.Attributes(kWidth, kHeight, c.Depth, false));
  Append(file, psp.LayerStart({psp.Layer(skipped, {psp.Channel(1, Bytes(kWidth * kHeight, 1))}),
                               psp.Layer(c.Major == 3 ? 0 : 1, channels)}));
  if (!palette.empty()) Append(file, psp.Palette(palette));
  // These files seed the reader's fuzz target (fuzz/formats/corpus/psp) when a folder is named.
  if (const char* seeds = std::getenv("MURALO_SEED_DIR"))
    test::WriteBytes(std::string(seeds) + "/v" + std::to_string(c.Major) + "_c" + std::to_string(c.Compression) + "_" +
                         std::to_string(c.Depth) + "bit",
                     file);
  auto graphic = test::LoadBytes<TPSPGraphic>(file);
  ExpectPixels(*graphic, c.Depth, palette);
}

std::vector<LayoutCase> AllLayouts() {
  std::vector<LayoutCase> cases;
  for (uint16_t major : {3, 4, 5})
    for (uint16_t compression : {0, 1, 2})
      for (uint16_t depth : {1, 4, 8, 24}) cases.push_back({major, compression, depth});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(All, PspLayouts, ::testing::ValuesIn(AllLayouts()), [](const auto& param) {
  return "v" + std::to_string(param.param.Major) + "_c" + std::to_string(param.param.Compression) + "_" +
         std::to_string(param.param.Depth) + "bit";
});

Bytes Simple(const Psp& psp, uint16_t depth = 8, bool withLayer = true) {
  Bytes file = psp.Header();
  Append(file, psp.Attributes(kWidth, kHeight, depth, true));
  if (withLayer) Append(file, psp.LayerStart({psp.Layer(1, {psp.Channel(0, Bytes(kWidth * kHeight, 200))})}));
  return file;
}

TEST(PspHeader, SignatureVersionAndResolution) {
  Psp psp;
  Bytes capitals = psp.Header("PAINT SHOP PRO IMAGE FILE\n\x1a");
  const Bytes simple = Simple(psp);
  Append(capitals, Bytes(simple.begin() + 36, simple.end()));
  TMemoryStream s(capitals);
  EXPECT_TRUE(TPSPGraphic::CanLoad(s));
  EXPECT_EQ(s.Position(), 0);
  auto grey = test::LoadBytes<TPSPGraphic>(capitals);
  Bytes row(kWidth * 4);
  grey->ReadRowBGRA(2, row.data());
  EXPECT_EQ(row[0], 200);
  EXPECT_EQ(row[2], 200);

  Psp v2{2};
  TMemoryStream old(Simple(v2));
  EXPECT_FALSE(TPSPGraphic::CanLoad(old));

  Bytes metric = psp.Header();
  Append(metric, psp.Attributes(kWidth, kHeight, 8, true, 100, 2));
  TMemoryStream m(metric);
  TPSPGraphic props;
  ASSERT_TRUE(props.ReadImageProperties(m, 0));
  EXPECT_FLOAT_EQ(props.ImageProperties.XResolution, float(100 / 2.54));
  EXPECT_FLOAT_EQ(props.ImageProperties.YResolution, float(100 / 2.54));
}

TEST(PspRefusals, SayWhy) {
  Psp jpeg{4, 3};
  Psp unknown{4, 7};
  Bytes huge = Psp{}.Header();
  Append(huge, Psp{}.Attributes(1 << 16, 1 << 16, 24, false));
  const struct {
    const char* Name;
    Bytes File;
    std::string Message;
  } cases[] = {
      {"version 2", Simple(Psp{2}), Format(gesInvalidImage, "PSP")},
      {"16-bit", Simple(Psp{}, 16), Format(gesInvalidColorFormat, "PSP")},
      {"JPEG channels", Simple(jpeg), Format(gesUnsupportedFeature, gesPSPJPEGChannels, "PSP")},
      {"compression 7", Simple(unknown), Format(gesUnsupportedFeature, gesCompressionScheme, "PSP")},
      {"no raster layer", Simple(Psp{}, 8, false), Format(gesInvalidImage, "PSP")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    try {
      test::LoadBytes<TPSPGraphic>(c.File);
      ADD_FAILURE() << "loaded";
    } catch (const EInvalidGraphic& e) {
      EXPECT_EQ(e.message(), c.Message);
    }
  }
  // 65536 x 65536 at 24 bits: refused from the attributes, before any channel is read.
  EXPECT_THROW(test::LoadBytes<TPSPGraphic>(huge), EInvalidGraphic);
}

// A palette block of 300 entries keeps 256 and the next block is still found; a layer without
// its green and blue channels shows them as zero.
TEST(PspTolerance, LongPaletteAndMissingChannels) {
  Psp psp;
  std::vector<TPaletteEntry> entries;
  for (uint32_t i = 0; i < 300; ++i) entries.push_back(PaletteColour(i % 256));
  Bytes file = psp.Header();
  Append(file, psp.Attributes(kWidth, kHeight, 8, false));
  Append(file, psp.Palette(entries));
  Append(file, psp.LayerStart({psp.Layer(1, {psp.Channel(0, IndexChannel(8, kWidth))})}));
  auto indexed = test::LoadBytes<TPSPGraphic>(file);
  EXPECT_EQ(indexed->Palette()->size(), 256u);
  ExpectPixels(*indexed, 8, std::vector<TPaletteEntry>(entries.begin(), entries.begin() + 256));

  Bytes rgb = psp.Header();
  Append(rgb, psp.Attributes(kWidth, kHeight, 24, false));
  Append(rgb, psp.LayerStart({psp.Layer(1, {psp.Channel(1, RgbChannel(0))})}));
  auto red = test::LoadBytes<TPSPGraphic>(rgb);
  Bytes row(kWidth * 4);
  red->ReadRowBGRA(1, row.data());
  EXPECT_EQ((std::array<int, 3>{row[2], row[1], row[0]}), (std::array<int, 3>{RgbAt(0, 1).Red, 0, 0}));
}

// Every prefix of a valid file fails with a framework error, up to the end of its layer section.
TEST(PspTruncation, PrefixesBeforeTheLayerIsReadFail) {
  for (uint16_t compression : {0, 1, 2}) {
    SCOPED_TRACE(compression);
    const Bytes whole = Simple(Psp{4, compression});
    ASSERT_NO_THROW(test::LoadBytes<TPSPGraphic>(whole));
    for (size_t n = 0; n < whole.size(); ++n)
      EXPECT_THROW(test::LoadBytes<TPSPGraphic>(Bytes(whole.begin(), whole.begin() + std::ptrdiff_t(n))), Exception)
          << n;
  }
}

}  // namespace
}  // namespace muralo
