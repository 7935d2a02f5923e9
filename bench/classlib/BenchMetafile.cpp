// A 20,000-record EMF (lines, polygons, polylines, rectangles, text) rasterised at 1920 × 1080 by
// TMetafile, beside the same 20,000 drawing operations issued straight to Cairo (the floor our
// record player and GDI layer stand on).
#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Metafile.h"
#include "classlib/MetafileBuilder.h"
#include "classlib/Streams.h"

namespace {

using namespace muralo;
using test::EmfBuilder;

constexpr int kWidth = 1920, kHeight = 1080, kGroups = 2500;  // 8 records a group

struct Shape {
  int x, y, w, h;
  uint32_t color;
};

std::vector<Shape> Shapes() {
  std::vector<Shape> shapes;
  uint32_t seed = 7;
  auto next = [&](int n) {
    seed = seed * 1664525u + 1013904223u;
    return int((seed >> 8) % uint32_t(n));
  };
  for (int i = 0; i < kGroups; ++i)
    shapes.push_back({next(kWidth - 100), next(kHeight - 100), 10 + next(90), 10 + next(90), uint32_t(next(0xFFFFFF))});
  return shapes;
}

const std::vector<uint8_t>& EmfBytes() {
  static const std::vector<uint8_t> bytes = [] {
    EmfBuilder e(kWidth, kHeight, 40);
    for (uint32_t k = 0; k < 16; ++k) e.Pen(1 + k, k * 0x0F0F0F, 0, k % 3).Brush(17 + k, 0xFFFFFF - k * 0x0F0F0F);
    std::vector<uint8_t> font;
    for (int64_t v : std::initializer_list<int64_t>{33, -14, 0, 0, 0, 400, 0, 0}) test::PutLE32(font, uint32_t(v));
    for (int i = 0; i < 32; ++i) test::PutLE16(font, i < 5 ? uint16_t("Arial"[i]) : 0);
    e.RecBytes(82, font).Select(33).Rec(18, {1});
    int i = 0;
    for (const Shape& s : Shapes()) {
      const uint32_t k = uint32_t(i++ % 16);
      e.Select(1 + k).Rec(27, {s.x, s.y}).Rec(54, {s.x + s.w, s.y + s.h}).Select(17 + k);
      e.Rec(3, {0, 0, 0, 0, 5, s.x, s.y, s.x + s.w, s.y, s.x + s.w, s.y + s.h, s.x + s.w / 2, s.y + s.h + 10, s.x,
                s.y + s.h});
      e.Rec(4, {0, 0, 0, 0, 4, s.x, s.y, s.x + 20, s.y + 30, s.x + 40, s.y, s.x + 60, s.y + 30});
      e.Rectangle(s.x + 5, s.y + 5, s.x + s.w / 2, s.y + s.h / 2);
      std::vector<uint8_t> text;
      for (int64_t v : std::initializer_list<int64_t>{0, 0, 0, 0, 1, 0, 0, s.x, s.y, 6, 76, 0, 0, 0, 0, 0, 0})
        test::PutLE32(text, uint32_t(v));
      for (char c : {'M', 'u', 'r', 'a', 'l', 'o'}) test::PutLE16(text, uint16_t(c));
      e.RecBytes(84, text);
    }
    return e.Bytes();
  }();
  return bytes;
}

void BM_OurEmf(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = EmfBytes();
  TBitmap target;
  target.SetPixelFormat(TPixelFormat::pf24bit);
  target.SetSize(kWidth, kHeight);
  for (auto _ : state) {
    TMetafile m;
    TReadOnlyMemoryStream s(bytes.data(), bytes.size());
    m.LoadFromStream(s);
    target.Canvas().StretchDraw({0, 0, kWidth, kHeight}, m);
  }
  state.counters["records"] = 8.0 * kGroups;
}

// The same operations straight to Cairo, no anti-aliasing, onto a surface of the same size.
void BM_CairoDirect(benchmark::State& state) {
  const std::vector<Shape> shapes = Shapes();
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, kHeight);
  for (auto _ : state) {
    cairo_t* cr = cairo_create(surface);
    cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 14);
    int i = 0;
    for (const Shape& s : shapes) {
      const double k = (i++ % 16) / 16.0;
      cairo_set_source_rgb(cr, k, k, k);
      cairo_set_line_width(cr, 1);
      cairo_move_to(cr, s.x + 0.5, s.y + 0.5);
      cairo_line_to(cr, s.x + s.w + 0.5, s.y + s.h + 0.5);
      cairo_stroke(cr);
      cairo_move_to(cr, s.x, s.y);
      cairo_line_to(cr, s.x + s.w, s.y);
      cairo_line_to(cr, s.x + s.w, s.y + s.h);
      cairo_line_to(cr, s.x + s.w / 2, s.y + s.h + 10);
      cairo_line_to(cr, s.x, s.y + s.h);
      cairo_close_path(cr);
      cairo_set_source_rgb(cr, 1 - k, 1 - k, 1 - k);
      cairo_fill_preserve(cr);
      cairo_set_source_rgb(cr, k, k, k);
      cairo_stroke(cr);
      cairo_move_to(cr, s.x + 0.5, s.y + 0.5);
      for (int j = 1; j < 4; ++j) cairo_line_to(cr, s.x + 20 * j + 0.5, s.y + (j % 2) * 30 + 0.5);
      cairo_stroke(cr);
      cairo_rectangle(cr, s.x + 5, s.y + 5, s.w / 2 - 5, s.h / 2 - 5);
      cairo_fill(cr);
      cairo_move_to(cr, s.x, s.y + 14);
      cairo_show_text(cr, "Muralo");
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
  }
  cairo_surface_destroy(surface);
}

BENCHMARK(BM_OurEmf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CairoDirect)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
