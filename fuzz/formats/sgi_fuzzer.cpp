// Fuzz target of the SGI reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/SGIGraphic.h"

MURALO_READER_FUZZER(muralo::TSGIGraphic)
