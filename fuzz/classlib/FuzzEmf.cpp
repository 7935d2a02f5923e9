#include "classlib/Metafile.h"
#include "fuzz/FuzzHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return muralo::fuzz::FuzzGraphic(std::make_unique<muralo::TMetafile>(), data, size);
}
