// Fuzz target: TTargaRLEDecoder (decoding, and encoding the decoded pixels back).
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return muralo::fuzz::FuzzTargaRle(data, size);
}
