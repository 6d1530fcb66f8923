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

inline bool installed(const QString& package = QStringLiteral("tolvani")) {
  return run(QStringLiteral("dpkg-query"),
             {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), package})
      .out.contains(QLatin1String("install ok installed"));
}

// The installed version of `package`, empty when it is not installed.
inline QString installedVersion(const QString& package) {
  if (!installed(package)) return {};
  return run(QStringLiteral("dpkg-query"),
             {QStringLiteral("-W"), QStringLiteral("-f=${Version}"), package})
      .out.trimmed();
}

// CPack's Debian packages of this build, made in `folder` (with `version`, when given, instead of
// the project's): the main package's path, or an empty string with `log` telling why. The packages
// of the IBus face and of the fcitx5 addon lie beside it (ibusPackage, fcitx5Package).
inline QString buildPackage(const QString& folder, QString* log,
                            const QString& version = QString()) {
  QStringList arguments{
      QStringLiteral("-G"),       QStringLiteral("DEB"),
      QStringLiteral("--config"), QStringLiteral(TOLVANI_BUILD_DIR "/CPackConfig.cmake"),
      QStringLiteral("-B"),       folder};
  if (!version.isEmpty()) arguments << QStringLiteral("-D") << "CPACK_PACKAGE_VERSION=" + version;
  const Outcome packed =
      run(QStringLiteral("cpack"), arguments, 600000, QStringLiteral(TOLVANI_BUILD_DIR));
  *log = packed.out;
  const QStringList debs = QDir(folder).entryList({QStringLiteral("tolvani_*.deb")}, QDir::Files);
  if (packed.status != 0 || debs.size() != 1) return QString();
  return folder + QLatin1Char('/') + debs.first();
}

// The package `name` that buildPackage made in `folder`; empty when there is none.
inline QString packageIn(const QString& folder, const QString& name) {
  const QStringList debs = QDir(folder).entryList({name + QStringLiteral("_*.deb")}, QDir::Files);
  return debs.size() == 1 ? folder + QLatin1Char('/') + debs.first() : QString();
}
inline QString fcitx5Package(const QString& folder) {
  return packageIn(folder, QStringLiteral("tolvani-fcitx5"));
}
inline QString ibusPackage(const QString& folder) {
  return packageIn(folder, QStringLiteral("tolvani-ibus"));
}

// `apt-get install` or `apt-get remove` ("tolvani" or package files), waiting for another
// holder of dpkg's lock.
inline Outcome apt(const QString& verb, const QStringList& packages) {
  QStringList arguments{verb, QStringLiteral("-y"), QStringLiteral("-o"),
                        QStringLiteral("DPkg::Lock::Timeout=120")};
  if (verb == QLatin1String("install")) arguments << QStringLiteral("--no-install-recommends");
  return run(QStringLiteral("apt-get"), arguments << packages);
}
inline Outcome apt(const QString& verb, const QString& package) {
  return apt(verb, QStringList{package});
}

// Purges every package of Tolvani's that is installed, in one call: the program and its faces
// depend on each other.
inline void purgeAll() {
  QStringList packages{QStringLiteral("--purge")};
  for (const char* package : {"tolvani-fcitx5", "tolvani-ibus", "tolvani"}) {
    const QString status =
        run(QStringLiteral("dpkg-query"),
            {QStringLiteral("-W"), QStringLiteral("-f=${Status}"), QString::fromLatin1(package)})
            .out;
    if (status.endsWith(QLatin1String(" installed")) ||
        status.contains(QLatin1String("unpacked")) || status.contains(QLatin1String("half")))
      packages << QString::fromLatin1(package);
  }
  if (packages.size() > 1) run(QStringLiteral("dpkg"), packages);
}

// Removes the packages whatever ends the test, once this test has installed them.
struct InstallGuard {
  bool armed = false;
  ~InstallGuard() {
    if (!armed) return;
    purgeAll();
  }
};

}  // namespace tolvani::testing

#endif  // TOLVANI_PACKAGE_TESTS_PACKAGETESTSUPPORT_H_
