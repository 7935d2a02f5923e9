// The Windows Metafile record player ([MS-WMF] 2.3). Parameters of a WMF record are 16-bit words
// stored in the reverse order of the function's arguments (the last argument first).
#include <algorithm>

#include "classlib/ByteOrder.h"
#include "classlib/MetafilePlayers.h"

namespace muralo::gdi {

namespace {

// One record: its function and its parameter words, never read past the record.
struct Record {
  const uint8_t* params;
  size_t words;  // parameter words
  uint16_t function;
  uint16_t U(size_t i) const { return i < words ? GetLE16(params + 2 * i) : 0; }
  int16_t S(size_t i) const { return int16_t(U(i)); }
  uint32_t U32(size_t i) const { return uint32_t(U(i)) | (uint32_t(U(i + 1)) << 16); }
  const uint8_t* Bytes(size_t word) const { return params + 2 * word; }
  size_t BytesFrom(size_t word) const { return word < words ? 2 * (words - word) : 0; }
};

// Walks the records; f answers false to stop. Stops at META_EOF, at a record whose size is below
// the minimum or past the end of the data, and after budget records.
template <class F>
void Walk(const uint8_t* data, size_t size, size_t at, uint32_t budget, F f) {
  for (uint32_t n = 0; n < budget && at + 6 <= size; ++n) {
    const uint64_t words = GetLE32(data + at);
    const uint16_t function = GetLE16(data + at + 4);
    if (words < 3 || words * 2 > size - at) return;
    if (function == 0x0000) return;  // META_EOF
    if (!f(Record{data + at + 6, size_t(words - 3), function})) return;
    at += size_t(words * 2);
  }
}

Region ReadRegion(const Record& r, size_t w) {
  // [MS-WMF] 2.2.1.5 Region: nextInChain, objectType, objectCount, regionSize, scanCount, maxScan,
  // bounding rectangle, then scans (count, top, bottom, count/2 pairs of left/right, count again)
  Region rgn;
  const size_t scans = r.U(w + 5);
  size_t at = w + 11;
  for (size_t s = 0; s < scans && at + 3 <= r.words; ++s) {
    const size_t count = r.U(at);
    const double top = r.S(at + 1), bottom = r.S(at + 2);
    if (at + 3 + count + 1 > r.words) break;
    for (size_t k = 0; k + 1 < count; k += 2) {
      rgn.rects.insert(rgn.rects.end(), {double(r.S(at + 3 + k)), top, double(r.S(at + 4 + k)), bottom});
    }
    at += 3 + count + 1;
  }
  return rgn;
}

// The size of a packed DIB's header and colour table, so that its bits can be found.
size_t PackedDibHeader(const uint8_t* p, size_t n, uint32_t usage) {
  if (n < 12) return n;
  const uint32_t headerSize = GetLE32(p);
  if (headerSize == 12) {
    const unsigned bpp = GetLE16(p + 10);
    return std::min(n, 12 + (bpp <= 8 ? (size_t(1) << bpp) * (usage == 1 ? 2 : 3) : 0));
  }
  if (headerSize < 40 || n < 40) return n;
  const unsigned bpp = GetLE16(p + 14);
  const uint32_t compression = GetLE32(p + 16), clrUsed = GetLE32(p + 32);
  size_t colors = bpp <= 8 ? (clrUsed != 0 && clrUsed < (1u << bpp) ? clrUsed : (size_t(1) << bpp))
                           : std::min<uint32_t>(clrUsed, 1u << 16);
  size_t total = size_t(std::min<uint32_t>(headerSize, uint32_t(n))) + colors * (usage == 1 ? 2 : 4);
  if (compression == 3 && headerSize == 40) total += 12;
  return std::min(n, total);
}

bool ReadPackedDib(const uint8_t* p, size_t n, uint32_t usage, const Palette* palette, Dib& out) {
  const size_t header = PackedDibHeader(p, n, usage);
  return DecodeDib(p, header, p + header, n - header, usage, palette, out);
}

std::vector<PointD> Points(const Record& r, size_t at, size_t count) {
  std::vector<PointD> pts;
  count = std::min(count, r.words > at ? (r.words - at) / 2 : 0);  // a count past the record is cut
  pts.reserve(count);
  for (size_t i = 0; i < count; ++i) pts.push_back({double(r.S(at + 2 * i)), double(r.S(at + 2 * i + 1))});
  return pts;
}

}  // namespace

bool FindWmfWindow(const uint8_t* data, size_t size, size_t start, double& x, double& y, double& w, double& h) {
  // the first origin and extent the records set
  bool found = false, origin = false;
  x = y = 0;
  Walk(data, size, start, 1u << 16, [&](const Record& r) {
    if (r.function == 0x020B && !origin && r.words >= 2) y = r.S(0), x = r.S(1), origin = true;  // META_SETWINDOWORG
    if (r.function == 0x020C && !found && r.words >= 2) h = r.S(0), w = r.S(1), found = true;    // META_SETWINDOWEXT
    return !(found && origin);
  });
  return found && w != 0 && h != 0;
}

void PlayWmf(const uint8_t* data, size_t size, size_t start, Device& dev, uint32_t budget) {
  if (start + 18 > size) return;
  dev.SetTableSize(GetLE16(data + start + 10));  // mtNoObjects
  Walk(data, size, start + 18, budget, [&](const Record& r) {
    if (dev.Exhausted()) return false;
    const Palette* palette = dev.dc.palette ? std::get_if<Palette>(&*dev.dc.palette) : nullptr;
    switch (r.function) {
      // state records ([MS-WMF] 2.3.5)
      case 0x0102:
        dev.dc.bkMode = r.U(0);
        break;  // META_SETBKMODE
      case 0x0103:
        dev.SetMapMode(r.S(0));
        break;  // META_SETMAPMODE
      case 0x0104:
        dev.dc.rop2 = r.U(0);
        break;  // META_SETROP2
      case 0x0106:
        dev.dc.polyFillMode = r.U(0);
        break;  // META_SETPOLYFILLMODE
      case 0x0107:
        break;  // META_SETSTRETCHBLTMODE
      case 0x0108:
        dev.dc.charExtra = r.S(0);
        break;  // META_SETTEXTCHAREXTRA
      case 0x012E:
        dev.dc.textAlign = r.U(0);
        break;  // META_SETTEXTALIGN
      case 0x0201:
        dev.dc.bkColor = dev.Resolve(r.U32(0));
        break;  // META_SETBKCOLOR
      case 0x0209:
        dev.dc.textColor = dev.Resolve(r.U32(0));
        break;  // META_SETTEXTCOLOR
      case 0x020B:
        dev.SetWindowOrg(r.S(1), r.S(0));
        break;  // META_SETWINDOWORG
      case 0x020C:
        dev.SetWindowExt(r.S(1), r.S(0));
        break;      // META_SETWINDOWEXT
      case 0x020F:  // META_OFFSETWINDOWORG
        dev.SetWindowOrg(dev.dc.winOrg.x + r.S(1), dev.dc.winOrg.y + r.S(0));
        break;
      case 0x0410:  // META_SCALEWINDOWEXT: yDenom, yNum, xDenom, xNum
        if (r.S(0) != 0 && r.S(2) != 0)
          dev.SetWindowExt(dev.dc.winExt.x * r.S(3) / r.S(2), dev.dc.winExt.y * r.S(1) / r.S(0));
        break;
      // the viewport is in device pixels, the device being the output rectangle
      case 0x020D:
        dev.SetViewportOrg(r.S(1), r.S(0));
        break;  // META_SETVIEWPORTORG
      case 0x020E:
        dev.SetViewportExt(r.S(1), r.S(0));
        break;      // META_SETVIEWPORTEXT
      case 0x0211:  // META_OFFSETVIEWPORTORG
        dev.SetViewportOrg(dev.dc.vpOrg.x + r.S(1), dev.dc.vpOrg.y + r.S(0));
        break;
      case 0x0412:  // META_SCALEVIEWPORTEXT: yDenom, yNum, xDenom, xNum
        if (r.S(0) != 0 && r.S(2) != 0)
          dev.SetViewportExt(dev.dc.vpExt.x * r.S(3) / r.S(2), dev.dc.vpExt.y * r.S(1) / r.S(0));
        break;
      case 0x001E:
        dev.SaveDC();
        break;  // META_SAVEDC
      case 0x0127:
        dev.RestoreDC(r.S(0));
        break;  // META_RESTOREDC
      case 0x0214:
        dev.MoveTo(r.S(1), r.S(0));
        break;  // META_MOVETO
      case 0x0213:
        dev.LineTo(r.S(1), r.S(0));
        break;  // META_LINETO
      // objects ([MS-WMF] 2.3.4)
      case 0x02FA: {  // META_CREATEPENINDIRECT: style, width (x, y), colour
        if (r.words < 5) break;
        Pen pen;
        pen.style = r.U(0);
        pen.width = r.S(1);
        pen.color = r.U32(3);
        dev.AddObject(pen);
        break;
      }
      case 0x02FC: {  // META_CREATEBRUSHINDIRECT: style, colour, hatch
        if (r.words < 4) break;
        Brush b;
        b.style = r.U(0);
        b.color = r.U32(1);
        b.hatch = r.U(3);
        if (b.style == 3 || b.style == 5 || b.style == 6) b.style = 0;  // no pattern given: solid
        dev.AddObject(b);
        break;
      }
      case 0x0142: {  // META_DIBCREATEPATTERNBRUSH: style, colour usage, DIB or Bitmap16
        if (r.words < 2) break;
        Brush b;
        b.style = 5;
        auto dib = std::make_shared<Dib>();
        bool ok;
        if (r.U(0) == 3) {
          ok = DecodeBitmap16(r.Bytes(2), r.BytesFrom(2), 0, 0xFFFFFF, *dib);
          b.monoPattern = ok && r.BytesFrom(2) >= 10 && r.Bytes(2)[9] == 1;
        } else {
          ok = ReadPackedDib(r.Bytes(2), r.BytesFrom(2), r.U(1), palette, *dib);
        }
        if (ok && dev.AllowPattern(*dib))
          b.pattern = dib;
        else
          b.style = 1;  // an unreadable pattern still takes its slot, as a null brush
        dev.AddObject(b);
        break;
      }
      case 0x01F9: {  // META_CREATEPATTERNBRUSH: Bitmap16 header, 18 reserved bytes, bits
        Brush b;
        b.style = 5;
        auto dib = std::make_shared<Dib>();
        if (r.BytesFrom(0) >= 32) {
          std::vector<uint8_t> bm(r.Bytes(0), r.Bytes(0) + 10);
          bm.insert(bm.end(), r.Bytes(0) + 32, r.Bytes(0) + r.BytesFrom(0));
          if (DecodeBitmap16(bm.data(), bm.size(), 0, 0xFFFFFF, *dib) && dev.AllowPattern(*dib)) {
            b.pattern = dib;
            b.monoPattern = bm[9] == 1;
          }
        }
        if (!b.pattern) b.style = 1;
        dev.AddObject(b);
        break;
      }
      case 0x02FB: {  // META_CREATEFONTINDIRECT ([MS-WMF] 2.2.1.2 Font)
        if (r.words < 9) break;
        Font f;
        f.height = r.S(0);
        f.width = r.S(1);
        f.escapement = r.S(2);
        f.weight = r.S(4);
        const uint8_t* b = r.Bytes(5);
        f.italic = b[0] != 0, f.underline = b[1] != 0, f.strikeOut = b[2] != 0, f.charSet = b[3];
        f.pitchAndFamily = b[7];
        const uint8_t* face = r.Bytes(9);
        const size_t n = std::min<size_t>(32, r.BytesFrom(9));
        size_t len = 0;
        while (len < n && face[len]) ++len;
        f.face = ToUtf8(FromAnsi(face, len));
        dev.AddObject(f);
        break;
      }
      case 0x00F7: {  // META_CREATEPALETTE: start, count, entries (r, g, b, flags)
        Palette p;
        const size_t count = std::min<size_t>(r.U(1), r.words > 2 ? (r.words - 2) / 2 : 0);
        for (size_t i = 0; i < count; ++i) p.entries.push_back(r.U32(2 + 2 * i) & 0xFFFFFF);
        dev.AddObject(p);
        break;
      }
      case 0x06FF:
        dev.AddObject(ReadRegion(r, 0));
        break;  // META_CREATEREGION
      case 0x012D:
        dev.SelectObject(r.U(0));
        break;  // META_SELECTOBJECT
      case 0x0234:
        dev.SelectObject(r.U(0));
        break;  // META_SELECTPALETTE
      case 0x01F0:
        dev.DeleteObject(r.U(0));
        break;  // META_DELETEOBJECT
      case 0x0035:
      case 0x0037:
      case 0x0139:
      case 0x0436:
        break;  // palette realisation and animation
      // clipping
      case 0x0415:
      case 0x0416:  // META_EXCLUDECLIPRECT / META_INTERSECTCLIPRECT: bottom, right, top, left
        if (r.words >= 4) dev.ClipRect(r.S(3), r.S(2), r.S(1), r.S(0), r.function == 0x0415);
        break;
      case 0x0220:
        dev.OffsetClip(r.S(1), r.S(0));
        break;        // META_OFFSETCLIPRGN
      case 0x012C: {  // META_SELECTCLIPREGION
        const Object* o = dev.GetObject(r.U(0));
        const Region* rgn = o ? std::get_if<Region>(o) : nullptr;
        if (rgn || r.U(0) == 0) dev.SelectClipRegion(rgn, 5);
        break;
      }
      // drawing ([MS-WMF] 2.3.3)
      case 0x0324:
        dev.Polygon(Points(r, 1, r.U(0)));
        break;  // META_POLYGON
      case 0x0325:
        dev.Polyline(Points(r, 1, r.U(0)));
        break;        // META_POLYLINE
      case 0x0538: {  // META_POLYPOLYGON
        const size_t n = std::min<size_t>(r.U(0), r.words > 0 ? r.words - 1 : 0);
        std::vector<uint32_t> counts;
        size_t total = 0;
        for (size_t i = 0; i < n; ++i) counts.push_back(r.U(1 + i)), total += r.U(1 + i);
        dev.PolyPolygon(Points(r, 1 + n, total), counts);
        break;
      }
      case 0x041B:  // META_RECTANGLE: bottom, right, top, left
        if (r.words >= 4) dev.Rectangle(r.S(3), r.S(2), r.S(1), r.S(0));
        break;
      case 0x0418:  // META_ELLIPSE
        if (r.words >= 4) dev.Ellipse(r.S(3), r.S(2), r.S(1), r.S(0));
        break;
      case 0x061C:  // META_ROUNDRECT: height, width, bottom, right, top, left
        if (r.words >= 6) dev.RoundRect(r.S(5), r.S(4), r.S(3), r.S(2), r.S(1), r.S(0));
        break;
      case 0x0817:
      case 0x081A:
      case 0x0830:  // META_ARC, META_PIE, META_CHORD
        if (r.words >= 8)
          dev.Arc(r.function == 0x0817   ? Device::ArcKind::Arc
                  : r.function == 0x081A ? Device::ArcKind::Pie
                                         : Device::ArcKind::Chord,
                  r.S(7), r.S(6), r.S(5), r.S(4), r.S(3), r.S(2), r.S(1), r.S(0));
        break;
      case 0x041F:  // META_SETPIXEL: colour, y, x
        if (r.words >= 4) dev.SetPixel(r.S(3), r.S(2), r.U32(0));
        break;
      case 0x0419:  // META_FLOODFILL: colour, y, x (the colour bounds the area)
        if (r.words >= 4) dev.FloodFill(r.S(3), r.S(2), r.U32(0), false);
        break;
      case 0x0548:  // META_EXTFLOODFILL: mode, colour, y, x (FLOODFILLSURFACE 1: the colour is the area)
        if (r.words >= 5) dev.FloodFill(r.S(4), r.S(3), r.U32(1), r.U(0) == 1);
        break;
      case 0x0521: {  // META_TEXTOUT: length, string (padded to a word), y, x
        const size_t len = r.U(0);
        const size_t words = (len + 1) / 2;
        if (r.words < 1 + words + 2) break;
        dev.TextOut(r.S(2 + words), r.S(1 + words), FromAnsi(r.Bytes(1), len), {}, 0, nullptr);
        break;
      }
      case 0x0A32: {  // META_EXTTEXTOUT: y, x, length, options, [rectangle], string, [dx]
        if (r.words < 4) break;
        const size_t len = r.U(2);
        const uint16_t options = r.U(3);
        size_t at = 4;
        double rect[4];
        const bool hasRect = (options & 6) != 0;  // ETO_OPAQUE or ETO_CLIPPED
        if (hasRect) {
          if (r.words < 8) break;
          for (int k = 0; k < 4; ++k) rect[k] = r.S(4 + size_t(k));
          at = 8;
        }
        if (r.BytesFrom(at) < len) break;  // a text longer than its record
        const size_t dxAt = at + (len + 1) / 2;
        std::vector<double> dx;
        if (r.words >= dxAt + len)
          for (size_t i = 0; i < len; ++i) dx.push_back(r.S(dxAt + i));
        dev.TextOut(r.S(1), r.S(0), FromAnsi(r.Bytes(at), len), dx, options, hasRect ? rect : nullptr);
        break;
      }
      case 0x0228: {  // META_FILLREGION: region, brush
        const Object* o = dev.GetObject(r.U(0));
        const Object* b = dev.GetObject(r.U(1));
        if (o && b && std::holds_alternative<Region>(*o) && std::holds_alternative<Brush>(*b))
          dev.FillRegion(std::get<Region>(*o), &std::get<Brush>(*b));
        break;
      }
      case 0x0429: {  // META_FRAMEREGION: region, brush, height, width
        const Object* o = dev.GetObject(r.U(0));
        const Object* b = dev.GetObject(r.U(1));
        if (o && b && std::holds_alternative<Region>(*o) && std::holds_alternative<Brush>(*b))
          dev.FrameRegion(std::get<Region>(*o), std::get<Brush>(*b), r.S(3), r.S(2));
        break;
      }
      case 0x012B:
      case 0x012A: {  // META_PAINTREGION, META_INVERTREGION
        const Object* o = dev.GetObject(r.U(0));
        if (o && std::holds_alternative<Region>(*o)) {
          if (r.function == 0x012B)
            dev.FillRegion(std::get<Region>(*o), nullptr);
          else
            dev.InvertRegion(std::get<Region>(*o));
        }
        break;
      }
      // bitmaps ([MS-WMF] 2.3.1)
      case 0x061D:  // META_PATBLT: rop, height, width, y, x
        if (r.words >= 6) dev.StretchBlt(r.S(5), r.S(4), r.S(3), r.S(2), nullptr, 0, 0, 0, 0, r.U32(0));
        break;
      case 0x0922:
      case 0x0940: {  // META_BITBLT, META_DIBBITBLT
        // without a bitmap the record has a reserved word after the source position
        const bool noBitmap = r.words == 9;
        if (r.words < 8) break;
        const uint32_t rop = r.U32(0);
        const double ySrc = r.S(2), xSrc = r.S(3);
        const size_t d = noBitmap ? 5 : 4;
        const double h = r.S(d), w = r.S(d + 1), y = r.S(d + 2), x = r.S(d + 3);
        if (noBitmap) {
          dev.StretchBlt(x, y, w, h, nullptr, 0, 0, 0, 0, rop);
          break;
        }
        Dib dib;
        const bool ok = r.function == 0x0940
                            ? ReadPackedDib(r.Bytes(8), r.BytesFrom(8), 0, palette, dib)
                            : DecodeBitmap16(r.Bytes(8), r.BytesFrom(8), dev.dc.textColor, dev.dc.bkColor, dib);
        if (ok) dev.StretchBlt(x, y, w, h, &dib, xSrc, ySrc, w, h, rop);
        break;
      }
      case 0x0B23:
      case 0x0B41: {  // META_STRETCHBLT, META_DIBSTRETCHBLT
        const bool noBitmap = r.words == 11;
        if (r.words < 10) break;
        const uint32_t rop = r.U32(0);
        const double sh = r.S(2), sw = r.S(3), sy = r.S(4), sx = r.S(5);
        const size_t d = noBitmap ? 7 : 6;
        const double h = r.S(d), w = r.S(d + 1), y = r.S(d + 2), x = r.S(d + 3);
        if (noBitmap) {
          dev.StretchBlt(x, y, w, h, nullptr, 0, 0, 0, 0, rop);
          break;
        }
        Dib dib;
        const bool ok = r.function == 0x0B41
                            ? ReadPackedDib(r.Bytes(10), r.BytesFrom(10), 0, palette, dib)
                            : DecodeBitmap16(r.Bytes(10), r.BytesFrom(10), dev.dc.textColor, dev.dc.bkColor, dib);
        if (ok) dev.StretchBlt(x, y, w, h, &dib, sx, sy, sw, sh, rop);
        break;
      }
      case 0x0F43: {  // META_STRETCHDIB: rop, usage, srcHeight, srcWidth, ySrc, xSrc, destHeight, destWidth, y, x, DIB
        if (r.words < 11) break;
        Dib dib;
        if (!ReadPackedDib(r.Bytes(11), r.BytesFrom(11), r.U(2), palette, dib)) break;
        const double sh = r.S(3), sw = r.S(4), sy = r.S(5), sx = r.S(6);
        // the source rectangle of a bottom-up DIB is measured from its bottom row
        const double top = dib.bottomUp ? dib.height - sy - sh : sy;
        dev.StretchBlt(r.S(10), r.S(9), r.S(8), r.S(7), &dib, sx, top, sw, sh, r.U32(0));
        break;
      }
      case 0x0D33: {  // META_SETDIBTODEV: usage, scans, start scan, yDib, xDib, height, width, y, x, DIB
        if (r.words < 9) break;
        Dib dib;
        if (!ReadPackedDib(r.Bytes(9), r.BytesFrom(9), r.U(0), palette, dib)) break;
        const double h = r.S(5), w = r.S(6), sy = r.S(3), sx = r.S(4);
        dev.StretchBlt(r.S(8), r.S(7), w, h, &dib, sx, (dib.bottomUp ? dib.height - sy - h : sy), w, h, 0x00CC0020);
        break;
      }
      case 0x0626:
        break;  // META_ESCAPE: printer escapes and comments
      default:
        break;  // unknown records are skipped by their size
    }
    return true;
  });
}

}  // namespace muralo::gdi
