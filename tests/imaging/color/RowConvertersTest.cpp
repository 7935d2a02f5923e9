// RGB/BGR, grey and indexed row converters, checked against a per-pixel model of the row written
// here from the layouts (logical colour values, explicit byte orders, bit strings).

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>

#include "ColorTestUtil.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {
namespace {

using colortest::GuardedRow;

// Selected target pixels of a row, in order.
std::vector<bool> Selection(uint32_t count, uint8_t mask) {
  std::vector<bool> selected(count);
  for (uint32_t i = 0; i < count; ++i) selected[i] = (mask >> (7 - i % 8)) & 1;
  return selected;
}

void PutSample(std::vector<uint8_t>& bytes, unsigned bits, bool bigEndian, uint16_t value) {
  if (bits == 8) {
    bytes.push_back(uint8_t(value));
  } else if (bigEndian) {
    bytes.push_back(uint8_t(value >> 8));
    bytes.push_back(uint8_t(value));
  } else {
    const uint16_t native = value;
    const auto* b = reinterpret_cast<const uint8_t*>(&native);
    bytes.push_back(b[0]);
    bytes.push_back(b[1]);
  }
}

bool IsBGROrder(TColorScheme s) { return s == csBGR || s == csBGRA; }
bool WithAlpha(TColorScheme s) { return s == csRGBA || s == csBGRA || s == csGA; }

// --- RGB and BGR family ------------------------------------------------------------------------

struct RGBCase {
  TColorScheme source, target;
  unsigned sourceBits, targetBits;
  bool swap, gamma;
  std::string Name() const {
    return std::to_string(source) + "->" + std::to_string(target) + " " + std::to_string(sourceBits) + "/" +
           std::to_string(targetBits) + (swap ? " swap" : "") + (gamma ? " gamma" : "");
  }
};

// Random logical pixels (r, g, b, a) of the source depth.
std::vector<std::array<uint16_t, 4>> RandomPixels(size_t n, unsigned bits, std::mt19937& rng) {
  std::uniform_int_distribution<uint32_t> d(0, (1u << bits) - 1);
  std::vector<std::array<uint16_t, 4>> p(n);
  for (auto& px : p)
    for (auto& v : px) v = uint16_t(d(rng));
  return p;
}

struct RGBSource {
  std::vector<uint8_t> interleaved;
  std::vector<uint8_t> planes[4];
};

RGBSource EncodeRGB(const RGBCase& c, const std::vector<std::array<uint16_t, 4>>& pixels) {
  RGBSource s;
  for (const auto& px : pixels) {
    const uint16_t samples[4] = {IsBGROrder(c.source) ? px[2] : px[0], px[1], IsBGROrder(c.source) ? px[0] : px[2],
                                 px[3]};
    const int n = WithAlpha(c.source) ? 4 : 3;
    for (int k = 0; k < n; ++k) {
      PutSample(s.interleaved, c.sourceBits, c.swap, samples[k]);
      PutSample(s.planes[k], c.sourceBits, c.swap, samples[k]);
    }
  }
  return s;
}

// What the target row must hold: the colours in the target's order at its depth, alpha copied
// only when both sides have it, unselected pixels and missing samples as they were.
std::vector<uint8_t> ExpectedRGB(const RGBCase& c, const std::vector<std::array<uint16_t, 4>>& pixels, uint32_t count,
                                 uint8_t mask, const std::vector<uint8_t>& before,
                                 const std::array<uint8_t, 256>& gammaTable) {
  std::vector<uint8_t> row = before;
  const unsigned stride = WithAlpha(c.target) ? 4 : 3;
  const unsigned tb = c.targetBits / 8;
  auto colour = [&](uint16_t v) -> uint16_t {
    if (c.sourceBits == 8 && c.targetBits == 8) return c.gamma ? gammaTable[v] : v;
    if (c.sourceBits == 8) return uint16_t((c.gamma ? gammaTable[v] : v) * 257);
    if (c.targetBits == 8) return c.gamma ? gammaTable[v / 257] : uint16_t(v / 257);
    return v;
  };
  auto alpha = [&](uint16_t v) -> uint16_t {
    if (c.sourceBits == c.targetBits) return v;
    return c.sourceBits == 8 ? uint16_t(v * 257) : uint16_t(v / 257);
  };
  auto put = [&](size_t sampleIndex, uint16_t v) {
    if (tb == 1)
      row[sampleIndex] = uint8_t(v);
    else
      std::memcpy(&row[sampleIndex * 2], &v, 2);
  };
  const auto selected = Selection(count, mask);
  size_t next = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if (!selected[i]) continue;
    const auto& px = pixels[next++];
    const uint16_t r = colour(px[0]), g = colour(px[1]), b = colour(px[2]);
    put(i * stride + 0, IsBGROrder(c.target) ? b : r);
    put(i * stride + 1, g);
    put(i * stride + 2, IsBGROrder(c.target) ? r : b);
    if (WithAlpha(c.source) && WithAlpha(c.target)) put(i * stride + 3, alpha(px[3]));
  }
  return row;
}

std::vector<RGBCase> AllRGBCases() {
  std::vector<RGBCase> cases;
  for (TColorScheme s : {csRGB, csRGBA, csBGR, csBGRA})
    for (TColorScheme t : {csRGB, csRGBA, csBGR, csBGRA})
      for (unsigned sb : {8u, 16u})
        for (unsigned tb : {8u, 16u})
          for (bool swap : {false, true})
            for (bool gamma : {false, true}) cases.push_back({s, t, sb, tb, swap, gamma});
  return cases;
}

TEST(RowConvertRGB, EveryLayoutDepthAndOptionMatchesThePixelModel) {
  std::mt19937 rng(1234);
  for (const RGBCase& c : AllRGBCases()) {
    for (uint32_t count : {0u, 1u, 7u, 8u, 9u, 33u}) {
      for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x88), uint8_t(0x55), uint8_t(0xAA), uint8_t(0x01), uint8_t(0)}) {
        SCOPED_TRACE(c.Name() + " count " + std::to_string(count) + " mask " + std::to_string(mask));
        TColorManager m;
        m.SetSourceColorScheme(c.source);
        m.SetTargetColorScheme(c.target);
        m.SetSourceBitsPerSample(uint8_t(c.sourceBits));
        m.SetTargetBitsPerSample(uint8_t(c.targetBits));
        m.SetGamma(1.7f, 2.2f);
        if (c.swap) m.SourceOptions.Include(coNeedByteSwap);
        if (c.gamma) m.TargetOptions.Include(coApplyGamma);
        const auto pixels = RandomPixels(count, c.sourceBits, rng);
        const RGBSource source = EncodeRGB(c, pixels);
        const size_t targetBytes = size_t(count) * (WithAlpha(c.target) ? 4 : 3) * (c.targetBits / 8);

        GuardedRow interleaved(targetBytes);
        m.ConvertRow({source.interleaved.data()}, interleaved.data(), count, mask);
        const auto expected = ExpectedRGB(c, pixels, count, mask, GuardedRow(targetBytes).Row(), m.GammaTable());
        ASSERT_EQ(interleaved.Row(), expected);
        ASSERT_TRUE(interleaved.Intact());

        // The same pixels given as planes (the alpha plane last) give the same row.
        GuardedRow planar(targetBytes);
        if (WithAlpha(c.source))
          m.ConvertRow(
              {source.planes[0].data(), source.planes[1].data(), source.planes[2].data(), source.planes[3].data()},
              planar.data(), count, mask);
        else
          m.ConvertRow({source.planes[0].data(), source.planes[1].data(), source.planes[2].data()}, planar.data(),
                       count, mask);
        ASSERT_EQ(planar.Row(), expected);
        ASSERT_TRUE(planar.Intact());
      }
    }
  }
}

// 0..130 and lengths around the 256-pixel chunks of the 16-bit path.
std::vector<uint32_t> Lengths() {
  std::vector<uint32_t> n;
  for (uint32_t i = 0; i <= 130; ++i) n.push_back(i);
  for (uint32_t i : {255u, 256u, 257u, 511u, 512u, 700u}) n.push_back(i);
  return n;
}

// Whole rows into 8 bits take the shuffle, copy and narrowing paths (vector code where the processor has it):
// every length, with rows starting at odd addresses, must give the bytes of the pixel model.
TEST(RowConvertRGB, WholeRowPathsAtEveryLength) {
  std::mt19937 rng(77);
  const RGBCase cases[] = {
      {csRGB, csBGR, 8, 8, false, false},   {csRGBA, csBGRA, 8, 8, false, false}, {csBGR, csBGR, 8, 8, false, false},
      {csRGBA, csRGBA, 8, 8, false, false}, {csBGRA, csRGBA, 8, 8, false, false}, {csRGB, csBGRA, 8, 8, false, false},
      {csRGBA, csBGR, 8, 8, false, false},  {csBGR, csRGBA, 8, 8, false, false},  {csRGB, csBGR, 16, 8, true, false},
      {csRGB, csBGR, 16, 8, false, true},   {csRGBA, csBGRA, 16, 8, true, true},  {csBGRA, csBGRA, 16, 8, false, false},
      {csBGR, csBGR, 16, 8, true, true},    {csRGBA, csBGR, 16, 8, true, false}};
  for (const RGBCase& c : cases) {
    for (uint32_t count : Lengths()) {
      SCOPED_TRACE(c.Name() + " count " + std::to_string(count));
      TColorManager m;
      m.SetSourceColorScheme(c.source);
      m.SetTargetColorScheme(c.target);
      m.SetSourceBitsPerSample(uint8_t(c.sourceBits));
      m.SetGamma(1.6f, 2.2f);
      if (c.swap) m.SourceOptions.Include(coNeedByteSwap);
      if (c.gamma) m.TargetOptions.Include(coApplyGamma);
      const auto pixels = RandomPixels(count, c.sourceBits, rng);
      const std::vector<uint8_t> encoded = EncodeRGB(c, pixels).interleaved;
      // Exact-size heap copy one byte into its allocation, so reads past the row are caught.
      std::unique_ptr<uint8_t[]> source(new uint8_t[encoded.size() + 1]);
      std::copy(encoded.begin(), encoded.end(), source.get() + 1);
      const size_t targetBytes = size_t(count) * (WithAlpha(c.target) ? 4 : 3);
      GuardedRow target(targetBytes + 1);
      const uint8_t before = target[0];
      m.ConvertRow({source.get() + 1}, target.data() + 1, count, 0xFF);
      std::vector<uint8_t> row = target.Row();
      ASSERT_EQ(row[0], before);
      row.erase(row.begin());
      ASSERT_EQ(row, ExpectedRGB(c, pixels, count, 0xFF, GuardedRow(targetBytes).Row(), m.GammaTable()));
      ASSERT_TRUE(target.Intact());
    }
  }
}

// Three 8-bit planes into 3-byte pixels take the vector interleave: every length, each plane
// an exact-size heap block at an odd address, must give the bytes of the pixel model.
TEST(RowConvertRGB, PlanarRowsIntoThreeBytePixelsAtEveryLength) {
  std::mt19937 rng(78);
  const RGBCase cases[] = {{csRGB, csBGR, 8, 8, false, false},
                           {csRGB, csRGB, 8, 8, false, false},
                           {csBGR, csBGR, 8, 8, false, false},
                           {csRGBA, csBGR, 8, 8, false, false}};
  for (const RGBCase& c : cases) {
    for (uint32_t count : Lengths()) {
      SCOPED_TRACE(c.Name() + " count " + std::to_string(count));
      TColorManager m;
      m.SetSourceColorScheme(c.source);
      m.SetTargetColorScheme(c.target);
      const auto pixels = RandomPixels(count, 8, rng);
      const auto encoded = EncodeRGB(c, pixels);
      const size_t planes = WithAlpha(c.source) ? 4 : 3;
      std::unique_ptr<uint8_t[]> copies[4];
      const void* pointers[4] = {};
      for (size_t k = 0; k < planes; ++k) {
        copies[k].reset(new uint8_t[count + 1]);
        std::copy(encoded.planes[k].begin(), encoded.planes[k].end(), copies[k].get() + 1);
        pointers[k] = copies[k].get() + 1;
      }
      GuardedRow target(size_t(count) * 3);
      m.ConvertRow(TPointerArray(pointers, planes), target.data(), count, 0xFF);
      ASSERT_EQ(target.Row(), ExpectedRGB(c, pixels, count, 0xFF, GuardedRow(size_t(count) * 3).Row(), m.GammaTable()));
      ASSERT_TRUE(target.Intact());
    }
  }
}

TEST(RowConvertRGB, EveryMaskByteOnShortRows) {
  std::mt19937 rng(99);
  const RGBCase c{csRGBA, csBGRA, 8, 8, false, false};
  for (unsigned mask = 0; mask < 256; ++mask) {
    for (uint32_t count : {1u, 5u, 8u, 13u}) {
      SCOPED_TRACE("mask " + std::to_string(mask) + " count " + std::to_string(count));
      TColorManager m;
      m.SetSourceColorScheme(c.source);
      m.SetTargetColorScheme(c.target);
      const auto pixels = RandomPixels(count, 8, rng);
      // The source holds only the selected pixels, packed.
      const auto selected = Selection(count, uint8_t(mask));
      const size_t used = size_t(std::count(selected.begin(), selected.end(), true));
      // Exactly the selected pixels' bytes on the heap, so a read past them is caught by ASan.
      const std::vector<uint8_t> encoded = EncodeRGB(c, pixels).interleaved;
      std::unique_ptr<uint8_t[]> packed(new uint8_t[used * 4]);
      std::copy(encoded.begin(), encoded.begin() + used * 4, packed.get());
      GuardedRow target(count * 4);
      m.ConvertRow({packed.get()}, target.data(), count, uint8_t(mask));
      ASSERT_EQ(target.Row(),
                ExpectedRGB(c, pixels, count, uint8_t(mask), GuardedRow(count * 4).Row(), m.GammaTable()));
      ASSERT_TRUE(target.Intact());
    }
  }
}

TEST(RowConvertRGB, NamedCases) {
  TColorManager m;
  const uint8_t rgb[] = {10, 20, 30};
  GuardedRow t(3);
  m.ConvertRow({rgb}, t.data(), 1, 0xFF);
  EXPECT_EQ(t.Row(), (std::vector<uint8_t>{30, 20, 10}));
  m.TargetOptions.Include(coApplyGamma);
  m.ConvertRow({rgb}, t.data(), 1, 0xFF);
  EXPECT_EQ(t.Row(), (std::vector<uint8_t>{m.GammaTable()[30], m.GammaTable()[20], m.GammaTable()[10]}));
  EXPECT_NE(t[0], 30);

  // Count 8, mask 0xAA: even pixels from source pixels 0..3, odd pixels untouched.
  TColorManager n;
  const uint8_t four[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  GuardedRow eight(24);
  n.ConvertRow({four}, eight.data(), 8, 0xAA);
  const std::vector<uint8_t> expected = {3, 2, 1, 0xCC, 0xCC, 0xCC, 6,  5,  4,  0xCC, 0xCC, 0xCC,
                                         9, 8, 7, 0xCC, 0xCC, 0xCC, 12, 11, 10, 0xCC, 0xCC, 0xCC};
  EXPECT_EQ(eight.Row(), expected);

  // RGB into BGRA leaves every fourth target byte as it was; RGBA into BGR drops alpha (stride 3).
  TColorManager a;
  a.SetTargetColorScheme(csBGRA);
  GuardedRow bgra(8, 0x77);
  const uint8_t two[] = {1, 2, 3, 4, 5, 6};
  a.ConvertRow({two}, bgra.data(), 2, 0xFF);
  EXPECT_EQ(bgra.Row(), (std::vector<uint8_t>{3, 2, 1, 0x77, 6, 5, 4, 0x77}));
  TColorManager d;
  d.SetSourceColorScheme(csRGBA);
  GuardedRow bgr(6);
  const uint8_t twoA[] = {1, 2, 3, 200, 4, 5, 6, 201};
  d.ConvertRow({twoA}, bgr.data(), 2, 0xFF);
  EXPECT_EQ(bgr.Row(), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
  EXPECT_TRUE(bgr.Intact());
}

// Every 16-bit byte pattern through the swap and scale paths, from explicit bytes.
TEST(RowConvertRGB, Every16BitPatternThroughSwapAndScale) {
  std::vector<uint8_t> bytes;
  for (uint32_t v = 0; v < 65536; ++v) {
    bytes.push_back(uint8_t(v >> 8));  // high byte first
    bytes.push_back(uint8_t(v));
  }
  const uint32_t count = 65536 / 3;  // whole pixels of three samples
  for (bool swap : {false, true}) {
    for (bool gamma : {false, true}) {
      SCOPED_TRACE(std::string(swap ? "swap" : "native") + (gamma ? " gamma" : ""));
      TColorManager m;
      m.SetTargetColorScheme(csRGB);
      m.SetSourceBitsPerSample(16);
      m.SetGamma(2.0f, 2.2f);
      if (swap) m.SourceOptions.Include(coNeedByteSwap);
      if (gamma) m.TargetOptions.Include(coApplyGamma);
      GuardedRow t8(count * 3);
      m.ConvertRow({bytes.data()}, t8.data(), count, 0xFF);
      m.SetTargetBitsPerSample(16);
      GuardedRow t16(count * 6);
      m.ConvertRow({bytes.data()}, t16.data(), count, 0xFF);
      for (uint32_t i = 0; i < count * 3; ++i) {
        const uint16_t motorola = uint16_t(bytes[2 * i] << 8 | bytes[2 * i + 1]);
        const uint16_t intel = uint16_t(bytes[2 * i + 1] << 8 | bytes[2 * i]);
        const uint16_t value = swap ? motorola : intel;
        const uint8_t scaled = uint8_t(value / 257);
        ASSERT_EQ(t8[i], gamma ? m.GammaTable()[scaled] : scaled) << i;
        ASSERT_EQ(t16.Word(i), value) << i;  // 16 -> 16 never applies gamma
      }
      EXPECT_TRUE(t8.Intact());
      EXPECT_TRUE(t16.Intact());
    }
  }
  // The bytes 0x12, 0x34 read high byte first give 18; read as stored in Intel order, 51.
  const uint8_t sample[] = {0x12, 0x34, 0x12, 0x34, 0x12, 0x34};
  TColorManager m;
  m.SetSourceBitsPerSample(16);
  uint8_t out[3];
  m.SourceOptions = {coNeedByteSwap};
  m.ConvertRow({sample}, out, 1, 0xFF);
  EXPECT_EQ(out[0], 18);
  m.SourceOptions = {};
  m.ConvertRow({sample}, out, 1, 0xFF);
  EXPECT_EQ(out[0], 51);
}

// --- Grey -------------------------------------------------------------------------------------

TEST(RowConvertGray, DepthsAlphaAndByteOrder) {
  struct Case {
    const char* name;
    TColorScheme source;
    unsigned sourceBits, targetBits;
    bool swap;
    std::vector<uint8_t> input;
    std::vector<uint8_t> expected;
  };
  const Case cases[] = {
      {"GA 8->8 drops alpha", csGA, 8, 8, false, {10, 99, 20, 98, 30, 97}, {10, 20, 30}},
      {"GA 8->16", csGA, 8, 16, false, {1, 99, 255, 98, 0, 97}, colortest::Words({257, 65535, 0})},
      {"G 16->8 swap", csG, 16, 8, true, {0x12, 0x34, 0xFF, 0xFF, 0x01, 0x00}, {18, 255, 0}},
      {"G 16->8 native", csG, 16, 8, false, colortest::Words({0x1234, 0xFFFF, 257 * 7}), {18, 255, 7}},
      {"GA 16->8 swap", csGA, 16, 8, true, {0xFF, 0x00, 0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF}, {254, 128}},
      {"GA 16->16 swap", csGA, 16, 16, true, {0x12, 0x34, 0xAB, 0xCD}, colortest::Words({0x1234})},
      {"G 16->16 native", csG, 16, 16, false, colortest::Words({0x1234, 7}), colortest::Words({0x1234, 7})},
      {"G 8->16 ignores swap", csG, 8, 16, true, {2, 3}, colortest::Words({514, 771})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TColorManager m;
    m.SetSourceColorScheme(c.source);
    m.SetTargetColorScheme(csG);
    m.SetSourceBitsPerSample(uint8_t(c.sourceBits));
    m.SetTargetBitsPerSample(uint8_t(c.targetBits));
    if (c.swap) m.SourceOptions.Include(coNeedByteSwap);
    m.TargetOptions.Include(coApplyGamma);  // never consulted by the grey converter
    GuardedRow t(c.expected.size());
    const uint32_t count = uint32_t(c.expected.size() / (c.targetBits / 8));
    m.ConvertRow({c.input.data()}, t.data(), count, 0xFF);
    EXPECT_EQ(t.Row(), c.expected);
    EXPECT_TRUE(t.Intact());
  }
  // Masked: 0x55 on four pixels fills pixels 1 and 3.
  TColorManager m;
  m.SetSourceColorScheme(csGA);
  m.SetTargetColorScheme(csG);
  const uint8_t ga[] = {40, 0, 50, 0};
  GuardedRow t(4);
  m.ConvertRow({ga}, t.data(), 4, 0x55);
  EXPECT_EQ(t.Row(), (std::vector<uint8_t>{0xCC, 40, 0xCC, 50}));
}

// --- Indexed ----------------------------------------------------------------------------------

// A row of bits, most significant bit of each byte first.
struct Bits {
  std::vector<bool> bits;
  static Bits FromBytes(const uint8_t* bytes, size_t n) {
    Bits b;
    for (size_t i = 0; i < n * 8; ++i) b.bits.push_back((bytes[i / 8] >> (7 - i % 8)) & 1);
    return b;
  }
  uint32_t Field(size_t first, unsigned width) const {
    uint32_t v = 0;
    for (unsigned k = 0; k < width; ++k) v = (v << 1) | bits[first + k];
    return v;
  }
  void SetField(size_t first, unsigned width, uint32_t v) {
    for (unsigned k = 0; k < width; ++k) bits[first + k] = (v >> (width - 1 - k)) & 1;
  }
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out(bits.size() / 8);
    for (size_t i = 0; i < bits.size(); ++i) out[i / 8] |= uint8_t(bits[i] << (7 - i % 8));
    return out;
  }
};

TEST(RowConvertIndexed, EveryPackedDepthPairMatchesTheBitModel) {
  std::mt19937 rng(7);
  for (unsigned s = 1; s <= 15; ++s) {
    for (unsigned t = 1; t <= 15; ++t) {
      for (uint32_t count : {0u, 1u, 3u, 8u, 9u, 19u}) {
        for (uint8_t mask : {uint8_t(0xFF), uint8_t(0x55), uint8_t(0x88), uint8_t(0x7E)}) {
          SCOPED_TRACE(std::to_string(s) + "->" + std::to_string(t) + " count " + std::to_string(count) + " mask " +
                       std::to_string(mask));
          TColorManager m;
          m.SetSourceColorScheme(csIndexed);
          m.SetTargetColorScheme(csIndexed);
          m.SetSourceBitsPerSample(uint8_t(s));
          m.SetTargetBitsPerSample(uint8_t(t));
          const auto selected = Selection(count, mask);
          const size_t used = size_t(std::count(selected.begin(), selected.end(), true));
          std::vector<uint8_t> source((used * s + 7) / 8);
          for (auto& b : source) b = uint8_t(rng());
          const size_t targetBytes = (size_t(count) * t + 7) / 8;
          GuardedRow target(targetBytes);
          for (size_t i = 0; i < targetBytes; ++i) target.data()[i] = uint8_t(rng());
          Bits expected = Bits::FromBytes(target.data(), targetBytes);
          const Bits in = Bits::FromBytes(source.data(), source.size());
          size_t next = 0;
          const uint32_t sMax = (1u << s) - 1, tMax = (1u << t) - 1;
          for (uint32_t i = 0; i < count; ++i)
            if (selected[i]) expected.SetField(size_t(i) * t, t, in.Field(s * next++, s) * tMax / sMax);
          m.ConvertRow({source.empty() ? nullptr : source.data()}, target.data(), count, mask);
          ASSERT_EQ(target.Row(), expected.Bytes());
          ASSERT_TRUE(target.Intact());
        }
      }
    }
  }
}

TEST(RowConvertIndexed, NamedCases) {
  auto run = [](unsigned s, unsigned t, std::vector<uint8_t> source, uint32_t count, uint8_t mask,
                std::vector<uint8_t> target, TColorScheme scheme = csIndexed) {
    TColorManager m;
    m.SetSourceColorScheme(scheme);
    m.SetTargetColorScheme(scheme);
    m.SetSourceBitsPerSample(uint8_t(s));
    m.SetTargetBitsPerSample(uint8_t(t));
    m.ConvertRow({source.data()}, target.data(), count, mask);
    return target;
  };
  EXPECT_EQ(run(1, 8, {0xB0}, 4, 0xFF, std::vector<uint8_t>(4)), (std::vector<uint8_t>{255, 0, 255, 255}));
  EXPECT_EQ(run(4, 8, {0x0F, 0x7A}, 4, 0xFF, std::vector<uint8_t>(4)), (std::vector<uint8_t>{0, 255, 119, 170}));
  EXPECT_EQ(run(8, 4, {16, 17, 255, 33}, 4, 0xFF, std::vector<uint8_t>(2)), (std::vector<uint8_t>{0x01, 0xF1}));
  // 4 -> 4 with mask 0x55 on four pixels: nibbles a, b fill pixels 1 and 3; the others keep theirs.
  EXPECT_EQ(run(4, 4, {0xAB}, 4, 0x55, {0x12, 0x34}), (std::vector<uint8_t>{0x1A, 0x3B}));
  // Equal depths, every pixel: a whole-byte copy that keeps the bits past the last pixel.
  EXPECT_EQ(run(2, 2, {0xE4, 0xFF}, 5, 0xFF, {0x00, 0x00}), (std::vector<uint8_t>{0xE4, 0xC0}));
  // Grey levels of a 2-bit image into 8 bits are rescaled like indices.
  EXPECT_EQ(run(2, 8, {0x1B}, 4, 0xFF, std::vector<uint8_t>(4), csG), (std::vector<uint8_t>{0, 85, 170, 255}));
}

TEST(RowConvertIndexed, SixteenBitIndices) {
  struct Case {
    const char* name;
    unsigned s, t;
    bool swap;
    std::vector<uint8_t> source;
    uint32_t count;
    uint8_t mask;
    std::vector<uint8_t> before, expected;
  };
  const Case cases[] = {
      {"both 16 copy", 16, 16, false, colortest::Words({1, 2, 3}), 3, 0xFF, std::vector<uint8_t>(6),
       colortest::Words({1, 2, 3})},
      {"both 16 swap",
       16,
       16,
       true,
       {0x12, 0x34, 0x00, 0x01},
       2,
       0xFF,
       std::vector<uint8_t>(4),
       colortest::Words({0x1234, 1})},
      {"both 16 masked", 16, 16, false, colortest::Words({9}), 2, 0x40, colortest::Words({5, 5}),
       colortest::Words({5, 9})},
      {"source 16 to 8",
       16,
       8,
       false,
       colortest::Words({0, 257, 65535, 514}),
       4,
       0xFF,
       std::vector<uint8_t>(4),
       {0, 1, 255, 2}},
      {"source 16 to 4 swap", 16, 4, true, {0xFF, 0xFF, 0x11, 0x11}, 2, 0xFF, {0x00}, {0xF1}},
      {"source 16 to 1 masked", 16, 1, false, colortest::Words({65535, 65535}), 8, 0x81, {0x00}, {0x81}},
      {"source 2 to 16",
       2,
       16,
       false,
       {0x1B},
       4,
       0xFF,
       std::vector<uint8_t>(8),
       colortest::Words({0, 21845, 43690, 65535})},
      {"source 4 to 16 swap", 4, 16, true, {0x10}, 2, 0xFF, std::vector<uint8_t>(4), colortest::Words({0x1111, 0})},
      {"source 12 to 16",
       12,
       16,
       false,
       {0xFF, 0xF0, 0x01},
       2,
       0xFF,
       std::vector<uint8_t>(4),
       colortest::Words({65535, 16})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TColorManager m;
    m.SetSourceColorScheme(csIndexed);
    m.SetTargetColorScheme(csIndexed);
    m.SetSourceBitsPerSample(uint8_t(c.s));
    m.SetTargetBitsPerSample(uint8_t(c.t));
    if (c.swap) m.SourceOptions.Include(coNeedByteSwap);
    GuardedRow target(c.before.size());
    std::copy(c.before.begin(), c.before.end(), target.data());
    m.ConvertRow({c.source.data()}, target.data(), c.count, c.mask);
    EXPECT_EQ(target.Row(), c.expected);
    EXPECT_TRUE(target.Intact());
  }
}

}  // namespace
}  // namespace muralo
