#include "settings/TextShortcuts.h"

#include <unicode/gregocal.h>
#include <unicode/timezone.h>

#include <QMutex>
#include <QStringDecoder>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

#include "platform/Clock.h"
#include "settings/AppSettings.h"
#include "settings/BanglaCalendar.h"

namespace tolvani::AppSettings {

namespace {

constexpr std::array<QStringView, 12> kGregorianMonthNames = {
    u"জানুয়ারি", u"ফেব্রুয়ারি", u"মার্চ",     u"এপ্রিল",  u"মে",     u"জুন",
    u"জুলাই",    u"আগস্ট",     u"সেপ্টেম্বর", u"অক্টোবর", u"নভেম্বর", u"ডিসেম্বর"};

constexpr std::array<QStringView, 7> kWeekdayNames = {u"রবিবার",    u"সোমবার", u"মঙ্গলবার", u"বুধবার",
                                                      u"বৃহস্পতিবার", u"শুক্রবার", u"শনিবার"};

constexpr QStringView kNightWord = u"রাত";
constexpr QStringView kMorningWord = u"সকাল";
constexpr QStringView kNoonWord = u"দুপুর";
constexpr QStringView kAfternoonWord = u"বিকাল";
constexpr QStringView kBanglaEraSuffix = u" বঙ্গাব্দ";

// The last stored data decoded and the list they gave; the list is read on every Space.
struct DecodedCache {
  QMutex mutex;
  QByteArray data;
  QMap<QString, QString> shortcuts;
  bool valid = false;
};

DecodedCache& decodedCache() {
  static DecodedCache cache;
  return cache;
}

// Unlike QString::fromStdString, keeps a leading U+FEFF, which is text here. The JSON reader has
// checked the bytes.
QString fromUtf8(const std::string& bytes) {
  QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
  return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

std::optional<QMap<QString, QString>> decodeShortcuts(const QByteArray& data) {
  const nlohmann::json value = nlohmann::json::parse(data.cbegin(), data.cend(), nullptr, false);
  if (!value.is_object()) return std::nullopt;
  QMap<QString, QString> shortcuts;
  for (const auto& [code, text] : value.items()) {
    if (!text.is_string()) return std::nullopt;
    shortcuts.insert(fromUtf8(code), fromUtf8(text.get_ref<const std::string&>()));
  }
  return shortcuts;
}

// Hour, minute, day, month, year and weekday (1 = Sunday) of now in the platform's time zone.
struct LocalMoment {
  int year = 0;
  int month = 0;
  int day = 0;
  int weekday = 1;
  int hour = 0;
  int minute = 0;
};

LocalMoment localNow() {
  const platform::Clock& clock = platform::clock();
  const double seconds = clock.wallSeconds();
  icu::TimeZone* zone =
      icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(clock.timeZoneId().toStdString()));
  UErrorCode status = U_ZERO_ERROR;
  icu::GregorianCalendar calendar(zone, icu::Locale("en_US_POSIX"), status);
  calendar.setGregorianChange(-std::numeric_limits<double>::max(), status);
  if (std::isfinite(seconds)) calendar.setTime(seconds * 1000.0, status);
  LocalMoment moment;
  if (U_FAILURE(status)) return moment;
  moment.year = calendar.get(UCAL_YEAR, status);
  if (calendar.get(UCAL_ERA, status) == icu::GregorianCalendar::BC) moment.year = 1 - moment.year;
  moment.month = calendar.get(UCAL_MONTH, status) + 1;
  moment.day = calendar.get(UCAL_DATE, status);
  moment.weekday = calendar.get(UCAL_DAY_OF_WEEK, status);
  moment.hour = calendar.get(UCAL_HOUR_OF_DAY, status);
  moment.minute = calendar.get(UCAL_MINUTE, status);
  if (U_FAILURE(status)) return LocalMoment{};
  return moment;
}

std::optional<QString> dynamicText(const QString& code) {
  if (code == u"tarikh" || code == u"aj") return banglaDate();
  if (code == u"shomoy") return banglaTime();
  if (code == u"bdate" || code == u"btarikh" || code == u"bongabdo") {
    return BanglaCalendar::todayString() + kBanglaEraSuffix.toString();
  }
  return std::nullopt;
}

}  // namespace

const QMap<QString, QString>& defaultTextShortcuts() {
  static const QMap<QString, QString> shortcuts = {
      {QStringLiteral("brb"), QStringLiteral("আমি একটু পরে আসছি")},
      {QStringLiteral("gm"), QStringLiteral("শুভ সকাল")},
      {QStringLiteral("gn"), QStringLiteral("শুভ রাত্রি")},
      {QStringLiteral("ty"), QStringLiteral("ধন্যবাদ")},
      {QStringLiteral("wb"), QStringLiteral("স্বাগতম")},
      {QStringLiteral("idk"), QStringLiteral("আমি জানি না")},
      {QStringLiteral("nb"), QStringLiteral("শুভ নববর্ষ")},
  };
  return shortcuts;
}

QMap<QString, QString> textShortcuts() {
  const std::optional<QByteArray> data = suite().data(kTextShortcutsKey);
  if (!data) return defaultTextShortcuts();
  DecodedCache& cache = decodedCache();
  QMutexLocker lock(&cache.mutex);
  if (cache.valid && cache.data == *data) return cache.shortcuts;
  std::optional<QMap<QString, QString>> decoded = decodeShortcuts(*data);
  if (!decoded) return defaultTextShortcuts();
  cache.data = *data;
  cache.shortcuts = std::move(*decoded);
  cache.valid = true;
  return cache.shortcuts;
}

void setTextShortcuts(const QMap<QString, QString>& shortcuts) {
  nlohmann::json object = nlohmann::json::object();
  for (auto it = shortcuts.cbegin(); it != shortcuts.cend(); ++it) {
    object[it.key().toStdString()] = it.value().toStdString();
  }
  std::string encoded;
  try {
    encoded = object.dump();
  } catch (const nlohmann::json::exception&) {
    return;  // nothing is stored rather than half a list
  }
  suite().set(kTextShortcutsKey, QByteArray::fromStdString(encoded));
}

void resetTextShortcuts() { suite().remove(kTextShortcutsKey); }

std::optional<QString> shortcutExpansion(const QString& code, bool includeDynamic) {
  const QString lowered = code.toLower();
  if (includeDynamic) {
    if (std::optional<QString> text = dynamicText(lowered)) return text;
  }
  const QMap<QString, QString> shortcuts = textShortcuts();
  if (auto it = shortcuts.constFind(lowered); it != shortcuts.cend()) return it.value();
  for (auto it = shortcuts.cbegin(); it != shortcuts.cend(); ++it) {
    if (it.key().toLower() == lowered) return it.value();
  }
  return std::nullopt;
}

QString banglaDate() {
  const LocalMoment now = localNow();
  const QString weekday = kWeekdayNames[std::clamp(now.weekday, 1, 7) - 1].toString();
  const QString month = kGregorianMonthNames[std::clamp(now.month, 1, 12) - 1].toString();
  return weekday + QStringLiteral(", ") + banglaDigits(QString::number(now.day)) + u' ' + month +
         u' ' + banglaDigits(QString::number(now.year));
}

QString banglaTime() {
  const LocalMoment now = localNow();
  const int h = now.hour;
  QStringView period = kNightWord;
  if (h >= 6 && h < 12) {
    period = kMorningWord;
  } else if (h >= 12 && h <= 14) {
    period = kNoonWord;
  } else if (h >= 15 && h < 18) {
    period = kAfternoonWord;
  }
  int twelveHour = h < 12 ? h : h - 12;
  if (twelveHour == 0) twelveHour = 12;
  return period.toString() + u' ' + banglaDigits(QString::number(twelveHour)) + u':' +
         banglaDigits(QStringLiteral("%1").arg(now.minute, 2, 10, QLatin1Char('0')));
}

QString banglaDigits(const QString& text) {
  QString result = text;
  for (QChar& ch : result) {
    if (ch >= u'0' && ch <= u'9') ch = QChar(char16_t(0x09E6 + (ch.unicode() - u'0')));
  }
  return result;
}

}  // namespace tolvani::AppSettings
