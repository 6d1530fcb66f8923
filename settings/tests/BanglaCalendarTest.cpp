#include "settings/BanglaCalendar.h"

#include <gtest/gtest.h>

#include <QDate>
#include <climits>
#include <optional>

namespace tolvani::BanglaCalendar {
namespace {

std::string render(const std::optional<Date>& date) {
  if (!date) return "none";
  return std::to_string(date->year) + "-" + std::to_string(date->month) + "-" +
         std::to_string(date->day);
}

TEST(BanglaCalendarTest, KnownDates) {
  struct Row {
    int year, month, day;
    const char* expected;
  };
  const Row rows[] = {
      {2026, 4, 14, "1433-1-1"},   {2026, 4, 13, "1432-12-30"}, {2026, 5, 14, "1433-1-31"},
      {2026, 5, 15, "1433-2-1"},   {2024, 2, 14, "1430-11-1"},  {2024, 3, 14, "1430-11-30"},
      {2024, 3, 15, "1430-12-1"},  {2025, 3, 14, "1431-11-29"}, {2025, 3, 15, "1431-12-1"},
      {2100, 3, 14, "1506-11-29"}, {2000, 3, 14, "1406-11-30"}, {2024, 2, 29, "1430-11-16"},
      {2026, 12, 31, "1433-9-16"}, {2027, 1, 1, "1433-9-17"},   {2, 1, 1, "-592-9-17"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.year << "-" << row.month << "-" << row.day);
    EXPECT_EQ(render(gregorianToBangla(row.year, row.month, row.day)), row.expected);
  }
}

TEST(BanglaCalendarTest, DatesThatDoNotExistGiveNoneInsteadOfRollingOver) {
  struct Row {
    int year, month, day;
  };
  const Row rows[] = {{2026, 13, 1}, {2026, 0, 1},  {2026, 2, 29},     {2100, 2, 29},
                      {2026, 4, 31}, {2026, 1, 0},  {2026, 1, 32},     {0, 6, 1},
                      {-5, 6, 1},    {1, 1, 1},     {INT_MAX, 1, 1},   {INT_MIN, 1, 1},
                      {2026, -1, 1}, {2026, 1, -3}, {2026, INT_MAX, 1}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << row.year << "-" << row.month << "-" << row.day);
    EXPECT_EQ(render(gregorianToBangla(row.year, row.month, row.day)), "none");
  }
}

// Against a simple model: day by day over two centuries (1900 and 2100 are not leap years, 2000
// is), each Bangla date follows the one before, and the eleventh month has 30 days exactly in the
// Bangla years whose span holds a 29 February.
TEST(BanglaCalendarTest, EveryDayFollowsTheDayBefore) {
  std::optional<Date> previous = gregorianToBangla(1899, 12, 31);
  ASSERT_TRUE(previous);
  for (QDate day(1900, 1, 1); day <= QDate(2101, 12, 31); day = day.addDays(1)) {
    const std::optional<Date> date = gregorianToBangla(day.year(), day.month(), day.day());
    ASSERT_TRUE(date) << day.toString(Qt::ISODate).toStdString();
    Date expected{previous->year, previous->month, previous->day + 1};
    if (date->day == 1) {
      const bool leap = QDate::isLeapYear(previous->year + 594);
      const int lengths[] = {31, 31, 31, 31, 31, 31, 30, 30, 30, 30, leap ? 30 : 29, 30};
      ASSERT_EQ(previous->day, lengths[previous->month - 1])
          << day.toString(Qt::ISODate).toStdString();
      expected = previous->month == 12 ? Date{previous->year + 1, 1, 1}
                                       : Date{previous->year, previous->month + 1, 1};
    }
    ASSERT_EQ(render(date), render(expected)) << day.toString(Qt::ISODate).toStdString();
    if (date->month == 1 && date->day == 1) {
      ASSERT_EQ(day.month() * 100 + day.day(), 414) << day.toString(Qt::ISODate).toStdString();
    }
    previous = date;
  }
}

}  // namespace
}  // namespace tolvani::BanglaCalendar
