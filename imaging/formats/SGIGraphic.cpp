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

// A part of the stream holding channel rows: a row it does not hold moves it to that row, with
// 256 KiB of what follows, so rows stored in order (by row or by channel) are read about once.
class TSGIRowWindow {
 public:
  // The `length` bytes at `offset` from the image's start; a row the stream does not hold is a
  // truncated file.
  const uint8_t* Row(TStream& stream, int64_t base, uint64_t offset, uint32_t length) {
    if (offset < Start || offset + length > Start + Data.size()) {
      const int64_t at = base + static_cast<int64_t>(offset);
      const int64_t left = stream.Size() - at;
      if (left < static_cast<int64_t>(length)) throw EReadError();
      Data.resize(static_cast<size_t>(std::min<int64_t>(left, std::max<int64_t>(length, int64_t{1} << 18))));
      stream.SetPosition(at);
      stream.ReadBuffer(Data.data(), static_cast<int64_t>(Data.size()));
      Start = offset;
    }
    return Data.data() + (offset - Start);
  }

 private:
  std::vector<uint8_t> Data;
  uint64_t Start = 0;
};

// The 512-byte header (Paul Haeberli, "The SGI Image File Format", version 1.00).
struct TSGIHeader {
  uint16_t Magic = 0;
  uint8_t Storage = 0;
  uint8_t BytesPerChannel = 0;
  uint16_t Dimension = 0;
  uint16_t XSize = 0, YSize = 0, ZSize = 0;
};
constexpr int64_t SGIHeaderSize = 512;

TSGIHeader ParseSGIHeader(const uint8_t (&b)[SGIHeaderSize]) {
  TSGIHeader h;
  h.Magic = GetBE16(b);
  h.Storage = b[2];
  h.BytesPerChannel = b[3];
  h.Dimension = GetBE16(b + 4);
  h.XSize = GetBE16(b + 6);
  h.YSize = GetBE16(b + 8);
  h.ZSize = GetBE16(b + 10);
  return h;
}

// The load validator: the magic number, samples of one or two bytes and one to four channels (one
// grey, two grey and alpha read as grey, three RGB, four RGBA); anything else has no layout.
bool IsLoadableSGIHeader(const TSGIHeader& h) {
  return h.Magic == SGIMagic && (h.BytesPerChannel == 1 || h.BytesPerChannel == 2) && h.ZSize >= 1 && h.ZSize <= 4;
}
// The content test: a loadable header whose dimension (1 to 3) is valid too; loading does not need
// the dimension.
bool IsValidSGIHeader(const TSGIHeader& h) { return IsLoadableSGIHeader(h) && h.Dimension >= 1 && h.Dimension <= 3; }

}  // namespace

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
  p.Width = h.XSize;
  p.Height = h.YSize;
  p.SetLayout(h.ZSize == 3   ? csRGB
              : h.ZSize == 4 ? csRGBA
                             : csIndexed,
              static_cast<uint8_t>(h.BytesPerChannel * 8), static_cast<uint8_t>(h.ZSize),
              h.Storage == 1 ? ctRLE : ctNone);
  return true;
}

void TSGIGraphic::LoadImage(TStream& stream) {
  const TImageProperties& p = ImageProperties;
  uint8_t bytes[SGIHeaderSize];
  stream.ReadBuffer(bytes, SGIHeaderSize);
  const TSGIHeader h = ParseSGIHeader(bytes);
  if (!IsLoadableSGIHeader(h)) throw EInvalidGraphic(Format(gesInvalidImage, lblSGI));
  const bool rle = p.Compression == ctRLE;
  // Grey and alpha is read as grey: its alpha plane is passed over.
  const uint8_t channels = p.ColorScheme == csRGB ? 3 : p.ColorScheme == csRGBA ? 4 : 1;
  const TColorScheme target = channels == 3 ? csBGR : channels == 4 ? csBGRA : csIndexed;
  SetupColors({p.ColorScheme, p.BitsPerSample, channels, target, 8, channels, {coNeedByteSwap}});
  // Verbatim channels are stored whole. Run-length images need their two tables and at least one
  // row's terminator (rows may share their data, and a row may stop short of the width).
  const uint64_t entries = uint64_t{p.Height} * h.ZSize;
  SizeFromProperties(stream, rle ? entries * 8 + h.BytesPerChannel : entries * p.Width * h.BytesPerChannel);
  // Run-length images start with the tables of every channel row's offset, then of its length
  // (big-endian), read at once.
  std::vector<uint8_t> tables;
  if (rle) {
    CheckAllocation(entries * 8);
    tables.resize(entries * 8);
    stream.ReadBuffer(tables.data(), static_cast<int64_t>(tables.size()));
  }

  BeginRows();
  if (p.Width == 0 || p.Height == 0) return;  // an empty image: no rows to read
  const size_t rowBytes = CheckedSize(uint64_t{p.Width} * h.BytesPerChannel, lblSGI);
  // Rows are found anywhere in the image (through the tables, or after the channel rows before
  // them); each channel reads its rows through a window of its own.
  TSGIRowWindow windows[4];
  TSGIRLEDecoder decoder(p.BitsPerSample);
  // Row `row` of channel `channel` (red or grey, green, blue, alpha): where it lies in its window,
  // or decoded into `plane`.
  auto channelRow = [&](uint8_t* plane, uint32_t row, uint32_t channel) -> const uint8_t* {
    const size_t index = row + size_t{channel} * p.Height;
    if (!rle) return windows[channel].Row(stream, BasePosition, SGIHeaderSize + index * rowBytes, rowBytes);
    const uint32_t length = GetBE32(&tables[(entries + index) * 4]);
    const uint8_t* source = windows[channel].Row(stream, BasePosition, GetBE32(&tables[index * 4]), length);
    uint8_t* dest = plane;
    decoder.Decode(source, dest, length, rowBytes);
    std::fill(dest, plane + rowBytes, uint8_t{0});  // a row that stops short ends in black
    return plane;
  };
  TPlaneRows planes(4, rowBytes);
  if (channels == 1) SetPalette(ColorManager().CreateGrayscalePalette(false));
  for (uint32_t r = 0; r < p.Height; ++r) {
    uint8_t* row = RowData(static_cast<int>(p.Height - 1 - r));
    if (channels > 1) {
      const void* rows[4] = {};
      for (uint32_t c = 0; c < channels; ++c) rows[c] = channelRow(planes[c], r, c);
      ColorManager().ConvertRow(TPointerArray(rows, channels), row, p.Width, 0xFF);
    } else if (h.BytesPerChannel == 1) {
      if (const uint8_t* grey = channelRow(row, r, 0); grey != row) std::memcpy(row, grey, rowBytes);
    } else {
      // 16-bit grey: reduced to 8 bits as the colour manager reduces 16-bit colour samples, so the
      // row stays inside the 8-bit bitmap row.
      ReduceSamplesTo8(channelRow(planes[0], r, 0), 16, row, p.Width);
    }
    RowProgress(r + 1, p.Height);
  }
}

}  // namespace muralo
