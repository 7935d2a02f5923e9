#pragma once
// The reader table: every picture class the framework registers, one row a class (the bitmap class
// has two rows, because its "rle" and "dib" extensions are registered after the JPEG class).
// Everything that lists readers is derived from it: the registration table and its order, the
// shutdown order, the sources the imaging library builds, the fuzz targets and their corpora, the
// reader contract tests, the registry's expected class counts.
//
// Adding a reader
//   1. Write imaging/formats/<Name>.h and <Name>.cpp (class T<Name>, derived from TFrameworkGraphic;
//      use its load skeleton: ReadImageProperties, LoadImage, and the helpers of GraphicFramework.h).
//   2. Add one row to the table in imaging/ReaderTable.cpp, at the class's place in registration
//      order, written READER(T<Name>, <fuzz>) first. CMake reads that macro: it compiles
//      formats/<Name>.cpp into the imaging library, includes formats/<Name>.h into the table, and
//      builds the fuzz target fuzz_<fuzz> on the shared harness with the seed corpus
//      fuzz/formats/corpus/<fuzz>/. Put a few small valid files there and name the ones the contract
//      tests should load in the row's samples; fuzzer finds go to tests/imaging/formats/hostile/<fuzz>/.
//   3. Add tests/imaging/formats/<Name>Test.cpp (the format's own oracle and crafted-byte tests); the
//      test CMake file picks it up from the table as well.
// Nothing else lists readers.
#include <cstdint>
#include <memory>
#include <vector>

#include "classlib/Graphics.h"
#include "imaging/FileFormatList.h"
#include "imaging/GraphicFramework.h"

namespace muralo {

// One registered extension of a class: descriptions are pointers to the message constants
// (Graphicstrings); null stands for none.
struct TExtensionRow {
  const char* Extension;
  const char* const* Common = nullptr;
  const char* const* Individual = nullptr;
};

struct TReaderRow {
  TGraphicClass (*GraphicClass)();
  // The reader's fuzz target fuzz_<FuzzName>, its corpus and hostile folders; empty for the class
  // library's own classes.
  const char* FuzzName;
  // The format label that the reader fills into the ges… messages; null when it raises none.
  const char* const* Label;
  TFormatTypes FormatTypes;
  std::vector<TExtensionRow> Extensions;
  // Place in the framework's shutdown order (1 first; 0: left to the list's Clear). A reader row
  // unregisters its whole class there, a class library row only its own extensions.
  int Shutdown;
  // Files of fuzz/formats/corpus/<FuzzName>/ that the reader contract tests load.
  std::vector<const char*> Samples;
  // Whether the content test recognises the format; false for formats without a signature, which
  // are chosen by their extension only.
  bool HasSignature;

  bool IsReader() const { return FuzzName[0] != '\0'; }
};

// The table in registration order.
const std::vector<TReaderRow>& ReaderTable();

// The row of a class (the first one for the bitmap class); null for a class not in the table.
const TReaderRow* FindReaderRow(TGraphicClass graphicClass);

// A fresh object of a framework reader class.
std::unique_ptr<TFrameworkGraphic> CreateReader(const TReaderRow& row);

}  // namespace muralo
