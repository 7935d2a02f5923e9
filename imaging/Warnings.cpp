#include "imaging/Warnings.h"

#include <utility>

namespace muralo {

namespace {
TWarningHandler& Handler() {
  static TWarningHandler handler;
  return handler;
}
}  // namespace

TWarningHandler SetWarningHandler(TWarningHandler handler) { return std::exchange(Handler(), std::move(handler)); }

void RaiseWarning(const std::string& title, const std::string& text) {
  if (Handler()) Handler()(title, text);
}

}  // namespace muralo
