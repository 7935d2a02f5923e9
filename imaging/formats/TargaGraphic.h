#pragma once
// Truevision Targa (TGA) images: colour-mapped, true-colour and grey, uncompressed or run-length
// encoded, read into the bitmap; and the framework's one writer.

#include "imaging/GraphicFramework.h"

namespace muralo {

struct TTargaHeader;

class TTargaGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TTargaGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  // A loadable header whose image type, colour map type and colour map entry size are known too.
  // It is stricter than loading, because Targa has no signature: files with a colour map entry
  // size of 0 (as some encoders write for true-colour images) load by extension only.
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;
  // Writes a run-length encoded Targa file.
  void SaveToStream(TStream& stream) override;
  void SaveToStream(TStream& stream, bool Compressed);

 protected:
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  void ReadColorMap(TStream& stream, const TTargaHeader& header);
  void ReadRows(TStream& stream, const TTargaHeader& header);
};

}  // namespace muralo
