#pragma once
// Autodesk Animator cel and pic images: uncompressed 8-bit pixels with a 256-entry palette of
// 6-bit components.
#include "imaging/GraphicFramework.h"

namespace muralo {

struct TAutodeskHeader {
  uint16_t Magic = 0;
  uint16_t Width = 0, Height = 0;
  uint16_t XOffset = 0, YOffset = 0;
  uint8_t BitsPerPixel = 0;
  uint8_t Compression = 0;
  uint32_t ImageSize = 0;
};
inline constexpr int64_t AutodeskHeaderSize = 32;
inline constexpr uint16_t AutodeskMagic = 0x9119;

TAutodeskHeader ParseAutodeskHeader(const uint8_t (&bytes)[AutodeskHeaderSize]);
// The content test: the magic number, 8 bits per pixel and no compression. Loading needs only the
// magic number (ReadImageProperties); the other two fields have one value in every known file.
bool IsValidAutodeskHeader(const TAutodeskHeader& header);

class TAutodeskGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TAutodeskGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  const char* RefusedHeaderLabel() const override;
  void LoadImage(TStream& stream) override;
};

}  // namespace muralo
