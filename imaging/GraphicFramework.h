#pragma once
// TFrameworkGraphic: the base of every image reader of the framework. It is a TBitmap that a
// reader decodes into row by row, plus the colour manager that converts the file's rows into the
// bitmap's layout, the image-properties record filled from the file header, and the class-level
// content test CanLoad through which the registry finds a reader for a file.
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"
#include "imaging/ImageTypes.h"
#include "imaging/color/GraphicColor.h"

namespace muralo {

class TStream;
class TColorManager;
class TResourceTable;
class TDecoder;

// What a reader asks of the colour manager: the file's layout, the bitmap's layout and the options
// of both sides (see TColorManager).
struct TColorSetup {
  TColorScheme SourceScheme = csUnknown;
  uint8_t SourceBitsPerSample = 8;
  uint8_t SourceSamplesPerPixel = 1;
  TColorScheme TargetScheme = csUnknown;
  uint8_t TargetBitsPerSample = 8;
  uint8_t TargetSamplesPerPixel = 1;
  TConvertOptions SourceOptions{};
};

class TFrameworkGraphic : public TBitmap {
  MURALO_GRAPHIC_CLASS(TFrameworkGraphic)
 public:
  TFrameworkGraphic();
  ~TFrameworkGraphic() override;

  // Copies the image-properties record when the source is a framework graphic, then assigns the
  // bitmap as TBitmap does for any source.
  void Assign(const TGraphic& source) override;

  // Class-level content test of the base: no content is recognised.
  static bool CanLoad(TStream& stream);
  // Opens the file for reading (other writers denied) and asks the class's own content test.
  // A file that cannot be opened raises EFOpenError.
  static bool CanLoad(const std::string& fileName, TGraphicClass graphicClass);

  // Resets the record (arrays released, every field zero/false/empty, FileGamma 1.0) and answers
  // false. Readers call this first, then parse their header from BasePosition.
  virtual bool ReadImageProperties(TStream& stream, uint32_t imageIndex);

  // The load skeleton every reader runs: releases the image, records BasePosition, parses the
  // header into the record (ReadImageProperties), then, with the stream back at BasePosition and
  // the progress started, lets the reader validate, prepare the bitmap and decode (LoadImage). The
  // progress ends on every path, also when a step raises. Readers supply the steps, not this.
  void LoadFromStream(TStream& stream) final;

  // Load the resource of type RCDATA (10) with that numeric identifier or name from the module's
  // resource table (HInstance() for the program) and read it through LoadFromStream.
  void LoadFromResourceID(const TResourceTable* instance, uint32_t resourceID);
  void LoadFromResourceName(const TResourceTable* instance, const std::string& resourceName);

  TColorManager& ColorManager() { return *FColorManager; }
  TImageProperties ImageProperties;

 protected:
  // --- The reader's steps -------------------------------------------------------------------
  // A header that ReadImageProperties refuses (answers false) gives, with a label, the
  // invalid-graphic error gesInvalidImage filled with it; without one (the default), an empty image.
  virtual const char* RefusedHeaderLabel() const { return nullptr; }
  // The image of a multi-image file that loading reads (its record is parsed for that index).
  virtual uint32_t LoadedImageIndex() const { return 0; }
  // Readers with a set-up stage before their rows (colour map, palette, tables) start the progress
  // with gesPreparing and call BeginRows when the rows start; the others start with gesTransfering.
  virtual bool HasPreparingStage() const { return false; }
  // Validate and decode: the reader's own work, the stream at BasePosition. Per-load state lives in
  // locals here, never in members. The base loads nothing.
  virtual void LoadImage(TStream& stream);

  // --- Helpers of the steps -----------------------------------------------------------------
  // Ends the preparing stage and starts the rows' stage (gesTransfering).
  void BeginRows();
  // Sets up the colour manager, gives the bitmap the pixel format the manager names and answers it
  // (pfCustom when the manager has none).
  TPixelFormat SetupColors(const TColorSetup& setup);

  // Progress conventions shared by the readers: the rectangle starts as the first row of the
  // image and moves down one row after each row reported.
  void InitProgress(uint32_t width);
  void StartProgress(const char* message);
  void EndProgress();
  // Running progress after rowsDone of height rows: percentage rounded to the nearest integer.
  void RowProgress(uint32_t rowsDone, uint32_t height);

  // Gives the bitmap the size from the record, refusing sizes past the memory limit before
  // anything is allocated.
  void SizeFromProperties();
  // The same, after the memory limit refusing with EReadError a stream whose bytes left cannot
  // hold `leastBytes`, the smallest encoding of the declared pixels.
  void SizeFromProperties(TStream& stream, uint64_t leastBytes);

  std::unique_ptr<TColorManager> FColorManager;
  int64_t BasePosition = 0;
  TStream* Stream = nullptr;
  TRect ProgressRect;
};

// The class-reference type of the framework's readers.
using TFrameworkGraphicClass = TGraphicClass;

// Whether a class reference names TFrameworkGraphic or a class derived from it.
bool IsFrameworkClass(TGraphicClass graphicClass);

// Ends the progress with a final "ending" notification when the scope is left, also when loading
// fails (an error raised by the progress handler itself is dropped there, the first error wins).
class TProgressScope {
 public:
  explicit TProgressScope(std::function<void()> finish) : Finish(std::move(finish)) {}
  ~TProgressScope();
  TProgressScope(const TProgressScope&) = delete;
  TProgressScope& operator=(const TProgressScope&) = delete;

 private:
  std::function<void()> Finish;
};

// Peeks at the next count bytes without moving the stream: answers false (and reads nothing)
// when fewer than minRemaining bytes remain. Every CanLoad goes through it, so none raises for
// short data and all restore the position.
bool PeekHeader(TStream& stream, void* buffer, int64_t count, int64_t minRemaining);

// Overflow-checked size arithmetic for sizes computed from header fields: raises EInvalidGraphic
// with gesInvalidImage filled with the label when the product does not fit.
uint64_t CheckedMul(uint64_t a, uint64_t b, const char* label);
uint64_t CheckedAdd(uint64_t a, uint64_t b, const char* label);
// The checked narrowing of a file's 64-bit size to the size_t the decoders and buffers take.
size_t CheckedSize(uint64_t value, const char* label);

// Decodes one row (units: what the decoder's UnpackedSize counts) from [source, end) into exactly
// rowBytes at target and moves source past what the row took. Data that ends before the row is
// complete is a truncated file: EReadError.
void DecodeRow(TDecoder& decoder, const uint8_t*& source, const uint8_t* end, uint8_t* target, size_t units,
               size_t rowBytes);

// Rows of up to four planes (channels stored apart) in one buffer, as ConvertRow takes them.
class TPlaneRows {
 public:
  TPlaneRows(size_t planes, size_t planeBytes);
  uint8_t* operator[](size_t plane) { return Planes[plane]; }
  // The first `count` planes, for ConvertRow.
  TPointerArray Pointers(size_t count) const;

 private:
  std::vector<uint8_t> Buffer;
  std::array<uint8_t*, 4> Planes{};
};

// Brings samples of 1 to 16 bits (one byte each up to 8 bits, else big-endian words) to 8 bits:
// value x 255 div (2^bits - 1), values above the maximum taken as the maximum.
void ReduceSamplesTo8(const uint8_t* source, uint32_t bitsPerSample, uint8_t* target, size_t count);

}  // namespace muralo
