#include "ime/ibus/IBusTextClient.h"

#include <gtest/gtest.h>

namespace tolvani {
namespace {

// IBus counts Unicode scalars; the controller counts UTF-16 units. An emoji outside the basic
// plane is one scalar and two units.
TEST(IBusTextClientTest, PositionsConvertBetweenScalarsAndUtf16Units) {
  const QString text = QString::fromUtf8("আমি 😀 ok");
  struct Case {
    qsizetype scalars;
    qsizetype units;
  };
  const Case cases[] = {{0, 0}, {3, 3}, {4, 4}, {5, 6}, {6, 7}, {8, 9}};
  for (const Case& c : cases) {
    EXPECT_EQ(utf16Position(text, c.scalars), c.units) << c.scalars;
    EXPECT_EQ(scalarPosition(text, c.units), c.scalars) << c.units;
  }
  // Past the end: clamped to the end.
  EXPECT_EQ(utf16Position(text, 50), text.size());
  EXPECT_EQ(scalarPosition(text, 50), 8);
  // A lone surrogate counts as one scalar, as IBus's text would have replaced it with one.
  const QString broken = QString(QChar(0xD83D)) + QStringLiteral("a");
  EXPECT_EQ(utf16Position(broken, 1), 1);
  EXPECT_EQ(scalarPosition(broken, 2), 2);
}

TEST(IBusTextClientTest, WithoutFocusTheClientAnswersNothingAndDropsText) {
  IBusTextClient client(QStringLiteral("/org/freedesktop/IBus/InputContext_9"));
  EXPECT_FALSE(client.respondsTo(platform::TextClient::Call::selectedRange));
  EXPECT_TRUE(client.selectedRange().isNotFound());
  EXPECT_TRUE(client.markedRange().isNotFound());
  EXPECT_FALSE(client.stringFromRange({0, 1}).has_value());
  EXPECT_FALSE(client.firstRectForCharacterRange({0, 0}).has_value());
  client.insertText(QStringLiteral("x"), platform::TextRange::notFound());
  client.setMarkedText(QStringLiteral("y"), {}, {1, 0}, platform::TextRange::notFound());
  EXPECT_TRUE(client.markedRange().isNotFound());
  EXPECT_EQ(client.inputPurpose(), platform::InputPurpose::freeForm);
}

}  // namespace
}  // namespace tolvani
