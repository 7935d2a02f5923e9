// File-dialog filters in Qt's syntax.
#include <gtest/gtest.h>

#include "app/DialogFilters.h"

using namespace muralo;

namespace {

struct FilterCase {
  const char* Name;
  std::string Filter;
  std::vector<std::string> Expected;
};

TEST(DialogFilters, ClassLibraryFiltersBecomeQtFilters) {
  const FilterCase cases[] = {
      {"one entry", "Bitmaps (*.bmp)|*.bmp", {"Bitmaps (*.bmp)"}},
      {"the all pair first",
       "Tout (*.png;*.bmp)|*.png;*.bmp|Images Portable network graphic (*.png)|*.png|Bitmaps (*.bmp)|*.bmp",
       {"Tout (*.png *.bmp)", "Images Portable network graphic (*.png)", "Bitmaps (*.bmp)"}},
      {"list dialog",
       "Listes de fichiers image|*.que|Tout fichier|*.*",
       {"Listes de fichiers image (*.que)", "Tout fichier (*.*)"}},
      {"accented description", "MétaFichiers évolués (*.emf)|*.emf", {"MétaFichiers évolués (*.emf)"}},
      {"empty", "", {}},
      {"dangling description", "Bitmaps (*.bmp)|*.bmp|Orphan", {"Bitmaps (*.bmp)"}},
  };
  for (const FilterCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(ToQtFilters(c.Filter), c.Expected);
  }
}

}  // namespace
