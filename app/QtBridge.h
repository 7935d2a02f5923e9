#pragma once
// The bridge between the class library's bitmaps and Qt's display: row copies into a QImage (no
// file decoding happens here) and the canvas text renderer drawn with QPainter.

#include <QFont>
#include <QImage>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"

namespace muralo {

// A copy of the bitmap's pixels as an opaque 32-bit image.
QImage ToQImage(const TBitmap& bitmap);
// Draws any picture into a 32-bit bitmap of the given size (stretched) and returns it as a QImage.
QImage RenderToQImage(TGraphic& graphic, int width, int height);

// Fonts of the class library as Qt fonts; "MS Sans Serif" and "Times new Roman" map to metric
// compatible families when they are not installed.
QFont ToQFont(const TFont& font);
TFont FromQFont(const QFont& font, TColor color);
void InstallFontSubstitutions();

// TCanvas text through QPainter.
class TQtTextRenderer final : public TTextRenderer {
 public:
  void TextOut(TBitmap& target, int x, int y, const std::string& utf8Text, const TFont& font, TColor background,
               bool opaqueBackground) override;
  TPoint TextExtent(const std::string& utf8Text, const TFont& font) override;
};

}  // namespace muralo
