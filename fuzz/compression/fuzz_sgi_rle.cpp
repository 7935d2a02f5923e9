// Fuzz target: the SGI run-length decoder (8-bit and 16-bit samples), one or several calls over the data.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return muralo::fuzz::FuzzSgiRle(data, size); }
