// The fuzz target of one reader: the build compiles this file once per row of the reader table,
// with MURALO_FUZZ_READER set to the row's fuzz name. The input is a whole file handed to the
// reader's content test and LoadFromStream.
#include <cstring>

#include "fuzz/FuzzHarness.h"
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
  muralo::fuzz::SetFuzzLimits();
  muralo::TReadOnlyMemoryStream stream(data, size);
  if (row->GraphicClass()->CanLoadStream) (void)row->GraphicClass()->CanLoadStream(stream);
  const auto reader = muralo::CreateReader(*row);
  if (muralo::fuzz::Guard([&] { reader->LoadFromStream(stream); }))
    muralo::fuzz::Outcome().Result = muralo::fuzz::Describe(*reader);
  return 0;
}
