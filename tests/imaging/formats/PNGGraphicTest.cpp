// PNG reader: every legal colour type and bit depth, plain and interlaced, written by ImageMagick,
// Pillow and netpbm's pnmtopng and decoded by netpbm's pngtopam for reference (16-bit samples
// included); chunk-level variations (gAMA, tRNS, odd IDAT splits and letter case, unknown and
// damaged chunks, truncation) made by editing those files; both inflate paths on every file.
#include <gtest/gtest.h>

#include <zlib.h>

#include <cmath>
#include <cstring>
#include <sstream>

#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Icon.h"
#include "classlib/Streams.h"
#include "imaging/FileFormatList.h"
#include "imaging/Graphicstrings.h"
#include "imaging/formats/FormatTestSupport.h"
#include "imaging/formats/PNGGraphic.h"

namespace muralo {
namespace {

// ---- chunk editing -------------------------------------------------------------------------
struct Chunk {
  std::string Type;
  std::vector<uint8_t> Data;
};

std::vector<Chunk> Chunks(const std::vector<uint8_t>& file) {
  std::vector<Chunk> out;
  for (size_t at = 8; at + 12 <= file.size();) {
    const uint32_t n = uint32_t(file[at] << 24 | file[at + 1] << 16 | file[at + 2] << 8 | file[at + 3]);
    out.push_back({std::string(file.begin() + long(at) + 4, file.begin() + long(at) + 8),
                   std::vector<uint8_t>(file.begin() + long(at) + 8, file.begin() + long(at) + 8 + n)});
    at += 12 + n;
  }
  return out;
}

void Append(std::vector<uint8_t>& b, const Chunk& c) {
  test::PutBE32(b, uint32_t(c.Data.size()));
  const size_t typeAt = b.size();
  b.insert(b.end(), c.Type.begin(), c.Type.end());
  b.insert(b.end(), c.Data.begin(), c.Data.end());
  test::PutBE32(b, uint32_t(crc32(0, b.data() + typeAt, uInt(4 + c.Data.size()))));
}

std::vector<uint8_t> Build(const std::vector<Chunk>& chunks) {
  std::vector<uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  for (const Chunk& c : chunks) Append(b, c);
  return b;
}

// The image data stream of a file, and the chunks with the IDAT chunks replaced by `idat`.
std::vector<uint8_t> ImageData(const std::vector<Chunk>& chunks) {
  std::vector<uint8_t> z;
  for (const Chunk& c : chunks)
    if (c.Type == "IDAT") z.insert(z.end(), c.Data.begin(), c.Data.end());
  return z;
}
std::vector<Chunk> WithImageData(const std::vector<Chunk>& chunks, const std::vector<Chunk>& idat) {
  std::vector<Chunk> out;
  for (const Chunk& c : chunks) {
    if (c.Type != "IDAT")
      out.push_back(c);
    else if (&c == &*std::find_if(chunks.begin(), chunks.end(), [](const Chunk& k) { return k.Type == "IDAT"; }))
      out.insert(out.end(), idat.begin(), idat.end());
  }
  return out;
}
// Inserts a chunk right after IHDR.
std::vector<Chunk> WithAfterHeader(std::vector<Chunk> chunks, const Chunk& c) {
  chunks.insert(chunks.begin() + 1, c);
  return chunks;
}
std::vector<uint8_t> BE16s(std::initializer_list<uint32_t> values) {
  std::vector<uint8_t> b;
  for (uint32_t v : values) test::PutBE16(b, uint16_t(v));
  return b;
}

// ---- the reference: pngtopam's decode with its alpha, samples at the file's depth ----------------
struct Reference {
  int Width = 0, Height = 0, Depth = 0;
  uint32_t MaxVal = 0;
  std::vector<uint32_t> Samples;
  uint32_t At(int x, int y, int s) const { return Samples[(size_t(y) * Width + x) * Depth + s]; }
};

Reference PngToPam(const test::TempDir& dir, const std::vector<uint8_t>& file) {
  const std::string in = dir.File("ref.png"), out = dir.File("ref.pam");
  test::WriteBytes(in, file);
  test::RunTool(test::kPngToPam + " -alphapam '" + in + "' > '" + out + "'");
  const std::vector<uint8_t> pam = test::FileBytes(out);
  const std::string text(pam.begin(), pam.end());
  const size_t end = text.find("ENDHDR\n");
  if (end == std::string::npos) throw std::runtime_error(test::kPngToPam + " wrote no PAM header");
  std::istringstream header(text.substr(0, end));
  Reference r;
  for (std::string key; header >> key;) {
    if (key == "WIDTH") {
      header >> r.Width;
    } else if (key == "HEIGHT") {
      header >> r.Height;
    } else if (key == "DEPTH") {
      header >> r.Depth;
    } else if (key == "MAXVAL") {
      header >> r.MaxVal;
    }
  }
  const size_t bytes = r.MaxVal > 255 ? 2 : 1;
  for (size_t at = end + 7; at + bytes <= pam.size(); at += bytes)
    r.Samples.push_back(bytes == 2 ? uint32_t(pam[at] << 8 | pam[at + 1]) : pam[at]);
  if (r.Samples.size() != size_t(r.Width) * r.Height * r.Depth)
    throw std::runtime_error("short PAM from " + test::kPngToPam);
  return r;
}

// What a sample at the file's depth shows as in the bitmap: 16-bit samples keep their high byte
// (v × 255 div 65535), smaller depths spread over 0..255; with gAMA, the display table
// round(255 × (x / 255)^(1 / (gamma × 2.2))), halves to even.
struct Expectation {
  uint32_t MaxVal;
  float Gamma = 0;  // 0: no gAMA
  uint8_t operator()(uint32_t v) const {
    const uint32_t x = MaxVal == 65535 ? v * 255 / 65535 : v * 255 / MaxVal;
    if (Gamma <= 0) return uint8_t(x);
    const float exponent = 1.0f / (Gamma * 2.2f);
    return uint8_t(std::nearbyint(std::pow(x / 255.0, double(exponent)) * 255.0));
  }
};

// ImageMagick's alpha of a file (netpbm's pngtopam leaves a true-colour tRNS out of its alpha).
std::vector<uint8_t> AlphaFromImageMagick(const test::TempDir& dir, const std::vector<uint8_t>& file) {
  const std::string in = dir.File("alpha.png"), out = dir.File("alpha.gray");
  test::WriteBytes(in, file);
  test::RunTool(test::kMagick + " '" + in + "' -alpha extract -depth 8 gray:'" + out + "'");
  return test::FileBytes(out);
}

bool IsTransparent(const TBitmap& b, const uint8_t* bgra) {
  return b.Transparent && RGB(bgra[2], bgra[1], bgra[0]) == b.TransparentColor;
}

// Our decode against the reference: colours (and alpha for RGBA images); with `trnsAlpha`, a
// pixel is drawn transparent exactly where that alpha is 0.
void ExpectMatches(const TPNGGraphic& png, const Reference& ref, const Expectation& expect,
                   const std::vector<uint8_t>* trnsAlpha, int tolerance) {
  const bool alphaIsTRNS = trnsAlpha != nullptr;
  if (alphaIsTRNS) {
    ASSERT_EQ(trnsAlpha->size(), size_t(ref.Width) * ref.Height);
  }
  ASSERT_EQ(png.Width(), ref.Width);
  ASSERT_EQ(png.Height(), ref.Height);
  const bool grey = ref.Depth <= 2;
  int transparent = 0;
  std::vector<uint8_t> bgra(size_t(ref.Width) * 4);
  for (int y = 0; y < ref.Height; ++y) {
    png.ReadRowBGRA(y, bgra.data());
    for (int x = 0; x < ref.Width; ++x) {
      const uint8_t* o = &bgra[size_t(x) * 4];
      int want[4];
      for (int c = 0; c < 3; ++c) want[c] = expect(ref.At(x, y, grey ? 0 : c));
      const uint32_t alpha = ref.At(x, y, ref.Depth - 1);
      const int got[4] = {o[2], o[1], o[0], png.PixelFormat() == TPixelFormat::pf32bit ? png.RowData(y)[4 * x + 3] : 0};
      want[3] = png.PixelFormat() == TPixelFormat::pf32bit ? int(alpha * 255 / ref.MaxVal) : 0;
      for (int c = 0; c < 4; ++c)
        if (std::abs(got[c] - want[c]) > tolerance) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") sample " << c << ": ours " << got[c] << ", expected "
                        << want[c];
          return;
        }
      if (alphaIsTRNS) {
        const bool shouldBe = (*trnsAlpha)[size_t(y) * ref.Width + x] == 0;
        transparent += shouldBe;
        if (IsTransparent(png, o) != shouldBe) {
          ADD_FAILURE() << "pixel (" << x << ", " << y << ") transparency: ours " << !shouldBe;
          return;
        }
      }
    }
  }
  if (alphaIsTRNS) {
    EXPECT_GT(transparent, 0) << "the tRNS colour matches no pixel; the case tests nothing";
  }
}

// Loads with both inflaters; they must give identical bitmaps. Answers the one-call decode.
std::unique_ptr<TPNGGraphic> LoadBothWays(const std::vector<uint8_t>& bytes,
                                          TPNGInflatePath expected = TPNGInflatePath::ipWhole) {
  auto whole = std::make_unique<TPNGGraphic>();
  TMemoryStream s1(bytes);
  whole->LoadFromStream(s1);
  EXPECT_EQ(whole->LastInflatePath(), expected);
  TPNGGraphic streaming;
  streaming.AllowWholeInflate = false;
  TMemoryStream s2(bytes);
  streaming.LoadFromStream(s2);
  EXPECT_EQ(streaming.LastInflatePath(), TPNGInflatePath::ipStreaming);
  EXPECT_EQ(whole->PixelFormat(), streaming.PixelFormat());
  EXPECT_TRUE(whole->Bits() == streaming.Bits()) << "the two inflate paths disagree";
  EXPECT_EQ(whole->Transparent, streaming.Transparent);
  EXPECT_EQ(whole->TransparentColor, streaming.TransparentColor);
  return whole;
}

// ---- the oracle table ------------------------------------------------------------------------
struct OracleCase {
  const char* Name;
  uint8_t ColorType, BitDepth;
  bool Interlaced;
  std::string Command;  // writes out.png in the scratch folder from in.ppm / ina.png
  TPixelFormat Format;
};

#define IM test::kMagick + " ina.png "
#define PAL(n, bits)                                                                                                  \
  test::kPython + " -c \"from PIL import Image; Image.open('in.ppm').convert('P', palette=Image.ADAPTIVE, colors=" #n \
                  ").save('out.png', bits=" #bits ")\""
#define PNMPAL(n) test::kMagick + " in.ppm -colors " #n " q.ppm && " + test::kPnmToPng + " -interlace q.ppm > out.png"

const OracleCase kCases[] = {
    {"grey1", 0, 1, false,
     IM "-alpha off -colorspace Gray -depth 1 -define png:bit-depth=1 -define png:color-type=0 out.png",
     TPixelFormat::pf1bit},
    {"grey2", 0, 2, false,
     IM "-alpha off -colorspace Gray -depth 2 -define png:bit-depth=2 -define png:color-type=0 out.png",
     TPixelFormat::pf4bit},
    {"grey4", 0, 4, false,
     IM "-alpha off -colorspace Gray -depth 4 -define png:bit-depth=4 -define png:color-type=0 out.png",
     TPixelFormat::pf4bit},
    {"grey8", 0, 8, false, IM "-alpha off -colorspace Gray -define png:bit-depth=8 -define png:color-type=0 out.png",
     TPixelFormat::pf8bit},
    {"grey16", 0, 16, false,
     IM "-alpha off -colorspace Gray +noise Gaussian -define png:bit-depth=16 -define png:color-type=0 out.png",
     TPixelFormat::pf8bit},
    {"rgb8", 2, 8, false, IM "-alpha off png24:out.png", TPixelFormat::pf24bit},
    {"rgb16", 2, 16, false, IM "-alpha off +noise Gaussian png48:out.png", TPixelFormat::pf24bit},
    {"palette1", 3, 1, false, PAL(2, 1), TPixelFormat::pf1bit},
    {"palette2", 3, 2, false, PAL(4, 2), TPixelFormat::pf4bit},
    {"palette4", 3, 4, false, PAL(16, 4), TPixelFormat::pf4bit},
    {"palette8", 3, 8, false, PAL(200, 8), TPixelFormat::pf8bit},
    {"grey_alpha8", 4, 8, false, IM "-colorspace Gray -define png:bit-depth=8 -define png:color-type=4 out.png",
     TPixelFormat::pf8bit},
    {"grey_alpha16", 4, 16, false,
     IM "-colorspace Gray +noise Gaussian -define png:bit-depth=16 -define png:color-type=4 out.png",
     TPixelFormat::pf8bit},
    {"rgba8", 6, 8, false, IM "png32:out.png", TPixelFormat::pf32bit},
    {"rgba16", 6, 16, false, IM "+noise Gaussian png64:out.png", TPixelFormat::pf32bit},
    {"grey1_adam7", 0, 1, true,
     IM "-alpha off -colorspace Gray -depth 1 -interlace PNG -define png:bit-depth=1 -define png:color-type=0 out.png",
     TPixelFormat::pf1bit},
    {"grey2_adam7", 0, 2, true,
     IM "-alpha off -colorspace Gray -depth 2 -interlace PNG -define png:bit-depth=2 -define png:color-type=0 out.png",
     TPixelFormat::pf4bit},
    {"grey4_adam7", 0, 4, true,
     IM "-alpha off -colorspace Gray -depth 4 -interlace PNG -define png:bit-depth=4 -define png:color-type=0 out.png",
     TPixelFormat::pf4bit},
    {"grey8_adam7", 0, 8, true,
     IM "-alpha off -colorspace Gray -interlace PNG -define png:bit-depth=8 -define png:color-type=0 out.png",
     TPixelFormat::pf8bit},
    {"grey16_adam7", 0, 16, true,
     IM "-alpha off -colorspace Gray +noise Gaussian -interlace PNG -define png:bit-depth=16 -define png:color-type=0 "
        "out.png",
     TPixelFormat::pf8bit},
    {"rgb8_adam7", 2, 8, true, IM "-alpha off -interlace PNG png24:out.png", TPixelFormat::pf24bit},
    {"rgb16_adam7", 2, 16, true, IM "-alpha off +noise Gaussian -interlace PNG png48:out.png", TPixelFormat::pf24bit},
    {"palette1_adam7", 3, 1, true, PNMPAL(2), TPixelFormat::pf1bit},
    {"palette2_adam7", 3, 2, true, PNMPAL(4), TPixelFormat::pf4bit},
    {"palette4_adam7", 3, 4, true, PNMPAL(16), TPixelFormat::pf4bit},
    {"palette8_adam7", 3, 8, true, PNMPAL(200), TPixelFormat::pf8bit},
    {"grey_alpha8_adam7", 4, 8, true,
     IM "-colorspace Gray -interlace PNG -define png:bit-depth=8 -define png:color-type=4 out.png",
     TPixelFormat::pf8bit},
    {"grey_alpha16_adam7", 4, 16, true,
     IM "-colorspace Gray +noise Gaussian -interlace PNG -define png:bit-depth=16 -define png:color-type=4 out.png",
     TPixelFormat::pf8bit},
    {"rgba8_adam7", 6, 8, true, IM "-interlace PNG png32:out.png", TPixelFormat::pf32bit},
    {"rgba16_adam7", 6, 16, true, IM "+noise Gaussian -interlace PNG png64:out.png", TPixelFormat::pf32bit},
};

std::vector<uint8_t> Write(const test::TempDir& dir, const std::string& command) {
  // 37 × 23: odd sizes put every Adam7 pass and every partial byte at work.
  test::RunTool(test::kMagick + " rose: -resize 37x23! '" + dir.File("in.ppm") + "'");
  test::RunTool(test::kMagick + " '" + dir.File("in.ppm") + "' -alpha set -channel A -fx 'i/w' +channel '" +
                dir.File("ina.png") + "'");
  test::RunTool("cd '" + dir.path().string() + "' && " + command + " 2>/dev/null");
  return test::FileBytes(dir.File("out.png"));
}

class PNGOracle : public testing::TestWithParam<OracleCase> {};

TEST_P(PNGOracle, DecodesLikePngtopam) {
  const OracleCase& c = GetParam();
  test::TempDir dir;
  const std::vector<uint8_t> file = Write(dir, c.Command);
  ASSERT_EQ(file[24], c.BitDepth) << "the encoder chose another depth";
  ASSERT_EQ(file[25], c.ColorType) << "the encoder chose another colour type";
  ASSERT_EQ(file[28], c.Interlaced ? 1 : 0);
  const std::vector<Chunk> chunks = Chunks(file);
  // Encoders add tRNS, bKGD or gAMA chunks of their own; the plain case goes without them.
  std::vector<Chunk> plain;
  for (const Chunk& k : chunks)
    if (k.Type != "tRNS" && k.Type != "bKGD" && k.Type != "gAMA") plain.push_back(k);
  const std::vector<uint8_t> bytes = Build(plain);
  const Reference ref = PngToPam(dir, bytes);
  {
    SCOPED_TRACE("as written");
    auto png = LoadBothWays(bytes);
    EXPECT_EQ(png->PixelFormat(), c.Format);
    EXPECT_FALSE(png->Transparent);
    ExpectMatches(*png, ref, {ref.MaxVal}, nullptr, 0);
  }
  {
    SCOPED_TRACE("gAMA 1.0");
    auto png = LoadBothWays(Build(WithAfterHeader(plain, {"gAMA", {0, 1, 0x86, 0xA0}})));
    EXPECT_TRUE(png->ImageProperties.Options.Has(ioUseGamma));
    EXPECT_FLOAT_EQ(png->ImageProperties.FileGamma, 1.0f);
    // the colour manager's table is computed in single precision: one level either way
    ExpectMatches(*png, ref, {ref.MaxVal, 1.0f}, nullptr, 1);
  }
  if (c.ColorType == 0 || c.ColorType == 2) {
    SCOPED_TRACE("tRNS of a sample value present in the image");
    // Pixel (5, 5)'s samples; at 16 bits, pixels sharing only their high byte must stay opaque.
    const int x = 5, y = 5;
    const std::vector<uint8_t> trns =
        c.ColorType == 0 ? BE16s({ref.At(x, y, 0)}) : BE16s({ref.At(x, y, 0), ref.At(x, y, 1), ref.At(x, y, 2)});
    const std::vector<uint8_t> withTRNS = Build(WithAfterHeader(plain, {"tRNS", trns}));
    auto png = LoadBothWays(withTRNS);
    EXPECT_TRUE(png->Transparent);
    const std::vector<uint8_t> alpha = AlphaFromImageMagick(dir, withTRNS);
    ExpectMatches(*png, ref, {ref.MaxVal}, &alpha, c.BitDepth == 16 ? 1 : 0);
  }
  {
    SCOPED_TRACE("image data in one-byte chunks among empty ones, lower-case names");
    const std::vector<uint8_t> z = ImageData(plain);
    std::vector<Chunk> idat = {{"IDAT", {}}};
    for (size_t i = 0; i < z.size(); ++i) idat.push_back({i % 2 ? "idat" : "IdAt", {z[i]}});
    idat.push_back({"IDAT", {}});
    auto split = LoadBothWays(Build(WithImageData(plain, idat)));
    auto png = LoadBothWays(bytes);
    EXPECT_TRUE(split->Bits() == png->Bits());
  }
}

INSTANTIATE_TEST_SUITE_P(AllColourTypesAndDepths, PNGOracle, testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.Name); });

// ---- chunk rules on crafted files ------------------------------------------------------------
std::vector<uint8_t> Zlib(const std::vector<uint8_t>& raw) {
  uLongf n = compressBound(uLong(raw.size()));
  std::vector<uint8_t> z(n);
  if (compress2(z.data(), &n, raw.data(), uLong(raw.size()), 9) != Z_OK) throw std::runtime_error("zlib failed");
  z.resize(n);
  return z;
}

Chunk IHDR(uint32_t w, uint32_t h, uint8_t depth, uint8_t type, uint8_t interlace = 0, uint8_t compression = 0) {
  std::vector<uint8_t> d;
  test::PutBE32(d, w);
  test::PutBE32(d, h);
  d.insert(d.end(), {depth, type, compression, 0, interlace});
  return {"IHDR", d};
}

// A 3 × 2 RGB image, rows filtered None and Sub.
std::vector<Chunk> TinyRGB() {
  const std::vector<uint8_t> raw = {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 1, 2, 3, 1, 1, 1, 2, 2, 2};
  return {IHDR(3, 2, 8, 2), {"IDAT", Zlib(raw)}, {"IEND", {}}};
}

template <typename E>
std::string LoadError(const std::vector<uint8_t>& bytes) {
  try {
    test::LoadBytes<TPNGGraphic>(bytes);
  } catch (const E& e) {
    return e.what();
  }
  return "(loaded)";
}

TEST(PNGReader, ChunkRules) {
  const std::string invalid = Format(gesInvalidImage, "PNG");
  struct Case {
    const char* Name;
    std::vector<Chunk> Chunks;
    std::string Error;  // empty: loads
  };
  std::vector<Chunk> t = TinyRGB();
  auto with = [&](size_t at, Chunk c) {
    auto k = t;
    k.insert(k.begin() + long(at), std::move(c));
    return k;
  };
  const Case cases[] = {
      {"unknown critical chunk before the data", with(1, {"ABCD", {1}}), gesUnknownCriticalChunk},
      {"unknown critical chunk after the data", with(2, {"ABCD", {1}}), gesUnknownCriticalChunk},
      {"unknown ancillary chunk", with(2, {"abCD", {1}}), ""},
      {"text chunk after the data", with(2, {"tEXt", {'a', 0, 'b'}}), ""},
      {"palette in an RGB image", with(1, {"PLTE", {1, 2, 3}}), ""},
      {"palette of 4 bytes", with(1, {"PLTE", {1, 2, 3, 4}}), Format(gesInvalidPalette, "PNG")},
      {"CgBI before IHDR", with(0, {"CgBI", {0, 0, 0, 0}}), invalid},
      {"no image data", {t[0], t[2]}, invalid},
      {"zero width", {IHDR(0, 2, 8, 2), t[1], t[2]}, invalid},
      {"compression method 1",
       {IHDR(3, 2, 8, 2, 0, 1), t[1], t[2]},
       Format(gesUnsupportedFeature, gesCompressionScheme, "PNG")},
      {"RGB of 4 bits", {IHDR(3, 2, 4, 2), t[1], t[2]}, Format(gesInvalidColorFormat, "PNG")},
      {"colour type 5", {IHDR(3, 2, 8, 5), t[1], t[2]}, Format(gesInvalidColorFormat, "PNG")},
      {"palette image without palette", {IHDR(3, 2, 8, 3), t[1], t[2]}, Format(gesInvalidPalette, "PNG")},
      {"stream shorter than the image", {IHDR(3, 3, 8, 2), t[1], t[2]}, Format(gesExtraCompressedData, "PNG")},
      {"corrupt stream", {t[0], {"IDAT", {0x78, 0x9C, 0xFF, 0xFF, 0xFF, 0xFF}}, t[2]}, Format(gesCompression, "PNG")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    const std::vector<uint8_t> bytes = Build(c.Chunks);
    if (c.Error.empty()) {
      auto png = LoadBothWays(bytes, TPNGInflatePath::ipWhole);
      EXPECT_EQ(png->Pixel(2, 1), RGB(4, 5, 6));
    } else {
      EXPECT_EQ(LoadError<Exception>(bytes), c.Error);
    }
  }
}

TEST(PNGReader, CRCErrorsOfChunksThatAreRead) {
  std::vector<uint8_t> bytes = Build(TinyRGB());
  bytes[8 + 8 + 13] ^= 1;  // IHDR's CRC
  EXPECT_EQ(LoadError<EInvalidGraphic>(bytes), Format(gesInvalidCRC, "PNG"));
  bytes = Build(TinyRGB());
  bytes[bytes.size() - 12 - 1] ^= 1;  // IDAT's CRC
  EXPECT_EQ(LoadError<EInvalidGraphic>(bytes), Format(gesInvalidCRC, "PNG"));
}

TEST(PNGReader, TruncationAtEveryChunkBoundaryIsAnError) {
  test::TempDir dir;
  const std::vector<uint8_t> file = Write(dir, kCases[20].Command);  // interlaced RGB, several chunks
  size_t at = 8;
  for (const Chunk& c : Chunks(file)) {
    for (size_t cut : {at, at + 4, at + 8, at + 8 + c.Data.size()}) {
      SCOPED_TRACE(testing::Message() << "cut at " << cut << " in " << c.Type);
      EXPECT_THROW(test::LoadBytes<TPNGGraphic>({file.begin(), file.begin() + long(cut)}), Exception);
    }
    at += 12 + c.Data.size();
  }
  EXPECT_EQ(at, file.size());
}

TEST(PNGReader, HostileSizesAndStreams) {
  {
    SCOPED_TRACE("1 × 2^31 - 1 is refused before anything is allocated");
    const std::vector<uint8_t> b = Build({IHDR(1, 0x7FFFFFFF, 8, 2), TinyRGB()[1], {"IEND", {}}});
    EXPECT_THROW(test::LoadBytes<TPNGGraphic>(b), EInvalidGraphic);
  }
  {
    SCOPED_TRACE("a zlib bomb stops at the image's size");
    const std::vector<uint8_t> b =
        Build({IHDR(16, 16, 8, 0), {"IDAT", Zlib(std::vector<uint8_t>(64 << 20, 0))}, {"IEND", {}}});
    ASSERT_LT(b.size(), 100000u);
    auto png = LoadBothWays(b, TPNGInflatePath::ipStreaming);
    EXPECT_EQ(png->Pixel(15, 15), RGB(0, 0, 0));
  }
  {
    SCOPED_TRACE("ten thousand empty image data chunks");
    std::vector<Chunk> k = {IHDR(3, 2, 8, 2)};
    k.insert(k.end(), 10000, Chunk{"IDAT", {}});
    k.push_back(TinyRGB()[1]);
    k.push_back({"IEND", {}});
    auto png = LoadBothWays(Build(k));
    EXPECT_EQ(png->Pixel(2, 1), RGB(4, 5, 6));
  }
}

TEST(PNGReader, PaletteIndexPastThePaletteShowsBlack) {
  // 4 × 1 at 2 bits, indices 0 1 2 3, a palette of two entries.
  const std::vector<Chunk> k = {
      IHDR(4, 1, 2, 3), {"PLTE", {255, 0, 0, 0, 255, 0}}, {"IDAT", Zlib({0, 0x1B})}, {"IEND", {}}};
  auto png = LoadBothWays(Build(k));
  EXPECT_EQ(png->Pixel(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(png->Pixel(1, 0), RGB(0, 255, 0));
  EXPECT_EQ(png->Pixel(2, 0), RGB(0, 0, 0));
  EXPECT_EQ(png->Pixel(3, 0), RGB(0, 0, 0));
}

TEST(PNGReader, RowsMissingFromAShortStreamShowTheBackground) {
  // 2 × 3 RGB at 16 bits; the stream is cut (without its end) after the first row.
  std::vector<uint8_t> raw = {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
  std::vector<uint8_t> z = Zlib(raw);
  z.resize(z.size() - 4);  // the Adler-32 goes: the stream never ends, the next rows never come
  // z now ends with the whole first row (a single stored or fixed block); three rows are declared
  const std::vector<Chunk> k = {
      IHDR(2, 3, 16, 2), {"bKGD", BE16s({0xFFFF, 0x8000, 0x0000})}, {"IDAT", z}, {"IEND", {}}};
  auto png = LoadBothWays(Build(k), TPNGInflatePath::ipStreaming);
  EXPECT_EQ(png->Pixel(1, 0), RGB(0x12, 0x56, 0x9A));
  EXPECT_EQ(png->Pixel(0, 2), RGB(255, 127, 0));
}

TEST(PNGReader, AnimatedFileShowsItsDefaultImage) {
  test::TempDir dir;
  test::RunTool(test::kPython +
                " -c \"from PIL import Image; a = Image.new('RGB', (5, 4), (200, 10, 30)); "
                "b = Image.new('RGB', (5, 4), (0, 0, 255)); a.save('" +
                dir.File("anim.png") + "', save_all=True, append_images=[b])\"");
  const std::vector<uint8_t> file = test::FileBytes(dir.File("anim.png"));
  bool animated = false;
  for (const Chunk& c : Chunks(file)) animated |= c.Type == "acTL";
  ASSERT_TRUE(animated);
  auto png = LoadBothWays(file);
  EXPECT_EQ(png->Pixel(4, 3), RGB(200, 10, 30));
}

TEST(PNGReader, TransparentColourIsHonouredWhenDrawn) {
  // 2 × 1 grey at 8 bits, tRNS grey 7: the first pixel lets the white under it show.
  const std::vector<Chunk> k = {IHDR(2, 1, 8, 0), {"tRNS", BE16s({7})}, {"IDAT", Zlib({0, 7, 9})}, {"IEND", {}}};
  auto png = LoadBothWays(Build(k));
  TBitmap target;
  target.SetPixelFormat(TPixelFormat::pf24bit);
  target.SetSize(2, 1);
  target.Canvas().Brush.Color = clWhite;
  target.Canvas().FillRect(TRect{0, 0, 2, 1});
  target.Canvas().Draw(0, 0, *png);
  EXPECT_EQ(target.Pixel(0, 0), clWhite);
  EXPECT_EQ(target.Pixel(1, 0), RGB(9, 9, 9));
}

TEST(PNGReader, IconsWithPNGImagesLoad) {
  TFrameworkScope framework;
  test::TempDir dir;
  test::RunTool(test::kMagick + " rose: -resize 256x256! -alpha set -channel A -fx 'j/h' +channel '" +
                dir.File("big.png") + "'");
  test::RunTool(test::kMagick + " '" + dir.File("big.png") + "' '" + dir.File("icon.ico") + "'");
  const std::vector<uint8_t> ico = test::FileBytes(dir.File("icon.ico"));
  ASSERT_EQ(std::memcmp(ico.data() + 22 + 0, "\x89PNG", 4), 0) << "ImageMagick wrote no PNG entry";
  TIcon icon;
  TMemoryStream s(ico);
  icon.LoadFromStream(s);
  ASSERT_EQ(icon.Width(), 256);
  const Reference ref = PngToPam(dir, test::FileBytes(dir.File("big.png")));
  const std::vector<uint8_t>& px = icon.Pixels();
  for (int y = 0; y < 256; y += 51)
    for (int x = 0; x < 256; x += 37) {
      SCOPED_TRACE(testing::Message() << "pixel " << x << ", " << y);
      const uint8_t* p = px.data() + (size_t(y) * 256 + x) * 4;
      const uint32_t m = ref.MaxVal;
      EXPECT_EQ(p[2], ref.At(x, y, 0) * 255 / m);
      EXPECT_EQ(p[3], ref.At(x, y, 3) * 255 / m);
    }
}

// The vector unfilters against the portable ones: every filter type, pixel sizes 1 to 8, row
// lengths around the vector widths, random rows; guard bytes after the row stay untouched.
TEST(PNGFilters, VectorAndPortablePathsAgree) {
  uint32_t seed = 12345;
  auto next = [&] { return uint8_t((seed = seed * 1103515245u + 12345u) >> 16); };
  for (uint8_t filter = 0; filter <= 5; ++filter)
    for (uint32_t bpp = 1; bpp <= 8; ++bpp)
      for (uint32_t r : {0u, 1u, 3u, 4u, 7u, 8u, 9u, 12u, 15u, 16u, 17u, 33u, 96u}) {
        SCOPED_TRACE(testing::Message() << "filter " << int(filter) << ", " << bpp << " bytes per pixel, " << r);
        std::vector<uint8_t> line(r + 4), prev(r + 4);
        for (auto& b : line) b = next();
        for (auto& b : prev) b = next();
        std::vector<uint8_t> a(r + 4, 0xA5), p(r + 4, 0xA5);
        ApplyFilter(filter, line.data(), prev.data(), a.data(), bpp, r);
        ApplyFilterPortable(filter, line.data(), prev.data(), p.data(), bpp, r);
        EXPECT_EQ(a, p);
        for (uint32_t i = r; i < r + 4; ++i) EXPECT_EQ(a[i], 0xA5);
      }
}

}  // namespace
}  // namespace muralo
