// TMetafile: loading and sizes, saving the original bytes, and the record players checked per
// record family on files built byte by byte whose raster is known exactly (GDI rules: no
// anti-aliasing, right and bottom edges excluded), plus libwmf as an oracle for WMF.
#include <gtest/gtest.h>

#include <array>
#include <functional>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Metafile.h"
#include "classlib/MetafileBuilder.h"
#include "classlib/MetafileCaches.h"
#include "classlib/Streams.h"
#include "classlib/TestTools.h"

namespace muralo {
namespace {

using test::EmfBuilder;
using test::WmfBuilder;

constexpr TColor kRed = 0x0000FF, kBlue = 0xFF0000, kGreen = 0x00FF00, kWhite = 0xFFFFFF, kBlack = 0;

std::unique_ptr<TMetafile> Load(const std::vector<uint8_t>& bytes) {
  auto m = std::make_unique<TMetafile>();
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  m->LoadFromStream(s);
  return m;
}

// Draws the file onto a white 24-bit bitmap of w × h, into rect (the whole bitmap by default).
std::unique_ptr<TBitmap> Render(const std::vector<uint8_t>& bytes, int w, int h, TRect rect = {}) {
  TMetafile m;
  TReadOnlyMemoryStream s(bytes.data(), bytes.size());
  m.LoadFromStream(s);
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(TPixelFormat::pf24bit);
  b->SetSize(w, h);
  b->Canvas().Brush.Color = clWhite;
  b->Canvas().FillRect({0, 0, w, h});
  if (rect == TRect{}) rect = {0, 0, w, h};
  b->Canvas().StretchDraw(rect, m);
  return b;
}

struct Probe {
  int x, y;
  TColor color;
};
struct DrawCase {
  const char* name;
  std::function<std::vector<uint8_t>()> build;
  int width, height;
  std::vector<Probe> probes;
};

void Check(const DrawCase& c) {
  SCOPED_TRACE(c.name);
  const auto b = Render(c.build(), c.width, c.height);
  for (const Probe& p : c.probes) EXPECT_EQ(b->Pixel(p.x, p.y), p.color) << "at (" << p.x << ", " << p.y << ")";
}

int CountColor(const TBitmap& b, TColor c, TRect r) {
  int n = 0;
  for (int y = r.Top; y < r.Bottom; ++y)
    for (int x = r.Left; x < r.Right; ++x) n += b.Pixel(x, y) == c;
  return n;
}

// ---------------------------------------------------------------------------------------------
// loading

TEST(Metafile, SizesAsWindowsComputesThem) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    int width, height, mmWidth, mmHeight;
  };
  EmfBuilder emf(0, 0);
  std::vector<uint8_t> emf300 = EmfBuilder(30, 20).Bytes();
  // frame 0..5080 × 0..2540 (0.01 mm) on a 1024 × 768 pixel, 320 × 240 mm device
  for (auto [at, v] : {std::pair{24, 0}, {28, 0}, {32, 5080}, {36, 2540}, {72, 1024}, {76, 768}, {80, 320}, {84, 240}})
    for (int k = 0; k < 4; ++k) emf300[size_t(at + k)] = uint8_t(uint32_t(v) >> (8 * k));
  const Case cases[] = {
      {"placeable at 96 per inch", WmfBuilder(40, 30).Bytes(), 40, 30, 1058, 794},
      {"placeable at 1440 per inch (twips)", WmfBuilder(2880, 1440, 1440).Bytes(), 192, 96, 5080, 2540},
      {"placeable box rounds like MulDiv", WmfBuilder(1001, 1000, 1000).Bytes(), 96, 96, 2543, 2540},
      {"plain WMF takes its window", WmfBuilder(0, 0, 96, false).Rec(0x020C, {25, 50}).Bytes(), 50, 25, 1323, 661},
      {"EMF frame at one pixel a millimetre", EmfBuilder(30, 20).Bytes(), 30, 20, 3000, 2000},
      {"EMF frame at the reference device's resolution", emf300, 163, 81, 5080, 2540},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto m = Load(c.bytes);
    EXPECT_EQ(m->Width(), c.width);
    EXPECT_EQ(m->Height(), c.height);
    EXPECT_EQ(m->MMWidth(), c.mmWidth);
    EXPECT_EQ(m->MMHeight(), c.mmHeight);
  }
}

TEST(Metafile, HeaderFields) {
  const auto pw = Load(WmfBuilder(40, 30, 96, true, 7).Bytes());
  const TMetafile& w = *pw;
  EXPECT_FALSE(w.Enhanced());
  EXPECT_TRUE(w.Header().Placeable);
  EXPECT_EQ(w.Header().PlaceableBox, (TRect{0, 0, 40, 30}));
  EXPECT_EQ(w.Header().Inch, 96);
  EXPECT_EQ(w.Header().ObjectCount, 7);
  const auto pe = Load(EmfBuilder(30, 20, 5).Rectangle(1, 1, 2, 2).Bytes());
  const TMetafile& e = *pe;
  EXPECT_TRUE(e.Enhanced());
  EXPECT_EQ(e.Header().Frame, (TRect{0, 0, 3000, 2000}));
  EXPECT_EQ(e.Header().Bounds, (TRect{0, 0, 29, 19}));
  EXPECT_EQ(e.Header().Device, (TPoint{1000, 1000}));
  EXPECT_EQ(e.Header().Millimeters, (TPoint{1000, 1000}));
  EXPECT_EQ(e.Header().Records, 3u);
  EXPECT_EQ(e.Header().Handles, 5);
}

TEST(Metafile, SavesTheBytesItWasLoadedFrom) {
  for (const std::vector<uint8_t>& bytes :
       {WmfBuilder(10, 10).Brush(kRed).Bytes(), EmfBuilder(8, 8).Rectangle(0, 0, 4, 4).Bytes()}) {
    const auto pm = Load(bytes);
    TMetafile& m = *pm;
    TMemoryStream out;
    m.SaveToStream(out);
    EXPECT_EQ(out.Bytes(), bytes);
    TMetafile copy;
    copy.Assign(m);
    TMemoryStream again;
    copy.SaveToStream(again);
    EXPECT_EQ(again.Bytes(), bytes);
    EXPECT_EQ(copy.Width(), m.Width());
  }
  TMetafile empty;
  TMemoryStream out;
  EXPECT_THROW(empty.SaveToStream(out), EInvalidGraphic);
}

TEST(Metafile, RefusesWhatIsNoMetafile) {
  std::vector<uint8_t> zeroInch = WmfBuilder(10, 10, 0).Bytes();
  std::vector<uint8_t> emptyBox = WmfBuilder(0, 10).Bytes();
  std::vector<uint8_t> badVersion = WmfBuilder(10, 10).Bytes();
  badVersion[22 + 4] = 0x07;
  std::vector<uint8_t> emfNoDevice = EmfBuilder(10, 10).Bytes();
  emfNoDevice[72] = emfNoDevice[73] = 0;
  std::vector<uint8_t> emfEmptyFrame = EmfBuilder(0, 10).Bytes();
  std::vector<uint8_t> emfHugeHeader = EmfBuilder(10, 10).Bytes();
  emfHugeHeader[5] = 0x7F;
  const std::pair<const char*, std::vector<uint8_t>> cases[] = {
      {"zero units per inch", zeroInch},
      {"empty placeable box", emptyBox},
      {"unknown WMF version", badVersion},
      {"plain WMF without a window", WmfBuilder(0, 0, 96, false).Bytes()},
      {"EMF reference device of 0 pixels", emfNoDevice},
      {"EMF empty frame", emfEmptyFrame},
      {"EMF header larger than the file", emfHugeHeader},
      {"text", std::vector<uint8_t>(40, 'A')},
  };
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    EXPECT_THROW(Load(bytes), EInvalidGraphic);
  }
  EXPECT_THROW(Load(std::vector<uint8_t>(10, 0)), EReadError);
}

// ---------------------------------------------------------------------------------------------
// EMF record families

std::vector<uint8_t> Dib2x2() { return test::Dib24(2, 2, {kRed, kGreen, kBlue, kBlack}); }

// EMR_STRETCHDIBITS of dib into (x, y, w, h) with rop.
void StretchDib(EmfBuilder& e, const std::vector<uint8_t>& dib, int x, int y, int w, int h, int sw, int sh,
                uint32_t rop = 0x00CC0020, int64_t bmiSize = 40) {
  std::vector<uint8_t> body;
  for (int64_t v : std::initializer_list<int64_t>{0, 0, 0, 0, x, y, 0, 0, sw, sh, 80, bmiSize, 80 + bmiSize,
                                                  int64_t(dib.size()) - bmiSize, 0, rop, w, h})
    test::PutLE32(body, uint32_t(v));
  body.insert(body.end(), dib.begin(), dib.end());
  e.RecBytes(81, body);
}

// A record body of recordSize bytes (its type and size excluded) with 32-bit fields given as
// pairs of offset (from the start of the record) and value, followed by the given blocks.
std::vector<uint8_t> Body(size_t recordSize, std::initializer_list<int64_t> offsetsAndValues,
                          std::initializer_list<std::vector<uint8_t>> blocks = {}) {
  std::vector<uint8_t> body(recordSize - 8, 0);
  for (auto f = offsetsAndValues.begin(); f + 1 < offsetsAndValues.end(); f += 2)
    for (size_t k = 0; k < 4; ++k) body[size_t(*f) - 8 + k] = uint8_t(uint64_t(f[1]) >> (8 * k));
  for (const auto& b : blocks) body.insert(body.end(), b.begin(), b.end());
  return body;
}

// A 2 × 2 monochrome DIB (black 0, white 1): 1 at top left and bottom right.
std::vector<uint8_t> Mask2x2() {
  std::vector<uint8_t> d;
  for (uint32_t v : {40u, 2u, 2u}) test::PutLE32(d, v);
  test::PutLE16(d, 1);
  test::PutLE16(d, 1);
  for (uint32_t v : {0u, 8u, 0u, 0u, 2u, 0u, 0u, 0xFFFFFFu, 0x40u, 0x80u}) test::PutLE32(d, v);  // palette, rows
  return d;
}

// EMR_GRADIENTFILL: vertices (x, y, red, green, blue at 16 bits), then indices.
std::vector<uint8_t> Gradient(uint32_t mode, std::initializer_list<std::array<int64_t, 5>> vertices,
                              std::initializer_list<uint32_t> indices) {
  std::vector<uint8_t> b =
      Body(36, {24, int64_t(vertices.size()), 28, int64_t(indices.size()) / (mode == 2 ? 3 : 2), 32, mode});
  for (const auto& v : vertices) {
    test::PutLE32(b, uint32_t(v[0]));
    test::PutLE32(b, uint32_t(v[1]));
    for (size_t c = 2; c < 5; ++c) test::PutLE16(b, uint32_t(v[c]));
    test::PutLE16(b, 0);
  }
  for (uint32_t i : indices) test::PutLE32(b, i);
  return b;
}

// [MS-EMF] RegionData of the given rectangles (left, top, right, bottom each).
std::vector<uint8_t> RegionData(std::initializer_list<std::array<int, 4>> rects) {
  std::vector<uint8_t> d;
  for (uint32_t v : {32u, 1u, uint32_t(rects.size()), uint32_t(16 * rects.size()), 0u, 0u, 0u, 0u}) test::PutLE32(d, v);
  for (const auto& r : rects)
    for (int v : r) test::PutLE32(d, uint32_t(v));
  return d;
}

// EMR_EXTSELECTCLIPRGN with a region mode.
EmfBuilder& ClipRegion(EmfBuilder& e, int mode, std::initializer_list<std::array<int, 4>> rects) {
  const std::vector<uint8_t> rgn = RegionData(rects);
  return e.RecBytes(75, Body(16, {8, int64_t(rgn.size()), 12, mode}, {rgn}));
}

// A red fill of the whole 10 × 10 picture after clip records.
std::vector<uint8_t> RedThroughClip(const std::function<void(EmfBuilder&)>& clip) {
  EmfBuilder e(10, 10);
  clip(e);
  return e.FillOnly(kRed).Rectangle(0, 0, 11, 11).Bytes();
}

TEST(MetafileEmf, RecordFamiliesDrawTheirExactRaster) {
  const DrawCase cases[] = {
      {"rectangle, null pen: right and bottom edges left out",
       [] { return EmfBuilder(10, 10).FillOnly(kRed).Rectangle(2, 2, 8, 6).Bytes(); },
       10,
       10,
       {{2, 2, kRed}, {6, 4, kRed}, {7, 4, kWhite}, {6, 5, kWhite}, {1, 2, kWhite}}},
      {"rectangle with a cosmetic pen outlines its outermost pixels",
       [] { return EmfBuilder(10, 10).Brush(1, kBlue).Select(1).Rectangle(2, 2, 8, 6).Bytes(); },
       10,
       10,
       {{2, 2, kBlack}, {7, 3, kBlack}, {4, 5, kBlack}, {4, 3, kBlue}, {8, 3, kWhite}, {4, 6, kWhite}}},
      {"polygon",
       [] {
         return EmfBuilder(10, 10).FillOnly(kGreen).Rec(3, {0, 0, 0, 0, 4, 1, 1, 9, 1, 9, 9, 1, 9}).Bytes();
       },
       10,
       10,
       {{1, 1, kGreen}, {8, 8, kGreen}, {9, 9, kWhite}, {0, 0, kWhite}}},
      {"16-bit polygon",
       [] {
         return EmfBuilder(10, 10)
             .FillOnly(kGreen)
             .Rec(86, {0, 0, 0, 0, 4, 1 | (1 << 16), 9 | (1 << 16), 9 | (9 << 16), 1 | (9 << 16)})
             .Bytes();
       },
       10,
       10,
       {{1, 1, kGreen}, {8, 8, kGreen}, {9, 9, kWhite}}},
      {"polypolygon, alternate fill leaves the inner square empty",
       [] {
         return EmfBuilder(10, 10)
             .FillOnly(kRed)
             .Rec(8, {0, 0, 0, 0, 2, 8, 4, 4, 0, 0, 10, 0, 10, 10, 0, 10, 3, 3, 7, 3, 7, 7, 3, 7})
             .Bytes();
       },
       10,
       10,
       {{1, 1, kRed}, {5, 5, kWhite}, {8, 8, kRed}}},
      {"polypolygon, winding fill fills it",
       [] {
         return EmfBuilder(10, 10)
             .FillOnly(kRed)
             .Rec(19, {2})
             .Rec(8, {0, 0, 0, 0, 2, 8, 4, 4, 0, 0, 10, 0, 10, 10, 0, 10, 3, 3, 7, 3, 7, 7, 3, 7})
             .Bytes();
       },
       10,
       10,
       {{1, 1, kRed}, {5, 5, kRed}}},
      {"polyline draws from the first point up to the last, excluded",
       [] {
         return EmfBuilder(10, 10).Pen(1, kBlue).Select(1).Rec(4, {0, 0, 0, 0, 2, 1, 4, 8, 4}).Bytes();
       },
       10,
       10,
       {{1, 4, kBlue}, {7, 4, kBlue}, {8, 4, kWhite}, {0, 4, kWhite}, {4, 3, kWhite}, {4, 5, kWhite}}},
      {"move and line to",
       [] {
         return EmfBuilder(10, 10).Pen(1, kRed).Select(1).Rec(27, {5, 1}).Rec(54, {5, 9}).Bytes();
       },
       10,
       10,
       {{5, 1, kRed}, {5, 8, kRed}, {5, 9, kWhite}, {4, 5, kWhite}}},
      {"ellipse fills its centre",
       [] {
         return EmfBuilder(10, 10).FillOnly(kBlue).Rec(42, {0, 0, 10, 10}).Bytes();
       },
       10,
       10,
       {{5, 5, kBlue}, {0, 0, kWhite}, {9, 9, kWhite}, {5, 1, kBlue}}},
      {"anisotropic mapping: window 100 onto viewport 10",
       [] {
         return EmfBuilder(10, 10)
             .Rec(17, {8})
             .Rec(9, {100, 100})
             .Rec(11, {10, 10})
             .FillOnly(kRed)
             .Rectangle(0, 0, 50, 50)
             .Bytes();
       },
       10,
       10,
       {{0, 0, kRed}, {3, 3, kRed}, {4, 4, kWhite}, {6, 6, kWhite}}},
      {"window origin moves the drawing",
       [] {
         return EmfBuilder(10, 10).Rec(10, {-5, 0}).FillOnly(kRed).Rectangle(0, 0, 3, 3).Bytes();
       },
       10,
       10,
       {{5, 0, kRed}, {6, 1, kRed}, {4, 0, kWhite}, {0, 0, kWhite}}},
      {"world transform: translation by 5",
       [] {
         EmfBuilder e(10, 10);
         const float m[6] = {1, 0, 0, 1, 5, 0};
         std::vector<uint8_t> body;
         for (float f : m) {
           uint32_t u;
           std::memcpy(&u, &f, 4);
           test::PutLE32(body, u);
         }
         e.RecBytes(35, body);
         return e.FillOnly(kRed).Rectangle(0, 0, 3, 3).Bytes();
       },
       10,
       10,
       {{5, 0, kRed}, {6, 1, kRed}, {4, 0, kWhite}, {0, 0, kWhite}}},
      {"intersect clip rectangle",
       [] {
         return EmfBuilder(10, 10).Rec(30, {2, 2, 5, 5}).FillOnly(kRed).Rectangle(0, 0, 11, 11).Bytes();
       },
       10,
       10,
       {{2, 2, kRed}, {4, 4, kRed}, {5, 5, kWhite}, {1, 1, kWhite}}},
      {"exclude clip rectangle",
       [] {
         return EmfBuilder(10, 10).Rec(29, {2, 2, 5, 5}).FillOnly(kRed).Rectangle(0, 0, 11, 11).Bytes();
       },
       10,
       10,
       {{2, 2, kWhite}, {4, 4, kWhite}, {5, 5, kRed}, {1, 1, kRed}}},
      {"RestoreDC gives back the clip and brush of SaveDC",
       [] {
         return EmfBuilder(10, 10)
             .Brush(1, kRed)
             .Brush(2, kBlue)
             .Select(1)
             .Select(EmfBuilder::kNullPen)
             .Rec(33, {})
             .Rec(30, {0, 0, 2, 2})
             .Select(2)
             .Rec(34, {-1})
             .Rectangle(0, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{0, 0, kRed}, {8, 8, kRed}}},
      {"region clip (EMR_EXTSELECTCLIPRGN) and its removal",
       [] {
         EmfBuilder e(10, 10);
         std::vector<uint8_t> rgn;
         for (int64_t v : std::initializer_list<int64_t>{32, 1, 1, 16, 0, 0, 3, 3, 0, 0, 3, 3})
           test::PutLE32(rgn, uint32_t(v));
         std::vector<uint8_t> body;
         test::PutLE32(body, uint32_t(rgn.size()));
         test::PutLE32(body, 5);
         body.insert(body.end(), rgn.begin(), rgn.end());
         e.RecBytes(75, body).FillOnly(kRed).Rectangle(0, 0, 11, 11);
         return e.Rec(75, {0, 5}).Brush(2, kBlue).Select(2).Rectangle(5, 5, 11, 11).Bytes();
       },
       10,
       10,
       {{0, 0, kRed}, {2, 2, kRed}, {3, 3, kWhite}, {8, 8, kBlue}}},
      {"ROP2 R2_NOT inverts, R2_XORPEN mixes",
       [] {
         return EmfBuilder(10, 10)
             .FillOnly(kRed)
             .Rec(20, {6})
             .Rectangle(0, 0, 6, 11)
             .Rec(20, {7})
             .Rectangle(4, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{1, 1, kBlack}, {4, 4, 0x0000FF}, {8, 8, 0xFFFF00}}},
      {"path bracket filled",
       [] {
         return EmfBuilder(10, 10)
             .FillOnly(kBlue)
             .Rec(59, {})
             .Rec(27, {2, 2})
             .Rec(6, {0, 0, 0, 0, 3, 8, 2, 8, 8, 2, 8})
             .Rec(61, {})
             .Rec(60, {})
             .Rec(62, {0, 0, 0, 0})
             .Bytes();
       },
       10,
       10,
       {{3, 3, kBlue}, {7, 7, kBlue}, {1, 1, kWhite}, {8, 8, kWhite}}},
      {"path as clip (EMR_SELECTCLIPPATH)",
       [] {
         return EmfBuilder(10, 10)
             .Rec(59, {})
             .Rectangle(0, 0, 4, 4)
             .Rec(60, {})
             .Rec(67, {5})
             .FillOnly(kRed)
             .Rectangle(0, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{1, 1, kRed}, {6, 6, kWhite}}},
      {"pie runs counter-clockwise from the first radial to the second",
       [] {
         return EmfBuilder(20, 20).FillOnly(kRed).Rec(47, {0, 0, 20, 20, 10, 0, 20, 10}).Bytes();
       },
       20,
       20,
       {{5, 5, kRed}, {5, 15, kRed}, {15, 15, kRed}, {15, 5, kWhite}}},
      {"pie clockwise after EMR_SETARCDIRECTION",
       [] {
         return EmfBuilder(20, 20).FillOnly(kRed).Rec(57, {2}).Rec(47, {0, 0, 20, 20, 10, 0, 20, 10}).Bytes();
       },
       20,
       20,
       {{15, 5, kRed}, {5, 5, kWhite}, {5, 15, kWhite}, {15, 15, kWhite}}},
      {"StretchDIBits doubles a 2 × 2 DIB",
       [] {
         EmfBuilder e(8, 8);
         StretchDib(e, Dib2x2(), 0, 0, 4, 4, 2, 2);
         return e.Bytes();
       },
       8,
       8,
       {{0, 0, kRed}, {1, 1, kRed}, {2, 0, kGreen}, {3, 1, kGreen}, {0, 2, kBlue}, {3, 3, kBlack}, {4, 4, kWhite}}},
      {"StretchDIBits with SRCINVERT",
       [] {
         EmfBuilder e(8, 8);
         StretchDib(e, Dib2x2(), 0, 0, 2, 2, 2, 2, 0x00660046);
         return e.Bytes();
       },
       8,
       8,
       {{0, 0, 0xFFFF00}, {1, 0, 0xFF00FF}, {0, 1, 0x00FFFF}, {1, 1, kWhite}}},
      {"BitBlt without source: PATCOPY and DSTINVERT",
       [] {
         EmfBuilder e(8, 8);
         e.Brush(1, kBlue).Select(1);
         std::vector<uint8_t> body(92, 0);
         auto put = [&](size_t at, uint32_t v) {
           for (int k = 0; k < 4; ++k) body[at - 8 + size_t(k)] = uint8_t(v >> (8 * k));
         };
         put(24, 0), put(28, 0), put(32, 4), put(36, 8), put(40, 0x00F00021);
         e.RecBytes(76, body);
         put(24, 4), put(32, 4), put(40, 0x00550009);
         e.RecBytes(76, body);
         return e.Bytes();
       },
       8,
       8,
       {{0, 0, kBlue}, {3, 7, kBlue}, {4, 0, kBlack}, {7, 7, kBlack}}},
      {"DIB pattern brush tiles from the output origin",
       [] {
         EmfBuilder e(8, 8);
         const std::vector<uint8_t> dib = Dib2x2();
         std::vector<uint8_t> body;
         for (int64_t v : std::initializer_list<int64_t>{1, 0, 32, 40, 72, int64_t(dib.size()) - 40})
           test::PutLE32(body, uint32_t(v));
         body.insert(body.end(), dib.begin(), dib.end());
         return e.RecBytes(94, body).Select(1).Select(EmfBuilder::kNullPen).Rectangle(0, 0, 5, 5).Bytes();
       },
       8,
       8,
       {{0, 0, kRed}, {1, 0, kGreen}, {2, 0, kRed}, {0, 1, kBlue}, {3, 3, kBlack}, {4, 4, kWhite}}},
      {"SetDIBitsToDevice copies 1:1",
       [] {
         EmfBuilder e(8, 8);
         const std::vector<uint8_t> dib = Dib2x2();
         std::vector<uint8_t> body;
         for (int64_t v : std::initializer_list<int64_t>{0, 0, 0, 0, 3, 4, 0, 0, 2, 2, 76, 40, 116,
                                                         int64_t(dib.size()) - 40, 0, 0, 2})
           test::PutLE32(body, uint32_t(v));
         body.insert(body.end(), dib.begin(), dib.end());
         return e.RecBytes(80, body).Bytes();
       },
       8,
       8,
       {{3, 4, kRed}, {4, 4, kGreen}, {3, 5, kBlue}, {4, 5, kBlack}, {5, 5, kWhite}, {2, 4, kWhite}}},
      {"RLE8 bitmap",
       [] {
         EmfBuilder e(4, 4);
         std::vector<uint8_t> dib;
         for (int64_t v : std::initializer_list<int64_t>{40, 2, 2}) test::PutLE32(dib, uint32_t(v));
         test::PutLE16(dib, 1);
         test::PutLE16(dib, 8);
         for (int64_t v : std::initializer_list<int64_t>{1, 8, 0, 0, 2, 0}) test::PutLE32(dib, uint32_t(v));
         test::PutLE32(dib, 0x00FF0000);  // palette: red, blue (B, G, R, 0)
         test::PutLE32(dib, 0x000000FF);
         // bottom row: two pixels of index 0; top row: two of index 1; end of bitmap
         for (uint8_t b : {2, 0, 0, 0, 2, 1, 0, 1}) dib.push_back(b);
         StretchDib(e, dib, 0, 0, 2, 2, 2, 2, 0x00CC0020, 48);
         return e.Bytes();
       },
       4,
       4,
       {{0, 0, kBlue}, {1, 0, kBlue}, {0, 1, kRed}, {1, 1, kRed}, {2, 2, kWhite}}},
      {"PolyDraw moves, draws and closes its figure",
       [] {
         EmfBuilder e(10, 10);
         std::vector<uint8_t> body;
         for (int64_t v : std::initializer_list<int64_t>{0, 0, 0, 0, 3, 2, 2, 8, 2, 8, 8})
           test::PutLE32(body, uint32_t(v));
         for (uint8_t t : {6, 2, 2 | 1}) body.push_back(t);
         return e.Pen(1, kRed).Select(1).RecBytes(56, body).Bytes();
       },
       10,
       10,
       {{4, 2, kRed}, {8, 5, kRed}, {5, 5, kRed}, {3, 6, kWhite}}},
      {"EMF+ comments are skipped and unknown records too",
       [] {
         return EmfBuilder(10, 10)
             .Rec(70, {8, 0x2B464D45, 0x4001})
             .Rec(0x7777, {1, 2, 3})
             .FillOnly(kRed)
             .Rectangle(0, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{5, 5, kRed}}},
      {"a selected object that does not exist changes nothing",
       [] {
         return EmfBuilder(10, 10, 4)
             .Brush(1, kRed)
             .Brush(99, kBlue)
             .Select(1)
             .Select(99)
             .Select(3)
             .Select(0x80001234)
             .Select(EmfBuilder::kNullPen)
             .Rectangle(0, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{5, 5, kRed}}},
      {"EMR_EXTFLOODFILL: the area the black outline bounds, then the white surface outside",
       [] {
         return EmfBuilder(10, 10)
             .Select(EmfBuilder::kNullBrush)
             .Rectangle(2, 2, 8, 8)
             .Brush(1, kRed)
             .Select(1)
             .Rec(53, {4, 4, kBlack, 0})
             .Brush(2, kBlue)
             .Select(2)
             .Rec(53, {0, 9, kWhite, 1})
             .Bytes();
       },
       10,
       10,
       {{3, 3, kRed}, {6, 6, kRed}, {2, 4, kBlack}, {7, 7, kBlack}, {0, 0, kBlue}, {9, 9, kBlue}, {8, 4, kBlue}}},
      {"TransparentBlt leaves the destination under the transparent colour",
       [] {
         const std::vector<uint8_t> dib = Dib2x2();
         return EmfBuilder(8, 8)
             .RecBytes(116,
                       Body(108, {32, 4, 36, 4, 40, kGreen, 84, 108, 88, 40, 92, 148, 96, 16, 100, 2, 104, 2}, {dib}))
             .Bytes();
       },
       8,
       8,
       {{0, 0, kRed}, {1, 1, kRed}, {2, 0, kWhite}, {3, 1, kWhite}, {0, 2, kBlue}, {3, 3, kBlack}, {4, 4, kWhite}}},
      {"MaskBlt: source copied under 1 bits, brush under 0 bits",
       [] {
         const std::vector<uint8_t> dib = Dib2x2();
         return EmfBuilder(8, 8)
             .Brush(1, kBlue)
             .Select(1)
             .RecBytes(78, Body(128, {24, 2,  28,  2,  32, 2,   36,  2,   40, 0xF0CC0020, 84,  128, 88,
                                      40, 92, 168, 96, 16, 112, 184, 116, 48, 120,        232, 124, 8},
                                {dib, Mask2x2()}))
             .Bytes();
       },
       8,
       8,
       {{2, 2, kRed}, {3, 2, kBlue}, {2, 3, kBlue}, {3, 3, kBlack}, {1, 1, kWhite}, {4, 4, kWhite}}},
      {"PlgBlt onto an upright square through a mask",
       [] {
         const std::vector<uint8_t> dib = Dib2x2();
         return EmfBuilder(8, 8)
             .RecBytes(79, Body(140, {32,  4,   44,  4,  56,  2,   60,  2,  96,  140, 100, 40,
                                      104, 180, 108, 16, 124, 196, 128, 48, 132, 244, 136, 8},
                                {dib, Mask2x2()}))
             .Bytes();
       },
       8,
       8,
       {{0, 0, kRed}, {1, 1, kRed}, {2, 0, kWhite}, {0, 2, kWhite}, {2, 2, kBlack}, {3, 3, kBlack}, {4, 4, kWhite}}},
      {"PlgBlt mirrored by its corners",
       [] {
         const std::vector<uint8_t> dib = Dib2x2();
         return EmfBuilder(8, 8)
             .RecBytes(79, Body(140, {24, 4, 40, 4, 44, 4, 56, 2, 60, 2, 96, 140, 100, 40, 104, 180, 108, 16}, {dib}))
             .Bytes();
       },
       8,
       8,
       {{0, 0, kGreen}, {2, 0, kRed}, {3, 3, kBlue}, {1, 3, kBlack}, {4, 0, kWhite}}},
      {"GradientFill, rectangles: (c0 * (n - i) + c1 * i) / n from the first edge",
       [] {
         return EmfBuilder(8, 8)
             .RecBytes(118, Gradient(0, {{0, 0, 0, 0, 0}, {4, 2, 0xFF00, 0, 0}}, {0, 1}))
             .RecBytes(118, Gradient(1, {{4, 4, 0, 0, 0}, {6, 8, 0, 0, 0xFF00}}, {0, 1}))
             .Bytes();
       },
       8,
       8,
       {{0, 0, 0x00},
        {1, 0, 0x3F},
        {2, 1, 0x7F},
        {3, 0, 0xBF},
        {4, 0, kWhite},
        {4, 5, 0x3F0000},
        {5, 7, 0xBF0000},
        {6, 5, kWhite}}},
      {"GradientFill, triangle: linear through its vertices",
       [] {
         return EmfBuilder(20, 20)
             .RecBytes(118, Gradient(2, {{0, 0, 0, 0, 0}, {17, 0, 0xFF00, 0, 0}, {0, 17, 0, 0, 0xFF00}}, {0, 1, 2}))
             .Bytes();
       },
       20,
       20,
       {{5, 3, 0x2D004B}, {1, 1, 0x0F000F}, {10, 2, 0x1E0096}, {16, 16, kWhite}, {19, 0, kWhite}}},
      {"clip region exclusive-or (RGN_XOR) with a rectangle",
       [] {
         return RedThroughClip([](EmfBuilder& e) { ClipRegion(ClipRegion(e, 5, {{0, 0, 6, 6}}), 3, {{3, 3, 9, 9}}); });
       },
       10,
       10,
       {{1, 1, kRed}, {4, 4, kWhite}, {7, 7, kRed}, {8, 1, kWhite}, {1, 8, kWhite}}},
      {"clip region exclusive-or without a clip: everything but the region",
       [] { return RedThroughClip([](EmfBuilder& e) {
              ClipRegion(e, 3, {{2, 2, 4, 4}});
            }); },
       10,
       10,
       {{3, 3, kWhite}, {1, 1, kRed}, {6, 6, kRed}}},
      {"clip region union (RGN_OR) of two rectangles, then a difference (RGN_DIFF)",
       [] {
         return RedThroughClip([](EmfBuilder& e) {
           ClipRegion(ClipRegion(ClipRegion(e, 5, {{0, 0, 3, 3}}), 2, {{5, 5, 8, 8}}), 4, {{6, 6, 7, 7}});
         });
       },
       10,
       10,
       {{1, 1, kRed}, {5, 5, kRed}, {6, 6, kWhite}, {7, 7, kRed}, {4, 4, kWhite}, {8, 8, kWhite}}},
      {"EMR_FRAMERGN frames the outline of the region, not the edge its rectangles share",
       [] {
         const std::vector<uint8_t> rgn = RegionData({{1, 1, 5, 5}, {5, 1, 9, 5}});
         return EmfBuilder(10, 10)
             .Brush(1, kRed)
             .RecBytes(72, Body(40, {24, int64_t(rgn.size()), 28, 1, 32, 1, 36, 1}, {rgn}))
             .Bytes();
       },
       10,
       10,
       {{1, 1, kRed}, {8, 3, kRed}, {4, 4, kRed}, {4, 2, kWhite}, {5, 3, kWhite}, {9, 1, kWhite}, {1, 5, kWhite}}},
      {"stock objects: black brush",
       [] {
         return EmfBuilder(10, 10).Select(0x80000004).Select(EmfBuilder::kNullPen).Rectangle(0, 0, 11, 11).Bytes();
       },
       10,
       10,
       {{5, 5, kBlack}}},
  };
  for (const DrawCase& c : cases) Check(c);
}

TEST(MetafileEmf, StretchedOntoAnyRectangle) {
  // the 10 × 10 picture drawn into (10, 5)-(30, 25): coordinates double, and the rectangle without
  // a pen loses one output pixel on its right and bottom, as GDI plays it onto a device
  const auto bytes = EmfBuilder(10, 10).FillOnly(kRed).Rectangle(0, 0, 5, 5).Bytes();
  const auto b = Render(bytes, 40, 30, {10, 5, 30, 25});
  EXPECT_EQ(b->Pixel(10, 5), kRed);
  EXPECT_EQ(b->Pixel(18, 13), kRed);
  EXPECT_EQ(b->Pixel(19, 14), kWhite);
  EXPECT_EQ(b->Pixel(19, 10), kWhite);
  EXPECT_EQ(b->Pixel(9, 5), kWhite);
  EXPECT_EQ(b->Pixel(10, 4), kWhite);
  // drawn partly outside the bitmap: only the inside part, at the same place
  const auto c = Render(bytes, 8, 8, {-10, -10, 10, 10});
  EXPECT_EQ(c->Pixel(0, 0), kWhite) << "picture pixel 5 is white";
  const auto d = Render(bytes, 8, 8, {-2, -2, 18, 18});
  EXPECT_EQ(d->Pixel(0, 0), kRed);
  EXPECT_EQ(d->Pixel(6, 6), kRed);
  EXPECT_EQ(d->Pixel(7, 7), kWhite);
}

TEST(MetafileEmf, HatchAndTextDrawInTheirColours) {
  // a horizontal hatch covers one row in eight
  const auto h = Render(EmfBuilder(16, 16)
                            .Brush(1, kBlue, 2, 0)
                            .Select(1)
                            .Select(EmfBuilder::kNullPen)
                            .Rec(18, {1})
                            .Rectangle(0, 0, 17, 17)
                            .Bytes(),
                        16, 16);
  EXPECT_EQ(CountColor(*h, kBlue, {0, 0, 16, 16}), 32);
  EXPECT_EQ(CountColor(*h, kWhite, {0, 0, 16, 16}), 256 - 32);
  // ExtTextOutW: "HH" in red Liberation Sans, 20 pixels high, left and right aligned at x = 40
  auto text = [](uint32_t align) {
    EmfBuilder e(80, 30);
    std::vector<uint8_t> font;
    for (int64_t v : std::initializer_list<int64_t>{1, -20, 0, 0, 0, 400, 0, 0}) test::PutLE32(font, uint32_t(v));
    const char16_t face[] = u"Arial";
    for (size_t i = 0; i < 32; ++i) test::PutLE16(font, i < 5 ? face[i] : 0);
    e.RecBytes(82, font).Select(1).Rec(24, {kRed}).Rec(18, {1}).Rec(22, {align});
    std::vector<uint8_t> body;
    for (int64_t v : std::initializer_list<int64_t>{0, 0, 0, 0, 1, 0, 0, 40, 5, 2, 76, 0, 0, 0, 0, 0, 0})
      test::PutLE32(body, uint32_t(v));
    const float one = 1;
    std::memcpy(&body[20], &one, 4);
    std::memcpy(&body[24], &one, 4);
    test::PutLE16(body, 'H');
    test::PutLE16(body, 'H');
    return Render(e.RecBytes(84, body).Bytes(), 80, 30);
  };
  const auto left = text(0), right = text(2);
  const int inLeft = CountColor(*left, kRed, {40, 0, 80, 30}), inRight = CountColor(*right, kRed, {0, 0, 40, 30});
  EXPECT_GT(inLeft, 40) << "left-aligned text lies right of its reference point";
  EXPECT_EQ(CountColor(*left, kRed, {0, 0, 39, 30}), 0);
  EXPECT_GT(inRight, 40) << "right-aligned text lies left of it";
  EXPECT_EQ(CountColor(*right, kRed, {41, 0, 80, 30}), 0);
}

TEST(MetafileEmf, TextAdvancesCountUtf16Units) {
  // "H", U+1F600 (a surrogate pair) and "H" with advances 14, 20 + 20, 10: the second H starts at
  // x = 54, past where its own advances would put it; a glyph-index string draws nothing
  auto text = [](uint32_t options) {
    EmfBuilder e(80, 30);
    std::vector<uint8_t> font;
    for (int64_t v : std::initializer_list<int64_t>{1, -20, 0, 0, 0, 400, 0, 0}) test::PutLE32(font, uint32_t(v));
    for (size_t i = 0; i < 32; ++i) test::PutLE16(font, i < 5 ? uint16_t(u"Arial"[i]) : 0);
    e.RecBytes(82, font).Select(1).Rec(24, {kRed}).Rec(18, {1});
    std::vector<uint8_t> body = Body(76, {36, 0, 40, 5, 44, 4, 48, 76, 52, options, 72, 84});
    const float one = 1;
    std::memcpy(&body[20], &one, 4);
    std::memcpy(&body[24], &one, 4);
    for (uint32_t u : {0x48u, 0xD83Du, 0xDE00u, 0x48u}) test::PutLE16(body, u);
    for (uint32_t a : {14u, 20u, 20u, 10u}) test::PutLE32(body, a);
    return Render(e.RecBytes(84, body).Bytes(), 80, 30);
  };
  const auto plain = text(0), glyphs = text(0x10);
  EXPECT_GT(CountColor(*plain, kRed, {54, 0, 70, 30}), 20);
  EXPECT_EQ(CountColor(*plain, kRed, {36, 0, 53, 30}), 0);
  EXPECT_EQ(CountColor(*glyphs, kRed, {0, 0, 80, 30}), 0);
}

// ---------------------------------------------------------------------------------------------
// WMF record families

TEST(MetafileWmf, RecordFamiliesDrawTheirExactRaster) {
  const DrawCase cases[] = {
      {"rectangle with a null pen",
       [] { return WmfBuilder(10, 10).Brush(kRed).Select(0).Pen(0, 5).Select(1).Rectangle(2, 2, 8, 6).Bytes(); },
       10,
       10,
       {{2, 2, kRed}, {6, 4, kRed}, {7, 4, kWhite}, {6, 5, kWhite}}},
      {"rectangle with a cosmetic pen",
       [] { return WmfBuilder(10, 10).Brush(kBlue).Select(0).Pen(kBlack).Select(1).Rectangle(2, 2, 8, 6).Bytes(); },
       10,
       10,
       {{2, 2, kBlack}, {7, 3, kBlack}, {4, 5, kBlack}, {4, 3, kBlue}, {8, 3, kWhite}}},
      {"polygon",
       [] {
         return WmfBuilder(10, 10)
             .Brush(kGreen)
             .Select(0)
             .Pen(0, 5)
             .Select(1)
             .Rec(0x0324, {4, 1, 1, 9, 1, 9, 9, 1, 9})
             .Bytes();
       },
       10,
       10,
       {{1, 1, kGreen}, {8, 8, kGreen}, {9, 9, kWhite}}},
      {"window extent scales the drawing onto the box",
       [] {
         return WmfBuilder(10, 10)
             .Rec(0x020C, {100, 100})
             .Brush(kRed)
             .Select(0)
             .Pen(0, 5)
             .Select(1)
             .Rectangle(0, 0, 50, 50)
             .Bytes();
       },
       10,
       10,
       {{0, 0, kRed}, {3, 3, kRed}, {4, 4, kWhite}}},
      {"intersect clip, save and restore",
       [] {
         return WmfBuilder(10, 10)
             .Brush(kRed)
             .Select(0)
             .Pen(0, 5)
             .Select(1)
             .Rec(0x001E, {})
             .Rec(0x0416, {5, 5, 2, 2})
             .Rectangle(0, 0, 11, 11)
             .Rec(0x0127, {-1})
             .Brush(kBlue)
             .Select(2)
             .Rectangle(6, 6, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{2, 2, kRed}, {4, 4, kRed}, {1, 1, kWhite}, {5, 5, kWhite}, {8, 8, kBlue}}},
      {"ROP2 R2_NOT",
       [] {
         return WmfBuilder(10, 10)
             .Brush(kRed)
             .Select(0)
             .Pen(0, 5)
             .Select(1)
             .Rec(0x0104, {6})
             .Rectangle(0, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{5, 5, kBlack}}},
      {"StretchDIB doubles a 2 × 2 DIB",
       [] {
         const std::vector<uint8_t> dib = Dib2x2();
         return WmfBuilder(8, 8).RecBytes(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 4, 4, 0, 0}, dib).Bytes();
       },
       8,
       8,
       {{0, 0, kRed}, {2, 0, kGreen}, {0, 2, kBlue}, {3, 3, kBlack}, {4, 4, kWhite}}},
      {"DIBStretchBlt",
       [] {
         const std::vector<uint8_t> dib = Dib2x2();
         return WmfBuilder(8, 8).RecBytes(0x0B41, {0x0020, 0x00CC, 2, 2, 0, 0, 4, 4, 0, 0}, dib).Bytes();
       },
       8,
       8,
       {{0, 0, kRed}, {2, 0, kGreen}, {0, 2, kBlue}, {3, 3, kBlack}}},
      {"PatBlt",
       [] {
         return WmfBuilder(8, 8).Brush(kGreen).Select(0).Rec(0x061D, {0x0021, 0x00F0, 8, 4, 0, 0}).Bytes();
       },
       8,
       8,
       {{0, 0, kGreen}, {3, 7, kGreen}, {4, 0, kWhite}}},
      {"region filled and used as clip",
       [] {
         // META_CREATEREGION: one scan from y 1 to 4 with x 1..3 and 5..7
         return WmfBuilder(10, 10)
             .Rec(0x06FF, {0, 6, 0, 0, 0, 1, 0, 1, 1, 7, 4, 4, 1, 4, 1, 3, 5, 7, 4})
             .Brush(kRed)
             .Rec(0x0228, {0, 1})
             .Bytes();
       },
       10,
       10,
       {{1, 1, kRed}, {2, 3, kRed}, {3, 1, kWhite}, {5, 2, kRed}, {7, 2, kWhite}, {1, 4, kWhite}}},
      {"META_FLOODFILL inside a black outline, META_EXTFLOODFILL (surface) outside it",
       [] {
         return WmfBuilder(10, 10)
             .Brush(0, 1)
             .Pen(kBlack)
             .Select(0)
             .Select(1)
             .Rectangle(2, 2, 8, 8)
             .Brush(kRed)
             .Select(2)
             .Rec(0x0419, {0, 0, 4, 4})
             .Brush(kBlue)
             .Select(3)
             .Rec(0x0548, {1, 0xFFFF, 0xFF, 9, 0})
             .Bytes();
       },
       10,
       10,
       {{3, 3, kRed}, {6, 6, kRed}, {2, 4, kBlack}, {7, 7, kBlack}, {0, 0, kBlue}, {9, 9, kBlue}, {8, 4, kBlue}}},
      {"objects out of range or deleted are not selected",
       [] {
         return WmfBuilder(10, 10, 96, true, 2)
             .Brush(kRed)
             .Select(0)
             .Pen(0, 5)
             .Select(1)
             .Brush(kBlue)
             .Select(7)
             .Rec(0x01F0, {0})
             .Select(0)
             .Rectangle(0, 0, 11, 11)
             .Bytes();
       },
       10,
       10,
       {{5, 5, kRed}}},
  };
  for (const DrawCase& c : cases) Check(c);
}

// Mapping modes and viewport records, the output rectangle being the device. A red rectangle with
// a null pen, its right and bottom edges left out.
TEST(MetafileWmf, MappingFollowsGdi) {
  auto red = [](WmfBuilder b, int l, int t, int r, int bottom) {
    return b.Brush(kRed).Select(0).Pen(0, 5).Select(1).Rectangle(l, t, r, bottom).Bytes();
  };
  const std::vector<Probe> corner3 = {{3, 2, kRed}, {4, 3, kRed}, {5, 3, kWhite}, {2, 2, kWhite}, {3, 4, kWhite}};
  const std::vector<Probe> half = {{0, 0, kRed}, {3, 3, kRed}, {4, 4, kWhite}, {7, 7, kWhite}};
  std::vector<DrawCase> cases = {
      {"MM_TEXT: a unit is an output pixel; window extents are ignored",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x0103, {1}).Rec(0x020C, {100, 100}), 0, 0, 5, 5);
       },
       20,
       20,
       {{3, 3, kRed}, {4, 4, kWhite}, {8, 8, kWhite}}},
      {"MM_ISOTROPIC keeps units square: the wider axis is cut down",
       [=] {
         return red(WmfBuilder(20, 10).Rec(0x0103, {7}).Rec(0x020C, {10, 10}), 0, 0, 10, 10);
       },
       20,
       10,
       {{8, 8, kRed}, {9, 5, kWhite}, {15, 5, kWhite}}},
      {"META_SETVIEWPORTORG moves by output pixels",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x020D, {5, 5}), 0, 0, 3, 3);
       },
       10,
       10,
       {{5, 5, kRed}, {6, 6, kRed}, {7, 7, kWhite}, {4, 4, kWhite}}},
      {"META_OFFSETVIEWPORTORG",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x0211, {2, 3}), 0, 0, 3, 3);
       },
       10, 10, corner3},
      {"META_OFFSETWINDOWORG",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x020F, {-2, -3}), 0, 0, 3, 3);
       },
       10, 10, corner3},
      {"META_SETVIEWPORTEXT halves the scale",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x020E, {5, 5}), 0, 0, 10, 10);
       },
       10, 10, half},
      {"META_SCALEVIEWPORTEXT by 1/2",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x0412, {2, 1, 2, 1}), 0, 0, 10, 10);
       },
       10, 10, half},
      {"META_SCALEWINDOWEXT by 2/1",
       [=] {
         return red(WmfBuilder(10, 10).Rec(0x0410, {1, 2, 1, 2}), 0, 0, 10, 10);
       },
       10, 10, half},
      {"extents of 0 and denominators of 0 leave the mapping",
       [=] {
         return red(WmfBuilder(10, 10)
                        .Rec(0x020E, {0, 0})
                        .Rec(0x020C, {0, 7})
                        .Rec(0x0412, {0, 1, 0, 1})
                        .Rec(0x0412, {1, 0, 1, 0})
                        .Rec(0x0410, {0, 1, 0, 1}),
                    0, 0, 5, 5);
       },
       10,
       10,
       {{3, 3, kRed}, {4, 4, kWhite}}},
  };
  // metric modes at units per inch that make one unit one output pixel, y up from a viewport
  // origin at the bottom: the rectangle 10..30 × 20..50 covers rows 50..79
  for (auto [mode, inch] : {std::pair{2, 254}, {3, 2540}, {4, 100}, {5, 1000}, {6, 1440}})
    cases.push_back(
        {"metric mode",
         [=] {
           return red(WmfBuilder(100, 100, inch).Rec(0x0103, {mode}).Rec(0x020D, {100, 0}), 10, 50, 30, 20);
         },
         100,
         100,
         {{10, 50, kRed}, {28, 78, kRed}, {29, 60, kWhite}, {20, 79, kWhite}, {20, 49, kWhite}, {9, 60, kWhite}}});
  for (const DrawCase& c : cases) Check(c);
}

// libwmf, through ImageMagick's WMF coder, as the oracle: both renderings agree away from shape
// edges. ImageMagick crops to what is drawn, so every case first fills its whole box.
// Pixels where ours and an oracle's rendering differ: next to a colour change of either rendering
// (which a smoothing renderer may draw either way), or inside flat areas.
struct Disagreement {
  int Inside = 0, Edges = 0;
};
Disagreement Compare(const TBitmap& ours, const test::TPnmImage& theirs) {
  const int w = theirs.Width, h = theirs.Height;
  auto theirsAt = [&](int x, int y) {
    const uint8_t* p = &theirs.Pixels[size_t(y * w + x) * 3];
    return RGB(p[0], p[1], p[2]);
  };
  Disagreement d;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      if (theirsAt(x, y) == ours.Pixel(x, y)) continue;
      bool edge = false;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = std::clamp(x + dx, 0, w - 1), yy = std::clamp(y + dy, 0, h - 1);
          edge = edge || ours.Pixel(xx, yy) != ours.Pixel(x, y) || theirsAt(xx, yy) != theirsAt(x, y);
        }
      (edge ? d.Edges : d.Inside) += 1;
    }
  return d;
}

TEST(MetafileWmf, AgreesWithLibwmf) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  auto start = [](int window) {
    WmfBuilder b(40, 40);
    b.Rec(0x0103, {8}).Rec(0x020B, {0, 0}).Rec(0x020C, {window, window});
    b.Pen(0, 5).Select(0).Brush(0x80FFFF).Select(1).Rectangle(0, 0, window, window).Rec(0x01F0, {1});
    return b;
  };
  const Case cases[] = {
      {"rectangles and polygon", start(40)
                                     .Brush(kRed)
                                     .Select(1)
                                     .Rectangle(4, 4, 20, 30)
                                     .Brush(kBlue)
                                     .Select(2)
                                     .Rec(0x0324, {3, 20, 4, 36, 20, 20, 36})
                                     .Bytes()},
      {"ellipse and window mapping", start(400).Brush(kGreen).Select(1).Rec(0x0418, {360, 360, 40, 40}).Bytes()},
      {"round rectangle", start(40).Brush(kRed).Select(1).Rec(0x061C, {8, 8, 36, 20, 24, 4}).Bytes()},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string wmf = dir / "oracle.wmf", ppm = dir / "oracle.ppm";
    {
      TFileStream f(wmf, TFileMode::fmCreate);
      f.WriteBuffer(c.bytes.data(), int64_t(c.bytes.size()));
    }
    test::RunOracle(test::kMagick, test::Quote(wmf) + " -alpha off -depth 8 " + test::Quote("ppm:" + ppm));
    const test::TPnmImage theirs = test::ReadPnm(ppm);
    // libwmf takes 72 pixels per inch: ours is drawn at that size
    const int w = theirs.Width, h = theirs.Height;
    ASSERT_GT(w, 20);
    const Disagreement d = Compare(*Render(c.bytes, w, h), theirs);
    EXPECT_EQ(d.Inside, 0);
    EXPECT_LT(d.Edges, 4 * (w + h));
  }
}

// EMF against a second, coarse opinion: libemf2svg's converter (emf2svg-conv) drawn by librsvg
// (rsvg-convert), which anti-aliases and rounds its coordinates differently.
TEST(MetafileEmf, AgreesWithEmf2svgAwayFromEdges) {
  constexpr int w = 80, h = 60;
  auto start = [] { return EmfBuilder(w, h).FillOnly(kWhite).Rectangle(0, 0, w, h); };
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"rectangles", start()
                         .Brush(2, kRed)
                         .Select(2)
                         .Rectangle(8, 6, 40, 50)
                         .Brush(3, kBlue)
                         .Select(3)
                         .Rectangle(30, 20, 72, 40)
                         .Bytes()},
      {"polygon and ellipse", start()
                                  .Brush(2, kGreen)
                                  .Select(2)
                                  .Rec(3, {0, 0, 0, 0, 3, 4, 4, 40, 56, 76, 4})
                                  .Brush(3, kBlue)
                                  .Select(3)
                                  .Rec(42, {44, 30, 76, 58})
                                  .Bytes()},
      // (the converter fills every polygon with the non-zero rule: the hole is wound the other way,
      // where both rules leave it empty)
      {"polypolygon with a hole",
       start()
           .Brush(2, kRed)
           .Select(2)
           .Rec(8, {0, 0, 0, 0, 2, 8, 4, 4, 6, 6, 74, 6, 74, 54, 6, 54, 24, 18, 24, 42, 56, 42, 56, 18})
           .Bytes()},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string emf = dir / "oracle.emf", svg = dir / "oracle.svg", png = dir / "oracle.png";
    {
      TFileStream f(emf, TFileMode::fmCreate);
      f.WriteBuffer(c.bytes.data(), int64_t(c.bytes.size()));
    }
    const std::string size = " -w " + std::to_string(w) + " -h " + std::to_string(h);
    test::RunOracle(test::kEmf2Svg, "-i " + test::Quote(emf) + " -o " + test::Quote(svg) + size);
    test::RunOracle(test::kRsvgConvert, size + " -b white -o " + test::Quote(png) + " " + test::Quote(svg));
    const test::TPnmImage theirs = test::MagickDecode(dir, png);
    ASSERT_EQ(theirs.Width, w);
    ASSERT_EQ(theirs.Height, h);
    const Disagreement d = Compare(*Render(c.bytes, w, h), theirs);
    EXPECT_LE(d.Inside, w * h / 100) << d.Edges << " on edges";
  }
}

}  // namespace
}  // namespace muralo

namespace muralo {
namespace {

// ---------------------------------------------------------------------------------------------
// hostile files: each draws what it can or raises the framework's errors, quickly

TEST(MetafileHostile, DrawsWhatItCanOrRaises) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  auto add = [&](const char* name, std::vector<uint8_t> bytes) { cases.push_back({name, std::move(bytes)}); };
  {
    WmfBuilder w(20, 20);
    w.Brush(kRed).Select(0);
    std::vector<uint8_t> b = w.Bytes();
    b.insert(b.end() - 6, {0, 0, 0, 0, 0x1B, 0x04});  // a record of size 0 before the end
    add("WMF record of size 0", b);
  }
  {
    WmfBuilder w(20, 20);
    w.Rec(0x0324, {0x7FFF, 1, 1, 5, 5});  // a polygon counting more points than it holds
    w.Rec(0x0538, {0x7FFF, 0xFFFF, 0xFFFF});
    w.Tail = {0xFF, 0xFF, 0xFF, 0x7F, 0x1B, 0x04};  // a record past the end of the file
    add("WMF counts past their record", w.Bytes());
  }
  {
    WmfBuilder w(20, 20);
    w.Rec(0x020C, {0, 0}).Rec(0x0410, {0, 0, 0, 0}).Rectangle(0, 0, 10, 10);  // zero extents and denominators
    w.Rec(0x0521, {1000, 0x4141});                                            // text longer than its record
    w.Rec(0x0A32, {5, 5, 1000, 6, 0});
    w.Select(0x7FFF).Rec(0x01F0, {0xFFFF}).Rec(0x0228, {0xFFFF, 0xFFFF}).Rec(0x012C, {0x1234});
    add("WMF zero extents, long texts, absent objects", w.Bytes());
  }
  {
    WmfBuilder w(20, 20, 96, true, 4);
    // a DIB that claims 30000 × 30000 pixels and holds a few bytes
    std::vector<uint8_t> dib = test::Dib24(2, 2, {0, 0, 0, 0});
    dib[4] = 0x30, dib[5] = 0x75, dib[8] = 0x30, dib[9] = 0x75;
    w.RecBytes(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 4, 4, 0, 0}, dib);
    w.RecBytes(0x0142, {5, 0}, dib);
    w.Rec(0x06FF, {0, 6, 0, 0, 0, 0x7FFF, 0});  // a region of many scans that are not there
    add("WMF lying bitmaps and regions", w.Bytes());
  }
  {
    WmfBuilder w(20, 20);
    for (int i = 0; i < 5000; ++i) w.Rec(0x001E, {});
    w.Rec(0x0127, {-30000}).Rec(0x0127, {5});
    add("WMF deeply nested SaveDC", w.Bytes());
  }
  {
    EmfBuilder e(20, 20, 2);
    e.Rec(3, {0, 0, 0, 0, 0xFFFFFFFF, 1, 1}).Rec(8, {0, 0, 0, 0, 0x40000000, 0xFFFFFFFF, 5, 5});
    e.Rec(9, {0, 0}).Rec(11, {0, 0}).Rec(17, {8}).Rec(32, {1, 0, 1, 0}).Rectangle(0, 0, 10, 10);
    e.Rec(35, {0, 0, 0, 0, 0, 0}).Rec(36, {0x7F800000, 0, 0, 0x7F800000, 0, 0, 4});  // singular and infinite transforms
    e.Rec(37, {0xFFFFFF}).Rec(40, {0x7FFFFFFF}).Rec(37, {0x80000009});
    e.Rec(84, {0, 0, 0, 0, 1, 0, 0, 5, 5, 1000000, 4, 0, 0, 0, 0, 0, 0x7FFFFFF0});  // text past its record
    add("EMF counts, zero extents, transforms, texts", e.Bytes());
  }
  {
    EmfBuilder e(20, 20);
    // huge coordinates: a dotted line across 2^32 units and an ellipse of that size
    e.Pen(1, kBlack, 2).Select(1).Rec(27, {-2147483647, 10}).Rec(54, {2147483647, 10});
    e.Rec(42, {-2147483647, -2147483647, 2147483647, 2147483647});
    e.Rec(45, {-2147483647, -2147483647, 2147483647, 2147483647, 0, 0, 1, 1});
    add("EMF huge coordinates", e.Bytes());
  }
  {
    EmfBuilder e(20, 20);
    std::vector<uint8_t> body(72, 0);
    auto put = [&](size_t at, uint32_t v) {
      for (int k = 0; k < 4; ++k) body[at - 8 + size_t(k)] = uint8_t(v >> (8 * k));
    };
    put(40, 0xFFFFFFF0), put(44, 0xFFFFFFF0), put(48, 80), put(52, 0xFFFFFF00), put(56, 0x7FFFFFFF), put(60, 8),
        put(68, 0x00CC0020), put(72, 4), put(76, 4);
    e.RecBytes(81, body);  // bitmap blocks outside the record
    add("EMF bitmap offsets past the record", e.Bytes());
  }
  {
    std::vector<uint8_t> b = EmfBuilder(20, 20).Bytes();
    std::vector<uint8_t> odd = b, zero = b, past = b;
    odd[88 + 4] = 10;                          // a size that is no multiple of 4
    zero[88 + 4] = 0;                          // a size of 0
    past[88 + 4] = 0xF0, past[88 + 7] = 0x7F;  // past the end
    add("EMF record of odd size", odd);
    add("EMF record of size 0", zero);
    add("EMF record past the end", past);
  }
  {
    WmfBuilder w(20, 20);
    // mapping modes out of range, extreme and zero viewports, floods from everywhere
    w.Rec(0x0103, {0}).Rec(0x0103, {9}).Rec(0x0103, {7}).Rec(0x020E, {0x7FFF, 1}).Rec(0x020C, {1, 0x7FFF});
    w.Rec(0x0412, {1, 0x7FFF, 1, 0x7FFF}).Rec(0x0211, {0x7FFF, 0x8000}).Rectangle(0, 0, 10, 10);
    w.Brush(kRed).Select(0).Rec(0x0419, {0, 0, 5, 5}).Rec(0x0548, {1, 0xFFFF, 0xFF, 0x8000, 0x7FFF});
    w.Rec(0x0103, {6}).Rec(0x0548, {0, 0, 0, 1, 1}).Rec(0x0419, {0});
    add("WMF mapping extremes and flood fills", w.Bytes());
  }
  {
    EmfBuilder e(20, 20, 4);
    e.Rec(53, {5, 5, 0, 0}).Rec(53, {-2147483647, 2147483647, 0, 1}).Rec(53, {1});  // floods
    e.Brush(1, kRed).Select(1).Rec(53, {5, 5, 0x123456, 0}).Rec(53, {5, 5, kWhite, 1});
    // gradients: counts past the record, indices past the vertices, huge and flat shapes
    e.Rec(118, {0, 0, 0, 0, 0x7FFFFFFF, 0x7FFFFFFF, 2, 0, 0, 0, 0});
    e.RecBytes(
        118, Gradient(2, {{-2147483647, -2147483647, 0xFFFF, 0, 0}, {2147483647, 0, 0, 0, 0}, {0, 2147483647, 0, 0, 0}},
                      {0, 1, 2, 2, 1, 7, 0, 0, 0}));
    e.RecBytes(118, Gradient(1, {{5, 5, 0, 0, 0}, {5, 9, 0, 0, 0}}, {0, 1, 1, 0, 9, 9}));
    e.RecBytes(118, Gradient(7, {{0, 0, 0, 0, 0}, {9, 9, 0, 0, 0}}, {0, 1}));
    // blits: a mask smaller than the destination, flat parallelograms, sizes that lie
    const std::vector<uint8_t> dib = Dib2x2();
    e.RecBytes(78, Body(128, {32, 4000, 36, 4000, 40, 0xAACC0020, 84,  128, 88, 40,  92,  168, 96,
                              16, 100,  -5, 104,  1,  112,        184, 116, 48, 120, 232, 124, 8},
                        {dib, Mask2x2()}));
    e.RecBytes(78, Body(128, {32, 4, 36, 4, 40, 0x00F00021, 88, 0xFFFF}));
    e.RecBytes(79, Body(140, {32, 4, 40, 4, 56, 2, 60, 2, 96, 140, 100, 40, 104, 180, 108, 16}, {dib}));
    e.RecBytes(79, Body(140, {32,  1 << 30, 44,  -(1 << 30), 56,  -2,  60,  0x7FFFFFFF, 96,  140, 100, 40,
                              104, 180,     108, 16,         124, 140, 128, 40,         132, 180, 136, 16},
                        {dib}));
    e.RecBytes(116, Body(108, {32, 4, 36, 4, 84, 108, 88, 40, 92, 148, 96, 16}, {dib}));
    // frames as wide as can be, and clip combinations on an empty and a path clip
    const std::vector<uint8_t> rgn = RegionData({{1, 1, 5, 5}, {3, 3, 9, 9}, {-2147483647, 0, 2147483647, 2}});
    e.RecBytes(72, Body(40, {24, int64_t(rgn.size()), 28, 1, 32, 0x7FFFFFFF, 36, -0x7FFFFFFF}, {rgn}));
    e.RecBytes(72, Body(40, {24, int64_t(rgn.size()), 28, 0x80000004, 32, 0, 36, 0}, {rgn}));
    ClipRegion(ClipRegion(ClipRegion(e, 5, {}), 3, {{0, 0, 4, 4}}), 2, {{2, 2, 6, 6}});
    e.Rec(59, {})
        .Rectangle(0, 0, 4, 4)
        .Rec(60, {})
        .Rec(67, {3})
        .Rec(59, {})
        .Rectangle(1, 1, 3, 3)
        .Rec(60, {})
        .Rec(67, {2});
    ClipRegion(ClipRegion(e, 3, {{0, 0, 4, 4}}), 2, {{2, 2, 6, 6}});
    add("EMF floods, gradients, masked and parallelogram blits, frames, clip combinations", e.Bytes());
  }
  for (size_t cut = 1; cut < 8; ++cut) {
    const std::vector<uint8_t> b = EmfBuilder(20, 20).Brush(1, kRed).Select(1).Rectangle(0, 0, 5, 5).Bytes();
    add("EMF cut short", std::vector<uint8_t>(b.begin(), b.end() - long(cut * 4)));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      const auto b = Render(c.bytes, 64, 64);
      const auto d = Render(c.bytes, 20, 20, {-5, -5, 2000, 2000});
      EXPECT_EQ(b->Width(), 64);
    } catch (const EInvalidGraphic&) {
    } catch (const EStreamError&) {
    }
  }
}

TEST(MetafileHostile, RecordBudgetBoundsAFileOfEmptyRecords) {
  // more no-op records (EMR_SETBKMODE) than one drawing plays, then a red rectangle: never reached
  EmfBuilder e(10, 10);
  e.WithEof = false;
  const uint8_t noop[12] = {18, 0, 0, 0, 12, 0, 0, 0, 1, 0, 0, 0};
  e.Tail.resize(size_t(TMetafile::kRecordBudget) * sizeof noop);
  for (size_t i = 0; i < TMetafile::kRecordBudget; ++i) std::memcpy(&e.Tail[i * sizeof noop], noop, sizeof noop);
  const std::vector<uint8_t> rect = EmfBuilder(10, 10).Brush(1, kRed).Select(1).Rectangle(0, 0, 11, 11).Bytes();
  e.Tail.insert(e.Tail.end(), rect.begin() + 88, rect.end());  // its records, without its header
  const auto b = Render(e.Bytes(), 10, 10);
  EXPECT_EQ(b->Pixel(5, 5), kWhite);
}

}  // namespace
}  // namespace muralo
