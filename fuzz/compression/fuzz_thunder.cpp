// Fuzz target: the ThunderScan decoder, one or several calls over the data.
#include "DecoderFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace muralo;
  fuzz::TFuzzInput in;
  if (!fuzz::Split(data, size, in)) return 0;
  TThunderDecoder decoder(1u + in.P3 + (in.P0 \& 7) * 256u);
  fuzz::Decode(decoder, in, in.Room(), 1 + in.P0 % 2);
  return 0;
}
