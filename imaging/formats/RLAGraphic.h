#pragma once
// Alias/Wavefront RLA images: a big-endian header, a table of row offsets, and each row stored as
// separately run-length encoded red, green, blue and matte channels.
#include <cstddef>
#include <cstdint>

#include "imaging/GraphicFramework.h"

namespace muralo {

// The 740-byte header as stored (Wavefront "RLA" run-length format). Read as it lies in the file;
// SwapHeader turns its numbers into the machine's order.
struct TRLAHeader {
  int16_t Window[4];        // left, right, bottom, top
  int16_t ActiveWindow[4];  // left, right, bottom, top
  int16_t Frame;
  int16_t StorageType;
  int16_t NumChannels;
  int16_t NumMatte;
  int16_t NumAux;
  int16_t Revision;
  char Gamma[16];
  char RedPri[24], GreenPri[24], BluePri[24], WhitePt[24];
  int32_t JobNum;
  char Name[128];
  char Desc[128];
  char Program[64];
  char Machine[32];
  char User[32];
  char Date[20];
  char Aspect[24];
  char AspectRatio[8];
  char Chan[32];
  int16_t Field;
  char Time[12];
  char Filter[32];
  int16_t ChanBits;
  int16_t MatteType;
  int16_t MatteBits;
  int16_t AuxType;
  int16_t AuxBits;
  char Aux[32];
  char Space[36];
  int32_t Next;
};
static_assert(sizeof(TRLAHeader) == 740);
static_assert(offsetof(TRLAHeader, JobNum) == 140 && offsetof(TRLAHeader, Chan) == 580 &&
              offsetof(TRLAHeader, ChanBits) == 658 && offsetof(TRLAHeader, Next) == 736);
inline constexpr int64_t RLAHeaderSize = 740;

// The content test on a header as stored: revision 0xFFFE and channel type "rgb" or "xyz".
bool IsValidRLAHeader(const TRLAHeader& storedHeader);

class TRLAGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TRLAGraphic)
public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  static void SwapHeader(TRLAHeader& header);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;
};

}  // namespace muralo
