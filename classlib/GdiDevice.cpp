// The device context and the drawing operations of the metafile players ([MS-WMF] 3.1.4/3.1.5,
// [MS-EMF] 3.1), drawn with Cairo onto an RGB24 image surface in output pixels.
#include "classlib/GdiDevice.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace muralo::gdi {

namespace {

constexpr double kPi = 3.14159265358979323846;
// Output coordinates are kept inside Cairo's fixed-point range; nothing of a real picture lies
// millions of pixels away from the target.
constexpr double kCoordLimit = double(1 << 22);
constexpr size_t kMaxSaveDepth = 1024;
constexpr size_t kMaxClipOps = 64;
constexpr int kMaxJoinedPath = 1 << 14;  // path data entries (5 a rectangle)

double Clamp(double v) {
  if (!std::isfinite(v)) return 0;
  return std::clamp(v, -kCoordLimit, kCoordLimit);
}

void SetColor(cairo_t* cr, ColorRef c) {
  cairo_set_source_rgb(cr, (c & 255) / 255.0, ((c >> 8) & 255) / 255.0, ((c >> 16) & 255) / 255.0);
}

std::shared_ptr<cairo_path_t> CopyPath(cairo_t* cr) {
  return std::shared_ptr<cairo_path_t>(cairo_copy_path(cr), cairo_path_destroy);
}

// A copy of path moved by (dx, dy).
std::shared_ptr<cairo_path_t> Shifted(const cairo_path_t* path, double dx, double dy) {
  // allocated as Cairo allocates paths, so that cairo_path_destroy frees it
  auto* copy = static_cast<cairo_path_t*>(std::malloc(sizeof(cairo_path_t)));
  if (!copy) throw std::bad_alloc();
  copy->status = path->status;
  copy->num_data = path->num_data;
  copy->data =
      static_cast<cairo_path_data_t*>(std::malloc(sizeof(cairo_path_data_t) * size_t(std::max(path->num_data, 1))));
  if (!copy->data) {
    std::free(copy);
    throw std::bad_alloc();
  }
  if (path->num_data > 0) std::memcpy(copy->data, path->data, sizeof(cairo_path_data_t) * size_t(path->num_data));
  for (int i = 0; i < copy->num_data; i += copy->data[i].header.length) {
    for (int k = 1; k < copy->data[i].header.length; ++k)
      copy->data[i + k].point.x += dx, copy->data[i + k].point.y += dy;
    if (copy->data[i].header.length <= 0) break;
  }
  return std::shared_ptr<cairo_path_t>(copy, cairo_path_destroy);
}

// Length of a path in output pixels (its flattened form), for the dash guard.
double PathLength(cairo_t* cr) {
  cairo_path_t* flat = cairo_copy_path_flat(cr);
  double length = 0, x = 0, y = 0, sx = 0, sy = 0;
  for (int i = 0; i < flat->num_data; i += flat->data[i].header.length) {
    const cairo_path_data_t* d = &flat->data[i];
    if (d->header.type == CAIRO_PATH_MOVE_TO) {
      x = sx = d[1].point.x, y = sy = d[1].point.y;
    } else if (d->header.type == CAIRO_PATH_LINE_TO) {
      length += std::hypot(d[1].point.x - x, d[1].point.y - y);
      x = d[1].point.x, y = d[1].point.y;
    } else if (d->header.type == CAIRO_PATH_CLOSE_PATH) {
      length += std::hypot(sx - x, sy - y);
      x = sx, y = sy;
    }
    if (d->header.length <= 0) break;
  }
  cairo_path_destroy(flat);
  return length;
}

// ROP2 ([MS-WMF] 2.1.1.22): code - 1 is the truth table, bit (pen << 1 | dest).
uint32_t Rop2(int code, uint32_t p, uint32_t d) {
  const unsigned t = unsigned(code - 1) & 15;
  uint32_t r = 0;
  if (t & 1) r |= ~p & ~d;
  if (t & 2) r |= ~p & d;
  if (t & 4) r |= p & ~d;
  if (t & 8) r |= p & d;
  return r & 0xFFFFFF;
}

// Ternary raster operation ([MS-WMF] 2.1.1.31): the operation index is bits 16..23, the truth table
// bit (pattern << 2 | source << 1 | dest).
uint32_t Rop3(uint8_t t, uint32_t p, uint32_t s, uint32_t d) {
  uint32_t r = 0;
  for (unsigned i = 0; i < 8; ++i)
    if (t & (1u << i)) r |= ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
  return r & 0xFFFFFF;
}

const char* FontFamily(const Font& f) {
  std::string face;
  for (char c : f.face) face += char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  auto has = [&](const char* s) { return face.find(s) != std::string::npos; };
  // the usual Windows faces and their metric-compatible Liberation ones
  if (has("courier") || has("mono") || has("consol") || has("lucida console") || has("fixedsys") || has("terminal"))
    return "Liberation Mono";
  if (has("times") || has("roman") || has("georgia") || has("garamond") || has("palatino") || has("book antiqua") ||
      (has("serif") && !has("sans")))
    return "Liberation Serif";
  if (!face.empty()) return "Liberation Sans";
  // no face: the family bits of the pitch and family byte ([MS-WMF] 2.1.1.8 FamilyFont)
  const unsigned family = f.pitchAndFamily & 0xF0;
  if (family == 0x30 || (f.pitchAndFamily & 3) == 1) return "Liberation Mono";
  if (family == 0x10) return "Liberation Serif";
  return "Liberation Sans";
}

const Brush& WhiteBrush() {
  static const Brush b{0, 0xFFFFFF, 0, nullptr, false};
  return b;
}
const Pen& BlackPen() {
  static const Pen p{0, 0, 0, {}};
  return p;
}

ObjectRef StockObject(uint32_t n) {
  // [MS-EMF] 2.1.31 StockObject
  static const ObjectRef stock[20] = {
      std::make_shared<Object>(Brush{0, 0xFFFFFF, 0, nullptr, false}),
      std::make_shared<Object>(Brush{0, 0xC0C0C0, 0, nullptr, false}),
      std::make_shared<Object>(Brush{0, 0x808080, 0, nullptr, false}),
      std::make_shared<Object>(Brush{0, 0x404040, 0, nullptr, false}),
      std::make_shared<Object>(Brush{0, 0x000000, 0, nullptr, false}),
      std::make_shared<Object>(Brush{1, 0, 0, nullptr, false}),
      std::make_shared<Object>(Pen{0, 0, 0xFFFFFF, {}}),
      std::make_shared<Object>(Pen{0, 0, 0, {}}),
      std::make_shared<Object>(Pen{5, 0, 0, {}}),
      nullptr,
      std::make_shared<Object>(Font{-16, 0, 0, 400, false, false, false, 255, 0x31, "Courier New"}),
      std::make_shared<Object>(Font{-16, 0, 0, 400, false, false, false, 0, 0x31, "Courier New"}),
      std::make_shared<Object>(Font{-16, 0, 0, 400, false, false, false, 0, 0x22, "Arial"}),
      std::make_shared<Object>(Font{-16, 0, 0, 700, false, false, false, 0, 0x22, "Arial"}),
      std::make_shared<Object>(Font{-16, 0, 0, 400, false, false, false, 0, 0x22, "Arial"}),
      std::make_shared<Object>(Palette{}),
      std::make_shared<Object>(Font{-16, 0, 0, 400, false, false, false, 0, 0x31, "Courier New"}),
      std::make_shared<Object>(Font{-11, 0, 0, 400, false, false, false, 0, 0x22, "Arial"}),
      std::make_shared<Object>(Brush{0, 0xFFFFFF, 0, nullptr, false}),
      std::make_shared<Object>(Pen{0, 0, 0, {}}),
  };
  return n < 20 ? stock[n] : nullptr;
}

// A Cairo surface viewing a DIB's pixels (which must outlive it).
cairo_surface_t* DibSurface(const Dib& dib, bool alpha) {
  return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(dib.pixels.data())),
                                             alpha ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, dib.width, dib.height,
                                             dib.width * 4);
}

}  // namespace

uint32_t ToPixel(ColorRef c) { return ((c & 255) << 16) | (c & 0xFF00) | ((c >> 16) & 255); }

XForm Multiply(const XForm& a, const XForm& b) {
  return {a.m11 * b.m11 + a.m12 * b.m21, a.m11 * b.m12 + a.m12 * b.m22,      a.m21 * b.m11 + a.m22 * b.m21,
          a.m21 * b.m12 + a.m22 * b.m22, a.dx * b.m11 + a.dy * b.m21 + b.dx, a.dx * b.m12 + a.dy * b.m22 + b.dy};
}

Device::Device(cairo_surface_t* s, const XForm& refToOut, const PointD& ppmm)
    : surface(s),
      cr(cairo_create(s)),
      surfaceWidth(cairo_image_surface_get_width(s)),
      surfaceHeight(cairo_image_surface_get_height(s)),
      referenceToOutput(refToOut),
      pixelsPerMm(ppmm) {
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);  // GDI draws shapes without anti-aliasing
  cairo_set_tolerance(cr, 0.25);
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
}

Device::~Device() { cairo_destroy(cr); }

// ---------------------------------------------------------------------------------------------
// objects

void Device::SetTableSize(size_t size) { table.assign(size, nullptr); }

void Device::AddObject(Object object) {
  for (auto& slot : table)
    if (!slot) {
      slot = std::make_shared<const Object>(std::move(object));
      return;
    }
}

void Device::PutObject(uint32_t index, Object object) {
  if (index < table.size()) table[index] = std::make_shared<const Object>(std::move(object));
}

const Object* Device::GetObject(uint32_t index) const {
  if (index < table.size()) return table[index].get();
  return nullptr;
}

void Device::SelectObject(uint32_t index) {
  ObjectRef o;
  if (index & 0x80000000u) {
    o = StockObject(index & 0x7FFFFFFF);
  } else if (index < table.size()) {
    o = table[index];
  }
  if (!o) return;  // an index out of range or never created selects nothing
  if (std::holds_alternative<Pen>(*o))
    dc.pen = o;
  else if (std::holds_alternative<Brush>(*o))
    dc.brush = o;
  else if (std::holds_alternative<Font>(*o))
    dc.font = o;
  else if (std::holds_alternative<Palette>(*o))
    dc.palette = o;
  else if (const auto* r = std::get_if<Region>(&*o))
    SelectClipRegion(r, 5);  // a region selects itself as clip
}

void Device::DeleteObject(uint32_t index) {
  // selected objects stay alive in the DC that holds them
  if (index < table.size()) table[index].reset();
}

const Pen* Device::CurrentPen() const { return dc.pen ? std::get_if<Pen>(&*dc.pen) : &BlackPen(); }
const Brush* Device::CurrentBrush() const { return dc.brush ? std::get_if<Brush>(&*dc.brush) : &WhiteBrush(); }

ColorRef Device::Resolve(ColorRef c) const {
  if ((c >> 24) == 1) {  // PALETTEINDEX
    const Palette* pal = dc.palette ? std::get_if<Palette>(&*dc.palette) : nullptr;
    const uint16_t i = uint16_t(c);
    return pal && i < pal->entries.size() ? pal->entries[i] & 0xFFFFFF : 0;
  }
  return c & 0xFFFFFF;
}

void Device::SaveDC() {
  if (saved.size() < kMaxSaveDepth) saved.push_back(dc);
}

void Device::RestoreDC(int relative) {
  // [MS-EMF] 2.3.11 EMR_RESTOREDC: negative, relative to the current state
  if (relative >= 0 || saved.empty()) return;
  const size_t back = size_t(-int64_t(relative));
  if (back > saved.size()) return;
  dc = saved[saved.size() - back];
  saved.resize(saved.size() - back);
  Changed();
  ApplyClip();
}

// ---------------------------------------------------------------------------------------------
// mapping ([MS-EMF] 2.1.21 MapMode)

void Device::SetMapMode(int mode) {
  if (mode < 1 || mode > 8) return;
  // choosing the scalable mode already in force changes nothing (the extents stay); the fixed modes
  // set both extents, and the scalable ones keep those they find
  if (mode == dc.mapMode && mode >= 7) return;
  dc.mapMode = mode;
  if (mode == 1) {
    dc.winExt = dc.vpExt = {1, 1};  // MM_TEXT: one logical unit a device pixel, y down
  } else if (mode <= 6) {
    // metric modes: logical units per millimetre against device pixels per millimetre, y up
    static constexpr double kUnitsPerMm[7] = {0, 0, 10, 100, 100 / 25.4, 1000 / 25.4, 1440 / 25.4};
    dc.winExt = {kUnitsPerMm[mode], kUnitsPerMm[mode]};
    dc.vpExt = {pixelsPerMm.x, -pixelsPerMm.y};
  }
  Changed();
}

// GDI ignores extents set while a fixed mode is in force, and refuses extents of 0.
void Device::SetWindowExt(double x, double y) {
  if (dc.mapMode < 7 || x == 0 || y == 0 || !std::isfinite(x) || !std::isfinite(y)) return;
  dc.winExt = {x, y};
  Changed();
}

void Device::SetViewportExt(double x, double y) {
  if (dc.mapMode < 7 || x == 0 || y == 0 || !std::isfinite(x) || !std::isfinite(y)) return;
  dc.vpExt = {x, y};
  Changed();
}

void Device::ModifyWorldTransform(const XForm& x, uint32_t mode) {
  XForm r;
  if (mode == 1)
    r = XForm{};
  else if (mode == 2)
    r = Multiply(x, dc.world);
  else if (mode == 3)
    r = Multiply(dc.world, x);
  else if (mode == 4)
    r = x;
  else
    return;
  const double det = r.m11 * r.m22 - r.m12 * r.m21;
  if (!std::isfinite(det) || det == 0 || !std::isfinite(r.dx) || !std::isfinite(r.dy)) return;
  dc.world = r;
  Changed();
}

bool Device::MappingOk() {
  if (!mappingValid) {
    double sx = dc.vpExt.x / dc.winExt.x, sy = dc.vpExt.y / dc.winExt.y;
    if (dc.mapMode == 7 && pixelsPerMm.x > 0 && pixelsPerMm.y > 0) {
      // MM_ISOTROPIC: one logical unit is as long on both axes on the device, so the axis that
      // would stretch more is cut down to the other (the device's pixels need not be square)
      const double mm = std::min(std::fabs(sx) / pixelsPerMm.x, std::fabs(sy) / pixelsPerMm.y);
      sx = std::copysign(mm * pixelsPerMm.x, sx), sy = std::copysign(mm * pixelsPerMm.y, sy);
    }
    const XForm page{sx, 0, 0, sy, dc.vpOrg.x - dc.winOrg.x * sx, dc.vpOrg.y - dc.winOrg.y * sy};
    mapping = Multiply(Multiply(dc.world, page), referenceToOutput);
    const double det = mapping.m11 * mapping.m22 - mapping.m12 * mapping.m21;
    mappingOk = std::isfinite(det) && std::fabs(det) > 1e-12 && std::isfinite(mapping.dx) && std::isfinite(mapping.dy);
    mappingValid = true;
  }
  return mappingOk;
}

PointD Device::ToOutput(double x, double y) {
  MappingOk();
  return mapping.Apply(x, y);
}

PointD Device::Out(double x, double y) {
  const PointD p = ToOutput(x, y);
  return {Clamp(p.x), Clamp(p.y)};
}

void Device::Charge(double x1, double y1, double x2, double y2) {
  const double w = std::clamp(x2, 0.0, double(surfaceWidth)) - std::clamp(x1, 0.0, double(surfaceWidth));
  const double h = std::clamp(y2, 0.0, double(surfaceHeight)) - std::clamp(y1, 0.0, double(surfaceHeight));
  pixelWork += 1;
  if (w > 0 && h > 0) pixelWork += uint64_t(w * h);
}

bool Device::AllowPattern(const Dib& dib) {
  const uint64_t n = dib.pixels.size();
  if (n > (uint64_t(1) << 20) || patternPixels + n > (uint64_t(1) << 24)) return false;
  patternPixels += n;
  return true;
}

void Device::ChargePath(double margin) {
  double x1, y1, x2, y2;
  cairo_path_extents(cr, &x1, &y1, &x2, &y2);
  Charge(x1 - margin, y1 - margin, x2 + margin, y2 + margin);
}

double Device::DeviceWidth(double w) {
  MappingOk();
  return std::fabs(w) * std::sqrt(std::fabs(mapping.m11 * mapping.m22 - mapping.m12 * mapping.m21));
}

// ---------------------------------------------------------------------------------------------
// painting

void Device::SetBrushSource(cairo_t* c, const Brush& brush, double ox, double oy) {
  const double bx = dc.brushOrg.x, by = dc.brushOrg.y;
  if (brush.style == 2 || ((brush.style == 3 || brush.style == 5 || brush.style == 6) && brush.pattern)) {
    // hatches ([MS-WMF] 2.1.1.12 HatchStyle) and pattern brushes are 8 × 8 or bitmap tiles in device pixels
    Dib tile;
    const Dib* dib = brush.pattern.get();
    if (brush.style == 2) {
      tile.width = tile.height = 8;
      const uint32_t fg = 0xFF000000u | ToPixel(Resolve(brush.color));
      const uint32_t bg = dc.bkMode == 2 ? 0xFF000000u | ToPixel(dc.bkColor) : 0;
      tile.pixels.assign(64, bg);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
          bool on = false;
          switch (brush.hatch) {
            case 0:
              on = y == 3;
              break;  // HS_HORIZONTAL
            case 1:
              on = x == 3;
              break;  // HS_VERTICAL
            case 2:
              on = x == y;
              break;  // HS_FDIAGONAL
            case 3:
              on = x == 7 - y;
              break;  // HS_BDIAGONAL
            case 4:
              on = x == 3 || y == 3;
              break;  // HS_CROSS
            default:
              on = x == y || x == 7 - y;
              break;  // HS_DIAGCROSS
          }
          if (on) tile.pixels[size_t(y * 8 + x)] = fg;
        }
      dib = &tile;
    } else if (brush.monoPattern) {
      // a 1-bit pattern takes the text colour for 0 bits and the background colour for 1 bits
      tile = *dib;
      const uint32_t fg = 0xFF000000u | ToPixel(dc.textColor), bg = 0xFF000000u | ToPixel(dc.bkColor);
      for (uint32_t& p : tile.pixels) p = (p & 0xFFFFFF) ? bg : fg;
      dib = &tile;
    }
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, dib->width, dib->height);
    cairo_surface_flush(s);
    unsigned char* data = cairo_image_surface_get_data(s);
    const int stride = cairo_image_surface_get_stride(s);
    for (int y = 0; y < dib->height; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
      for (int x = 0; x < dib->width; ++x) {
        const uint32_t p = dib->pixels[size_t(y) * size_t(dib->width) + size_t(x)];
        row[x] = brush.style == 2 ? p : (p | 0xFF000000u);
      }
    }
    cairo_surface_mark_dirty(s);
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(s);
    cairo_surface_destroy(s);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
    cairo_matrix_t m;
    cairo_matrix_init_translate(&m, ox - bx, oy - by);
    cairo_pattern_set_matrix(pattern, &m);
    cairo_set_source(c, pattern);
    cairo_pattern_destroy(pattern);
    return;
  }
  SetColor(c, Resolve(brush.color));
}

template <class SetSource, class Paint>
void Device::PaintWithRop(SetSource setSource, Paint paint) {
  const int rop = dc.rop2;
  if (rop == 13 || rop < 1 || rop > 16) {  // R2_COPYPEN (and values GDI does not know)
    setSource(cr, 0.0, 0.0);
    paint(cr, false);
    return;
  }
  if (rop == 11) return;  // R2_NOP
  double x1, y1, x2, y2;
  cairo_path_extents(cr, &x1, &y1, &x2, &y2);
  double cx1, cy1, cx2, cy2;
  cairo_clip_extents(cr, &cx1, &cy1, &cx2, &cy2);
  // strokes reach beyond the path by half the pen; a margin covers it
  const double margin = cairo_get_line_width(cr) + 2;
  const int ix0 = int(std::max({0.0, std::floor(x1 - margin), std::floor(cx1)}));
  const int iy0 = int(std::max({0.0, std::floor(y1 - margin), std::floor(cy1)}));
  const int ix1 = int(std::min({double(surfaceWidth), std::ceil(x2 + margin), std::ceil(cx2)}));
  const int iy1 = int(std::min({double(surfaceHeight), std::ceil(y2 + margin), std::ceil(cy2)}));
  if (ix0 >= ix1 || iy0 >= iy1) return;
  const int w = ix1 - ix0, h = iy1 - iy0;
  cairo_surface_t* src = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
  cairo_t* c2 = cairo_create(src);
  setSource(c2, double(ix0), double(iy0));
  cairo_paint(c2);
  cairo_destroy(c2);
  cairo_surface_flush(src);
  cairo_surface_flush(surface);
  unsigned char* sd = cairo_image_surface_get_data(src);
  const int ss = cairo_image_surface_get_stride(src);
  const unsigned char* dd = cairo_image_surface_get_data(surface);
  const int ds = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < h; ++y) {
    auto* s = reinterpret_cast<uint32_t*>(sd + size_t(y) * size_t(ss));
    const auto* d = reinterpret_cast<const uint32_t*>(dd + size_t(y + iy0) * size_t(ds)) + ix0;
    for (int x = 0; x < w; ++x) s[x] = 0xFF000000u | Rop2(rop, s[x], d[x]);
  }
  cairo_surface_mark_dirty(src);
  cairo_save(cr);
  cairo_set_source_surface(cr, src, ix0, iy0);
  paint(cr, false);
  cairo_restore(cr);
  cairo_surface_destroy(src);
}

void Device::FillCurrent(const Brush& brush, bool preserve) {
  if (brush.style == 1) return;  // BS_NULL
  ChargePath(0);
  cairo_set_fill_rule(cr, dc.polyFillMode == 2 ? CAIRO_FILL_RULE_WINDING : CAIRO_FILL_RULE_EVEN_ODD);
  PaintWithRop([&](cairo_t* c, double ox, double oy) { SetBrushSource(c, brush, ox, oy); },
               [&](cairo_t* c, bool extentsOnly) {
                 if (!extentsOnly) cairo_fill_preserve(c);
               });
  if (!preserve) cairo_new_path(cr);
}

void Device::StrokeCurrent(const Pen& pen) {
  const uint32_t style = pen.style & 0x0F;
  if (style == 5) return;  // PS_NULL
  const bool geometric = (pen.style & 0x00010000) != 0;
  const double dw = DeviceWidth(pen.width);
  const bool thin = pen.width == 0 || dw < 1.5;
  const double width = thin ? 1 : dw;
  ChargePath(width);
  cairo_save(cr);
  cairo_set_line_width(cr, width);
  if (thin) {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
  } else {
    const uint32_t cap = pen.style & 0xF00, join = pen.style & 0xF000;
    cairo_set_line_cap(cr, cap == 0x100   ? CAIRO_LINE_CAP_SQUARE
                           : cap == 0x200 ? CAIRO_LINE_CAP_BUTT
                                          : CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, join == 0x1000   ? CAIRO_LINE_JOIN_BEVEL
                            : join == 0x2000 ? CAIRO_LINE_JOIN_MITER
                                             : CAIRO_LINE_JOIN_ROUND);
    cairo_set_miter_limit(cr, std::max(1.0, dc.miterLimit));
  }
  // dashes ([MS-WMF] 2.1.1.23 PenStyle): device pixels for cosmetic pens, pen widths for geometric ones
  std::vector<double> dashes;
  const double unit = thin ? 1 : width;
  switch (style) {
    case 1:
      dashes = thin && !geometric ? std::vector<double>{18, 6} : std::vector<double>{3 * unit, unit};
      break;
    case 2:
      dashes = thin && !geometric ? std::vector<double>{3, 3} : std::vector<double>{unit, unit};
      break;
    case 3:
      dashes = thin && !geometric ? std::vector<double>{9, 6, 3, 6} : std::vector<double>{3 * unit, unit, unit, unit};
      break;
    case 4:
      dashes = thin && !geometric ? std::vector<double>{9, 3, 3, 3, 3, 3}
                                  : std::vector<double>{3 * unit, unit, unit, unit, unit, unit};
      break;
    case 7:
      for (double d : pen.userStyle) dashes.push_back(std::max(0.0, d) * unit);
      break;
    case 8:
      dashes = {1, 1};
      break;
    default:
      break;
  }
  double period = 0;
  for (double d : dashes) period += d;
  // a path that would cut into more than a million dashes is drawn solid (no hang on huge lines)
  if (!dashes.empty() && (period < 1 || PathLength(cr) / period > 1e6)) dashes.clear();
  // odd widths are centred on pixel centres, as GDI draws them
  const bool odd = int(std::lround(width)) % 2 == 1;
  auto original = CopyPath(cr);
  cairo_new_path(cr);
  cairo_append_path(cr, odd ? Shifted(original.get(), 0.5, 0.5).get() : original.get());
  const ColorRef color = Resolve(pen.color);
  if (!dashes.empty() && dc.bkMode == 2 && thin) {
    // an opaque background fills the gaps of a styled cosmetic line
    PaintWithRop([&](cairo_t* c, double, double) { SetColor(c, dc.bkColor); },
                 [&](cairo_t* c, bool extentsOnly) {
                   if (!extentsOnly) cairo_stroke_preserve(c);
                 });
  }
  if (!dashes.empty()) cairo_set_dash(cr, dashes.data(), int(dashes.size()), 0);
  PaintWithRop([&](cairo_t* c, double, double) { SetColor(c, color); },
               [&](cairo_t* c, bool extentsOnly) {
                 if (!extentsOnly) cairo_stroke_preserve(c);
               });
  cairo_new_path(cr);
  cairo_restore(cr);
}

void Device::Finish(bool fill, bool stroke) {
  if (inPath) return;
  if (fill) {
    if (const Brush* b = CurrentBrush()) FillCurrent(*b, true);
  }
  if (stroke) {
    if (const Pen* p = CurrentPen()) StrokeCurrent(*p);
  }
  cairo_new_path(cr);
}

// ---------------------------------------------------------------------------------------------
// shapes

void Device::AppendPolyline(const std::vector<PointD>& pts, bool close) {
  if (pts.empty()) return;
  const PointD p0 = Out(pts[0].x, pts[0].y);
  cairo_move_to(cr, p0.x, p0.y);
  for (size_t i = 1; i < pts.size(); ++i) {
    const PointD p = Out(pts[i].x, pts[i].y);
    cairo_line_to(cr, p.x, p.y);
  }
  if (close) cairo_close_path(cr);
}

void Device::MoveTo(double x, double y) {
  dc.current = {x, y};
  if (inPath) {
    const PointD p = Out(x, y);
    cairo_move_to(cr, p.x, p.y);
  }
}

void Device::LineTo(double x, double y) {
  if (MappingOk()) {
    const PointD a = Out(dc.current.x, dc.current.y), b = Out(x, y);
    if (inPath) {
      if (!cairo_has_current_point(cr)) cairo_move_to(cr, a.x, a.y);
      cairo_line_to(cr, b.x, b.y);
    } else {
      cairo_new_path(cr);
      cairo_move_to(cr, a.x, a.y);
      cairo_line_to(cr, b.x, b.y);
      Finish(false, true);
    }
  }
  dc.current = {x, y};
}

void Device::Polyline(const std::vector<PointD>& pts) {
  if (pts.size() < 2 || !MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  AppendPolyline(pts, false);
  Finish(false, true);
}

void Device::PolylineTo(const std::vector<PointD>& pts) {
  if (pts.empty()) return;
  if (MappingOk()) {
    std::vector<PointD> all;
    all.reserve(pts.size() + 1);
    all.push_back(dc.current);
    all.insert(all.end(), pts.begin(), pts.end());
    if (inPath && cairo_has_current_point(cr)) {
      for (const PointD& q : pts) {
        const PointD p = Out(q.x, q.y);
        cairo_line_to(cr, p.x, p.y);
      }
    } else {
      if (!inPath) cairo_new_path(cr);
      AppendPolyline(all, false);
      Finish(false, true);
    }
  }
  dc.current = pts.back();
}

void Device::Polygon(const std::vector<PointD>& pts) {
  if (pts.size() < 2 || !MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  AppendPolyline(pts, true);
  Finish(true, true);
}

void Device::PolyPolygon(const std::vector<PointD>& pts, const std::vector<uint32_t>& counts) {
  PolyPoly(pts, counts, true);
}

void Device::PolyPolyline(const std::vector<PointD>& pts, const std::vector<uint32_t>& counts) {
  PolyPoly(pts, counts, false);
}

// Figures of counts[i] points each, taken in turn from pts (a count past the points left ends them).
void Device::PolyPoly(const std::vector<PointD>& pts, const std::vector<uint32_t>& counts, bool closed) {
  if (!MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  size_t at = 0;
  for (uint32_t n : counts) {
    if (n > pts.size() - at) break;
    AppendPolyline(std::vector<PointD>(pts.begin() + long(at), pts.begin() + long(at + n)), closed);
    at += n;
  }
  Finish(closed, true);
}

void Device::PolyBezier(const std::vector<PointD>& pts) {
  if (pts.size() < 4 || !MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  const PointD p0 = Out(pts[0].x, pts[0].y);
  cairo_move_to(cr, p0.x, p0.y);
  for (size_t i = 1; i + 2 < pts.size(); i += 3) {
    const PointD a = Out(pts[i].x, pts[i].y), b = Out(pts[i + 1].x, pts[i + 1].y), c = Out(pts[i + 2].x, pts[i + 2].y);
    cairo_curve_to(cr, a.x, a.y, b.x, b.y, c.x, c.y);
  }
  Finish(false, true);
}

void Device::PolyBezierTo(const std::vector<PointD>& pts) {
  if (pts.size() < 3) return;
  if (MappingOk()) {
    if (!inPath) cairo_new_path(cr);
    if (!inPath || !cairo_has_current_point(cr)) {
      const PointD p0 = Out(dc.current.x, dc.current.y);
      cairo_move_to(cr, p0.x, p0.y);
    }
    for (size_t i = 0; i + 2 < pts.size(); i += 3) {
      const PointD a = Out(pts[i].x, pts[i].y), b = Out(pts[i + 1].x, pts[i + 1].y),
                   c = Out(pts[i + 2].x, pts[i + 2].y);
      cairo_curve_to(cr, a.x, a.y, b.x, b.y, c.x, c.y);
    }
    Finish(false, true);
  }
  dc.current = pts[(pts.size() / 3) * 3 - 1];
}

void Device::PolyDraw(const std::vector<PointD>& pts, const std::vector<uint8_t>& types) {
  // [MS-EMF] 2.1.23 Point enumeration: PT_CLOSEFIGURE 1, PT_LINETO 2, PT_BEZIERTO 4, PT_MOVETO 6
  if (!MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  PointD cur = dc.current;
  {
    const PointD p = Out(cur.x, cur.y);
    cairo_move_to(cr, p.x, p.y);
  }
  for (size_t i = 0; i < pts.size() && i < types.size(); ++i) {
    const uint8_t t = types[i] & 6;
    if (t == 6) {
      const PointD p = Out(pts[i].x, pts[i].y);
      cairo_move_to(cr, p.x, p.y);
    } else if (t == 2) {
      const PointD p = Out(pts[i].x, pts[i].y);
      cairo_line_to(cr, p.x, p.y);
    } else if (t == 4 && i + 2 < pts.size()) {
      const PointD a = Out(pts[i].x, pts[i].y), b = Out(pts[i + 1].x, pts[i + 1].y),
                   c = Out(pts[i + 2].x, pts[i + 2].y);
      cairo_curve_to(cr, a.x, a.y, b.x, b.y, c.x, c.y);
      i += 2;
    }
    if (i < types.size() && (types[i] & 1)) cairo_close_path(cr);
    cur = pts[std::min(i, pts.size() - 1)];
  }
  dc.current = cur;
  Finish(false, true);
}

void Device::Rectangle(double l, double t, double r, double b) {
  if (!MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  const bool axisAligned = mapping.m12 == 0 && mapping.m21 == 0;
  const Pen* pen = CurrentPen();
  const bool nullPen = !pen || (pen->style & 0x0F) == 5;
  if (axisAligned && !inPath) {
    PointD a = Out(l, t), c = Out(r, b);
    if (a.x > c.x) std::swap(a.x, c.x);
    if (a.y > c.y) std::swap(a.y, c.y);
    // GDI excludes the right and bottom edges; without a pen the fill loses them too
    const double shrink = nullPen ? 1 : 0;
    cairo_rectangle(cr, a.x, a.y, std::max(0.0, c.x - a.x - shrink), std::max(0.0, c.y - a.y - shrink));
    if (const Brush* br = CurrentBrush()) FillCurrent(*br, false);
    cairo_new_path(cr);
    if (!nullPen) {
      const double dw = DeviceWidth(pen->width);
      if (pen->width == 0 || dw < 1.5) {
        // a one-pixel outline on the outermost pixels, right and bottom included: stroked through
        // the centres of the pixels left..right-1, which StrokeCurrent's half-pixel shift gives
        cairo_rectangle(cr, a.x, a.y, std::max(0.0, c.x - a.x - 1), std::max(0.0, c.y - a.y - 1));
      } else {
        cairo_rectangle(cr, a.x, a.y, c.x - a.x, c.y - a.y);
      }
      StrokeCurrent(*pen);
    }
    cairo_new_path(cr);
    return;
  }
  AppendPolyline({{l, t}, {r, t}, {r, b}, {l, b}}, true);
  Finish(true, true);
}

void Device::AppendEllipse(double l, double t, double r, double b) {
  const double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
  // drawn as four Bézier quarters through the mapping, so that rotations and shears follow
  constexpr double k = 0.5522847498307936;
  const PointD p[13] = {{cx + rx, cy},          {cx + rx, cy + k * ry}, {cx + k * rx, cy + ry}, {cx, cy + ry},
                        {cx - k * rx, cy + ry}, {cx - rx, cy + k * ry}, {cx - rx, cy},          {cx - rx, cy - k * ry},
                        {cx - k * rx, cy - ry}, {cx, cy - ry},          {cx + k * rx, cy - ry}, {cx + rx, cy - k * ry},
                        {cx + rx, cy}};
  const PointD s = Out(p[0].x, p[0].y);
  cairo_move_to(cr, s.x, s.y);
  for (int i = 1; i < 13; i += 3) {
    const PointD a = Out(p[i].x, p[i].y), c = Out(p[i + 1].x, p[i + 1].y), d = Out(p[i + 2].x, p[i + 2].y);
    cairo_curve_to(cr, a.x, a.y, c.x, c.y, d.x, d.y);
  }
  cairo_close_path(cr);
}

void Device::Ellipse(double l, double t, double r, double b) {
  if (!MappingOk()) return;
  if (!inPath) cairo_new_path(cr);
  AppendEllipse(l, t, r, b);
  Finish(true, true);
}

void Device::RoundRect(double l, double t, double r, double b, double w, double h) {
  if (!MappingOk()) return;
  if (l > r) std::swap(l, r);
  if (t > b) std::swap(t, b);
  const double rx = std::min(std::fabs(w) / 2, (r - l) / 2), ry = std::min(std::fabs(h) / 2, (b - t) / 2);
  if (!inPath) cairo_new_path(cr);
  if (rx <= 0 || ry <= 0) {
    AppendPolyline({{l, t}, {r, t}, {r, b}, {l, b}}, true);
  } else {
    constexpr double k = 0.5522847498307936;
    auto curve = [&](double x1, double y1, double x2, double y2, double x3, double y3) {
      const PointD a = Out(x1, y1), c = Out(x2, y2), d = Out(x3, y3);
      cairo_curve_to(cr, a.x, a.y, c.x, c.y, d.x, d.y);
    };
    auto line = [&](double x, double y) {
      const PointD p = Out(x, y);
      cairo_line_to(cr, p.x, p.y);
    };
    const PointD s = Out(l + rx, t);
    cairo_move_to(cr, s.x, s.y);
    line(r - rx, t);
    curve(r - rx + k * rx, t, r, t + ry - k * ry, r, t + ry);
    line(r, b - ry);
    curve(r, b - ry + k * ry, r - rx + k * rx, b, r - rx, b);
    line(l + rx, b);
    curve(l + rx - k * rx, b, l, b - ry + k * ry, l, b - ry);
    line(l, t + ry);
    curve(l, t + ry - k * ry, l + rx - k * rx, t, l + rx, t);
    cairo_close_path(cr);
  }
  Finish(true, true);
}

void Device::Arc(ArcKind kind, double l, double t, double r, double b, double xs, double ys, double xe, double ye) {
  if (!MappingOk()) return;
  const double cx = (l + r) / 2, cy = (t + b) / 2, rx = std::fabs(r - l) / 2, ry = std::fabs(b - t) / 2;
  if (rx < 1e-9 || ry < 1e-9 || rx > 1e9 || ry > 1e9) return;
  // the arc runs between the rays through the start and end points ([MS-WMF] 2.3.3.2 META_ARC),
  // counter-clockwise unless the arc direction says otherwise
  const double a1 = std::atan2((ys - cy) / ry, (xs - cx) / rx), a2 = std::atan2((ye - cy) / ry, (xe - cx) / rx);
  double sweep = dc.clockwise ? a2 - a1 : a1 - a2;  // in a y-down space counter-clockwise lowers the angle
  while (sweep <= 1e-12) sweep += 2 * kPi;
  const int steps = std::max(4, int(std::ceil(sweep / (kPi / 16))));
  std::vector<PointD> pts;
  pts.reserve(size_t(steps) + 3);
  for (int i = 0; i <= steps; ++i) {
    const double a = dc.clockwise ? a1 + sweep * i / steps : a1 - sweep * i / steps;
    pts.push_back({cx + rx * std::cos(a), cy + ry * std::sin(a)});
  }
  if (!inPath) cairo_new_path(cr);
  if (kind == ArcKind::ArcTo) {
    std::vector<PointD> all{dc.current};
    all.insert(all.end(), pts.begin(), pts.end());
    if (inPath && cairo_has_current_point(cr)) {
      for (const PointD& q : pts) {
        const PointD p = Out(q.x, q.y);
        cairo_line_to(cr, p.x, p.y);
      }
    } else {
      AppendPolyline(all, false);
    }
    dc.current = pts.back();
    Finish(false, true);
    return;
  }
  if (kind == ArcKind::Pie) pts.insert(pts.begin(), PointD{cx, cy});
  AppendPolyline(pts, kind != ArcKind::Arc);
  Finish(kind != ArcKind::Arc, true);
}

void Device::AngleArc(double x, double y, double radius, double start, double sweep) {
  if (!MappingOk() || !std::isfinite(start) || !std::isfinite(sweep) || radius > 1e9) return;
  // [MS-EMF] 2.3.5.1 EMR_ANGLEARC: a line to the arc's start, then the arc, angles in degrees counter-clockwise
  sweep = std::clamp(sweep, -360.0, 360.0);
  const int steps = std::max(2, int(std::ceil(std::fabs(sweep) / 5)));
  std::vector<PointD> pts;
  for (int i = 0; i <= steps; ++i) {
    const double a = (start + sweep * i / steps) * kPi / 180;
    pts.push_back({x + radius * std::cos(a), y - radius * std::sin(a)});
  }
  PolylineTo(pts);
}

void Device::SetPixel(double x, double y, ColorRef color) {
  if (!MappingOk() || inPath) return;
  const PointD p = Out(x, y);
  cairo_new_path(cr);
  cairo_rectangle(cr, std::floor(p.x), std::floor(p.y), 1, 1);
  SetColor(cr, Resolve(color));
  cairo_fill(cr);
}

// ---------------------------------------------------------------------------------------------
// text

void Device::TextOut(double x, double y, const std::vector<uint32_t>& text, const std::vector<double>& dx,
                     uint32_t options, const double* rect) {
  if (!MappingOk()) return;
  static const Font kDefault{-16, 0, 0, 400, false, false, false, 0, 0x22, "Arial"};
  const Font* font = dc.font ? std::get_if<Font>(&*dc.font) : nullptr;
  if (!font) font = &kDefault;
  const bool updateCp = (dc.textAlign & 1) != 0;  // TA_UPDATECP
  if (updateCp) x = dc.current.x, y = dc.current.y;

  // logical to output scales along the two axes
  const double sx = std::hypot(mapping.m11, mapping.m12), sy = std::hypot(mapping.m21, mapping.m22);
  cairo_save(cr);
  cairo_select_font_face(cr, FontFamily(*font), font->italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                         font->weight >= 600 ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  // [MS-WMF] 2.2.1.2 Font: a negative height is the em height, a positive one the cell height
  double em = 16;
  if (font->height < 0) {
    em = -double(font->height) * sy;
  } else if (font->height > 0) {
    cairo_set_font_size(cr, 1);
    cairo_font_extents_t fe;
    cairo_font_extents(cr, &fe);
    em = double(font->height) * sy / std::max(0.5, fe.ascent + fe.descent);
  }
  if (!std::isfinite(em) || em < 0.5 || em > 4096) {
    cairo_restore(cr);
    return;
  }
  cairo_set_font_size(cr, em);
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  const std::string utf8 = ToUtf8(text);
  cairo_glyph_t* glyphs = nullptr;
  int count = 0;
  cairo_scaled_font_t* scaled = cairo_get_scaled_font(cr);
  if (cairo_scaled_font_text_to_glyphs(scaled, 0, 0, utf8.data(), int(utf8.size()), &glyphs, &count, nullptr, nullptr,
                                       nullptr) != CAIRO_STATUS_SUCCESS) {
    cairo_restore(cr);
    return;
  }
  // advances: the record's own (logical units along the baseline) or the font's
  double width = 0;
  if (!dx.empty() && size_t(count) == text.size()) {
    double at = 0;
    for (int i = 0; i < count; ++i) {
      glyphs[i].x = at;
      at += (i < int(dx.size()) ? dx[size_t(i)] : 0) * sx;
    }
    width = at;
  } else if (count > 0) {
    cairo_text_extents_t te;
    cairo_glyph_extents(cr, glyphs, count, &te);
    width = te.x_advance;
    if (dc.charExtra != 0)
      for (int i = 0; i < count; ++i) glyphs[i].x += i * dc.charExtra * sx;
    width += count * dc.charExtra * sx;
  }
  // the baseline turns with the escapement (tenths of a degree, counter-clockwise) and the mapping
  const double angle = std::atan2(mapping.m12, mapping.m11) - font->escapement * kPi / 1800;
  const double ux = std::cos(angle), uy = std::sin(angle);
  const double vx = -uy, vy = ux;  // towards the bottom of the text
  double shift = 0, drop = 0;
  if ((dc.textAlign & 6) == 6)
    shift = -width / 2;  // TA_CENTER
  else if ((dc.textAlign & 6) == 2)
    shift = -width;  // TA_RIGHT
  if ((dc.textAlign & 24) == 24)
    drop = 0;  // TA_BASELINE
  else if ((dc.textAlign & 24) == 8)
    drop = -fe.descent;  // TA_BOTTOM
  else
    drop = fe.ascent;  // TA_TOP
  const PointD o = Out(x, y);
  const double bx = o.x + ux * shift + vx * drop, by = o.y + uy * shift + vy * drop;
  const double reach = std::fabs(width) + 2 * em;
  Charge(bx - reach, by - reach, bx + reach, by + reach);

  // ETO_OPAQUE fills the rectangle, ETO_CLIPPED clips to it ([MS-WMF] 2.1.2.2 ExtTextOutOptions)
  auto rectPath = [&]() {
    const PointD a = Out(rect[0], rect[1]), b = Out(rect[2], rect[1]), c = Out(rect[2], rect[3]),
                 d = Out(rect[0], rect[3]);
    cairo_new_path(cr);
    cairo_move_to(cr, a.x, a.y);
    cairo_line_to(cr, b.x, b.y);
    cairo_line_to(cr, c.x, c.y);
    cairo_line_to(cr, d.x, d.y);
    cairo_close_path(cr);
  };
  if (!inPath) {
    if (rect && (options & 2)) {
      rectPath();
      SetColor(cr, dc.bkColor);
      cairo_fill(cr);
    }
    if (rect && (options & 4)) {
      rectPath();
      cairo_clip(cr);
    }
    if (dc.bkMode == 2 && !(rect && (options & 2)) && width != 0) {
      const double top = -fe.ascent, bottom = fe.descent;
      cairo_new_path(cr);
      cairo_move_to(cr, bx + vx * top, by + vy * top);
      cairo_line_to(cr, bx + ux * width + vx * top, by + uy * width + vy * top);
      cairo_line_to(cr, bx + ux * width + vx * bottom, by + uy * width + vy * bottom);
      cairo_line_to(cr, bx + vx * bottom, by + vy * bottom);
      cairo_close_path(cr);
      SetColor(cr, dc.bkColor);
      cairo_fill(cr);
    }
  }
  for (int i = 0; i < count; ++i) {
    const double along = glyphs[i].x;
    glyphs[i].x = bx + ux * along;
    glyphs[i].y = by + uy * along;
  }
  cairo_matrix_t fm;
  cairo_matrix_init_scale(&fm, em, em);
  cairo_matrix_rotate(&fm, angle);
  cairo_set_font_matrix(cr, &fm);
  if (inPath) {
    cairo_glyph_path(cr, glyphs, count);
  } else {
    cairo_new_path(cr);
    SetColor(cr, Resolve(dc.textColor));
    cairo_show_glyphs(cr, glyphs, count);
    if (font->underline || font->strikeOut) {
      const double thickness = std::max(1.0, std::round(em / 14));
      cairo_set_line_width(cr, thickness);
      for (int pass = 0; pass < 2; ++pass) {
        if ((pass == 0 && !font->underline) || (pass == 1 && !font->strikeOut)) continue;
        const double off = pass == 0 ? std::max(1.0, fe.descent / 2) : -fe.ascent / 3;
        cairo_new_path(cr);
        cairo_move_to(cr, bx + vx * off, by + vy * off);
        cairo_line_to(cr, bx + ux * width + vx * off, by + uy * width + vy * off);
        cairo_stroke(cr);
      }
    }
  }
  cairo_glyph_free(glyphs);
  cairo_restore(cr);
  if (updateCp && sx > 0) dc.current.x += width / sx;
}

// ---------------------------------------------------------------------------------------------
// bitmaps

void Device::StretchBlt(double x, double y, double w, double h, const Dib* dib, double sx, double sy, double sw,
                        double sh, uint32_t rop) {
  if (dib) pixelWork += dib->pixels.size();  // decoding it was work too
  if (!MappingOk() || inPath || w == 0 || h == 0) return;
  const uint8_t code = uint8_t(rop >> 16);
  const bool usesSource = ((code >> 2) & 0x33) != (code & 0x33);
  if (usesSource && (!dib || sw == 0 || sh == 0)) return;
  if (code == 0xAA) return;  // D: leaves the destination
  // the destination parallelogram
  const PointD a = Out(x, y), b = Out(x + w, y), d = Out(x, y + h);
  cairo_new_path(cr);
  cairo_move_to(cr, a.x, a.y);
  cairo_line_to(cr, b.x, b.y);
  cairo_line_to(cr, b.x + d.x - a.x, b.y + d.y - a.y);
  cairo_line_to(cr, d.x, d.y);
  cairo_close_path(cr);
  // output to source pixels: the inverse of source -> destination
  cairo_matrix_t srcToOut;
  cairo_matrix_init(&srcToOut, (b.x - a.x) / sw, (b.y - a.y) / sw, (d.x - a.x) / sh, (d.y - a.y) / sh, 0, 0);
  srcToOut.x0 = a.x - (srcToOut.xx * sx + srcToOut.xy * sy);
  srcToOut.y0 = a.y - (srcToOut.yx * sx + srcToOut.yy * sy);
  cairo_matrix_t outToSrc = srcToOut;
  if (usesSource && cairo_matrix_invert(&outToSrc) != CAIRO_STATUS_SUCCESS) {
    cairo_new_path(cr);
    return;
  }
  cairo_surface_t* src = usesSource ? DibSurface(*dib, false) : nullptr;
  auto setSource = [&](cairo_t* c, double ox, double oy) {
    cairo_pattern_t* p = cairo_pattern_create_for_surface(src);
    cairo_matrix_t m = outToSrc;
    cairo_matrix_t shift;
    cairo_matrix_init_translate(&shift, ox, oy);
    cairo_matrix_multiply(&m, &shift, &m);
    cairo_pattern_set_matrix(p, &m);
    cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
    cairo_pattern_set_extend(p, CAIRO_EXTEND_PAD);
    cairo_set_source(c, p);
    cairo_pattern_destroy(p);
  };
  if (code == 0xCC) {  // SRCCOPY
    ChargePath(0);
    cairo_save(cr);
    setSource(cr, 0, 0);
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_surface_destroy(src);
    return;
  }
  // any other operation: pattern, source and destination combined per pixel
  double x1, y1, x2, y2, cx1, cy1, cx2, cy2;
  cairo_path_extents(cr, &x1, &y1, &x2, &y2);
  Charge(x1, y1, x2, y2);
  cairo_clip_extents(cr, &cx1, &cy1, &cx2, &cy2);
  const int ix0 = int(std::max({0.0, std::floor(x1), std::floor(cx1)}));
  const int iy0 = int(std::max({0.0, std::floor(y1), std::floor(cy1)}));
  const int ix1 = int(std::min({double(surfaceWidth), std::ceil(x2), std::ceil(cx2)}));
  const int iy1 = int(std::min({double(surfaceHeight), std::ceil(y2), std::ceil(cy2)}));
  if (ix0 >= ix1 || iy0 >= iy1) {
    cairo_new_path(cr);
    if (src) cairo_surface_destroy(src);
    return;
  }
  const int pw = ix1 - ix0, ph = iy1 - iy0;
  cairo_surface_t* pat = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pw, ph);
  cairo_surface_t* srcPix = cairo_image_surface_create(CAIRO_FORMAT_RGB24, pw, ph);
  {
    cairo_t* c2 = cairo_create(pat);
    const Brush* brush = CurrentBrush();
    if (brush && brush->style != 1)
      SetBrushSource(c2, *brush, ix0, iy0);
    else
      cairo_set_source_rgb(c2, 0, 0, 0);
    cairo_paint(c2);
    cairo_destroy(c2);
    if (src) {
      c2 = cairo_create(srcPix);
      setSource(c2, ix0, iy0);
      cairo_paint(c2);
      cairo_destroy(c2);
    }
  }
  cairo_surface_flush(pat);
  cairo_surface_flush(srcPix);
  cairo_surface_flush(surface);
  unsigned char* pd = cairo_image_surface_get_data(pat);
  const unsigned char* sd = cairo_image_surface_get_data(srcPix);
  const unsigned char* dd = cairo_image_surface_get_data(surface);
  const int ps = cairo_image_surface_get_stride(pat), ss = cairo_image_surface_get_stride(srcPix),
            ds = cairo_image_surface_get_stride(surface);
  for (int yy = 0; yy < ph; ++yy) {
    auto* p = reinterpret_cast<uint32_t*>(pd + size_t(yy) * size_t(ps));
    const auto* s = reinterpret_cast<const uint32_t*>(sd + size_t(yy) * size_t(ss));
    const auto* dst = reinterpret_cast<const uint32_t*>(dd + size_t(yy + iy0) * size_t(ds)) + ix0;
    for (int xx = 0; xx < pw; ++xx) p[xx] = 0xFF000000u | Rop3(code, p[xx], s[xx], dst[xx]);
  }
  cairo_surface_mark_dirty(pat);
  cairo_save(cr);
  cairo_set_source_surface(cr, pat, ix0, iy0);
  cairo_fill(cr);
  cairo_restore(cr);
  cairo_surface_destroy(pat);
  cairo_surface_destroy(srcPix);
  if (src) cairo_surface_destroy(src);
}

void Device::AlphaBlend(double x, double y, double w, double h, const Dib& dib, double sx, double sy, double sw,
                        double sh, uint8_t constantAlpha, bool sourceAlpha) {
  pixelWork += dib.pixels.size();
  if (!MappingOk() || inPath || w == 0 || h == 0 || sw == 0 || sh == 0) return;
  Dib copy = dib;
  for (uint32_t& p : copy.pixels) {
    if (!sourceAlpha) {
      p |= 0xFF000000u;
      continue;
    }
    // AC_SRC_ALPHA: premultiplied colours; clamp those that are not, so Cairo gets valid ones
    const uint32_t al = p >> 24;
    const uint32_t r = std::min((p >> 16) & 255, al), g = std::min((p >> 8) & 255, al), b = std::min(p & 255, al);
    p = (al << 24) | (r << 16) | (g << 8) | b;
  }
  PaintDib(Out(x, y), Out(x + w, y), Out(x, y + h), copy, sx, sy, sw, sh, constantAlpha / 255.0);
}

void Device::PaintDib(const PointD& a, const PointD& b, const PointD& d, const Dib& dib, double sx, double sy,
                      double sw, double sh, double alpha) {
  cairo_matrix_t m;
  cairo_matrix_init(&m, (b.x - a.x) / sw, (b.y - a.y) / sw, (d.x - a.x) / sh, (d.y - a.y) / sh, 0, 0);
  m.x0 = a.x - (m.xx * sx + m.xy * sy);
  m.y0 = a.y - (m.yx * sx + m.yy * sy);
  if (cairo_matrix_invert(&m) != CAIRO_STATUS_SUCCESS) return;
  cairo_surface_t* s = DibSurface(dib, true);
  Charge(std::min({a.x, b.x, d.x}), std::min({a.y, b.y, d.y}), std::max({a.x, b.x, d.x, b.x + d.x - a.x}),
         std::max({a.y, b.y, d.y, b.y + d.y - a.y}));
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_move_to(cr, a.x, a.y);
  cairo_line_to(cr, b.x, b.y);
  cairo_line_to(cr, b.x + d.x - a.x, b.y + d.y - a.y);
  cairo_line_to(cr, d.x, d.y);
  cairo_close_path(cr);
  cairo_clip(cr);
  cairo_pattern_t* p = cairo_pattern_create_for_surface(s);
  cairo_pattern_set_matrix(p, &m);
  cairo_pattern_set_filter(p, CAIRO_FILTER_NEAREST);
  cairo_set_source(cr, p);
  cairo_paint_with_alpha(cr, alpha);
  cairo_pattern_destroy(p);
  cairo_restore(cr);
  cairo_surface_destroy(s);
}

void Device::TransparentBlt(double x, double y, double w, double h, const Dib& dib, double sx, double sy, double sw,
                            double sh, ColorRef transparent) {
  pixelWork += dib.pixels.size();
  if (!MappingOk() || inPath || w == 0 || h == 0 || sw == 0 || sh == 0) return;
  Dib copy = dib;
  const uint32_t key = ToPixel(Resolve(transparent));
  for (uint32_t& p : copy.pixels) p = (p & 0xFFFFFF) == key ? 0 : (p | 0xFF000000u);
  PaintDib(Out(x, y), Out(x + w, y), Out(x, y + h), copy, sx, sy, sw, sh, 1);
}

template <class F>
void Device::WithClip(DcState::ClipOp op, F fn) {
  const std::vector<DcState::ClipOp> clip = dc.clip;
  dc.clip.push_back(std::move(op));
  ApplyClip();
  fn();
  dc.clip = clip;
  ApplyClip();
}

void Device::MaskBlt(double x, double y, double w, double h, const Dib* dib, double sx, double sy, const Dib* mask,
                     double mx, double my, uint32_t rop) {
  const uint32_t fore = rop & 0x00FF0000u, back = (rop >> 8) & 0x00FF0000u;
  if (!mask || fore == back) {
    StretchBlt(x, y, w, h, dib, sx, sy, w, h, fore);
    return;
  }
  pixelWork += mask->pixels.size();
  if (!MappingOk() || inPath || w == 0 || h == 0) return;
  // the mask's 1 bits (its lighter colour) as runs of logical rectangles, looked for only where
  // the mask covers the destination; a mask that would cut into more runs than a real picture
  // holds is taken as all 1
  const double lx = std::max(std::min(w, 0.0), -mx), hx = std::min(std::max(w, 0.0), mask->width - mx);
  const double ly = std::max(std::min(h, 0.0), -my), hy = std::min(std::max(h, 0.0), mask->height - my);
  const bool covered = lx < hx && ly < hy;  // then all four lie within the destination's int range
  const int x0 = covered ? int(lx) : 0, x1 = covered ? int(hx) : 0, y0 = covered ? int(ly) : 0,
            y1 = covered ? int(hy) : 0;
  auto bit = [&](int i, int j) {
    const double u = mx + i, v = my + j;
    if (u < 0 || v < 0 || u >= mask->width || v >= mask->height) return false;
    return (mask->pixels[size_t(v) * size_t(mask->width) + size_t(u)] & 0xFFFFFF) != 0;
  };
  constexpr size_t kMaxRuns = size_t(1) << 16;
  size_t runs = 0;
  cairo_new_path(cr);
  for (int j = y0; j < y1 && runs <= kMaxRuns; ++j) {
    for (int i = x0; i < x1 && runs <= kMaxRuns;) {
      if (!bit(i, j)) {
        ++i;
        continue;
      }
      int e = i;
      while (e < x1 && bit(e, j)) ++e;
      const PointD a = Out(x + i, y + j), b = Out(x + e, y + j), c = Out(x + e, y + j + 1), d = Out(x + i, y + j + 1);
      cairo_move_to(cr, a.x, a.y);
      cairo_line_to(cr, b.x, b.y);
      cairo_line_to(cr, c.x, c.y);
      cairo_line_to(cr, d.x, d.y);
      cairo_close_path(cr);
      ++runs, i = e;
    }
  }
  if (runs > kMaxRuns) {
    cairo_new_path(cr);
    StretchBlt(x, y, w, h, dib, sx, sy, w, h, fore);
    return;
  }
  const auto ones = CopyPath(cr);
  cairo_new_path(cr);
  WithClip({ones, false, false}, [&] { StretchBlt(x, y, w, h, dib, sx, sy, w, h, fore); });
  WithClip({ones, false, true}, [&] { StretchBlt(x, y, w, h, dib, sx, sy, w, h, back); });
}

void Device::PlgBlt(const PointD corners[3], const Dib& dib, double sx, double sy, double sw, double sh,
                    const Dib* mask, double mx, double my) {
  pixelWork += dib.pixels.size();
  if (!MappingOk() || inPath || sw == 0 || sh == 0) return;
  Dib copy = dib;
  for (int v = 0; v < copy.height; ++v)
    for (int u = 0; u < copy.width; ++u) {
      uint32_t& p = copy.pixels[size_t(v) * size_t(copy.width) + size_t(u)];
      p |= 0xFF000000u;
      if (!mask) continue;
      // the mask lines up with the source rectangle: source (sx, sy) is mask (mx, my)
      const double mu = mx + (u - sx), mv = my + (v - sy);
      const bool on = mu >= 0 && mv >= 0 && mu < mask->width && mv < mask->height &&
                      (mask->pixels[size_t(mv) * size_t(mask->width) + size_t(mu)] & 0xFFFFFF) != 0;
      if (!on) p = 0;
    }
  PaintDib(Out(corners[0].x, corners[0].y), Out(corners[1].x, corners[1].y), Out(corners[2].x, corners[2].y), copy, sx,
           sy, sw, sh, 1);
}

// ---------------------------------------------------------------------------------------------
// regions and clipping

void Device::RegionPath(const Region& rgn) {
  for (size_t i = 0; i + 3 < rgn.rects.size(); i += 4) {
    PointD a, c;
    if (rgn.deviceUnits) {
      a = referenceToOutput.Apply(rgn.rects[i], rgn.rects[i + 1]);
      c = referenceToOutput.Apply(rgn.rects[i + 2], rgn.rects[i + 3]);
    } else {
      a = Out(rgn.rects[i], rgn.rects[i + 1]);
      c = Out(rgn.rects[i + 2], rgn.rects[i + 3]);
    }
    a = {Clamp(a.x), Clamp(a.y)}, c = {Clamp(c.x), Clamp(c.y)};
    cairo_rectangle(cr, std::min(a.x, c.x), std::min(a.y, c.y), std::fabs(c.x - a.x), std::fabs(c.y - a.y));
  }
}

void Device::FillRegion(const Region& rgn, const Brush* brush) {
  if (!MappingOk() || inPath) return;
  if (!brush) brush = CurrentBrush();
  if (!brush) return;
  cairo_new_path(cr);
  RegionPath(rgn);
  const int fill = dc.polyFillMode;
  dc.polyFillMode = 2;  // the rectangles of a region do not overlap
  FillCurrent(*brush, false);
  dc.polyFillMode = fill;
}

void Device::InvertRegion(const Region& rgn) {
  if (!MappingOk() || inPath) return;
  cairo_new_path(cr);
  RegionPath(rgn);
  const int rop = dc.rop2;
  dc.rop2 = 6;  // R2_NOT
  FillCurrent(WhiteBrush(), false);
  dc.rop2 = rop;
}

void Device::ApplyClip() {
  std::shared_ptr<cairo_path_t> current;
  if (inPath) current = CopyPath(cr);
  cairo_reset_clip(cr);
  if (dc.clipEmpty) {
    cairo_new_path(cr);
    cairo_rectangle(cr, 0, 0, 0, 0);
    cairo_clip(cr);
  }
  for (const auto& op : dc.clip) {
    cairo_new_path(cr);
    if (op.exclude) cairo_rectangle(cr, -kCoordLimit, -kCoordLimit, 2 * kCoordLimit, 2 * kCoordLimit);
    cairo_append_path(cr, op.path.get());
    cairo_set_fill_rule(cr, op.evenOdd || op.exclude ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr);
  }
  cairo_new_path(cr);
  if (current) cairo_append_path(cr, current.get());
}

void Device::AddClip(DcState::ClipOp op) {
  if (dc.clip.size() >= kMaxClipOps) return;  // FIXME: a deeper clip history is ignored
  dc.clip.push_back(std::move(op));
  ApplyClip();
}

void Device::ClipRect(double l, double t, double r, double b, bool exclude) {
  if (!MappingOk()) return;
  std::shared_ptr<cairo_path_t> current;
  if (inPath) current = CopyPath(cr);
  cairo_new_path(cr);
  const PointD a = Out(l, t), c = Out(r, b);
  cairo_rectangle(cr, std::min(a.x, c.x), std::min(a.y, c.y), std::fabs(c.x - a.x), std::fabs(c.y - a.y));
  DcState::ClipOp op{CopyPath(cr), false, exclude, DcState::ClipOp::kDisjoint};
  cairo_new_path(cr);
  if (current) cairo_append_path(cr, current.get());
  AddClip(std::move(op));
}

void Device::SelectClipRegion(const Region* rgn, int mode) {
  // [MS-EMF] 2.1.29 RegionMode: RGN_AND 1, RGN_OR 2, RGN_XOR 3, RGN_DIFF 4, RGN_COPY 5
  if (!rgn) {
    if (mode == 5) {
      dc.clip.clear();
      dc.clipEmpty = false;
      ApplyClip();
    }
    return;
  }
  if (!MappingOk()) return;
  std::shared_ptr<cairo_path_t> current;
  if (inPath) current = CopyPath(cr);
  cairo_new_path(cr);
  RegionPath(*rgn);
  DcState::ClipOp op{CopyPath(cr), false, false, DcState::ClipOp::kDisjoint};
  cairo_new_path(cr);
  if (current) cairo_append_path(cr, current.get());
  CombineClip(std::move(op), mode, rgn->rects.empty());
}

void Device::CombineClip(DcState::ClipOp op, int mode, bool emptyArea) {
  if (mode < 1 || mode > 5) return;
  const bool unclipped = dc.clip.empty() && !dc.clipEmpty;
  if (mode == 4) op.exclude = true;
  if (mode == 5 || ((mode == 2 || mode == 3) && dc.clipEmpty)) {  // a copy, or nothing combined with the area
    dc.clip.clear();
    dc.clipEmpty = emptyArea;
  } else if (mode == 2 || mode == 3) {
    if (unclipped) {
      if (mode == 3) {  // everything but the area
        op.exclude = true;
        AddClip(std::move(op));
      }
      return;  // the union with everything is everything
    }
    DcState::ClipOp& cur = dc.clip.front();
    const bool one = dc.clip.size() == 1;
    // rectangles that do not overlap make the exclusive-or by the even-odd rule (and the
    // complement of an excluded area stays one: not E xor R is not (E xor R)); upright rectangles
    // of one orientation make the union by the winding rule
    const bool xorable = mode == 3 && one && cur.kind == DcState::ClipOp::kDisjoint && op.kind == cur.kind;
    const bool unitable = mode == 2 && one && !cur.exclude && cur.kind != DcState::ClipOp::kGeneral &&
                          op.kind != DcState::ClipOp::kGeneral;
    // the joined path is kept to a size that re-applying it on every change stays cheap
    const bool small = cur.path->num_data + op.path->num_data <= kMaxJoinedPath;
    if ((xorable || unitable) && small) {
      std::shared_ptr<cairo_path_t> current;
      if (inPath) current = CopyPath(cr);
      cairo_new_path(cr);
      cairo_append_path(cr, cur.path.get());
      cairo_append_path(cr, op.path.get());
      cur.path = CopyPath(cr);
      cairo_new_path(cr);
      if (current) cairo_append_path(cr, current.get());
      cur.evenOdd = xorable;
      cur.kind = xorable ? DcState::ClipOp::kGeneral : DcState::ClipOp::kOverlapping;
      ApplyClip();
      return;
    }
    // FIXME: a union or exclusive-or with a clip of several operations or of general paths is
    // not kept as such: a union widens clipping to everything, an exclusive-or takes the area
    dc.clip.clear();
    dc.clipEmpty = false;
    if (mode == 2) {
      ApplyClip();
      return;
    }
  }
  AddClip(std::move(op));
}

void Device::OffsetClip(double dx, double dy) {
  if (!MappingOk()) return;
  const double ox = dx * mapping.m11 + dy * mapping.m21, oy = dx * mapping.m12 + dy * mapping.m22;
  for (auto& op : dc.clip) op.path = Shifted(op.path.get(), Clamp(ox), Clamp(oy));
  ApplyClip();
}

// ---------------------------------------------------------------------------------------------
// paths ([MS-EMF] 2.3.10 path bracket records)

void Device::BeginPath() {
  inPath = true;
  path.reset();
  cairo_new_path(cr);
}

void Device::EndPath() {
  if (!inPath) return;
  path = CopyPath(cr);
  inPath = false;
  cairo_new_path(cr);
}

void Device::AbortPath() {
  inPath = false;
  path.reset();
  cairo_new_path(cr);
}

void Device::CloseFigure() {
  if (inPath && cairo_has_current_point(cr)) cairo_close_path(cr);
}

void Device::FillPath(bool fill, bool stroke) {
  if (inPath || !path) return;
  cairo_new_path(cr);
  cairo_append_path(cr, path.get());
  path.reset();
  Finish(fill, stroke);
}

void Device::SelectClipPath(int mode) {
  if (inPath || !path) return;
  DcState::ClipOp op{path, dc.polyFillMode != 2, false};
  path.reset();
  CombineClip(std::move(op), mode, false);
}

}  // namespace muralo::gdi
