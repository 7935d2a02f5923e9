// One-dimensional CCITT fax decoders (ITU-T T.4 Modified Huffman coding) for TIFF compression 2,
// 3 and 32771.
//
// The codes are read bit by bit through a binary tree per colour. Output rows are bilevel, first
// pixel in the most significant bit, 1 for black; a white run only moves the output position
// because the output is cleared first. Every write is checked against the end of the output and
// every read against the end of the input.

#include <algorithm>
#include <array>
#include <cstring>

#include "imaging/Graphicstrings.h"
#include "imaging/compression/CCITTCodes.h"
#include "imaging/compression/CCITTDecoders.h"

#include "classlib/Format.h"

namespace muralo {

namespace {

// TIFF FillOrder 2: bits are stored least significant first. Instead of reversing the caller's
// buffer in place, every byte is read through this table.
constexpr std::array<uint8_t, 256> MakeReverseTable() {
  std::array<uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = 0;
    for (unsigned bit = 0; bit < 8; ++bit)
      if (i & (1u << bit)) r |= 0x80u >> bit;
    table[i] = static_cast<uint8_t>(r);
  }
  return table;
}
constexpr std::array<uint8_t, 256> ReverseBits = MakeReverseTable();

void AddCode(TStateArray& states, const ccitt::TCode& code) {
  uint32_t node = 0;
  for (const char* p = code.Bits; *p != '\0'; ++p) {
    const int bit = *p == '1' ? 1 : 0;
    if (states[node].NewState[bit] == 0) {
      states.push_back(TStateEntry{});
      states[node].NewState[bit] = static_cast<uint32_t>(states.size() - 1);
    }
    node = states[node].NewState[bit];
  }
  states[node].RunLength = code.RunLength;
}

template <size_t N>
void AddCodes(TStateArray& states, const ccitt::TCode (&codes)[N]) {
  for (const ccitt::TCode& code : codes) AddCode(states, code);
}

// A run sum far beyond any real row; long chains of make-up codes saturate here.
constexpr int64_t MaxRunSum = int64_t(1) << 30;

}  // namespace

TCCITTDecoder::TCCITTDecoder(uint32_t AOptions, bool ASwapBits, bool AWordAligned, uint32_t AWidth)
    : Options(AOptions), SwapBits(ASwapBits), Width(AWidth), WordAligned(AWordAligned) {
  MakeStates();
}

void TCCITTDecoder::MakeStates() {
  for (TStateArray* states : {&WhiteStates, &BlackStates}) {
    const bool white = states == &WhiteStates;
    states->assign(1, TStateEntry{});
    AddCodes(*states, white ? ccitt::WhiteTerminatingCodes : ccitt::BlackTerminatingCodes);
    AddCodes(*states, white ? ccitt::WhiteMakeUpCodes : ccitt::BlackMakeUpCodes);
    AddCodes(*states, ccitt::ExtendedMakeUpCodes);
    AddCode(*states, ccitt::EndOfLineCode);
    AddCodes(*states, ccitt::InvalidCodes);
  }
  WhiteSteps = MakeNibbleSteps(WhiteStates);
  BlackSteps = MakeNibbleSteps(BlackStates);
  // The trees are the same for every decoder: their tables of whole codes are made once.
  static const TWholeCodes whiteCodes = MakeWholeCodes(WhiteStates);
  static const TWholeCodes blackCodes = MakeWholeCodes(BlackStates);
  WhiteCodes = whiteCodes.data();
  BlackCodes = blackCodes.data();
}

// The bit-wise walk of FindCode done ahead for every 13-bit pattern: where it ends a code (at a
// node without a transition for the following bit, so that bit too must lie inside the pattern,
// unless the node has no transitions at all) and with which run.
TCCITTDecoder::TWholeCodes TCCITTDecoder::MakeWholeCodes(const TStateArray& States) {
  TWholeCodes codes(size_t{1} << WholeCodeBits, TWholeCode{0, 0});
  for (uint32_t pattern = 0; pattern < codes.size(); ++pattern) {
    uint32_t node = 0;
    for (uint8_t taken = 0;; ++taken) {
      const bool leaf = States[node].NewState[0] == 0 && States[node].NewState[1] == 0;
      if (taken == WholeCodeBits) {
        if (leaf) codes[pattern] = TWholeCode{static_cast<int16_t>(States[node].RunLength), taken};
        break;
      }
      const uint32_t next = States[node].NewState[(pattern >> (WholeCodeBits - 1 - taken)) & 1];
      if (next == 0) {
        if (taken > 0) codes[pattern] = TWholeCode{static_cast<int16_t>(States[node].RunLength), taken};
        break;
      }
      node = next;
    }
  }
  return codes;
}

TCCITTDecoder::TNibbleSteps TCCITTDecoder::MakeNibbleSteps(const TStateArray& States) {
  TNibbleSteps steps(States.size() * 16);
  for (uint32_t start = 0; start < States.size(); ++start)
    for (uint32_t nibble = 0; nibble < 16; ++nibble) {
      uint32_t node = start;
      uint8_t taken = 0;
      bool stops = false;
      for (; taken < 4; ++taken) {
        const uint32_t next = States[node].NewState[(nibble >> (3 - taken)) & 1];
        if (next == 0) {
          stops = true;
          break;
        }
        node = next;
      }
      steps[start * 16 + nibble] = TNibbleStep{static_cast<uint16_t>(node), taken, stops};
    }
  return steps;
}

void TCCITTDecoder::StartBlock(const uint8_t* ASource, uint8_t* ADest, size_t APackedSize, size_t AUnpackedSize) {
  const size_t room = AUnpackedSize;
  if (room > 0) std::memset(ADest, 0, room);
  Source = ASource;
  SourceStart = ASource;
  PackedSize = APackedSize;
  BitsLeft = 0;
  Mask = 0;
  Bits = 0;
  Target = ADest;
  TargetEnd = ADest + room;
  RestWidth = Width;
  FreeTargetBits = 8;
}

bool TCCITTDecoder::NextBit() {
  if (BitsLeft == 0 && PackedSize > 0) {
    Bits = SwapBits ? ReverseBits[*Source] : *Source;
    ++Source;
    Mask = 0x80;
    BitsLeft = 8;
    --PackedSize;
  }
  const bool bit = (Bits & Mask) != 0;
  Mask >>= 1;
  if (BitsLeft > 0) --BitsLeft;
  return bit;
}

inline int32_t TCCITTDecoder::FindCode(const TStateArray& States, const TNibbleSteps& Steps, const TWholeCode* Whole,
                                       int64_t sum) {
  // Whole codes while at least two more bytes follow the current one: the 13 bits ahead are then
  // all there, and the byte holding the bit after the code can be loaded as the walk loads it.
  while (PackedSize >= 2) {
    const uint32_t b0 = SwapBits ? ReverseBits[Source[0]] : Source[0];
    const uint32_t b1 = SwapBits ? ReverseBits[Source[1]] : Source[1];
    const uint32_t ahead = (uint32_t{Bits} & ((1u << BitsLeft) - 1)) << 16 | b0 << 8 | b1;
    const TWholeCode code = Whole[(ahead >> (BitsLeft + 16 - WholeCodeBits)) & ((1u << WholeCodeBits) - 1)];
    if (code.Bits == 0) break;
    if (code.Bits < BitsLeft) {
      BitsLeft = static_cast<uint8_t>(BitsLeft - code.Bits);
      Mask = static_cast<uint8_t>(Mask >> code.Bits);
    } else {
      // The bit after the code lies in one of the next two bytes.
      const unsigned past = code.Bits - BitsLeft;
      const unsigned bytes = past / 8;
      Bits = static_cast<uint8_t>(bytes == 0 ? b0 : b1);
      Source += bytes + 1;
      PackedSize -= bytes + 1;
      BitsLeft = static_cast<uint8_t>(8 - past % 8);
      Mask = static_cast<uint8_t>(0x80u >> (past % 8));
    }
    sum = std::min<int64_t>(sum + code.Run, MaxRunSum);
    // T.4 4.1.1: a make-up code is followed by a terminating code (or by a further make-up code
    // for runs beyond 2560) of the same colour.
    if (code.Run < 64) return static_cast<int32_t>(sum);
  }
  return FindCodeBitwise(States, Steps, sum);
}

// Reads a code bit by bit, after the run sum of any make-up codes read before it.
int32_t TCCITTDecoder::FindCodeBitwise(const TStateArray& States, const TNibbleSteps& Steps, int64_t sum) {
  uint32_t node = 0;
  for (;;) {
    if (BitsLeft == 0) {
      // The data ends here: a code that has just been completed still counts.
      if (PackedSize == 0) return static_cast<int32_t>(std::min(sum + States[node].RunLength, MaxRunSum));
      Bits = SwapBits ? ReverseBits[*Source] : *Source;
      ++Source;
      Mask = 0x80;
      BitsLeft = 8;
      --PackedSize;
    }
    if (BitsLeft >= 4) {
      // Walk the next four bits of this byte at once; where the walk stops, the bit-wise step
      // below finishes the code.
      const TNibbleStep& step = Steps[node * 16 + ((Bits >> (BitsLeft - 4)) & 0x0F)];
      Mask = static_cast<uint8_t>(Mask >> step.Bits);
      BitsLeft = static_cast<uint8_t>(BitsLeft - step.Bits);
      node = step.Node;
      if (!step.Stops) continue;
    }
    const int bit = (Bits & Mask) != 0 ? 1 : 0;
    uint32_t next = States[node].NewState[bit];
    if (next == 0) {
      // The code ending at node is complete; the current bit belongs to the next code.
      const int32_t run = States[node].RunLength;
      sum = std::min(sum + run, MaxRunSum);
      if (run < 64) return static_cast<int32_t>(sum);
      // T.4 4.1.1: a make-up code is followed by a terminating code (or by a further make-up
      // code for runs beyond 2560) of the same colour.
      next = States[0].NewState[bit];
    }
    Mask >>= 1;
    --BitsLeft;
    node = next;
  }
}

inline int32_t TCCITTDecoder::FindWhiteCode(int64_t Sum) { return FindCode(WhiteStates, WhiteSteps, WhiteCodes, Sum); }
inline int32_t TCCITTDecoder::FindBlackCode(int64_t Sum) { return FindCode(BlackStates, BlackSteps, BlackCodes, Sum); }

// Sets the bits from..to (exclusive) counted from the first bit of `row`, from < to.
static void SetBitRange(uint8_t* row, size_t from, size_t to) {
  const size_t first = from / 8, last = (to - 1) / 8;
  const uint8_t head = static_cast<uint8_t>(0xFFu >> (from % 8));
  const uint8_t tail = static_cast<uint8_t>(0xFF00u >> ((to - 1) % 8 + 1));
  if (first == last) {
    row[first] |= static_cast<uint8_t>(head & tail);
    return;
  }
  row[first] |= head;
  const size_t whole = last - first - 1;
  if (whole <= 8) {
    for (size_t i = 1; i <= whole; ++i) row[first + i] = 0xFF;
  } else {
    std::memset(row + first + 1, 0xFF, whole);
  }
  row[last] |= tail;
}

// The run starts at the free bits of the current byte. A run is not clipped at the row end, only
// at the end of the output.
inline bool TCCITTDecoder::FillRun(uint32_t RunLength) {
  const size_t room = static_cast<size_t>(TargetEnd - Target);
  const size_t from = 8u - FreeTargetBits;
  const size_t to = from + RunLength;
  if (!IsWhite && room > 0) {
    const size_t end = std::min(to, room * 8);
    if (end > from) SetBitRange(Target, from, end);
  }
  Target += std::min(to / 8, room);
  FreeTargetBits = static_cast<uint8_t>(8 - to % 8);
  RestWidth -= std::min(RunLength, RestWidth);
  return RestWidth == 0;
}

void TCCITTDecoder::EndRow() {
  IsWhite = false;
  if (FreeTargetBits >= 1 && FreeTargetBits <= 7 && Target < TargetEnd) ++Target;
  FreeTargetBits = 8;
  RestWidth = Width;
}

// ---------------------------------------------------------------------------------------------

TCCITTFax3Decoder::TCCITTFax3Decoder(uint32_t AOptions, bool ASwapBits, bool AWordAligned, uint32_t AWidth)
    : TCCITTDecoder(AOptions, ASwapBits, AWordAligned, AWidth) {
  // TIFF 6.0 T4Options bit 0: two-dimensional coding (T.4 4.2), which this decoder does not read.
  if (AOptions & 1) CompressionError(Format(gesUnsupportedFeature, gesFax2DCoding, "TIF/TIFF"));
}

// The row loop of Decode below on local copies of the reader's and the writer's state, while whole
// codes can be read from the table (the rest of the row then goes through FindCode). Answers
// whether the row ended; MadeUp receives the run of make-up codes read before a code the table
// could not read.
bool TCCITTFax3Decoder::DecodeRowFast(uint32_t& EndOfLines, int64_t& MadeUp) {
  const uint8_t* source = Source;
  size_t packed = PackedSize;
  unsigned bits = Bits, bitsLeft = BitsLeft;
  uint8_t* target = Target;
  unsigned freeBits = FreeTargetBits;
  uint32_t rest = RestWidth;
  bool white = IsWhite;
  bool moved = false, ended = false;
  int64_t sum = 0;
  while (packed >= 2) {
    const uint32_t b0 = SwapBits ? ReverseBits[source[0]] : source[0];
    const uint32_t b1 = SwapBits ? ReverseBits[source[1]] : source[1];
    const uint32_t ahead = (bits & ((1u << bitsLeft) - 1)) << 16 | b0 << 8 | b1;
    // The table is chosen in a statement of its own: GCC 12 with -fsanitize=undefined at -O0 reads
    // a subscript of the conditional expression itself from the wrong place.
    const TWholeCode* table = white ? WhiteCodes : BlackCodes;
    const TWholeCode code = table[(ahead >> (bitsLeft + 16 - WholeCodeBits)) & ((1u << WholeCodeBits) - 1)];
    if (code.Bits == 0) break;
    moved = true;
    if (code.Bits < bitsLeft) {
      bitsLeft -= code.Bits;
    } else {
      const unsigned past = code.Bits - bitsLeft;
      const unsigned bytes = past / 8;
      bits = bytes == 0 ? b0 : b1;
      source += bytes + 1;
      packed -= bytes + 1;
      bitsLeft = 8 - past % 8;
    }
    sum = std::min<int64_t>(sum + code.Run, MaxRunSum);
    if (code.Run >= 64) continue;  // a make-up code: the terminating code follows
    const int32_t run = static_cast<int32_t>(sum);
    sum = 0;
    if (run > 0) {
      // FillRun on the local state.
      const size_t room = static_cast<size_t>(TargetEnd - target);
      const size_t from = 8u - freeBits;
      const size_t to = from + static_cast<uint32_t>(run);
      if (!white && room > 0) {
        const size_t end = std::min(to, room * 8);
        // Runs inside the current byte are set here, longer ones by SetBitRange (from < 8).
        if (end <= 8)
          target[0] |= static_cast<uint8_t>((0xFFu >> from) & (0xFF00u >> end));
        else
          SetBitRange(target, from, end);
      }
      target += std::min(to / 8, room);
      freeBits = 8 - to % 8;
      rest -= std::min(static_cast<uint32_t>(run), rest);
      if (rest == 0) {
        ended = true;
        break;
      }
      white = !white;
    } else if (run == 0) {
      white = !white;
    } else {
      if (run == ccitt::RunEndOfLine) ++EndOfLines;
      ended = true;
      break;
    }
  }
  if (moved) {
    Source = source;
    PackedSize = packed;
    Bits = static_cast<uint8_t>(bits);
    BitsLeft = static_cast<uint8_t>(bitsLeft);
    Mask = static_cast<uint8_t>(1u << (bitsLeft - 1));
    Target = target;
    FreeTargetBits = static_cast<uint8_t>(freeBits);
    RestWidth = rest;
    IsWhite = white;
  }
  MadeUp = sum;
  return ended;
}

void TCCITTFax3Decoder::Decode(const uint8_t*& ASource, uint8_t*& ADest, size_t APackedSize, size_t AUnpackedSize) {
  StartBlock(ASource, ADest, APackedSize, AUnpackedSize);
  uint32_t endOfLines = 0;
  for (;;) {
    if (endOfLines == 0) {
      // Synchronise on the next EOL: eleven 0 bits (after any fill bits) and a 1.
      uint32_t zeros = 0;
      while (zeros < 11 && SourceLeft()) zeros = NextBit() ? 0 : zeros + 1;
      while (SourceLeft() && !NextBit()) {
      }
    }
    endOfLines = 0;
    IsWhite = true;
    int64_t madeUp = 0;
    bool ended = DecodeRowFast(endOfLines, madeUp);
    while (!ended && SourceLeft()) {
      const int32_t code = IsWhite ? FindWhiteCode(madeUp) : FindBlackCode(madeUp);
      madeUp = 0;
      if (code > 0) {
        if (FillRun(static_cast<uint32_t>(code))) break;
        IsWhite = !IsWhite;
      } else if (code == 0) {
        IsWhite = !IsWhite;
      } else {
        if (code == ccitt::RunEndOfLine) ++endOfLines;
        break;  // an EOL inside the row, or an invalid code, ends the row early
      }
    }
    EndRow();
    if (!SourceLeft() || !TargetLeft()) break;
  }
}

// ---------------------------------------------------------------------------------------------

void TCCITTMHDecoder::Decode(const uint8_t*& ASource, uint8_t*& ADest, size_t APackedSize, size_t AUnpackedSize) {
  StartBlock(ASource, ADest, APackedSize, AUnpackedSize);
  IsWhite = true;
  while (SourceLeft() && TargetLeft()) {
    const int32_t code = IsWhite ? FindWhiteCode() : FindBlackCode();
    if (code > 0 && FillRun(static_cast<uint32_t>(code))) {
      EndRow();
      // TIFF 6.0 section 10: each row of compression 2 begins on a byte boundary, of 32771 on a
      // word boundary. A byte loaded but not yet touched already starts the next row.
      const bool untouched = BitsLeft == 8;
      if (!untouched) BitsLeft = 0;
      if (WordAligned) {
        const size_t used = static_cast<size_t>(Source - SourceStart) - (untouched ? 1 : 0);
        if (used % 2 != 0) {
          if (untouched) {
            BitsLeft = 0;  // the loaded byte is the pad byte
          } else if (PackedSize > 0) {
            ++Source;
            --PackedSize;
          }
        }
      }
    }
    IsWhite = !IsWhite;
  }
}

}  // namespace muralo
