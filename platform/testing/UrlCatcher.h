// Takes the addresses the code under test asks the desktop to open, for
// QDesktopServices::setUrlHandler(scheme, &catcher, "open"). Thread-safety: the test's main
// thread.
#ifndef TOLVANI_PLATFORM_TESTING_URLCATCHER_H_
#define TOLVANI_PLATFORM_TESTING_URLCATCHER_H_

#include <QList>
#include <QObject>
#include <QUrl>

namespace tolvani::testing {

class UrlCatcher : public QObject {
  Q_OBJECT

 public:
  QList<QUrl> urls;

 public Q_SLOTS:
  void open(const QUrl& url) { urls << url; }
};

}  // namespace tolvani::testing

#endif  // TOLVANI_PLATFORM_TESTING_URLCATCHER_H_
