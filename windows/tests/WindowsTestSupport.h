// Helpers of the settings window tests: dialogs answered from a script, every settings-change
// notification noted with what the store held when it came, and clicks as a user makes them.
// Thread-safety: the test's main thread.
#ifndef TOLVANI_WINDOWS_TESTS_WINDOWSTESTSUPPORT_H_
#define TOLVANI_WINDOWS_TESTS_WINDOWSTESTSUPPORT_H_

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QLabel>
#include <QTest>
#include <deque>
#include <functional>

#include "platform/testing/WindowTesting.h"
#include "settings/Dialogs.h"
#include "settings/tests/SettingsTestSupport.h"

namespace tolvani::testing {

// Answers each file dialog and confirmation from a script and records every request, in order.
class ScriptedDialogs final : public dialogs::Dialogs {
 public:
  std::deque<QString> files;  // a null text answers Cancel
  std::deque<bool> confirmations;
  QStringList events;

  std::optional<QString> chooseSaveFile(QWidget* parent, const QString& name,
                                        const QStringList&) override {
    events << "save " + name + where(parent);
    return nextFile();
  }
  std::optional<QString> chooseOpenFile(QWidget* parent, const QStringList&) override {
    events << "open" + where(parent);
    return nextFile();
  }
  void showAlert(QWidget* parent, const dialogs::Alert& alert) override {
    events << "alert " + alert.text + " [" + alert.button + "]" + where(parent);
  }
  bool confirm(QWidget* parent, const dialogs::Confirmation& c) override {
    events << "confirm " + c.title + " / " + c.message + " [" + c.confirmButton + "|" +
                  c.cancelButton + "]" + where(parent);
    return nextConfirmation();
  }

  // The window the boxes are asked over.
  QWidget* expectedParent = nullptr;

 private:
  QString where(QWidget* parent) const {
    return parent == expectedParent ? QString() : QStringLiteral(" (over another window)");
  }
  std::optional<QString> nextFile() {
    if (files.empty()) {
      ADD_FAILURE() << "a file dialog nobody answers";
      return std::nullopt;
    }
    const QString answer = files.front();
    files.pop_front();
    if (answer.isNull()) return std::nullopt;
    return answer;
  }
  bool nextConfirmation() {
    if (confirmations.empty()) {
      ADD_FAILURE() << "a confirmation nobody answers";
      return false;
    }
    const bool answer = confirmations.front();
    confirmations.pop_front();
    return answer;
  }
};

// Clicks a check box on its indicator, a button in its middle.
inline void click(QAbstractButton* button) {
  ASSERT_NE(button, nullptr);
  ASSERT_TRUE(button->isVisible()) << button->objectName().toStdString();
  const QPoint at = qobject_cast<QCheckBox*>(button)
                        ? QPoint(button->height() / 2, button->height() / 2)
                        : button->rect().center();
  QTest::mouseClick(button, Qt::LeftButton, {}, at);
}

// Every label and button of `root` in sight shows its whole text (a wrapped label its full height)
// and, when enabled, stands out from the window colour behind it.
inline void expectTextsFitAndStandOut(QWidget* root, const QString& name) {
  const QRect shown = root->rect();
  for (QWidget* w : root->findChildren<QWidget*>()) {
    if (!w->isVisible() || !shown.intersects(QRect(w->mapTo(root, QPoint(0, 0)), w->size())))
      continue;
    auto* label = qobject_cast<QLabel*>(w);
    auto* button = qobject_cast<QAbstractButton*>(w);
    if (!label && !button) continue;
    const QString text = label ? label->text() : button->text();
    if (text.isEmpty()) continue;
    const std::string where = (name + ": " + text).toStdString();
    if (label && label->wordWrap()) {
      EXPECT_GE(label->height(), label->heightForWidth(label->width())) << where;
    } else {
      EXPECT_GE(w->width(), w->minimumSizeHint().width()) << where;
      EXPECT_GE(w->height(), w->minimumSizeHint().height()) << where;
    }
    // A disabled control is meant to recede.
    if (w->isEnabled()) {
      const QPalette& p = w->palette();
      EXPECT_GE(contrastRatio(p.color(w->foregroundRole()), p.color(QPalette::Window)), 3.0)
          << where;
    }
  }
}

// Types `text` into `widget` as key events carrying it, one character at a time, as an input
// method hands Bangla to a field (QTest::keyClicks takes ASCII only).
inline void typeText(QWidget* widget, const QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
    const QString character = text.mid(i, length);
    i += length - 1;
    QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, character, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, character, Qt::NoModifier);
  }
}

}  // namespace tolvani::testing

#endif  // TOLVANI_WINDOWS_TESTS_WINDOWSTESTSUPPORT_H_
