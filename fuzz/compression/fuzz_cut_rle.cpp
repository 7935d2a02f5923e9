// Fuzz target: the Dr. Halo CUT run-length decoder, one or several calls over the data.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return muralo::fuzz::FuzzCutRle(data, size); }
