// Fuzz target of the PPM reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/PPMGraphic.h"

MURALO_READER_FUZZER(muralo::TPPMGraphic)
