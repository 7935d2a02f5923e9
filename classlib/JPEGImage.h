#pragma once
// TJPEGImage: a JPEG file read and written with libjpeg. Loading keeps the compressed bytes and
// reads the header only; the picture is decompressed the first time it is drawn or its bitmap is
// asked for. Saving writes the held bytes unchanged, and compresses anew (quality 90) only a
// picture that holds none, such as one assigned from a bitmap.
// The picture is shown as its EXIF orientation says (a portrait photo from a phone stands upright:
// Width and Height are those shown), and CMYK and YCCK files are shown in RGB.

#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"

namespace muralo {

class TJPEGImage : public TGraphic {
  MURALO_GRAPHIC_CLASS(TJPEGImage)
 public:
  TJPEGImage() = default;
  ~TJPEGImage() override = default;

  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  bool Grayscale() const { return FGrayscale; }
  bool ProgressiveEncoding() const { return FProgressive; }
  // EXIF orientation 1..8 (1 when the file has none).
  int Orientation() const { return FOrientation; }

  void Draw(TCanvas& canvas, const TRect& rect) override;
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // From another JPEG image (bytes and all) or from any picture (drawn onto a 24-bit bitmap; the
  // copy then holds no compressed bytes).
  void Assign(const TGraphic& source) override;

  // The decompressed picture: 24 bits per pixel, or an 8-bit palette bitmap of at most 236 colours
  // for a greyscale file or when the display has 8 bits per pixel or fewer.
  const TBitmap& Bitmap();
  bool Decompressed() const { return FBitmap != nullptr; }
  // The compressed bytes held (empty for a picture assigned from a bitmap).
  const std::vector<uint8_t>& Data() const { return FData; }

  int CompressionQuality = 90;

 private:
  void Decompress();
  std::vector<uint8_t> Compress() const;

  std::vector<uint8_t> FData;
  std::unique_ptr<TBitmap> FBitmap;
  int FWidth = 0, FHeight = 0;
  bool FGrayscale = false, FProgressive = false;
  int FOrientation = 1;
};

}  // namespace muralo
