#pragma once
// Kodak Photo-CD image packs: the Base resolution (768 x 512), stored uncompressed as a luma plane
// and two chroma planes at half resolution, upsampled and turned upright.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

// Doubles a plane in both directions in place: the source fills the first w bytes of rows 0 to
// h - 1 (row stride `stride`, at least 2w), the result 2w bytes of rows 0 to 2h - 1. New samples
// are the rounded means of their two (or, between four, four) neighbours; the last column and the
// last row repeat their neighbour. Does nothing for an empty source.
void PCDUpsample(uint32_t w, uint32_t h, uint32_t stride, uint8_t* plane);

class TPCDGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPCDGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  // imageIndex selects the resolution: 0 Base/16, 1 Base/4, 2 Base, 3 4Base, 4 16Base, 5 and
  // above 64Base.
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  // A pack with neither signature is not a Photo-CD file: refused, not shown empty.
  const char* RefusedHeaderLabel() const override { return "PCD"; }
  // The Base image (768 x 512) is the one stored uncompressed.
  uint32_t LoadedImageIndex() const override { return 2; }
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  void TransferRows(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2);
};

}  // namespace muralo
