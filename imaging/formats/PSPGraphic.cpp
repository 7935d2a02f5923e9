#include "imaging/formats/PSPGraphic.h"

#include <algorithm>
#include <cstring>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPSPGraphic, TFrameworkGraphic, &TPSPGraphic::CanLoad)

namespace {

constexpr const char* kLabel = "PSP";
constexpr char kSignature[] = "Paint Shop Pro Image File";
constexpr size_t kSignatureLength = sizeof kSignature - 1;
// Block ids (Paint Shop Pro File Format document, "PSPBlockID").
enum : uint16_t { kImageBlock = 0, kColorBlock = 2, kLayerStartBlock = 3, kLayerBlock = 4 };
// General image attributes after the chunk size of version 4 and later.
constexpr int64_t kAttributesBytes = 42;
constexpr int64_t kLayerNameBytes = 256;  // version 3
constexpr int64_t kLayerInfoBytes = 115;
constexpr uint32_t kMaxPaletteEntries = 256;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

struct THeader {
  bool Signed = false;
  uint16_t Major = 0;
};

THeader ParseHeader(const uint8_t* b) {
  THeader h;
  h.Signed = true;
  for (size_t i = 0; i < kSignatureLength; ++i)
    if (LowerAscii(static_cast<char>(b[i])) != LowerAscii(kSignature[i])) h.Signed = false;
  h.Major = GetLE16(b + 32);
  return h;
}

bool IsValidHeader(const THeader& h) { return h.Signed && h.Major >= 3; }

struct TAttributes {
  uint32_t Width = 0, Height = 0;
  double Resolution = 0;
  uint8_t Metric = 0;
  uint16_t Compression = 0;
  uint16_t BitDepth = 0;
  bool Grey = false;
};

// Only version 3 block headers carry the initial data length.
TPSPGraphic::TBlock ReadBlockHeader(TStream& stream, uint16_t major) {
  TPSPGraphic::TBlock b;
  uint8_t identifier[4];
  stream.ReadBuffer(identifier, 4);
  b.Identifier = identifier[0];
  b.Id = ReadLE16(stream);
  if (major == 3) (void)ReadLE32(stream);
  const uint32_t length = ReadLE32(stream);
  b.Start = stream.Position();
  b.End = b.Start + length;
  return b;
}

TAttributes ReadAttributes(TStream& stream, uint16_t major) {
  if (major >= 4) (void)ReadLE32(stream);  // chunk size
  uint8_t b[kAttributesBytes];
  stream.ReadBuffer(b, kAttributesBytes);
  TAttributes a;
  a.Width = GetLE32(b);
  a.Height = GetLE32(b + 4);
  uint64_t bits = uint64_t{GetLE32(b + 8)} | uint64_t{GetLE32(b + 12)} << 32;
  std::memcpy(&a.Resolution, &bits, sizeof a.Resolution);
  a.Metric = b[16];
  a.Compression = GetLE16(b + 17);
  a.BitDepth = GetLE16(b + 19);
  a.Grey = b[27] != 0;
  return a;
}

// Reads the file header and the first block; answers false for a wrong signature or version.
bool ReadHead(TStream& stream, THeader& h, TAttributes& a) {
  uint8_t bytes[PSPHeaderSize];
  stream.ReadBuffer(bytes, PSPHeaderSize);
  h = ParseHeader(bytes);
  if (!IsValidHeader(h)) return false;
  const TPSPGraphic::TBlock first = ReadBlockHeader(stream, h.Major);
  a = ReadAttributes(stream, h.Major);
  stream.SetPosition(first.End);
  return true;
}

TCompressionType CompressionOf(uint16_t code) {
  switch (code) {
    case 0:
      return ctNone;
    case 1:
      return ctRLE;
    case 2:
      return ctLZ77;
    case 3:
      return ctJPEG;
    default:
      return ctUnknown;
  }
}

}  // namespace

bool TPSPGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[PSPHeaderSize];
  if (!PeekHeader(stream, bytes, PSPHeaderSize, PSPHeaderSize + 1)) return false;
  return IsValidHeader(ParseHeader(bytes));
}

bool TPSPGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  THeader h;
  TAttributes a;
  if (!ReadHead(stream, h, a)) return false;
  TImageProperties& p = ImageProperties;
  p.Version = h.Major;
  if (a.BitDepth == 24)
    p.SetLayout(csRGB, 8, 3, CompressionOf(a.Compression));
  else
    p.SetLayout(a.Grey ? csG : csIndexed, static_cast<uint8_t>(a.BitDepth), 1, CompressionOf(a.Compression));
  p.Width = a.Width;
  p.Height = a.Height;
  p.XResolution = static_cast<float>(a.Metric == 2 ? a.Resolution / 2.54 : a.Resolution);
  p.YResolution = p.XResolution;
  return true;
}

void TPSPGraphic::ReadPalette(TStream& stream) {
  if (ImageProperties.Version >= 4) (void)ReadLE32(stream);  // chunk size
  // The palette holds 256 entries at most; the block end is where the next block starts anyway.
  const uint32_t count = std::min(ReadLE32(stream), kMaxPaletteEntries);
  const std::vector<uint8_t> entries = ReadBytes(stream, int64_t{count} * 4);
  if (count > 0) SetPalette(ColorManager().CreateColorPalette(entries.data(), pfInterlaced8Quad, count, true));
}

void TPSPGraphic::ReadChannel(TStream& stream, TChannel (&channels)[3], uint64_t planeBytes) {
  const uint16_t major = static_cast<uint16_t>(ImageProperties.Version);
  const TBlock block = ReadBlockHeader(stream, major);
  if (major >= 4) (void)ReadLE32(stream);  // chunk size
  const uint32_t packed = ReadLE32(stream);
  const uint32_t unpacked = ReadLE32(stream);
  (void)ReadLE16(stream);  // bitmap type
  const uint16_t type = ReadLE16(stream);
  // Channels of other types (masks, alpha) are skipped whole: the next block starts after them.
  if (type <= 3) {
    // Each buffer is the size the rows need, whatever the file declares: data past it is not
    // needed, and rows a channel lacks stay black rather than undefined. A later channel of the
    // same type writes over an earlier one; what the earlier one wrote past the later one's size
    // is cleared, so that the work stays in proportion to the data.
    TChannel& channel = channels[type == 0 ? 0 : type - 1];
    if (channel.Data.empty()) channel.Data.assign(planeBytes, 0);
    const size_t room = static_cast<size_t>(std::min<uint64_t>({planeBytes, unpacked, INT32_MAX}));
    if (room < channel.Used)
      std::fill(channel.Data.begin() + std::ptrdiff_t(room), channel.Data.begin() + std::ptrdiff_t(channel.Used), 0);
    channel.Used = room;
    const TCompressionType compression = ImageProperties.Compression;
    if (compression == ctNone) {
      if (room > 0) stream.ReadBuffer(channel.Data.data(), static_cast<int64_t>(room));
    } else if (compression == ctRLE || compression == ctLZ77) {
      const std::vector<uint8_t> data = ReadBytes(stream, packed);
      const uint8_t* source = data.data();
      uint8_t* dest = channel.Data.data();
      const int32_t size = static_cast<int32_t>(std::min<uint64_t>(data.size(), INT32_MAX));
      if (compression == ctRLE) {
        TPSPRLEDecoder decoder;
        decoder.Decode(source, dest, size, static_cast<int32_t>(room));
      } else {
        TLZ77Decoder decoder(Z_FINISH, false);
        decoder.DecodeInit();
        decoder.Decode(source, dest, size, static_cast<int32_t>(room));
        decoder.DecodeEnd();
      }
    } else if (compression == ctJPEG) {
      throw EInvalidGraphic(Format(gesUnsupportedFeature, gesPSPJPEGChannels, kLabel));
    } else {
      throw EInvalidGraphic(Format(gesUnsupportedFeature, gesCompressionScheme, kLabel));
    }
  }
  // A block shorter than the fields read from it does not send the reader back over them.
  stream.SetPosition(std::max(block.End, stream.Position()));
}

bool TPSPGraphic::ReadLayers(TStream& stream, const TBlock& layerStart, uint32_t lineSize) {
  const uint16_t major = static_cast<uint16_t>(ImageProperties.Version);
  const int64_t headerSize = major == 3 ? 14 : 10;
  const uint64_t planeBytes = CheckedMul(lineSize, ImageProperties.Height, kLabel);
  CheckAllocation(CheckedMul(planeBytes, 3, kLabel));
  while (stream.Position() + headerSize <= layerStart.End) {
    const TBlock layer = ReadBlockHeader(stream, major);
    if (layer.Id != kLayerBlock) return false;
    StartProgress(gesLoadingData);
    uint8_t layerType = 0;
    int64_t bitmapChunkStart = 0;
    uint32_t bitmapChunkSize = 0;
    if (major == 3) {
      stream.Seek(kLayerNameBytes, TSeekOrigin::soCurrent);
      layerType = ReadBytes(stream, kLayerInfoBytes)[0];
    } else {
      const int64_t chunkStart = stream.Position();
      const uint32_t chunkSize = ReadLE32(stream);
      stream.Seek(ReadLE16(stream), TSeekOrigin::soCurrent);  // layer name
      layerType = ReadBytes(stream, kLayerInfoBytes)[0];
      stream.SetPosition(chunkStart + chunkSize);
      bitmapChunkStart = stream.Position();
      bitmapChunkSize = ReadLE32(stream);
    }
    // Version 3 calls a raster layer type 0; later versions 0 (undefined) or 1 (raster).
    const bool raster = major == 3 ? layerType == 0 : layerType < 2;
    if (!raster) {
      Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");
      stream.SetPosition(layer.End);
      continue;
    }
    (void)ReadLE16(stream);  // bitmap count
    const uint16_t channelCount = ReadLE16(stream);
    if (major >= 4) stream.SetPosition(bitmapChunkStart + bitmapChunkSize);
    TChannel channels[3];
    for (uint16_t c = 0; c < channelCount; ++c) ReadChannel(stream, channels, planeBytes);
    Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");

    StartProgress(gesTransfering);
    // A channel the layer lacks reads as zeros.
    for (auto& channel : channels)
      if (channel.Data.empty()) channel.Data.assign(planeBytes, 0);
    const bool colour = ImageProperties.ColorScheme == csRGB;
    // An image without columns has no rows to convert, however many it declares.
    const uint32_t rows = ImageProperties.Width == 0 ? 0 : ImageProperties.Height;
    for (uint32_t r = 0; r < rows; ++r) {
      const size_t at = size_t(r) * lineSize;
      void* target = RowData(static_cast<int>(r));
      if (colour)
        ColorManager().ConvertRow(
            {channels[0].Data.data() + at, channels[1].Data.data() + at, channels[2].Data.data() + at}, target,
            ImageProperties.Width, 0xFF);
      else
        ColorManager().ConvertRow(channels[0].Data.data() + at, target, ImageProperties.Width, 0xFF);
      RowProgress(r + 1, ImageProperties.Height);
    }
    Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");
    return true;
  }
  return false;
}

const char* TPSPGraphic::RefusedHeaderLabel() const { return kLabel; }

// The skeleton has read the header (a refused one is gesInvalidImage with the label), put the stream
// back at BasePosition and started the preparing stage.
void TPSPGraphic::LoadImage(TStream& stream) {
  THeader h;
  TAttributes a;
  (void)ReadHead(stream, h, a);  // as ReadImageProperties found it

  if (a.BitDepth != 1 && a.BitDepth != 4 && a.BitDepth != 8 && a.BitDepth != 24)
    throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel));
  uint32_t lineSize = 0;
  switch (ImageProperties.BitsPerSample) {
    case 1:
      lineSize = (a.Width + 7) / 8;
      break;
    case 4:
      lineSize = a.Width / 2 + 1;
      break;
    case 8:
      lineSize = a.Width;
      break;
    default:
      throw EInvalidGraphic(Format(gesInvalidColorFormat, kLabel));
  }

  TColorManager& cm = ColorManager();
  cm.SourceOptions = {};
  cm.SetSourceBitsPerSample(ImageProperties.BitsPerSample);
  cm.SetTargetBitsPerSample(ImageProperties.BitsPerSample);
  cm.SetSourceSamplesPerPixel(ImageProperties.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(ImageProperties.SamplesPerPixel);
  cm.SetSourceColorScheme(ImageProperties.ColorScheme);
  cm.SetTargetColorScheme(ImageProperties.ColorScheme == csRGB ? csBGR : ImageProperties.ColorScheme);
  SetPixelFormat(cm.GetPixelFormat(1));
  // A grey image is shown through a grey ramp; a palette block, if any, replaces it.
  if (ImageProperties.ColorScheme == csG) SetPalette(cm.CreateGrayscalePalette(false));
  SizeFromProperties();
  Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");

  bool shown = false;
  while (stream.Position() < stream.Size()) {
    const TBlock block = ReadBlockHeader(stream, h.Major);
    if (block.Identifier != '~') break;
    if (block.Id == kColorBlock) {
      ReadPalette(stream);
    } else if (block.Id == kLayerStartBlock && !shown) {
      shown = ReadLayers(stream, block, lineSize);
    }
    stream.SetPosition(block.End);
  }
  // Without a raster layer there is no picture to show.
  if (!shown) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
}

}  // namespace muralo
