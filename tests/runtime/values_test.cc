// Dates as day numbers: the carried day number, which symbol collection keys dates by.
#include "runtime/values.h"

#include <gtest/gtest.h>

namespace orv {
namespace {

// Every day of months 1 to 12 (days past a month's end counted on) is its civil day number, and
// months 0 and 13 carry into the years around them, in years where the calendar turns.
TEST(Date, CarriedEpochDaysCountsDaysAndCarriesMonths) {
  for (const unsigned year :
       {0u, 1u, 2u, 399u, 400u, 1600u, 1900u, 1970u, 2000u, 2024u, 9999u, 65535u}) {
    SCOPED_TRACE(year);
    for (unsigned month = 1; month <= 12; ++month) {
      for (unsigned day = 0; day <= 40; ++day) {
        ASSERT_EQ(date(year, month, day).CarriedEpochDays(), DaysFromCivil(year, month, day))
            << month << "-" << day;
      }
    }
    EXPECT_EQ(date(year, 13, 5).CarriedEpochDays(), DaysFromCivil(int64_t{year} + 1, 1, 5));
    EXPECT_EQ(date(year, 0, 5).CarriedEpochDays(), DaysFromCivil(int64_t{year} - 1, 12, 5));
  }
  EXPECT_EQ(date(1970, 1, 1).CarriedEpochDays(), 0);
}

}  // namespace
}  // namespace orv
