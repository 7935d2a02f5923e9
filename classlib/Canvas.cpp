#include "classlib/Canvas.h"

#include <algorithm>
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

void StretchBlt(TBitmap& target, const TRect& dest, const TBitmap& source) {
  const int sw = source.Width(), sh = source.Height();
  const int dw = dest.Width(), dh = dest.Height();
  if (sw <= 0 || sh <= 0 || dw == 0 || dh == 0) return;
  const int tw = target.Width(), th = target.Height();
  const int x0 = std::max(0, std::min(dest.Left, dest.Right)), x1 = std::min(tw, std::max(dest.Left, dest.Right));
  const int y0 = std::max(0, std::min(dest.Top, dest.Bottom)), y1 = std::min(th, std::max(dest.Top, dest.Bottom));
  if (x0 >= x1 || y0 >= y1) return;
  // FIXME: halftone reduction for targets of 8 bits per pixel or fewer.
  std::vector<uint8_t> srcRow(size_t(sw) * 4), dstRow(size_t(tw) * 4);
  std::vector<int> columns(size_t(x1 - x0));
  const int adw = std::abs(dw), adh = std::abs(dh);
  for (int x = x0; x < x1; ++x) {
    // COLORONCOLOR: the target pixel's centre mapped into the source
    int offset = dw > 0 ? x - dest.Left : dest.Left - 1 - x;
    int sx = static_cast<int>(((2LL * offset + 1) * sw) / (2LL * adw));
    columns[size_t(x - x0)] = std::clamp(sx, 0, sw - 1);
  }
  int lastSy = -1;
  for (int y = y0; y < y1; ++y) {
    int offset = dh > 0 ? y - dest.Top : dest.Top - 1 - y;
    int sy = std::clamp(static_cast<int>(((2LL * offset + 1) * sh) / (2LL * adh)), 0, sh - 1);
    if (sy != lastSy) {
      source.ReadRowBGRA(sy, srcRow.data());
      lastSy = sy;
    }
    target.ReadRowBGRA(y, dstRow.data());
    for (int x = x0; x < x1; ++x) {
      const uint8_t* s = srcRow.data() + size_t(columns[size_t(x - x0)]) * 4;
      uint8_t* d = dstRow.data() + size_t(x) * 4;
      d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = s[3];
    }
    target.WriteRowBGRA(y, dstRow.data());
  }
  target.Modified();
}

}  // namespace muralo
