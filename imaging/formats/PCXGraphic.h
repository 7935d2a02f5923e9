#pragma once
// ZSoft PCX images and Word 5 screen captures: 1, 2, 4 and 8-bit palette images in one plane,
// 16-colour images in four 1-bit planes and true-colour images in three 8-bit planes, raw or
// run-length encoded.
#include "imaging/GraphicFramework.h"

namespace muralo {

struct TPCXHeader;

class TPCXGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPCXGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  // The ZSoft manufacturer byte (10, or 205 of Word 5 captures), a version (0, 2, 3 or 5) and an
  // encoding (0 or 1) that the format defines: stricter than loading, which reads any version and
  // treats every encoding other than 1 as raw.
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  void SetupPalette(TStream& stream, const TPCXHeader& header);
};

}  // namespace muralo
