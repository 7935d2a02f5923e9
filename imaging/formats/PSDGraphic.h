#pragma once
// Adobe Photoshop documents (PSD, PDD): the composite image of the image data section, read plane
// by plane into the bitmap. Layers, masks and image resources are skipped.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

// The 26-byte file header (Adobe Photoshop File Formats, "File Header Section").
struct TPSDHeader {
  char Signature[4] = {};
  uint16_t Version = 0;
  uint16_t Channels = 0;
  uint32_t Height = 0;
  uint32_t Width = 0;
  uint16_t Depth = 0;
  uint16_t Mode = 0;
};
inline constexpr int64_t PSDHeaderSize = 26;

TPSDHeader ParsePSDHeader(const uint8_t (&bytes)[PSDHeaderSize]);

class TPSDGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPSDGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  const char* RefusedHeaderLabel() const override;
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  void SetUpColorManager(uint32_t planesUsed);
  void ReadColorModeData(TStream& stream);
  void TransferRows(uint8_t* planes, uint64_t rowBytes, uint32_t planesUsed);
};

}  // namespace muralo
