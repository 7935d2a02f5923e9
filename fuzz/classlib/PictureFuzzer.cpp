// The fuzz target of one picture class of the class library: the build compiles this file once a
// class, with MURALO_FUZZ_PICTURE set to the class's corpus name.
#include <cstdlib>
#include <cstring>

#include "classlib/Icon.h"
#include "classlib/JPEGImage.h"
#include "classlib/Metafile.h"
#include "fuzz/FuzzHarness.h"

#ifndef MURALO_FUZZ_PICTURE
#error "MURALO_FUZZ_PICTURE names the picture class to fuzz"
#endif

namespace {

template <class T>
std::unique_ptr<muralo::TGraphic> Make() {
  return std::make_unique<T>();
}

struct TPictureClass {
  const char* Name;
  std::unique_ptr<muralo::TGraphic> (*Create)();
};
constexpr TPictureClass PictureClasses[] = {
    {"bmp", Make<muralo::TBitmap>},   {"ico", Make<muralo::TIcon>},     {"jpeg", Make<muralo::TJPEGImage>},
    {"wmf", Make<muralo::TMetafile>}, {"emf", Make<muralo::TMetafile>},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const TPictureClass* const picture = [] {
    for (const TPictureClass& c : PictureClasses)
      if (std::strcmp(c.Name, MURALO_FUZZ_PICTURE) == 0) {
        // Cairo and fontconfig keep the fonts of drawn text until told to let them go, as the
        // program does at exit; otherwise the leak checker counts them.
        std::atexit(muralo::ReleaseMetafileCaches);
        return &c;
      }
    __builtin_trap();  // a name that the list does not hold
  }();
  return muralo::fuzz::FuzzGraphic(picture->Create(), data, size);
}
