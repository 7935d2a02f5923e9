#pragma once
// Portable bitmaps, grey maps and pixel maps (netpbm "P1" to "P6"), as text or raw bytes. The
// text header is parsed through a small buffered character reader of the reader's own.
#include <cstdint>
#include <string>

#include "imaging/GraphicFramework.h"

namespace muralo {

class TPPMGraphic : public TFrameworkGraphic {
  MURALO_GRAPHIC_CLASS(TPPMGraphic)
public:
  using TFrameworkGraphic::CanLoad;
  static bool CanLoad(TStream& stream);
  bool ReadImageProperties(TStream& stream, uint32_t imageIndex) override;
  void LoadFromStream(TStream& stream) override;

protected:
  static constexpr uint32_t BufferSize = 4096;
  // The character reader over Stream. CharIndex == CharCount means the buffer is used up; only
  // the CharCount bytes of the last refill are ever handed out.
  void EmptyBuffer() { CharIndex = CharCount = 0; }
  // The next unread byte without consuming it; 0 when no byte is left.
  uint8_t CurrentChar();
  // The next byte, consumed; raises gesStreamReadError ("PPM") when the stream has no more.
  uint8_t GetChar();
  // Copies count bytes, consumed, into target (raw rows).
  void GetChars(uint8_t* target, uint32_t count);
  // The line up to CR or LF (consumed, not kept; CR LF counts as one end), cut at its first '#'.
  std::string ReadLine();
  // Skips to the next decimal digit ('#' comments skipped to their line end), reads the number and
  // consumes the first character after it.
  uint32_t GetNumber();

  uint8_t CharBuffer[BufferSize] = {};
  uint32_t CharIndex = 0;
  uint32_t CharCount = 0;

private:
  bool Refill();
  // The kind named by the first line ("P1".."P9" give 1..9); raises EConvertError for a second
  // character that is not a digit, answers -1 when the line does not start with 'P'.
  int ReadKind();
  void ReadRow(int kind, uint8_t* target, uint32_t width, std::vector<uint8_t>& scratch);
};

}  // namespace muralo
