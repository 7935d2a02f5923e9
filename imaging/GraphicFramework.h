#pragma once
// TFrameworkGraphic: the base of every image reader of the framework. It is a TBitmap that a
// reader decodes into row by row, plus the colour manager that converts the file's rows into the
// bitmap's layout, the image-properties record filled from the file header, and the class-level
// content test CanLoad through which the registry finds a reader for a file.
#include <cstdint>
#include <memory>
#include <string>

#include "classlib/Bitmap.h"
#include "classlib/Graphics.h"
#include "imaging/ImageTypes.h"

namespace muralo {

class TStream;
class TColorManager;
class TResourceTable;

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

  // Load the resource of type RCDATA (10) with that numeric identifier or name from the module's
  // resource table (HInstance() for the program) and read it through LoadFromStream.
  void LoadFromResourceID(const TResourceTable* instance, uint32_t resourceID);
  void LoadFromResourceName(const TResourceTable* instance, const std::string& resourceName);

  TColorManager& ColorManager() { return *FColorManager; }
  TImageProperties ImageProperties;

protected:
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

}  // namespace muralo
