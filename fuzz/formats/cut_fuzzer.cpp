// Fuzz target of the CUT reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/CUTGraphic.h"

MURALO_READER_FUZZER(muralo::TCUTGraphic)
