#include "imaging/formats/PSDGraphic.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPSDGraphic, TFrameworkGraphic, &TPSDGraphic::CanLoad)

namespace {

constexpr const char* kLabel = "PSD or PDD";

// Colour modes of the file header (Adobe Photoshop File Formats, "File Header Section").
enum : uint16_t {
  kBitmap = 0,
  kGrayscale = 1,
  kIndexed = 2,
  kRGB = 3,
  kCMYK = 4,
  kMultichannel = 7,
  kDuotone = 8,
  kLab = 9
};
// "Supported range is 1 to 56" channels.
constexpr uint16_t kMaxChannels = 56;
// The colour mode data of an indexed image: 256 red, 256 green, 256 blue bytes.
constexpr uint32_t kPaletteBytes = 768;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

TColorScheme SchemeOfMode(uint16_t mode, uint16_t channels) {
  switch (mode) {
    case kBitmap:
    case kGrayscale:
    case kDuotone:
      return csG;
    case kIndexed:
      return csIndexed;
    case kRGB:
    case kMultichannel:
      return channels == 3 ? csRGB : csRGBA;
    case kCMYK:
      return csCMYK;
    case kLab:
      return csCIELab;
    default:
      return csUnknown;
  }
}

// Planes that make one pixel: grey and indexed images show their first channel only; alpha and
// spot channels past these are skipped.
uint32_t PlanesUsed(TColorScheme scheme) {
  switch (scheme) {
    case csRGB:
    case csCIELab:
      return 3;
    case csRGBA:
    case csCMYK:
      return 4;
    default:
      return 1;
  }
}

// Refuses what the reader cannot show rather than leaving the bitmap's memory undefined.
void ValidateHeader(const TPSDHeader& h, TColorScheme scheme) {
  if (h.Depth == 32) throw EInvalidGraphic(Format(gesUnsupportedFeature, gesPSDSampleDepth, kLabel));
  if (h.Depth != 1 && h.Depth != 8 && h.Depth != 16) throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel));
  if (scheme == csUnknown) throw EInvalidGraphic(Format(gesUnsupportedFeature, gesPSDColorMode, kLabel));
  if (h.Channels == 0 || h.Channels > kMaxChannels) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
  const bool colour = PlanesUsed(scheme) > 1;
  // A multichannel file with two channels, or a colour mode with fewer channels than its
  // components, has no pixel layout; 1-bit samples exist in bitmap mode only.
  if (h.Channels < PlanesUsed(scheme) || (colour && h.Depth == 1))
    throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel));
}

// Bytes of one stored row of one channel.
uint64_t RowBytesOf(const TPSDHeader& h) {
  return h.Depth == 1 ? (uint64_t{h.Width} + 7) / 8 : uint64_t{h.Width} * (h.Depth / 8);
}

void SkipSection(TStream& stream) { stream.Seek(ReadBE32(stream), TSeekOrigin::soCurrent); }

// Reads the image data section into planesUsed planes of height rows of rowBytes bytes. Every
// channel of the section is consumed, so a file shorter than its image data is refused.
std::vector<uint8_t> ReadPlanes(TStream& stream, const TPSDHeader& h, bool packed, uint64_t rowBytes,
                                uint32_t planesUsed) {
  const uint64_t planeBytes = CheckedMul(rowBytes, h.Height, kLabel);
  const uint64_t rest = h.Channels - planesUsed;
  CheckAllocation(CheckedMul(planeBytes, planesUsed, kLabel));
  if (!packed) {
    // Raw data: channel planes one after another, each all its rows.
    if (static_cast<uint64_t>(stream.Size() - stream.Position()) < CheckedMul(planeBytes, h.Channels, kLabel))
      throw EReadError();
    std::vector<uint8_t> planes(planeBytes * planesUsed);
    stream.ReadBuffer(planes.data(), static_cast<int64_t>(planes.size()));
    stream.Seek(static_cast<int64_t>(planeBytes * rest), TSeekOrigin::soCurrent);
    return planes;
  }
  // PackBits: a table of one 16-bit byte count per row of every channel, then the rows. A row of
  // 16-bit samples is counted in bytes like any other, so the data holds exactly the counts' sum.
  const uint64_t rows = uint64_t{h.Height} * h.Channels;
  const std::vector<uint8_t> table = ReadBytes(stream, static_cast<int64_t>(2 * rows));
  uint64_t total = 0;
  for (uint64_t i = 0; i < rows; ++i) total += GetBE16(table.data() + 2 * i);
  const std::vector<uint8_t> data = ReadBytes(stream, static_cast<int64_t>(total));
  std::vector<uint8_t> planes(planeBytes * planesUsed);
  TPackbitsRLEDecoder decoder;
  const uint8_t* source = data.data();
  const int32_t rowRoom = static_cast<int32_t>(std::min<uint64_t>(rowBytes, INT32_MAX));
  for (uint64_t i = 0; i < uint64_t{h.Height} * planesUsed; ++i) {
    const uint16_t count = GetBE16(table.data() + 2 * i);
    const uint8_t* at = source;
    uint8_t* dest = planes.data() + i * rowBytes;
    // Each row decodes alone within its own count and its own row: a damaged row cannot shift the
    // rows after it.
    decoder.Decode(at, dest, count, rowRoom);
    source += count;
  }
  return planes;
}

}  // namespace

TPSDHeader ParsePSDHeader(const uint8_t (&b)[PSDHeaderSize]) {
  TPSDHeader h;
  std::memcpy(h.Signature, b, 4);
  h.Version = GetBE16(b + 4);
  h.Channels = GetBE16(b + 12);
  h.Height = GetBE32(b + 14);
  h.Width = GetBE32(b + 18);
  h.Depth = GetBE16(b + 22);
  h.Mode = GetBE16(b + 24);
  return h;
}

bool TPSDGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[PSDHeaderSize];
  if (!PeekHeader(stream, bytes, PSDHeaderSize, PSDHeaderSize + 1)) return false;
  const TPSDHeader h = ParsePSDHeader(bytes);
  const char upper[4] = {UpperAscii(h.Signature[0]), UpperAscii(h.Signature[1]), UpperAscii(h.Signature[2]),
                         UpperAscii(h.Signature[3])};
  return std::memcmp(upper, "8BPS", 4) == 0 && h.Version == 1;
}

bool TPSDGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[PSDHeaderSize];
  stream.ReadBuffer(bytes, PSDHeaderSize);
  const TPSDHeader h = ParsePSDHeader(bytes);
  // The content test ignores letter case; the reader itself wants the signature as written.
  if (std::memcmp(h.Signature, "8BPS", 4) != 0) return false;
  TImageProperties& p = ImageProperties;
  p.Options = {ioBigEndian};
  if (h.Mode == kBitmap) p.Options.Include(ioMinIsWhite);
  p.BitsPerSample = static_cast<uint8_t>(h.Depth);
  p.Channels = static_cast<uint8_t>(h.Channels);
  p.SamplesPerPixel = static_cast<uint8_t>(std::min<uint16_t>(h.Channels, 4));
  p.BitsPerPixel = static_cast<uint8_t>(p.SamplesPerPixel * p.BitsPerSample);
  p.Width = h.Width;
  p.Height = h.Height;
  p.ColorScheme = SchemeOfMode(h.Mode, h.Channels);
  for (int section = 0; section < 3; ++section) SkipSection(stream);
  p.Compression = ReadBE16(stream) == 1 ? ctPackedBits : ctNone;
  return true;
}

void TPSDGraphic::SetUpColorManager(uint32_t planesUsed) {
  const TImageProperties& p = ImageProperties;
  TColorManager& cm = ColorManager();
  cm.SourceOptions = {coNeedByteSwap};
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(p.BitsPerSample == 16 ? 8 : p.BitsPerSample);
  // The manager is given the planes that make a pixel: grey and indexed rows carry one sample
  // even where an alpha channel follows, Lab rows three.
  cm.SetSourceSamplesPerPixel(static_cast<uint8_t>(planesUsed));
  cm.SetTargetSamplesPerPixel(static_cast<uint8_t>(planesUsed));
  cm.SetSourceColorScheme(p.ColorScheme);
  switch (p.ColorScheme) {
    case csRGB:
      cm.SetTargetColorScheme(csBGR);
      break;
    case csRGBA:
      cm.SetTargetColorScheme(csBGRA);
      break;
    case csCMYK:
      cm.SetTargetColorScheme(csBGR);
      cm.SetTargetSamplesPerPixel(3);
      break;
    case csCIELab:
      cm.SetTargetColorScheme(csBGR);
      cm.SourceOptions.Include(coLabByteRange).Include(coLabChromaOffset);
      break;
    default:
      cm.SetTargetColorScheme(p.ColorScheme);
      break;
  }
}

void TPSDGraphic::ReadColorModeData(TStream& stream) {
  const uint32_t length = ReadBE32(stream);
  if (ImageProperties.ColorScheme == csIndexed) {
    // The palette keeps at most 256 entries; a longer section is still consumed whole.
    const std::vector<uint8_t> data = ReadBytes(stream, std::min(length, kPaletteBytes));
    stream.Seek(length - static_cast<int64_t>(data.size()), TSeekOrigin::soCurrent);
    const uint32_t count = static_cast<uint32_t>(data.size() / 3);
    if (count > 0)
      SetPalette(ColorManager().CreateColorPalette({data.data(), data.data() + count, data.data() + 2 * count},
                                                   pfPlane8Triple, count, false));
    return;
  }
  if (ImageProperties.ColorScheme == csG)
    SetPalette(ColorManager().CreateGrayscalePalette(ImageProperties.Options.Has(ioMinIsWhite)));
  stream.Seek(length, TSeekOrigin::soCurrent);
}

void TPSDGraphic::TransferRows(uint8_t* planes, uint64_t rowBytes, uint32_t planesUsed) {
  const TImageProperties& p = ImageProperties;
  const uint64_t planeBytes = rowBytes * p.Height;
  if (p.ColorScheme == csCMYK) {
    // Photoshop stores CMYK inverted: 0 is full ink.
    for (uint64_t i = 0; i < 4 * planeBytes; ++i) planes[i] = static_cast<uint8_t>(255 - planes[i]);
  }
  if (p.Width == 0) return;
  // 1- and 8-bit grey and indexed rows are already in the bitmap's layout.
  const bool direct = planesUsed == 1 && p.BitsPerSample != 16;
  for (uint32_t r = 0; r < p.Height; ++r) {
    const uint8_t* row = planes + r * rowBytes;
    if (direct) {
      std::memcpy(RowData(static_cast<int>(r)), row, rowBytes);
    } else {
      const void* sources[4] = {row, row + planeBytes, row + 2 * planeBytes, row + 3 * planeBytes};
      ColorManager().ConvertRow(TPointerArray(sources, planesUsed), RowData(static_cast<int>(r)), p.Width, 0xFF);
    }
    RowProgress(r + 1, p.Height);
  }
}

const char* TPSDGraphic::RefusedHeaderLabel() const { return kLabel; }

// The skeleton has read the header (a refused one is gesInvalidImage with the label), put the stream
// back at BasePosition and started the preparing stage.
void TPSDGraphic::LoadImage(TStream& stream) {
  uint8_t bytes[PSDHeaderSize];
  stream.ReadBuffer(bytes, PSDHeaderSize);
  const TPSDHeader h = ParsePSDHeader(bytes);
  ValidateHeader(h, ImageProperties.ColorScheme);
  const uint32_t planesUsed = PlanesUsed(ImageProperties.ColorScheme);
  SetUpColorManager(planesUsed);
  SetPixelFormat(ColorManager().GetPixelFormat(1));
  SizeFromProperties();

  ReadColorModeData(stream);
  SkipSection(stream);  // image resources
  SkipSection(stream);  // layer and mask information
  const uint16_t compression = ReadBE16(stream);
  // Compression 2 and 3 (ZIP with and without prediction) appear in layers, not in the composite
  // image of a PSD file.
  if (compression > 1) throw EInvalidGraphic(Format(gesUnsupportedFeature, gesCompressionScheme, kLabel));
  Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");

  StartProgress(gesLoadingData);
  const uint64_t rowBytes = RowBytesOf(h);
  std::vector<uint8_t> planes = ReadPlanes(stream, h, compression == 1, rowBytes, planesUsed);
  Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");

  StartProgress(gesTransfering);
  TransferRows(planes.data(), rowBytes, planesUsed);
}

}  // namespace muralo
