#include "windows/GeneralTab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings/UIStrings.h"
#include "windows/SettingsCopies.h"
#include "windows/SettingsWidgets.h"

namespace tolvani {
namespace {

// The option whose data is `value`, or -1 (no option shown) when none has it.
void selectData(QComboBox* picker, int value) { picker->setCurrentIndex(picker->findData(value)); }

}  // namespace

GeneralTab::GeneralTab(QWidget* parent) : QWidget(parent) {
  QFormLayout* layoutRows = nullptr;
  layoutSection_ = settingsui::makeSection(&layoutRows);
  layoutPicker_ = new QComboBox;
  layoutPicker_->setObjectName(QStringLiteral("defaultLayout"));
  for (KeyboardMode mode : kAllKeyboardModes) layoutPicker_->addItem(title(mode), rawValue(mode));
  layoutLabel_ = new QLabel;
  layoutLabel_->setBuddy(layoutPicker_);
  layoutRows->addRow(layoutLabel_, layoutPicker_);
  languagePicker_ = new QComboBox;
  languagePicker_->setObjectName(QStringLiteral("uiLanguage"));
  // The same in both interface languages: each names itself.
  languagePicker_->addItem(QStringLiteral("🇧🇩 বাংলা"), 0);
  languagePicker_->addItem(QStringLiteral("🇬🇧 English"), 1);
  languageLabel_ = new QLabel;
  languageLabel_->setBuddy(languagePicker_);
  layoutRows->addRow(languageLabel_, languagePicker_);

  QFormLayout* suggestionRows = nullptr;
  suggestionsSection_ = settingsui::makeSection(&suggestionRows);
  suggestionsToggle_ = new QCheckBox;
  suggestionsToggle_->setObjectName(QStringLiteral("showSuggestions"));
  suggestionRows->addRow(suggestionsToggle_);
  countStepper_ = new QSpinBox;
  countStepper_->setObjectName(QStringLiteral("suggestionCount"));
  countStepper_->setRange(AppSettings::kMinSuggestionCount, AppSettings::kMaxSuggestionCount);
  // A number typed digit by digit is stored once, when it is complete.
  countStepper_->setKeyboardTracking(false);
  countStepper_->setAlignment(Qt::AlignRight);
  countLabel_ = new QLabel;
  countLabel_->setBuddy(countStepper_);
  suggestionRows->addRow(countLabel_, countStepper_);
  themePicker_ = new QComboBox;
  themePicker_->setObjectName(QStringLiteral("panelTheme"));
  for (int appearance : {0, 1, 2}) themePicker_->addItem(QString(), appearance);
  themeLabel_ = new QLabel;
  themeLabel_->setBuddy(themePicker_);
  suggestionRows->addRow(themeLabel_, themePicker_);

  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->addWidget(layoutSection_);
  column->addWidget(suggestionsSection_);
  column->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(settingsui::makeScrollPage(content));

  connect(layoutPicker_, &QComboBox::currentIndexChanged, this, &GeneralTab::layoutChosen);
  connect(languagePicker_, &QComboBox::currentIndexChanged, this, &GeneralTab::languageChosen);
  connect(suggestionsToggle_, &QCheckBox::toggled, this, &GeneralTab::suggestionsToggled);
  connect(countStepper_, &QSpinBox::valueChanged, this, &GeneralTab::countChanged);
  connect(themePicker_, &QComboBox::currentIndexChanged, this, &GeneralTab::themeChosen);

  updateTexts();
  reload(SettingsCopies::read());
}

void GeneralTab::reload(const SettingsCopies& copies) {
  const QSignalBlocker layoutBlock(layoutPicker_), countBlock(countStepper_),
      toggleBlock(suggestionsToggle_), themeBlock(themePicker_), languageBlock(languagePicker_);
  selectData(layoutPicker_, rawValue(copies.defaultMode));
  countStepper_->setValue(copies.suggestionCount);
  suggestionsToggle_->setChecked(copies.suggestionsEnabled);
  countStepper_->setEnabled(copies.suggestionsEnabled);
  selectData(themePicker_, copies.panelAppearance);
  selectData(languagePicker_, copies.uiLanguage);
}

void GeneralTab::updateTexts() {
  layoutSection_->setTitle(settingsui::plain(UIStrings::layoutSection()));
  layoutLabel_->setText(settingsui::plain(UIStrings::defaultLayout()));
  languageLabel_->setText(settingsui::plain(UIStrings::interfaceLanguage()));
  suggestionsSection_->setTitle(settingsui::plain(UIStrings::suggestions()));
  suggestionsToggle_->setText(settingsui::plain(UIStrings::showSuggestions()));
  countLabel_->setText(settingsui::plain(UIStrings::candidatesShown()));
  themeLabel_->setText(settingsui::plain(UIStrings::panelTheme()));
  themePicker_->setItemText(0, UIStrings::panelSystem());
  themePicker_->setItemText(1, UIStrings::panelDark());
  themePicker_->setItemText(2, UIStrings::panelLight());
}

void GeneralTab::layoutChosen(int index) {
  if (index < 0) return;
  const std::optional<KeyboardMode> mode =
      keyboardModeFromRawValue(layoutPicker_->itemData(index).toInt());
  if (!mode) return;
  AppSettings::setDefaultMode(*mode);
  AppSettings::postDidChange(false);
}

void GeneralTab::languageChosen(int index) {
  if (index < 0) return;
  AppSettings::setUiLanguage(languagePicker_->itemData(index).toInt());
  AppSettings::postDidChange(false);
  Q_EMIT interfaceLanguageChanged();
}

void GeneralTab::suggestionsToggled(bool enabled) {
  // The count keeps its value while it cannot be changed.
  countStepper_->setEnabled(enabled);
  AppSettings::setSuggestionsEnabled(enabled);
  AppSettings::postDidChange(false);
}

void GeneralTab::countChanged(int count) {
  AppSettings::setSuggestionCount(count);
  AppSettings::postDidChange(false);
}

void GeneralTab::themeChosen(int index) {
  if (index < 0) return;
  AppSettings::setPanelAppearance(themePicker_->itemData(index).toInt());
  AppSettings::postDidChange(false);
}

}  // namespace tolvani
