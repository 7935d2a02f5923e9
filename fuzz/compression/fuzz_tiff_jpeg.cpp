// Fuzz target: TTIFFJPEGDecoder with a properties record drawn from the parameters, the data split
// into a tables stream and a strip when asked.
#include "DecoderFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return muralo::fuzz::FuzzTiffJpeg(data, size);
}
