#include "imaging/formats/EPSGraphic.h"

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TEPSGraphic, TTIFFGraphic, &TEPSGraphic::CanLoad)

TEPSHeader ParseEPSHeader(const uint8_t (&b)[EPSHeaderSize]) {
  TEPSHeader h;
  h.Magic = GetLE32(b);
  h.PostScriptOffset = GetLE32(b + 4);
  h.PostScriptLength = GetLE32(b + 8);
  h.MetafileOffset = GetLE32(b + 12);
  h.MetafileLength = GetLE32(b + 16);
  h.TIFFOffset = GetLE32(b + 20);
  h.TIFFLength = GetLE32(b + 24);
  h.Checksum = GetLE16(b + 28);
  return h;
}

bool TEPSGraphic::CanLoad(TStream& stream) {
  uint8_t b[EPSHeaderSize];
  if (!PeekHeader(stream, b, EPSHeaderSize, EPSHeaderSize + 1)) return false;
  const TEPSHeader h = ParseEPSHeader(b);
  // The preview lies past the header; offsets and position compare as the header's signed values.
  const int64_t tiffOffset = static_cast<int32_t>(h.TIFFOffset);
  return h.Magic == EPSMagic && tiffOffset > EPSHeaderSize + stream.Position() && h.TIFFLength > 0;
}

// Loading goes through the skeleton: the record read here moves BasePosition to the preview, whose
// offsets all count from its own first byte, and the TIFF decoding starts there.
bool TEPSGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  uint8_t b[EPSHeaderSize];
  stream.SetPosition(BasePosition);
  stream.ReadBuffer(b, EPSHeaderSize);
  const TEPSHeader h = ParseEPSHeader(b);
  if (h.Magic != EPSMagic) throw EInvalidGraphic(Format(gesInvalidImage, lblEPS));
  // A preview the TIFF reader then refuses is a TIF/TIFF error, as for any TIFF.
  BasePosition += h.TIFFOffset;
  return TTIFFGraphic::ReadImageProperties(stream, imageIndex);
}

}  // namespace muralo
