// libFuzzer target: the settings hive's text. Any input either parses or is refused with a line
// number; whatever parses must write out as text that parses back to the same hive.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/RegistryFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  muralo::THiveParseError error;
  std::optional<muralo::THive> hive = muralo::ParseHive(text, &error);
  if (!hive) {
    if (error.Line < 1 || error.Reason.empty()) std::abort();
    return 0;
  }
  const std::string written = muralo::FormatHive(*hive);
  std::optional<muralo::THive> again = muralo::ParseHive(written);
  if (!again || muralo::FormatHive(*again) != written) std::abort();
  return 0;
}
