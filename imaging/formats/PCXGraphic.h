#pragma once
// ZSoft PCX images and Word 5 screen captures: 1, 2, 4 and 8-bit palette images in one plane,
// 16-colour images in four 1-bit planes and true-colour images in three 8-bit planes, raw or
// run-length encoded.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

// The 128-byte header (ZSoft "PCX Technical Reference Manual", revision 5).
struct TPCXHeader {
  uint8_t Manufacturer = 0;
  uint8_t Version = 0;
  uint8_t Encoding = 0;
  uint8_t BitsPerPixel = 0;
  uint16_t XMin = 0, YMin = 0, XMax = 0, YMax = 0;
  uint16_t HRes = 0, VRes = 0;
  uint8_t ColorMap[48] = {};
  uint8_t Reserved = 0;
  uint8_t Planes = 0;
  uint16_t BytesPerLine = 0;
  uint16_t PaletteInfo = 0;
};
inline constexpr int64_t PCXHeaderSize = 128;

TPCXHeader ParsePCXHeader(const uint8_t (&bytes)[PCXHeaderSize]);
// The load validator: the ZSoft manufacturer byte (10, or 205 of some old writers); a header
// without it loads as an empty image.
bool IsPCXManufacturer(const TPCXHeader& header);
// The content test: a manufacturer byte, a version (0, 2, 3 or 5) and an encoding (0 or 1) that
// the format defines; stricter than loading, which reads any version and treats every encoding
// other than 1 as raw.
bool IsValidPCXHeader(const TPCXHeader& header);

// The 16 colours of the system's default palette, which version 3 files (no palette
// information) are shown with.
extern const TPaletteEntry DefaultPalette16[16];

class TPCXGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPCXGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  void SetupPalette(TStream& stream, const TPCXHeader& header);
};

}  // namespace muralo
