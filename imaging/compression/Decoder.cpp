// The decoders' common error and the interface's default encoder.

#include "imaging/compression/Decoder.h"

#include "imaging/Graphicstrings.h"

namespace muralo {

void CompressionError(const std::string& ErrorString) { throw EGraphicCompression(ErrorString); }

void TDecoder::Encode(const uint8_t*, uint8_t*, size_t, size_t&) { CompressionError(gesEncodingUnsupported); }

}  // namespace muralo
