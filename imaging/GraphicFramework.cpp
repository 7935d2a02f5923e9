#include "imaging/GraphicFramework.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Resources.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/Decoder.h"

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

void TFrameworkGraphic::LoadFromStream(TStream& stream) {
  ReleaseImage();
  BasePosition = stream.Position();
  if (!ReadImageProperties(stream, LoadedImageIndex())) {
    if (const char* label = RefusedHeaderLabel()) throw EInvalidGraphic(Format(gesInvalidImage, label));
    return;
  }
  stream.SetPosition(BasePosition);
  InitProgress(ImageProperties.Width);
  TProgressScope finish([this] { EndProgress(); });
  StartProgress(HasPreparingStage() ? gesPreparing : gesTransfering);
  LoadImage(stream);
  Modified();
}

void TFrameworkGraphic::LoadImage(TStream&) {}

void TFrameworkGraphic::BeginRows() {
  EndProgress();
  StartProgress(gesTransfering);
}

TPixelFormat TFrameworkGraphic::SetupColors(const TColorSetup& setup) {
  TColorManager& cm = ColorManager();
  cm.SourceOptions = setup.SourceOptions;
  cm.SetSourceColorScheme(setup.SourceScheme);
  cm.SetSourceBitsPerSample(setup.SourceBitsPerSample);
  cm.SetSourceSamplesPerPixel(setup.SourceSamplesPerPixel);
  cm.SetTargetColorScheme(setup.TargetScheme);
  cm.SetTargetBitsPerSample(setup.TargetBitsPerSample);
  cm.SetTargetSamplesPerPixel(setup.TargetSamplesPerPixel);
  const TPixelFormat format = cm.GetPixelFormat(1);
  SetPixelFormat(format);
  return format;
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

void TFrameworkGraphic::SizeFromProperties(TStream& stream, uint64_t leastBytes) {
  CheckImageSize(ImageProperties.Width, ImageProperties.Height, BitsPerPixel());
  const int64_t left = stream.Size() - stream.Position();
  if (left < 0 || static_cast<uint64_t>(left) < leastBytes) throw EReadError();
  SizeFromProperties();
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

size_t CheckedSize(uint64_t value, const char* label) {
  if (value > std::numeric_limits<size_t>::max()) throw EInvalidGraphic(Format(gesInvalidImage, label));
  return static_cast<size_t>(value);
}

void DecodeRow(TDecoder& decoder, const uint8_t*& source, const uint8_t* end, uint8_t* target, size_t units,
               size_t rowBytes) {
  uint8_t* dest = target;
  decoder.Decode(source, dest, static_cast<size_t>(end - source), units);
  if (dest != target + rowBytes) throw EReadError();
}

TPlaneRows::TPlaneRows(size_t planes, size_t planeBytes) : Buffer(planes * planeBytes) {
  for (size_t i = 0; i < planes && i < Planes.size(); ++i) Planes[i] = Buffer.data() + i * planeBytes;
}

TPointerArray TPlaneRows::Pointers(size_t count) const {
  switch (count) {
    case 1:
      return TPointerArray{Planes[0]};
    case 2:
      return TPointerArray{Planes[0], Planes[1]};
    case 3:
      return TPointerArray{Planes[0], Planes[1], Planes[2]};
    default:
      return TPointerArray{Planes[0], Planes[1], Planes[2], Planes[3]};
  }
}

void ReduceSamplesTo8(const uint8_t* source, uint32_t bitsPerSample, uint8_t* target, size_t count) {
  const uint32_t maxValue = (uint32_t{1} << bitsPerSample) - 1;
  if (bitsPerSample == 8) {
    std::copy_n(source, count, target);
    return;
  }
  for (size_t x = 0; x < count; ++x) {
    const uint32_t v = bitsPerSample > 8 ? (uint32_t{source[2 * x]} << 8) | source[2 * x + 1] : source[x];
    target[x] = static_cast<uint8_t>(std::min(v, maxValue) * 255 / maxValue);
  }
}

}  // namespace muralo
