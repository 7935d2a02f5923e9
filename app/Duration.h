#pragma once
// The arithmetic of the timer's duration dialog, apart from its widgets.
//
// A duration is an unsigned 32-bit count of milliseconds (the timer's interval). The dialog shows it
// as a whole number of one of four units, chosen so that the number is normally below 50; the user
// gives a number and a unit back, and the product is the new interval.

#include <cstdint>
#include <string>

#include "classlib/Exception.h"

namespace muralo {

// Unit indexes of the dialog's combo box, in its order.
inline constexpr uint8_t duSecondes = 0;
inline constexpr uint8_t duMinutes = 1;
inline constexpr uint8_t duHeures = 2;
inline constexpr uint8_t duJours = 3;
inline constexpr int DurationUnitCount = 4;
// The unit index when the combo box holds a text the user typed instead of choosing an item.
inline constexpr uint8_t duNone = 255;

struct TDurationUnitInfo {
  const char* Name;     // the combo box item
  uint32_t Factor;      // milliseconds per unit
  uint32_t ShownBelow;  // durations below this (and at or above the previous unit's) show in this unit
};

// One table feeds the combo box, SetDuration's thresholds and OK's product. Each threshold is 50 of
// the smaller unit; days take everything from 180000000 ms up.
inline constexpr TDurationUnitInfo DurationUnits[DurationUnitCount] = {
    {"secondes", 1000, 50000},
    {"minutes", 60000, 3000000},
    {"heures", 3600000, 180000000},
    {"jours", 86400000, UINT32_MAX},
};

// The scroll bar's range.
inline constexpr int DurationScrollMin = 0;
inline constexpr int DurationScrollMax = 50;

// A duration as the dialog shows it: a truncated count of one unit.
struct TShownDuration {
  uint32_t Count = 0;
  uint8_t Unit = duSecondes;
};

// SetDuration's rule: the unit by the thresholds, the count truncated (90000 ms is 1 "minutes").
TShownDuration ShowDuration(uint32_t milliseconds);

// The unit index of a combo box text: the item it names exactly, or duNone.
uint8_t DurationUnitOfText(const std::string& text);

// A count or unit the dialog refuses (negative, too long for the 32-bit interval, unknown unit).
class EDurationError : public Exception {
 public:
  using Exception::Exception;
};

// OK's rule: countText (a whole decimal number, StrToInt) times the unit's factor, in milliseconds.
// Raises EConvertError "'%s' n'est pas une valeur entière correcte" for a text that is not a whole
// number, and EDurationError for a negative count, a product past 4294967295 ms (50 "jours" and more
// would wrap around to a much shorter interval) or a unit that is none of the four.
uint32_t DurationMilliseconds(const std::string& countText, uint8_t unit);

// The messages of EDurationError.
extern const char* const SDurationNegative;
extern const char* const SDurationTooLong;
extern const char* const SDurationUnknownUnit;

}  // namespace muralo
