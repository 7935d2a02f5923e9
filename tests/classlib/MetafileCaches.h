#pragma once
// Included by the tests that draw metafiles: the font caches of metafile text are released at the
// end of the program, so that the leak checker sees only real leaks.
#include <gtest/gtest.h>

#include "classlib/Metafile.h"

namespace muralo::test {

class ReleaseMetafileFontCaches : public testing::Environment {
 public:
  void TearDown() override { ReleaseMetafileCaches(); }
};
inline const auto* const kReleaseMetafileFontCaches = testing::AddGlobalTestEnvironment(new ReleaseMetafileFontCaches);

}  // namespace muralo::test
