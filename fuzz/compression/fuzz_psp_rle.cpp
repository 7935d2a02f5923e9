// Fuzz target: the Paint Shop Pro run-length decoder, one or several calls over the data.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return muralo::fuzz::FuzzPspRle(data, size); }
