#pragma once
// Paint Shop Pro images of major version 3 and later: the first raster layer of the layer
// section, with the palette of the colour palette block.
#include <cstdint>
#include <vector>

#include "imaging/GraphicFramework.h"

namespace muralo {

inline constexpr int64_t PSPHeaderSize = 36;

class TPSPGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPSPGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

  // A block header (identifier, block id, total length) and where its contents start and end.
  struct TBlock {
    uint8_t Identifier = 0;
    uint16_t Id = 0;
    int64_t Start = 0;
    int64_t End = 0;
  };

 protected:
  const char* RefusedHeaderLabel() const override;
  bool HasPreparingStage() const override { return true; }
  void LoadImage(TStream& stream) override;

 private:
  void ReadPalette(TStream& stream);
  // Reads the first raster layer of a layer start block into the bitmap; false when the block
  // holds none.
  bool ReadLayers(TStream& stream, const TBlock& layerStart, uint32_t lineSize);
  // One channel buffer and how much of it the last channel of its type covered.
  struct TChannel {
    std::vector<uint8_t> Data;
    size_t Used = 0;
  };
  void ReadChannel(TStream& stream, TChannel (&channels)[3], uint64_t planeBytes);
};

}  // namespace muralo
