#include "imaging/formats/SGIGraphic.h"

#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/RunLengthDecoders.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TSGIGraphic, TFrameworkGraphic, &TSGIGraphic::CanLoad)

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

bool IsLoadableSGIHeader(const TSGIHeader& h) {
  return h.Magic == SGIMagic && (h.BytesPerChannel == 1 || h.BytesPerChannel == 2) && h.ZSize >= 1 && h.ZSize <= 4;
}

bool IsValidSGIHeader(const TSGIHeader& h) { return IsLoadableSGIHeader(h) && h.Dimension >= 1 && h.Dimension <= 3; }

const char* TSGIGraphic::RefusedHeaderLabel() const { return lblSGI; }

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

void TSGIGraphic::LoadImage(TStream& stream) {
  const TImageProperties& p = ImageProperties;
  uint8_t bytes[SGIHeaderSize];
  stream.ReadBuffer(bytes, SGIHeaderSize);
  const TSGIHeader h = ParseSGIHeader(bytes);
  if (!IsLoadableSGIHeader(h)) throw EInvalidGraphic(Format(gesInvalidImage, lblSGI));
  const uint32_t bytesPerSample = h.BytesPerChannel;
  const TColorScheme scheme = p.ColorScheme;

  const bool rle = p.Compression == ctRLE;
  const uint8_t spp = scheme == csIndexed ? 1 : p.SamplesPerPixel;
  const TColorScheme targetScheme = scheme == csRGB ? csBGR : scheme == csRGBA ? csBGRA : csIndexed;
  SetupColors({scheme, p.BitsPerSample, spp, targetScheme, 8, spp, {coNeedByteSwap}});
  // Verbatim channels are stored whole. Run-length images need their two tables and at least one
  // row's terminator (rows may share their data, and a row may stop short of the width).
  const uint64_t entries = uint64_t{p.Height} * h.ZSize;
  SizeFromProperties(stream, rle ? entries * 8 + bytesPerSample : entries * p.Width * bytesPerSample);

  // Run-length images start with the tables of every channel row's offset and length (big-endian).
  TCardinalArray offsets, lengths;
  if (rle) {
    CheckAllocation(entries * 8);
    offsets.resize(entries);
    lengths.resize(entries);
    for (auto& v : offsets) v = ReadBE32(stream);
    for (auto& v : lengths) v = ReadBE32(stream);
  }

  BeginRows();
  const uint64_t rowBytes = uint64_t{p.Width} * bytesPerSample;
  TSGIRLEDecoder decoder(p.BitsPerSample);
  // Row `row` of channel `channel` (red or grey, green, blue, alpha) into target.
  auto readChannelRow = [&](uint8_t* target, uint32_t row, uint32_t channel) {
    const uint64_t index = row + uint64_t{channel} * p.Height;
    if (rle) {
      if (index >= offsets.size()) throw EInvalidGraphic(Format(gesInvalidImage, lblSGI));
      // The length table counts bytes; a row whose data the stream does not hold is a truncated file.
      CheckAllocation(lengths[index]);
      stream.SetPosition(BasePosition + offsets[index]);
      const std::vector<uint8_t> packed = ReadBytes(stream, lengths[index]);
      const uint8_t* source = packed.data();
      uint8_t* dest = target;
      decoder.Decode(source, dest, packed.size(), rowBytes);
    } else {
      const uint64_t offset = CheckedMul(index, rowBytes, lblSGI);
      stream.SetPosition(BasePosition + SGIHeaderSize + static_cast<int64_t>(offset));
      stream.ReadBuffer(target, static_cast<int64_t>(rowBytes));
    }
  };
  const uint32_t channels = scheme == csRGB ? 3 : scheme == csRGBA ? 4 : 1;
  TPlaneRows planes(4, rowBytes);
  if (scheme != csRGB && scheme != csRGBA) SetPalette(ColorManager().CreateGrayscalePalette(false));
  for (uint32_t r = 0; r < p.Height; ++r) {
    uint8_t* target = RowData(static_cast<int>(p.Height - 1 - r));
    if (channels > 1) {
      for (uint32_t c = 0; c < channels; ++c) readChannelRow(planes[c], r, c);
      ColorManager().ConvertRow(planes.Pointers(channels), target, p.Width, 0xFF);
    } else if (bytesPerSample == 1) {
      readChannelRow(target, r, 0);
    } else {
      // 16-bit grey: reduced to 8 bits as the colour manager reduces 16-bit colour samples, so the
      // row stays inside the 8-bit bitmap row.
      readChannelRow(planes[0], r, 0);
      ReduceSamplesTo8(planes[0], 16, target, p.Width);
    }
    RowProgress(r + 1, p.Height);
  }
}

}  // namespace muralo
