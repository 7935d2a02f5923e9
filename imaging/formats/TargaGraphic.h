#pragma once
// Truevision Targa (TGA) images: colour-mapped, true-colour and grey, uncompressed or run-length
// encoded, read into the bitmap; and the framework's one writer.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

// The 18-byte file header (Truevision TGA File Format 2.0, table 1).
struct TTargaHeader {
  uint8_t IDLength = 0;
  uint8_t ColorMapType = 0;
  uint8_t ImageType = 0;
  uint16_t ColorMapStart = 0;
  uint16_t ColorMapLength = 0;
  uint8_t ColorMapEntrySize = 0;
  uint16_t XOrigin = 0;
  uint16_t YOrigin = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t PixelSize = 0;
  uint8_t ImageDescriptor = 0;
};
inline constexpr int64_t TargaHeaderSize = 18;

TTargaHeader ParseTargaHeader(const uint8_t (&bytes)[TargaHeaderSize]);
void SerializeTargaHeader(const TTargaHeader& header, uint8_t (&bytes)[TargaHeaderSize]);
// The load validator: a pixel size that has a layout (8, 15, 16, 24 or 32 bits).
bool IsLoadableTargaHeader(const TTargaHeader& header);
// The content test: a loadable header whose image type, colour map type and colour map entry size
// are known too. It is stricter than loading, because Targa has no signature: files with a colour
// map entry size of 0 (as some encoders write for true-colour images) load by extension only.
bool IsValidTargaHeader(const TTargaHeader& header);

class TTargaGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TTargaGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
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
