#include "imaging/formats/ReaderInput.h"

#include <algorithm>
#include <cstring>

#include "classlib/Exception.h"
#include "classlib/Streams.h"
#include "imaging/compression/Decoder.h"

namespace muralo {

namespace {
constexpr size_t kChunk = size_t{1} << 18;  // 256 KiB: few reads, and a chunk stays in the cache
}

TReaderInput::TReaderInput(TStream& stream, uint64_t size)
    : Stream(stream), Left(size), Buffer(static_cast<size_t>(std::min<uint64_t>(size, kChunk))) {}

TReaderInput::TReaderInput(TStream& stream)
    : TReaderInput(stream, static_cast<uint64_t>(std::max<int64_t>(stream.Remaining(), 0))) {}

const uint8_t* TReaderInput::Need(size_t count) {
  if (Available() < count) {
    if (Remaining() < count) throw EReadError();
    const size_t keep = Available();
    std::memmove(Buffer.data(), Buffer.data() + At, keep);
    At = 0;
    Count = keep;
    if (Buffer.size() < count) Buffer.resize(count);
    const auto more = static_cast<size_t>(std::min<uint64_t>(Left, Buffer.size() - keep));
    Stream.ReadBuffer(Buffer.data() + keep, static_cast<int64_t>(more));
    Count += more;
    Left -= more;
  }
  return Buffer.data() + At;
}

void TReaderInput::DecodeRow(TDecoder& decoder, uint8_t* target, size_t units, size_t rowBytes) {
  uint8_t* dest = target;
  uint8_t* const end = target + rowBytes;
  size_t want = 0;  // the decoder may finish the row with what it holds and what is here
  while (dest < end) {
    const uint8_t* const start = Need(want);
    const uint8_t* source = start;
    uint8_t* const before = dest;
    decoder.Decode(source, dest, Available(), static_cast<size_t>(end - dest) * units / rowBytes);
    Consume(static_cast<size_t>(source - start));
    // Nothing decoded: the next packet goes on past the window, which must hold more.
    want = source == start && dest == before ? Available() + 1 : 0;
  }
}

}  // namespace muralo
