// Writing engine states to the client: marked text, commits, statistics, the memory of the last
// commit, the candidate panel, the English alternative and the post-commit panel; row picks; the
// caret rectangle.
#include <unicode/uchar.h>

#include <QTextBoundaryFinder>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "ime/EmojiSearch.h"
#include "ime/TolvaniInputController.h"
#include "stats/TypingStatsStore.h"
#include "tolvani_record_format.h"

namespace tolvani {
namespace {

using platform::TextRange;

constexpr qsizetype kMaxRememberedRaw = 128;
constexpr std::uint32_t kStatusCommitted = TOLVANI_STATUS_COMMITTED;
constexpr std::uint32_t kStatusAutocorrected = TOLVANI_STATUS_AUTOCORRECTED;
constexpr std::uint32_t kStatusRankingPending = TOLVANI_STATUS_RANKING_PENDING;

const QString kSpace = QStringLiteral(" ");

std::vector<std::string> candidateTexts(const EngineState& state) {
  std::vector<std::string> texts;
  texts.reserve(state.candidates.size());
  for (const EngineCandidate& c : state.candidates) texts.push_back(c.text);
  return texts;
}

// The user-perceived characters of `text`.
std::vector<QString> graphemes(const QString& text) {
  std::vector<QString> out;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
  qsizetype start = 0;
  while (finder.toNextBoundary() != -1) {
    out.push_back(text.mid(start, finder.position() - start));
    start = finder.position();
  }
  return out;
}

// A character is a letter when its first scalar is alphabetic, so that a consonant with its
// vowel sign counts as one letter.
bool isLetter(const QString& character) {
  if (character.isEmpty()) return false;
  const char32_t first = character.at(0).isHighSurrogate() && character.size() > 1
                             ? QChar::surrogateToUcs4(character.at(0), character.at(1))
                             : character.at(0).unicode();
  return u_hasBinaryProperty(static_cast<UChar32>(first), UCHAR_ALPHABETIC);
}

bool containsLetter(const QString& text) {
  const std::vector<QString> chars = graphemes(text);
  return std::any_of(chars.begin(), chars.end(), isLetter);
}

bool isAsciiLetters(const QString& text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
  });
}

bool hasBanglaLetters(const QString& text) {
  for (const char32_t c : text.toUcs4()) {
    if ((c >= 0x0985 && c <= 0x09B9) || c == 0x09CE || (c >= 0x09DC && c <= 0x09DF)) return true;
  }
  return false;
}

}  // namespace

namespace {

std::function<bool(const QString&)>& setupConfirmer() {
  static std::function<bool(const QString&)> confirm;
  return confirm;
}

}  // namespace

void TolvaniInputController::setSetupConfirmer(std::function<bool(const QString&)> confirm) {
  setupConfirmer() = std::move(confirm);
}

bool TolvaniInputController::confirmSetupByCommitting(const QString& text) {
  if (const auto& confirm = setupConfirmer()) return confirm(text);
  if (AppSettings::onboardingCompleted()) return true;
  if (!hasBanglaLetters(text)) return false;
  AppSettings::setOnboardingCompleted(true);
  return true;
}

void TolvaniInputController::recordCommit(const QString& text, bool autocorrected,
                                          std::int64_t saved) {
  if (!learningSuppressed_ && containsLetter(text)) {
    TypingStatsStore::recordCommit(autocorrected, saved);
  }
  if (!setupConfirmed_) setupConfirmed_ = confirmSetupByCommitting(text);
}

void TolvaniInputController::clearMarkedText(platform::TextClient* client) {
  client->setMarkedText(QString(), platform::MarkedTextStyle{}, {0, 0}, TextRange::notFound());
}

bool TolvaniInputController::isValidCursorRect(const std::optional<QRectF>& rect) {
  if (!rect) return false;
  const QRectF& r = *rect;
  if (!std::isfinite(r.x()) || !std::isfinite(r.y()) || !std::isfinite(r.width()) ||
      !std::isfinite(r.height())) {
    return false;
  }
  if (!(r.height() > 0 && r.height() < 200) || r.topLeft() == QPointF(0, 0)) return false;
  // A caret of width 0 still lies on a screen: test it as one unit wide.
  const QRectF probe(r.x(), r.y(), std::max<qreal>(r.width(), 1), r.height());
  const std::vector<ScreenArea> screens =
      withPanel([](CandidatePanel& panel) { return panel.screenAreas(); });
  return std::any_of(screens.begin(), screens.end(),
                     [&](const ScreenArea& s) { return s.frame.intersects(probe); });
}

QRectF TolvaniInputController::cursorRect(platform::TextClient* client) {
  auto accept = [this](const std::optional<QRectF>& rect) {
    if (!isValidCursorRect(rect)) return false;
    lastGoodRect_ = *rect;
    return true;
  };
  const TextRange marked = client->markedRange();
  if (!marked.isNotFound() && accept(client->firstRectForCharacterRange(marked))) {
    return lastGoodRect_;
  }
  const TextRange selection = client->selectedRange();
  if (!selection.isNotFound()) {
    if (accept(client->firstRectForCharacterRange(selection))) return lastGoodRect_;
    if (client->respondsTo(platform::TextClient::Call::lineHeightRectangle) &&
        accept(client->lineHeightRectangle(selection.location))) {
      return lastGoodRect_;
    }
  }
  if (accept(client->firstRectForCharacterRange({0, 0}))) return lastGoodRect_;
  if (isValidCursorRect(lastGoodRect_)) return lastGoodRect_;
  // No caret anywhere: a null rectangle sends the rows to the framework's own candidate list,
  // which the desktop places itself.
  return QRectF();
}

void TolvaniInputController::apply(std::optional<EngineState> state, platform::TextClient* client) {
  updateLearningSuppression();
  if (learningSuppressed_) {
    resetComposition();
    return;
  }
  if (!state) return;
  const std::string oldPreedit = currentState_.preedit;
  const std::string oldRaw = currentState_.raw_text;
  const std::vector<std::string> oldCandidates = candidateTexts(currentState_);
  // After a state whose ranking came later, the panel still shows older rows than that state's.
  const bool panelBehind = rankingPending(currentState_);
  currentState_ = std::move(*state);
  const EngineState& now = currentState_;
  const bool rankingLater = rankingPending(now);
  if (rankingLater) {
    rankingTimer_.start();
    if (panel_) panel_->postpone();
  } else {
    rankingTimer_.stop();
  }
  if (!client) {
    if (now.candidates.empty() && !rankingLater)
      withPanel([](CandidatePanel& panel) { panel.hide(); });
    return;
  }
  const QString preedit = QString::fromStdString(now.preedit);

  if (now.commit_text.empty()) {
    if (!now.preedit.empty() && now.preedit != oldPreedit) {
      client->setMarkedText(preedit, platform::MarkedTextStyle{}, {preedit.size(), 0},
                            TextRange::notFound());
    } else if (now.preedit.empty() && !oldPreedit.empty()) {
      clearMarkedText(client);
    }
    englishAlternative_ = false;
    if (rankingLater) return;
  } else {
    // Haptic feedback on a commit from the shown list has no counterpart on this desktop.
    const QString commit = QString::fromStdString(now.commit_text);
    const QString raw = QString::fromStdString(oldRaw);
    const bool autocorrected = (now.status_flags & kStatusAutocorrected) != 0;
    std::int64_t saved = 0;
    if (autocorrected) {
      const auto difference = std::llabs(static_cast<long long>(graphemes(commit).size()) -
                                         static_cast<long long>(graphemes(raw).size()));
      saved = std::max<std::int64_t>(difference, 2);
    }
    client->insertText(commit, TextRange::notFound());
    clearMarkedText(client);
    rememberCommit(raw, commit, client);
    recordCommit(commit, autocorrected, saved);

    if (commit.endsWith(kSpace) && recentCommit_ &&
        EngineBridge::isCommonEnglish(recentCommit_->raw) &&
        recentCommit_->text.trimmed() != recentCommit_->raw) {
      englishAlternative_ = true;
      const QRectF caret = cursorRect(client);
      const std::vector<CandidateItem> rows{
          {1, recentCommit_->raw, QStringLiteral("english"), true}};
      withPanel([&](CandidatePanel& panel) { panel.show(QString(), rows, caret); });
      return;
    }
    englishAlternative_ = false;
    if (showPostCommitPanel(now, client)) return;
  }

  if (!panelBehind && candidateTexts(now) == oldCandidates && now.raw_text == oldRaw) return;
  if (now.candidates.empty()) {
    withPanel([](CandidatePanel& panel) { panel.hide(); });
    return;
  }
  const QString raw = QString::fromStdString(now.raw_text);
  inlineEmoji_ = AppSettings::inlineEmojiEnabled() ? EmojiSearch::inlineSuggestion(raw, preedit)
                                                   : std::nullopt;
  std::vector<CandidateItem> rows;
  for (const EngineCandidate& c : now.candidates) {
    rows.push_back({static_cast<int>(rows.size()) + 1, QString::fromStdString(c.text),
                    QString::fromUtf8(candidate_kind_label(c.kind).data()), true});
  }
  if (inlineEmoji_) {
    rows.push_back({static_cast<int>(rows.size()) + 1, *inlineEmoji_, QStringLiteral("emoji")});
  }
  const QRectF caret = cursorRect(client);
  withPanel([&](CandidatePanel& panel) { panel.show(raw, rows, caret); });
}

bool TolvaniInputController::rankingPending(const EngineState& state) const {
  return rankingDeferred_ && (state.status_flags & kStatusRankingPending) != 0;
}

void TolvaniInputController::settleRanking() {
  if (!rankingTimer_.isActive()) return;
  rankingTimer_.stop();
  applyRanking();
}

void TolvaniInputController::applyRanking() {
  EngineBridge* bridge = engine_.get();
  std::optional<EngineState> ranked = bridge ? bridge->rank() : std::nullopt;
  // Nothing pending: a call since the key has already brought the list.
  if (!ranked) return;
  apply(std::move(ranked), client_);
}

void TolvaniInputController::rememberCommit(const QString& raw, const QString& commit,
                                            platform::TextClient* client) {
  recentCommit_.reset();
  if (currentMode_ != KeyboardMode::phonetic || learningSuppressed_) return;
  if (raw.isEmpty() || raw.size() > kMaxRememberedRaw || !isAsciiLetters(raw)) return;
  if (!containsLetter(commit)) return;
  for (const QString& c : graphemes(commit)) {
    if (c != kSpace && !isLetter(c)) return;
  }
  const TextRange selection = client->selectedRange();
  if (selection.isNotFound() || selection.length != 0 || selection.location < commit.size()) return;
  recentCommit_ =
      RecentCommit{raw, commit, {selection.location - commit.size(), commit.size()}, client};
}

std::optional<EngineState> TolvaniInputController::selectionState(int index) {
  if (postCommit_ && currentState_.raw_text.empty()) {
    selectPostCommitItem(index);
    return std::nullopt;
  }
  if (index == 0 && englishAlternative_ && recentCommit_ && client_) {
    const RecentCommit& recent = *recentCommit_;
    const TextRange selection = client_->selectedRange();
    TextRange actual;
    const bool unchanged = !learningSuppressed_ && !secureEntryActive() &&
                           recent.client == client_ && !selection.isNotFound() &&
                           selection.length == 0 && selection.location == recent.range.end() &&
                           client_->stringFromRange(recent.range, &actual) == recent.text &&
                           actual == recent.range;
    if (unchanged) {
      const QString raw = recent.raw;
      client_->insertText(raw + kSpace, recent.range);
      if (EngineBridge* bridge = engine_.get()) {
        bridge->reset();
        bridge->seedPredictionContext(raw);
      }
      recentCommit_.reset();
      englishAlternative_ = false;
      withPanel([](CandidatePanel& panel) { panel.hide(); });
      return std::nullopt;
    }
  }
  const int count = static_cast<int>(currentState_.candidates.size());
  if (index == count && inlineEmoji_ && !currentState_.raw_text.empty()) {
    if (EngineBridge* bridge = engine_.get()) bridge->reset();
    EngineState emoji;
    emoji.commit_text = inlineEmoji_->toStdString();
    emoji.status_flags = kStatusCommitted;
    return emoji;
  }
  if (index < 0 || index >= count) return std::nullopt;
  EngineBridge* bridge = engine_.get();
  if (!bridge) return std::nullopt;
  return bridge->selectCandidate(QString::fromStdString(currentState_.raw_text),
                                 QString::fromStdString(currentState_.candidates[index].text));
}

void TolvaniInputController::selectPostCommitItem(int index) {
  if (!postCommit_) return;
  const PostCommit post = std::move(*postCommit_);
  postCommit_.reset();
  withPanel([](CandidatePanel& panel) { panel.hide(); });

  if (index < 0 || index >= static_cast<int>(post.items.size()) || !client_) return;
  if (learningSuppressed_ || client_ != post.client) return;
  const TextRange selection = client_->selectedRange();
  if (selection.isNotFound() || selection.location != post.caret || selection.length != 0) return;

  const CandidateItem& item = post.items[index];
  EngineBridge* bridge = engine_.get();
  std::optional<EngineState> next;
  if (item.kind == QLatin1String("standard") && post.offer) {
    TextRange actual;
    if (client_->stringFromRange(post.offer->range, &actual) != post.offer->text ||
        actual != post.offer->range) {
      return;
    }
    client_->insertText(post.offer->replacement, post.offer->range);
    if (bridge) next = bridge->acceptSpellingOffer();
  } else {
    client_->insertText(item.text + kSpace, TextRange::notFound());
    if (bridge) next = bridge->noteCommittedWord(item.text);
  }
  TypingStatsStore::recordCandidateSelection();
  if (next) showPostCommitPanel(*next, client_);
}

bool TolvaniInputController::showPostCommitPanel(const EngineState& state,
                                                 platform::TextClient* client) {
  postCommit_.reset();
  const TextRange selection = client->selectedRange();
  if (!AppSettings::suggestionsEnabled() || learningSuppressed_ || selection.isNotFound() ||
      selection.length != 0) {
    return false;
  }
  const qsizetype caret = selection.location;
  std::vector<CandidateItem> rows;
  std::optional<PostCommit::Offer> offer;
  const QString offered = QString::fromStdString(state.spelling_offer);
  const QString word = QString::fromStdString(state.spelling_offer_for);
  const QString commit = QString::fromStdString(state.commit_text);
  if (!offered.isEmpty() && !word.isEmpty() && commit.startsWith(word) && commit.size() <= caret) {
    offer = PostCommit::Offer{
        commit, offered + commit.mid(word.size()), {caret - commit.size(), commit.size()}};
    rows.push_back({1, offered, QStringLiteral("standard"), false});
  }
  if (AppSettings::predictiveTextEnabled()) {
    for (const std::string& p : state.predictions) {
      const QString prediction = QString::fromStdString(p);
      if (!offered.isEmpty() && prediction == offered) continue;
      rows.push_back(
          {static_cast<int>(rows.size()) + 1, prediction, QStringLiteral("prediction"), false});
    }
  }
  if (rows.empty()) return false;
  postCommit_ = PostCommit{rows, offer, caret, client};
  const QRectF caretRect = cursorRect(client);
  withPanel([&](CandidatePanel& panel) { panel.show(QString(), rows, caretRect); });
  return true;
}

}  // namespace tolvani
