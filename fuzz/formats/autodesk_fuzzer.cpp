// Fuzz target of the Autodesk reader.
#include "fuzz/formats/ReaderFuzzHarness.h"
#include "imaging/formats/AutodeskGraphic.h"

MURALO_READER_FUZZER(muralo::TAutodeskGraphic)
