#include "windows/PreferencesWindowController.h"

#include <QGuiApplication>
#include <QLayout>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include "settings/Dialogs.h"
#include "settings/UIStrings.h"
#include "windows/SettingsRootView.h"

namespace tolvani {

PreferencesWindowController& PreferencesWindowController::shared() {
  // Never released: destroying widgets after the application object at exit would crash.
  static PreferencesWindowController* const instance = new PreferencesWindowController();
  return *instance;
}

PreferencesWindowController::PreferencesWindowController() : window_(std::make_unique<QWidget>()) {
  window_->setObjectName(QStringLiteral("settingsWindow"));
  // Titled, closable and minimisable; the user does not resize it.
  window_->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  auto* layout = new QVBoxLayout(window_.get());
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  rootView_ = new SettingsRootView;
  layout->addWidget(rootView_);
  window_->setWindowTitle(UIStrings::appTitle());
  layout->activate();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = window_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window_->move(frame.topLeft());
  }
}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::showWindow() {
  // A fresh view: no page pushed, no tab but the first, every value read anew.
  auto* fresh = new SettingsRootView;
  // The layout hands back the old item, which is ours to delete.
  delete window_->layout()->replaceWidget(rootView_, fresh);
  delete rootView_;
  rootView_ = fresh;
  // A child added to a window already on screen stays hidden until told otherwise.
  fresh->show();
  window_->setWindowTitle(UIStrings::appTitle());
  openWindow(window_.get());
}

}  // namespace tolvani
