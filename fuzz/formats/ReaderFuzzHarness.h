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
#include "imaging/GraphicFramework.h"
#include "imaging/ReaderTable.h"

namespace muralo::fuzz {

inline int FuzzReader(const TReaderRow& row, const uint8_t* data, size_t size) {
  static const bool limited = (SetMemoryLimit(uint64_t(64) << 20), true);
  (void)limited;
  TReadOnlyMemoryStream stream(data, size);
  if (row.GraphicClass()->CanLoadStream) (void)row.GraphicClass()->CanLoadStream(stream);
  const auto reader = CreateReader(row);
  try {
    reader->LoadFromStream(stream);
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace muralo::fuzz
