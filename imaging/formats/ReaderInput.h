#pragma once
// A reader's window on its stream: the data comes in large chunks, a reader takes it a few bytes
// or a row at a time, and what it has not consumed moves to the front before the next chunk. For
// readers whose rows are not whole reads of the stream (run-length data, rows decoded on the fly).
#include <cstddef>
#include <cstdint>
#include <vector>

namespace muralo {

class TStream;
class TDecoder;

class TReaderInput {
 public:
  // The window reads at most `size` bytes from the stream's position: the reader's data, which may
  // stop before the stream's end (a trailer that is read apart).
  TReaderInput(TStream& stream, uint64_t size);
  explicit TReaderInput(TStream& stream);

  // Makes at least `count` bytes available at the pointer answered (a whole chunk or the rest of
  // the data when it has to read); raises EReadError when the data holds fewer.
  const uint8_t* Need(size_t count);
  size_t Available() const { return Count - At; }
  void Consume(size_t count) { At += count; }  // count <= Available()
  // Bytes not consumed yet: those available and those still in the stream.
  uint64_t Remaining() const { return Available() + Left; }

  // Decodes one row of exactly `rowBytes` bytes (`units` of what the decoder's UnpackedSize counts)
  // to target, reading on as the decoder asks; data that ends first raises EReadError. The
  // decoder keeps a packet cut at the row's end and goes on with it in the next row.
  void DecodeRow(TDecoder& decoder, uint8_t* target, size_t units, size_t rowBytes);

 private:
  TStream& Stream;
  uint64_t Left;  // bytes of the data still in the stream
  std::vector<uint8_t> Buffer;
  size_t At = 0, Count = 0;
};

}  // namespace muralo
