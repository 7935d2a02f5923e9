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

int32_t TCCITTDecoder::FindCode(const TStateArray& States, const TNibbleSteps& Steps) {
  int64_t sum = 0;
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

int32_t TCCITTDecoder::FindWhiteCode() { return FindCode(WhiteStates, WhiteSteps); }
int32_t TCCITTDecoder::FindBlackCode() { return FindCode(BlackStates, BlackSteps); }

void TCCITTDecoder::SetBits(uint8_t Value) {
  if (Target < TargetEnd) *Target |= Value;
}

bool TCCITTDecoder::FillRun(uint32_t RunLength) {
  const bool black = !IsWhite;
  uint32_t n = RunLength;
  // Complete a partly used byte (or start one when the run is shorter than a byte).
  const uint32_t k = std::min<uint32_t>(n, FreeTargetBits);
  if (k >= 1 && k <= 7) {
    FreeTargetBits = static_cast<uint8_t>(FreeTargetBits - k);
    if (black) SetBits(static_cast<uint8_t>(((1u << k) - 1) << FreeTargetBits));
    if (FreeTargetBits == 0) {
      if (Target < TargetEnd) ++Target;
      FreeTargetBits = 8;
    }
    n -= k;
  }
  // Whole bytes. A run is not clipped at the row end, only at the end of the output.
  const size_t room = static_cast<size_t>(TargetEnd - Target);
  const size_t bytes = std::min<size_t>(n / 8, room);
  if (black && bytes > 0) std::memset(Target, 0xFF, bytes);
  Target += bytes;
  n %= 8;
  if (n > 0) {
    FreeTargetBits = static_cast<uint8_t>(8 - n);
    if (black) SetBits(static_cast<uint8_t>(((1u << n) - 1) << (8 - n)));
  }
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
    while (SourceLeft()) {
      const int32_t code = IsWhite ? FindWhiteCode() : FindBlackCode();
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
