#pragma once
// The bridge between the class library's bitmaps and Qt's display: row copies into a QImage (no
// file decoding happens here) and the canvas text renderer drawn with QPainter.

#include <QColor>
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

// The font the font dialog opens on for a caption font: the Windows faces that are not installed
// ("Times New Roman", "Arial", "Courier New", "MS Sans Serif") become their metric-compatible
// Liberation families, so the dialog can select the family; size and style are kept.
QFont ToDialogFont(const TFont& font);
// Colours of the class library (COLORREF, 0x00BBGGRR) and of Qt.
QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

// Loads Qt's own French texts (standard dialogs and buttons, qtbase_fr from Qt's translations
// folder) into the application, whatever the locale: the whole interface is French. False when the
// translations are not installed.
bool InstallFrenchTranslations();

// TCanvas text through QPainter.
class TQtTextRenderer final : public TTextRenderer {
 public:
  void TextOut(TBitmap& target, int x, int y, const std::string& utf8Text, const TFont& font, TColor background,
               bool opaqueBackground) override;
  TPoint TextExtent(const std::string& utf8Text, const TFont& font) override;
};

}  // namespace muralo
