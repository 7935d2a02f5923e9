#include "classlib/Canvas.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "classlib/Bitmap.h"

namespace muralo {

namespace {
TTextRenderer* gRenderer = nullptr;
}

void SetTextRenderer(TTextRenderer* renderer) { gRenderer = renderer; }
TTextRenderer* GetTextRenderer() { return gRenderer; }

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
  graphic.Draw(*this, TRect{x, y, x + graphic.Width(), y + graphic.Height()});
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) { graphic.Draw(*this, rect); }

void TCanvas::FillRect(const TRect& rect) {
  const int left = std::max(0, rect.Left), right = std::min(Target.Width(), rect.Right);
  const int top = std::max(0, rect.Top), bottom = std::min(Target.Height(), rect.Bottom);
  if (left >= right || top >= bottom) return;
  std::vector<uint8_t> row(size_t(Target.Width()) * 4);
  for (int y = top; y < bottom; ++y) {
    Target.ReadRowBGRA(y, row.data());
    for (int x = left; x < right; ++x) {
      uint8_t* px = row.data() + size_t(x) * 4;
      px[0] = GetBValue(Brush.Color), px[1] = GetGValue(Brush.Color), px[2] = GetRValue(Brush.Color), px[3] = 255;
    }
    Target.WriteRowBGRA(y, row.data());
  }
  Target.Modified();
}

void TCanvas::TextOut(int x, int y, const std::string& utf8Text) {
  if (gRenderer) gRenderer->TextOut(Target, x, y, utf8Text, Font, Brush.Color, !Brush.Clear);
}

TPoint TCanvas::TextExtent(const std::string& utf8Text) {
  return gRenderer ? gRenderer->TextExtent(utf8Text, Font) : TPoint{};
}

namespace {

// HALFTONE: every target pixel takes the average colour of the source area it covers (at least the
// one source pixel its centre maps to), then the nearest entry of the target's palette.
void HalftoneBlt(TBitmap& target, const TRect& dest, const TBitmap& source, int x0, int x1, int y0, int y1) {
  const int sw = source.Width(), sh = source.Height();
  const int dw = dest.Width(), dh = dest.Height();
  const int adw = std::abs(dw), adh = std::abs(dh);
  // source span [first, last) of target offset i along an axis of source length s and target length d
  auto span = [](int i, int s, int d) {
    int first = static_cast<int>((int64_t(i) * s) / d);
    int last = static_cast<int>((int64_t(i + 1) * s + d - 1) / d);
    first = std::clamp(first, 0, s - 1);
    last = std::clamp(last, first + 1, s);
    return std::pair<int, int>(first, last);
  };
  // the source is read in pieces of at most kChunk pixels, whatever its width
  constexpr int kChunk = 1024;
  std::vector<uint8_t> piece(size_t(kChunk) * 4), dstRow(size_t(target.Width()) * 4);
  std::vector<uint64_t> sums(size_t(x1 - x0) * 4);
  for (int y = y0; y < y1; ++y) {
    const int oy = dh > 0 ? y - dest.Top : dest.Top - 1 - y;
    const auto [sy0, sy1] = span(oy, sh, adh);
    std::fill(sums.begin(), sums.end(), 0);
    for (int sy = sy0; sy < sy1; ++sy) {
      for (int x = x0; x < x1; ++x) {
        const int ox = dw > 0 ? x - dest.Left : dest.Left - 1 - x;
        const auto [sx0, sx1] = span(ox, sw, adw);
        uint64_t* sum = sums.data() + size_t(x - x0) * 4;
        for (int sx = sx0; sx < sx1; sx += kChunk) {
          const int n = std::min(kChunk, sx1 - sx);
          source.ReadPixelsBGRA(sy, sx, n, piece.data());
          for (int k = 0; k < n; ++k) {
            const uint8_t* s = piece.data() + size_t(k) * 4;
            sum[0] += s[0], sum[1] += s[1], sum[2] += s[2], sum[3] += 1;
          }
        }
      }
    }
    target.ReadRowBGRA(y, dstRow.data());
    for (int x = x0; x < x1; ++x) {
      const uint64_t* sum = sums.data() + size_t(x - x0) * 4;
      uint8_t* d = dstRow.data() + size_t(x) * 4;
      for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>((sum[c] + sum[3] / 2) / sum[3]);
      d[3] = 255;
    }
    target.WriteRowBGRA(y, dstRow.data());
  }
  target.Modified();
}

// COLORONCOLOR between two bitmaps of one 24- or 32-bit layout, nothing transparent: the pixels
// are copied as bytes (the fourth byte of a 32-bit pixel becomes 255, as a copy through B, G, R, A
// leaves it), and a target row that takes the same source row as the row above copies that row.
void CopyBlt(TBitmap& target, const TBitmap& source, int x0, int x1, const std::vector<int>& columns,
             const std::vector<int>& rows, int y0) {
  const size_t pixel = target.BitsPerPixel() / 8;
  const size_t span = size_t(x1 - x0) * pixel;
  int lastSy = -1;
  for (size_t i = 0; i < rows.size(); ++i) {
    const int y = y0 + static_cast<int>(i), sy = rows[i];
    uint8_t* d = target.RowData(y) + size_t(x0) * pixel;
    if (sy == lastSy) {
      std::memcpy(d, target.RowData(y - 1) + size_t(x0) * pixel, span);
      continue;
    }
    lastSy = sy;
    const uint8_t* s = source.RowData(sy);
    if (pixel == 3) {
      for (const int sx : columns) {
        const uint8_t* p = s + size_t(sx) * 3;
        d[0] = p[0], d[1] = p[1], d[2] = p[2];
        d += 3;
      }
    } else {
      for (const int sx : columns) {
        const uint8_t* p = s + size_t(sx) * 4;
        d[0] = p[0], d[1] = p[1], d[2] = p[2], d[3] = 255;
        d += 4;
      }
    }
  }
  target.Modified();
}

}  // namespace

void StretchBlt(TBitmap& target, const TRect& dest, const TBitmap& source) {
  const int sw = source.Width(), sh = source.Height();
  const int dw = dest.Width(), dh = dest.Height();
  if (sw <= 0 || sh <= 0 || dw == 0 || dh == 0) return;
  const int tw = target.Width(), th = target.Height();
  const int x0 = std::max(0, std::min(dest.Left, dest.Right)), x1 = std::min(tw, std::max(dest.Left, dest.Right));
  const int y0 = std::max(0, std::min(dest.Top, dest.Bottom)), y1 = std::min(th, std::max(dest.Top, dest.Bottom));
  if (x0 >= x1 || y0 >= y1) return;
  if (target.BitsPerPixel() <= 8 && source.BitsPerPixel() > target.BitsPerPixel()) {
    HalftoneBlt(target, dest, source, x0, x1, y0, y1);
    return;
  }
  // A source wider than the target span is read only at the columns used, so that a very wide
  // source (a 1-bit row of 2^31 pixels is 256 MiB, 8 GiB as B, G, R, A) costs what the target needs.
  const bool perColumn = sw > x1 - x0;
  std::vector<int> columns(size_t(x1 - x0));
  const int adw = std::abs(dw), adh = std::abs(dh);
  for (int x = x0; x < x1; ++x) {
    // COLORONCOLOR: the target pixel's centre mapped into the source
    int offset = dw > 0 ? x - dest.Left : dest.Left - 1 - x;
    int sx = static_cast<int>(((2LL * offset + 1) * sw) / (2LL * adw));
    columns[size_t(x - x0)] = std::clamp(sx, 0, sw - 1);
  }
  const bool transparent = source.Transparent;
  const unsigned bpp = source.BitsPerPixel();
  if (!transparent && (bpp == 24 || bpp == 32) && target.BitsPerPixel() == bpp && &target != &source) {
    std::vector<int> rows(size_t(y1 - y0));
    for (int y = y0; y < y1; ++y) {
      const int offset = dh > 0 ? y - dest.Top : dest.Top - 1 - y;
      rows[size_t(y - y0)] = std::clamp(static_cast<int>(((2LL * offset + 1) * sh) / (2LL * adh)), 0, sh - 1);
    }
    CopyBlt(target, source, x0, x1, columns, rows, y0);
    return;
  }
  std::vector<uint8_t> srcRow(size_t(perColumn ? x1 - x0 : sw) * 4), dstRow(size_t(tw) * 4);
  const uint8_t key[3] = {GetBValue(source.TransparentColor), GetGValue(source.TransparentColor),
                          GetRValue(source.TransparentColor)};
  int lastSy = -1;
  for (int y = y0; y < y1; ++y) {
    int offset = dh > 0 ? y - dest.Top : dest.Top - 1 - y;
    int sy = std::clamp(static_cast<int>(((2LL * offset + 1) * sh) / (2LL * adh)), 0, sh - 1);
    if (sy != lastSy) {
      if (perColumn) {
        for (size_t i = 0; i < columns.size(); ++i) source.ReadPixelsBGRA(sy, columns[i], 1, srcRow.data() + i * 4);
      } else {
        source.ReadRowBGRA(sy, srcRow.data());
      }
      lastSy = sy;
    }
    target.ReadRowBGRA(y, dstRow.data());
    for (int x = x0; x < x1; ++x) {
      const size_t i = perColumn ? size_t(x - x0) : size_t(columns[size_t(x - x0)]);
      const uint8_t* s = srcRow.data() + i * 4;
      uint8_t* d = dstRow.data() + size_t(x) * 4;
      if (transparent && s[0] == key[0] && s[1] == key[1] && s[2] == key[2]) continue;
      d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = s[3];
    }
    target.WriteRowBGRA(y, dstRow.data());
  }
  target.Modified();
}

}  // namespace muralo
