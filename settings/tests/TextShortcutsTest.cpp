#include "settings/TextShortcuts.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QTimeZone>

#include "settings/TextShortcutFile.h"
#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

using platform::Defaults;

class TextShortcutsTest : public testing::SettingsSuiteTest {
 protected:
  void SetUp() override {
    SettingsSuiteTest::SetUp();
    platform::testSetClock(&clock_);
  }
  void TearDown() override {
    platform::testSetClock(nullptr);
    SettingsSuiteTest::TearDown();
  }
  void storeData(const QByteArray& data) {
    ASSERT_TRUE(AppSettings::suite().set(AppSettings::kTextShortcutsKey, data));
  }
  void setLocalTime(int year, int month, int day, int hour, int minute, const QByteArray& zone) {
    clock_.setTimeZoneId(zone);
    clock_.setWallSeconds(QDateTime(QDate(year, month, day), QTime(hour, minute), QTimeZone(zone))
                              .toSecsSinceEpoch());
  }
  static QString expand(const QString& code, bool includeDynamic) {
    return AppSettings::shortcutExpansion(code, includeDynamic).value_or(QStringLiteral("<none>"));
  }

  platform::ManualClock clock_;
};

TEST_F(TextShortcutsTest, BuiltInsApplyWhileNothingUsableIsStored) {
  const QMap<QString, QString> builtIns = {
      {QStringLiteral("brb"), QStringLiteral("আমি একটু পরে আসছি")},
      {QStringLiteral("gm"), QStringLiteral("শুভ সকাল")},
      {QStringLiteral("gn"), QStringLiteral("শুভ রাত্রি")},
      {QStringLiteral("ty"), QStringLiteral("ধন্যবাদ")},
      {QStringLiteral("wb"), QStringLiteral("স্বাগতম")},
      {QStringLiteral("idk"), QStringLiteral("আমি জানি না")},
      {QStringLiteral("nb"), QStringLiteral("শুভ নববর্ষ")},
  };
  EXPECT_EQ(AppSettings::textShortcuts(), builtIns);
  EXPECT_EQ(expand(QStringLiteral("ty"), false), builtIns[QStringLiteral("ty")]);
  EXPECT_EQ(expand(QStringLiteral("TY"), true), builtIns[QStringLiteral("ty")]);
  EXPECT_EQ(expand(QStringLiteral("tyy"), true), QStringLiteral("<none>"));

  // Not JSON, a JSON array, a value that is not a string, broken UTF-8, a string under the key.
  const QByteArray unusable[] = {"not json",           "[\"ty\"]", "{\"ty\": 5}",
                                 "{\"ty\": \"\xff\"}", "\"{}\"",   ""};
  for (const QByteArray& data : unusable) {
    SCOPED_TRACE(data.toStdString());
    storeData(QByteArrayLiteral("{\"zz\": \"cached\"}"));
    ASSERT_EQ(expand(QStringLiteral("zz"), false), QStringLiteral("cached"));
    storeData(data);
    EXPECT_EQ(AppSettings::textShortcuts(), builtIns);
    EXPECT_EQ(AppSettings::suite().data(AppSettings::kTextShortcutsKey), data);  // left in place
  }
  ASSERT_TRUE(AppSettings::suite().set(AppSettings::kTextShortcutsKey, QStringLiteral("{}")));
  EXPECT_EQ(AppSettings::textShortcuts(), builtIns);
}

TEST_F(TextShortcutsTest, StoredListIsReadBackAndLookupsIgnoreCase) {
  const QMap<QString, QString> saved = {{QStringLiteral("BRB"), QStringLiteral("be right back")},
                                        {QStringLiteral("aj"), QStringLiteral("mine")},
                                        {QStringLiteral("q\"\\"), QStringLiteral("x\u200Dy")},
                                        {QStringLiteral("\uFEFFb"), QStringLiteral("\uFEFFc")}};
  AppSettings::setTextShortcuts(saved);
  EXPECT_EQ(AppSettings::textShortcuts(), saved);
  // Another process sees the same list.
  Defaults::testResetStandard();
  EXPECT_EQ(AppSettings::textShortcuts(), saved);

  setLocalTime(2026, 12, 5, 10, 0, "Asia/Dhaka");
  for (const char* code : {"brb", "Brb", "BRB"}) {
    EXPECT_EQ(expand(QString::fromLatin1(code), false), QStringLiteral("be right back")) << code;
  }
  EXPECT_EQ(expand(QStringLiteral("aj"), false), QStringLiteral("mine"));
  EXPECT_EQ(expand(QStringLiteral("AJ"), true), QStringLiteral("শনিবার, ৫ ডিসেম্বর ২০২৬"));
  EXPECT_EQ(expand(QStringLiteral("ty"), true), QStringLiteral("<none>"));

  AppSettings::setTextShortcuts({});
  EXPECT_TRUE(AppSettings::textShortcuts().isEmpty());
  EXPECT_EQ(expand(QStringLiteral("ty"), false), QStringLiteral("<none>"));
  EXPECT_EQ(expand(QStringLiteral("aj"), false), QStringLiteral("<none>"));
  EXPECT_EQ(expand(QStringLiteral("shomoy"), true), QStringLiteral("সকাল ১০:০০"));

  AppSettings::resetTextShortcuts();
  EXPECT_FALSE(AppSettings::suite().data(AppSettings::kTextShortcutsKey));
  EXPECT_EQ(AppSettings::textShortcuts(), AppSettings::defaultTextShortcuts());
}

TEST_F(TextShortcutsTest, DynamicCodesGiveTodayInTheClockZone) {
  // Saturday 00:30 in Dhaka is still Friday in UTC.
  setLocalTime(2026, 12, 5, 0, 30, "Asia/Dhaka");
  for (const char* code : {"tarikh", "aj"}) {
    EXPECT_EQ(expand(QString::fromLatin1(code), true), QStringLiteral("শনিবার, ৫ ডিসেম্বর ২০২৬"))
        << code;
  }
  EXPECT_EQ(AppSettings::banglaDate(), QStringLiteral("শনিবার, ৫ ডিসেম্বর ২০২৬"));

  // The Bangla year turns at local midnight; 23:00 on 13 April in New York is 14 April in UTC.
  const struct {
    int day, hour, minute;
    const char* zone;
    QString date;
  } days[] = {{14, 0, 0, "Asia/Dhaka", QStringLiteral("১ বৈশাখ ১৪৩৩ বঙ্গাব্দ")},
              {13, 23, 59, "Asia/Dhaka", QStringLiteral("৩০ চৈত্র ১৪৩২ বঙ্গাব্দ")},
              {13, 23, 0, "America/New_York", QStringLiteral("৩০ চৈত্র ১৪৩২ বঙ্গাব্দ")}};
  for (const auto& day : days) {
    setLocalTime(2026, 4, day.day, day.hour, day.minute, day.zone);
    for (const char* code : {"bdate", "btarikh", "bongabdo", "BONGABDO"})
      EXPECT_EQ(expand(QString::fromLatin1(code), true), day.date) << code << " " << day.zone;
  }
  // Every code a file may not define is one that expands by itself.
  for (const QString& code : TextShortcutFile::reservedCodes()) {
    EXPECT_NE(expand(code, true), QStringLiteral("<none>")) << code.toStdString();
    EXPECT_EQ(expand(code, false), QStringLiteral("<none>")) << code.toStdString();
  }
}

TEST_F(TextShortcutsTest, TimeOfDayWordsChangeAtTheirHours) {
  struct Row {
    int hour, minute;
    QString expected;
  };
  const Row rows[] = {
      {0, 0, QStringLiteral("রাত ১২:০০")},    {0, 30, QStringLiteral("রাত ১২:৩০")},
      {5, 59, QStringLiteral("রাত ৫:৫৯")},    {6, 0, QStringLiteral("সকাল ৬:০০")},
      {11, 59, QStringLiteral("সকাল ১১:৫৯")}, {12, 0, QStringLiteral("দুপুর ১২:০০")},
      {14, 5, QStringLiteral("দুপুর ২:০৫")},    {14, 59, QStringLiteral("দুপুর ২:৫৯")},
      {15, 0, QStringLiteral("বিকাল ৩:০০")},  {17, 59, QStringLiteral("বিকাল ৫:৫৯")},
      {18, 0, QStringLiteral("রাত ৬:০০")},    {23, 59, QStringLiteral("রাত ১১:৫৯")},
  };
  for (const Row& row : rows) {
    setLocalTime(2026, 7, 1, row.hour, row.minute, "America/Los_Angeles");
    EXPECT_EQ(AppSettings::banglaTime(), row.expected) << row.hour << ":" << row.minute;
    EXPECT_EQ(expand(QStringLiteral("Shomoy"), true), row.expected);
  }
}

}  // namespace
}  // namespace tolvani
