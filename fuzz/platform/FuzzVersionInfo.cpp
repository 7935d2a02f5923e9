// libFuzzer target: the version resources. The input is read as a PE file (its RT_VERSION
// resource, if any) and, whole, as a VS_VERSIONINFO block; both are walked with the queries the
// version reader makes. Only the class library's errors may escape the PE reader; the block walk
// must never raise and never hand out a value outside the buffer.

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "platform/PEResources.h"
#include "platform/VersionInfo.h"

namespace {

void Walk(const std::vector<uint8_t>& block) {
  // The block and the room GetFileVersionInfo leaves for text copies.
  std::vector<uint8_t> buffer(block.size() * 3 + 8);
  std::copy(block.begin(), block.end(), buffer.begin());
  for (const char* path : {"\\", "\\VarFileInfo\\Translation", "\\StringFileInfo\\040c04e4\\ProductName",
                           "\\StringFileInfo\\040c04e4\\FileVersion", "\\StringFileInfo"}) {
    const void* value = nullptr;
    uint32_t length = 0;
    if (!muralo::VerQueryValue(buffer.data(), uint32_t(buffer.size()), path, &value, &length)) continue;
    const auto* p = static_cast<const uint8_t*>(value);
    if (p < buffer.data() || p + length > buffer.data() + buffer.size()) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Walk(std::vector<uint8_t>(data, data + size));
  try {
    muralo::TReadOnlyMemoryStream stream(data, size);
    Walk(muralo::ReadPEVersionResource(stream));
  } catch (const muralo::Exception&) {
  }
  return 0;
}
