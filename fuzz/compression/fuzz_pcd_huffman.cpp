// Fuzz target: the Photo-CD residual decoder reading its bits from a stream.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return muralo::fuzz::FuzzPcd(data, size); }
