#pragma once
// Silicon Graphics image files: grey, RGB and RGBA, verbatim or run-length encoded, one or two
// bytes per sample, each channel stored as its own plane of rows, bottom row first.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

inline constexpr uint16_t SGIMagic = 474;  // the first two bytes, big-endian

class TSGIGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TSGIGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  const char* RefusedHeaderLabel() const override;
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;
};

}  // namespace muralo
