// The duration arithmetic of the timer dialog: how a stored duration is shown, and what OK makes of
// a count and a unit.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/Duration.h"

namespace muralo {
namespace {

TEST(ShowDuration, ThresholdsAndTruncation) {
  struct Case {
    uint32_t ms;
    uint32_t count;
    uint8_t unit;
  };
  const Case cases[] = {
      {0, 0, duSecondes},                                                             // first run
      {999, 0, duSecondes},       {45000, 45, duSecondes},  {49999, 49, duSecondes},  // last duration shown in seconds
      {50000, 0, duMinutes},                                                          // 50 s is the first in minutes
      {55000, 0, duMinutes},      {90000, 1, duMinutes},  // a minute and a half shows as 1 minute
      {300000, 5, duMinutes},     {2999999, 49, duMinutes}, {3000000, 0, duHeures},
      {172800000, 48, duHeures},  // 2 days is below 180000000: 48 hours
      {179999999, 49, duHeures},  {180000000, 2, duJours},  {259200000, 3, duJours},
      {2073600000, 24, duJours},   // 24 days: still a positive signed 32-bit number
      {2160000000u, 25, duJours},  // 25 days: only unsigned
      {4294967295u, 49, duJours},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ms);
    const TShownDuration shown = ShowDuration(c.ms);
    EXPECT_EQ(shown.Count, c.count);
    EXPECT_EQ(shown.Unit, c.unit);
  }
}

TEST(ShowDuration, ThresholdsAreFiftyOfTheSmallerUnit) {
  for (int u = 0; u + 1 < DurationUnitCount; ++u) {
    SCOPED_TRACE(DurationUnits[u].Name);
    EXPECT_EQ(DurationUnits[u].ShownBelow, 50 * DurationUnits[u].Factor);
    EXPECT_EQ(ShowDuration(DurationUnits[u].ShownBelow - 1).Unit, u);
    EXPECT_EQ(ShowDuration(DurationUnits[u].ShownBelow).Unit, u + 1);
  }
}

TEST(DurationMilliseconds, CountTimesFactor) {
  struct Case {
    const char* text;
    uint8_t unit;
    uint32_t ms;
  };
  const Case cases[] = {
      {"0", duSecondes, 0},
      {"5", duMinutes, 300000},
      {"45", duSecondes, 45000},
      {"55", duSecondes, 55000},
      {"2", duJours, 172800000},
      {"3", duJours, 259200000},
      {"24", duJours, 2073600000},
      {"25", duJours, 2160000000u},
      {"49", duJours, 4233600000u},
      {"1193", duHeures, 4294800000u},
      {"4294967", duSecondes, 4294967000u},
      {" 12 ", duSecondes, 12000},  // StrToInt allows surrounding blanks
      {"+7", duMinutes, 420000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(DurationMilliseconds(c.text, c.unit), c.ms);
  }
}

TEST(DurationMilliseconds, EveryShownDurationComesBackAsItsTruncatedValue) {
  // Reopening the dialog and confirming gives the shown count times its unit.
  for (uint32_t ms : {0u, 45000u, 300000u, 7200000u, 259200000u, 2160000000u}) {
    SCOPED_TRACE(ms);
    const TShownDuration shown = ShowDuration(ms);
    EXPECT_EQ(DurationMilliseconds(std::to_string(shown.Count), shown.Unit), ms);
  }
}

TEST(DurationMilliseconds, RefusesWhatWouldNotBeTheIntendedInterval) {
  struct Case {
    const char* name;
    const char* text;
    uint8_t unit;
    const char* message;
  };
  const Case cases[] = {
      {"50 days wrap around", "50", duJours, SDurationTooLong},
      {"1194 hours", "1194", duHeures, SDurationTooLong},
      {"71583 minutes", "71583", duMinutes, SDurationTooLong},
      {"4294968 seconds", "4294968", duSecondes, SDurationTooLong},
      {"largest count", "2147483647", duSecondes, SDurationTooLong},
      {"negative", "-1", duSecondes, SDurationNegative},
      {"negative days", "-3", duJours, SDurationNegative},
      {"typed unit", "5", duNone, SDurationUnknownUnit},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      DurationMilliseconds(c.text, c.unit);
      ADD_FAILURE() << "accepted";
    } catch (const EDurationError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(DurationMilliseconds, NoWholeNumberIsTheClassLibrarysConversionError) {
  for (const char* text : {"", "abc", "1.5", "12a", "--3", "99999999999"}) {
    SCOPED_TRACE(text);
    try {
      DurationMilliseconds(text, duSecondes);
      ADD_FAILURE() << "accepted";
    } catch (const EConvertError& e) {
      EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' n'est pas une valeur entière correcte");
    }
  }
}

TEST(DurationUnitOfText, OnlyTheFourItems) {
  EXPECT_EQ(DurationUnitOfText("secondes"), duSecondes);
  EXPECT_EQ(DurationUnitOfText("minutes"), duMinutes);
  EXPECT_EQ(DurationUnitOfText("heures"), duHeures);
  EXPECT_EQ(DurationUnitOfText("jours"), duJours);
  for (const char* text : {"", "semaines", "jour", "Jours ", "secondes2"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(DurationUnitOfText(text), duNone);
  }
}

}  // namespace
}  // namespace muralo
