#pragma once
// Helpers of the reader tests: the oracles' decodes of a file (ImageMagick, Pillow, netpbm), pixel
// comparison of a bitmap with such a decode, and the files the tests build byte by byte.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Streams.h"
#include "kit/TestKit.h"

namespace muralo::test {

// An image decoded by an oracle: 8-bit samples, rows from the top, RGB or RGBA.
using TOracleImage = TPnmImage;
// The oracle's decode of a file (ImageMagick, in the orientation the file states), with alpha when
// asked.
TOracleImage OracleDecode(const std::string& file, bool alpha = false);
// Pillow's decode of a file (the system Python, which has python3-pil), with alpha when asked.
TOracleImage PillowDecode(const std::string& file, bool alpha = false);
// The decode of a netpbm converter that writes a PPM of the file to its standard output
// (for example kPcxToPpm).
TOracleImage NetpbmDecode(const std::string& converter, const std::string& file);

// Every pixel of the bitmap equals the oracle's (within the tolerance per sample); reports the
// first mismatch.
void ExpectSamePixels(const TBitmap& bitmap, const TOracleImage& oracle, int tolerance = 0, bool alpha = false);

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

// A test picture: value of channel c at (x, y).
inline uint8_t Sample(int x, int y, int c) { return uint8_t((x * 37 + y * 11 + c * 85) ^ (x == y ? 0xFF : 0)); }

// A Dr. Halo CUT file of w x h pixels (run-length rows of Sample's first channel, the first six
// pixels of a row 7), and a Dr. Halo PAL file of the given number of entries.
std::vector<uint8_t> CUTFile(int w, int h);
std::vector<uint8_t> PALFile(int entries);

// An Alias/Wavefront RLA file of Sample's pixels: its rows stored as literal packets.
struct RLAOptions {
  int Width = 13, Height = 7;
  int16_t Bottom = 0, Top = 6;  // active window rows
  int16_t Channels = 3, Matte = 0, Bits = 8;
  const char* Chan = "rgb";
  const char* Gamma = "";
};
std::vector<uint8_t> RLAFile(const RLAOptions& o);
// The stored word of an RLA sample above 8 bits: the 8-bit sample in the top bits, a pattern below.
uint16_t RLAWord(uint8_t v, int bits);

// An Autodesk cel file of w x h pixels (x + y, with 9 at (1, 1)) and a 6-bit palette (entry 9 is
// 63, 0, 32).
std::vector<uint8_t> CelFile(int w, int h, uint8_t bits = 8);

}  // namespace muralo::test
