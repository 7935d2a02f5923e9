#pragma once
// The shared body of the picture fuzz targets: load the input into a fresh picture object, then
// use it as the program would (draw it stretched onto a small bitmap, save it to memory). The
// framework's own errors are expected; anything else (another exception, a sanitizer report,
// a crash) is a finding.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "classlib/Bitmap.h"
#include "classlib/Canvas.h"
#include "classlib/Exception.h"
#include "classlib/Graphics.h"
#include "classlib/Streams.h"

namespace muralo::fuzz {

// Realistic limits for a fuzz run: a bitmap of at most 64 MiB.
inline void SetFuzzLimits() {
  static const bool done = [] {
    SetMemoryLimit(uint64_t(64) << 20);
    return true;
  }();
  (void)done;
}

inline int FuzzGraphic(std::unique_ptr<TGraphic> graphic, const uint8_t* data, size_t size) {
  SetFuzzLimits();
  try {
    TReadOnlyMemoryStream stream(data, size);
    graphic->LoadFromStream(stream);
  } catch (const Exception&) {
    return 0;
  }
  try {
    TBitmap target;
    target.SetPixelFormat(TPixelFormat::pf24bit);
    target.SetSize(16, 16);
    target.Canvas().StretchDraw(TRect{0, 0, 16, 16}, *graphic);
    target.Canvas().Draw(-1, -1, *graphic);
    TMemoryStream saved;
    graphic->SaveToStream(saved);
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace muralo::fuzz
