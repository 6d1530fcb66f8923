#include "settings/BanglaCalendar.h"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include "platform/Clock.h"

namespace tolvani::BanglaCalendar {

namespace {

constexpr std::array<QStringView, 12> kMonthNames = {u"বৈশাখ", u"জ্যৈষ্ঠ", u"আষাঢ়",   u"শ্রাবণ",
                                                     u"ভাদ্র",  u"আশ্বিন", u"কার্তিক", u"অগ্রহায়ণ",
                                                     u"পৌষ",   u"মাঘ",   u"ফাল্গুন",  u"চৈত্র"};

constexpr std::array<int, 12> kMonthLengths = {31, 31, 31, 31, 31, 31, 30, 30, 30, 30, 29, 30};
constexpr int kLeapMonthIndex = 10;
constexpr double kMillisecondsPerDay = 86400000.0;

bool isGregorianLeapYear(long long year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// A Gregorian calendar without the Julian change of 1582, so that every year has the length the
// leap rule gives it and the month walk below always ends within the year.
std::unique_ptr<icu::GregorianCalendar> makeCalendar(icu::TimeZone* zone) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::GregorianCalendar> calendar(
      new icu::GregorianCalendar(zone, icu::Locale("en_US_POSIX"), status));
  if (U_FAILURE(status)) return nullptr;
  calendar->setGregorianChange(-std::numeric_limits<double>::max(), status);
  if (U_FAILURE(status)) return nullptr;
  calendar->setLenient(false);
  return calendar;
}

// Midnight UTC of a calendar date in whole days since the epoch; none for a date that does not
// exist (a lenient calendar would roll 30 February over into March).
std::optional<long long> utcDayNumber(icu::GregorianCalendar& calendar, int year, int month,
                                      int day) {
  calendar.clear();
  calendar.set(year, month - 1, day);
  UErrorCode status = U_ZERO_ERROR;
  const UDate millis = calendar.getTime(status);
  if (U_FAILURE(status) || !std::isfinite(millis)) return std::nullopt;
  return std::llround(std::floor(millis / kMillisecondsPerDay));
}

QString toBanglaDigits(long long value) {
  QString text = QString::number(value);
  for (QChar& ch : text) {
    if (ch >= u'0' && ch <= u'9') ch = QChar(char16_t(0x09E6 + (ch.unicode() - u'0')));
  }
  return text;
}

}  // namespace

std::optional<Date> gregorianToBangla(int year, int month, int day) {
  std::unique_ptr<icu::GregorianCalendar> calendar = makeCalendar(icu::TimeZone::getGMT()->clone());
  if (!calendar) return std::nullopt;
  const std::optional<long long> date = utcDayNumber(*calendar, year, month, day);
  const std::optional<long long> newYear = utcDayNumber(*calendar, year, 4, 14);
  if (!date || !newYear) return std::nullopt;

  long long banglaYear = 0;
  long long offset = 0;
  if (*date >= *newYear) {
    banglaYear = static_cast<long long>(year) - 593;
    offset = *date - *newYear;
  } else {
    const std::optional<long long> previousNewYear = utcDayNumber(*calendar, year - 1, 4, 14);
    if (!previousNewYear) return std::nullopt;
    banglaYear = static_cast<long long>(year) - 594;
    offset = *date - *previousNewYear;
  }

  std::array<int, 12> lengths = kMonthLengths;
  if (isGregorianLeapYear(banglaYear + 594)) lengths[kLeapMonthIndex] = 30;
  std::size_t monthIndex = 0;
  while (monthIndex + 1 < lengths.size() && offset >= lengths[monthIndex]) {
    offset -= lengths[monthIndex];
    ++monthIndex;
  }
  return Date{static_cast<int>(banglaYear), static_cast<int>(monthIndex) + 1,
              static_cast<int>(offset) + 1};
}

QString todayString() {
  const platform::Clock& clock = platform::clock();
  return todayString(clock.wallSeconds(), clock.timeZoneId());
}

QString todayString(double unixSeconds, const QByteArray& timeZoneId) {
  if (!std::isfinite(unixSeconds)) return QString();
  std::unique_ptr<icu::GregorianCalendar> calendar = makeCalendar(
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZoneId.toStdString())));
  if (!calendar) return QString();
  UErrorCode status = U_ZERO_ERROR;
  calendar->setTime(unixSeconds * 1000.0, status);
  const int era = calendar->get(UCAL_ERA, status);
  const int year = calendar->get(UCAL_YEAR, status);
  const int month = calendar->get(UCAL_MONTH, status) + 1;
  const int day = calendar->get(UCAL_DATE, status);
  if (U_FAILURE(status) || era != icu::GregorianCalendar::AD) return QString();

  const std::optional<Date> bangla = gregorianToBangla(year, month, day);
  if (!bangla) return QString();
  return toBanglaDigits(bangla->day) + u' ' + kMonthNames[bangla->month - 1].toString() + u' ' +
         toBanglaDigits(bangla->year);
}

}  // namespace tolvani::BanglaCalendar
