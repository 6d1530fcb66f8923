// Every window the input menu opens, each tab and pushed page in turn, with rows in every list,
// handed to a check as it is shown; for the tests that read every text of every window back from
// its pixels. Thread-safety: the test's main thread.
#ifndef TOLVANI_WINDOWS_TESTS_EVERYWINDOW_H_
#define TOLVANI_WINDOWS_TESTS_EVERYWINDOW_H_

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QToolButton>
#include <functional>

#include "help/KeyboardHelpWindow.h"
#include "platform/testing/RenderedText.h"
#include "settings/AppSettings.h"
#include "settings/CustomLayoutFile.h"
#include "stats/TypingStatsWindowController.h"
#include "windows/CustomLayoutEditor.h"
#include "windows/SettingsRootView.h"
#include "windows/TextShortcutsEditor.h"
#include "windows/UserDictionaryEditor.h"
#include "windows/UserDictionaryWork.h"
#include "windows/tests/WindowsTestSupport.h"

namespace tolvani::testing {

// Rows in every list, with the secondary columns filled.
inline void fillEveryList() {
  writeBytes(AppSettings::userDictionaryURL(),
             R"({"words":{"আমি":{"frequency":3},"ভাত":{"frequency":12}}})");
  writeBytes(AppSettings::selectionMemoryURL(),
             R"({"selections":{"ami":{"text":"আমি","count":2}}})");
  writeBytes(AppSettings::userRejectionsURL(),
             R"({"entries":{"ami":{"আমী":1,"আমই":2},"bhat":{"ভাট":1}}})");
  ASSERT_TRUE(CustomLayoutFile::update([](CustomLayoutFile::Overrides& overrides) {
    overrides[QStringLiteral("shift")][QStringLiteral("k")] = QStringLiteral("ঙ");
    overrides[QStringLiteral("default")][QStringLiteral("a")] = QStringLiteral("অ");
  }));
}

// Called with each window as it is shown and the name of what it shows.
using WindowCheck = std::function<void(QWidget* window, const QString& name)>;

// Shows every window in both interface languages (the name ends in "-bangla" or "-english"), and
// the two windows whose texts the interface language does not choose once: the custom keys editor
// (English) and the keyboard help (Bangla).
inline void showEveryWindow(const WindowCheck& check) {
  for (int language : {0, 1}) {
    AppSettings::setUiLanguage(language);
    const QString suffix = language == 0 ? QStringLiteral("-bangla") : QStringLiteral("-english");

    SettingsRootView settings;
    settings.show();
    UserDictionaryWork::testWaitUntilDone();  // the learned-word count
    const char* tabNames[] = {"general", "typing", "data", "about"};
    for (int i = 0; i < 4; ++i) {
      settings.tabs()->setCurrentIndex(i);
      check(&settings, "settings-" + QString::fromLatin1(tabNames[i]) + suffix);
      for (QScrollArea* scroll : settings.tabs()->currentWidget()->findChildren<QScrollArea*>()) {
        QScrollBar* bar = scroll->verticalScrollBar();
        if (!scroll->isVisible() || bar->maximum() == 0) continue;
        bar->setValue(bar->maximum());
        check(&settings, "settings-" + QString::fromLatin1(tabNames[i]) + "-end" + suffix);
        bar->setValue(0);
      }
    }
    settings.tabs()->setCurrentIndex(1);
    click(settings.findChild<QPushButton*>("diagnosticsLink"));
    check(&settings, "settings-diagnostics" + suffix);
    click(settings.findChild<QToolButton*>("back"));
    click(settings.findChild<QPushButton*>("correctionsLink"));
    check(&settings, "settings-corrections" + suffix);
    click(settings.findChild<QToolButton*>("back"));

    TextShortcutsEditorView shortcuts;
    shortcuts.show();
    check(&shortcuts, "text-shortcuts" + suffix);

    UserDictionaryEditor dictionary;
    dictionary.reload();
    dictionary.show();
    UserDictionaryWork::testWaitUntilDone();  // the rows
    check(&dictionary, "user-dictionary" + suffix);

    TypingStatsWindowController stats;
    stats.showWindow();
    check(&stats, "typing-stats" + suffix);
  }

  CustomLayoutEditor keys;
  keys.reload();
  keys.show();
  check(&keys, QStringLiteral("custom-keys"));

  KeyboardHelpWindow help;
  help.show();
  auto* tabs = help.findChild<QTabWidget*>();
  ASSERT_NE(tabs, nullptr);
  for (int i = 0; i < tabs->count(); ++i) {
    tabs->setCurrentIndex(i);
    auto* view = qobject_cast<QAbstractScrollArea*>(tabs->currentWidget());
    QScrollBar* bar = view ? view->verticalScrollBar() : nullptr;
    check(&help, "keyboard-help-" + tabs->currentWidget()->objectName());
    // The rest of a long tab, a page at a time.
    for (int page = 1; bar && bar->value() < bar->maximum(); ++page) {
      bar->setValue(bar->value() + bar->pageStep());
      check(&help,
            "keyboard-help-" + tabs->currentWidget()->objectName() + "-" + QString::number(page));
    }
  }
}

// Reads every text of `window` back from its pixels and saves the screenshot as `path` when it is
// not empty.
inline void expectEveryTextReadable(QWidget* window, const QString& name, const QString& path) {
  // A field's blinking caret would stand in for its placeholder's colour.
  if (QWidget* focused = QApplication::focusWidget()) focused->clearFocus();
  QApplication::processEvents();
  const QImage shot = window->grab().toImage();
  expectReadableTexts(window, shot, name);
  expectTextsFitAndStandOut(window, name);
  if (!path.isEmpty()) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    EXPECT_TRUE(shot.save(path)) << path.toStdString();
  }
}

}  // namespace tolvani::testing

#endif  // TOLVANI_WINDOWS_TESTS_EVERYWINDOW_H_
