#include "stats/TypingStatsWindowController.h"

#include <unicode/datefmt.h>
#include <unicode/locid.h>
#include <unicode/numfmt.h>
#include <unicode/unistr.h>

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "settings/Dialogs.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"
#include "stats/TypingStatsStore.h"

namespace tolvani {
namespace {

constexpr QSize kMinimumContentSize{380, 340};

QString fromIcu(const icu::UnicodeString& text) {
  return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
}

QFont sizedFont(const QFont& base, qreal points, QFont::Weight weight) {
  QFont font = base;
  font.setPointSizeF(points);
  font.setWeight(weight);
  return font;
}

// The ascent of the first line `label` draws. A line that holds Bangla takes the Bangla font's
// ascent, taller than the label's own font's.
qreal lineAscent(const QLabel* label) {
  QTextLayout layout(label->text(), label->font());
  layout.beginLayout();
  const QTextLine line = layout.createLine();
  layout.endLayout();
  return line.isValid() ? line.ascent() : QFontMetricsF(label->font()).ascent();
}

QLabel* makeValueLabel(const char* name) {
  auto* label = new QLabel;
  label->setObjectName(QLatin1String(name));
  label->setFont(sizedFont(label->font(), 13, QFont::Normal));
  return label;
}

}  // namespace

QString TypingStatsWindowController::formatNumber(std::int64_t value) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<icu::NumberFormat> format(
      icu::NumberFormat::createInstance(icu::Locale::getDefault(), status));
  if (U_SUCCESS(status) && format) {
    icu::UnicodeString text;
    format->format(static_cast<int64_t>(value), text);
    if (!text.isEmpty()) return fromIcu(text);
  }
  return QString::number(value);
}

QString TypingStatsWindowController::formatDate(const QDateTime& date) {
  const std::unique_ptr<icu::DateFormat> format(
      icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, icu::Locale::getDefault()));
  if (!format) return QLocale().toString(date.toLocalTime().date(), QLocale::ShortFormat);
  icu::UnicodeString text;
  format->format(static_cast<UDate>(date.toMSecsSinceEpoch()), text);
  return fromIcu(text);
}

TypingStatsWindowController::TypingStatsWindowController(QWidget* parent) : QWidget(parent) {
  keystrokesLabel_ = makeValueLabel("keystrokes");
  wordsLabel_ = makeValueLabel("words");
  autocorrectLabel_ = makeValueLabel("autocorrections");
  selectionsLabel_ = makeValueLabel("selections");
  savedLabel_ = makeValueLabel("saved");
  sessionsLabel_ = makeValueLabel("sessions");
  sinceLabel_ = makeValueLabel("since");

  heading_ = new QLabel;
  heading_->setObjectName(QStringLiteral("heading"));
  heading_->setFont(sizedFont(heading_->font(), 20, QFont::DemiBold));
  subtitle_ = new QLabel;
  subtitle_->setObjectName(QStringLiteral("subtitle"));
  subtitle_->setFont(sizedFont(subtitle_->font(), 12, QFont::Normal));
  secondarytext::follow(subtitle_);

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(16);
  grid->setVerticalSpacing(10);
  grid->setColumnMinimumWidth(0, 180);
  QLabel* const values[] = {keystrokesLabel_, wordsLabel_,    autocorrectLabel_, selectionsLabel_,
                            savedLabel_,      sessionsLabel_, sinceLabel_};
  for (int row = 0; row < 7; ++row) {
    rowTitles_[row] = new QLabel;
    rowTitles_[row]->setFont(sizedFont(rowTitles_[row]->font(), 13, QFont::Medium));
    secondarytext::follow(rowTitles_[row]);
    grid->addWidget(rowTitles_[row], row, 0);
    grid->addWidget(values[row], row, 1);
  }
  grid->setColumnStretch(1, 1);

  resetButton_ = new QPushButton;
  resetButton_->setObjectName(QStringLiteral("reset"));
  connect(resetButton_, &QPushButton::clicked, this, &TypingStatsWindowController::resetStats);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  layout->setSpacing(14);
  layout->addWidget(heading_);
  layout->addWidget(subtitle_);
  layout->addLayout(grid);
  layout->addWidget(resetButton_, 0, Qt::AlignLeft);
  layout->addStretch(1);

  updateTexts();
  fitSize();
  centerOnScreen(this);
}

TypingStatsWindowController& TypingStatsWindowController::shared() {
  // Never destroyed: a widget must not outlive the application object at exit.
  static TypingStatsWindowController* const instance = new TypingStatsWindowController;
  return *instance;
}

void TypingStatsWindowController::fitSize() {
  // The fonts are final only once the style has polished the labels.
  ensurePolished();
  alignRows();
  layout()->activate();
  setFixedSize(layout()->sizeHint().expandedTo(kMinimumContentSize));
}

void TypingStatsWindowController::showWindow() {
  reload();
  fitSize();
  openWindow(this);
}

void TypingStatsWindowController::reload() {
  const TypingStats stats = TypingStatsStore::load();
  keystrokesLabel_->setText(formatNumber(stats.totalKeystrokes));
  wordsLabel_->setText(formatNumber(stats.totalWordsCommitted));
  autocorrectLabel_->setText(formatNumber(stats.totalAutocorrections));
  selectionsLabel_->setText(formatNumber(stats.totalCandidateSelections));
  savedLabel_->setText(formatNumber(stats.keystrokesSavedByAutocorrect));
  sessionsLabel_->setText(formatNumber(stats.sessionCount));
  sinceLabel_->setText(stats.firstUsed ? formatDate(*stats.firstUsed) : UIStrings::notYet());
  alignRows();
}

void TypingStatsWindowController::alignRows() {
  QLabel* const values[] = {keystrokesLabel_, wordsLabel_,    autocorrectLabel_, selectionsLabel_,
                            savedLabel_,      sessionsLabel_, sinceLabel_};
  for (int row = 0; row < 7; ++row) {
    // Both from the top of the row, the one with the shorter ascent lowered to the other's
    // baseline; centred, a Bangla title stood higher than the digits beside it.
    QLabel* const pair[] = {rowTitles_[row], values[row]};
    const qreal ascents[] = {lineAscent(pair[0]), lineAscent(pair[1])};
    const qreal baseline = std::max(ascents[0], ascents[1]);
    for (int i = 0; i < 2; ++i) {
      pair[i]->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      pair[i]->setContentsMargins(0, qRound(baseline - ascents[i]), 0, 0);
    }
  }
}

void TypingStatsWindowController::resetStats() {
  const dialogs::Confirmation question{UIStrings::confirmResetTitle(),
                                       UIStrings::confirmResetStats(),
                                       UIStrings::confirmResetButton(), UIStrings::cancelButton()};
  if (!dialogs::current().confirm(this, question)) return;
  TypingStatsStore::reset();
  reload();
}

void TypingStatsWindowController::updateTexts() {
  setWindowTitle(UIStrings::typingInsights());
  heading_->setText(UIStrings::typingInsights());
  subtitle_->setText(UIStrings::typingInsightsSubtitle());
  const QString titles[] = {UIStrings::totalKeystrokes(), UIStrings::wordsCommitted(),
                            UIStrings::autocorrections(), UIStrings::candidateSelections(),
                            UIStrings::keystrokesSaved(), UIStrings::sessions(),
                            UIStrings::trackingSince()};
  for (int row = 0; row < 7; ++row) rowTitles_[row]->setText(titles[row]);
  resetButton_->setText(UIStrings::resetStatistics());
}

}  // namespace tolvani
