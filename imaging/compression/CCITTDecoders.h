#pragma once
// The CCITT fax decoders (ITU-T T.4 Modified Huffman) for TIFF compressions 2, 3 and 32771.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/compression/Decoder.h"

namespace muralo {

// CCITT fax decoders: one-dimensional Modified Huffman coding of ITU-T T.4 into 1-bit rows
// (first pixel in the most significant bit, 1 = black, each row starting on a new byte, so a row
// takes (Width + 7) div 8 bytes). Neither encodes; neither moves Source or Dest. The compressed
// data is never modified (bit-reversed input is read through a table).

// One node of a code tree.
struct TStateEntry {
  uint32_t NewState[2] = {0, 0};  // next node for bit 0 and bit 1; 0 = no transition
  int32_t RunLength = 0;          // run length of the code ending here; -1 end of line; -2 invalid
};
using TStateArray = std::vector<TStateEntry>;

class TCCITTDecoder : public TDecoder {
 public:
  // AOptions: the TIFF T4Options value; ASwapBits: bytes store their bits least significant first
  // (TIFF FillOrder 2); AWordAligned: rows of compressed data start on even byte offsets.
  TCCITTDecoder(uint32_t AOptions, bool ASwapBits, bool AWordAligned, uint32_t AWidth);

  // The code trees, built from the T.4 tables at construction (exposed for tests).
  const TStateArray& GetWhiteStates() const { return WhiteStates; }
  const TStateArray& GetBlackStates() const { return BlackStates; }

 protected:
  void MakeStates();
  bool NextBit();
  // Sum: the run of make-up codes already read for this code.
  int32_t FindWhiteCode(int64_t Sum = 0);
  int32_t FindBlackCode(int64_t Sum = 0);
  bool FillRun(uint32_t RunLength);
  void EndRow();
  // Sets up the bit reader and the run writer for one Decode call and clears the output.
  void StartBlock(const uint8_t* Source, uint8_t* Dest, size_t PackedSize, size_t UnpackedSize);
  bool SourceLeft() const { return BitsLeft > 0 || PackedSize > 0; }
  bool TargetLeft() const { return Target < TargetEnd; }

  uint32_t Options;
  bool IsWhite = false;
  bool SwapBits;
  TStateArray WhiteStates;
  TStateArray BlackStates;
  uint32_t Width;
  uint8_t BitsLeft = 0;
  uint8_t Mask = 0;
  uint8_t Bits = 0;
  size_t PackedSize = 0;
  uint32_t RestWidth = 0;
  const uint8_t* Source = nullptr;
  uint8_t* Target = nullptr;
  uint8_t FreeTargetBits = 8;
  bool WordAligned;
  const uint8_t* SourceStart = nullptr;  // the block's first byte
  uint8_t* TargetEnd = nullptr;          // just past the output

 protected:
  // Four bits walked at once from a node: where the walk ends, how many bits it took, and
  // whether it stopped at a node that has no transition for the following bit.
  struct TNibbleStep {
    uint16_t Node;
    uint8_t Bits;
    bool Stops;
  };
  using TNibbleSteps = std::vector<TNibbleStep>;
  static TNibbleSteps MakeNibbleSteps(const TStateArray& States);
  // A whole code read from the next 13 bits at once: its run and its length in bits, or a length
  // of 0 where the walk through the tree would go further (the bit-wise walk then reads it).
  struct TWholeCode {
    int16_t Run;
    uint8_t Bits;
  };
  static constexpr unsigned WholeCodeBits = 13;
  using TWholeCodes = std::vector<TWholeCode>;
  static TWholeCodes MakeWholeCodes(const TStateArray& States);
  int32_t FindCode(const TStateArray& States, const TNibbleSteps& Steps, const TWholeCode* Whole, int64_t Sum);
  [[gnu::noinline]] int32_t FindCodeBitwise(const TStateArray& States, const TNibbleSteps& Steps, int64_t Sum);
  TNibbleSteps WhiteSteps, BlackSteps;
  const TWholeCode* WhiteCodes = nullptr;
  const TWholeCode* BlackCodes = nullptr;
};

// TIFF compression 3 (T.4 one-dimensional, rows introduced by end-of-line codes). T4Options bit 0
// (two-dimensional coding) is refused: the constructor raises EGraphicCompression.
class TCCITTFax3Decoder : public TCCITTDecoder {
 public:
  TCCITTFax3Decoder(uint32_t AOptions, bool ASwapBits, bool AWordAligned, uint32_t AWidth);
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;

 private:
  bool DecodeRowFast(uint32_t& EndOfLines, int64_t& MadeUp);
};

// TIFF compression 2 (Modified Huffman, rows byte aligned, no end-of-line codes) and 32771 (the
// same with rows word aligned).
class TCCITTMHDecoder : public TCCITTDecoder {
 public:
  using TCCITTDecoder::TCCITTDecoder;
  void Decode(const uint8_t*& Source, uint8_t*& Dest, size_t PackedSize, size_t UnpackedSize) override;
};

}  // namespace muralo
