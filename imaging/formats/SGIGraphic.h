#pragma once
// Silicon Graphics image files: grey, RGB and RGBA, verbatim or run-length encoded, one or two
// bytes per sample, each channel stored as its own plane of rows, bottom row first.
#include <cstdint>
#include <memory>

#include "imaging/GraphicFramework.h"

namespace muralo {

class TSGIRLEDecoder;

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
bool IsValidSGIHeader(const TSGIHeader& header);

class TSGIGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TSGIGraphic)
public:
  TSGIGraphic();
  ~TSGIGraphic() override;
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;

protected:
  // Fills each given target with row `row` of its channel (red or grey, green, blue, alpha);
  // each target holds width × bytesPerSample bytes.
  void ReadAndDecode(uint8_t* red, uint8_t* green, uint8_t* blue, uint8_t* alpha, uint32_t row,
                     uint32_t bytesPerSample);

private:
  void ReadChannelRow(uint8_t* target, uint32_t row, uint32_t channel, uint32_t bytesPerSample);

  TCardinalArray RowOffsets;
  TCardinalArray RowLengths;
  std::unique_ptr<TSGIRLEDecoder> RowDecoder;
};

}  // namespace muralo
