#include "platform/testing/RecordingTextClient.h"

#include <gtest/gtest.h>

namespace tolvani::platform {
namespace {

QString u(const char* utf8) { return QString::fromUtf8(utf8); }

TEST(RecordingTextClientTest, MarkedTextIsReplacedByTheNextMarkedTextOrTheCommit) {
  RecordingTextClient client(u("ক "));
  client.setMarkedText(u("আ"), {}, {1, 0}, TextRange::notFound());
  client.setMarkedText(u("আমি"), {}, {3, 0}, TextRange::notFound());
  EXPECT_EQ(client.document(), u("ক আমি"));
  EXPECT_EQ(client.marked(), (TextRange{2, 3}));
  EXPECT_EQ(client.selection(), (TextRange{5, 0}));
  // The marked selection is relative to the marked text.
  client.setMarkedText(u("আমি"), {}, {1, 1}, TextRange::notFound());
  EXPECT_EQ(client.selection(), (TextRange{3, 1}));
  client.insertText(u("আমি "), TextRange::notFound());
  EXPECT_EQ(client.document(), u("ক আমি "));
  EXPECT_TRUE(client.marked().isNotFound());
  EXPECT_EQ(client.selection(), (TextRange{6, 0}));
  EXPECT_EQ(client.insertions(), QStringList{u("আমি ")});
}

TEST(RecordingTextClientTest, InsertionReplacesTheGivenRangeOrTheSelection) {
  RecordingTextClient client(u("ami tumi"));
  client.userSelect({4, 4});
  client.insertText(u("তুমি"), TextRange::notFound());
  EXPECT_EQ(client.document(), u("ami তুমি"));
  client.insertText(u("আমি"), {0, 3});
  EXPECT_EQ(client.document(), u("আমি তুমি"));
  EXPECT_EQ(client.selection(), (TextRange{3, 0}));
  // An empty marked string removes the marked text and leaves the caret where it stood.
  client.setMarkedText(u("ক"), {}, {1, 0}, TextRange::notFound());
  client.setMarkedText(QString(), {}, {0, 0}, TextRange::notFound());
  EXPECT_EQ(client.document(), u("আমি তুমি"));
  EXPECT_TRUE(client.markedRange().isNotFound());
  EXPECT_EQ(client.selection(), (TextRange{3, 0}));
}

TEST(RecordingTextClientTest, UserActionsAndKnobs) {
  RecordingTextClient client(u("ab"));
  client.setMarkedText(u("কখ"), {}, {2, 0}, TextRange::notFound());
  client.userClick(3);  // inside the marked text
  EXPECT_EQ(client.markedSelection(), (TextRange{1, 0}));
  client.userClick(0);  // outside: the marked text stays as ordinary text
  EXPECT_TRUE(client.marked().isNotFound());
  EXPECT_EQ(client.document(), u("abকখ"));
  client.userEdit({0, 2}, u("x"));
  EXPECT_EQ(client.document(), u("xকখ"));
  EXPECT_EQ(client.selection(), (TextRange{1, 0}));

  TextRange actual;
  EXPECT_EQ(client.stringFromRange({1, 5}, &actual), u("কখ"));
  EXPECT_EQ(actual, (TextRange{1, 2}));
  client.knobs().actualRangeShift = 1;
  client.stringFromRange({1, 1}, &actual);
  EXPECT_EQ(actual, (TextRange{2, 1}));
  client.knobs().lacksStringFromRange = true;
  EXPECT_FALSE(client.stringFromRange({0, 1}).has_value());
  client.knobs().selectionUnknown = true;
  EXPECT_TRUE(client.selectedRange().isNotFound());
  client.knobs().caretRect = QRectF(0, 0, 0, 0);
  EXPECT_EQ(client.firstRectForCharacterRange({0, 0}), QRectF(0, 0, 0, 0));
  EXPECT_EQ(client.log().first(), u("setMarkedText(\"কখ\", {2,0}, {nf,nf})"));
}

}  // namespace
}  // namespace tolvani::platform
