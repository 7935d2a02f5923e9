// The device's fills computed per pixel: gradients ([MS-EMF] 2.3.5.12 EMR_GRADIENTFILL), flood
// fills on what the output holds ([MS-WMF] 2.3.3.7 META_FLOODFILL, [MS-EMF] 2.3.5.11
// EMR_EXTFLOODFILL) and region frames, each painted with Cairo through an image or a mask.
#include <algorithm>
#include <cmath>

#include "classlib/GdiDevice.h"

namespace muralo::gdi {

namespace {

// A 16-bit channel to 8 bits, as GDI keeps the high byte.
uint32_t Channel(double v) { return uint32_t(std::clamp(std::floor(v / 256 + 1e-7), 0.0, 255.0)); }

}  // namespace

void Device::GradientFill(const std::vector<Vertex>& v, const std::vector<uint32_t>& indices, uint32_t mode) {
  if (!MappingOk() || inPath || mode > 2) return;
  double cx1, cy1, cx2, cy2;
  cairo_clip_extents(cr, &cx1, &cy1, &cx2, &cy2);
  const size_t per = mode == 2 ? 3 : 2;
  for (size_t k = 0; k + per <= indices.size() && !Exhausted(); k += per) {
    bool valid = true;
    for (size_t i = 0; i < per; ++i) valid = valid && indices[k + i] < v.size();
    if (!valid) continue;
    const Vertex& va = v[indices[k]];
    const Vertex& vb = v[indices[k + 1]];
    const Vertex& vc = v[indices[k + (per - 1)]];
    PointD p[3] = {Out(va.x, va.y), Out(vb.x, vb.y), Out(vc.x, vc.y)};
    if (mode < 2) p[2] = p[1];
    // the pixels to compute: the shape's bounds inside the surface and the clip
    const double lx = std::min({p[0].x, p[1].x, p[2].x}), hx = std::max({p[0].x, p[1].x, p[2].x});
    const double ly = std::min({p[0].y, p[1].y, p[2].y}), hy = std::max({p[0].y, p[1].y, p[2].y});
    const int ix0 = int(std::max({0.0, std::floor(lx), std::floor(cx1)}));
    const int iy0 = int(std::max({0.0, std::floor(ly), std::floor(cy1)}));
    const int ix1 = int(std::min({double(surfaceWidth), std::ceil(hx), std::ceil(cx2)}));
    const int iy1 = int(std::min({double(surfaceHeight), std::ceil(hy), std::ceil(cy2)}));
    pixelWork += 1;
    if (ix0 >= ix1 || iy0 >= iy1) continue;
    Charge(ix0, iy0, ix1, iy1);
    const int w = ix1 - ix0, h = iy1 - iy0;
    cairo_surface_t* img = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    cairo_surface_flush(img);
    unsigned char* data = cairo_image_surface_get_data(img);
    const int stride = cairo_image_surface_get_stride(img);
    auto put = [&](int x, int y, double r, double g, double b) {
      reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride))[x] =
          (Channel(r) << 16) | (Channel(g) << 8) | Channel(b);
    };
    if (mode < 2) {
      // a rectangle: the first edge takes its vertex's colour, the last pixel before the other
      // edge (excluded) 1/n short of the other's: colour = (c0 * (n - i) + c1 * i) / n
      const bool horizontal = mode == 0;
      const double e0 = horizontal ? p[0].x : p[0].y, e1 = horizontal ? p[1].x : p[1].y;
      const Vertex& first = e0 <= e1 ? va : vb;
      const Vertex& last = e0 <= e1 ? vb : va;
      const double lo = std::round(std::min(e0, e1)), n = std::round(std::max(e0, e1)) - lo;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const double i = std::clamp((horizontal ? ix0 + x : iy0 + y) - lo, 0.0, std::max(n, 1.0));
          const double f = n > 0 ? i / n : 0;
          put(x, y, first.red + (double(last.red) - first.red) * f,
              first.green + (double(last.green) - first.green) * f, first.blue + (double(last.blue) - first.blue) * f);
        }
    } else {
      // a triangle: linear in x and y through the three vertices, taken at each pixel's corner
      const double d = (p[1].y - p[2].y) * (p[0].x - p[2].x) + (p[2].x - p[1].x) * (p[0].y - p[2].y);
      if (std::fabs(d) < 1e-9) {
        cairo_surface_destroy(img);
        continue;
      }
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const double px = ix0 + x, py = iy0 + y;
          const double l0 = ((p[1].y - p[2].y) * (px - p[2].x) + (p[2].x - p[1].x) * (py - p[2].y)) / d;
          const double l1 = ((p[2].y - p[0].y) * (px - p[2].x) + (p[0].x - p[2].x) * (py - p[2].y)) / d;
          const double l2 = 1 - l0 - l1;
          put(x, y, l0 * va.red + l1 * vb.red + l2 * vc.red, l0 * va.green + l1 * vb.green + l2 * vc.green,
              l0 * va.blue + l1 * vb.blue + l2 * vc.blue);
        }
    }
    cairo_surface_mark_dirty(img);
    cairo_save(cr);
    cairo_new_path(cr);
    if (mode < 2) {
      cairo_rectangle(cr, std::min(p[0].x, p[1].x), std::min(p[0].y, p[1].y), std::fabs(p[1].x - p[0].x),
                      std::fabs(p[1].y - p[0].y));
    } else {
      cairo_move_to(cr, p[0].x, p[0].y);
      cairo_line_to(cr, p[1].x, p[1].y);
      cairo_line_to(cr, p[2].x, p[2].y);
      cairo_close_path(cr);
    }
    cairo_set_source_surface(cr, img, ix0, iy0);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(img);
  }
}

void Device::FloodFill(double x, double y, ColorRef color, bool surfaceMode) {
  if (!MappingOk() || inPath) return;
  const Brush* brush = CurrentBrush();
  if (!brush || brush->style == 1) return;
  const PointD start = Out(x, y);
  const int sx = int(std::floor(start.x)), sy = int(std::floor(start.y));
  pixelWork += 1;
  if (sx < 0 || sy < 0 || sx >= surfaceWidth || sy >= surfaceHeight) return;
  cairo_surface_flush(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  const size_t stride = size_t(cairo_image_surface_get_stride(surface));
  const uint32_t key = ToPixel(Resolve(color));
  const size_t w = size_t(surfaceWidth);
  auto fillable = [&](size_t px, size_t py) {
    const bool same = (reinterpret_cast<const uint32_t*>(data + py * stride)[px] & 0xFFFFFF) == key;
    return surfaceMode ? same : !same;
  };
  if (!fillable(size_t(sx), size_t(sy))) return;
  // Scan-line fill, 4-connected, with its own stack: each pixel is taken once, the stack holds at
  // most one seed per run of the rows next to a run, so memory stays within the surface's size.
  Charge(0, 0, surfaceWidth, surfaceHeight);
  std::vector<uint8_t> taken(w * size_t(surfaceHeight), 0);
  std::vector<std::pair<size_t, size_t>> stack{{size_t(sx), size_t(sy)}};
  size_t bx0 = w, by0 = size_t(surfaceHeight), bx1 = 0, by1 = 0;
  while (!stack.empty()) {
    const auto [px, py] = stack.back();
    stack.pop_back();
    uint8_t* row = &taken[py * w];
    if (row[px] || !fillable(px, py)) continue;
    size_t l = px, r = px;
    while (l > 0 && !row[l - 1] && fillable(l - 1, py)) --l;
    while (r + 1 < w && !row[r + 1] && fillable(r + 1, py)) ++r;
    std::fill(row + l, row + r + 1, uint8_t(1));
    bx0 = std::min(bx0, l), bx1 = std::max(bx1, r + 1), by0 = std::min(by0, py), by1 = std::max(by1, py + 1);
    for (const size_t ny : {py - 1, py + 1}) {
      if (ny >= size_t(surfaceHeight)) continue;  // also above row 0, where py - 1 wraps
      const uint8_t* next = &taken[ny * w];
      bool inRun = false;
      for (size_t i = l; i <= r; ++i) {
        const bool f = !next[i] && fillable(i, ny);
        if (f && !inRun) stack.push_back({i, ny});
        inRun = f;
      }
    }
  }
  if (bx0 < bx1) PaintThroughMask(&taken[by0 * w + bx0], w, int(bx0), int(by0), int(bx1 - bx0), int(by1 - by0), *brush);
}

void Device::PaintThroughMask(const uint8_t* mask, size_t stride, int x, int y, int w, int h, const Brush& brush) {
  cairo_surface_t* m = cairo_image_surface_create(CAIRO_FORMAT_A8, w, h);
  cairo_surface_flush(m);
  unsigned char* md = cairo_image_surface_get_data(m);
  const size_t ms = size_t(cairo_image_surface_get_stride(m));
  for (size_t yy = 0; yy < size_t(h); ++yy)
    for (size_t xx = 0; xx < size_t(w); ++xx) md[yy * ms + xx] = mask[yy * stride + xx] ? 255 : 0;
  cairo_surface_mark_dirty(m);
  cairo_save(cr);
  SetBrushSource(cr, brush, 0, 0);
  cairo_mask_surface(cr, m, x, y);
  cairo_restore(cr);
  cairo_surface_destroy(m);
}

void Device::FrameRegion(const Region& rgn, const Brush& brush, double w, double h) {
  if (!MappingOk() || inPath || brush.style == 1) return;
  // The frame is the part of the region less than w (h) from its outside: the region is drawn as
  // a mask and eroded by a box of those half-sizes in output pixels; shared edges of its
  // rectangles are inside, not outside. The mask covers the surface and a margin of the box.
  // (a frame is at most 256 output pixels wide, nor wider than the surface: the mask stays near
  // the surface's size)
  const double limit = std::min(256.0, double(std::max(surfaceWidth, surfaceHeight)));
  const int fw = int(std::min(std::round(std::fabs(w) * std::hypot(mapping.m11, mapping.m12)), limit));
  const int fh = int(std::min(std::round(std::fabs(h) * std::hypot(mapping.m21, mapping.m22)), limit));
  cairo_new_path(cr);
  RegionPath(rgn);
  double x1, y1, x2, y2;
  cairo_path_extents(cr, &x1, &y1, &x2, &y2);
  const int mx0 = int(std::max(std::floor(x1), -double(fw) - 1)), my0 = int(std::max(std::floor(y1), -double(fh) - 1));
  const int mx1 = int(std::min(std::ceil(x2), double(surfaceWidth + fw + 1)));
  const int my1 = int(std::min(std::ceil(y2), double(surfaceHeight + fh + 1)));
  if (mx0 >= mx1 || my0 >= my1) {
    cairo_new_path(cr);
    return;
  }
  const int mw = mx1 - mx0, mh = my1 - my0;
  Charge(mx0, my0, mx1, my1);
  pixelWork += uint64_t(mw) * uint64_t(mh);
  cairo_surface_t* ms = cairo_image_surface_create(CAIRO_FORMAT_A8, mw, mh);
  cairo_t* c = cairo_create(ms);
  cairo_set_antialias(c, CAIRO_ANTIALIAS_NONE);
  cairo_translate(c, -mx0, -my0);
  cairo_path_t* outline = cairo_copy_path(cr);
  cairo_append_path(c, outline);
  cairo_path_destroy(outline);
  cairo_new_path(cr);
  cairo_set_fill_rule(c, CAIRO_FILL_RULE_WINDING);
  cairo_fill(c);
  cairo_destroy(c);
  cairo_surface_flush(ms);
  const unsigned char* md = cairo_image_surface_get_data(ms);
  const size_t stride = size_t(cairo_image_surface_get_stride(ms));
  const size_t W = size_t(mw), H = size_t(mh);
  std::vector<uint8_t> in(W * H), across(W * H), frame(W * H);
  for (size_t y = 0; y < H; ++y)
    for (size_t x = 0; x < W; ++x) in[y * W + x] = md[y * stride + x] != 0;
  cairo_surface_destroy(ms);
  // inside along a row: every pixel within fw - 1 each side is in the region (running counts)
  auto erode = [](const uint8_t* src, uint8_t* dst, size_t n, size_t step, int radius) {
    if (radius <= 1) {
      for (size_t i = 0; i < n; ++i) dst[i * step] = src[i * step];
      return;
    }
    const size_t r = size_t(radius - 1);
    size_t count = 0;  // region pixels in [i - r, i + r]
    for (size_t i = 0; i < std::min(n, r); ++i) count += src[i * step];
    for (size_t i = 0; i < n; ++i) {
      if (i + r < n) count += src[(i + r) * step];
      if (i > r) count -= src[(i - r - 1) * step];
      const size_t lo = i >= r ? i - r : 0, hi = std::min(n - 1, i + r);
      dst[i * step] = i >= r && i + r < n && count == hi - lo + 1;
    }
  };
  for (size_t y = 0; y < H; ++y) erode(&in[y * W], &across[y * W], W, 1, fw + 1);
  for (size_t x = 0; x < W; ++x) erode(&across[x], &frame[x], H, W, fh + 1);
  for (size_t i = 0; i < W * H; ++i) frame[i] = in[i] && !frame[i];
  // only the part on the surface is painted
  const int px0 = std::max(mx0, 0), py0 = std::max(my0, 0);
  const int px1 = std::min(mx1, surfaceWidth), py1 = std::min(my1, surfaceHeight);
  if (px0 < px1 && py0 < py1)
    PaintThroughMask(&frame[size_t(py0 - my0) * W + size_t(px0 - mx0)], W, px0, py0, px1 - px0, py1 - py0, brush);
}

}  // namespace muralo::gdi
