#include "ime/TestEvents.h"

#include <QFile>

#include "platform/PrivateFiles.h"

namespace tolvani::TestEvents {
namespace {

const QString& path() {
  static const QString path = qEnvironmentVariable("TOLVANI_TEST_IBUS_EVENTS");
  return path;
}

}  // namespace

bool enabled() { return !path().isEmpty(); }

void record(const QString& line) {
  if (!enabled()) return;
  QFile file(path());
  if (file.open(QIODevice::Append | QIODevice::Text) && platform::privatefiles::makePrivate(file))
    file.write((line + u'\n').toUtf8());
}

}  // namespace tolvani::TestEvents
