#pragma once
// Silicon Graphics image files: grey, RGB and RGBA, verbatim or run-length encoded, one or two
// bytes per sample, each channel stored as its own plane of rows, bottom row first.
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

// The 512-byte header (Paul Haeberli, "The SGI Image File Format", version 1.00).
struct TSGIHeader {
  uint16_t Magic = 0;
  uint8_t Storage = 0;
  uint8_t BytesPerChannel = 0;
  uint16_t Dimension = 0;
  uint16_t XSize = 0, YSize = 0, ZSize = 0;
  uint32_t ColorMap = 0;
};
inline constexpr int64_t SGIHeaderSize = 512;
inline constexpr uint16_t SGIMagic = 474;

TSGIHeader ParseSGIHeader(const uint8_t (&bytes)[SGIHeaderSize]);
// The load validator: the magic number, samples of one or two bytes and one to four channels (one
// grey, two grey and alpha read as grey, three RGB, four RGBA); anything else has no layout.
bool IsLoadableSGIHeader(const TSGIHeader& header);
// The content test: a loadable header whose dimension (1 to 3) is valid too; loading does not need
// the dimension.
bool IsValidSGIHeader(const TSGIHeader& header);

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
