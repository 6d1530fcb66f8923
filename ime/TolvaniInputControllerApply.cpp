// Writing engine states to the client: marked text, commits and the candidate panel.
#include <cmath>

#include "ime/EmojiSearch.h"
#include "ime/TolvaniInputController.h"

namespace tolvani {
namespace {

bool hasCandidates(const EngineState& state) { return !state.candidates.empty(); }

std::vector<QString> candidateTexts(const EngineState& state) {
  std::vector<QString> texts;
  for (const EngineCandidate& c : state.candidates) texts.push_back(QString::fromStdString(c.text));
  return texts;
}

bool isUsableRect(const std::optional<QRectF>& r) {
  return r && r->height() > 0 && r->height() < 200 && r->topLeft() != QPointF(0, 0) &&
         std::isfinite(r->x()) && std::isfinite(r->y());
}

}  // namespace

bool TolvaniInputController::handle(const KeyEvent&, platform::TextClient*) { return false; }

std::optional<EngineState> TolvaniInputController::selectionState(int) { return std::nullopt; }

void TolvaniInputController::clearMarkedText(platform::TextClient* client) {
  client->setMarkedText(QString(), platform::MarkedTextStyle{}, {0, 0},
                        platform::TextRange::notFound());
}

QRectF TolvaniInputController::cursorRect(platform::TextClient* client) {
  const platform::TextRange marked = client->markedRange();
  std::optional<QRectF> rect;
  if (!marked.isNotFound()) rect = client->firstRectForCharacterRange(marked);
  if (!isUsableRect(rect)) {
    const platform::TextRange selection = client->selectedRange();
    if (!selection.isNotFound()) rect = client->firstRectForCharacterRange(selection);
  }
  if (!isUsableRect(rect)) rect = client->firstRectForCharacterRange({0, 0});
  if (isUsableRect(rect)) {
    lastGoodRect_ = *rect;
    return *rect;
  }
  // A null rectangle tells the panel that no caret is known.
  return isUsableRect(lastGoodRect_) ? lastGoodRect_ : QRectF();
}

void TolvaniInputController::apply(std::optional<EngineState> state, platform::TextClient* client) {
  updateLearningSuppression();
  if (learningSuppressed_) {
    resetComposition();
    return;
  }
  if (!state) return;
  const EngineState old = currentState_;
  currentState_ = *state;
  const EngineState& now = currentState_;
  if (!client) {
    if (!hasCandidates(now)) withPanel([](CandidatePanel& panel) { panel.hide(); });
    return;
  }
  const QString preedit = QString::fromStdString(now.preedit);
  if (now.commit_text.empty()) {
    if (!now.preedit.empty() && now.preedit != old.preedit) {
      client->setMarkedText(preedit, platform::MarkedTextStyle{}, {preedit.size(), 0},
                            platform::TextRange::notFound());
    } else if (now.preedit.empty() && !old.preedit.empty()) {
      clearMarkedText(client);
    }
    englishAlternative_ = false;
  } else {
    client->insertText(QString::fromStdString(now.commit_text), platform::TextRange::notFound());
    clearMarkedText(client);
  }

  if (candidateTexts(now) == candidateTexts(old) && now.raw_text == old.raw_text) return;
  if (!hasCandidates(now)) {
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

}  // namespace tolvani
