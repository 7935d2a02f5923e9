// Fuzz target: the CCITT fax decoders (TIFF compression 3, 2 and 32771), with any width, bit order
// and T4Options.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return muralo::fuzz::FuzzCcitt(data, size); }
