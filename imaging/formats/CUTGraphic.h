#pragma once
// Dr. Halo CUT images: run-length encoded 8-bit palette images whose palette lives in a PAL file
// beside the image (the same name with the extension ".pal"); without one the palette is grey.
#include <string>

#include "imaging/GraphicFramework.h"

namespace muralo {

class TCUTGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TCUTGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  // CUT files carry no signature: they are chosen by their extension only.
  static bool CanLoad(TStream& stream);
  void LoadFromFile(const std::string& fileName) override;
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

  std::string PaletteFileName;

 protected:
  void LoadImage(TStream& stream) override;
  void LoadPalette();
};

}  // namespace muralo
