#include "imaging/formats/SGIGraphic.h"

#include <algorithm>
#include <cstring>
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

namespace {

// A part of the stream holding run-length rows: a row it does not hold moves it to that row, with
// 64 KiB of what follows, so rows stored in order (by row or by channel) are read about once.
class TSGIRowWindow {
 public:
  // The `length` bytes at `offset` from the image's start; a row the stream does not hold is a
  // truncated file.
  const uint8_t* Row(TStream& stream, int64_t base, uint64_t offset, uint32_t length) {
    if (offset < Start || offset + length > Start + Data.size()) {
      const int64_t at = base + static_cast<int64_t>(offset);
      const int64_t left = stream.Size() - at;
      if (left < static_cast<int64_t>(length)) throw EReadError();
      const auto n = static_cast<size_t>(std::min<int64_t>(left, std::max<int64_t>(length, int64_t{1} << 16)));
      Data.resize(n);
      stream.SetPosition(at);
      stream.ReadBuffer(Data.data(), static_cast<int64_t>(n));
      Start = offset;
    }
    return Data.data() + (offset - Start);
  }

 private:
  std::vector<uint8_t> Data;
  uint64_t Start = 0;
};

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
  if (p.Width == 0 || p.Height == 0) return;  // an empty image: no rows to read
  const size_t rowBytes = CheckedSize(uint64_t{p.Width} * bytesPerSample, lblSGI);
  const uint32_t channels = scheme == csRGB ? 3 : scheme == csRGBA ? 4 : 1;

  // Run-length rows are found through the tables anywhere in the image; each channel reads its
  // rows through a window of its own.
  TSGIRowWindow windows[4];
  TSGIRLEDecoder decoder(p.BitsPerSample);
  // Verbatim channels are read a block of rows at a time, each channel from its own place.
  const uint32_t blockRows = static_cast<uint32_t>(
      std::clamp<uint64_t>((uint64_t{1} << 18) / std::max<size_t>(rowBytes, 1), 1, std::max<uint32_t>(p.Height, 1)));
  TPlaneRows blocks(rle ? 0 : channels, rle ? 0 : rowBytes * blockRows);
  auto readBlocks = [&](uint32_t row) {
    const uint32_t rows = std::min(blockRows, p.Height - row);
    for (uint32_t c = 0; c < channels; ++c) {
      const uint64_t index = row + uint64_t{c} * p.Height;
      stream.SetPosition(BasePosition + SGIHeaderSize + static_cast<int64_t>(CheckedMul(index, rowBytes, lblSGI)));
      stream.ReadBuffer(blocks[c], static_cast<int64_t>(rows * rowBytes));
    }
  };
  // Row `row` of channel `channel` (red or grey, green, blue, alpha): decoded into target, or
  // where it lies in its block.
  auto channelRow = [&](uint8_t* target, uint32_t row, uint32_t channel) -> const uint8_t* {
    if (!rle) return blocks[channel] + (row % blockRows) * rowBytes;
    const size_t index = row + size_t{channel} * p.Height;
    const uint8_t* source = windows[channel].Row(stream, BasePosition, offsets[index], lengths[index]);
    uint8_t* dest = target;
    decoder.Decode(source, dest, lengths[index], rowBytes);
    return target;
  };
  TPlaneRows planes(4, rowBytes);
  if (scheme != csRGB && scheme != csRGBA) SetPalette(ColorManager().CreateGrayscalePalette(false));
  for (uint32_t r = 0; r < p.Height; ++r) {
    if (!rle && r % blockRows == 0) readBlocks(r);
    uint8_t* target = RowData(static_cast<int>(p.Height - 1 - r));
    if (channels > 1) {
      const void* rows[4] = {};
      for (uint32_t c = 0; c < channels; ++c) rows[c] = channelRow(planes[c], r, c);
      ColorManager().ConvertRow(TPointerArray(rows, channels), target, p.Width, 0xFF);
    } else if (bytesPerSample == 1) {
      const uint8_t* row = channelRow(target, r, 0);
      if (row != target) std::memcpy(target, row, rowBytes);
    } else {
      // 16-bit grey: reduced to 8 bits as the colour manager reduces 16-bit colour samples, so the
      // row stays inside the 8-bit bitmap row.
      ReduceSamplesTo8(channelRow(planes[0], r, 0), 16, target, p.Width);
    }
    RowProgress(r + 1, p.Height);
  }
}

}  // namespace muralo
