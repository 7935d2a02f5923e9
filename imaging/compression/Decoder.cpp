// The decoders' common error.

#include "imaging/compression/GraphicCompression.h"

namespace muralo {

void CompressionError(const std::string& ErrorString) { throw EGraphicCompression(ErrorString); }

}  // namespace muralo
