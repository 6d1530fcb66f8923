#include "windows/TypingTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include "help/KeyboardHelpController.h"
#include "settings/AppSettings.h"
#include "settings/UIStrings.h"
#include "stats/DiagnosticsView.h"
#include "stats/TypingStatsWindowController.h"
#include "windows/CorrectionPreferencesView.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/SettingsCopies.h"
#include "windows/SettingsWidgets.h"
#include "windows/TextShortcutsEditor.h"

namespace tolvani {
namespace {

// The four switches the store reads straight from their keys.
void storeKey(const QString& key, bool value) { AppSettings::suite().set(key, value); }
void storeEmoji(bool on) { storeKey(AppSettings::kInlineEmojiEnabledKey, on); }
void storeModernSpellings(bool on) { storeKey(AppSettings::kPreferModernSpellingsKey, on); }
void storePredictions(bool on) { storeKey(AppSettings::predictiveTextKey(), on); }

}  // namespace

TypingTab::TypingTab(QWidget* parent) : QWidget(parent) {
  QFormLayout* behaviorRows = nullptr;
  behaviorSection_ = settingsui::makeSection(&behaviorRows);
  auto addRow = [&](QWidget* widget) { behaviorRows->addRow(widget); };
  banglaDigits_ = addSwitch("banglaDigits", AppSettings::setBanglaDigitsEnabled);
  addRow(banglaDigits_);
  emoji_ = addSwitch("inlineEmoji", storeEmoji);
  addRow(emoji_);
  diagnosticsLink_ = settingsui::makeLinkButton("diagnosticsLink");
  connect(diagnosticsLink_, &QPushButton::clicked, this, [this] { push(new DiagnosticsView); });
  addRow(diagnosticsLink_);
  modernSpellings_ = addSwitch("modernSpellings", storeModernSpellings);
  addRow(modernSpellings_);
  spokenForms_ = new QComboBox;
  spokenForms_->setObjectName(QStringLiteral("spokenForms"));
  spokenForms_->addItem(QString(), false);
  spokenForms_->addItem(QString(), true);
  spokenLabel_ = new QLabel;
  spokenLabel_->setBuddy(spokenForms_);
  behaviorRows->addRow(spokenLabel_, spokenForms_);
  connect(spokenForms_, &QComboBox::currentIndexChanged, this, [this](int index) {
    if (index < 0) return;
    storeKey(AppSettings::kSpokenStandardKey, spokenForms_->itemData(index).toBool());
    AppSettings::postDidChange(false);
  });
  predictions_ = addSwitch("predictiveText", storePredictions);
  addRow(predictions_);
  correctionsLink_ = settingsui::makeLinkButton("correctionsLink");
  connect(correctionsLink_, &QPushButton::clicked, this,
          [this] { push(new CorrectionPreferencesView); });
  addRow(correctionsLink_);
  autocorrect_ = addSwitch("autocorrect", AppSettings::setAutocorrectEnabled);
  addRow(autocorrect_);
  englishPassthrough_ = addSwitch("englishPassthrough", AppSettings::setEnglishPassthroughEnabled);
  addRow(englishPassthrough_);

  QFormLayout* toolRows = nullptr;
  toolsSection_ = settingsui::makeSection(&toolRows);
  customKeys_ = settingsui::makeLinkButton("customKeys");
  connect(customKeys_, &QPushButton::clicked, this,
          [] { CustomLayoutEditorController::shared().showWindow(); });
  toolRows->addRow(customKeys_);
  textShortcuts_ = settingsui::makeLinkButton("textShortcuts");
  connect(textShortcuts_, &QPushButton::clicked, this,
          [] { TextShortcutsEditorController::shared().showWindow(); });
  toolRows->addRow(textShortcuts_);
  typingInsights_ = settingsui::makeLinkButton("typingInsights");
  connect(typingInsights_, &QPushButton::clicked, this,
          [] { TypingStatsWindowController::shared().showWindow(); });
  toolRows->addRow(typingInsights_);
  keyboardHelp_ = settingsui::makeLinkButton("keyboardHelp");
  connect(keyboardHelp_, &QPushButton::clicked, this,
          [] { KeyboardHelpController::shared().showWindow(); });
  toolRows->addRow(keyboardHelp_);

  tip_ = settingsui::makeSecondaryLabel();
  tip_->setObjectName(QStringLiteral("tip"));

  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->addWidget(behaviorSection_);
  column->addWidget(toolsSection_);
  column->addWidget(tip_);
  column->addStretch(1);

  pageHolder_ = new QWidget;
  back_ = new QToolButton;
  back_->setObjectName(QStringLiteral("back"));
  back_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  back_->setAutoRaise(true);
  connect(back_, &QToolButton::clicked, this, &TypingTab::pop);
  auto* pageLayout = new QVBoxLayout(pageHolder_);
  pageLayout->setContentsMargins(0, 0, 0, 0);
  pageLayout->addWidget(back_, 0, Qt::AlignLeft);

  stack_ = new QStackedWidget;
  stack_->addWidget(settingsui::makeScrollPage(content));
  stack_->addWidget(pageHolder_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);

  updateTexts();
  reload(SettingsCopies::read());
}

QCheckBox* TypingTab::addSwitch(const char* name, void (*store)(bool)) {
  auto* box = new QCheckBox;
  box->setObjectName(QString::fromLatin1(name));
  connect(box, &QCheckBox::toggled, this, [store](bool on) {
    store(on);
    AppSettings::postDidChange(false);
  });
  return box;
}

void TypingTab::reload(const SettingsCopies& copies) {
  const QSignalBlocker b1(banglaDigits_), b2(emoji_), b3(modernSpellings_), b4(spokenForms_),
      b5(predictions_), b6(autocorrect_), b7(englishPassthrough_);
  banglaDigits_->setChecked(copies.banglaDigits);
  autocorrect_->setChecked(copies.autocorrect);
  englishPassthrough_->setChecked(copies.englishPassthrough);
  emoji_->setChecked(AppSettings::inlineEmojiEnabled());
  const EnginePreferences preferences = AppSettings::enginePreferences();
  modernSpellings_->setChecked(preferences.preferModernSpellings);
  spokenForms_->setCurrentIndex(preferences.offerSpokenStandard ? 1 : 0);
  predictions_->setChecked(AppSettings::predictiveTextEnabled());
}

void TypingTab::updateTexts() {
  behaviorSection_->setTitle(settingsui::plain(UIStrings::inputBehavior()));
  banglaDigits_->setText(settingsui::plain(UIStrings::banglaDigits()));
  emoji_->setText(settingsui::plain(UIStrings::emojiSuggestions()));
  diagnosticsLink_->setText(settingsui::plain(UIStrings::diagnostics()));
  modernSpellings_->setText(settingsui::plain(UIStrings::preferModernSpellings()));
  spokenLabel_->setText(settingsui::plain(UIStrings::spokenForms()));
  spokenForms_->setItemText(0, UIStrings::keepWhatIType());
  spokenForms_->setItemText(1, UIStrings::suggestStandard());
  predictions_->setText(settingsui::plain(UIStrings::nextWordPredictions()));
  correctionsLink_->setText(settingsui::plain(UIStrings::correctionPreferences()));
  autocorrect_->setText(settingsui::plain(UIStrings::autocorrect()));
  englishPassthrough_->setText(settingsui::plain(UIStrings::escapeEnglish()));
  toolsSection_->setTitle(settingsui::plain(UIStrings::toolsSection()));
  customKeys_->setText(settingsui::plain(UIStrings::customKeysEditor()));
  textShortcuts_->setText(settingsui::plain(UIStrings::textShortcuts()));
  typingInsights_->setText(settingsui::plain(UIStrings::typingInsights()));
  keyboardHelp_->setText(settingsui::plain(UIStrings::keyboardHelp()));
  tip_->setText(UIStrings::shortcutTip());
  back_->setText(settingsui::plain(UIStrings::back()));
  updateIcons();
  // The page open over the form switches with it, so that nothing stays in the old language.
  if (page_) {
    QEvent change(QEvent::LanguageChange);
    QCoreApplication::sendEvent(page_, &change);
  }
}

void TypingTab::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) updateIcons();
}

void TypingTab::updateIcons() {
  const QColor ink = palette().color(QPalette::ButtonText);
  using settingsui::symbolIcon;
  diagnosticsLink_->setIcon(
      symbolIcon(QStringLiteral("utilities-system-monitor"), QStringLiteral("∿"), ink));
  correctionsLink_->setIcon(
      symbolIcon(QStringLiteral("tools-check-spelling"), QStringLiteral("✓"), ink));
  customKeys_->setIcon(symbolIcon(QStringLiteral("preferences-desktop-keyboard-shortcuts"),
                                  QStringLiteral("▦"), ink));
  textShortcuts_->setIcon(symbolIcon(QStringLiteral("insert-text"), QStringLiteral("✎"), ink));
  typingInsights_->setIcon(
      symbolIcon(QStringLiteral("office-chart-bar"), QStringLiteral("▥"), ink));
  keyboardHelp_->setIcon(symbolIcon(QStringLiteral("help-browser"), QStringLiteral("?"), ink));
  back_->setIcon(symbolIcon(QStringLiteral("go-previous"), QStringLiteral("‹"), ink));
}

void TypingTab::push(QWidget* page) {
  pop();
  page_ = page;
  page_->setObjectName(page_->objectName().isEmpty() ? QStringLiteral("page")
                                                     : page_->objectName());
  pageHolder_->layout()->addWidget(page_);
  stack_->setCurrentWidget(pageHolder_);
}

void TypingTab::pop() {
  stack_->setCurrentIndex(0);
  delete page_;
  page_ = nullptr;
}

}  // namespace tolvani
