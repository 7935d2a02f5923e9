// Fuzz target of the PCX reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/PCXGraphic.h"

MURALO_READER_FUZZER(muralo::TPCXGraphic)
