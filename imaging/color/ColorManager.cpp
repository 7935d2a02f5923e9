// The colour manager's settings, the choice of a row converter and the pixel-format query.

#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {

TColorManager::TColorManager() {
  FSourceBitsPerSample = 8;
  FTargetBitsPerSample = 8;
  FSourceSamplesPerPixel = 3;
  FTargetSamplesPerPixel = 3;
  SetGamma(1.0f, 2.2f);
  FSourceColorScheme = csRGB;
  FTargetColorScheme = csBGR;
  FYCbCrCoefficients = {0.299f, 0.587f, 0.114f};
  FHorzSubSampling = 1;
  FVertSubSampling = 1;
  FChanged = true;
}

void TColorManager::Error(const char* Message) { throw EColorConversionError(Message); }

void TColorManager::SetSourceColorScheme(TColorScheme Value) {
  if (Value != FSourceColorScheme) {
    FSourceColorScheme = Value;
    FChanged = true;
  }
}

void TColorManager::SetTargetColorScheme(TColorScheme Value) {
  if (Value != FTargetColorScheme) {
    FTargetColorScheme = Value;
    FChanged = true;
  }
}

namespace {

void CheckSampleDepth(uint8_t value) {
  if (value == 0 || value > 16) TColorManager::Error(gesInvalidSampleDepth);
}

void CheckPixelDepth(uint8_t value) {
  if (value != 1 && value != 3 && value != 4) TColorManager::Error(gesInvalidPixelDepth);
}

}  // namespace

void TColorManager::SetSourceBitsPerSample(uint8_t Value) {
  CheckSampleDepth(Value);
  if (Value != FSourceBitsPerSample) {
    FSourceBitsPerSample = Value;
    FChanged = true;
  }
}

void TColorManager::SetTargetBitsPerSample(uint8_t Value) {
  CheckSampleDepth(Value);
  if (Value != FTargetBitsPerSample) {
    FTargetBitsPerSample = Value;
    FChanged = true;
  }
}

void TColorManager::SetSourceSamplesPerPixel(uint8_t Value) {
  CheckPixelDepth(Value);
  if (Value != FSourceSamplesPerPixel) {
    FSourceSamplesPerPixel = Value;
    FChanged = true;
  }
}

void TColorManager::SetTargetSamplesPerPixel(uint8_t Value) {
  CheckPixelDepth(Value);
  if (Value != FTargetSamplesPerPixel) {
    FTargetSamplesPerPixel = Value;
    FChanged = true;
  }
}

void TColorManager::ConvertRow(const TPointerArray& Source, void* Target, uint32_t Count, uint8_t Mask) {
  if (FChanged) PrepareConversion();
  if (FConversionMethod == nullptr) Error(gesConversionUnsupported);
  // An empty row (an image of width 0 hands over empty buffers, whose data may be null) converts
  // nothing; the converters may then assume a real first row.
  if (Count == 0 || Target == nullptr || Source.empty() || Source[0] == nullptr) return;
  (this->*FConversionMethod)(Source, Target, Count, Mask);
}

namespace {

bool HasAlpha(TColorScheme scheme) { return scheme == csGA || scheme == csRGBA || scheme == csBGRA; }

}  // namespace

void TColorManager::PrepareConversion() {
  FConversionMethod = nullptr;

  // Palette indices (and grey levels, which are converted like indices) only go to palette
  // targets; a grey source with alpha counts as indexed, a grey-alpha target does not.
  const bool sourceIndexed = FSourceColorScheme == csIndexed || FSourceColorScheme == csG || FSourceColorScheme == csGA;
  const bool targetIndexed = FTargetColorScheme == csIndexed || FTargetColorScheme == csG;
  if (sourceIndexed != targetIndexed) Error(gesIndexedNotSupported);

  if (HasAlpha(FSourceColorScheme))
    SourceOptions.Include(coAlpha);
  else
    SourceOptions.Exclude(coAlpha);
  if (HasAlpha(FTargetColorScheme))
    TargetOptions.Include(coAlpha);
  else
    TargetOptions.Exclude(coAlpha);

  const uint8_t s = FSourceBitsPerSample;
  const uint8_t t = FTargetBitsPerSample;
  const bool rgbTarget = FTargetColorScheme == csRGB || FTargetColorScheme == csRGBA;
  const bool bgrTarget = FTargetColorScheme == csBGR || FTargetColorScheme == csBGRA;
  auto pick = [&](TConversionMethod toRGB, TConversionMethod toBGR) {
    if (rgbTarget)
      FConversionMethod = toRGB;
    else if (bgrTarget)
      FConversionMethod = toBGR;
  };

  switch (FSourceColorScheme) {
    case csIndexed:
      if (s == 16 && t == 16)
        FConversionMethod = &TColorManager::RowConvertIndexedBoth16;
      else if (s == 16)
        FConversionMethod = &TColorManager::RowConvertIndexedSource16;
      else if (t == 16)
        FConversionMethod = &TColorManager::RowConvertIndexedTarget16;
      else
        FConversionMethod = &TColorManager::RowConvertIndexed8;
      break;
    case csG:
      if (s != 16 && t != 16)
        FConversionMethod = &TColorManager::RowConvertIndexed8;  // grey levels rescale like indices
      else if (s >= 8 && t >= 8)
        FConversionMethod = &TColorManager::RowConvertGray;
      break;
    case csGA:
      if ((s == 8 || s == 16) && (t == 8 || t == 16)) FConversionMethod = &TColorManager::RowConvertGray;
      break;
    case csRGB:
    case csRGBA:
      pick(&TColorManager::RowConvertRGB2RGB, &TColorManager::RowConvertRGB2BGR);
      break;
    case csBGR:
    case csBGRA:
      pick(&TColorManager::RowConvertBGR2RGB, &TColorManager::RowConvertBGR2BGR);
      break;
    case csCMYK:
      pick(&TColorManager::RowConvertCMYK2RGB, &TColorManager::RowConvertCMYK2BGR);
      break;
    case csCIELab:
      pick(&TColorManager::RowConvertCIELAB2RGB, &TColorManager::RowConvertCIELAB2BGR);
      break;
    case csYCbCr:
      CreateYCbCrLookup();
      pick(&TColorManager::RowConvertYCbCr2RGB, &TColorManager::RowConvertYCbCr2BGR);
      break;
    case csPhotoYCC:
      CreateYCbCrLookup();
      pick(&TColorManager::RowConvertPhotoYCC2RGB, &TColorManager::RowConvertPhotoYCC2BGR);
      break;
    default:  // csUnknown, csCMY: nothing converts from them
      break;
  }
  FChanged = false;
}

TPixelFormat TColorManager::GetPixelFormat(int32_t Index) const {
  const uint8_t samples = Index == 0 ? FSourceSamplesPerPixel : FTargetSamplesPerPixel;
  const uint8_t bits = Index == 0 ? FSourceBitsPerSample : FTargetBitsPerSample;
  switch (samples) {
    case 1:
      if (bits == 1) return TPixelFormat::pf1bit;
      if (bits >= 2 && bits <= 4) return TPixelFormat::pf4bit;
      if (bits >= 8 && bits <= 16) return TPixelFormat::pf8bit;
      return TPixelFormat::pfCustom;
    case 3:
      if (bits >= 1 && bits <= 5) return TPixelFormat::pf15bit;
      if (bits >= 6 && bits <= 16) return TPixelFormat::pf24bit;
      return TPixelFormat::pfCustom;
    case 4:
      if (bits >= 8 && bits <= 16) return TPixelFormat::pf32bit;
      return TPixelFormat::pfCustom;
    default:
      return TPixelFormat::pfCustom;
  }
}

}  // namespace muralo
