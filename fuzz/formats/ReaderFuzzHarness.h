#pragma once
// The harness every reader's fuzz target shares: the input is a whole file handed to the reader's
// content test and LoadFromStream. Framework errors are the expected outcome of bad input; a
// crash, a sanitizer report or a hang is a find. The memory limit is lowered so that a declared
// size past it is refused, as the program would refuse a size past its own limit.
#include <cstddef>
#include <cstdint>

#include "classlib/Bitmap.h"
#include "classlib/Exception.h"
#include "classlib/Streams.h"

namespace muralo::fuzz {

template <typename Reader>
int FuzzReader(const uint8_t* data, size_t size) {
  static const bool limited = (SetMemoryLimit(uint64_t(64) << 20), true);
  (void)limited;
  TReadOnlyMemoryStream stream(data, size);
  (void)Reader::CanLoad(stream);
  Reader reader;
  try {
    reader.LoadFromStream(stream);
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace muralo::fuzz

#define MURALO_READER_FUZZER(Reader)                                          \
  extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {   \
    return ::muralo::fuzz::FuzzReader<Reader>(data, size);                     \
  }
