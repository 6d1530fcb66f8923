#include "platform/Defaults.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/UnreadableFile.h"

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace tolvani::platform {
namespace {

using tolvani::testing::keptAsPlaced;
using tolvani::testing::placeUnreadable;
using tolvani::testing::Unreadable;

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

// What each typed read answers for `key`: a value reads only as the type it was stored as.
std::string typed(const Defaults& d, const QString& key) {
  QStringList reads;
  if (auto v = d.boolean(key)) reads << u"bool %1"_s.arg(*v);
  if (auto v = d.integer(key)) reads << u"integer %1"_s.arg(*v);
  if (auto v = d.floatingPoint(key)) reads << u"double %1"_s.arg(*v);
  if (auto v = d.string(key)) reads << u"string "_s + *v;
  if (auto v = d.data(key)) reads << u"data "_s + QString::fromLatin1(v->toHex());
  return reads.join(u", ").toStdString();
}

class DefaultsTest : public ::testing::Test {
 protected:
  QStringList filesBeside() const {
    return QDir(QFileInfo(path_).absolutePath()).entryList(QDir::Files);
  }

  QTemporaryDir dir_;
  QString path_ = dir_.path() + u"/tolvani/com.tolvani.test.plist"_s;
};

TEST_F(DefaultsTest, EveryTypeSurvivesAReopenAndReadsOnlyAsItsOwnType) {
  const QVariantMap nested{{u"ক"_s, QVariantList{qint64{1}, u"x"_s}}, {u"empty"_s, QVariantMap{}}};
  const QByteArray bytes("\0\xff\x01", 3);
  const QVariantMap stored{{u"b"_s, true},   {u"i"_s, qint64{-42}}, {u"big"_s, qint64{1} << 62},
                           {u"narrow"_s, 7}, {u"f"_s, 2.5},         {u"s"_s, u"বাংলা 😀"_s},
                           {u"d"_s, bytes},  {u"m"_s, nested}};
  for (auto it = stored.begin(); it != stored.end(); ++it)
    ASSERT_TRUE(Defaults(path_).set(it.key(), it.value())) << it.key().toStdString();
  Defaults d(path_);
  const std::pair<const char*, const char*> rows[] = {
      {"b", "bool 1"},         {"i", "integer -42"}, {"big", "integer 4611686018427387904"},
      {"narrow", "integer 7"}, {"f", "double 2.5"},  {"s", "string বাংলা 😀"},
      {"d", "data 00ff01"},    {"missing", ""}};
  for (const auto& [key, expected] : rows) EXPECT_EQ(typed(d, QString::fromUtf8(key)), expected);
  EXPECT_EQ(d.object(u"m"_s), QVariant(nested));

  // Values of no property-list type are refused, change nothing and are logged.
  const QByteArray before = readFile(path_);
  log::Capture capture;
  const QVariant refused[] = {QVariant(), QVariant(QDate(2024, 1, 1)),
                              QVariant(QStringView(u"a\0b", 3).toString()),
                              QVariant(QVariantList{QVariant(QUrl())}), QVariant(1ull << 63)};
  for (const QVariant& value : refused)
    EXPECT_FALSE(d.set(u"i"_s, value)) << (value.typeName() ? value.typeName() : "invalid");
  EXPECT_EQ(typed(d, u"i"_s), "integer -42");
  EXPECT_EQ(readFile(path_), before);
  EXPECT_EQ(capture.lines().size(), static_cast<qsizetype>(std::size(refused)));
}

TEST_F(DefaultsTest, RegisteredValuesShowUntilSetAndAfterRemovalButAreNeverWritten) {
  Defaults d(path_);
  d.registerDefaults({{u"count"_s, qint64{5}}, {u"on"_s, true}});
  auto both = [&] { return typed(d, u"count"_s) + "; " + typed(d, u"on"_s); };
  EXPECT_EQ(both(), "integer 5; bool 1");
  EXPECT_FALSE(QFile::exists(path_));
  ASSERT_TRUE(d.set(u"count"_s, qint64{9}));
  ASSERT_TRUE(d.set(u"on"_s, u"yes"_s));
  EXPECT_EQ(both(), "integer 9; string yes");  // a stored value of another type hides the other
  ASSERT_TRUE(d.remove(u"count"_s));
  ASSERT_TRUE(d.remove(u"on"_s));
  EXPECT_EQ(both(), "integer 5; bool 1");
  EXPECT_EQ(propertylist::parseDictionary(readFile(path_)), QVariantMap{});
  EXPECT_EQ(Defaults(path_).object(u"count"_s), std::nullopt);
}

TEST_F(DefaultsTest, ABadFileReadsAsEmptyStaysUntilTheNextChangeAndIsThenKeptAside) {
  ManualClock clock;
  testSetClock(&clock);
  const QByteArray binary = *propertylist::toBinary({{u"k"_s, qint64{3}}});
  const QByteArray bad[] = {
      "garbage",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>",
      binary.left(binary.size() - 3),
      QByteArray(binary.size(), '\0'),
      "bplist00",
      "<plist><dict><key>"};
  int row = 0;
  for (const QByteArray& bytes : bad) {
    SCOPED_TRACE(bytes.toHex().left(40).toStdString());
    const QString path = dir_.path() + u"/%1/settings.plist"_s.arg(row++);
    writeFile(path, bytes);
    // Left readable by all by an earlier version: the copy kept is private all the same.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    log::Capture capture;
    Defaults d(path);
    d.registerDefaults({{u"k"_s, qint64{5}}});
    EXPECT_EQ(d.integer(u"k"_s), 5);
    ASSERT_TRUE(d.remove(u"k"_s));  // removing nothing is no change
    EXPECT_EQ(readFile(path), bytes);
    ASSERT_TRUE(d.set(u"other"_s, true));
    EXPECT_EQ(Defaults(path).boolean(u"other"_s), true);
    EXPECT_EQ(Defaults(path).object(u"k"_s), std::nullopt);
    const QString kept = path + u".corrupt-1700000000"_s;
    EXPECT_EQ(readFile(kept), bytes);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(kept).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(capture.lines(),
              QStringList({u"[Tolvani] the settings file is not a property list dictionary, "
                           "read as empty: "_s +
                               path,
                           u"[Tolvani] preserved the unreadable settings file at "_s + kept}));
  }
  // An empty file is an empty dictionary: nothing to keep.
  writeFile(path_, QByteArray());
  ASSERT_TRUE(Defaults(path_).set(u"k"_s, qint64{1}));
  EXPECT_EQ(filesBeside().size(), 2);
  testSetClock(nullptr);
}

// Runs `body` on a thread of its own; a body still running after ten seconds hangs, and a hang
// ends the test program, since the thread cannot be stopped.
template <typename Body>
void withinTenSeconds(Body body) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([body, done] {
    body();
    done->set_value();
  }).detach();
  if (finished.wait_for(10s) != std::future_status::ready) {
    std::fprintf(stderr, "no answer within ten seconds\n");
    std::_Exit(1);
  }
}

// A FIFO would stop the first read (at the program's start) for ever, a link to /dev/zero would
// be read until memory runs out, and an oversized file is no settings file: each reads as empty
// at once and is kept aside by the next change, which puts a settings file in its place.
TEST_F(DefaultsTest, AFileThatIsNoPlainFileOfASaneSizeReadsAsEmptyAtOnceAndIsKeptAside) {
  ManualClock clock;
  testSetClock(&clock);
  const std::pair<Unreadable, QString> shapes[] = {{Unreadable::kFifo, u"fifo"_s},
                                                   {Unreadable::kLinkToZero, u"zero"_s},
                                                   {Unreadable::kOversized, u"oversized"_s}};
  for (const auto& [shape, name] : shapes) {
    SCOPED_TRACE(name.toStdString());
    const QString path = dir_.path() + u"/%1/settings.plist"_s.arg(name);
    QString line = u"[Tolvani] the settings file is not a regular file, read as empty: "_s + path;
    ASSERT_FALSE(QFileInfo::exists(path));
    if (shape == Unreadable::kOversized) {
      // A valid settings file, made sparse past the bound: 32 MB need not be written.
      QDir().mkpath(QFileInfo(path).absolutePath());
      writeFile(path, *propertylist::toBinary({{u"k"_s, qint64{3}}}));
      ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), propertylist::kMaxBytes + 1), 0);
      line = u"[Tolvani] the settings file is too large, read as empty: "_s + path;
    } else {
      placeUnreadable(path, shape, {}, 0);
    }
    log::Capture capture;
    withinTenSeconds([&path] {
      Defaults d(path);
      d.registerDefaults({{u"k"_s, qint64{5}}});
      EXPECT_EQ(d.integer(u"k"_s), 5);
      EXPECT_TRUE(d.set(u"other"_s, true));
    });
    const QString kept = path + u".corrupt-1700000000"_s;
    EXPECT_EQ(
        capture.lines(),
        QStringList({line, u"[Tolvani] preserved the unreadable settings file at "_s + kept}));
    if (shape == Unreadable::kOversized) {
      EXPECT_EQ(QFileInfo(kept).size(), propertylist::kMaxBytes + 1);
    } else {
      EXPECT_TRUE(keptAsPlaced(kept, shape, {}));
    }
    EXPECT_TRUE(QFileInfo(path).isFile() && !QFileInfo(path).isSymLink());
    withinTenSeconds([&path] { EXPECT_EQ(Defaults(path).boolean(u"other"_s), true); });
  }
  testSetClock(nullptr);
}

TEST_F(DefaultsTest, AnotherProcessesWritesAreSeenByTheNextRead) {
  Defaults d(path_);
  ASSERT_TRUE(d.set(u"mine"_s, qint64{1}));
  EXPECT_EQ(d.integer(u"theirs"_s), std::nullopt);
  for (qint64 value : {10, 11}) {
    ASSERT_TRUE(d.set(u"mine"_s, value - 8));
    const testing::ChildResult child =
        testing::runChild(u"setTheirsPrintMine"_s, {path_, QString::number(value)});
    ASSERT_EQ(child.exitCode, 0) << child.standardError.toStdString();
    EXPECT_EQ(child.standardOutput, QByteArray::number(value - 8) + '\n');
    EXPECT_EQ(d.integer(u"theirs"_s), value);
    EXPECT_EQ(d.integer(u"mine"_s), value - 8);  // the child kept what it did not change
  }
}

// Only new values written elsewhere are a change, each answered once; this suite's own writes and
// a rewrite with the same values are none.
TEST_F(DefaultsTest, AnotherProcessesChangeIsTakenOnce) {
  Defaults d(path_);
  ASSERT_TRUE(d.set(u"mine"_s, qint64{1}));
  QStringList answers;
  auto take = [&] { answers << (d.takeOutsideChange() ? u"changed"_s : u"same"_s); };
  take();  // the first only takes note
  ASSERT_TRUE(d.set(u"mine"_s, qint64{2}));
  take();
  for (qint64 value : {10, 10}) {
    ASSERT_EQ(testing::runChild(u"setTheirsPrintMine"_s, {path_, QString::number(value)}).exitCode,
              0);
    take();
    take();
  }
  EXPECT_EQ(answers, QStringList({"same", "same", "changed", "same", "same", "same"}));

  // A change made elsewhere is still one after this suite wrote a key of its own (or removed one)
  // before it asked: the program's own write must not hide the person's new language.
  answers.clear();
  for (bool remove : {false, true}) {
    ASSERT_EQ(
        testing::runChild(u"setTheirsPrintMine"_s, {path_, QString::number(20 + remove)}).exitCode,
        0);
    ASSERT_TRUE(remove ? d.remove(u"mine"_s) : d.set(u"mine"_s, qint64{3}));
    take();
    take();
  }
  EXPECT_EQ(answers, QStringList({"changed", "same", "changed", "same"}));
}

TEST_F(DefaultsTest, ConcurrentWritersInThreadsAndProcessesLoseNoKey) {
  constexpr int kThreads = 4;
  constexpr int kKeysEach = 25;
  Defaults d(path_);
  testing::Child other(u"setMany"_s, {path_, u"child"_s, QString::number(kKeysEach)});
  std::atomic<int> wrongReads{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < kKeysEach; ++k) {
        const QString key = u"t%1-%2"_s.arg(t).arg(k);
        if (!d.set(key, qint64{k}) || d.integer(key) != k) ++wrongReads;
        d.object(u"child-0"_s);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_EQ(other.wait().exitCode, 0);
  EXPECT_EQ(wrongReads, 0);
  const QVariantMap onDisk = propertylist::parseDictionary(readFile(path_)).value_or(QVariantMap{});
  EXPECT_EQ(onDisk.size(), kThreads * kKeysEach + kKeysEach);
  for (int k = 0; k < kKeysEach; ++k) EXPECT_EQ(d.integer(u"child-%1"_s.arg(k)), k) << k;
}

TEST_F(DefaultsTest, ReadsGoOnWhileAWriteWaitsAndSeeItsValueOnceItIsDone) {
  Defaults d(path_);
  ASSERT_TRUE(d.set(u"k"_s, qint64{1}));
  // Another writer holds the file's lock, so this process's write waits in the middle of its
  // read-modify-write; the main thread's reads must not wait with it.
  const int held = ::open(QFile::encodeName(path_ + u".lock"_s).constData(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  std::thread writer([&] { d.set(u"k"_s, qint64{2}); });
  // The kernel lists the writer's request as blocked ("->") on the lock file's inode.
  struct stat lockFile {};
  ASSERT_EQ(::fstat(held, &lockFile), 0);
  const QByteArray inode = ':' + QByteArray::number(static_cast<qulonglong>(lockFile.st_ino)) + ' ';
  const auto writerWaits = [&] {
    for (const QByteArray& line : readFile(u"/proc/locks"_s).split('\n')) {
      if (line.contains("-> FLOCK") && line.contains(inode)) return true;
    }
    return false;
  };
  for (int i = 0; i < 1000 && !writerWaits(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(writerWaits());
  std::future<std::optional<qint64>> read =
      std::async(std::launch::async, [&] { return d.integer(u"k"_s); });
  const bool answered = read.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  ::flock(held, LOCK_UN);
  ::close(held);
  writer.join();
  ASSERT_TRUE(answered);
  EXPECT_EQ(read.get(), 1);
  EXPECT_EQ(d.integer(u"k"_s), 2);
  EXPECT_EQ(Defaults(path_).integer(u"k"_s), 2);
}

TEST_F(DefaultsTest, AFailedWriteKeepsTheOldValueAndLeavesNoTemporaryFile) {
  ASSERT_TRUE(Defaults(path_).set(u"k"_s, qint64{1}));
  const QByteArray before = readFile(path_);
  // The child cannot write a file longer than 200 bytes.
  const testing::ChildResult child = testing::runChild(u"writeTooMuch"_s, {path_});
  EXPECT_EQ(child.exitCode, 0) << child.standardError.toStdString();
  EXPECT_TRUE(child.standardError.contains("[Tolvani] cannot write the settings file "));
  EXPECT_EQ(readFile(path_), before);
  EXPECT_EQ(filesBeside(),
            QStringList({u"com.tolvani.test.plist"_s, u"com.tolvani.test.plist.lock"_s}));
}

TOLVANI_CHILD_ROLE(setTheirsPrintMine) {
  Defaults d(arguments.at(0));
  std::printf("%lld\n", static_cast<long long>(d.integer(u"mine"_s).value_or(-1)));
  return d.set(u"theirs"_s, arguments.at(1).toLongLong()) ? 0 : 1;
}

TOLVANI_CHILD_ROLE(setMany) {
  Defaults d(arguments.at(0));
  for (int k = 0; k < arguments.at(2).toInt(); ++k)
    if (!d.set(arguments.at(1) + u"-%1"_s.arg(k), qint64{k})) return 1;
  return 0;
}

TOLVANI_CHILD_ROLE(writeTooMuch) {
  std::signal(SIGXFSZ, SIG_IGN);
  const rlimit limit{200, 200};
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
  Defaults d(arguments.at(0));
  if (d.set(u"big"_s, QByteArray(1000, 'x'))) return 3;
  return d.integer(u"k"_s) != 1 || d.object(u"big"_s) ? 4 : 0;
}

}  // namespace
}  // namespace tolvani::platform
