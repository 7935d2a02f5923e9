#pragma once
// TCanvas: drawing on a TBitmap. Plain and stretched draws of any picture, fills with the brush and
// text through a renderer that the application plugs in (the class library draws no text itself).

#include <string>

#include "classlib/Graphics.h"

namespace muralo {

class TBitmap;

enum class TFontStyle : uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct TFont {
  std::string Name = "MS Sans Serif";
  int Size = 8;  // points
  TColor Color = clBlack;
  uint8_t Style = 0;  // set of TFontStyle bits
  bool operator==(const TFont&) const = default;
};

struct TBrush {
  TColor Color = clWhite;  // a new canvas brush is solid white
  bool Clear = false;      // bsClear: text drawn without a background box
};

// The application's text drawing. Draws text in one line with its top-left corner at (x, y);
// with an opaque background the text's box is first filled with the background colour.
class TTextRenderer {
 public:
  virtual ~TTextRenderer() = default;
  virtual void TextOut(TBitmap& target, int x, int y, const std::string& utf8Text, const TFont& font, TColor background,
                       bool opaqueBackground) = 0;
  virtual TPoint TextExtent(const std::string& utf8Text, const TFont& font) = 0;
};
// The process-wide renderer (none by default: text output then draws nothing).
void SetTextRenderer(TTextRenderer* renderer);
TTextRenderer* GetTextRenderer();

class TCanvas {
 public:
  explicit TCanvas(TBitmap& target) : Target(target) {}
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TBitmap& Bitmap() { return Target; }

  TFont Font;
  TBrush Brush;

  // Draws the picture unscaled with its top-left corner at (x, y).
  void Draw(int x, int y, TGraphic& graphic);
  // Draws the picture scaled into rect.
  void StretchDraw(const TRect& rect, TGraphic& graphic);
  // Fills rect (clipped to the bitmap) with the brush colour.
  void FillRect(const TRect& rect);
  void TextOut(int x, int y, const std::string& utf8Text);
  TPoint TextExtent(const std::string& utf8Text);

 private:
  TBitmap& Target;
};

// Copies source into dest of target (clipped to target). When dest's size differs from source's,
// target pixels take the source pixel their centre maps to (COLORONCOLOR); for targets of 8 bits
// per pixel or fewer with a deeper source a halftone reduction is used.
void StretchBlt(TBitmap& target, const TRect& dest, const TBitmap& source);

}  // namespace muralo
