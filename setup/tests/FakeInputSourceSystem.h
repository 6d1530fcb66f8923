// A scripted desktop for the registration logic: installed sources, the enabled set, statuses
// to answer with, and a log of the calls made. Thread-safety: one thread at a time.
#ifndef TOLVANI_SETUP_TESTS_FAKEINPUTSOURCESYSTEM_H_
#define TOLVANI_SETUP_TESTS_FAKEINPUTSOURCESYSTEM_H_

#include <QHash>
#include <QSet>
#include <QStringList>

#include "setup/InputSourceSystem.h"

namespace tolvani {

class FakeInputSourceSystem final : public InputSourceSystem {
 public:
  FakeInputSourceSystem() { testSetInputSourceSystem(this); }
  ~FakeInputSourceSystem() override { testSetInputSourceSystem(nullptr); }

  std::vector<InputSource> installed;
  QSet<QString> enabled;
  int registerStatus = 0;
  QHash<QString, int> enableStatus;  // by identifier; 0 when absent
  bool enableTakesEffect = true;
  int selectStatus = 0;
  bool selectTakesEffect = true;
  std::optional<InputSource> currentSource;
  std::optional<bool> menuVisible;
  bool menuSaves = true;
  bool daemonRunning = true;
  bool personSelects = false;  // a desktop's shell that switches only when the person chooses
  bool tapReachesIt = false;
  QStringList calls;

  std::vector<InputSource> sources(const QString& bundleID, bool includeDisabled) override {
    calls.append(QStringLiteral("sources %1 %2").arg(bundleID).arg(includeDisabled));
    if (includeDisabled) return installed;
    std::vector<InputSource> result;
    for (const InputSource& source : installed)
      if (enabled.contains(source.identifier)) result.push_back(source);
    return result;
  }
  int registerBundle(const QUrl& bundleURL) override {
    calls.append(QStringLiteral("register ") + bundleURL.toString());
    return registerStatus;
  }
  int enable(const InputSource& source) override {
    calls.append(QStringLiteral("enable ") + source.identifier);
    const int status = enableStatus.value(source.identifier, 0);
    if (status == 0 && enableTakesEffect) enabled.insert(source.identifier);
    return status;
  }
  int select(const InputSource& source) override {
    calls.append(QStringLiteral("select ") + source.identifier);
    if (selectStatus == 0 && selectTakesEffect) currentSource = source;
    return selectStatus;
  }
  std::optional<InputSource> current() override { return currentSource; }
  bool running() override { return daemonRunning; }
  bool selectedByPerson() override { return personSelects; }
  bool tapReaches(const InputSource&) override { return tapReachesIt; }
  std::optional<bool> inputMenuVisible() override { return menuVisible; }
  bool setInputMenuVisible() override {
    calls.append(QStringLiteral("show menu"));
    if (menuSaves) menuVisible = true;
    return menuSaves;
  }
};

}  // namespace tolvani

#endif  // TOLVANI_SETUP_TESTS_FAKEINPUTSOURCESYSTEM_H_
