#pragma once
// Helpers of the reader tests: a scratch folder, the oracle tools (ImageMagick's convert-im6.q16
// and netpbm) that write and decode reference files, and pixel comparison of a bitmap with an
// oracle's decode.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SharedTestTools.h"
#include "classlib/Bitmap.h"
#include "classlib/Streams.h"

namespace muralo::test {

// An image decoded by the oracle: 8-bit samples, rows from the top, RGB or RGBA.
struct TOracleImage {
  int Width = 0, Height = 0, Channels = 3;
  std::vector<uint8_t> Pixels;
  const uint8_t* At(int x, int y) const { return Pixels.data() + (size_t(y) * Width + x) * Channels; }
};
// The oracle's decode of a file (ImageMagick), with alpha when asked.
TOracleImage OracleDecode(const std::string& file, bool alpha = false);
// Pillow's decode of a file (the system Python, which has python3-pil), with alpha when asked.
TOracleImage PillowDecode(const std::string& file, bool alpha = false);
// The decode of a netpbm converter that writes a PPM of the file to its standard output
// (for example "pcxtoppm").
TOracleImage NetpbmDecode(const std::string& converter, const std::string& file);

// Every pixel of the bitmap equals the oracle's (within the tolerance per sample); reports the
// first mismatch.
void ExpectSamePixels(const TBitmap& bitmap, const TOracleImage& oracle, int tolerance = 0, bool alpha = false);

std::vector<uint8_t> FileBytes(const std::string& file);
void WriteBytes(const std::string& file, const std::vector<uint8_t>& bytes);

// Loads bytes into a new reader of class T.
template <typename T>
std::unique_ptr<T> LoadBytes(const std::vector<uint8_t>& bytes) {
  auto graphic = std::make_unique<T>();
  TMemoryStream stream(bytes);
  graphic->LoadFromStream(stream);
  return graphic;
}

// Little helpers to build files byte by byte.
void PutLE16(std::vector<uint8_t>& b, uint16_t v);
void PutBE16(std::vector<uint8_t>& b, uint16_t v);
void PutBE32(std::vector<uint8_t>& b, uint32_t v);

// The directory of the test sources (MURALO_SOURCE_DIR, set by the test helper).
std::filesystem::path SourceDir();

}  // namespace muralo::test
