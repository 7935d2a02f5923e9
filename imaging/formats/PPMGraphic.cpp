#include "imaging/formats/PPMGraphic.h"

#include <algorithm>
#include <cstring>
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

// The character reader over the stream. Index == Count means the buffer is used up; only the Count
// bytes of the last refill are ever handed out.
class TCharReader {
 public:
  explicit TCharReader(TStream& stream) : Stream(stream) {}

  // The next unread byte without consuming it; 0 when no byte is left.
  uint8_t Current() {
    if (Index >= Count && !Refill()) return 0;
    return Buffer[Index];
  }
  void Skip() { ++Index; }
  // The next byte, consumed; raises gesStreamReadError ("PPM") when the stream has no more.
  uint8_t Get() {
    if (Index >= Count && !Refill()) throw EInvalidGraphic(Format(gesStreamReadError, lblPPM));
    return Buffer[Index++];
  }
  // Copies count bytes, consumed, into target (raw rows).
  void GetChars(uint8_t* target, uint32_t count) {
    while (count > 0) {
      if (Index >= Count && !Refill()) throw EInvalidGraphic(Format(gesStreamReadError, lblPPM));
      const uint32_t n = std::min(count, Count - Index);
      std::memcpy(target, Buffer + Index, n);
      Index += n;
      target += n;
      count -= n;
    }
  }
  // The line up to CR or LF (consumed, not kept; CR LF counts as one end), cut at its first '#'.
  std::string ReadLine() {
    std::string line;
    for (;;) {
      const uint8_t c = Get();
      if (c == '\n') break;
      if (c == '\r') {
        if (Current() == '\n') Skip();
        break;
      }
      line.push_back(static_cast<char>(c));
    }
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    return line;
  }
  // Skips to the next decimal digit ('#' comments skipped to their line end), reads the number and
  // consumes the first character after it.
  uint32_t GetNumber() {
    uint8_t c = Get();
    while (!IsDigit(c)) {
      if (c == '#') ReadLine();
      c = Get();
    }
    uint32_t value = 0;
    while (IsDigit(c)) {
      value = value * 10 + (c - '0');  // wraps as an unsigned 32-bit value; CheckImageSize refuses huge sizes
      c = Get();
    }
    return value;
  }
  // The kind named by the first line ("P1".."P9" give 1..9); raises EConvertError for a second
  // character that is not a digit, answers -1 when the line does not start with 'P'.
  int ReadKind() {
    const std::string line = ReadLine();
    if (line.empty() || line[0] != 'P') return -1;
    return StrToInt(line.substr(1, 1));
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

void ReadRow(TCharReader& in, int kind, uint8_t* target, uint32_t width, std::vector<uint8_t>& scratch) {
  switch (kind) {
    case 1: {
      std::fill_n(target, (width + 7) / 8, 0);
      for (uint32_t x = 0; x < width; ++x)
        if (in.GetNumber() & 1) target[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      break;
    }
    case 2:
      for (uint32_t x = 0; x < width; ++x) target[x] = static_cast<uint8_t>(in.GetNumber());
      break;
    case 3:
      for (uint32_t x = 0; x < width; ++x) {
        const auto r = static_cast<uint8_t>(in.GetNumber());
        const auto g = static_cast<uint8_t>(in.GetNumber());
        const auto b = static_cast<uint8_t>(in.GetNumber());
        target[3 * x] = b;
        target[3 * x + 1] = g;
        target[3 * x + 2] = r;
      }
      break;
    case 4:
      in.GetChars(target, (width + 7) / 8);
      break;
    case 5:
      in.GetChars(target, width);
      break;
    case 6:
      in.GetChars(scratch.data(), 3 * width);
      for (uint32_t x = 0; x < width; ++x) {
        target[3 * x] = scratch[3 * x + 2];
        target[3 * x + 1] = scratch[3 * x + 1];
        target[3 * x + 2] = scratch[3 * x];
      }
      break;
    default:
      break;
  }
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
  const int kind = in.ReadKind();
  if (kind < 0) return false;
  if (kind < 1 || kind > 6) return true;
  TImageProperties& p = ImageProperties;
  p.Width = in.GetNumber();
  p.Height = in.GetNumber();
  if (kind != 1 && kind != 4) in.GetNumber();  // the maximum sample value: read and ignored
  const bool bitmap = kind == 1 || kind == 4;
  const bool pixmap = kind == 3 || kind == 6;
  p.ColorScheme = pixmap ? csRGB : csIndexed;
  p.BitsPerSample = bitmap ? 1 : 8;
  p.SamplesPerPixel = pixmap ? 3 : 1;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  p.Compression = ctNone;
  return true;
}

void TPPMGraphic::LoadImage(TStream& stream) {
  TCharReader in(stream);
  const int kind = in.ReadKind();
  if (kind < 1 || kind > 6) return;  // P0, P7, P8, P9: an empty image
  const bool bitmap = kind == 1 || kind == 4;
  const bool pixmap = kind == 3 || kind == 6;
  SetPixelFormat(bitmap ? TPixelFormat::pf1bit : pixmap ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
  const uint32_t width = in.GetNumber();
  const uint32_t height = in.GetNumber();
  // A map without pixels (width or height 0) is an empty image: its up to 2^32 - 1 empty rows are
  // not walked.
  if (width == 0 || height == 0) return;
  ImageProperties.Width = width;
  ImageProperties.Height = height;
  SizeFromProperties();
  if (!bitmap) in.GetNumber();
  if (!pixmap) {
    TColorManager& cm = ColorManager();
    cm.SetTargetSamplesPerPixel(1);
    cm.SetTargetBitsPerSample(bitmap ? 1 : 8);
    SetPalette(cm.CreateGrayscalePalette(bitmap));
  }
  std::vector<uint8_t> scratch(kind == 6 ? size_t{3} * width : 0);
  for (uint32_t y = 0; y < height; ++y) {
    ReadRow(in, kind, RowData(static_cast<int>(y)), width, scratch);
    RowProgress(y + 1, height);
  }
}

}  // namespace muralo
