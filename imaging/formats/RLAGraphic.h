#pragma once
// Alias/Wavefront RLA images: a big-endian header, a table of row offsets, and each row stored as
// separately run-length encoded red, green, blue and matte channels.
#include <cstdint>
#include <string>

#include "imaging/GraphicFramework.h"

namespace muralo {

// The fields of the 740-byte header (Wavefront "RLA" run-length format) that the reader uses,
// parsed from their big-endian places; text fields are cut at their first zero byte.
struct TRLAHeader {
  int16_t ActiveWindow[4] = {};  // left, right, bottom, top
  int16_t NumChannels = 0;
  int16_t NumMatte = 0;
  uint16_t Revision = 0;
  std::string Gamma;
  std::string Chan;  // channel type, lower case: "rgb", "xyz", ...
  int16_t ChanBits = 0;
};
inline constexpr int64_t RLAHeaderSize = 740;

TRLAHeader ParseRLAHeader(const uint8_t (&bytes)[RLAHeaderSize]);
// The content test and the load validator in one: revision 0xFFFE and channel type "rgb" or "xyz".
// Loading goes further only for "rgb"; an "xyz" image loads as an empty image.
bool IsValidRLAHeader(const TRLAHeader& header);

class TRLAGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TRLAGraphic)
 public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;

 protected:
  void LoadImage(TStream& stream) override;
};

}  // namespace muralo
