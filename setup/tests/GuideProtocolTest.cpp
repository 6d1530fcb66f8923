// The guide page's messages as the program reads them, the chapter numbers, and the snapshot the
// program hands to the page, built from the setup state.
#include <gtest/gtest.h>

#include <QJsonDocument>

#include "setup/GuideMessage.h"
#include "setup/GuideSnapshot.h"
#include "setup/tests/SetupTestSupport.h"

namespace tolvani {
namespace {

using guide::Step;
using State = InputSourceRegistration::State;

QString read(const QString& json) {
  const std::optional<GuideMessage> message = GuideMessage::parse(json);
  if (!message) return QStringLiteral("dropped");
  return QStringLiteral("%1 session=%2 text=%3 within=%4")
      .arg(message->action, message->session.value_or(QStringLiteral("<none>")),
           QString::number(message->text.size()), QString::number(message->textWithinLimit()));
}

TEST(GuideProtocolTest, MessagesAreReadOnlyWhenTheyAreObjectsWithAStringAction) {
  EXPECT_EQ(read(R"({"action":"ready"})"), "ready session=<none> text=0 within=1");
  EXPECT_EQ(read(R"({"action":"retry","session":"s","text":"x"})"),
            "retry session=s text=1 within=1");
  // A session or text of another type counts as absent; unknown keys are ignored.
  EXPECT_EQ(read(R"({"action":"retry","session":7,"text":[1],"other":null})"),
            "retry session=<none> text=0 within=1");
  for (const char* bad : {"", "null", "[]", R"("ready")", R"({"action":1})", R"({"Action":"x"})",
                          R"({"action":"ready")", "{\"action\":\"ready\"} trailing"})
    EXPECT_EQ(read(QString::fromUtf8(bad)), "dropped") << bad;

  // The limit counts UTF-16 units: a scalar outside the BMP is two.
  const QString within = QString(2047, QLatin1Char('a')) + QString::fromUtf8("\u09A4");
  const QString over = QString(2047, QLatin1Char('a')) + QString::fromUtf8("\U0001F600");
  const auto withText = [](const QString& text) {
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"action", "tourChapter"}, {"session", "s"}, {"text", text}})
            .toJson(QJsonDocument::Compact));
  };
  EXPECT_EQ(read(withText(within)), "tourChapter session=s text=2048 within=1");
  EXPECT_EQ(read(withText(over)), "tourChapter session=s text=2049 within=0");
}

TEST(GuideProtocolTest, TourChapterIsASignedDecimalFromZeroToFour) {
  QStringList read;
  for (const char* text : {"0", "4", "+2", "-0", "004", "5", "-1", "x", "", " 1", "1 ", "2.0", "+",
                           "99999999999999999999", "\u0663", "00000000000000000003"}) {
    const std::optional<int> chapter = guideTourChapter(QString::fromUtf8(text));
    read << QStringLiteral("%1=%2").arg(QString::fromUtf8(text),
                                        chapter ? QString::number(*chapter) : QStringLiteral("-"));
  }
  EXPECT_EQ(read.join('|'),
            QString::fromUtf8("0=0|4=4|+2=2|-0=0|004=4|5=-|-1=-|x=-|=-| 1=-|1 =-|2.0=-|+=-|"
                              "99999999999999999999=-|\u0663=-|00000000000000000003=3"));
}

QString rows(const guide::State& state) {
  const QJsonObject snapshot = guide::snapshot(state);
  const QJsonObject rows = snapshot["rows"].toObject();
  return QStringLiteral("%1 [%2] add=%3 show=%4 select=%5")
      .arg(snapshot["phase"].toString(), snapshot["failedStep"].toString(), rows["add"].toString(),
           rows["show"].toString(), rows["select"].toString());
}

TEST(GuideProtocolTest, SnapshotPhaseRowsAndFailedStep) {
  guide::State state;
  // Nothing run yet, idle and not enabled: add counts as failed without a message.
  EXPECT_EQ(rows(state), "failed [add] add=failed show=pending select=pending");
  state.busy = true;
  state.running = Step::show;
  state.status = State::enabled;
  EXPECT_EQ(rows(state), "working [] add=done show=working select=pending");
  state.busy = false;
  state.running.reset();
  state.failed = Step::select;
  state.menuVisible = true;
  EXPECT_EQ(rows(state), "failed [select] add=done show=done select=failed");
  state.failed.reset();
  // Enabled is not all set: the switch is still left.
  EXPECT_EQ(rows(state), "left [] add=done show=done select=pending");
  state.selected = true;
  EXPECT_EQ(rows(state), "done [] add=done show=done select=done");

  state.session = QStringLiteral("S");
  state.shortcut = QStringLiteral("x");
  const QJsonObject snapshot = guide::snapshot(state);
  EXPECT_EQ(
      snapshot.keys().join(','),
      "busy,defaultLayout,desktop,error,failedStep,focusTyping,framework,gnome,ibus,lang,options,"
      "phase,quiet,rows,selected,selectedByPerson,session,settings,shortcut,shortcutTruncated,"
      "stage,status,statusArea,switchKey,tourStep,virtualKeyboard,visible");
  EXPECT_EQ(snapshot["framework"].toString(), "ibus");
  // Under fcitx5 its configuration tool works only once a probe found fcitx5 running, on GNOME
  // too.
  guide::State fcitx5 = state;
  fcitx5.fcitx5 = true;
  fcitx5.gnome = true;
  fcitx5.checked = false;
  EXPECT_FALSE(guide::keyboardSettingsWork(fcitx5));
  fcitx5.checked = true;
  EXPECT_TRUE(guide::keyboardSettingsWork(fcitx5));
  fcitx5.ibusRunning = false;
  EXPECT_FALSE(guide::keyboardSettingsWork(fcitx5));
  EXPECT_EQ(guide::snapshot(fcitx5)["framework"].toString(), "fcitx5");
  EXPECT_EQ(snapshot["options"].toObject().keys().join(','),
            "autocorrect,digits,emoji,english,suggestions");
  EXPECT_EQ(snapshot["status"].toString(), "enabled");
  EXPECT_EQ(snapshot["session"].toString(), "S");
}

// Without a daemon the page said "You're all set" with Tolvani added, and offered a switch that
// cannot happen before the session starts IBus; the menu read done though no IBus icon can show.
TEST(GuideProtocolTest, WithoutADaemonTheSwitchWaitsAndNothingSaysAllSet) {
  guide::State state;
  state.ibusRunning = false;
  EXPECT_EQ(rows(state), "failed [add] add=failed show=waiting select=waiting");
  state.status = State::enabled;
  state.menuVisible = true;
  EXPECT_EQ(rows(state), "waiting [] add=done show=waiting select=waiting");
  state.busy = true;
  state.running = Step::add;
  EXPECT_EQ(rows(state), "working [] add=working show=waiting select=waiting");
  EXPECT_FALSE(guide::snapshot(state)["ibus"].toBool());
  state.ibusRunning = true;
  EXPECT_TRUE(guide::snapshot(state)["ibus"].toBool());
}

TEST(GuideProtocolTest, ShortcutIsCutAtUserPerceivedCharacters) {
  // A consonant with a vowel sign is one character of two UTF-16 units; an emoji flag is one of
  // four.
  const QString ki = QString::fromUtf8("\u0995\u09BF");
  const QString flag = QString::fromUtf8("\U0001F1E7\U0001F1E9");
  guide::State state;
  state.shortcut = ki.repeated(255) + flag;
  QJsonObject snapshot = guide::snapshot(state);
  EXPECT_EQ(snapshot["shortcut"].toString(), state.shortcut);
  EXPECT_FALSE(snapshot["shortcutTruncated"].toBool());
  state.shortcut += ki;
  snapshot = guide::snapshot(state);
  EXPECT_EQ(snapshot["shortcut"].toString(), ki.repeated(255) + flag);
  EXPECT_TRUE(snapshot["shortcutTruncated"].toBool());
  state.shortcut.clear();
  EXPECT_EQ(guide::snapshot(state)["shortcut"].toString(), "");
}

TEST(GuideProtocolTest, BanglaLettersConfirmSetupOtherScalarsDoNot) {
  EXPECT_FALSE(hasBanglaLetters(QStringLiteral("hello world 123")));
  EXPECT_TRUE(hasBanglaLetters(QString::fromUtf8("ok \u0995")));
  EXPECT_FALSE(hasBanglaLetters(QString::fromUtf8("\u09BE\u09E6\u09CD\u0964")));
  for (const char* letter : {"\u0985", "\u09B9", "\u09CE", "\u09DC", "\u09DF", "\u09F0", "\u09F1",
                             "\u09A9" /* unassigned, inside a range */})
    EXPECT_TRUE(hasBanglaLetters(QString::fromUtf8(letter))) << letter;
  for (const char* other : {"\u0984", "\u09BA", "\u09CD", "\u09DB", "\u09E0", "\u09F2"})
    EXPECT_FALSE(hasBanglaLetters(QString::fromUtf8(other))) << other;
}

}  // namespace
}  // namespace tolvani
