// A component folder whose IBus component starts the built program through a script, for the
// tests that watch the program the daemon starts: the script leaves the program's process id
// ("pid"), what it wrote to standard error ("stderr") and its exit status ("status": 128 and the
// signal's number when a signal ended it) in the same folder. Thread-safety: the test's thread.
#ifndef TOLVANI_IME_TESTING_PROGRAMWRAPPER_H_
#define TOLVANI_IME_TESTING_PROGRAMWRAPPER_H_

#include <QDir>
#include <QFile>
#include <QString>

namespace tolvani::testing {

// Writes the script and the component into `folder`; the component folder, empty on failure.
// `environment` ("NAME=value" each) is set for the program, over what the daemon gives it.
inline QString componentStartingThroughWrapper(const QString& folder,
                                               const QStringList& environment = {}) {
  const QDir dir(folder);
  const QString script = dir.filePath(QStringLiteral("tolvani"));
  QFile wrapper(script);
  if (!wrapper.open(QIODevice::WriteOnly)) return {};
  QByteArray assignments;
  for (const QString& variable : environment) {
    const qsizetype equals = variable.indexOf(u'=');
    assignments +=
        variable.left(equals + 1).toUtf8() + '\'' + variable.mid(equals + 1).toUtf8() + "' ";
  }
  // The inner shell writes its own id and becomes the program, so the id is the program's.
  wrapper.write("#!/bin/sh\n" + assignments + "sh -c 'echo $$ > \"$0\"; exec \"$@\"' '" +
                QFile::encodeName(dir.filePath(QStringLiteral("pid"))) +
                "' '" TOLVANI_PROGRAM "' \"$@\" 2> '" +
                QFile::encodeName(dir.filePath(QStringLiteral("stderr"))) + "'\necho $? > '" +
                QFile::encodeName(dir.filePath(QStringLiteral("status"))) + "'\n");
  wrapper.close();
  wrapper.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

  QFile built(QStringLiteral(TOLVANI_IBUS_COMPONENT_DIR "/tolvani.xml"));
  if (!built.open(QIODevice::ReadOnly)) return {};
  QString component = QString::fromUtf8(built.readAll());
  const QString exec = QStringLiteral(TOLVANI_PROGRAM " --ibus");
  if (!component.contains(exec)) return {};
  component.replace(exec, script + QStringLiteral(" --ibus"));
  const QString components = dir.filePath(QStringLiteral("component"));
  QFile xml(components + QStringLiteral("/tolvani.xml"));
  if (!dir.mkpath(components) || !xml.open(QIODevice::WriteOnly) ||
      xml.write(component.toUtf8()) != component.toUtf8().size()) {
    return {};
  }
  return components;
}

}  // namespace tolvani::testing

#endif  // TOLVANI_IME_TESTING_PROGRAMWRAPPER_H_
