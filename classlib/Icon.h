#pragma once
// TIcon: a Windows icon file (.ico). It keeps the file's bytes (saving writes them back) and shows
// the image of the directory closest to 32 × 32 pixels, composited onto the canvas through its
// AND mask or its alpha channel.

#include <cstdint>
#include <functional>
#include <vector>

#include "classlib/Graphics.h"

namespace muralo {

// Decodes a PNG-compressed icon image into width × height B, G, R, A bytes (top row first).
// The class library has no PNG reader; the framework plugs one in here. Without one such images
// raise EInvalidGraphic (SIconPngUnsupported).
using TIconPngDecoder = std::function<std::vector<uint8_t>(const uint8_t* data, size_t size, int& width, int& height)>;
void SetIconPngDecoder(TIconPngDecoder decoder);

class TIcon : public TGraphic {
  MURALO_GRAPHIC_CLASS(TIcon)
 public:
  TIcon() = default;
  ~TIcon() override = default;

  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }

  void Draw(TCanvas& canvas, const TRect& rect) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;  // the icon file it holds
  void Assign(const TGraphic& source) override;

  // Images in the file's directory and the index of the one shown.
  int ImageCount() const { return FCount; }
  int ShownImage() const { return FShown; }
  // The shown image as B, G, R, A bytes, top row first (A = 0 transparent, 255 opaque).
  const std::vector<uint8_t>& Pixels() const { return FPixels; }
  // COLORREF of one pixel of the shown image and its alpha.
  TColor PixelColor(int x, int y) const;
  uint8_t PixelAlpha(int x, int y) const;

 private:
  std::vector<uint8_t> FData;    // the file's bytes
  std::vector<uint8_t> FPixels;  // shown image, BGRA
  int FWidth = 0, FHeight = 0, FCount = 0, FShown = -1;
};

}  // namespace muralo
