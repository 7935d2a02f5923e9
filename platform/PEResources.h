#pragma once
// The version resource of a Windows PE file (executable or DLL, 32- or 64-bit): the first
// RT_VERSION entry of the resource directory that the optional header's data directory 2 names
// (Microsoft PE/COFF format, "The .rsrc Section").

#include <cstdint>
#include <vector>

namespace muralo {

class TStream;

// The bytes of the file's first RT_VERSION resource (first name or id, first language); empty
// when the stream is no PE file or has none. Every offset is checked against the stream and the
// section it points into; a malformed file raises EReadError or Exception, never reads past the
// stream.
std::vector<uint8_t> ReadPEVersionResource(TStream& stream);

}  // namespace muralo
