// Fuzz target: TTargaRLEDecoder (decoding, and encoding the decoded pixels back).
#include "DecoderFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace muralo;
  fuzz::TFuzzInput in;
  if (!fuzz::Split(data, size, in)) return 0;
  static const uint32_t depths[] = {8, 15, 16, 24, 32, 12};
  const uint32_t bits = depths[in.P0 % 6];
  const size_t pixelSize = bits == 8 ? 1 : bits <= 16 ? 2 : bits / 8;
  TTargaRLEDecoder decoder(bits);
  fuzz::Decode(decoder, in, in.Room() / pixelSize * pixelSize, 1 + in.P3 % 3,
               [pixelSize](size_t room) { return static_cast<int32_t>(room / pixelSize); });
  // The encoder stays inside its stated bound for any pixels.
  const auto count = static_cast<uint32_t>(std::min<size_t>(in.Size / pixelSize, 4096));
  std::unique_ptr<uint8_t[]> out(new uint8_t[decoder.MaxEncodedSize(count)]);
  uint32_t stored = 0;
  decoder.Encode(in.Data, out.get(), count, stored);
  if (stored > decoder.MaxEncodedSize(count)) __builtin_trap();
  return 0;
}
