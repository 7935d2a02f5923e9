// Fuzz target: TTIFFLZWDecoder, each piece of the data decoded as one stream.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return muralo::fuzz::FuzzTiffLzw(data, size);
}
