// The Debian packages as CPack builds them from this build: what they hold and declare, and, where
// the test runs as root, installing them with apt, a fresh IBus daemon offering the installed
// engine, upgrading them, and removing them again without touching a user's learned data.
#include <gtest/gtest.h>
#include <ibus.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "ime/testing/IBusDaemonHarness.h"
#include "package/tests/PackageTestSupport.h"

namespace tolvani {
namespace {

using testing::apt;
using testing::installed;
using testing::InstallGuard;
using testing::Outcome;
using testing::run;

TEST(PackageTest, DebianPackageHoldsTheProgramAndInstallsAndRemovesCleanly) {
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  QString log;
  const QString deb = testing::buildPackage(work.path(), &log);
  ASSERT_FALSE(deb.isEmpty()) << log.toStdString();
  EXPECT_TRUE(QFileInfo(deb).fileName().startsWith(QStringLiteral("tolvani_" TOLVANI_VERSION "_")))
      << deb.toStdString();

  const Outcome contents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
  ASSERT_EQ(contents.status, 0) << contents.out.toStdString();
  for (const char* path :
       {"./usr/bin/tolvani", "./usr/share/tolvani/layouts/probhat.json",
        "./usr/share/tolvani/layouts/national.json", "./usr/share/tolvani/layouts/unijoy.json",
        "./usr/share/applications/tolvani.desktop",
        "./usr/share/icons/hicolor/scalable/apps/tolvani.svg", "./usr/share/doc/tolvani/copyright",
        "/tolvani/libtolvani_engine.so", "/tolvani/libtolvani_setup_window.so",
        "./usr/share/doc/tolvani/changelog.gz", "./usr/share/man/man1/tolvani.1.gz",
        "./usr/share/metainfo/org.tolvani.tolvani.metainfo.xml"}) {
    EXPECT_TRUE(contents.out.contains(QString::fromLatin1(path))) << path;
  }
  if (QFileInfo::exists(QStringLiteral(TOLVANI_SOURCE_DIR "/app/data/Setup"))) {
    EXPECT_TRUE(contents.out.contains(QLatin1String("./usr/share/tolvani/Setup/")));
  }
  // Nothing outside /usr, nothing of the build tree.
  for (const QString& line : contents.out.split(u'\n', Qt::SkipEmptyParts)) {
    const QString path = line.section(u' ', -1);
    EXPECT_TRUE(path == QLatin1String("./") || path.startsWith(QLatin1String("./usr/")))
        << line.toStdString();
  }

  const Outcome info = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-I"), deb});
  ASSERT_EQ(info.status, 0) << info.out.toStdString();
  EXPECT_TRUE(info.out.contains(QLatin1String("Package: tolvani"))) << info.out.toStdString();
  // Declared from the shared libraries the program and its setup window's module link.
  for (const char* library : {"libc6", "libqt6widgets6", "libibus-1.0-5", "libplist", "libicu",
                              "libqt6webenginewidgets6"}) {
    EXPECT_TRUE(info.out.contains(QString::fromLatin1(library))) << library << "\n"
                                                                 << info.out.toStdString();
  }
  // Removing the package must not run anything that could reach a user's files.
  EXPECT_FALSE(info.out.contains(QLatin1String("postrm"))) << info.out.toStdString();

  // The IBus component is the IBus face's package's, which alone brings IBus itself.
  EXPECT_FALSE(contents.out.contains(QLatin1String("/ibus/"))) << contents.out.toStdString();
  const QString ibusFace = testing::ibusPackage(work.path());
  ASSERT_FALSE(ibusFace.isEmpty()) << log.toStdString();
  EXPECT_TRUE(QFileInfo(ibusFace).fileName() ==
              QStringLiteral("tolvani-ibus_" TOLVANI_VERSION "_all.deb"))
      << ibusFace.toStdString();
  const Outcome faceContents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), ibusFace});
  for (const char* path :
       {"./usr/share/ibus/component/tolvani.xml", "./usr/share/doc/tolvani-ibus/copyright",
        "./usr/share/doc/tolvani-ibus/changelog.gz"})
    EXPECT_TRUE(faceContents.out.contains(QString::fromLatin1(path))) << path;
  const auto field = [](const QString& package, const char* name) {
    return run(QStringLiteral("dpkg-deb"),
               {QStringLiteral("-f"), package, QString::fromLatin1(name)})
        .out.trimmed();
  };
  static const QRegularExpression ibusItself(QStringLiteral("(^|, )ibus( |,|$)"));
  EXPECT_FALSE(field(deb, "Depends").contains(ibusItself)) << field(deb, "Depends").toStdString();
  EXPECT_TRUE(field(ibusFace, "Depends").contains(ibusItself))
      << field(ibusFace, "Depends").toStdString();
  EXPECT_TRUE(field(ibusFace, "Depends").contains(QLatin1String("tolvani (= " TOLVANI_VERSION ")")))
      << field(ibusFace, "Depends").toStdString();
  // It takes over the component from the program's package of before.
  for (const char* relation : {"Breaks", "Replaces"})
    EXPECT_EQ(field(ibusFace, relation), QStringLiteral("tolvani (<< " TOLVANI_VERSION ")"))
        << relation;

  const QString tree = work.path() + QStringLiteral("/tree");
  ASSERT_EQ(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), deb, tree}).status, 0);
  ASSERT_EQ(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), ibusFace, tree}).status, 0);
  QFile component(tree + QStringLiteral("/usr/share/ibus/component/tolvani.xml"));
  ASSERT_TRUE(component.open(QIODevice::ReadOnly));
  const QString xml = QString::fromUtf8(component.readAll());
  EXPECT_TRUE(xml.contains(QLatin1String("<exec>/usr/bin/tolvani --ibus</exec>")))
      << xml.toStdString();
  EXPECT_FALSE(xml.contains(QLatin1String(TOLVANI_BUILD_DIR))) << xml.toStdString();
  const Outcome valid = run(QStringLiteral("desktop-file-validate"),
                            {tree + QStringLiteral("/usr/share/applications/tolvani.desktop")});
  EXPECT_EQ(valid.status, 0) << valid.out.toStdString();
  EXPECT_TRUE(valid.out.trimmed().isEmpty()) << valid.out.toStdString();

  // What IBus Preferences and GNOME's input-source settings show and open for the engine.
  EXPECT_TRUE(xml.contains(QLatin1String("<setup>/usr/bin/tolvani --setup</setup>")))
      << xml.toStdString();
  EXPECT_TRUE(xml.contains(QLatin1String("<homepage>https://tolvani.org/</homepage>")));
  // One licence everywhere it is named: the program's, with the word data's it embeds.
  const QLatin1String spdx("GPL-3.0-or-later AND CC-BY-SA-4.0 AND CC-BY-4.0 AND LGPL-2.1-or-later");
  EXPECT_EQ(xml.count(QStringLiteral("<license>%1</license>").arg(spdx)), 2) << xml.toStdString();
  {
    QFile file(tree + QStringLiteral("/usr/share/doc/tolvani/copyright"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString copyright = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(copyright.startsWith(QLatin1String(
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n")));
    EXPECT_TRUE(
        copyright.contains(QLatin1String("\nFiles: *\nCopyright: 2026 the Tolvani authors\n")));
    EXPECT_TRUE(copyright.contains(
        QLatin1String("\nLicense: GPL-3+ and CC-BY-SA-4.0 and CC-BY-4.0 and LGPL-2.1+\n")));
    EXPECT_TRUE(copyright.contains(QLatin1String("\"/usr/share/common-licenses/GPL-3\"")));
    // The Unijoy layout's source, its holder and its licence.
    EXPECT_TRUE(copyright.contains(QLatin1String(
        "\nFiles: usr/share/tolvani/layouts/unijoy.json\nCopyright: 2005, 2008 National Institute "
        "of Advanced Industrial Science and Technology (AIST)\n")));
    EXPECT_TRUE(copyright.contains(QLatin1String("\"/usr/share/common-licenses/LGPL-2.1\"")));
    // Licences Debian does not carry are given in full.
    EXPECT_TRUE(copyright.contains(
        QLatin1String("\nLicense: CC-BY-SA-4.0\n Attribution-ShareAlike 4.0 International\n")));
    EXPECT_TRUE(copyright.contains(
        QLatin1String("\nLicense: CC-BY-4.0\n Attribution 4.0 International\n")));
    for (const char* clause : {"Section 1 -- Definitions.", "Section 8 -- Interpretation."}) {
      EXPECT_EQ(copyright.count(QLatin1String(clause)), 2) << clause;
    }
    EXPECT_FALSE(copyright.contains(QLatin1String("unspecified"), Qt::CaseInsensitive));
  }
  {
    QFile file(tree + QStringLiteral("/usr/share/metainfo/org.tolvani.tolvani.metainfo.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(file.readAll())
                    .contains(QStringLiteral("<project_license>%1</project_license>").arg(spdx)));
  }
  // IBus's cache writer (run when components are installed) printed a GLib-CRITICAL for a
  // component without a text domain.
  {
    QTemporaryDir cache;
    ASSERT_TRUE(cache.isValid());
    QProcess writer;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("IBUS_COMPONENT_PATH"),
               tree + QStringLiteral("/usr/share/ibus/component"));
    env.insert(QStringLiteral("HOME"), cache.path());
    env.insert(QStringLiteral("XDG_CACHE_HOME"), cache.path());
    writer.setProcessEnvironment(env);
    writer.setProcessChannelMode(QProcess::MergedChannels);
    writer.start(QStringLiteral("ibus"), {QStringLiteral("write-cache")});
    ASSERT_TRUE(writer.waitForFinished(60000));
    const QString said = QString::fromUtf8(writer.readAll());
    EXPECT_EQ(writer.exitCode(), 0) << said.toStdString();
    EXPECT_FALSE(said.contains(QLatin1String("CRITICAL"))) << said.toStdString();
  }

  // The metadata a software centre reads, checked by AppStream's own validator (offline).
  const Outcome metainfo =
      run(QStringLiteral("appstreamcli"),
          {QStringLiteral("validate"), QStringLiteral("--no-net"), QStringLiteral("--pedantic"),
           tree + QStringLiteral("/usr/share/metainfo/org.tolvani.tolvani.metainfo.xml")});
  EXPECT_EQ(metainfo.status, 0) << metainfo.out.toStdString();
  {
    QFile file(tree + QStringLiteral("/usr/share/metainfo/org.tolvani.tolvani.metainfo.xml"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("<component type=\"inputmethod\">"));
  }

  // The icon is outlines, not text in a font that may be missing; its sizes are what they say.
  {
    QFile svg(tree + QStringLiteral("/usr/share/icons/hicolor/scalable/apps/tolvani.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QByteArray drawing = svg.readAll();
    EXPECT_FALSE(drawing.contains("<text")) << drawing.toStdString();
    EXPECT_TRUE(drawing.contains("<path"));
  }
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QImage icon(tree +
                      QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/tolvani.png").arg(size));
    EXPECT_EQ(icon.size(), QSize(size, size)) << size;
  }

  // The manual page names every option that --help prints.
  const Outcome usage =
      run(QStringLiteral(TOLVANI_BUILD_DIR "/app/tolvani"), {QStringLiteral("--help")});
  ASSERT_EQ(usage.status, 0) << usage.out.toStdString();
  const Outcome manual =
      run(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("gzip -dc \"$0\""),
                                 tree + QStringLiteral("/usr/share/man/man1/tolvani.1.gz")});
  ASSERT_EQ(manual.status, 0) << manual.out.toStdString();
  static const QRegularExpression option(QStringLiteral("--[a-z][a-z0-9-]*"));
  QStringList options;
  for (auto it = option.globalMatch(usage.out); it.hasNext();) options << it.next().captured();
  options.removeDuplicates();
  EXPECT_GE(options.size(), 7) << usage.out.toStdString();
  for (const QString& name : options) {
    // Set in bold, each hyphen escaped as roff wants it.
    QString roff = name;
    roff.replace(u'-', QLatin1String("\\-"));
    const QRegularExpression bold(
        QStringLiteral("^\\.BR? (.* )?%1( |$)").arg(QRegularExpression::escape(roff)),
        QRegularExpression::MultilineOption);
    EXPECT_TRUE(manual.out.contains(bold)) << name.toStdString();
  }

  // Debian's own checks of a package: no errors, no warnings.
  for (const QString& package : {deb, ibusFace}) {
    const Outcome lint = run(QStringLiteral("lintian"), {package});
    EXPECT_FALSE(lint.out.contains(
        QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption)))
        << lint.out.toStdString();
    EXPECT_NE(lint.status, -1) << lint.out.toStdString();
  }

  if (::geteuid() != 0) {
    GTEST_SKIP() << "installing the package needs root; its contents were checked";
  }
  if (installed()) {
    GTEST_SKIP() << "tolvani is already installed on this machine; the test leaves it alone";
  }
  // A user's learned data, which removing the package must leave as it is.
  QTemporaryDir home;
  ASSERT_TRUE(home.isValid());
  const QString learned = home.path() + QStringLiteral("/.local/share/tolvani/user_words.json");
  QDir().mkpath(QFileInfo(learned).absolutePath());
  {
    QFile file(learned);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("{\"words\":[\"\xe0\xa6\x86\xe0\xa6\xae\xe0\xa6\xbf\"]}");
  }

  InstallGuard guard;
  guard.armed = true;
  const Outcome install = apt(QStringLiteral("install"), QStringList{deb, ibusFace});
  ASSERT_EQ(install.status, 0) << install.out.toStdString();
  EXPECT_FALSE(install.out.contains(QLatin1String("CRITICAL"))) << install.out.toStdString();
  ASSERT_TRUE(installed());
  ASSERT_TRUE(installed(QStringLiteral("tolvani-ibus")));
  EXPECT_TRUE(QFileInfo(QStringLiteral("/usr/bin/tolvani")).isExecutable());
  EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/usr/share/tolvani/layouts/probhat.json")));
  const Outcome libraries = run(QStringLiteral("ldd"), {QStringLiteral("/usr/bin/tolvani")});
  EXPECT_FALSE(libraries.out.contains(QLatin1String("not found"))) << libraries.out.toStdString();
  EXPECT_FALSE(libraries.out.contains(QLatin1String(TOLVANI_BUILD_DIR)))
      << libraries.out.toStdString();
  {
    // A daemon that reads IBus's own component folder, as a desktop's does, offers the engine.
    testing::IBusDaemonHarness daemon(testing::IBusDaemonHarness::Options{});
    ASSERT_TRUE(daemon.ready()) << daemon.failure().toStdString();
    QStringList engines;
    QString setup;
    GList* list = ibus_bus_list_engines(daemon.bus());
    for (GList* item = list; item; item = item->next) {
      auto* desc = IBUS_ENGINE_DESC(item->data);
      engines << QString::fromUtf8(ibus_engine_desc_get_name(desc));
      if (engines.last() == QLatin1String("tolvani"))
        setup = QString::fromUtf8(ibus_engine_desc_get_setup(desc));
      g_object_unref(item->data);
    }
    g_list_free(list);
    EXPECT_TRUE(engines.contains(QStringLiteral("tolvani"))) << engines.join(u' ').toStdString();
    // The command IBus Preferences runs for the engine's preferences.
    EXPECT_EQ(setup, QStringLiteral("/usr/bin/tolvani --setup"));
  }

  // Removing the program takes the IBus face, which needs it, along.
  const Outcome remove = apt(QStringLiteral("remove"), QStringLiteral("tolvani"));
  ASSERT_EQ(remove.status, 0) << remove.out.toStdString();
  EXPECT_FALSE(installed());
  EXPECT_FALSE(installed(QStringLiteral("tolvani-ibus")));
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/bin/tolvani")));
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/share/ibus/component/tolvani.xml")));
  QFile file(learned);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), QByteArray("{\"words\":[\"\xe0\xa6\x86\xe0\xa6\xae\xe0\xa6\xbf\"]}"));
}

// The fcitx5 addon is a package of its own beside the program's, of the same version: a person on
// IBus never gets fcitx5, and both install, upgrade to a later version and go again cleanly.
TEST(PackageTest, Fcitx5AddonComesInItsOwnPackageThatInstallsUpgradesAndRemovesBesideTheProgram) {
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  QString log;
  const QString deb = testing::buildPackage(work.path(), &log);
  ASSERT_FALSE(deb.isEmpty()) << log.toStdString();
  const QString addon = testing::fcitx5Package(work.path());
  ASSERT_FALSE(addon.isEmpty()) << log.toStdString();
  EXPECT_TRUE(
      QFileInfo(addon).fileName().startsWith(QStringLiteral("tolvani-fcitx5_" TOLVANI_VERSION "_")))
      << addon.toStdString();

  const auto field = [](const QString& package, const char* name) {
    return run(QStringLiteral("dpkg-deb"),
               {QStringLiteral("-f"), package, QString::fromLatin1(name)})
        .out.trimmed();
  };
  EXPECT_EQ(field(addon, "Package"), QStringLiteral("tolvani-fcitx5"));
  EXPECT_EQ(field(addon, "Source"), QStringLiteral("tolvani"));
  const QString depends = field(addon, "Depends");
  EXPECT_TRUE(depends.contains(QLatin1String("tolvani (= " TOLVANI_VERSION ")")))
      << depends.toStdString();
  EXPECT_TRUE(depends.contains(QRegularExpression(QStringLiteral("(^|, )fcitx5($|,)"))))
      << depends.toStdString();
  // The program's package needs one of its faces, the IBus one first, and nothing of fcitx5's.
  EXPECT_TRUE(field(deb, "Depends")
                  .contains(QLatin1String("tolvani-ibus (= " TOLVANI_VERSION
                                          ") | tolvani-fcitx5 (= " TOLVANI_VERSION ")")))
      << field(deb, "Depends").toStdString();
  static const QRegularExpression fcitx5Itself(QStringLiteral("(^|, )fcitx5( |,|$)"));
  EXPECT_FALSE(field(deb, "Depends").contains(fcitx5Itself)) << field(deb, "Depends").toStdString();
  EXPECT_FALSE(field(deb, "Recommends").contains(QLatin1String("fcitx5")));

  const QString contents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), addon}).out;
  for (const char* path :
       {"./usr/share/doc/tolvani-fcitx5/copyright", "./usr/share/doc/tolvani-fcitx5/changelog.gz"})
    EXPECT_TRUE(contents.contains(QString::fromLatin1(path))) << path;
  const bool hasAddon = QFileInfo::exists(QStringLiteral(TOLVANI_SOURCE_DIR "/ime/fcitx5/addon"));
  const QStringList addonFiles{QStringLiteral("./usr/share/fcitx5/addon/tolvani.conf"),
                               QStringLiteral("./usr/share/fcitx5/inputmethod/tolvani.conf")};
  if (hasAddon) {
    for (const QString& path : addonFiles)
      EXPECT_TRUE(contents.contains(path)) << path.toStdString();
    EXPECT_TRUE(contents.contains(QRegularExpression(QStringLiteral("/fcitx5/[^/ ]+\\.so\\n"))))
        << contents.toStdString();
  }
  const QString programContents = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb}).out;
  for (const QString& path : addonFiles)
    EXPECT_FALSE(programContents.contains(path)) << path.toStdString();
  for (const QString& line : contents.split(u'\n', Qt::SkipEmptyParts)) {
    const QString path = line.section(u' ', -1);
    EXPECT_TRUE(path == QLatin1String("./") || path.startsWith(QLatin1String("./usr/")))
        << line.toStdString();
  }

  // Debian's own checks: no errors, no warnings, but for an addon's package left empty by a build
  // without the addon.
  const Outcome lint = run(QStringLiteral("lintian"), {addon});
  QString findings = lint.out;
  if (!hasAddon) findings.remove(QStringLiteral("W: tolvani-fcitx5: empty-binary-package"));
  EXPECT_FALSE(findings.contains(
      QRegularExpression(QStringLiteral("^[EW]: "), QRegularExpression::MultilineOption)))
      << lint.out.toStdString();
  EXPECT_NE(lint.status, -1) << lint.out.toStdString();

  if (::geteuid() != 0) {
    GTEST_SKIP() << "installing the packages needs root; their contents were checked";
  }
  if (installed() || installed(QStringLiteral("tolvani-fcitx5"))) {
    GTEST_SKIP() << "tolvani is already installed on this machine; the test leaves it alone";
  }
  InstallGuard guard;
  guard.armed = true;
  const Outcome install = apt(QStringLiteral("install"), QStringList{deb, addon});
  ASSERT_EQ(install.status, 0) << install.out.toStdString();
  EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani")), TOLVANI_VERSION);
  EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani-fcitx5")), TOLVANI_VERSION);
  if (hasAddon) {
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/usr/share/fcitx5/inputmethod/tolvani.conf")));
  }

  // A later version of both replaces them.
  const QString later = QStringLiteral(TOLVANI_VERSION "+1");
  const QString newer = work.path() + QStringLiteral("/later");
  QDir().mkpath(newer);
  const QString laterDeb = testing::buildPackage(newer, &log, later);
  ASSERT_FALSE(laterDeb.isEmpty()) << log.toStdString();
  const QString laterAddon = testing::fcitx5Package(newer);
  ASSERT_FALSE(laterAddon.isEmpty()) << log.toStdString();
  EXPECT_TRUE(field(laterAddon, "Depends").contains(QStringLiteral("tolvani (= %1)").arg(later)))
      << field(laterAddon, "Depends").toStdString();
  const Outcome upgrade = apt(QStringLiteral("install"), QStringList{laterDeb, laterAddon});
  ASSERT_EQ(upgrade.status, 0) << upgrade.out.toStdString();
  EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani")), later);
  EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani-fcitx5")), later);
  EXPECT_TRUE(QFileInfo::exists(QStringLiteral("/usr/share/doc/tolvani-fcitx5/copyright")));

  // Removing the program takes the addon, which needs it, along.
  const Outcome remove = apt(QStringLiteral("remove"), QStringLiteral("tolvani"));
  ASSERT_EQ(remove.status, 0) << remove.out.toStdString();
  EXPECT_FALSE(installed());
  EXPECT_FALSE(installed(QStringLiteral("tolvani-fcitx5")));
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/share/doc/tolvani-fcitx5/copyright")));
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/share/fcitx5/inputmethod/tolvani.conf")));
}

// The packages apt would install for `debs` on a machine with nothing installed (an empty package
// status, the machine's package lists), with their recommendations when `recommends`.
QStringList installedWith(const QStringList& debs, bool recommends, QString* said) {
  QTemporaryDir empty;
  if (!empty.isValid()) return {};
  const QString status = empty.path() + QStringLiteral("/status");
  QFile(status).open(QIODevice::WriteOnly);
  QStringList arguments{QStringLiteral("-o"), QStringLiteral("Dir::State::status=") + status,
                        QStringLiteral("-o"),
                        QStringLiteral("Dir::State::extended_states=") + empty.path() +
                            QStringLiteral("/extended_states"),
                        // No cache of these in the place of the machine's.
                        QStringLiteral("-o"), QStringLiteral("Dir::Cache::pkgcache="),
                        QStringLiteral("-o"), QStringLiteral("Dir::Cache::srcpkgcache="),
                        QStringLiteral("install"), QStringLiteral("--simulate")};
  if (!recommends) arguments << QStringLiteral("--no-install-recommends");
  const Outcome simulated = run(QStringLiteral("apt-get"), arguments + debs);
  *said = simulated.out;
  if (simulated.status != 0) return {};
  QStringList names;
  static const QRegularExpression inst(QStringLiteral("^Inst (\\S+) "),
                                       QRegularExpression::MultilineOption);
  for (auto it = inst.globalMatch(simulated.out); it.hasNext();) names << it.next().captured(1);
  return names;
}

// Installing Tolvani for fcitx5 brought IBus: the program's package depended on it, and with it
// came IBus's GTK module, which GTK 3's X11 programs then took instead of fcitx5's. Laid out from
// nothing, the program with the fcitx5 addon brings no IBus package; with the IBus face it does.
TEST(PackageTest, TheProgramWithTheFcitx5AddonBringsNoIBus) {
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  QString log;
  const QString deb = testing::buildPackage(work.path(), &log);
  ASSERT_FALSE(deb.isEmpty()) << log.toStdString();
  const QString addon = testing::fcitx5Package(work.path());
  const QString ibusFace = testing::ibusPackage(work.path());
  ASSERT_FALSE(addon.isEmpty() || ibusFace.isEmpty()) << log.toStdString();

  static const QRegularExpression ibusPackage(QStringLiteral("^(ibus|ibus-.*|tolvani-ibus)$"));
  for (const bool recommends : {false, true}) {
    SCOPED_TRACE(recommends);
    QString said;
    const QStringList fcitx5 = installedWith({deb, addon}, recommends, &said);
    ASSERT_TRUE(fcitx5.contains(QStringLiteral("fcitx5")) &&
                fcitx5.contains(QStringLiteral("tolvani-fcitx5")))
        << said.toStdString();
    EXPECT_TRUE(fcitx5.filter(ibusPackage).isEmpty()) << fcitx5.join(u' ').toStdString();
    // The library the program links for its IBus face is IBus's client library alone.
    EXPECT_TRUE(fcitx5.contains(QStringLiteral("libibus-1.0-5")))
        << fcitx5.join(u' ').toStdString();
  }
  QString said;
  const QStringList ibus = installedWith({deb, ibusFace}, false, &said);
  EXPECT_TRUE(ibus.contains(QStringLiteral("ibus")) &&
              ibus.contains(QStringLiteral("tolvani-ibus")))
      << said.toStdString();
  EXPECT_FALSE(ibus.contains(QStringLiteral("fcitx5"))) << ibus.join(u' ').toStdString();
}

// `package` (a built .deb) as `version`, depending on `dependsOn` and the libraries it depends on,
// and IBus's files of `adding` (another built .deb) in it too: a package laid out as an earlier one
// was.
QString repack(const QString& package, const QString& version, const QStringList& dependsOn,
               const QString& adding, const QString& folder, QString* log) {
  const QString name = QFileInfo(package).completeBaseName();
  const QString tree = folder + QStringLiteral("/tree-") + name;
  Outcome step = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-R"), package, tree});
  if (step.status != 0) return *log = step.out, QString();
  if (!adding.isEmpty()) {
    const QString other = tree + QStringLiteral("-adding");
    step = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), adding, other});
    if (step.status != 0) return *log = step.out, QString();
    QDir().rename(other + QStringLiteral("/usr/share/ibus"),
                  tree + QStringLiteral("/usr/share/ibus"));
  }
  QFile control(tree + QStringLiteral("/DEBIAN/control"));
  if (!control.open(QIODevice::ReadOnly))
    return *log = QStringLiteral("no control file"), QString();
  QStringList lines = QString::fromUtf8(control.readAll()).split(u'\n');
  control.close();
  for (QString& line : lines) {
    if (line.startsWith(QLatin1String("Version: "))) line = QStringLiteral("Version: ") + version;
    if (!line.startsWith(QLatin1String("Depends: "))) continue;
    // The libraries stay; the relations between the packages are those of then.
    QStringList relations = line.mid(9).split(QStringLiteral(", "));
    relations.removeIf([](const QString& r) { return !r.startsWith(QLatin1String("lib")); });
    line = QStringLiteral("Depends: ") + (dependsOn + relations).join(QStringLiteral(", "));
  }
  if (!control.open(QIODevice::WriteOnly | QIODevice::Truncate))
    return *log = QStringLiteral("control file not written"), QString();
  control.write(lines.join(u'\n').toUtf8());
  control.close();
  const QString out = folder + u'/' + name + QStringLiteral("-old.deb");
  step = run(QStringLiteral("dpkg-deb"),
             {QStringLiteral("--root-owner-group"), QStringLiteral("-b"), tree, out});
  if (step.status != 0) return *log = step.out, QString();
  return out;
}

// Before the IBus face had a package of its own the program's package held the IBus component and
// depended on IBus. An upgrade as `apt upgrade` makes it, from a repository that holds the three
// packages, leaves a person on IBus with the component (now tolvani-ibus's) and one on fcitx5
// without it.
TEST(PackageTest, UpgradingFromTheProgramThatHeldTheIBusComponentKeepsItForIBusOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "installing the packages needs root";
  if (installed() || installed(QStringLiteral("tolvani-ibus")) ||
      installed(QStringLiteral("tolvani-fcitx5"))) {
    GTEST_SKIP() << "tolvani is already installed on this machine; the test leaves it alone";
  }
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());
  const QString repo = work.path() + QStringLiteral("/repo");
  ASSERT_TRUE(QDir().mkpath(repo));
  QString log;
  const QString deb = testing::buildPackage(repo, &log);
  ASSERT_FALSE(deb.isEmpty()) << log.toStdString();
  const QString addon = testing::fcitx5Package(repo);
  const QString ibusFace = testing::ibusPackage(repo);
  ASSERT_FALSE(addon.isEmpty() || ibusFace.isEmpty()) << log.toStdString();
  const QString before = QStringLiteral(TOLVANI_VERSION "~before");
  const QString old = repack(deb, before, {QStringLiteral("ibus")}, ibusFace, work.path(), &log);
  ASSERT_FALSE(old.isEmpty()) << log.toStdString();
  ASSERT_TRUE(
      run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), old, QStringLiteral("Depends")})
          .out.contains(QRegularExpression(QStringLiteral("(^|, )ibus(,|\n)"))));
  const QString oldAddon = repack(
      addon, before, {QStringLiteral("tolvani (= %1)").arg(before), QStringLiteral("fcitx5")},
      QString(), work.path(), &log);
  ASSERT_FALSE(oldAddon.isEmpty()) << log.toStdString();
  ASSERT_TRUE(run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), old})
                  .out.contains(QLatin1String("./usr/share/ibus/component/tolvani.xml")));

  // The repository, and apt told of it alone.
  const Outcome scanned =
      run(QStringLiteral("sh"),
          {QStringLiteral("-c"), QStringLiteral("dpkg-scanpackages . > Packages")}, 60000, repo);
  ASSERT_EQ(scanned.status, 0) << scanned.out.toStdString();
  const QString sources = work.path() + QStringLiteral("/sources.list");
  {
    QFile file(sources);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(("deb [trusted=yes] file:" + repo + " ./\n").toUtf8());
  }
  ASSERT_TRUE(QDir().mkpath(work.path() + QStringLiteral("/lists/partial")));
  ASSERT_TRUE(QDir().mkpath(work.path() + QStringLiteral("/parts")));
  const QStringList own{
      QStringLiteral("-o"), QStringLiteral("Dir::Etc::SourceList=") + sources, QStringLiteral("-o"),
      QStringLiteral("Dir::Etc::SourceParts=") + work.path() + QStringLiteral("/parts"),
      QStringLiteral("-o"),
      QStringLiteral("Dir::State::Lists=") + work.path() + QStringLiteral("/lists"),
      QStringLiteral("-o"), QStringLiteral("APT::Sandbox::User=root"),
      // No cache of this list in the place of the machine's.
      QStringLiteral("-o"), QStringLiteral("Dir::Cache::pkgcache="), QStringLiteral("-o"),
      QStringLiteral("Dir::Cache::srcpkgcache="), QStringLiteral("-o"),
      QStringLiteral("DPkg::Lock::Timeout=120")};
  const Outcome updated =
      run(QStringLiteral("apt-get"), own + QStringList{QStringLiteral("update")});
  ASSERT_EQ(updated.status, 0) << updated.out.toStdString();

  InstallGuard guard;
  guard.armed = true;
  const QString component = QStringLiteral("/usr/share/ibus/component/tolvani.xml");
  for (const bool onFcitx5 : {false, true}) {
    SCOPED_TRACE(onFcitx5);
    QStringList earlier{old};
    if (onFcitx5) earlier << oldAddon;
    const Outcome install = apt(QStringLiteral("install"), earlier);
    ASSERT_EQ(install.status, 0) << install.out.toStdString();
    ASSERT_EQ(testing::installedVersion(QStringLiteral("tolvani")), before);
    ASSERT_TRUE(QFileInfo::exists(component));

    const Outcome upgrade = run(QStringLiteral("apt-get"),
                                own + QStringList{QStringLiteral("upgrade"), QStringLiteral("-y"),
                                                  QStringLiteral("--with-new-pkgs")});
    ASSERT_EQ(upgrade.status, 0) << upgrade.out.toStdString();
    EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani")), TOLVANI_VERSION)
        << upgrade.out.toStdString();
    if (onFcitx5) {
      EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani-fcitx5")), TOLVANI_VERSION);
      EXPECT_FALSE(installed(QStringLiteral("tolvani-ibus"))) << upgrade.out.toStdString();
      EXPECT_FALSE(QFileInfo::exists(component));
    } else {
      EXPECT_EQ(testing::installedVersion(QStringLiteral("tolvani-ibus")), TOLVANI_VERSION)
          << upgrade.out.toStdString();
      EXPECT_FALSE(installed(QStringLiteral("tolvani-fcitx5")));
      EXPECT_TRUE(QFileInfo::exists(component));
      EXPECT_TRUE(run(QStringLiteral("dpkg"), {QStringLiteral("-S"), component})
                      .out.startsWith(QLatin1String("tolvani-ibus: ")));
    }
    testing::purgeAll();
    ASSERT_TRUE(testing::installedVersion(QStringLiteral("tolvani")).isEmpty());
    ASSERT_FALSE(QFileInfo::exists(QStringLiteral("/usr/bin/tolvani")));
  }
}

}  // namespace
}  // namespace tolvani
