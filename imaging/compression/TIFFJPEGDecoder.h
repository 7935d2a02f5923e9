#pragma once
// JPEG-compressed TIFF strips through libjpeg.
#include <cstddef>
#include <cstdint>

#include "imaging/ImageTypes.h"

#include "imaging/compression/Decoder.h"

namespace muralo {

// JPEG-compressed TIFF strips (TIFF compression 7) through libjpeg, with the optional shared
// tables stream (JPEGTables). Delivers three-sample pixels in blue, green, red order. Each Decode
// takes one strip whose geometry must match the properties record (Width, Height, CurrentRow,
// RowsPerStrip, SamplesPerPixel, PlanarConfig, BitsPerSample, YCbCrSubSampling, ColorScheme,
// BytesPerLine). Data that ends early raises the warning gesJPEGEOI and decodes as if an
// end-of-image marker followed; a fatal libjpeg error raises EGraphicCompression with libjpeg's
// text; mismatches raise EGraphicCompression with the check's message.
class TTIFFJPEGDecoder : public TDecoder {
 public:
  explicit TTIFFJPEGDecoder(PImageProperties AProperties);
  ~TTIFFJPEGDecoder() override;

  void DecodeInit() override;
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
  void DecodeEnd() override;

  struct TJPEGState;  // the libjpeg objects (defined in the source)

 private:
  TJPEGState* State = nullptr;
  PImageProperties ImageProperties;
  uint16_t HSubSampling = 1;
  uint16_t VSubSampling = 1;
  uint32_t BytesPerLine = 0;
  const uint8_t* TablesData = nullptr;
  size_t TablesSize = 0;
};

}  // namespace muralo
