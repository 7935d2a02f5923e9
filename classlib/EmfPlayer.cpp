// The Enhanced Metafile record player ([MS-EMF] 2.3). Records are a type and a size (both 32-bit,
// the size a multiple of 4) followed by their fields; bitmaps and strings are found at offsets
// from the start of their record.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "classlib/ByteOrder.h"
#include "classlib/MetafilePlayers.h"

namespace muralo::gdi {

namespace {

struct Record {
  const uint8_t* data;  // from the record's type field
  size_t size;
  uint32_t type;
  // field at a byte offset from the start of the record; 0 past its end
  uint32_t U(size_t at) const { return at + 4 <= size ? GetLE32(data + at) : 0; }
  int32_t S(size_t at) const { return int32_t(U(at)); }
  double F(size_t at) const {
    const uint32_t bits = U(at);
    float f;
    std::memcpy(&f, &bits, 4);
    return double(f);
  }
  bool Has(size_t bytes) const { return size >= bytes; }
  // a block given by offset and size fields, when it lies inside the record
  bool Block(size_t offField, size_t sizeField, const uint8_t*& p, size_t& n) const {
    const uint64_t off = U(offField), cb = U(sizeField);
    if (cb == 0 || off > size || cb > size - off) return false;
    p = data + off, n = size_t(cb);
    return true;
  }
};

XForm ReadXForm(const Record& r, size_t at) {
  return {r.F(at), r.F(at + 4), r.F(at + 8), r.F(at + 12), r.F(at + 16), r.F(at + 20)};
}

// count points at byte offset at, 32-bit or 16-bit; a count past the record is cut to what it holds
std::vector<PointD> Points(const Record& r, size_t at, uint64_t count, bool small) {
  const size_t each = small ? 4 : 8;
  count = std::min<uint64_t>(count, r.size > at ? (r.size - at) / each : 0);
  std::vector<PointD> pts;
  pts.reserve(size_t(count));
  for (size_t i = 0; i < count; ++i) {
    if (small)
      pts.push_back({double(int16_t(GetLE16(r.data + at + 4 * i))), double(int16_t(GetLE16(r.data + at + 4 * i + 2)))});
    else
      pts.push_back({double(r.S(at + 8 * i)), double(r.S(at + 8 * i + 4))});
  }
  return pts;
}

// [MS-EMF] 2.2.24 RegionData: header (size 32, type 1, count, rgnSize, bounds) then rectangles
Region ReadRegion(const uint8_t* p, size_t n) {
  Region rgn;
  rgn.deviceUnits = true;
  if (n < 32) return rgn;
  const uint64_t count = std::min<uint64_t>(GetLE32(p + 8), (n - 32) / 16);
  for (size_t i = 0; i < count; ++i)
    for (int k = 0; k < 4; ++k) rgn.rects.push_back(double(int32_t(GetLE32(p + 32 + 16 * i + 4 * size_t(k)))));
  return rgn;
}

bool ReadDib(const Record& r, size_t offBmi, size_t usageAt, const Palette* palette, Dib& dib) {
  const uint8_t *info, *bits;
  size_t infoSize, bitsSize;
  // offBmi, cbBmi, offBits, cbBits follow each other
  if (!r.Block(offBmi, offBmi + 4, info, infoSize) || !r.Block(offBmi + 8, offBmi + 12, bits, bitsSize)) return false;
  return DecodeDib(info, infoSize, bits, bitsSize, r.U(usageAt), palette, dib);
}

Font ReadLogFontW(const Record& r, size_t at) {
  // [MS-EMF] 2.2.13 LogFont: height, width, escapement, orientation, weight, italic, underline,
  // strike out, charset, precisions, quality, pitch and family, 32 UTF-16 face characters
  Font f;
  f.height = r.S(at);
  f.width = r.S(at + 4);
  f.escapement = r.S(at + 8);
  f.weight = r.S(at + 16);
  if (r.Has(at + 28)) {
    const uint8_t* b = r.data + at + 20;
    f.italic = b[0] != 0, f.underline = b[1] != 0, f.strikeOut = b[2] != 0, f.charSet = b[3], f.pitchAndFamily = b[7];
  }
  if (r.Has(at + 28)) {
    const size_t n = std::min<size_t>(32, (r.size - (at + 28)) / 2);
    size_t len = 0;
    while (len < n && GetLE16(r.data + at + 28 + 2 * len)) ++len;
    f.face = ToUtf8(FromUtf16(r.data + at + 28, len));
  }
  return f;
}

// [MS-EMF] 2.2.5 EmrText at byte offset at; strings and advances at offsets from the record start
void TextRecord(Device& dev, const Record& r, size_t at, bool wide, double scaleX) {
  const double x = r.S(at), y = r.S(at + 4);
  const uint64_t chars = r.U(at + 8), offString = r.U(at + 12), options = r.U(at + 16);
  double rect[4] = {double(r.S(at + 20)), double(r.S(at + 24)), double(r.S(at + 28)), double(r.S(at + 32))};
  const uint64_t offDx = r.U(at + 36);
  const uint64_t bytes = chars * (wide ? 2 : 1);
  if (offString > r.size || bytes > r.size - offString) return;  // a text past its record
  const uint8_t* s = r.data + offString;
  std::vector<uint32_t> text = wide ? FromUtf16(s, size_t(chars)) : FromAnsi(s, size_t(chars));
  std::vector<double> dx;
  // ETO_PDY (0x2000) gives x and y advances; the y ones are not followed
  const uint64_t step = (options & 0x2000) ? 8 : 4;
  if (offDx != 0 && offDx <= r.size && chars * step <= r.size - offDx)
    for (size_t i = 0; i < chars; ++i) dx.push_back(r.S(size_t(offDx + i * step)) * scaleX);
  const bool hasRect = rect[0] != rect[2] && rect[1] != rect[3] && !(options & 0x100);
  // ETO_GLYPH_INDEX (0x10): the string holds glyph indices of the font the file was made with. The
  // font drawn instead (a metric-compatible Liberation face) numbers its glyphs in its own order,
  // and the original font's cmap is not in the file, so no index maps back to a character soundly:
  // such strings are left undrawn rather than drawn as the wrong glyphs.
  if (options & 0x10) return;
  if (wide && dx.size() == chars && text.size() != dx.size()) {
    // advances are given per UTF-16 unit: the two units of a surrogate pair advance as one character
    std::vector<double> merged;
    for (size_t i = 0; i < chars; ++i) {
      const uint32_t c = GetLE16(s + 2 * i), next = i + 1 < chars ? GetLE16(s + 2 * (i + 1)) : 0;
      const bool pair = c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000;
      merged.push_back(dx[i] + (pair ? dx[i + 1] : 0));
      i += pair ? 1 : 0;
    }
    dx = std::move(merged);
  }
  if (text.size() != dx.size()) dx.clear();
  dev.TextOut(x, y, text, dx, uint32_t(options), hasRect ? rect : nullptr);
}

}  // namespace

void PlayEmf(const uint8_t* data, size_t size, Device& dev, uint32_t budget) {
  size_t at = 0;
  if (size >= 88) dev.SetTableSize(GetLE16(data + 56));  // nHandles
  for (uint32_t n = 0; n < budget && at + 8 <= size; ++n) {
    const uint32_t type = GetLE32(data + at);
    const uint64_t recSize = GetLE32(data + at + 4);
    // a record smaller than its own header, not a multiple of 4 or past the end ends the file
    if (recSize < 8 || recSize % 4 != 0 || recSize > size - at) return;
    const Record r{data + at, size_t(recSize), type};
    at += size_t(recSize);
    if (dev.Exhausted()) return;
    const Palette* palette = dev.dc.palette ? std::get_if<Palette>(&*dev.dc.palette) : nullptr;
    switch (type) {
      case 14:
        return;  // EMR_EOF
      case 1:
      case 70:
        break;  // EMR_HEADER; EMR_COMMENT, including EMF+ records, which the EMF ones repeat
      // polygons and lines: bounds, count, points
      case 2:
      case 3:
      case 4:
      case 5:
      case 6:
      case 85:
      case 86:
      case 87:
      case 88:
      case 89: {
        const bool small = type >= 85;
        const std::vector<PointD> pts = Points(r, 28, r.U(24), small);
        switch (small ? type - 83 : type) {
          case 2:
            dev.PolyBezier(pts);
            break;
          case 3:
            dev.Polygon(pts);
            break;
          case 4:
            dev.Polyline(pts);
            break;
          case 5:
            dev.PolyBezierTo(pts);
            break;
          default:
            dev.PolylineTo(pts);
            break;
        }
        break;
      }
      case 7:
      case 8:
      case 90:
      case 91: {  // EMR_POLYPOLYLINE(16), EMR_POLYPOLYGON(16)
        const bool small = type >= 90;
        const uint64_t polys = std::min<uint64_t>(r.U(24), r.size > 32 ? (r.size - 32) / 4 : 0);
        std::vector<uint32_t> counts;
        uint64_t total = 0;
        for (size_t i = 0; i < polys; ++i) counts.push_back(r.U(32 + 4 * i)), total += counts.back();
        total = std::min<uint64_t>(total, r.U(28));
        const std::vector<PointD> pts = Points(r, 32 + 4 * size_t(polys), total, small);
        if (type == 7 || type == 90)
          dev.PolyPolyline(pts, counts);
        else
          dev.PolyPolygon(pts, counts);
        break;
      }
      case 56:
      case 92: {  // EMR_POLYDRAW(16): bounds, count, points, types
        const bool small = type == 92;
        const uint64_t count = std::min<uint64_t>(r.U(24), r.size / (small ? 5 : 9));
        const std::vector<PointD> pts = Points(r, 28, count, small);
        const size_t typesAt = 28 + size_t(count) * (small ? 4 : 8);
        if (typesAt + count > r.size) break;
        dev.PolyDraw(pts, std::vector<uint8_t>(r.data + typesAt, r.data + typesAt + count));
        break;
      }
      case 9:
        dev.SetWindowExt(r.S(8), r.S(12));
        break;
      case 10:
        dev.SetWindowOrg(r.S(8), r.S(12));
        break;
      case 11:
        dev.SetViewportExt(r.S(8), r.S(12));
        break;
      case 12:
        dev.SetViewportOrg(r.S(8), r.S(12));
        break;
      case 13:
        dev.dc.brushOrg = {double(r.S(8)), double(r.S(12))};
        break;  // EMR_SETBRUSHORGEX
      case 15:
        dev.SetPixel(r.S(8), r.S(12), r.U(16));
        break;  // EMR_SETPIXELV
      case 17:
        dev.SetMapMode(r.S(8));
        break;
      case 18:
        dev.dc.bkMode = r.S(8);
        break;
      case 19:
        dev.dc.polyFillMode = r.S(8);
        break;
      case 20:
        dev.dc.rop2 = r.S(8);
        break;
      case 21:
        break;  // EMR_SETSTRETCHBLTMODE: stretching drops or repeats pixels
      case 22:
        dev.dc.textAlign = r.U(8);
        break;
      case 24:
        dev.dc.textColor = dev.Resolve(r.U(8));
        break;
      case 25:
        dev.dc.bkColor = dev.Resolve(r.U(8));
        break;
      case 26:
        dev.OffsetClip(r.S(8), r.S(12));
        break;
      case 27:
        dev.MoveTo(r.S(8), r.S(12));
        break;
      case 29:
      case 30:
        dev.ClipRect(r.S(8), r.S(12), r.S(16), r.S(20), type == 29);
        break;
      case 31:
      case 32: {  // EMR_SCALEVIEWPORTEXTEX, EMR_SCALEWINDOWEXTEX: xNum, xDenom, yNum, yDenom
        const double xn = r.S(8), xd = r.S(12), yn = r.S(16), yd = r.S(20);
        if (xd == 0 || yd == 0) break;
        if (type == 31)
          dev.SetViewportExt(dev.dc.vpExt.x * xn / xd, dev.dc.vpExt.y * yn / yd);
        else
          dev.SetWindowExt(dev.dc.winExt.x * xn / xd, dev.dc.winExt.y * yn / yd);
        break;
      }
      case 33:
        dev.SaveDC();
        break;
      case 34:
        dev.RestoreDC(r.S(8));
        break;
      case 35:
        dev.ModifyWorldTransform(ReadXForm(r, 8), 4);
        break;  // EMR_SETWORLDTRANSFORM
      case 36:
        dev.ModifyWorldTransform(ReadXForm(r, 8), r.U(32));
        break;  // EMR_MODIFYWORLDTRANSFORM
      case 37:
      case 48:
        dev.SelectObject(r.U(8));
        break;  // EMR_SELECTOBJECT, EMR_SELECTPALETTE
      case 40:
        dev.DeleteObject(r.U(8));
        break;
      case 38: {  // EMR_CREATEPEN: index, LogPen (style, width, colour)
        Pen p;
        p.style = r.U(12);
        p.width = r.S(16);
        p.color = r.U(24);
        dev.PutObject(r.U(8), p);
        break;
      }
      case 95: {  // EMR_EXTCREATEPEN: index, offBmi, cbBmi, offBits, cbBits, LogPenEx
        Pen p;
        p.style = r.U(28);
        p.width = r.U(32);
        p.color = r.U(40);
        const uint64_t entries = std::min<uint64_t>(r.U(48), r.size > 52 ? (r.size - 52) / 4 : 0);
        for (size_t i = 0; i < entries && i < 16; ++i) p.userStyle.push_back(r.U(52 + 4 * i));
        if (r.U(36) == 1) p.style = (p.style & ~0x0Fu) | 5;  // a null-brush pen draws nothing
        if (!(p.style & 0x00010000)) p.width = 0;            // PS_COSMETIC: one pixel
        dev.PutObject(r.U(8), p);
        break;
      }
      case 39: {  // EMR_CREATEBRUSHINDIRECT: index, LogBrush (style, colour, hatch)
        Brush b;
        b.style = r.U(12);
        b.color = r.U(16);
        b.hatch = r.U(20);
        if (b.style != 1 && b.style != 2) b.style = 0;
        dev.PutObject(r.U(8), b);
        break;
      }
      case 93:
      case 94: {  // EMR_CREATEMONOBRUSH, EMR_CREATEDIBPATTERNBRUSHPT: index, usage, offBmi, cbBmi, offBits, cbBits
        Brush b;
        b.style = 5;
        auto dib = std::make_shared<Dib>();
        if (ReadDib(r, 16, 12, palette, *dib) && dev.AllowPattern(*dib)) {
          b.pattern = dib;
          b.monoPattern = type == 93;
        } else {
          b.style = 1;
        }
        dev.PutObject(r.U(8), b);
        break;
      }
      case 82:
        dev.PutObject(r.U(8), ReadLogFontW(r, 12));
        break;    // EMR_EXTCREATEFONTINDIRECTW
      case 49: {  // EMR_CREATEPALETTE: index, version, count, entries
        Palette p;
        const uint64_t count =
            std::min<uint64_t>(GetLE16(r.data + std::min<size_t>(14, r.size - 2)), r.size > 16 ? (r.size - 16) / 4 : 0);
        for (size_t i = 0; i < count; ++i) p.entries.push_back(r.U(16 + 4 * i) & 0xFFFFFF);
        dev.PutObject(r.U(8), p);
        break;
      }
      case 50:
      case 51:
      case 52:
      case 98:
      case 23:
      case 16:
      case 28:
      case 115:
        break;  // palettes, colour and layout modes
      case 57:
        dev.dc.clockwise = r.U(8) == 2;
        break;  // EMR_SETARCDIRECTION
      case 58:
        dev.dc.miterLimit = r.U(8);
        break;
      case 41:
        dev.AngleArc(r.S(8), r.S(12), r.U(16), r.F(20), r.F(24));
        break;
      case 42:
        dev.Ellipse(r.S(8), r.S(12), r.S(16), r.S(20));
        break;
      case 43:
        dev.Rectangle(r.S(8), r.S(12), r.S(16), r.S(20));
        break;
      case 44:
        dev.RoundRect(r.S(8), r.S(12), r.S(16), r.S(20), r.S(24), r.S(28));
        break;
      case 45:
      case 46:
      case 47:
      case 55: {  // EMR_ARC, EMR_CHORD, EMR_PIE, EMR_ARCTO
        const auto kind = type == 45   ? Device::ArcKind::Arc
                          : type == 46 ? Device::ArcKind::Chord
                          : type == 47 ? Device::ArcKind::Pie
                                       : Device::ArcKind::ArcTo;
        dev.Arc(kind, r.S(8), r.S(12), r.S(16), r.S(20), r.S(24), r.S(28), r.S(32), r.S(36));
        break;
      }
      case 54:
        dev.LineTo(r.S(8), r.S(12));
        break;
      case 53:  // EMR_EXTFLOODFILL: start, colour, mode (FLOODFILLSURFACE 1)
        if (r.Has(24)) dev.FloodFill(r.S(8), r.S(12), r.U(16), r.U(20) == 1);
        break;
      // paths
      case 59:
        dev.BeginPath();
        break;
      case 60:
        dev.EndPath();
        break;
      case 61:
        dev.CloseFigure();
        break;
      case 62:
        dev.FillPath(true, false);
        break;
      case 63:
        dev.FillPath(true, true);
        break;
      case 64:
        dev.FillPath(false, true);
        break;
      case 65:
      case 66:
        break;  // EMR_FLATTENPATH, EMR_WIDENPATH: the path is drawn as it is
      case 67:
        dev.SelectClipPath(r.S(8));
        break;
      case 68:
        dev.AbortPath();
        break;
      // regions: bounds, rgnDataSize, [brush, [width, height]], region data
      case 71:
      case 72:
      case 73:
      case 74: {
        const size_t dataAt = type == 71 ? 32 : type == 72 ? 40 : 28;
        const uint64_t cb = r.U(24);
        if (dataAt > r.size || cb > r.size - dataAt) break;
        const Region rgn = ReadRegion(r.data + dataAt, size_t(cb));
        if (type == 71 || type == 72) {
          const Object* o = nullptr;
          const uint32_t ih = r.U(28);
          Brush stock;
          if (ih & 0x80000000u) {
            // stock brushes by index: white, light grey, grey, dark grey, black, null
            static constexpr uint32_t kGrey[5] = {0xFFFFFF, 0xC0C0C0, 0x808080, 0x404040, 0};
            const uint32_t k = ih & 0x7FFFFFFF;
            stock.style = k == 5 ? 1 : 0;
            stock.color = k < 5 ? kGrey[k] : 0;
          } else {
            o = dev.GetObject(ih);
            if (!o || !std::holds_alternative<Brush>(*o)) break;
            stock = std::get<Brush>(*o);
          }
          if (type == 71)
            dev.FillRegion(rgn, &stock);
          else
            dev.FrameRegion(rgn, stock, r.S(32), r.S(36));
        } else if (type == 73) {
          dev.InvertRegion(rgn);
        } else {
          dev.FillRegion(rgn, nullptr);
        }
        break;
      }
      case 75: {  // EMR_EXTSELECTCLIPRGN: rgnDataSize, mode, region data
        const uint64_t cb = r.U(8);
        const int mode = r.S(12);
        if (cb == 0) {
          dev.SelectClipRegion(nullptr, mode);
        } else if (cb <= r.size - std::min<size_t>(16, r.size)) {
          const Region rgn = ReadRegion(r.data + 16, size_t(cb));
          dev.SelectClipRegion(&rgn, mode);
        }
        break;
      }
      // bitmaps
      case 76:
      case 77: {  // EMR_BITBLT, EMR_STRETCHBLT
        if (!r.Has(100)) break;
        const double x = r.S(24), y = r.S(28), w = r.S(32), h = r.S(36);
        const uint32_t rop = r.U(40);
        const double sx = r.S(44), sy = r.S(48);
        double sw = w, sh = h;
        if (type == 77 && r.Has(108)) sw = r.S(100), sh = r.S(104);
        Dib dib;
        if (r.U(88) == 0) {  // no source bitmap: a pattern operation
          dev.StretchBlt(x, y, w, h, nullptr, 0, 0, 0, 0, rop);
        } else if (ReadDib(r, 84, 80, palette, dib)) {
          dev.StretchBlt(x, y, w, h, &dib, sx, sy, sw, sh, rop);
        }
        break;
      }
      case 81: {  // EMR_STRETCHDIBITS
        if (!r.Has(80)) break;
        Dib dib;
        if (!ReadDib(r, 48, 64, palette, dib)) {
          if (r.U(52) == 0) dev.StretchBlt(r.S(24), r.S(28), r.S(72), r.S(76), nullptr, 0, 0, 0, 0, r.U(68));
          break;
        }
        const double sx = r.S(32), sy = r.S(36), sw = r.S(40), sh = r.S(44);
        // the source rectangle of a bottom-up DIB is measured from its bottom row
        dev.StretchBlt(r.S(24), r.S(28), r.S(72), r.S(76), &dib, sx, (dib.bottomUp ? dib.height - sy - sh : sy), sw, sh,
                       r.U(68));
        break;
      }
      case 80: {  // EMR_SETDIBITSTODEVICE
        if (!r.Has(76)) break;
        Dib dib;
        if (!ReadDib(r, 48, 64, palette, dib)) break;
        const double sx = r.S(32), sy = r.S(36), sw = r.S(40), sh = r.S(44);
        dev.StretchBlt(r.S(24), r.S(28), sw, sh, &dib, sx, (dib.bottomUp ? dib.height - sy - sh : sy), sw, sh,
                       0x00CC0020);
        break;
      }
      case 114: {  // EMR_ALPHABLEND
        if (!r.Has(108)) break;
        Dib dib;
        if (!ReadDib(r, 84, 80, palette, dib)) break;
        const uint32_t blend = r.U(40);
        dev.AlphaBlend(r.S(24), r.S(28), r.S(32), r.S(36), dib, r.S(44), r.S(48), r.S(100), r.S(104),
                       uint8_t(blend >> 16), ((blend >> 24) & 1) != 0);
        break;
      }
      case 116: {  // EMR_TRANSPARENTBLT: laid out as EMR_ALPHABLEND, the transparent colour in place of the blend
        if (!r.Has(108)) break;
        Dib dib;
        if (!ReadDib(r, 84, 80, palette, dib)) break;
        dev.TransparentBlt(r.S(24), r.S(28), r.S(32), r.S(36), dib, r.S(44), r.S(48), r.S(100), r.S(104), r.U(40));
        break;
      }
      case 78: {  // EMR_MASKBLT: destination, rop4, source (at 44, bitmap at 80), mask (at 100, bitmap at 108)
        if (!r.Has(128)) break;
        Dib dib, mask;
        const bool hasSource = ReadDib(r, 84, 80, palette, dib);
        if (!hasSource && r.U(88) != 0) break;  // a source given but unreadable
        const bool hasMask = ReadDib(r, 112, 108, palette, mask);
        dev.MaskBlt(r.S(24), r.S(28), r.S(32), r.S(36), hasSource ? &dib : nullptr, r.S(44), r.S(48),
                    hasMask ? &mask : nullptr, r.S(100), r.S(104), r.U(40));
        break;
      }
      case 79: {  // EMR_PLGBLT: three corners, source rectangle, source bitmap (at 92), mask (at 112, bitmap at 120)
        if (!r.Has(140)) break;
        Dib dib, mask;
        if (!ReadDib(r, 96, 92, palette, dib)) break;
        const bool hasMask = ReadDib(r, 124, 120, palette, mask);
        const PointD corners[3] = {
            {double(r.S(24)), double(r.S(28))}, {double(r.S(32)), double(r.S(36))}, {double(r.S(40)), double(r.S(44))}};
        dev.PlgBlt(corners, dib, r.S(48), r.S(52), r.S(56), r.S(60), hasMask ? &mask : nullptr, r.S(112), r.S(116));
        break;
      }
      case 118: {  // EMR_GRADIENTFILL: bounds, vertex count, shape count, mode, TriVertex[], shapes
        const uint64_t nVer = std::min<uint64_t>(r.U(24), r.size > 36 ? (r.size - 36) / 16 : 0);
        const uint32_t mode = r.U(32);
        const size_t per = mode == 2 ? 3 : 2;
        const size_t shapesAt = 36 + 16 * size_t(nVer);
        const uint64_t nTri = std::min<uint64_t>(r.U(28), r.size > shapesAt ? (r.size - shapesAt) / (4 * per) : 0);
        std::vector<Device::Vertex> vertices;
        vertices.reserve(size_t(nVer));
        for (size_t i = 0; i < nVer; ++i) {
          const size_t v = 36 + 16 * i;  // x, y, then 16-bit red, green, blue and alpha (ignored)
          vertices.push_back({double(r.S(v)), double(r.S(v + 4)), GetLE16(r.data + v + 8), GetLE16(r.data + v + 10),
                              GetLE16(r.data + v + 12)});
        }
        std::vector<uint32_t> indices;
        for (size_t i = 0; i < nTri * per; ++i) indices.push_back(r.U(shapesAt + 4 * i));
        dev.GradientFill(vertices, indices, mode);
        break;
      }
      // text
      case 83:
      case 84: {  // EMR_EXTTEXTOUTA/W: bounds, graphics mode, x and y scales, EmrText
        if (!r.Has(76)) break;
        TextRecord(dev, r, 36, type == 84, 1.0);
        break;
      }
      case 96:
      case 97: {  // EMR_POLYTEXTOUTA/W: bounds, mode, scales, count, EmrText[count]
        const uint64_t count = std::min<uint64_t>(r.U(36), r.size / 40);
        for (size_t i = 0; i < count; ++i) TextRecord(dev, r, 40 + 40 * i, type == 97, 1.0);
        break;
      }
      case 108: {  // EMR_SMALLTEXTOUT: x, y, chars, options, mode, scales, [bounds], text
        const double x = r.S(8), y = r.S(12);
        const uint64_t chars = r.U(16);
        const uint32_t options = r.U(20);
        const size_t textAt = (options & 0x100) ? 36 : 52;  // ETO_NO_RECT
        const bool small = (options & 0x200) != 0;          // ETO_SMALL_CHARS: 8-bit characters
        if (textAt > r.size || chars * (small ? 1 : 2) > r.size - textAt) break;
        dev.TextOut(x, y, small ? FromAnsi(r.data + textAt, size_t(chars)) : FromUtf16(r.data + textAt, size_t(chars)),
                    {}, options & 0x6, nullptr);
        break;
      }
      default:
        break;  // unknown records are skipped by their size
    }
  }
}

}  // namespace muralo::gdi
