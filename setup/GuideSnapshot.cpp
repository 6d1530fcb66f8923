#include "setup/GuideSnapshot.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>
#include <QJsonValue>

#include <algorithm>
#include <memory>

namespace tolvani::guide {

QString rawValue(Step step) {
  switch (step) {
    case Step::add:
      return QStringLiteral("add");
    case Step::show:
      return QStringLiteral("show");
    case Step::select:
      return QStringLiteral("select");
  }
  return {};
}

std::optional<Step> stepFromRawValue(const QString& raw) {
  for (Step step : kAllSteps)
    if (rawValue(step) == raw) return step;
  return std::nullopt;
}

bool conditionMet(const State& state, Step step) {
  switch (step) {
    case Step::add:
      return state.status == InputSourceRegistration::State::enabled;
    case Step::show:
      // No IBus icon shows before the session runs the daemon, nor without a panel to show it.
      return state.menuVisible && state.ibusRunning && state.panelRuns;
    case Step::select:
      // Once set up, another keyboard is the person's choice, not a step left.
      return state.selected ||
             (state.completed && state.status == InputSourceRegistration::State::enabled);
  }
  return false;
}

bool allStepsMet(const State& state) {
  for (Step step : kAllSteps)
    if (!conditionMet(state, step)) return false;
  return true;
}

std::optional<Step> effectiveFailedStep(const State& state) {
  if (state.failed) return state.failed;
  if (!state.busy && state.status != InputSourceRegistration::State::enabled) return Step::add;
  return std::nullopt;
}

QString rowState(const State& state, Step step) {
  if (state.running == step) return QStringLiteral("working");
  if (effectiveFailedStep(state) == step) return QStringLiteral("failed");
  if (conditionMet(state, step)) {
    // Nothing shows the menu: the row says so, not that it is done.
    if (step == Step::show && state.fcitx5 && !state.statusArea) return QStringLiteral("none");
    return QStringLiteral("done");
  }
  if (step != Step::add && !state.ibusRunning) return QStringLiteral("waiting");
  return QStringLiteral("pending");
}

QString phase(const State& state) {
  if (state.busy) return QStringLiteral("working");
  if (state.failed) return QStringLiteral("failed");
  if (state.status != InputSourceRegistration::State::enabled) return QStringLiteral("failed");
  if (!state.ibusRunning) return QStringLiteral("waiting");
  if (allStepsMet(state)) return state.selected ? QStringLiteral("done") : QStringLiteral("away");
  const bool onlySwitchLeft = conditionMet(state, Step::add) && conditionMet(state, Step::show);
  if (state.selectedByPerson && onlySwitchLeft) return QStringLiteral("choose");
  // The panel starts with the session, which no retry replaces.
  if (!state.panelRuns) return QStringLiteral("panel");
  if (state.switchedByPerson && onlySwitchLeft) return QStringLiteral("away");
  return QStringLiteral("left");
}

bool keyboardSettingsWork(const State& state) {
  // IBus Preferences would only offer to start a daemon the session does not use.
  if (state.fcitx5) return state.checked && state.ibusRunning;
  return state.gnome || (state.checked && state.ibusRunning);
}

QJsonObject snapshot(const State& state) {
  QJsonObject rows;
  for (Step step : kAllSteps) rows.insert(rawValue(step), rowState(state, step));
  const std::optional<Step> failedStep = effectiveFailedStep(state);
  bool truncated = false;
  const QString shortcut = firstCharacters(state.shortcut, kMaxShortcutCharacters, &truncated);
  return QJsonObject{
      {QStringLiteral("lang"), state.language},
      {QStringLiteral("stage"),
       state.stage == Stage::tour ? QStringLiteral("tour") : QStringLiteral("setup")},
      {QStringLiteral("tourStep"), state.tourStep},
      {QStringLiteral("phase"), phase(state)},
      {QStringLiteral("rows"), rows},
      {QStringLiteral("failedStep"), failedStep ? rawValue(*failedStep) : QString()},
      {QStringLiteral("error"), state.failure},
      {QStringLiteral("status"), InputSourceRegistration::rawValue(state.status)},
      {QStringLiteral("selected"), state.selected},
      {QStringLiteral("ibus"), state.ibusRunning},
      {QStringLiteral("gnome"), state.gnome},
      {QStringLiteral("desktop"), state.desktop},
      {QStringLiteral("framework"),
       state.fcitx5 ? QStringLiteral("fcitx5") : QStringLiteral("ibus")},
      {QStringLiteral("switchKey"), state.switchKey},
      {QStringLiteral("statusArea"), state.statusArea},
      {QStringLiteral("virtualKeyboard"), state.chooseVirtualKeyboard},
      {QStringLiteral("settings"), keyboardSettingsWork(state)},
      {QStringLiteral("selectedByPerson"), state.selectedByPerson},
      {QStringLiteral("busy"), state.busy},
      {QStringLiteral("session"), state.session},
      {QStringLiteral("focusTyping"), state.focusTyping},
      {QStringLiteral("options"), QJsonObject{{QStringLiteral("digits"), state.digits},
                                              {QStringLiteral("english"), state.english},
                                              {QStringLiteral("suggestions"), state.suggestions},
                                              {QStringLiteral("autocorrect"), state.autocorrect},
                                              {QStringLiteral("emoji"), state.emoji}}},
      {QStringLiteral("shortcut"), shortcut},
      {QStringLiteral("shortcutTruncated"), truncated},
      {QStringLiteral("defaultLayout"), state.defaultLayout},
      {QStringLiteral("quiet"), state.quiet},
      {QStringLiteral("visible"), state.visible},
  };
}

QString firstCharacters(const QString& text, qsizetype limit, bool* truncated) {
  *truncated = false;
  if (text.isEmpty()) return text;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(
      icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !iterator) {
    // Without ICU's data, cut at whole scalars.
    qsizetype end = std::min(limit, text.size());
    if (end > 0 && end < text.size() && text[end - 1].isHighSurrogate()) --end;
    *truncated = end < text.size();
    return text.left(end);
  }
  UText utext = UTEXT_INITIALIZER;
  utext_openUChars(&utext, reinterpret_cast<const UChar*>(text.utf16()), text.size(), &status);
  iterator->setText(&utext, status);
  qsizetype end = text.size();
  if (U_SUCCESS(status)) {
    iterator->first();
    for (qsizetype count = 0; count < limit; ++count) {
      if (iterator->next() == icu::BreakIterator::DONE) break;
    }
    const int32_t boundary = iterator->current();
    if (boundary > 0 && boundary < text.size()) end = boundary;
  }
  utext_close(&utext);
  *truncated = end < text.size();
  return text.left(end);
}

}  // namespace tolvani::guide

namespace tolvani {

bool hasBanglaLetters(const QString& text) {
  // Every range lies in the Basic Multilingual Plane, so UTF-16 units stand for the scalars.
  for (const QChar unit : text) {
    const char16_t c = unit.unicode();
    if ((c >= 0x0985 && c <= 0x09B9) || c == 0x09CE || (c >= 0x09DC && c <= 0x09DF) ||
        c == 0x09F0 || c == 0x09F1)
      return true;
  }
  return false;
}

}  // namespace tolvani
