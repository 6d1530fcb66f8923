#include <QApplication>
#include <QTest>

#include "ime/CandidatePanelWindow.h"
#include "ime/tests/ImeTestSupport.h"

namespace tolvani {
namespace {

using namespace testing;

EngineState composing(const std::string& raw, const std::string& preedit) {
  EngineState s = ScriptedEngine::composing(raw);
  s.preedit = preedit;
  s.candidates = {{preedit, 1, 0}};
  return s;
}

EngineState commit(const std::string& text, std::uint32_t flags = 2) {
  EngineState s = ScriptedEngine::committed(text);
  s.status_flags = flags;
  return s;
}

// Composes `raw` as `preedit`, then applies `committed`.
void commitWord(TolvaniInputController& c, RecordingTextClient& client, const std::string& raw,
                const std::string& preedit, EngineState committed) {
  c.apply(composing(raw, preedit), &client);
  c.apply(std::move(committed), &client);
}

class TolvaniInputControllerApplyTest : public ControllerTest {
 protected:
  void SetUp() override {
    ControllerTest::SetUp();
    AppSettings::suite().set(AppSettings::predictiveTextKey(), true);
  }
};

TEST_F(TolvaniInputControllerApplyTest, MarkedTextAndCommitStatistics) {
  // An unchanged preedit is not set again.
  controller_->apply(composing("a", "\u0995"), &client_);
  controller_->apply(composing("ab", "\u0995"), &client_);
  EXPECT_EQ(client_.log().filter(QStringLiteral("setMarkedText")).size(), 1);
  controller_->apply(commit("\u0995"), &client_);

  struct Case {
    const char* raw;
    const char* commit;
    std::uint32_t flags;
    std::int64_t words, autocorrections, saved;  // running totals after the row
  };
  const Case cases[] = {
      {"abc", "\u0995\u0996\u0997", 2, 2, 0, 0},
      {"abc", "\u0995\u0996\u0997", 2 | 8, 3, 1, 2},                  // same length: at least 2
      {"ab", "\u0995\u0996\u0997", 2 | 8, 4, 2, 4},                   // one more: at least 2
      {"a", "\u0995\u0996\u0997\u0998\u0999\u099A", 2 | 8, 5, 3, 9},  // five more
      {"x1", "123", 2 | 8, 5, 3, 9},                                  // no letter, no word
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commit);
    commitWord(*controller_, client_, c.raw, "\u0995", commit(c.commit, c.flags));
    TypingStatsStore::flush();
    const TypingStats stats = TypingStatsStore::load();
    EXPECT_EQ(stats.totalWordsCommitted, c.words);
    EXPECT_EQ(stats.totalAutocorrections, c.autocorrections);
    EXPECT_EQ(stats.keystrokesSavedByAutocorrect, c.saved);
  }
}

TEST_F(TolvaniInputControllerApplyTest, EnglishRowOnlyForRememberedPhoneticCommits) {
  const std::string long128(128, 'a'), long129(129, 'a');
  engine_.commonEnglish = {"the", long128, long129, "a1", "don't", "caf\u00e9"};
  struct Case {
    std::string raw;
    const char* commit;
    bool row;
  };
  const Case cases[] = {
      {"the", "\u09A6\u09BF ", true},
      {long128, "\u0995 ", true},
      {long129, "\u0995 ", false},
      {"a1", "\u0995 ", false},
      {"don't", "\u0995 ", false},
      {"caf\u00e9", "\u0995 ", false},
      {"the", "\u09A6\u09BF", false},          // no trailing space
      {"the", "\u09A6\u09BF \u09E7 ", false},  // a digit is no letter
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.raw.substr(0, 8) + " " + c.commit);
    commitWord(*controller_, client_, c.raw, "\u0995", commit(c.commit));
    EXPECT_EQ(rows() == c.raw + "/english", c.row) << rows();
  }

  // The text changed since: picking the row replaces nothing.
  commitWord(*controller_, client_, "the", "\u09A6\u09BF", commit("\u09A6\u09BF "));
  ASSERT_EQ(rows(), "the/english");
  const qsizetype end = client_.document().size();
  client_.userEdit({end - 3, 1}, u("\u0995"));
  client_.userClick(end);
  const QString before = client_.document();
  controller_->testPanel()->rowClicked(0);
  EXPECT_EQ(client_.document(), before);

  // A client that gives no text never gets the row.
  RecordingTextClient blind;
  blind.knobs().lacksSelectedRange = true;
  blind.knobs().lacksStringFromRange = true;
  auto other = makeController(blind);
  commitWord(*other, blind, "the", "\u09A6\u09BF", commit("\u09A6\u09BF "));
  EXPECT_EQ(panelRows(*other), "hidden");
  EXPECT_FALSE(other->testHasRecentCommit());
}

TEST_F(TolvaniInputControllerApplyTest, SpellingOfferAndPredictions) {
  EngineState offered = commit("\u0995\u0996\u0997 ");
  offered.spelling_offer = "\u0995\u0996\u0998";
  offered.spelling_offer_for = "\u0995\u0996\u0997";
  offered.predictions = {"\u0995\u0996\u0998", "\u09B8\u09C7"};

  commitWord(*controller_, client_, "abc", "\u0995", offered);
  EXPECT_EQ(rows(), "কখঘ/standard|সে/prediction") << "the offer is shown once";
  EXPECT_TRUE(controller_->handle(kTab, &client_));
  EXPECT_EQ(client_.document(), u("x কখঘ ")) << "the space after the word stays";
  EXPECT_EQ(engine_.calls.back(), "accept");

  // The text changed under the caret: Tab replaces nothing.
  commitWord(*controller_, client_, "abc", "\u0995", offered);
  const qsizetype caret = client_.selection().location;
  client_.userEdit({caret - 4, 1}, u("\u0996"));
  client_.userClick(caret);
  const QString before = client_.document();
  EXPECT_TRUE(controller_->handle(kTab, &client_));
  EXPECT_EQ(client_.document(), before);

  // Predictive text off: only the offer. Suggestions off: nothing at all.
  AppSettings::suite().set(AppSettings::predictiveTextKey(), false);
  commitWord(*controller_, client_, "abc", "\u0995", offered);
  EXPECT_EQ(rows(), "কখঘ/standard");
  AppSettings::setSuggestionsEnabled(false);
  commitWord(*controller_, client_, "abc", "\u0995", offered);
  EXPECT_EQ(rows(), "hidden");
  EXPECT_FALSE(controller_->testHasPostCommit());

  // A client that gives no selection: no panel, so nothing can replace text later.
  AppSettings::setSuggestionsEnabled(true);
  RecordingTextClient blind;
  blind.knobs().lacksSelectedRange = true;
  auto other = makeController(blind);
  commitWord(*other, blind, "abc", "\u0995", offered);
  EXPECT_FALSE(other->testHasPostCommit());
  EXPECT_FALSE(other->handle(kTab, &blind));
}

// Committing for a mode change hid the post-commit panel but kept its rows, so the next Tab
// replaced the word with an offer the user never saw; a mouse pick of a post-commit row counted
// two selections.
TEST_F(TolvaniInputControllerApplyTest, HiddenPostCommitRowsArePickedByNobody) {
  engine_.onKey = [](const CKeyEvent& e, const std::string&, EngineState answer) {
    if (e.kind == 1) {
      answer.spelling_offer = "\u0998";
      answer.spelling_offer_for = answer.commit_text;
    }
    return answer;
  };
  controller_->handle(KeyEvent{true, 0, 0, u("a"), u("a")}, &client_);
  AppSettings::setDefaultMode(KeyboardMode::national);
  AppSettings::postDidChange(false);
  EXPECT_EQ(client_.document(), u("x ক"));
  EXPECT_EQ(rows(), "hidden");
  EXPECT_FALSE(controller_->testHasPostCommit());
  EXPECT_FALSE(controller_->handle(kTab, &client_));
  EXPECT_EQ(client_.document(), u("x ক"));

  commitWord(*controller_, client_, "a", "\u0995", commit("\u0995 ", 2));
  EngineState predicted = commit("\u0995 ");
  predicted.predictions = {"\u09B8\u09C7"};
  commitWord(*controller_, client_, "a", "\u0995", predicted);
  TypingStatsStore::flush();
  const std::int64_t selections = TypingStatsStore::load().totalCandidateSelections;
  controller_->testPanel()->rowClicked(0);
  EXPECT_TRUE(client_.document().endsWith(u("ক সে ")));
  TypingStatsStore::flush();
  EXPECT_EQ(TypingStatsStore::load().totalCandidateSelections, selections + 1);
}

TEST_F(TolvaniInputControllerApplyTest, CaretRectangleAndItsFallbacks) {
  // Below the caret of the marked text, 4 points down.
  controller_->apply(composing("a", "\u0995"), &client_);
  const qreal good = controller_->testPanel()->layout().frame.top();
  EXPECT_EQ(good, 200 + 18 + 4);

  // Rectangles that fail the test leave the panel at the last good one.
  const QRectF bad[] = {QRectF(300, 400, 1, 0), QRectF(0, 0, 1, 18), QRectF(300, 400, 1, 200),
                        QRectF(5000, 5000, 1, 18)};
  std::string raw = "a";
  for (const QRectF& r : bad) {
    client_.knobs().caretRect = r;
    raw += "b";
    controller_->apply(composing(raw, "\u0995"), &client_);
    EXPECT_EQ(controller_->testPanel()->layout().frame.top(), good) << r.y() << " " << r.height();
  }

  // The line-height rectangle serves when the range has none.
  RecordingTextClient lineOnly;
  lineOnly.knobs().noCaretRect = true;
  lineOnly.knobs().lacksLineHeightRectangle = false;
  lineOnly.knobs().lineHeightRect = QRectF(500, 600, 1, 20);
  auto second = makeController(lineOnly);
  second->apply(composing("a", "\u0995"), &lineOnly);
  EXPECT_EQ(second->testPanel()->layout().frame.top(), 624);

  // No caret at all and none before: the rows go to the framework's own list.
  RecordingTextClient none;
  none.knobs().noCaretRect = true;
  auto third = makeController(none);
  third->apply(composing("a", "\u0995"), &none);
  ASSERT_NE(third->testPanel()->activeFace(), nullptr);
  EXPECT_FALSE(third->testPanel()->activeFace()->placesWindows());
}

// The person clicks rows of the real panel window beside the caret: a candidate while composing,
// then a prediction after the commit; each lands in the client and the panel goes.
TEST_F(TolvaniInputControllerApplyTest, ClicksOnRowsOfThePanelWindowCommitTheirText) {
  CandidatePanel::setFaceFactory([] {
    return std::make_pair<std::unique_ptr<CandidatePanelFace>, std::unique_ptr<CandidatePanelFace>>(
        std::make_unique<CandidatePanelWindow>(), std::make_unique<ScreenFace>(false));
  });
  engine_.onKey = [](const CKeyEvent& e, const std::string&, EngineState answer) {
    if (e.kind == 1) answer.predictions = {"\u09A4\u09C1\u09AE\u09BF", "\u09B8\u09C7"};
    return answer;
  };
  RecordingTextClient client{u("x ")};
  auto controller = makeController(client);
  const auto clickRow = [&](int row) {
    QWidget* window = nullptr;
    // The window is asserted below, which says more than the wait's own answer.
    (void)QTest::qWaitFor([&] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (dynamic_cast<CandidatePanelWindow*>(w) && w->isVisible()) window = w;
      }
      return window != nullptr;
    });
    ASSERT_NE(window, nullptr);
    const QRectF frame = controller->testPanel()->rows()[row].frame;
    ASSERT_FALSE(frame.isEmpty());
    QTest::mouseClick(window, Qt::LeftButton, {}, frame.center().toPoint());
    EXPECT_FALSE(window->isVisible());
  };

  for (const char c : std::string("aba")) ASSERT_TRUE(controller->handle(letter(c), &client));
  ASSERT_EQ(panelRows(*controller), "কখক/exact|কখকি/prefix");
  clickRow(1);
  EXPECT_EQ(client.document(), u("x কখকি"));
  EXPECT_TRUE(client.marked().isNotFound());
  EXPECT_EQ(TypingStatsStore::load().totalCandidateSelections, 1);

  ASSERT_TRUE(controller->handle(letter('a'), &client));
  ASSERT_TRUE(controller->handle(kSpace, &client));
  ASSERT_EQ(panelRows(*controller), "তুমি/prediction|সে/prediction");
  clickRow(1);
  EXPECT_EQ(client.document(), u("x কখকিক সে "));
  EXPECT_EQ(TypingStatsStore::load().totalCandidateSelections, 2);
}

}  // namespace
}  // namespace tolvani
