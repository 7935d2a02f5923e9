// Replays the fuzzers' seed corpora and every kept fuzzer find (hostile/<class>/) through the
// picture classes: each file loads, draws and saves, or raises the framework's errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "classlib/MetafileCaches.h"
#include "classlib/Streams.h"
#include "kit/TestKit.h"

namespace muralo {
namespace {

namespace fs = std::filesystem;

using test::SourceDir;

struct Family {
  const char* name;
  std::unique_ptr<TGraphic> (*make)();
};

const Family kFamilies[] = {
    {"bmp", [] { return std::unique_ptr<TGraphic>(new TBitmap); }},
    {"ico", [] { return std::unique_ptr<TGraphic>(new TIcon); }},
    {"jpeg", [] { return std::unique_ptr<TGraphic>(new TJPEGImage); }},
    {"wmf", [] { return std::unique_ptr<TGraphic>(new TMetafile); }},
    {"emf", [] { return std::unique_ptr<TGraphic>(new TMetafile); }},
};

TEST(Hostile, CorporaAndFindsEndInFrameworkErrorsOnly) {
  const uint64_t saved = MemoryLimit();
  SetMemoryLimit(uint64_t(64) << 20);  // the fuzzers' limit
  for (const Family& f : kFamilies) {
    int files = 0;
    for (const fs::path& dir :
         {SourceDir() / "fuzz/classlib/corpus" / f.name, SourceDir() / "tests/classlib/hostile" / f.name}) {
      if (!fs::exists(dir)) continue;
      for (const auto& entry : fs::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(entry.path().filename().string());
        ++files;
        const std::vector<uint8_t> bytes = ReadFileBytes(entry.path().string());
        auto graphic = f.make();
        try {
          TReadOnlyMemoryStream s(bytes.data(), bytes.size());
          graphic->LoadFromStream(s);
          TBitmap target;
          target.SetPixelFormat(TPixelFormat::pf24bit);
          target.SetSize(16, 16);
          target.Canvas().StretchDraw(TRect{0, 0, 16, 16}, *graphic);
          TMemoryStream out;
          graphic->SaveToStream(out);
          EXPECT_GT(out.Size(), 0);
        } catch (const EInvalidGraphic&) {
        } catch (const EStreamError&) {
        }
      }
    }
    EXPECT_GT(files, 0) << "no seed corpus for " << f.name;
  }
  SetMemoryLimit(saved);
}

}  // namespace
}  // namespace muralo
