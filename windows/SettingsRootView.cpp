#include "windows/SettingsRootView.h"

#include <QEvent>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include "settings/UIStrings.h"
#include "windows/AboutTab.h"
#include "windows/DataTab.h"
#include "windows/GeneralTab.h"
#include "windows/SettingsCopies.h"
#include "windows/SettingsWidgets.h"
#include "windows/TypingTab.h"

namespace tolvani {

SettingsRootView::SettingsRootView(QWidget* parent) : QWidget(parent) {
  tabs_ = new QTabWidget;
  tabs_->setObjectName(QStringLiteral("tabs"));
  general_ = new GeneralTab;
  general_->setObjectName(QStringLiteral("general"));
  typing_ = new TypingTab;
  typing_->setObjectName(QStringLiteral("typing"));
  data_ = new DataTab;
  data_->setObjectName(QStringLiteral("data"));
  about_ = new AboutTab;
  about_->setObjectName(QStringLiteral("about"));
  tabs_->addTab(general_, QString());
  tabs_->addTab(typing_, QString());
  tabs_->addTab(data_, QString());
  tabs_->addTab(about_, QString());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tabs_);
  setFixedSize(560, 460);

  connect(general_, &GeneralTab::interfaceLanguageChanged, this, &SettingsRootView::updateTexts);
  updateTexts();
}

void SettingsRootView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window brought back from the minimised state is not a new appearance.
  if (event->spontaneous()) return;
  reload();
}

void SettingsRootView::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) updateIcons();
}

void SettingsRootView::reload() {
  const SettingsCopies copies = SettingsCopies::read();
  general_->reload(copies);
  typing_->reload(copies);
  data_->reload();
}

void SettingsRootView::updateTexts() {
  tabs_->setTabText(0, settingsui::plain(UIStrings::tabGeneral()));
  tabs_->setTabText(1, settingsui::plain(UIStrings::tabTyping()));
  tabs_->setTabText(2, settingsui::plain(UIStrings::tabData()));
  tabs_->setTabText(3, settingsui::plain(UIStrings::tabAbout()));
  general_->updateTexts();
  typing_->updateTexts();
  data_->updateTexts();
  about_->updateTexts();
  updateIcons();
}

void SettingsRootView::updateIcons() {
  const QColor ink = palette().color(QPalette::WindowText);
  using settingsui::symbolIcon;
  tabs_->setTabIcon(0, symbolIcon(QStringLiteral("input-keyboard"), QStringLiteral("⌨"), ink));
  tabs_->setTabIcon(1, symbolIcon(QStringLiteral("insert-text"), QStringLiteral("I"), ink));
  tabs_->setTabIcon(2, symbolIcon(QStringLiteral("security-high"), QStringLiteral("⛨"), ink));
  tabs_->setTabIcon(3, symbolIcon(QStringLiteral("help-about"), QStringLiteral("ℹ"), ink));
}

}  // namespace tolvani
