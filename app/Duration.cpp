#include "app/Duration.h"

namespace muralo {

const char* const SDurationNegative = "La durée ne peut pas être négative";
const char* const SDurationTooLong = "La durée doit rester inférieure à 50 jours (4294967295 millisecondes au plus)";
const char* const SDurationUnknownUnit = "Unité inconnue : choisissez secondes, minutes, heures ou jours";

TShownDuration ShowDuration(uint32_t milliseconds) {
  uint8_t unit = 0;
  while (unit + 1 < DurationUnitCount && milliseconds >= DurationUnits[unit].ShownBelow) ++unit;
  return {milliseconds / DurationUnits[unit].Factor, unit};
}

uint8_t DurationUnitOfText(const std::string& text) {
  for (int i = 0; i < DurationUnitCount; ++i)
    if (text == DurationUnits[i].Name) return static_cast<uint8_t>(i);
  return duNone;
}

uint32_t DurationMilliseconds(const std::string& countText, uint8_t unit) {
  const int count = StrToInt(countText);
  if (unit >= DurationUnitCount) throw EDurationError(SDurationUnknownUnit);
  if (count < 0) throw EDurationError(SDurationNegative);
  const uint64_t product = static_cast<uint64_t>(count) * DurationUnits[unit].Factor;
  if (product > UINT32_MAX) throw EDurationError(SDurationTooLong);
  return static_cast<uint32_t>(product);
}

}  // namespace muralo
