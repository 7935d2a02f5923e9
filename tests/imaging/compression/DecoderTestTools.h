#pragma once
// Helpers of the decoder tests: running a decoder on exact-size buffers with guard bytes, and a
// small TIFF reader that takes the raw strips out of files written by independent encoders
// (libtiff's tools, Pillow).

#include <gtest/gtest.h>
#include "kit/TestKit.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "imaging/compression/GraphicCompression.h"

namespace muralo::test {

using Bytes = std::vector<uint8_t>;

struct DecodeResult {
  Bytes Output;            // the UnpackedSize-byte area
  size_t SourceMoved = 0;  // how far Source was moved
  size_t DestMoved = 0;    // how far Dest was moved
  bool GuardIntact = true;
};

// Decodes input (copied into a buffer of exactly its size, so that a read past it is caught by
// the address sanitizer) into an area of room bytes followed by guard bytes. Units is the
// UnpackedSize handed to the decoder (pixels for Targa, else bytes); fill is the area's initial
// value.
inline DecodeResult RunDecoder(TDecoder& decoder, const Bytes& input, size_t room, int64_t units = -1,
                               uint8_t fill = 0xEE) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[input.empty() ? 1 : input.size()]);
  std::copy(input.begin(), input.end(), in.get());
  GuardedRow out(room, fill);
  const uint8_t* source = in.get();
  uint8_t* dest = out.data();
  decoder.Decode(source, dest, input.size(), units < 0 ? room : static_cast<size_t>(units));
  DecodeResult r;
  r.SourceMoved = static_cast<size_t>(source - in.get());
  r.DestMoved = static_cast<size_t>(dest - out.data());
  r.GuardIntact = out.Intact();
  r.Output = out.Row();
  return r;
}

inline std::string Hex(const Bytes& bytes) {
  std::string s;
  char buf[4];
  for (uint8_t b : bytes) {
    std::snprintf(buf, sizeof buf, "%02X ", b);
    s += buf;
  }
  return s;
}

// The first image of a TIFF file: its tags and its strips as stored.
struct TiffImage {
  std::map<uint16_t, std::vector<uint32_t>> Tags;
  std::vector<Bytes> Strips;
  uint32_t Tag(uint16_t tag, uint32_t fallback = 0) const {
    auto it = Tags.find(tag);
    return it == Tags.end() || it->second.empty() ? fallback : it->second[0];
  }
};

// TIFF 6.0 section 2: header, first IFD, SHORT/LONG/BYTE/UNDEFINED values.
inline TiffImage ReadTiff(const std::string& fileName) {
  const Bytes f = FileBytes(fileName);
  if (f.size() < 8) throw std::runtime_error("short TIFF");
  const bool little = f[0] == 'I';
  auto u16 = [&](size_t p) -> uint32_t {
    if (p + 2 > f.size()) throw std::runtime_error("TIFF out of range");
    return little ? f[p] | f[p + 1] << 8 : f[p] << 8 | f[p + 1];
  };
  auto u32 = [&](size_t p) -> uint32_t { return little ? u16(p) | u16(p + 2) << 16 : u16(p) << 16 | u16(p + 2); };
  TiffImage img;
  const size_t ifd = u32(4);
  const uint32_t count = u16(ifd);
  for (uint32_t i = 0; i < count; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    const uint16_t tag = static_cast<uint16_t>(u16(e));
    const uint32_t type = u16(e + 2);
    const uint32_t n = u32(e + 4);
    const size_t size = type == 3 ? 2 : type == 4 ? 4 : 1;
    const size_t at = n * size <= 4 ? e + 8 : u32(e + 8);
    std::vector<uint32_t> values;
    for (uint32_t k = 0; k < n; ++k) {
      const size_t p = at + k * size;
      if (p + size > f.size()) throw std::runtime_error("TIFF value out of range");
      values.push_back(size == 2 ? u16(p) : size == 4 ? u32(p) : f[p]);
    }
    img.Tags[tag] = values;
  }
  const auto& offsets = img.Tags.at(273);
  const auto& counts = img.Tags.at(279);
  for (size_t s = 0; s < offsets.size(); ++s) {
    if (offsets[s] + counts[s] > f.size()) throw std::runtime_error("TIFF strip out of range");
    img.Strips.emplace_back(f.begin() + offsets[s], f.begin() + offsets[s] + counts[s]);
  }
  return img;
}

// A bilevel picture, rows of (Width + 7) / 8 bytes, first pixel in the top bit, 1 = black (as PBM).
struct Bilevel {
  uint32_t Width = 0, Height = 0;
  Bytes Bits;
  size_t RowBytes() const { return (Width + 7) / 8; }
};

inline void WritePbm(const std::string& fileName, const Bilevel& image) {
  std::string header = "P4\n" + std::to_string(image.Width) + " " + std::to_string(image.Height) + "\n";
  Bytes bytes(header.begin(), header.end());
  bytes.insert(bytes.end(), image.Bits.begin(), image.Bits.end());
  WriteBytes(fileName, bytes);
}

}  // namespace muralo::test
