#include "imaging/formats/RLAGraphic.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/ByteOrder.h"
#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/RunLengthDecoders.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TFrameworkGraphic, &TRLAGraphic::CanLoad)

namespace {

// Header places (byte offsets) of the fields read.
constexpr size_t kActiveWindowAt = 8, kNumChannelsAt = 20, kNumMatteAt = 22, kRevisionAt = 26, kGammaAt = 28,
                 kChanAt = 580, kChanBitsAt = 658;
constexpr size_t kGammaSize = 16, kChanSize = 32;

int16_t GetBE16Signed(const uint8_t* p) { return static_cast<int16_t>(GetBE16(p)); }

// A text field up to its first zero byte (or its whole length).
std::string Text(const uint8_t* field, size_t size) {
  const auto* text = reinterpret_cast<const char*>(field);
  return std::string(text, strnlen(text, size));
}

}  // namespace

TRLAHeader ParseRLAHeader(const uint8_t (&b)[RLAHeaderSize]) {
  TRLAHeader h;
  for (size_t i = 0; i < 4; ++i) h.ActiveWindow[i] = GetBE16Signed(b + kActiveWindowAt + 2 * i);
  h.NumChannels = GetBE16Signed(b + kNumChannelsAt);
  h.NumMatte = GetBE16Signed(b + kNumMatteAt);
  h.Revision = GetBE16(b + kRevisionAt);
  h.Gamma = Text(b + kGammaAt, kGammaSize);
  h.Chan = Text(b + kChanAt, kChanSize);
  for (char& ch : h.Chan)
    if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  h.ChanBits = GetBE16Signed(b + kChanBitsAt);
  return h;
}

bool IsValidRLAHeader(const TRLAHeader& h) { return h.Revision == 0xFFFE && (h.Chan == "rgb" || h.Chan == "xyz"); }

bool TRLAGraphic::CanLoad(TStream& stream) {
  uint8_t bytes[RLAHeaderSize];
  if (!PeekHeader(stream, bytes, RLAHeaderSize, RLAHeaderSize + 1)) return false;
  return IsValidRLAHeader(ParseRLAHeader(bytes));
}

bool TRLAGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  uint8_t bytes[RLAHeaderSize];
  stream.ReadBuffer(bytes, RLAHeaderSize);
  const TRLAHeader h = ParseRLAHeader(bytes);
  TImageProperties& p = ImageProperties;
  p.Options = {ioBigEndian};
  const TColorScheme scheme = h.Chan != "rgb" ? csUnknown : h.NumMatte > 0 ? csRGBA : csRGB;
  p.SetLayout(scheme, static_cast<uint8_t>(h.ChanBits), static_cast<uint8_t>(h.NumChannels + (h.NumMatte == 1)), ctRLE);
  // The gamma text has a full stop as decimal separator whatever the process's locale (the
  // application runs in the user's, where it may be a comma), so it is not read with strtof.
  const char* first = h.Gamma.data();
  const char* const last = h.Gamma.data() + h.Gamma.size();
  while (first < last && (*first == ' ' || (*first >= '\t' && *first <= '\r'))) ++first;
  if (first < last && *first == '+') ++first;
  float value = 0;
  const std::from_chars_result parsed = std::from_chars(first, last, value);
  // A text that is not a number (or not a usable one) keeps the default of 1.0.
  if (parsed.ec == std::errc() && std::isfinite(value)) p.FileGamma = value;
  const int32_t width = int32_t{h.ActiveWindow[1]} - h.ActiveWindow[0] + 1;
  p.Width = width > 0 ? static_cast<uint32_t>(width) : 0;
  p.Height = static_cast<uint32_t>(std::abs(int32_t{h.ActiveWindow[2]} - h.ActiveWindow[3]) + 1);
  p.BottomUp = h.ActiveWindow[2] < h.ActiveWindow[3];
  // Only "rgb" channels have a layout here; "xyz" and any other type are refused when loading.
  return true;
}

void TRLAGraphic::LoadImage(TStream& stream) {
  TImageProperties& p = ImageProperties;
  stream.Seek(RLAHeaderSize, TSeekOrigin::soCurrent);

  // Three colour channels, and for RGBA one matte channel, of 1 to 16 bits: anything else would
  // hand the row converter fewer samples than it reads.
  const bool rgb = p.ColorScheme == csRGB && p.SamplesPerPixel == 3;
  const bool rgba = p.ColorScheme == csRGBA && p.SamplesPerPixel == 4;
  if (!rgb && !rgba) throw EInvalidGraphic(Format(gesUnsupportedFeature, gesRLAPixelFormat, lblRLA));
  if (p.BitsPerSample == 0 || p.BitsPerSample > 16) throw EInvalidGraphic(Format(gesInvalidImage, lblRLA));

  // Channels are brought to 8 bits below before conversion.
  const uint8_t channels = rgba ? 4 : 3;
  SetupColors({p.ColorScheme, 8, channels, rgba ? csBGRA : csBGR, 8, channels, {}});
  if (p.FileGamma != 1.0f) {
    ColorManager().SetGamma(p.FileGamma, 2.2f);
    ColorManager().TargetOptions.Include(coApplyGamma);
    p.Options.Include(ioUseGamma);
  }
  // The row offset table, and at least one row (rows may share their data): each channel's
  // 2-byte count (a channel may decode to less than the width; the rest is black).
  SizeFromProperties(stream, uint64_t{p.Height} * 4 + uint64_t{channels} * 2);

  std::vector<uint32_t> offsets(p.Height);
  for (auto& v : offsets) v = ReadBE32(stream);

  TRLADecoder decoder;
  const uint32_t width = p.Width;
  const uint32_t sampleBytes = p.BitsPerSample > 8 ? 2 : 1;
  std::vector<uint8_t> decoded(size_t{width} * sampleBytes);
  TPlaneRows planes(4, width);
  for (uint32_t r = 0; r < p.Height; ++r) {
    stream.SetPosition(BasePosition + offsets[r]);
    for (uint8_t c = 0; c < channels; ++c) {
      const uint16_t length = ReadBE16(stream);
      const std::vector<uint8_t> packed = ReadBytes(stream, length);
      std::fill(decoded.begin(), decoded.end(), 0);
      const uint8_t* source = packed.data();
      uint8_t* dest = decoded.data();
      decoder.Decode(source, dest, packed.size(), decoded.size());
      // Samples of other depths are scaled to 0..255; above 8 bits a channel row holds a plane of
      // the words' high bytes, then a plane of their low bytes.
      if (p.BitsPerSample > 8) {
        const uint32_t maxValue = (1u << p.BitsPerSample) - 1;
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t v = (uint32_t{decoded[x]} << 8) | decoded[width + x];
          planes[c][x] = static_cast<uint8_t>(std::min(v, maxValue) * 255 / maxValue);
        }
      } else {
        ReduceSamplesTo8(decoded.data(), p.BitsPerSample, planes[c], width);
      }
    }
    uint8_t* target = RowData(static_cast<int>(p.BottomUp ? p.Height - 1 - r : r));
    ColorManager().ConvertRow(planes.Pointers(channels), target, width, 0xFF);
    RowProgress(r + 1, p.Height);
  }
}

}  // namespace muralo
