// Fuzz target of the RLA reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/RLAGraphic.h"

MURALO_READER_FUZZER(muralo::TRLAGraphic)
