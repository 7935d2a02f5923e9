#include "imaging/formats/RLAGraphic.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"
#include "imaging/Graphicstrings.h"
#include "imaging/color/GraphicColor.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo {

MURALO_DEFINE_GRAPHIC_CLASS(TRLAGraphic, TFrameworkGraphic, &TRLAGraphic::CanLoad)

namespace {

constexpr const char* kLabel = "RLA";

int16_t Swap(int16_t v) {
  const auto u = static_cast<uint16_t>(v);
  return static_cast<int16_t>(static_cast<uint16_t>((u << 8) | (u >> 8)));
}
int32_t Swap(int32_t v) {
  const auto u = static_cast<uint32_t>(v);
  return static_cast<int32_t>((u >> 24) | ((u >> 8) & 0xFF00) | ((u << 8) & 0xFF0000) | (u << 24));
}

// A text field up to its first zero byte (or its whole length), in lower case.
std::string LowerText(const char* text, size_t size) {
  std::string s(text, strnlen(text, size));
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string ChannelType(const TRLAHeader& h) { return LowerText(h.Chan, sizeof h.Chan); }

}  // namespace

bool IsValidRLAHeader(const TRLAHeader& h) {
  const std::string chan = ChannelType(h);
  return static_cast<uint16_t>(Swap(h.Revision)) == 0xFFFE && (chan == "rgb" || chan == "xyz");
}

bool TRLAGraphic::CanLoad(TStream& stream) {
  TRLAHeader h;
  if (!PeekHeader(stream, &h, RLAHeaderSize, RLAHeaderSize + 1)) return false;
  return IsValidRLAHeader(h);
}

void TRLAGraphic::SwapHeader(TRLAHeader& h) {
  for (auto& v : h.Window) v = Swap(v);
  for (auto& v : h.ActiveWindow) v = Swap(v);
  for (int16_t* v : {&h.Frame, &h.StorageType, &h.NumChannels, &h.NumMatte, &h.NumAux, &h.Revision, &h.Field,
                     &h.ChanBits, &h.MatteType, &h.MatteBits, &h.AuxType, &h.AuxBits})
    *v = Swap(*v);
  h.JobNum = Swap(h.JobNum);
  h.Next = Swap(h.Next);
}

bool TRLAGraphic::ReadImageProperties(TStream& stream, uint32_t imageIndex) {
  TFrameworkGraphic::ReadImageProperties(stream, imageIndex);
  TRLAHeader h;
  stream.ReadBuffer(&h, RLAHeaderSize);
  SwapHeader(h);
  TImageProperties& p = ImageProperties;
  p.Options = {ioBigEndian};
  const std::string chan = ChannelType(h);
  p.SamplesPerPixel = static_cast<uint8_t>(h.NumChannels);
  if (h.NumMatte == 1) ++p.SamplesPerPixel;
  p.BitsPerSample = static_cast<uint8_t>(h.ChanBits);
  p.BitsPerPixel = static_cast<uint8_t>(p.BitsPerSample * p.SamplesPerPixel);
  if (chan == "rgb") p.ColorScheme = h.NumMatte > 0 ? csRGBA : csRGB;
  // The gamma text has a full stop as decimal separator whatever the process's locale (the
  // application runs in the user's, where it may be a comma), so it is not read with strtof.
  const char* first = h.Gamma;
  const char* const last = h.Gamma + strnlen(h.Gamma, sizeof h.Gamma);
  while (first < last && (*first == ' ' || (*first >= '\t' && *first <= '\r'))) ++first;
  if (first < last && *first == '+') ++first;
  float value = 0;
  const std::from_chars_result parsed = std::from_chars(first, last, value);
  // A text that is not a number (or not a usable one) keeps the default of 1.0.
  if (parsed.ec == std::errc() && std::isfinite(value)) p.FileGamma = value;
  p.Compression = ctRLE;
  const int32_t width = int32_t{h.ActiveWindow[1]} - h.ActiveWindow[0] + 1;
  p.Width = width > 0 ? static_cast<uint32_t>(width) : 0;
  p.Height = static_cast<uint32_t>(std::abs(int32_t{h.ActiveWindow[2]} - h.ActiveWindow[3]) + 1);
  p.BottomUp = h.ActiveWindow[2] < h.ActiveWindow[3];
  return chan != "xyz";
}

void TRLAGraphic::LoadFromStream(TStream& stream) {
  ReleaseImage();
  BasePosition = stream.Position();
  if (!ReadImageProperties(stream, 0)) return;
  TImageProperties& p = ImageProperties;
  InitProgress(p.Width);
  TProgressScope finish([this] { EndProgress(); });
  StartProgress(gesTransfering);

  // Three colour channels, and for RGBA one matte channel, of 1 to 16 bits: anything else would
  // hand the row converter fewer samples than it reads.
  const bool rgb = p.ColorScheme == csRGB && p.SamplesPerPixel == 3;
  const bool rgba = p.ColorScheme == csRGBA && p.SamplesPerPixel == 4;
  if (!rgb && !rgba) throw EInvalidGraphic(Format(gesUnsupportedFeature, gesRLAPixelFormat, kLabel));
  if (p.BitsPerSample == 0 || p.BitsPerSample > 16) throw EInvalidGraphic(Format(gesInvalidImage, kLabel));

  TColorManager& cm = ColorManager();
  cm.SetSourceSamplesPerPixel(p.SamplesPerPixel);
  cm.SetTargetSamplesPerPixel(p.SamplesPerPixel);
  // Channels are brought to 8 bits below before conversion.
  cm.SetSourceBitsPerSample(8);
  cm.SetTargetBitsPerSample(8);
  cm.SetSourceColorScheme(p.ColorScheme);
  cm.SetTargetColorScheme(rgba ? csBGRA : csBGR);
  SetPixelFormat(cm.GetPixelFormat(1));
  if (p.FileGamma != 1.0f) {
    cm.SetGamma(p.FileGamma, 2.2f);
    cm.TargetOptions.Include(coApplyGamma);
    p.Options.Include(ioUseGamma);
  }
  SizeFromProperties();

  std::vector<uint32_t> offsets(p.Height);
  for (auto& v : offsets) v = ReadBE32(stream);

  TRLADecoder decoder;
  const uint32_t width = p.Width;
  const uint32_t sampleBytes = p.BitsPerSample > 8 ? 2 : 1;
  const uint32_t maxValue = (1u << p.BitsPerSample) - 1;
  std::vector<uint8_t> decoded(size_t{width} * sampleBytes);
  std::vector<uint8_t> channels(size_t{width} * 4);
  uint8_t* plane[4] = {channels.data(), channels.data() + width, channels.data() + 2 * width,
                       channels.data() + 3 * width};
  const int channelCount = rgba ? 4 : 3;
  for (uint32_t r = 0; r < p.Height; ++r) {
    stream.SetPosition(BasePosition + offsets[r]);
    for (int c = 0; c < channelCount; ++c) {
      const uint16_t length = ReadBE16(stream);
      const std::vector<uint8_t> packed = ReadBytes(stream, length);
      std::fill(decoded.begin(), decoded.end(), 0);
      const uint8_t* source = packed.data();
      uint8_t* dest = decoded.data();
      decoder.Decode(source, dest, length, static_cast<int32_t>(decoded.size()));
      if (p.BitsPerSample == 8) {
        std::copy(decoded.begin(), decoded.end(), plane[c]);
      } else {
        // Samples of other depths (big-endian words above 8 bits) are scaled to 0..255.
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t v = sampleBytes == 2 ? (uint32_t{decoded[2 * x]} << 8) | decoded[2 * x + 1] : decoded[x];
          plane[c][x] = static_cast<uint8_t>(std::min(v, maxValue) * 255 / maxValue);
        }
      }
    }
    uint8_t* target = RowData(static_cast<int>(p.BottomUp ? p.Height - 1 - r : r));
    if (rgba)
      cm.ConvertRow({plane[0], plane[1], plane[2], plane[3]}, target, width, 0xFF);
    else
      cm.ConvertRow({plane[0], plane[1], plane[2]}, target, width, 0xFF);
    RowProgress(r + 1, p.Height);
  }
  Modified();
}

}  // namespace muralo
