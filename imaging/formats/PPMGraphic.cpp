#include "imaging/formats/PPMGraphic.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TPPMGraphic, TFrameworkGraphic, &TPPMGraphic::CanLoad)

namespace {

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// The longest comment or run of separators taken between two numbers: a map is text only in its
// header and plain rows, so a file that goes on past this without a digit (a link to an endless
// device, garbage) is refused instead of being read forever.
constexpr uint32_t kMaxSeparatorRun = 4096;
// Netpbm's PNM_OVERALLMAXVAL: raw samples are one byte up to 255, two bytes up to 65535.
constexpr uint32_t kMaxMaximum = 65535;

[[noreturn]] void InvalidHeader() { throw EInvalidGraphic(Format(gesInvalidImage, lblPortableMap)); }

// The character reader over the stream. Index == Count means the buffer is used up; only the Count
// bytes of the last refill are ever handed out.
class TCharReader {
 public:
  explicit TCharReader(TStream& stream) : Stream(stream) {}

  // The next unread byte without consuming it; 0 when no byte is left.
  uint8_t Current() { return AtEnd() ? 0 : Buffer[Index]; }
  bool AtEnd() { return Index >= Count && !Refill(); }
  // The next byte, consumed; raises gesStreamReadError ("PPM") when the stream has no more.
  uint8_t Get() {
    if (AtEnd()) throw EInvalidGraphic(Format(gesStreamReadError, lblPPM));
    return Buffer[Index++];
  }
  // Copies count bytes, consumed, into target (raw rows); what the buffer lacks comes straight
  // from the stream.
  void GetChars(uint8_t* target, size_t count) {
    const size_t buffered = std::min<size_t>(count, Count - Index);
    std::memcpy(target, Buffer + Index, buffered);
    Index += buffered;
    if (count == buffered) return;
    if (Stream.Read(target + buffered, static_cast<int64_t>(count - buffered)) !=
        static_cast<int64_t>(count - buffered))
      throw EInvalidGraphic(Format(gesStreamReadError, lblPPM));
  }
  // Bytes read from the stream ahead of what was consumed.
  uint32_t Buffered() const { return Count - Index; }

  // Skips separators (white space and, tolerated, any other non-digit) and '#' comments up to
  // the next digit, which is left unread. A separator run or comment past kMaxSeparatorRun
  // characters, or the end of the data, makes a header invalid.
  void SkipToDigit() {
    uint32_t run = 0;
    for (uint8_t c = Current(); !IsDigit(c); c = Current()) {
      if (AtEnd()) throw EInvalidGraphic(Format(gesStreamReadError, lblPPM));
      ++Index;
      if (++run > kMaxSeparatorRun) InvalidHeader();
      if (c == '#') {
        // A comment runs to the end of its line (Netpbm: "#" to the next CR or LF).
        for (uint32_t length = 0;; ++length) {
          if (length > kMaxSeparatorRun) InvalidHeader();
          const uint8_t d = Get();
          if (d == '\n' || d == '\r') break;
        }
      }
    }
  }
  // A decimal number after its separators; the first character after it is consumed when there is
  // one (a plain sample may end the file). Numbers past 32 bits are invalid, never wrapped.
  uint32_t GetNumber() {
    SkipToDigit();
    uint64_t value = 0;
    while (IsDigit(Current())) {
      value = value * 10 + (Buffer[Index++] - '0');
      if (value > UINT32_MAX) InvalidHeader();
    }
    if (!AtEnd()) ++Index;
    return static_cast<uint32_t>(value);
  }
  // One plain bitmap pixel: Netpbm's plain PBM takes every digit as a pixel, separators optional.
  bool GetBit() {
    SkipToDigit();
    return (Buffer[Index++] - '0') & 1;
  }
  // The kind named by the magic ("P1".."P9" give 1..9); raises EConvertError for a second
  // character that is not a digit, answers -1 when the data does not start with 'P'.
  int ReadKind() {
    if (AtEnd() || Get() != 'P') return -1;
    const char digit = static_cast<char>(Get());
    if (!IsDigit(static_cast<uint8_t>(digit))) return StrToInt(std::string(1, digit));
    return digit - '0';
  }

 private:
  bool Refill() {
    const int64_t got = Stream.Read(Buffer, sizeof Buffer);
    Index = 0;
    Count = static_cast<uint32_t>(std::max<int64_t>(got, 0));
    return Count > 0;
  }

  TStream& Stream;
  uint8_t Buffer[4096];
  uint32_t Index = 0;
  uint32_t Count = 0;
};

struct TPPMHeader {
  int Kind = -1;  // 1..6; 0 and 7..9 name no map this reader knows; -1 no magic
  uint32_t Width = 0, Height = 0;
  uint32_t Maximum = 1;
  bool Bitmap() const { return Kind == 1 || Kind == 4; }
  bool Pixmap() const { return Kind == 3 || Kind == 6; }
  uint32_t Samples() const { return Pixmap() ? 3 : 1; }
  // Raw samples of maps whose maximum is above 255 take two bytes, most significant first.
  bool Wide() const { return Maximum > 255; }
};

// The magic, then (Netpbm: separated by white space, on the magic's line or any other) the width,
// the height and, except for bitmaps, the maximum sample value.
TPPMHeader ReadHeader(TCharReader& in) {
  TPPMHeader h;
  h.Kind = in.ReadKind();
  if (h.Kind < 1 || h.Kind > 6) return h;
  h.Width = in.GetNumber();
  h.Height = in.GetNumber();
  if (!h.Bitmap()) {
    h.Maximum = in.GetNumber();
    if (h.Maximum > kMaxMaximum) InvalidHeader();
  }
  return h;
}

// Samples of maps with a maximum up to 255 are taken as stored (their low byte); above it they
// are brought to 8 bits as v × 255 div maximum, the colour manager's reduction of 16-bit
// samples, values past the maximum taken as the maximum.
class TSampleScale {
 public:
  explicit TSampleScale(uint32_t maximum) {
    if (maximum <= 255) return;
    Table.resize(size_t{kMaxMaximum} + 1, 255);
    for (uint32_t v = 0; v <= maximum; ++v) Table[v] = static_cast<uint8_t>(v * 255 / maximum);
  }
  uint8_t operator()(uint32_t v) const {
    return Table.empty() ? static_cast<uint8_t>(v) : Table[std::min<uint32_t>(v, kMaxMaximum)];
  }
  uint8_t Wide(const uint8_t* be) const { return Table[(uint32_t{be[0]} << 8) | be[1]]; }

 private:
  std::vector<uint8_t> Table;
};

// One row of a plain map, or of a raw bitmap, into the bitmap row.
void ReadRow(TCharReader& in, const TPPMHeader& h, const TSampleScale& scale, uint8_t* target) {
  const uint32_t width = h.Width;
  switch (h.Kind) {
    case 1:
      std::fill_n(target, (width + 7) / 8, 0);
      for (uint32_t x = 0; x < width; ++x)
        if (in.GetBit()) target[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      break;
    case 2:
      for (uint32_t x = 0; x < width; ++x) target[x] = scale(in.GetNumber());
      break;
    case 3:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t r = scale(in.GetNumber());
        const uint8_t g = scale(in.GetNumber());
        target[3 * x] = scale(in.GetNumber());
        target[3 * x + 1] = g;
        target[3 * x + 2] = r;
      }
      break;
    case 4:
      in.GetChars(target, (width + 7) / 8);
      break;
    default:
      break;
  }
}

// The fewest bytes that can hold the declared pixels: raw rows whole; a plain bitmap one digit
// per pixel; plain samples one digit each and a separator between two.
uint64_t LeastBytes(const TPPMHeader& h) {
  const uint64_t pixels = uint64_t{h.Width} * h.Height;
  if (h.Kind == 1) return pixels;
  if (h.Kind == 4) return (uint64_t{h.Width} + 7) / 8 * h.Height;
  return h.Kind <= 3 ? pixels * h.Samples() * 2 - 1 : pixels * h.Samples() * (h.Wide() ? 2 : 1);
}

}  // namespace

bool TPPMGraphic::CanLoad(TStream& stream) {
  uint8_t magic[2];
  if (!PeekHeader(stream, magic, 2, 11)) return false;
  return magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
}

const char* TPPMGraphic::RefusedHeaderLabel() const { return lblPortableMap; }

bool TPPMGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  TCharReader in(stream);
  const TPPMHeader h = ReadHeader(in);
  if (h.Kind < 0) return false;
  if (h.Kind < 1 || h.Kind > 6) return true;
  TImageProperties& p = ImageProperties;
  p.Width = h.Width;
  p.Height = h.Height;
  p.SetLayout(h.Pixmap() ? csRGB : csIndexed,
              h.Bitmap() ? 1
              : h.Wide() ? 16
                         : 8,
              static_cast<uint8_t>(h.Samples()), ctNone);
  return true;
}

void TPPMGraphic::LoadImage(TStream& stream) {
  TCharReader in(stream);
  const TPPMHeader h = ReadHeader(in);
  if (h.Kind < 1 || h.Kind > 6) return;  // P0, P7, P8, P9: an empty image
  // Pixel maps: red, green, blue in the file, blue, green, red in the bitmap.
  const TColorScheme scheme = h.Pixmap() ? csRGB : csIndexed;
  const uint8_t bits = h.Bitmap() ? 1 : 8, samples = static_cast<uint8_t>(h.Samples());
  SetupColors({scheme, bits, samples, h.Pixmap() ? csBGR : csIndexed, bits, samples, {}});
  // A map without pixels (width or height 0) is an empty image: its up to 2^32 - 1 empty rows are
  // not walked.
  if (h.Width == 0 || h.Height == 0) return;
  ImageProperties.Width = h.Width;
  ImageProperties.Height = h.Height;
  // The bytes the character reader holds already count as left in the stream.
  const uint64_t least = LeastBytes(h);
  SizeFromProperties(stream, least > in.Buffered() ? least - in.Buffered() : 0);
  if (!h.Pixmap()) SetPalette(ColorManager().CreateGrayscalePalette(h.Bitmap()));
  const TSampleScale scale(h.Maximum);
  // Raw grey and pixel rows are read about 256 KiB at a time, then converted row by row.
  const bool raw = h.Kind == 5 || h.Kind == 6;
  const size_t rowSamples = size_t{h.Width} * samples, fileRow = rowSamples * (h.Wide() ? 2 : 1);
  const auto blockRows = static_cast<uint32_t>(std::clamp<uint64_t>((uint64_t{1} << 18) / fileRow, 1, h.Height));
  std::vector<uint8_t> block(raw ? fileRow * blockRows : 0);
  for (uint32_t y = 0; y < h.Height; ++y) {
    uint8_t* target = RowData(static_cast<int>(y));
    if (raw) {
      if (y % blockRows == 0) in.GetChars(block.data(), fileRow * std::min(blockRows, h.Height - y));
      uint8_t* row = block.data() + (y % blockRows) * fileRow;
      // Two-byte samples are brought to one byte where they lie, each before the next is read.
      if (h.Wide())
        for (size_t i = 0; i < rowSamples; ++i) row[i] = scale.Wide(row + 2 * i);
      if (h.Pixmap())
        ColorManager().ConvertRow(row, target, h.Width, 0xFF);
      else
        std::memcpy(target, row, rowSamples);
    } else {
      ReadRow(in, h, scale, target);
    }
    RowProgress(y + 1, h.Height);
  }
}

}  // namespace muralo
