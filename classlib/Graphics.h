#pragma once
// The common graphic class of the class library and the small types every picture class shares:
// rectangles, colours, class references, change and progress notifications.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace muralo {

class TStream;
class TCanvas;
class TGraphic;

struct TRect {
  int32_t Left = 0, Top = 0, Right = 0, Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  bool operator==(const TRect&) const = default;
};

struct TPoint {
  int32_t X = 0, Y = 0;
  bool operator==(const TPoint&) const = default;
};

// A Windows COLORREF: 0x00BBGGRR.
using TColor = uint32_t;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
constexpr uint8_t GetRValue(TColor c) { return uint8_t(c); }
constexpr uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
constexpr uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) { return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16); }

// Class references. Every picture class has one static TGraphicClassInfo: its name, its parent's
// record (for "derives from" tests), a factory, and for the framework's readers the class-level
// content test CanLoad.
struct TGraphicClassInfo {
  const char* Name;
  const TGraphicClassInfo* Parent;
  std::unique_ptr<TGraphic> (*Create)();   // null for abstract classes
  bool (*CanLoadStream)(TStream& stream);  // null for classes without a content test
  bool InheritsFrom(const TGraphicClassInfo* base) const {
    for (auto* c = this; c; c = c->Parent)
      if (c == base) return true;
    return false;
  }
};
using TGraphicClass = const TGraphicClassInfo*;

enum class TProgressStage { psStarting, psRunning, psEnding };

using TNotifyEvent = std::function<void(TGraphic& sender)>;
using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                                          const TRect& r, const std::string& msg)>;

class TGraphic {
 public:
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  static TGraphicClass StaticClass();
  virtual TGraphicClass ClassType() const = 0;
  bool InheritsFrom(TGraphicClass c) const { return ClassType()->InheritsFrom(c); }

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual bool Empty() const { return Width() == 0 || Height() == 0; }

  // Draws the picture into rect of the canvas's bitmap, stretched when rect is not the picture's size.
  virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;

  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  // Opens the file for reading with other writers denied and hands it to LoadFromStream.
  virtual void LoadFromFile(const std::string& fileName);
  virtual void SaveToFile(const std::string& fileName);

  // Copies another picture into this one; raises EConvertError when the classes do not fit.
  virtual void Assign(const TGraphic& source);
  // A new object of the same class holding a copy of this picture.
  std::unique_ptr<TGraphic> Clone() const;

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;

 protected:
  TGraphic() = default;
  void Changed();
  void Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& r, const std::string& msg);
};

// Declares the class-reference members in a picture class.
#define MURALO_GRAPHIC_CLASS(Self)              \
 public:                                        \
  static ::muralo::TGraphicClass StaticClass(); \
  ::muralo::TGraphicClass ClassType() const override { return StaticClass(); }

// Defines them in the class's source file. CanLoadFn is a static bool(TStream&) or nullptr.
#define MURALO_DEFINE_GRAPHIC_CLASS(Self, Parent, CanLoadFn)                                                   \
  ::muralo::TGraphicClass Self::StaticClass() {                                                                \
    static const ::muralo::TGraphicClassInfo info{                                                             \
        #Self, Parent::StaticClass(),                                                                          \
        []() -> std::unique_ptr<::muralo::TGraphic> { return std::unique_ptr<::muralo::TGraphic>(new Self); }, \
        CanLoadFn};                                                                                            \
    return &info;                                                                                              \
  }

}  // namespace muralo
