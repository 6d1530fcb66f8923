// What the package tests share: running a tool, and building, installing and removing the
// Debian package of this build. Installing needs root; the tests check that themselves.
#ifndef TOLVANI_PACKAGE_TESTS_PACKAGETESTSUPPORT_H_
#define TOLVANI_PACKAGE_TESTS_PACKAGETESTSUPPORT_H_

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace tolvani::testing {

struct Outcome {
  int status = -1;
  QString out;
};

// Runs `program` to its end (killed after `ms`), with its output and errors merged.
inline Outcome run(const QString& program, const QStringList& arguments, int ms = 240000,
                   const QString& folder = QString()) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  if (!folder.isEmpty()) process.setWorkingDirectory(folder);
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DEBIAN_FRONTEND"), QStringLiteral("noninteractive"));
  process.setProcessEnvironment(env);
  process.start(program, arguments);
  if (!process.waitForFinished(ms)) {
    process.kill();
    process.waitForFinished();
    return {-1, QString::fromUtf8(process.readAll())};
  }
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
          QString::fromUtf8(process.readAll())};
}

inline bool installed() {
  return run(QStringLiteral("dpkg-query"),
             {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), QStringLiteral("tolvani")})
      .out.contains(QLatin1String("install ok installed"));
}

// CPack's Debian package of this build, made in `folder`: its path, or an empty string with
// `log` telling why.
inline QString buildPackage(const QString& folder, QString* log) {
  const Outcome packed =
      run(QStringLiteral("cpack"),
          {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
           QStringLiteral(TOLVANI_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), folder},
          600000, QStringLiteral(TOLVANI_BUILD_DIR));
  *log = packed.out;
  const QStringList debs = QDir(folder).entryList({QStringLiteral("tolvani_*.deb")}, QDir::Files);
  if (packed.status != 0 || debs.size() != 1) return QString();
  return folder + QLatin1Char('/') + debs.first();
}

// `apt-get install` or `apt-get remove` ("tolvani" or a package file), waiting for another
// holder of dpkg's lock.
inline Outcome apt(const QString& verb, const QString& package) {
  QStringList arguments{verb, QStringLiteral("-y"), QStringLiteral("-o"),
                        QStringLiteral("DPkg::Lock::Timeout=120")};
  if (verb == QLatin1String("install")) arguments << QStringLiteral("--no-install-recommends");
  return run(QStringLiteral("apt-get"), arguments << package);
}

// Removes the package whatever ends the test, once this test has installed it.
struct InstallGuard {
  bool armed = false;
  ~InstallGuard() {
    if (armed && installed())
      run(QStringLiteral("dpkg"), {QStringLiteral("--purge"), QStringLiteral("tolvani")});
  }
};

}  // namespace tolvani::testing

#endif  // TOLVANI_PACKAGE_TESTS_PACKAGETESTSUPPORT_H_
