// Fuzz target: TTIFFJPEGDecoder with a properties record drawn from the parameters, the data split
// into a tables stream and a strip when asked.
#include "DecoderFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace muralo;
  fuzz::TFuzzInput in;
  if (!fuzz::Split(data, size, in)) return 0;
  TImageProperties props;
  const bool colour = in.P0 & 1;
  props.Width = 1u + in.P3;
  props.Height = 1u + (in.P1 & 0x3F);
  props.SamplesPerPixel = colour ? 3 : 1;
  props.BitsPerSample = in.P0 & 0x40 ? 12 : 8;
  props.PlanarConfig = in.P0 & 0x80 ? 2 : 1;
  props.ColorScheme = colour && (in.P0 & 2) ? csYCbCr : colour ? csRGB : csG;
  if (in.P0 & 4) props.YCbCrSubSampling = {2, static_cast<uint8_t>(in.P0 & 8 ? 2 : 1)};
  props.RowsPerStrip = {props.Height};
  props.BytesPerLine = props.Width * props.SamplesPerPixel - (in.P2 & 1);
  props.Compression = ctJPEG;
  fuzz::TFuzzInput strip = in;
  if (in.P0 & 0x10) {  // the first part of the data is the JPEGTables field
    const size_t tables = std::min<size_t>(in.Size, in.P2 * 4u);
    props.JPEGTables.assign(in.Data, in.Data + tables);
    strip.Data += tables;
    strip.Size -= tables;
  }
  return fuzz::Guard([&] {
    TTIFFJPEGDecoder decoder(&props);
    decoder.DecodeInit();
    fuzz::Decode(decoder, strip, size_t(props.Height) * props.BytesPerLine, 1);
    decoder.DecodeEnd();
  });
}
