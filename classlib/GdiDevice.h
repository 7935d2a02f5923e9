#pragma once
// The small part of the Windows graphics device interface (GDI) that metafile records need, drawn
// with Cairo: one device context (mapping, colours, modes, selected objects, clipping, current
// position, path bracket), a save stack, the metafile's object table, and the drawing operations.
// Coordinates given to the operations are logical; everything is turned into output pixels here.
// Shapes are drawn without anti-aliasing, as GDI draws them; raster operations other than plain
// copies are computed per pixel (ROP2 of [MS-WMF] 2.1.1.22, ternary raster operations 2.1.1.31).

#include <cairo.h>

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace muralo::gdi {

struct PointD {
  double x = 0, y = 0;
};

// x' = x * m11 + y * m21 + dx, y' = x * m12 + y * m22 + dy ([MS-EMF] 2.2.28 XForm)
struct XForm {
  double m11 = 1, m12 = 0, m21 = 0, m22 = 1, dx = 0, dy = 0;
  PointD Apply(double x, double y) const { return {x * m11 + y * m21 + dx, x * m12 + y * m22 + dy}; }
};
// first a, then b
XForm Multiply(const XForm& a, const XForm& b);

// A decoded device-independent bitmap: 0xAARRGGBB (premultiplied when HasAlpha), top row first.
struct Dib {
  int width = 0, height = 0;
  bool hasAlpha = false;
  bool bottomUp = true;  // stored bottom row first (source rectangles of DIB records count from there)
  std::vector<uint32_t> pixels;
};

using ColorRef = uint32_t;  // 0x00BBGGRR
// A colour as a pixel of Cairo's RGB24 and ARGB32 formats (0x00RRGGBB).
uint32_t ToPixel(ColorRef c);

struct Pen {
  uint32_t style = 0;  // PS_* style, end cap, join and type bits ([MS-WMF] 2.1.1.23)
  double width = 0;    // logical units; 0 is one pixel
  ColorRef color = 0;
  std::vector<double> userStyle;  // PS_USERSTYLE lengths
};
struct Brush {
  uint32_t style = 0;  // BS_SOLID, BS_NULL, BS_HATCHED, BS_PATTERN, BS_DIBPATTERN...
  ColorRef color = 0xFFFFFF;
  uint32_t hatch = 0;
  std::shared_ptr<const Dib> pattern;
  bool monoPattern = false;  // a 1-bit pattern takes the text and background colours
};
struct Font {
  int32_t height = 0, width = 0, escapement = 0, weight = 400;
  bool italic = false, underline = false, strikeOut = false;
  uint8_t charSet = 0, pitchAndFamily = 0;
  std::string face;  // UTF-8
};
struct Region {
  std::vector<double> rects;  // left, top, right, bottom, ...
  bool deviceUnits = false;   // EMF regions are in device units, WMF regions in logical units
};
struct Palette {
  std::vector<ColorRef> entries;
};
using Object = std::variant<Pen, Brush, Font, Region, Palette>;
using ObjectRef = std::shared_ptr<const Object>;

// The colours, modes and objects of one device context.
struct DcState {
  ObjectRef pen, brush, font, palette;
  ColorRef textColor = 0, bkColor = 0xFFFFFF;
  int bkMode = 2;        // OPAQUE
  int rop2 = 13;         // R2_COPYPEN
  int polyFillMode = 1;  // ALTERNATE
  uint32_t textAlign = 0;
  int mapMode = 1;  // MM_TEXT
  PointD winOrg{0, 0}, winExt{1, 1}, vpOrg{0, 0}, vpExt{1, 1};
  XForm world;
  PointD current{0, 0};
  PointD brushOrg{0, 0};
  bool clockwise = false;  // arc direction
  double miterLimit = 10;
  int charExtra = 0;
  // Clipping, as the operations that made it, in output pixels.
  struct ClipOp {
    std::shared_ptr<cairo_path_t> path;
    bool evenOdd = false, exclude = false;
    // What the path is made of, for unions and exclusive-ors: kGeneral, kDisjoint (upright
    // rectangles of one orientation that do not overlap), kOverlapping (such rectangles that may)
    enum Kind { kGeneral, kDisjoint, kOverlapping } kind = kGeneral;
  };
  std::vector<ClipOp> clip;
  bool clipEmpty = false;
};

class Device {
 public:
  // Draws onto surface (CAIRO_FORMAT_RGB24). The DC's device space is mapped onto the output by
  // referenceToOutput: for an enhanced metafile it is the reference device, for a WMF the output
  // rectangle itself (a translation). pixelsPerMm is the device's resolution, which the metric
  // and isotropic mapping modes follow.
  Device(cairo_surface_t* surface, const XForm& referenceToOutput, const PointD& pixelsPerMm);
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  DcState dc;

  // object table
  void SetTableSize(size_t size);
  size_t TableSize() const { return table.size(); }
  // WMF: the lowest free slot takes the object (none free: dropped).
  void AddObject(Object object);
  // EMF: the given slot takes it (out of range: dropped).
  void PutObject(uint32_t index, Object object);
  void SelectObject(uint32_t index);  // EMF stock objects have the top bit set
  void DeleteObject(uint32_t index);
  const Object* GetObject(uint32_t index) const;

  void SaveDC();
  void RestoreDC(int relative);

  // mapping
  void SetMapMode(int mode);
  void SetWindowOrg(double x, double y) {
    dc.winOrg = {x, y};
    Changed();
  }
  void SetWindowExt(double x, double y);
  void SetViewportOrg(double x, double y) {
    dc.vpOrg = {x, y};
    Changed();
  }
  void SetViewportExt(double x, double y);
  void SetWorldTransform(const XForm& x) {
    dc.world = x;
    Changed();
  }
  void ModifyWorldTransform(const XForm& x, uint32_t mode);
  void Changed() { mappingValid = false; }
  PointD ToOutput(double x, double y);
  // true when the mapping can draw (no zero extent, invertible)
  bool MappingOk();

  // colours
  ColorRef Resolve(ColorRef c) const;  // PALETTEINDEX / PALETTERGB

  // drawing (logical coordinates)
  void MoveTo(double x, double y);
  void LineTo(double x, double y);
  void Polyline(const std::vector<PointD>& pts);
  void PolylineTo(const std::vector<PointD>& pts);
  void Polygon(const std::vector<PointD>& pts);
  void PolyPolygon(const std::vector<PointD>& pts, const std::vector<uint32_t>& counts);
  void PolyPolyline(const std::vector<PointD>& pts, const std::vector<uint32_t>& counts);
  void PolyBezier(const std::vector<PointD>& pts);
  void PolyBezierTo(const std::vector<PointD>& pts);
  void PolyDraw(const std::vector<PointD>& pts, const std::vector<uint8_t>& types);
  void Rectangle(double l, double t, double r, double b);
  void RoundRect(double l, double t, double r, double b, double w, double h);
  void Ellipse(double l, double t, double r, double b);
  enum class ArcKind { Arc, ArcTo, Chord, Pie };
  void Arc(ArcKind kind, double l, double t, double r, double b, double xs, double ys, double xe, double ye);
  void AngleArc(double x, double y, double radius, double start, double sweep);
  void SetPixel(double x, double y, ColorRef color);
  // Text: code points, optional advances (logical units), ETO_* options and rectangle.
  void TextOut(double x, double y, const std::vector<uint32_t>& text, const std::vector<double>& dx, uint32_t options,
               const double* rect);
  // Copies the source rectangle of dib (null: no source) into the destination with a ternary
  // raster operation; rotated or mirrored destinations follow the mapping.
  void StretchBlt(double x, double y, double w, double h, const Dib* dib, double sx, double sy, double sw, double sh,
                  uint32_t rop);
  void AlphaBlend(double x, double y, double w, double h, const Dib& dib, double sx, double sy, double sw, double sh,
                  uint8_t constantAlpha, bool sourceAlpha);
  // Source pixels of colour `transparent` leave the destination.
  void TransparentBlt(double x, double y, double w, double h, const Dib& dib, double sx, double sy, double sw,
                      double sh, ColorRef transparent);
  // 1:1 copy through a monochrome mask: the foreground operation (bits 16..23 of rop) where the
  // mask is 1, the background one (bits 24..31) where it is 0; no mask: the foreground one.
  void MaskBlt(double x, double y, double w, double h, const Dib* dib, double sx, double sy, const Dib* mask, double mx,
               double my, uint32_t rop);
  // The source rectangle onto the parallelogram of corners[0] (its upper-left), corners[1]
  // (upper-right) and corners[2] (lower-left); where a mask is given, its 0 bits leave the destination.
  void PlgBlt(const PointD corners[3], const Dib& dib, double sx, double sy, double sw, double sh, const Dib* mask,
              double mx, double my);
  // Gradients ([MS-EMF] 2.3.5.12): colours are 16 bits a channel; mode 0 and 1 fill rectangles
  // (pairs of indices) from left to right or top to bottom, mode 2 triangles (index triples).
  struct Vertex {
    double x, y;
    uint32_t red, green, blue;
  };
  void GradientFill(const std::vector<Vertex>& vertices, const std::vector<uint32_t>& indices, uint32_t mode);
  // Fills with the brush the pixels connected to (x, y): those not of `color` (FLOODFILLBORDER) or
  // those of `color` (FLOODFILLSURFACE), on what the output holds so far.
  void FloodFill(double x, double y, ColorRef color, bool surface);
  // regions
  void FillRegion(const Region& rgn, const Brush* brush);  // null: the selected brush
  void FrameRegion(const Region& rgn, const Brush& brush, double w, double h);
  void InvertRegion(const Region& rgn);
  // clipping
  void ClipRect(double l, double t, double r, double b, bool exclude);
  void SelectClipRegion(const Region* rgn, int mode);  // null region: no clipping (RGN_COPY)
  void OffsetClip(double dx, double dy);
  // paths
  void BeginPath();
  void EndPath();
  void AbortPath();
  void CloseFigure();
  void FillPath(bool fill, bool stroke);
  void SelectClipPath(int mode);
  bool InPath() const { return inPath; }

  // Pixels painted so far (bounding boxes inside the output) and whether the drawing budget is
  // spent: a file of many huge fills stops instead of running for hours on a large output.
  uint64_t pixelWork = 0;
  static constexpr uint64_t kPixelBudget = uint64_t(1) << 34;
  bool Exhausted() const { return pixelWork > kPixelBudget; }
  // Pattern brushes live in the object table: each is kept to 1 M pixels and all of them together
  // to 16 M, so that a file of many large patterns cannot fill the memory.
  bool AllowPattern(const Dib& dib);

 private:
  void ApplyClip();
  void AddClip(DcState::ClipOp op);
  // Combines the clip with an area by a region mode (RGN_AND 1 ... RGN_COPY 5).
  void CombineClip(DcState::ClipOp op, int mode, bool emptyArea);
  const Pen* CurrentPen() const;
  const Brush* CurrentBrush() const;
  // Fills and/or strokes the current cairo path (output pixels), unless a path is being recorded.
  void Finish(bool fill, bool stroke);
  void FillCurrent(const Brush& brush, bool preserve);
  void StrokeCurrent(const Pen& pen);
  void SetBrushSource(cairo_t* cr, const Brush& brush, double ox, double oy);
  // Paints the current path with the source set by setSource through the ROP2 mode (stroke or fill).
  template <class SetSource, class Paint>
  void PaintWithRop(SetSource setSource, Paint paint);
  void AppendPolyline(const std::vector<PointD>& pts, bool close);
  void PolyPoly(const std::vector<PointD>& pts, const std::vector<uint32_t>& counts, bool closed);
  void AppendEllipse(double l, double t, double r, double b);
  void RegionPath(const Region& rgn);
  // Paints a premultiplied ARGB bitmap's source rectangle onto the output parallelogram a, b, d.
  void PaintDib(const PointD& a, const PointD& b, const PointD& d, const Dib& dib, double sx, double sy, double sw,
                double sh, double alpha);
  // Paints the brush through a w × h mask (non-zero: painted) placed at output (x, y).
  void PaintThroughMask(const uint8_t* mask, size_t stride, int x, int y, int w, int h, const Brush& brush);
  // Runs fn with one more clip operation in force.
  template <class F>
  void WithClip(DcState::ClipOp op, F fn);
  PointD Out(double x, double y);
  void Charge(double x1, double y1, double x2, double y2);
  void ChargePath(double margin);
  double DeviceWidth(double logicalWidth);

  cairo_surface_t* surface;
  cairo_t* cr;
  int surfaceWidth, surfaceHeight;
  XForm referenceToOutput;
  PointD pixelsPerMm;
  XForm mapping;  // logical to output
  bool mappingValid = false, mappingOk = true;
  std::vector<ObjectRef> table;
  std::vector<DcState> saved;
  bool inPath = false;
  std::shared_ptr<cairo_path_t> path;
  uint64_t patternPixels = 0;
};

// Decodes a BITMAPINFO ([MS-WMF] 2.2.2.3/2.2.2.9) and its bits. usage 1 (DIB_PAL_COLORS) takes the
// colour table as indices into palette. Answers false for anything it cannot decode or that the
// bytes do not hold; never reads past info + infoSize or bits + bitsSize.
bool DecodeDib(const uint8_t* info, size_t infoSize, const uint8_t* bits, size_t bitsSize, uint32_t usage,
               const Palette* palette, Dib& out);
// A Bitmap16 object ([MS-WMF] 2.2.2.1) of a WMF BitBlt/StretchBlt record.
bool DecodeBitmap16(const uint8_t* data, size_t size, ColorRef textColor, ColorRef bkColor, Dib& out);

// Windows-1252 bytes to code points; UTF-16LE to code points; code points to UTF-8.
std::vector<uint32_t> FromAnsi(const uint8_t* text, size_t n);
std::vector<uint32_t> FromUtf16(const uint8_t* text, size_t n);
std::string ToUtf8(const std::vector<uint32_t>& text);

}  // namespace muralo::gdi
