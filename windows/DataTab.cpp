#include "windows/DataTab.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

#include "settings/AppSettingsUserData.h"
#include "settings/BackupPanels.h"
#include "settings/Dialogs.h"
#include "settings/SecondaryText.h"
#include "settings/UIStrings.h"
#include "windows/SettingsWidgets.h"
#include "windows/UserDictionaryEditor.h"
#include "windows/UserDictionaryWork.h"

namespace tolvani {

namespace {

// Every Data tab, in creation order: each opening of the settings window makes its own, and the
// outcome of the work started in one is shown in all.
std::vector<DataTab*>& liveTabs() {
  static std::vector<DataTab*> tabs;
  return tabs;
}

// Exports, imports and resets started and not yet answered.
int g_learnedDataWork = 0;

}  // namespace

DataTab::DataTab(QWidget* parent) : QWidget(parent) {
  QFormLayout* privacyRows = nullptr;
  privacySection_ = settingsui::makeSection(&privacyRows);
  learnedLabel_ = new QLabel;
  learnedCount_ = new QLabel;
  learnedCount_->setObjectName(QStringLiteral("learnedWordCount"));
  secondarytext::follow(learnedCount_);
  learnedCount_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // Digits of one width, so the number does not shift as it changes.
  learnedCount_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  privacyRows->addRow(learnedLabel_, learnedCount_);
  editDictionary_ = settingsui::makeLinkButton("editDictionary");
  connect(editDictionary_, &QPushButton::clicked, this,
          [] { UserDictionaryEditorController::shared().showWindow(); });
  privacyRows->addRow(editDictionary_);
  openFolder_ = settingsui::makeLinkButton("openDataFolder");
  connect(openFolder_, &QPushButton::clicked, this, [] { AppSettings::revealLocalData(); });
  privacyRows->addRow(openFolder_);
  reset_ = settingsui::makeLinkButton("resetLearnedData");
  secondarytext::followColor(reset_, settingsui::destructiveColor);
  connect(reset_, &QPushButton::clicked, this, &DataTab::confirmReset);
  privacyRows->addRow(reset_);

  QFormLayout* backupRows = nullptr;
  backupSection_ = settingsui::makeSection(&backupRows);
  exportWords_ = settingsui::makeLinkButton("exportLearnedWords");
  connect(exportWords_, &QPushButton::clicked, this, &DataTab::exportBackup);
  backupRows->addRow(exportWords_);
  importWords_ = settingsui::makeLinkButton("importLearnedWords");
  connect(importWords_, &QPushButton::clicked, this, &DataTab::importBackup);
  backupRows->addRow(importWords_);
  exportShortcuts_ = settingsui::makeLinkButton("exportTextShortcuts");
  connect(exportShortcuts_, &QPushButton::clicked, this,
          [this] { BackupPanels::exportTextShortcuts(window()); });
  backupRows->addRow(exportShortcuts_);
  importShortcuts_ = settingsui::makeLinkButton("importTextShortcuts");
  connect(importShortcuts_, &QPushButton::clicked, this,
          [this] { BackupPanels::importTextShortcuts(window()); });
  backupRows->addRow(importShortcuts_);
  backupFooter_ = settingsui::makeSecondaryLabel();
  backupRows->addRow(backupFooter_);

  auto* offline = new QGroupBox;
  auto* offlineRows = new QVBoxLayout(offline);
  auto* badgeRow = new QHBoxLayout;
  badgeIcon_ = new QLabel;
  badge_ = new QLabel;
  badge_->setObjectName(QStringLiteral("offlineBadge"));
  secondarytext::followColor(badge_, settingsui::reassuringColor);
  badgeRow->addWidget(badgeIcon_);
  badgeRow->addWidget(badge_, 1);
  offlineRows->addLayout(badgeRow);
  footnote_ = settingsui::makeSecondaryLabel();
  footnote_->setObjectName(QStringLiteral("footnote"));
  offlineRows->addWidget(footnote_);

  auto* content = new QWidget;
  auto* column = new QVBoxLayout(content);
  column->addWidget(privacySection_);
  column->addWidget(backupSection_);
  column->addWidget(offline);
  column->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(settingsui::makeScrollPage(content));

  updateTexts();
  liveTabs().push_back(this);
  updateLearnedDataButtons();
  reload();
}

void DataTab::reload() {
  UserDictionaryWork::countWords(this, [this](int count) { showLearnedWordCount(count); });
}

void DataTab::showLearnedWordCount(int count) {
  // The desktop's number format, whatever the interface language.
  learnedCount_->setText(QLocale::system().toString(count));
}

void DataTab::updateTexts() {
  privacySection_->setTitle(settingsui::plain(UIStrings::privacySection()));
  learnedLabel_->setText(UIStrings::learnedWords());
  editDictionary_->setText(settingsui::plain(UIStrings::editDictionary()));
  openFolder_->setText(settingsui::plain(UIStrings::openDataFolder()));
  reset_->setText(settingsui::plain(UIStrings::resetLearnedWords()));
  backupSection_->setTitle(settingsui::plain(UIStrings::backupSection()));
  exportWords_->setText(settingsui::plain(UIStrings::exportLearnedWords()));
  importWords_->setText(settingsui::plain(UIStrings::importLearnedWords()));
  exportShortcuts_->setText(settingsui::plain(UIStrings::exportTextShortcuts()));
  importShortcuts_->setText(settingsui::plain(UIStrings::importTextShortcuts()));
  backupFooter_->setText(UIStrings::backupDescription());
  badge_->setText(UIStrings::offlineBadge());
  footnote_->setText(UIStrings::footnote());
  updateColors();
}

void DataTab::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) updateColors();
}

void DataTab::updateColors() {
  const QPalette& current = palette();
  const QColor ink = current.color(QPalette::ButtonText);
  const QColor red = settingsui::destructiveColor(current);
  const QColor green = settingsui::reassuringColor(current);
  using settingsui::symbolIcon;
  editDictionary_->setIcon(
      symbolIcon(QStringLiteral("accessories-dictionary"), QStringLiteral("A"), ink));
  openFolder_->setIcon(symbolIcon(QStringLiteral("folder"), QStringLiteral("▭"), ink));
  reset_->setIcon(symbolIcon(QStringLiteral("user-trash"), QStringLiteral("✕"), red));
  exportWords_->setIcon(symbolIcon(QStringLiteral("document-export"), QStringLiteral("↑"), ink));
  importWords_->setIcon(symbolIcon(QStringLiteral("document-import"), QStringLiteral("↓"), ink));
  exportShortcuts_->setIcon(
      symbolIcon(QStringLiteral("document-export"), QStringLiteral("⇡"), ink));
  importShortcuts_->setIcon(
      symbolIcon(QStringLiteral("document-import"), QStringLiteral("⇣"), ink));
  const int size = badge_->fontMetrics().height();
  badgeIcon_->setPixmap(
      symbolIcon(QStringLiteral("security-high"), QStringLiteral("✓"), green).pixmap(size, size));
}

void DataTab::confirmReset() {
  const bool confirmed = dialogs::current().confirm(
      window(), {UIStrings::confirmResetTitle(), UIStrings::confirmResetWords(),
                 UIStrings::confirmResetButton(), UIStrings::cancelButton()});
  if (!confirmed) return;
  startLearnedDataWork();
  UserDictionaryWork::resetLearnedData(qApp, [](int count) { endLearnedDataWork(count); });
}

void DataTab::exportBackup() {
  BackupPanels::exportLearnedWords(
      window(), [](std::function<void()> work, std::function<void()> done) {
        startLearnedDataWork();
        UserDictionaryWork::backupWork(std::move(work), qApp, [done = std::move(done)] {
          endLearnedDataWork(std::nullopt);
          done();
        });
      });
}

void DataTab::importBackup() {
  const bool started = BackupPanels::importLearnedWords(
      window(), [](QByteArray backup, std::function<void(LearnedDataImportResult)> report) {
        startLearnedDataWork();
        UserDictionaryWork::importBackup(
            std::move(backup), qApp,
            [report = std::move(report)](LearnedDataImportResult result, int count) {
              // The count first, so that the alert does not stand over the old one.
              endLearnedDataWork(count);
              report(result);
            });
      });
  // A cancelled dialog or a refused file reads the count again too.
  if (!started) reload();
}

DataTab::~DataTab() { std::erase(liveTabs(), this); }

void DataTab::startLearnedDataWork() {
  ++g_learnedDataWork;
  for (DataTab* tab : liveTabs()) tab->updateLearnedDataButtons();
}

void DataTab::endLearnedDataWork(std::optional<int> count) {
  --g_learnedDataWork;
  for (DataTab* tab : liveTabs()) {
    if (count) tab->showLearnedWordCount(*count);
    tab->updateLearnedDataButtons();
  }
}

void DataTab::updateLearnedDataButtons() {
  // One export, import or reset at a time: no export of stores halfway through an import or a
  // reset, and no change of the stores while an export reads them.
  for (QPushButton* button : {reset_, exportWords_, importWords_})
    button->setEnabled(g_learnedDataWork == 0);
}

}  // namespace tolvani
