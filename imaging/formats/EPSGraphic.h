#pragma once
// Encapsulated PostScript files shown by their TIFF preview: the binary header of the DOS EPS
// format (Adobe, "Encapsulated PostScript File Format" 3.0, section "Device
// Independent Screen Preview") points at a TIFF image, which the TIFF reader loads. The
// PostScript itself is never interpreted.
#include <cstdint>

#include "imaging/formats/TIFFGraphic.h"

namespace muralo {

// The 30-byte header, all values little-endian.
struct TEPSHeader {
  uint32_t Magic = 0;
  uint32_t PostScriptOffset = 0, PostScriptLength = 0;
  uint32_t MetafileOffset = 0, MetafileLength = 0;
  uint32_t TIFFOffset = 0, TIFFLength = 0;
  uint16_t Checksum = 0;
};
inline constexpr int64_t EPSHeaderSize = 30;
inline constexpr uint32_t EPSMagic = 0xC6D3D0C5;

TEPSHeader ParseEPSHeader(const uint8_t (&bytes)[EPSHeaderSize]);

class TEPSGraphic : public TTIFFGraphic {
  MURALO_GRAPHIC_CLASS(TEPSGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  // Describes the TIFF preview that the EPS header at BasePosition points to, and moves
  // BasePosition there; a stream without that header raises gesInvalidImage "EPS".
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;
};

}  // namespace muralo
