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
constexpr const char* kLabel = "PBM, PGM or PPM";
constexpr const char* kReaderLabel = "PPM";
bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }
}  // namespace

bool TPPMGraphic::CanLoad(TStream& stream) {
  uint8_t magic[2];
  if (!PeekHeader(stream, magic, 2, 11)) return false;
  return magic[0] == 'P' && magic[1] >= '1' && magic[1] <= '6';
}

bool TPPMGraphic::Refill() {
  if (!Stream) return false;
  const int64_t got = Stream->Read(CharBuffer, BufferSize);
  CharIndex = 0;
  CharCount = static_cast<uint32_t>(std::max<int64_t>(got, 0));
  return CharCount > 0;
}

uint8_t TPPMGraphic::CurrentChar() {
  if (CharIndex >= CharCount && !Refill()) return 0;
  return CharBuffer[CharIndex];
}

uint8_t TPPMGraphic::GetChar() {
  if (CharIndex >= CharCount && !Refill()) throw EInvalidGraphic(Format(gesStreamReadError, kReaderLabel));
  return CharBuffer[CharIndex++];
}

void TPPMGraphic::GetChars(uint8_t* target, uint32_t count) {
  while (count > 0) {
    if (CharIndex >= CharCount && !Refill()) throw EInvalidGraphic(Format(gesStreamReadError, kReaderLabel));
    const uint32_t n = std::min(count, CharCount - CharIndex);
    std::memcpy(target, CharBuffer + CharIndex, n);
    CharIndex += n;
    target += n;
    count -= n;
  }
}

std::string TPPMGraphic::ReadLine() {
  std::string line;
  for (;;) {
    const uint8_t c = GetChar();
    if (c == '\n') break;
    if (c == '\r') {
      if (CurrentChar() == '\n') ++CharIndex;
      break;
    }
    line.push_back(static_cast<char>(c));
  }
  if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
  return line;
}

uint32_t TPPMGraphic::GetNumber() {
  uint8_t c = GetChar();
  while (!IsDigit(c)) {
    if (c == '#') ReadLine();
    c = GetChar();
  }
  uint32_t value = 0;
  while (IsDigit(c)) {
    value = value * 10 + (c - '0');  // wraps as an unsigned 32-bit value; CheckImageSize refuses huge sizes
    c = GetChar();
  }
  return value;
}

int TPPMGraphic::ReadKind() {
  EmptyBuffer();
  const std::string line = ReadLine();
  if (line.empty() || line[0] != 'P') return -1;
  return StrToInt(line.substr(1, 1));
}

bool TPPMGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  TStream* previous = Stream;
  Stream = &stream;
  struct Restore {
    TPPMGraphic* self;
    TStream* previous;
    ~Restore() { self->Stream = previous; }
  } restore{this, previous};
  const int kind = ReadKind();
  if (kind < 0) return false;
  if (kind < 1 || kind > 6) return true;
  TImageProperties& p = ImageProperties;
  p.Width = GetNumber();
  p.Height = GetNumber();
  if (kind != 1 && kind != 4) GetNumber();  // the maximum sample value: read and ignored
  const bool bitmap = kind == 1 || kind == 4;
  const bool pixmap = kind == 3 || kind == 6;
  p.ColorScheme = pixmap ? csRGB : csIndexed;
  p.BitsPerSample = bitmap ? 1 : 8;
  p.SamplesPerPixel = pixmap ? 3 : 1;
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  p.Compression = ctNone;
  return true;
}

void TPPMGraphic::ReadRow(int kind, uint8_t* target, uint32_t width, std::vector<uint8_t>& scratch) {
  switch (kind) {
    case 1: {
      std::fill_n(target, (width + 7) / 8, 0);
      for (uint32_t x = 0; x < width; ++x)
        if (GetNumber() & 1) target[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
      break;
    }
    case 2:
      for (uint32_t x = 0; x < width; ++x) target[x] = static_cast<uint8_t>(GetNumber());
      break;
    case 3:
      for (uint32_t x = 0; x < width; ++x) {
        const auto r = static_cast<uint8_t>(GetNumber());
        const auto g = static_cast<uint8_t>(GetNumber());
        const auto b = static_cast<uint8_t>(GetNumber());
        target[3 * x] = b;
        target[3 * x + 1] = g;
        target[3 * x + 2] = r;
      }
      break;
    case 4:
      GetChars(target, (width + 7) / 8);
      break;
    case 5:
      GetChars(target, width);
      break;
    case 6:
      GetChars(scratch.data(), 3 * width);
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

void TPPMGraphic::LoadFromStream(TStream& stream) {
  ReleaseImage();
  BasePosition = stream.Position();
  if (!ReadImageProperties(stream, 0)) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));
  Stream = &stream;
  stream.SetPosition(BasePosition);
  InitProgress(ImageProperties.Width);
  TProgressScope finish([this] {
    EndProgress();
    Stream = nullptr;
  });
  StartProgress(gesTransfering);

  const int kind = ReadKind();
  if (kind < 1 || kind > 6) return;  // P0, P7, P8, P9: an empty image
  const bool bitmap = kind == 1 || kind == 4;
  const bool pixmap = kind == 3 || kind == 6;
  SetPixelFormat(bitmap ? TPixelFormat::pf1bit : pixmap ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
  const uint32_t width = GetNumber();
  const uint32_t height = GetNumber();
  // A map without pixels (width or height 0) is an empty image: its up to 2^32 - 1 empty rows are
  // not walked.
  if (width == 0 || height == 0) return;
  ImageProperties.Width = width;
  ImageProperties.Height = height;
  SizeFromProperties();
  if (!bitmap) GetNumber();
  if (!pixmap) {
    TColorManager& cm = ColorManager();
    cm.SetTargetSamplesPerPixel(1);
    cm.SetTargetBitsPerSample(bitmap ? 1 : 8);
    SetPalette(cm.CreateGrayscalePalette(bitmap));
  }
  std::vector<uint8_t> scratch(kind == 6 ? size_t{3} * width : 0);
  for (uint32_t y = 0; y < height; ++y) {
    ReadRow(kind, RowData(static_cast<int>(y)), width, scratch);
    RowProgress(y + 1, height);
  }
  Modified();
}

}  // namespace muralo
