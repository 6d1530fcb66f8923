// The Bangla calendar as this system counts it: fixed month lengths, the year beginning on 14
// April, and an eleventh month of 30 days in the Bangla year whose span holds 29 February.
// Thread-safety: stateless; every function may be called on any thread.
#ifndef TOLVANI_SETTINGS_BANGLACALENDAR_H_
#define TOLVANI_SETTINGS_BANGLACALENDAR_H_

#include <QByteArray>
#include <QString>
#include <optional>

namespace tolvani::BanglaCalendar {

// A calendar date; month and day count from 1.
struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
  bool operator==(const Date&) const = default;
};

// The Bangla date of a Gregorian calendar date (proleptic Gregorian, years from 1). None when the
// Gregorian date does not exist (month 13, 30 February, year 0): it is never rolled over.
std::optional<Date> gregorianToBangla(int year, int month, int day);

// Today's Bangla date on the platform clock in its time zone, as todayString(seconds, zone).
QString todayString();
// The Bangla date of `unixSeconds` as seen in the IANA zone `timeZoneId`: the day in Bangla
// digits, a space, the month name, a space, the year in Bangla digits. Empty when the date has no
// Bangla date.
QString todayString(double unixSeconds, const QByteArray& timeZoneId);

}  // namespace tolvani::BanglaCalendar

#endif  // TOLVANI_SETTINGS_BANGLACALENDAR_H_
