// Fuzz target: TLZ77Decoder, the stream fed in several pieces, with each flush mode and reset rule.
#include "DecoderFuzzer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace muralo;
  fuzz::TFuzzInput in;
  if (!fuzz::Split(data, size, in)) return 0;
  static const int32_t flushModes[] = {Z_NO_FLUSH, Z_PARTIAL_FLUSH, Z_SYNC_FLUSH, Z_FINISH};
  return fuzz::Guard([&] {
    TLZ77Decoder decoder(flushModes[in.P0 % 4], in.P0 & 4);
    decoder.DecodeInit();
    fuzz::Decode(decoder, in, in.Room(), 1 + in.P3 % 4);
    decoder.DecodeEnd();
  });
}
