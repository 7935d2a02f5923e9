// The fuzz target of one decoder: the build compiles this file once per target of
// DecoderFuzzTargets.h, with MURALO_FUZZ_DECODER set to the target's name.
#include <cstring>

#include "fuzz/compression/DecoderFuzzTargets.h"

#ifndef MURALO_FUZZ_DECODER
#error "MURALO_FUZZ_DECODER names the decoder target to fuzz"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const muralo::fuzz::TFuzzTarget* const target = [] {
    for (const muralo::fuzz::TFuzzTarget& t : muralo::fuzz::FuzzTargets)
      if (std::strcmp(t.Name, MURALO_FUZZ_DECODER) == 0) return &t;
    __builtin_trap();  // a name that the list does not hold
  }();
  return target->Run(data, size);
}
