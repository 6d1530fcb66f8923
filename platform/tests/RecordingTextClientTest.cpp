#include "platform/testing/RecordingTextClient.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace tolvani::platform {
namespace {

// The document with the marked text in [] and the selection's ends as |.
std::string state(const RecordingTextClient& c) {
  QString out;
  for (qsizetype i = 0; i <= c.document().size(); ++i) {
    if (i == c.marked().location) out += u'[';
    if (i == c.selection().location || (c.selection().length && i == c.selection().end()))
      out += u'|';
    if (!c.marked().isNotFound() && i == c.marked().end()) out += u']';
    if (i < c.document().size()) out += c.document()[i];
  }
  return out.toStdString();
}

TEST(RecordingTextClientTest, BehavesAsATextFieldForMarkedTextInsertionAndTheUser) {
  const TextRange nf = TextRange::notFound();
  RecordingTextClient client(u"ক "_s);
  client.setMarkedText(u"আ"_s, {}, {1, 0}, nf);
  client.setMarkedText(u"আমি"_s, {}, {3, 0}, nf);
  EXPECT_EQ(state(client), "ক [আমি|]");
  client.setMarkedText(u"আমি"_s, {}, {1, 1}, nf);  // relative to the marked text
  EXPECT_EQ(state(client), "ক [আ|ম|ি]");
  client.insertText(u"আমি "_s, nf);
  EXPECT_EQ(state(client), "ক আমি |");
  EXPECT_EQ(client.insertions(), QStringList{u"আমি "_s});

  client.userSelect({2, 3});
  client.insertText(u"তুমি"_s, nf);
  client.insertText(u"x"_s, {0, 1});
  EXPECT_EQ(state(client), "x| তুমি ");
  // An empty marked string removes the marked text and leaves the caret where it stood.
  client.setMarkedText(u"ক"_s, {}, {1, 0}, nf);
  client.setMarkedText(QString(), {}, {0, 0}, nf);
  EXPECT_EQ(state(client), "x| তুমি ");
  EXPECT_TRUE(client.markedRange().isNotFound());

  client.setMarkedText(u"কখ"_s, {}, {2, 0}, nf);
  client.userClick(2);  // inside the marked text
  EXPECT_EQ(state(client), "x[ক|খ] তুমি ");
  client.userClick(0);  // outside: the marked text stays as ordinary text
  EXPECT_EQ(state(client), "|xকখ তুমি ");
  client.userEdit({0, 2}, u"ab"_s);
  EXPECT_EQ(state(client), "ab|খ তুমি ");
  EXPECT_EQ(client.log().first(), u"setMarkedText(\"আ\", {1,0}, {nf,nf})"_s);
}

TEST(RecordingTextClientTest, KnobsMakeItAnswerAsOddClientsDo) {
  RecordingTextClient client(u"abকখ"_s);
  TextRange actual;
  EXPECT_EQ(client.stringFromRange({2, 5}, &actual), u"কখ"_s);
  EXPECT_EQ(actual, (TextRange{2, 2}));
  client.knobs().actualRangeShift = 1;
  client.stringFromRange({1, 1}, &actual);
  EXPECT_EQ(actual, (TextRange{2, 1}));
  client.knobs().lacksStringFromRange = true;
  EXPECT_FALSE(client.stringFromRange({0, 1}).has_value());
  client.knobs().selectionUnknown = true;
  EXPECT_TRUE(client.selectedRange().isNotFound());
  client.knobs().caretRect = QRectF(0, 0, 0, 0);
  EXPECT_EQ(client.firstRectForCharacterRange({0, 0}), QRectF(0, 0, 0, 0));
}

}  // namespace
}  // namespace tolvani::platform
