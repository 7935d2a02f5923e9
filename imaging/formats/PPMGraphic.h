#pragma once
// Portable bitmaps, grey maps and pixel maps (netpbm "P1" to "P6"), as text or raw bytes. The
// text header and the plain rows are read through one small buffered character reader that all
// six kinds share.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

class TPPMGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPPMGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  const char* RefusedHeaderLabel() const override;
  void LoadImage(TStream& stream) override;
};

}  // namespace muralo
