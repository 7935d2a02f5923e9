// Fuzz target: the Alias/Wavefront RLA run-length decoder, one or several calls over the data.
#include "DecoderFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace muralo;
  fuzz::TFuzzInput in;
  if (!fuzz::Split(data, size, in)) return 0;
  TRLADecoder decoder;
  fuzz::Decode(decoder, in, in.Room(), 1 + in.P3 % 3);
  return 0;
}
