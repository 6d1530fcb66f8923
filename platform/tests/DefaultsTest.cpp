#include "platform/Defaults.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <atomic>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/testing/ChildProcess.h"

namespace tolvani::platform {
namespace {

QByteArray readFile(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(bytes);
}

class DefaultsTest : public ::testing::Test {
 protected:
  QTemporaryDir dir_;
  QString path_ = dir_.path() + QStringLiteral("/tolvani/com.tolvani.test.plist");
};

TEST_F(DefaultsTest, EveryTypeSurvivesAReopenAndReadsOnlyAsItsOwnType) {
  const QVariantMap nested{{QStringLiteral("ক"), QVariantList{qint64{1}, QStringLiteral("x")}},
                           {QStringLiteral("empty"), QVariantMap{}}};
  {
    Defaults d(path_);
    ASSERT_TRUE(d.set(QStringLiteral("b"), true));
    ASSERT_TRUE(d.set(QStringLiteral("i"), qint64{-42}));
    ASSERT_TRUE(d.set(QStringLiteral("big"), qint64{1} << 62));
    ASSERT_TRUE(d.set(QStringLiteral("narrow"), 7));  // an int is stored as an integer
    ASSERT_TRUE(d.set(QStringLiteral("f"), 2.5));
    ASSERT_TRUE(d.set(QStringLiteral("s"), QStringLiteral("বাংলা 😀")));
    ASSERT_TRUE(d.set(QStringLiteral("d"), QByteArray("\0\xff\x01", 3)));
    ASSERT_TRUE(d.set(QStringLiteral("m"), nested));
  }
  Defaults d(path_);
  EXPECT_EQ(d.boolean(QStringLiteral("b")), true);
  EXPECT_EQ(d.integer(QStringLiteral("i")), -42);
  EXPECT_EQ(d.integer(QStringLiteral("big")), qint64{1} << 62);
  EXPECT_EQ(d.integer(QStringLiteral("narrow")), 7);
  EXPECT_EQ(d.floatingPoint(QStringLiteral("f")), 2.5);
  EXPECT_EQ(d.string(QStringLiteral("s")), QStringLiteral("বাংলা 😀"));
  EXPECT_EQ(d.data(QStringLiteral("d")), QByteArray("\0\xff\x01", 3));
  EXPECT_EQ(d.object(QStringLiteral("m")), QVariant(nested));
  // A value reads only as the type it was stored as.
  EXPECT_EQ(d.integer(QStringLiteral("b")), std::nullopt);
  EXPECT_EQ(d.boolean(QStringLiteral("i")), std::nullopt);
  EXPECT_EQ(d.integer(QStringLiteral("s")), std::nullopt);
  EXPECT_EQ(d.floatingPoint(QStringLiteral("i")), std::nullopt);
  EXPECT_EQ(d.string(QStringLiteral("d")), std::nullopt);
  EXPECT_EQ(d.object(QStringLiteral("missing")), std::nullopt);
}

TEST_F(DefaultsTest, UnsupportedValuesAreRefusedAndChangeNothing) {
  Defaults d(path_);
  ASSERT_TRUE(d.set(QStringLiteral("k"), qint64{1}));
  const QByteArray before = readFile(path_);
  log::Capture capture;
  const QVariant refused[] = {
      QVariant(), QVariant(QDate(2024, 1, 1)), QVariant(QStringView(u"a\0b", 3).toString()),
      QVariant(QVariantList{QVariant(QUrl())}), QVariant(qulonglong(1) << 63)};
  for (const QVariant& value : refused) {
    SCOPED_TRACE(value.typeName() ? value.typeName() : "invalid");
    EXPECT_FALSE(d.set(QStringLiteral("k"), value));
  }
  EXPECT_EQ(d.integer(QStringLiteral("k")), 1);
  EXPECT_EQ(readFile(path_), before);
  EXPECT_EQ(capture.lines().size(), static_cast<qsizetype>(std::size(refused)));
}

TEST_F(DefaultsTest, RegisteredValuesShowUntilSetAndAfterRemovalButAreNeverWritten) {
  Defaults d(path_);
  d.registerDefaults({{QStringLiteral("count"), qint64{5}}, {QStringLiteral("on"), true}});
  EXPECT_EQ(d.integer(QStringLiteral("count")), 5);
  EXPECT_FALSE(QFile::exists(path_));
  ASSERT_TRUE(d.set(QStringLiteral("count"), qint64{9}));
  EXPECT_EQ(d.integer(QStringLiteral("count")), 9);
  // A stored value of another type hides the registered one.
  ASSERT_TRUE(d.set(QStringLiteral("on"), QStringLiteral("yes")));
  EXPECT_EQ(d.boolean(QStringLiteral("on")), std::nullopt);
  ASSERT_TRUE(d.remove(QStringLiteral("count")));
  ASSERT_TRUE(d.remove(QStringLiteral("on")));
  EXPECT_EQ(d.integer(QStringLiteral("count")), 5);
  EXPECT_EQ(d.boolean(QStringLiteral("on")), true);
  EXPECT_EQ(propertylist::parseDictionary(readFile(path_)), QVariantMap{});
  EXPECT_EQ(Defaults(path_).object(QStringLiteral("count")), std::nullopt);
}

TEST_F(DefaultsTest, ABadFileReadsAsEmptyStaysUntilTheNextChangeAndIsThenKeptAside) {
  ManualClock clock;
  testSetClock(&clock);
  const QByteArray xmlArray =
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>";
  const QByteArray binary = *propertylist::toBinary({{QStringLiteral("k"), qint64{3}}});
  const QByteArray bad[] = {"garbage",
                            xmlArray,
                            binary.left(binary.size() - 3),
                            QByteArray(binary.size(), '\0'),
                            "bplist00",
                            "<plist><dict><key>"};
  int row = 0;
  for (const QByteArray& bytes : bad) {
    SCOPED_TRACE(bytes.toHex().left(40).toStdString());
    const QString path = dir_.path() + QStringLiteral("/%1/settings.plist").arg(row++);
    writeFile(path, bytes);
    log::Capture capture;
    Defaults d(path);
    d.registerDefaults({{QStringLiteral("k"), qint64{5}}});
    EXPECT_EQ(d.integer(QStringLiteral("k")), 5);
    ASSERT_TRUE(d.remove(QStringLiteral("k")));  // removing nothing is no change
    EXPECT_EQ(readFile(path), bytes);
    ASSERT_TRUE(d.set(QStringLiteral("other"), true));
    EXPECT_EQ(Defaults(path).boolean(QStringLiteral("other")), true);
    EXPECT_EQ(Defaults(path).object(QStringLiteral("k")), std::nullopt);
    EXPECT_EQ(readFile(path + QStringLiteral(".corrupt-1700000000")), bytes);
    EXPECT_EQ(capture.lines(),
              QStringList({QStringLiteral("[Tolvani] the settings file is not a property list "
                                          "dictionary, read as empty: ") +
                               path,
                           QStringLiteral("[Tolvani] preserved the unreadable settings file at ") +
                               path + QStringLiteral(".corrupt-1700000000")}));
  }
  // An empty file is an empty dictionary: nothing to keep.
  writeFile(path_, QByteArray());
  ASSERT_TRUE(Defaults(path_).set(QStringLiteral("k"), qint64{1}));
  EXPECT_EQ(QDir(QFileInfo(path_).absolutePath()).entryList(QDir::Files).size(), 2);
  testSetClock(nullptr);
}

TEST_F(DefaultsTest, ReadsTheXmlForm) {
  writeFile(path_,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            "<key>mode</key><integer>2</integer><key>on</key><false/>"
            "<key>name</key><string>\xe0\xa6\x95</string><key>when</key><date>2024-01-01T00:00:00Z"
            "</date></dict></plist>");
  Defaults d(path_);
  EXPECT_EQ(d.integer(QStringLiteral("mode")), 2);
  EXPECT_EQ(d.boolean(QStringLiteral("on")), false);
  EXPECT_EQ(d.string(QStringLiteral("name")), QStringLiteral("ক"));
  EXPECT_EQ(d.object(QStringLiteral("when")), std::nullopt);  // dates have no counterpart
}

TEST_F(DefaultsTest, AnotherProcessesWritesAreSeenByTheNextRead) {
  Defaults d(path_);
  ASSERT_TRUE(d.set(QStringLiteral("mine"), qint64{1}));
  EXPECT_EQ(d.integer(QStringLiteral("theirs")), std::nullopt);
  for (qint64 value : {10, 11}) {
    const testing::ChildResult child = testing::runChild(
        QStringLiteral("setInteger"), {path_, QStringLiteral("theirs"), QString::number(value)});
    ASSERT_EQ(child.exitCode, 0) << child.standardError.toStdString();
    EXPECT_EQ(d.integer(QStringLiteral("theirs")), value);
  }
  EXPECT_EQ(d.integer(QStringLiteral("mine")), 1);  // the child kept what it did not change
  ASSERT_TRUE(d.set(QStringLiteral("mine"), qint64{2}));
  const testing::ChildResult child =
      testing::runChild(QStringLiteral("printInteger"), {path_, QStringLiteral("mine")});
  EXPECT_EQ(child.standardOutput, "2\n");
}

TEST_F(DefaultsTest, ConcurrentWritersInThreadsAndProcessesLoseNoKey) {
  constexpr int kThreads = 4;
  constexpr int kKeysEach = 25;
  Defaults d(path_);
  testing::Child other(QStringLiteral("setMany"),
                       {path_, QStringLiteral("child"), QString::number(kKeysEach)});
  std::atomic<int> wrongReads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeysEach; ++k) {
        const QString key = QStringLiteral("t%1-%2").arg(t).arg(k);
        if (!d.set(key, qint64{k})) ++wrongReads;
        if (d.integer(key) != k) ++wrongReads;
        d.object(QStringLiteral("child-0"));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(other.wait().exitCode, 0);
  EXPECT_EQ(wrongReads, 0);
  const QVariantMap onDisk = propertylist::parseDictionary(readFile(path_)).value_or(QVariantMap{});
  EXPECT_EQ(onDisk.size(), kThreads * kKeysEach + kKeysEach);
  for (int k = 0; k < kKeysEach; ++k)
    EXPECT_EQ(d.integer(QStringLiteral("child-%1").arg(k)), k) << k;
}

TEST_F(DefaultsTest, AFailedWriteKeepsTheOldValueAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(Defaults(path_).set(QStringLiteral("k"), qint64{1}));
  const QByteArray before = readFile(path_);
  // The child cannot write a file longer than 200 bytes.
  const testing::ChildResult child = testing::runChild(QStringLiteral("writeTooMuch"), {path_});
  EXPECT_EQ(child.exitCode, 0) << child.standardError.toStdString();
  EXPECT_TRUE(child.standardError.contains("[Tolvani] cannot write the settings file "));
  EXPECT_EQ(readFile(path_), before);
  EXPECT_EQ(QDir(QFileInfo(path_).absolutePath()).entryList(QDir::Files),
            QStringList({QStringLiteral("com.tolvani.test.plist"),
                         QStringLiteral("com.tolvani.test.plist.lock")}));
}

TOLVANI_CHILD_ROLE(setInteger) {
  Defaults d(arguments.at(0));
  return d.set(arguments.at(1), arguments.at(2).toLongLong()) ? 0 : 1;
}

TOLVANI_CHILD_ROLE(printInteger) {
  Defaults d(arguments.at(0));
  std::printf("%lld\n", static_cast<long long>(d.integer(arguments.at(1)).value_or(-1)));
  return 0;
}

TOLVANI_CHILD_ROLE(setMany) {
  Defaults d(arguments.at(0));
  for (int k = 0; k < arguments.at(2).toInt(); ++k)
    if (!d.set(arguments.at(1) + QStringLiteral("-%1").arg(k), qint64{k})) return 1;
  return 0;
}

TOLVANI_CHILD_ROLE(writeTooMuch) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{200, 200};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
  Defaults d(arguments.at(0));
  if (d.set(QStringLiteral("big"), QByteArray(1000, 'x'))) return 3;
  if (d.integer(QStringLiteral("k")) != 1 || d.object(QStringLiteral("big"))) return 4;
  return 0;
}

}  // namespace
}  // namespace tolvani::platform
