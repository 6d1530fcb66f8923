// Helpers of the window tests: answering a modal box the code under test is about to run, a dark
// palette from a real desktop, and the contrast of two colours. Thread-safety: the test's main
// thread.
#ifndef TOLVANI_PLATFORM_TESTING_WINDOWTESTING_H_
#define TOLVANI_PLATFORM_TESTING_WINDOWTESTING_H_

#include <gtest/gtest.h>

#include <QApplication>
#include <QColor>
#include <QDeadlineTimer>
#include <QPalette>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <functional>

#include "platform/testing/DesktopPalettes.h"

namespace tolvani::testing {

// A queued check, repeated until a modal widget of type T is up. A box that never comes fails the
// test within the time limit, and whatever other modal widget is up then is closed, so the test
// ends instead of waiting on it.
template <typename T>
void answerModalBefore(std::function<void(T*)> answer, QDeadlineTimer deadline) {
  QTimer::singleShot(5, [answer = std::move(answer), deadline]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (T* widget = qobject_cast<T*>(modal)) {
      answer(widget);
      return;
    }
    if (deadline.hasExpired()) {
      ADD_FAILURE() << "no " << T::staticMetaObject.className() << " came up to be answered";
      if (modal) modal->close();
      return;
    }
    answerModalBefore<T>(std::move(answer), deadline);
  });
}

// Calls `answer` with the next modal widget of type T once it is up, within `timeoutMs`.
template <typename T>
void answerModal(std::function<void(T*)> answer, int timeoutMs = 10'000) {
  answerModalBefore<T>(std::move(answer), QDeadlineTimer(timeoutMs));
}

// A dark palette as a real desktop gives it: KDE's Breeze Dark as the KDE platform theme maps it
// for a Qt 6 program, which leaves PlaceholderText at Qt's light default.
inline QPalette darkPalette() { return breezeDarkPalette(); }

// The contrast ratio of two colours (1 to 21), a translucent foreground blended over the
// background first.
inline double contrastRatio(QColor foreground, const QColor& background) {
  const double a = foreground.alphaF();
  foreground = QColor::fromRgbF(foreground.redF() * a + background.redF() * (1 - a),
                                foreground.greenF() * a + background.greenF() * (1 - a),
                                foreground.blueF() * a + background.blueF() * (1 - a));
  auto luminance = [](const QColor& c) {
    auto channel = [](double v) {
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double l1 = luminance(foreground), l2 = luminance(background);
  return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_WINDOWTESTING_H_
