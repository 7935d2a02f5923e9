#pragma once
// The bodies the fuzz targets share. Each target is a small file defining LLVMFuzzerTestOneInput
// on one of them; the fuzz build links it with libFuzzer, the other builds with ReplayMain.cpp.
// The framework's own errors are the expected outcome of bad input; anything else (another
// exception, a sanitizer report, a crash, a hang) is a find. The memory limit is lowered to
// 64 MiB, so that a declared size past it is refused as the program refuses one past its own.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Graphics.h"
#include "classlib/Streams.h"
#include "fuzz/FuzzOutcome.h"

namespace muralo::fuzz {

inline void SetFuzzLimits() {
  static const bool done = (SetMemoryLimit(uint64_t(64) << 20), true);
  (void)done;
}

// Calls body; a framework error is an expected outcome, recorded and let pass.
inline bool Guard(const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (const Exception& e) {
    Outcome().Error = e.message();
    return false;
  }
}

inline std::string Describe(const TGraphic& graphic) {
  return "size=" + std::to_string(graphic.Width()) + "x" + std::to_string(graphic.Height());
}

// A picture class: load the input into a fresh object, then use it as the program would (draw it
// stretched onto a small bitmap and at an offset, save it to memory).
inline int FuzzGraphic(std::unique_ptr<TGraphic> graphic, const uint8_t* data, size_t size) {
  SetFuzzLimits();
  if (!Guard([&] {
        TReadOnlyMemoryStream stream(data, size);
        graphic->LoadFromStream(stream);
      }))
    return 0;
  Outcome().Result = Describe(*graphic);
  Guard([&] {
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(16, 16);
    target.Canvas().StretchDraw(TRect{0, 0, 16, 16}, *graphic);
    target.Canvas().Draw(-1, -1, *graphic);
    TMemoryStream saved;
    graphic->SaveToStream(saved);
  });
  return 0;
}

}  // namespace muralo::fuzz
