// Fuzz target: the CCITT fax decoders (TIFF compression 3, 2 and 32771), with any width, bit order
// and T4Options.
#include "DecoderFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace muralo;
  fuzz::TFuzzInput in;
  if (!fuzz::Split(data, size, in)) return 0;
  const uint32_t width = (in.P3 | (in.P0 & 0x0F) << 8) * 2 + (in.P0 >> 4 & 1);  // 0..8191
  const bool swap = in.P0 & 0x20, word = in.P0 & 0x40;
  return fuzz::Guard([&] {
    if (in.P0 & 0x80) {
      TCCITTMHDecoder decoder(0, swap, word, width);
      fuzz::Decode(decoder, in, in.Room(), 1);
    } else {
      TCCITTFax3Decoder decoder(word ? 1 : 4, swap, false, width);  // T4Options bit 0 (2-D) must be refused
      fuzz::Decode(decoder, in, in.Room(), 1);
    }
  });
}
