// Control-Alt-B through a private ibus-daemon into the built program: an application that keeps
// its text and a selection gets the selected Banglish replaced by Bangla, and one that sends no
// surrounding text is told that its selection cannot be read.
#include <gtest/gtest.h>
#include <ibus.h>

#include <QDeadlineTimer>
#include <QThread>

#include "ime/testing/IBusTestKeys.h"
#include "ime/tests/ImeTestSupport.h"
#include "settings/AppSettings.h"

namespace tolvani {
namespace {

using testing::TestInputContext;
using testing::u;

constexpr unsigned kKeycodeB = 48;

// Control-Alt-B pressed and released; true when the program consumed it.
bool pressConvert(TestInputContext& context) {
  return testing::press(context, IBUS_KEY_b, kKeycodeB, IBUS_CONTROL_MASK | IBUS_MOD1_MASK);
}

class IBusBanglishTest : public testing::IBusProgramTest {};

TEST_F(IBusBanglishTest, SelectionWithAnAnchorIsReplacedBySpacesAndFullStopKept) {
  TestInputContext context(harness_, "editor");
  const QString before = u("Say: ami tomake bhalobashi. ok");
  const QString expected = u("Say: আমি তোমাকে ভালোবাসি. ok");
  context.keepText(before, 0);
  start(context);
  // Selected from its end back to its start, and then from its start to its end.
  for (const auto& [cursor, anchor] : {std::pair{27u, 5u}, std::pair{5u, 27u}}) {
    SCOPED_TRACE(cursor);
    context.keepText(before, cursor, anchor);
    // The program's tables load while it starts, and the application sends its text only once
    // the program has asked for it: until then a conversion may read a word another way, or see
    // no selection. So the selection is made again until the conversion arrives as it should.
    const QDeadlineTimer deadline(20000);
    while (context.text != expected && !deadline.hasExpired()) {
      // The caret goes to one end, then the selection is drawn to the other.
      context.keepText(before, anchor);
      context.keepText(before, cursor, anchor);
      const qsizetype commits = context.commits.size();
      const qsizetype toasts = context.auxiliaryTexts.size();
      EXPECT_TRUE(pressConvert(context));
      ASSERT_TRUE(harness_.waitFor([&] {
        return context.commits.size() > commits || context.auxiliaryTexts.size() > toasts;
      })) << "neither a conversion nor a message arrived";
      harness_.settle();
      if (context.text != expected) QThread::msleep(50);
    }
    EXPECT_EQ(context.text.toStdString(), expected.toStdString());
    EXPECT_EQ(context.commits.last().toStdString(), "আমি তোমাকে ভালোবাসি.");
    EXPECT_EQ(context.cursor, u("Say: আমি তোমাকে ভালোবাসি.").toUcs4().size())
        << "the caret after the converted text";
    EXPECT_EQ(context.anchor, context.cursor);
  }
}

TEST_F(IBusBanglishTest, ApplicationWithoutSurroundingTextIsToldSo) {
  TestInputContext context(harness_, "terminal",
                           TestInputContext::kAllCapabilities & ~IBUS_CAP_SURROUNDING_TEXT);
  start(context);
  EXPECT_TRUE(pressConvert(context));
  ASSERT_TRUE(harness_.waitFor([&] {
    return context.auxiliaryTexts.contains(u("Can't read the selection in this app"));
  })) << context.auxiliaryTexts.join('|').toStdString();
  EXPECT_TRUE(context.commits.isEmpty());
}

}  // namespace
}  // namespace tolvani
