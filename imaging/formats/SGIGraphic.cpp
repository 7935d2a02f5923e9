#include "imaging/formats/SGIGraphic.h"

#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TFrameworkGraphic, &TSGIGraphic::CanLoad)

namespace {

constexpr const char* kLabel = "sgi, bw or rgb(a)";


}  // namespace

TSGIHeader ParseSGIHeader(const uint8_t (&b)[SGIHeaderSize]) {
  TSGIHeader h;
  h.Magic = GetBE16(b);
  h.Storage = b[2];
  h.BytesPerChannel = b[3];
  h.Dimension = GetBE16(b + 4);
  h.XSize = GetBE16(b + 6);
  h.YSize = GetBE16(b + 8);
  h.ZSize = GetBE16(b + 10);
  h.ColorMap = GetBE32(b + 104);
  return h;
}

bool IsValidSGIHeader(const TSGIHeader& h) {
  return h.Magic == SGIMagic && (h.BytesPerChannel == 1 || h.BytesPerChannel == 2) && h.Dimension >= 1 &&
         h.Dimension <= 3;
}

TSGIGraphic::TSGIGraphic() = default;
TSGIGraphic::~TSGIGraphic() = default;

bool TSGIGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[SGIHeaderSize];
  if (!PeekHeader(stream, bytes, SGIHeaderSize, SGIHeaderSize + 1)) return false;
  return IsValidSGIHeader(ParseSGIHeader(bytes));
}

bool TSGIGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[SGIHeaderSize];
  stream.ReadBuffer(bytes, SGIHeaderSize);
  const TSGIHeader h = ParseSGIHeader(bytes);
  if (h.Magic != SGIMagic) return false;
  TImageProperties& p = ImageProperties;
  p.Options = {ioBigEndian};
  p.BitsPerSample = static_cast<uint8_t>(h.BytesPerChannel * 8);
  p.Width = h.XSize;
  p.Height = h.YSize;
  p.SamplesPerPixel = static_cast<uint8_t>(h.ZSize);
  p.ColorScheme = h.ZSize == 3 ? csRGB : h.ZSize == 4 ? csRGBA : csIndexed;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  p.Compression = h.Storage == 1 ? ctRLE : ctNone;
  return true;
}

void TSGIGraphic::ReadChannelRow(uint8_t* target, uint32_t row, uint32_t channel, uint32_t bytesPerSample) {
  const uint64_t index = row + uint64_t{channel} * ImageProperties.Height;
  const uint64_t rowBytes = uint64_t{ImageProperties.Width} * bytesPerSample;
  if (RowDecoder) {
    if (index >= RowOffsets.size()) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
    // The length table counts bytes; a row whose data the stream does not hold is a truncated file.
    const int64_t length = RowLengths[index];
    CheckAllocation(static_cast<uint64_t>(length));
    Stream->SetPosition(BasePosition + RowOffsets[index]);
    const std::vector<uint8_t> packed = ReadBytes(*Stream, length);
    const uint8_t* source = packed.data();
    uint8_t* dest = target;
    RowDecoder->Decode(source, dest, static_cast<int32_t>(packed.size()), static_cast<int32_t>(rowBytes));
  } else {
    const uint64_t offset = CheckedMul(index, rowBytes, kLabel);
    Stream->SetPosition(BasePosition + SGIHeaderSize + static_cast<int64_t>(offset));
    Stream->ReadBuffer(target, static_cast<int64_t>(rowBytes));
  }
}

void TSGIGraphic::ReadAndDecode(uint8_t* red, uint8_t* green, uint8_t* blue, uint8_t* alpha, uint32_t row,
                                uint32_t bytesPerSample) {
  uint8_t* targets[4] = {red, green, blue, alpha};
  for (uint32_t c = 0; c < 4; ++c)
    if (targets[c]) ReadChannelRow(targets[c], row, c, bytesPerSample);
}

void TSGIGraphic::LoadFromStream(TStream& stream) {
  ReleaseImage();
  Stream = &stream;
  BasePosition = stream.Position();
  RowDecoder.reset();
  if (!ReadImageProperties(stream, 0)) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
  const TImageProperties& p = ImageProperties;

  InitProgress(p.Width);
  TProgressScope finish([this] {
    EndProgress();
    RowDecoder.reset();
    Stream = nullptr;
  });
  StartProgress(gesPreparing);
  stream.SetPosition(BasePosition);
  uint8_t bytes[SGIHeaderSize];
  stream.ReadBuffer(bytes, SGIHeaderSize);
  const TSGIHeader h = ParseSGIHeader(bytes);
  // Samples of one or two bytes; one (grey), two (grey and alpha, read as grey), three or four
  // channels. Anything else has no layout.
  if ((h.BytesPerChannel != 1 && h.BytesPerChannel != 2) || h.ZSize == 0 || h.ZSize > 4)
    throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
  const uint32_t bytesPerSample = h.BytesPerChannel;
  const TColorScheme scheme = p.ColorScheme;

  TColorManager& cm = ColorManager();
  cm.SourceOptions = {coNeedByteSwap};
  if (p.Compression == ctRLE) {
    const uint64_t entries = CheckedMul(p.Height, h.ZSize, kLabel);
    CheckAllocation(entries * 8);
    RowOffsets.assign(entries, 0);
    RowLengths.assign(entries, 0);
    for (auto& v : RowOffsets) v = ReadBE32(stream);
    for (auto& v : RowLengths) v = ReadBE32(stream);
    RowDecoder = std::make_unique<TSGIRLEDecoder>(p.BitsPerSample);
  }
  const uint8_t spp = scheme == csIndexed ? 1 : p.SamplesPerPixel;
  cm.SetSourceBitsPerSample(p.BitsPerSample);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceSamplesPerPixel(spp);
  cm.SetTargetSamplesPerPixel(spp);
  cm.SetSourceColorScheme(scheme);
  cm.SetTargetColorScheme(scheme == csRGB ? csBGR : scheme == csRGBA ? csBGRA : csIndexed);
  SetPixelFormat(cm.GetPixelFormat(1));
  SizeFromProperties();

  Progress(TProgressStage::psEnding, 100, false, ProgressRect, "");
  StartProgress(gesTransfering);
  const uint64_t channelBytes = uint64_t{p.Width} * bytesPerSample;
  std::vector<uint8_t> channels(channelBytes * 4);
  uint8_t* plane[4] = {channels.data(), channels.data() + channelBytes, channels.data() + 2 * channelBytes,
                       channels.data() + 3 * channelBytes};
  if (scheme != csRGB && scheme != csRGBA) SetPalette(cm.CreateGrayscalePalette(false));
  for (uint32_t r = 0; r < p.Height; ++r) {
    uint8_t* target = RowData(static_cast<int>(p.Height - 1 - r));
    if (scheme == csRGB) {
      ReadAndDecode(plane[0], plane[1], plane[2], nullptr, r, bytesPerSample);
      cm.ConvertRow({plane[0], plane[1], plane[2]}, target, p.Width, 0xFF);
    } else if (scheme == csRGBA) {
      ReadAndDecode(plane[0], plane[1], plane[2], plane[3], r, bytesPerSample);
      cm.ConvertRow({plane[0], plane[1], plane[2], plane[3]}, target, p.Width, 0xFF);
    } else if (bytesPerSample == 1) {
      ReadAndDecode(target, nullptr, nullptr, nullptr, r, bytesPerSample);
    } else {
      // 16-bit grey: the big-endian samples are reduced to 8 bits as the colour manager reduces
      // 16-bit colour samples (value × 255 div 65535), so the row stays inside the 8-bit bitmap row.
      ReadAndDecode(plane[0], nullptr, nullptr, nullptr, r, bytesPerSample);
      for (uint32_t x = 0; x < p.Width; ++x) {
        const uint32_t v = (uint32_t{plane[0][2 * x]} << 8) | plane[0][2 * x + 1];
        target[x] = static_cast<uint8_t>(v * 255 / 65535);
      }
    }
    RowProgress(r + 1, p.Height);
  }
  Modified();
}

}  // namespace muralo
