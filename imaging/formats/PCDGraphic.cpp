#include "imaging/formats/PCDGraphic.h"

#include <cstring>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPCDGraphic, TFrameworkGraphic, &TPCDGraphic::CanLoad)

namespace {

// A Photo-CD image pack is a run of 2048-byte sectors.
constexpr int64_t kSector = 2048;
// The part of the pack the properties come from: the overview signature, the image pack header
// at sector 1 and its orientation byte.
constexpr int64_t kHeaderBytes = 3 * kSector;
constexpr int64_t kOverviewSignatureAt = 0;
constexpr int64_t kImageSignatureAt = kSector;
constexpr int64_t kImageCountAt = 10;
constexpr int64_t kOrientationAt = 0xE02;
// Where the Base image starts: sector 96 of an image pack, sector 5 of an overview pack.
constexpr int64_t kBaseSector = 96;
constexpr int64_t kOverviewSector = 5;
constexpr uint32_t kBaseWidth = 768;
constexpr uint32_t kBaseHeight = 512;

bool IsOverview(const uint8_t* header) { return std::memcmp(header + kOverviewSignatureAt, "PCD_OPA", 7) == 0; }
bool IsImagePack(const uint8_t* header) { return std::memcmp(header + kImageSignatureAt, "PCD", 3) == 0; }

}  // namespace

void PCDUpsample(uint32_t w, uint32_t h, uint32_t stride, uint8_t* plane) {
  if (w == 0 || h == 0 || stride < 2 * w) return;
  const uint32_t last = 2 * w - 1;
  // Horizontal pass, bottom row first and right to left, so that no source sample is overwritten
  // before it is read: row y becomes row 2y, twice as wide.
  for (uint32_t y = h; y-- > 0;) {
    const uint8_t* source = plane + size_t(y) * stride;
    uint8_t* target = plane + size_t(2 * y) * stride;
    target[last] = target[last - 1] = source[w - 1];
    for (uint32_t i = w - 1; i-- > 0;) {
      const uint8_t a = source[i], b = source[i + 1];
      target[2 * i + 1] = uint8_t((a + b + 1) / 2);
      target[2 * i] = a;
    }
  }
  // Vertical pass: each odd row from the even rows above and below.
  for (uint32_t y = 0; y + 1 < h; ++y) {
    const uint8_t* a = plane + size_t(2 * y) * stride;
    const uint8_t* b = a + 2 * size_t(stride);
    uint8_t* target = plane + size_t(2 * y + 1) * stride;
    for (uint32_t x = 0; x < last; x += 2) {
      target[x] = uint8_t((a[x] + b[x] + 1) / 2);
      if (x + 1 < last) target[x + 1] = uint8_t((a[x] + a[x + 2] + b[x] + b[x + 2] + 2) / 4);
    }
    target[last] = uint8_t((a[last] + b[last] + 1) / 2);
  }
  std::memcpy(plane + size_t(2 * h - 1) * stride, plane + size_t(2 * h - 2) * stride, 2 * size_t(w));
}

bool TPCDGraphic::CanLoad(TStream& stream) {
  uint8_t header[kImageSignatureAt + 3];
  if (!PeekHeader(stream, header, sizeof header, kHeaderBytes + 1)) return false;
  return IsOverview(header) || IsImagePack(header);
}

bool TPCDGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  const std::vector<uint8_t> header = ReadBytes(stream, kHeaderBytes);
  const bool overview = IsOverview(header.data());
  if (!overview && !IsImagePack(header.data())) return false;
  TImageProperties& p = ImageProperties;
  p.Overview = overview;
  p.Rotate = header[kOrientationAt] & 3;
  const uint32_t index = overview ? 0 : (imageIndex > 5 ? 5 : imageIndex);
  p.Width = 192u << index;
  p.Height = 128u << index;
  if (p.Rotate == 1 || p.Rotate == 3) std::swap(p.Width, p.Height);
  p.SetLayout(csPhotoYCC, 8, 3, index > 2 ? ctPCDHuffmann : ctNone);
  p.ImageCount = GetBE16(header.data() + kImageCountAt);
  return true;
}

void TPCDGraphic::TransferRows(const uint8_t* luma, const uint8_t* chroma1, const uint8_t* chroma2) {
  const uint8_t rotate = ImageProperties.Rotate;
  std::vector<uint8_t> row(size_t{kBaseWidth} * 3);
  for (uint32_t y = 0; y < kBaseHeight; ++y) {
    const size_t at = size_t(y) * kBaseWidth;
    const TPointerArray planes{luma + at, chroma1 + at, chroma2 + at};
    if (rotate == 1 || rotate == 3) {
      ColorManager().ConvertRow(planes, row.data(), kBaseWidth, 0xFF);
      for (uint32_t x = 0; x < kBaseWidth; ++x) {
        // 1: a quarter turn counter-clockwise (the source's top-right pixel becomes the top-left);
        // 3: a quarter turn clockwise (its bottom-left pixel becomes the top-left).
        const uint32_t targetRow = rotate == 1 ? kBaseWidth - 1 - x : x;
        const uint32_t targetColumn = rotate == 1 ? y : kBaseHeight - 1 - y;
        std::memcpy(RowData(static_cast<int>(targetRow)) + 3 * size_t(targetColumn), row.data() + 3 * size_t(x), 3);
      }
    } else {
      ColorManager().ConvertRow(planes, RowData(static_cast<int>(y)), kBaseWidth, 0xFF);
    }
    RowProgress(y + 1, kBaseHeight);
  }
}

void TPCDGraphic::LoadImage(TStream& stream) {
  const bool turned = ImageProperties.Rotate == 1 || ImageProperties.Rotate == 3;
  ImageProperties.Width = turned ? kBaseHeight : kBaseWidth;
  ImageProperties.Height = turned ? kBaseWidth : kBaseHeight;
  InitProgress(ImageProperties.Width);

  TColorManager& cm = ColorManager();
  cm.SourceOptions = {};
  cm.SetSourceColorScheme(csPhotoYCC);
  cm.SetSourceBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(3);
  cm.SetTargetColorScheme(csBGR);
  cm.SetTargetBitsPerSample(8);
  cm.SetTargetSamplesPerPixel(3);
  cm.SetYCbCrParameters({0.2125f, 0.7154f, 0.0721f}, 2, 2);
  SetPixelFormat(TPixelFormat::pf24bit);
  SizeFromProperties();

  // FIXME: an overview pack keeps Base/16 thumbnails from sector 5 on; Base-sized data is read
  // from there as from an image pack.
  stream.Seek(BasePosition + (ImageProperties.Overview ? kOverviewSector : kBaseSector) * kSector,
              TSeekOrigin::soBeginning);
  EndProgress();

  StartProgress(gesLoadingData);
  // Each pair of luma rows is followed by one row of each chroma at half width (the Base image
  // is stored uncompressed).
  constexpr size_t kGroupBytes = 2 * kBaseWidth + kBaseWidth;
  const std::vector<uint8_t> data = ReadBytes(stream, int64_t{kGroupBytes} * (kBaseHeight / 2));
  const size_t planeBytes = size_t{kBaseWidth} * kBaseHeight;
  std::vector<uint8_t> planes(3 * planeBytes);
  uint8_t* luma = planes.data();
  uint8_t* chroma1 = luma + planeBytes;
  uint8_t* chroma2 = chroma1 + planeBytes;
  for (uint32_t r = 0; r < kBaseHeight; r += 2) {
    const uint8_t* group = data.data() + (r / 2) * kGroupBytes;
    std::memcpy(luma + size_t(r) * kBaseWidth, group, 2 * kBaseWidth);
    std::memcpy(chroma1 + size_t(r / 2) * kBaseWidth, group + 2 * kBaseWidth, kBaseWidth / 2);
    std::memcpy(chroma2 + size_t(r / 2) * kBaseWidth, group + 2 * kBaseWidth + kBaseWidth / 2, kBaseWidth / 2);
  }
  EndProgress();

  StartProgress(gesUpsampling);
  Progress(TProgressStage::psRunning, 80, false, ProgressRect, "");
  PCDUpsample(kBaseWidth / 2, kBaseHeight / 2, kBaseWidth, chroma1);
  Progress(TProgressStage::psRunning, 100, false, ProgressRect, "");
  PCDUpsample(kBaseWidth / 2, kBaseHeight / 2, kBaseWidth, chroma2);
  BeginRows();
  TransferRows(luma, chroma1, chroma2);
}

}  // namespace muralo
