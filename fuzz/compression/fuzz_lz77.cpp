// Fuzz target: TLZ77Decoder, the stream fed in several pieces, with each flush mode and reset rule.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return muralo::fuzz::FuzzLz77(data, size); }
