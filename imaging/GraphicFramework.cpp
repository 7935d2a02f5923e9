#include "imaging/GraphicFramework.h"

#include <cmath>
#include <limits>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Resources.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TFrameworkGraphic, TBitmap, &TFrameworkGraphic::CanLoad)

TFrameworkGraphic::TFrameworkGraphic() : FColorManager(std::make_unique<TColorManager>()) {}

TFrameworkGraphic::~TFrameworkGraphic() = default;

void TFrameworkGraphic::Assign(const TGraphic& source) {
  if (auto* framework = dynamic_cast<const TFrameworkGraphic*>(&source)) ImageProperties = framework->ImageProperties;
  TBitmap::Assign(source);
}

bool TFrameworkGraphic::CanLoad(TStream&) { return false; }

bool TFrameworkGraphic::CanLoad(const std::string& fileName, TGraphicClass graphicClass) {
  TFileStream stream(fileName, TFileMode::fmOpenRead);
  return graphicClass && graphicClass->CanLoadStream && graphicClass->CanLoadStream(stream);
}

bool TFrameworkGraphic::ReadImageProperties(TStream&, uint32_t) {
  ImageProperties = TImageProperties{};
  ImageProperties.FileGamma = 1.0f;
  return false;
}

void TFrameworkGraphic::LoadFromResourceID(const TResourceTable* instance, uint32_t resourceID) {
  TResourceStream stream(instance, resourceID, RT_RCDATA);
  LoadFromStream(stream);
}

void TFrameworkGraphic::LoadFromResourceName(const TResourceTable* instance, const std::string& resourceName) {
  TResourceStream stream(instance, resourceName, RT_RCDATA);
  LoadFromStream(stream);
}

void TFrameworkGraphic::InitProgress(uint32_t width) {
  ProgressRect = TRect{0, 0, static_cast<int32_t>(std::min<uint32_t>(width, std::numeric_limits<int32_t>::max())), 1};
}

void TFrameworkGraphic::StartProgress(const char* message) {
  Progress(TProgressStage::psStarting, 0, false, ProgressRect, message);
}

void TFrameworkGraphic::EndProgress() { Progress(TProgressStage::psEnding, 100, false, ProgressRect, ""); }

void TFrameworkGraphic::RowProgress(uint32_t rowsDone, uint32_t height) {
  const uint8_t percent =
      height == 0 ? 100 : static_cast<uint8_t>(std::lround(static_cast<double>(rowsDone) * 100.0 / height));
  Progress(TProgressStage::psRunning, percent, false, ProgressRect, "");
  ProgressRect.Top += 1;
  ProgressRect.Bottom += 1;
}

void TFrameworkGraphic::SizeFromProperties() {
  CheckImageSize(ImageProperties.Width, ImageProperties.Height, BitsPerPixel());
  // The bitmap counts rows and columns in int; a raised memory limit must not let a size wrap.
  constexpr uint32_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (ImageProperties.Width > kMaxSide || ImageProperties.Height > kMaxSide)
    throw EInvalidGraphic(Format(SImageTooLarge, ImageProperties.Width, ImageProperties.Height));
  SetSize(static_cast<int>(ImageProperties.Width), static_cast<int>(ImageProperties.Height));
}

bool IsFrameworkClass(TGraphicClass graphicClass) {
  return graphicClass && graphicClass->InheritsFrom(TFrameworkGraphic::StaticClass());
}

TProgressScope::~TProgressScope() {
  try {
    if (Finish) Finish();
  } catch (...) {  // NOLINT(bugprone-empty-catch): the error that ended the load is the one reported
  }
}

bool PeekHeader(TStream& stream, void* buffer, int64_t count, int64_t minRemaining) {
  const int64_t start = stream.Position();
  if (stream.Size() - start < minRemaining) return false;
  const int64_t got = stream.Read(buffer, count);
  stream.SetPosition(start);
  return got == count;
}

uint64_t CheckedMul(uint64_t a, uint64_t b, const char* label) {
  uint64_t result = 0;
  if (__builtin_mul_overflow(a, b, &result)) throw EInvalidGraphic(Format(gesInvalidImage, label));
  return result;
}

uint64_t CheckedAdd(uint64_t a, uint64_t b, const char* label) {
  uint64_t result = 0;
  if (__builtin_add_overflow(a, b, &result)) throw EInvalidGraphic(Format(gesInvalidImage, label));
  return result;
}

}  // namespace muralo
