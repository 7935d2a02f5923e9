#pragma once
// The harness shared by the decoders' fuzz targets. An input is four parameter bytes (decoder
// settings and the size of the output area) followed by the compressed data. The data and the
// output area are copied into heap blocks of exactly their size, so that the address sanitizer
// catches any read or write outside them. Errors of the framework are expected results; anything
// else (a crash, a foreign exception, a hang) is a find.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "classlib/Exception.h"
#include "imaging/compression/GraphicCompression.h"

namespace muralo::fuzz {

struct TFuzzInput {
  uint8_t P0 = 0, P1 = 0, P2 = 0, P3 = 0;  // parameters
  const uint8_t* Data = nullptr;
  size_t Size = 0;
  size_t Room() const { return static_cast<size_t>(P1) | static_cast<size_t>(P2) << 8; }  // up to 64 KiB
};

inline bool Split(const uint8_t* data, size_t size, TFuzzInput& input) {
  if (size < 4) return false;
  input.P0 = data[0];
  input.P1 = data[1];
  input.P2 = data[2];
  input.P3 = data[3];
  input.Data = data + 4;
  input.Size = size - 4;
  return true;
}

// Runs Decode over the data in `pieces` consecutive calls (the deflate decoder keeps its stream
// between calls), each given the data still left and the room still left. Units converts the
// room in bytes into the decoder's UnpackedSize (pixels for Targa).
inline void Decode(TDecoder& decoder, const TFuzzInput& input, size_t room, int pieces = 1,
                   const std::function<size_t(size_t)>& units = nullptr) {
  std::unique_ptr<uint8_t[]> source(new uint8_t[std::max<size_t>(input.Size, 1)]);
  if (input.Size > 0) std::memcpy(source.get(), input.Data, input.Size);
  std::unique_ptr<uint8_t[]> dest(new uint8_t[std::max<size_t>(room, 1)]);
  std::memset(dest.get(), 0, std::max<size_t>(room, 1));
  const uint8_t* s = source.get();
  uint8_t* d = dest.get();
  const uint8_t* const sourceEnd = source.get() + input.Size;
  uint8_t* const destEnd = dest.get() + room;
  for (int piece = 0; piece < pieces; ++piece) {
    const size_t inputLeft = static_cast<size_t>(sourceEnd - s);
    const size_t take = piece + 1 == pieces ? inputLeft : inputLeft / static_cast<size_t>(pieces - piece);
    const uint8_t* before = s;
    const size_t roomLeft = static_cast<size_t>(destEnd - d);
    decoder.Decode(s, d, take, units ? units(roomLeft) : roomLeft);
    // Pointers written back must stay inside their areas.
    if (s < source.get() || s > sourceEnd || d < dest.get() || d > destEnd) __builtin_trap();
    if (s == before) s = before + take;  // decoders that do not move Source: go on after this piece
    if (s > sourceEnd) s = sourceEnd;
  }
}

// Calls body, letting the framework's own errors pass as expected outcomes.
inline int Guard(const std::function<void()>& body) {
  try {
    body();
  } catch (const Exception&) {
  }
  return 0;
}

}  // namespace muralo::fuzz
