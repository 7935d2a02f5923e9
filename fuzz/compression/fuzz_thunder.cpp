// Fuzz target: the ThunderScan decoder, one or several calls over the data.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return muralo::fuzz::FuzzThunder(data, size);
}
