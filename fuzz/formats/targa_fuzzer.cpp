// Fuzz target of the Targa reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/TargaGraphic.h"

MURALO_READER_FUZZER(muralo::TTargaGraphic)
