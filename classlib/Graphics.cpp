#include "classlib/Graphics.h"

#include "classlib/Exception.h"
#include "classlib/Format.h"
#include "classlib/Streams.h"

namespace muralo {

TGraphicClass TGraphic::StaticClass() {
  static const TGraphicClassInfo info{"TGraphic", nullptr, nullptr, nullptr};
  return &info;
}

void TGraphic::LoadFromFile(const std::string& fileName) {
  TFileStream stream(fileName, TFileMode::fmOpenRead);
  LoadFromStream(stream);
}

void TGraphic::SaveToFile(const std::string& fileName) {
  TFileStream stream(fileName, TFileMode::fmCreate);
  SaveToStream(stream);
}

void TGraphic::Assign(const TGraphic& source) {
  throw EConvertError(Format(SAssignError, source.ClassType()->Name, ClassType()->Name));
}

std::unique_ptr<TGraphic> TGraphic::Clone() const {
  if (!ClassType()->Create) throw EConvertError(Format(SCopyError, ClassType()->Name));
  auto copy = ClassType()->Create();
  copy->Assign(*this);
  return copy;
}

void TGraphic::Changed() {
  if (OnChange) OnChange(*this);
}

void TGraphic::Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow, const TRect& r,
                        const std::string& msg) {
  if (OnProgress) OnProgress(*this, stage, percentDone, redrawNow, r, msg);
}

}  // namespace muralo
