// The fuzz target of one reader: the build compiles this file once per row of the reader table,
// with MURALO_FUZZ_READER set to the row's fuzz name.
#include <cstring>

#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/ReaderTable.h"

#ifndef MURALO_FUZZ_READER
#error "MURALO_FUZZ_READER names the reader table row to fuzz"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const muralo::TReaderRow* const row = [] {
    for (const muralo::TReaderRow& r : muralo::ReaderTable())
      if (std::strcmp(r.FuzzName, MURALO_FUZZ_READER) == 0) return &r;
    __builtin_trap();  // a fuzz name that the table does not hold
  }();
  return muralo::fuzz::FuzzReader(*row, data, size);
}
