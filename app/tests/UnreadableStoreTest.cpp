// The program as the IBus daemon starts it, over a store that no store can be read from, placed
// before it starts: the settings file, the user dictionary or the typing statistics as a FIFO
// (opening it for reading waits for a writer for ever), as a link to /dev/zero (reading it never
// ends) or, for the dictionary, as a valid document past the size the store can grow to. The first
// key is answered, the thing is kept aside under a new name as it was, typing learns into a fresh
// plain file, and SIGTERM ends the program with status 0 and everything saved. And the largest
// dictionary that can be, read beside the first keys.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "ime/testing/IBusDaemonHarness.h"
#include "ime/testing/IBusTestKeys.h"
#include "ime/testing/ProgramWrapper.h"
#include "platform/Bundle.h"
#include "platform/Defaults.h"
#include "settings/AppSettings.h"
#include "store_bounds.h"
#include "word_form.h"

namespace tolvani {
namespace {

using testing::componentStartingThroughWrapper;
using testing::IBusDaemonHarness;
using testing::TestInputContext;

enum class Store { kSettings, kUserDictionary, kTypingStats };
enum class Shape { kFifo, kLinkToZero, kOversized };

struct Case {
  const char* name;
  Store store;
  Shape shape;
};

std::string caseName(const ::testing::TestParamInfo<Case>& info) { return info.param.name; }
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

struct stat lstatOf(const QString& path) {
  struct stat st {};
  if (::lstat(QFile::encodeName(path).constData(), &st) != 0) st.st_mode = 0;
  return st;
}

// The file's bytes; none when it is no regular file (the test must not wait on a FIFO either).
QByteArray readBytes(const QString& path) {
  if (!S_ISREG(lstatOf(path).st_mode)) return {};
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject readJson(const QString& path) {
  return QJsonDocument::fromJson(readBytes(path)).object();
}

// The program as the daemon starts it, with its folders in a private root.
class ProgramOverStores : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    const QString components = componentStartingThroughWrapper(folder_.path());
    ASSERT_FALSE(components.isEmpty());

    harness_ = std::make_unique<IBusDaemonHarness>(IBusDaemonHarness::Options{
        components,
        QString(),
        /*quiet=*/true,
        /*firstStart=*/false,
        // With the settings unread the program offers its setup window, which may show.
        {QStringLiteral("QTWEBENGINE_DISABLE_SANDBOX=1"),
         QStringLiteral("QT_QUICK_BACKEND=software"),
         QStringLiteral("ASAN_OPTIONS=detect_leaks=0:new_delete_type_mismatch=0")}});
    ASSERT_TRUE(harness_->ready()) << harness_->failure().toStdString();
    data_ = harness_->root() + QStringLiteral("/data/tolvani");
    config_ = harness_->configHome() + QStringLiteral("/tolvani");
    ASSERT_TRUE(QDir().mkpath(data_));
  }
  void TearDown() override { harness_.reset(); }

  QByteArray inFolder(const char* name) const {
    return QFile::encodeName(folder_.filePath(QString::fromLatin1(name)));
  }
  QString pathOf(Store store) const {
    switch (store) {
      case Store::kSettings:
        return config_ + QLatin1Char('/') + platform::bundle::identifier() +
               QStringLiteral(".plist");
      case Store::kUserDictionary:
        return data_ + QStringLiteral("/user-dictionary.json");
      case Store::kTypingStats:
        return data_ + QStringLiteral("/typing-stats.json");
    }
    return {};
  }
  // What the program wrote to standard error, for the failure messages.
  std::string errors() const {
    return readBytes(QFile::decodeName(inFolder("stderr"))).toStdString();
  }

  // A context with the engine selected and active.
  void activate(TestInputContext& context) {
    context.focusIn();
    context.selectEngine("tolvani");
    ASSERT_TRUE(harness_->waitFor([&] {
      return harness_->events().contains("activate " + context.objectPath());
    })) << harness_->events().join('\n').toStdString()
        << "\n"
        << errors();
  }
  // SIGTERM, and the status the program ended with.
  void terminate() {
    const qint64 pid = readBytes(QFile::decodeName(inFolder("pid"))).trimmed().toLongLong();
    ASSERT_GT(pid, 1);
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), SIGTERM), 0);
    const QString status = QFile::decodeName(inFolder("status"));
    ASSERT_TRUE(harness_->waitFor([&] { return readBytes(status).endsWith('\n'); }))
        << "the program did not end\n"
        << errors();
    EXPECT_EQ(readBytes(status).toStdString(), "0\n") << errors();
  }

  QTemporaryDir folder_;
  std::unique_ptr<IBusDaemonHarness> harness_;
  QString data_;
  QString config_;
};

class UnreadableStoreTest : public ProgramOverStores, public ::testing::WithParamInterface<Case> {};

TEST_P(UnreadableStoreTest, TheFirstKeyIsAnsweredTheFileKeptAsideAndSigtermSavesAll) {
  const Case& c = GetParam();
  const QString path = pathOf(c.store);
  const QByteArray native = QFile::encodeName(path);
  QByteArray oversized;
  // The harness's settings, which record the setup as done, make way for the thing.
  if (c.store == Store::kSettings) {
    ASSERT_TRUE(QFile::remove(path));
  }
  switch (c.shape) {
    case Shape::kFifo:
      ASSERT_EQ(::mkfifo(native.constData(), 0600), 0);
      break;
    case Shape::kLinkToZero:
      ASSERT_EQ(::symlink("/dev/zero", native.constData()), 0);
      break;
    case Shape::kOversized: {
      // A document the store would load, padded with white space to one byte past its bound.
      oversized = R"({"words":{"কেপ্ট":{"frequency":9,"last_used":1}}})";
      oversized.append(
          static_cast<qsizetype>(store_io::bounds::kUserDictionaryFileBytes) + 1 - oversized.size(),
          ' ');
      QFile file(path);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      ASSERT_EQ(file.write(oversized), oversized.size());
      break;
    }
  }
  const struct stat zeroBefore = lstatOf(QStringLiteral("/dev/zero"));

  TestInputContext context(*harness_, "editor");
  ASSERT_NO_FATAL_FAILURE(activate(context));

  // A generous bound: it tells an answer from a hang, not a fast answer from a slow one.
  QElapsedTimer firstKey;
  firstKey.start();
  EXPECT_TRUE(testing::press(context, 'a', testing::usKey('a').first));
  ASSERT_TRUE(harness_->waitFor([&] { return !context.preedits.empty(); })) << errors();
  EXPECT_LT(firstKey.elapsed(), 10000);
  EXPECT_EQ(testing::typeKeys(context, "mi tomake "), 0);
  ASSERT_TRUE(harness_->waitFor([&] { return context.commits.size() == 2; }))
      << context.commits.join('|').toStdString() << "\n"
      << errors();

  ASSERT_NO_FATAL_FAILURE(terminate());

  // What was learned and counted is in plain files of the names the stores are read from.
  const QString dictionary = pathOf(Store::kUserDictionary);
  EXPECT_TRUE(S_ISREG(lstatOf(dictionary).st_mode));
  const QJsonObject words = readJson(dictionary)["words"].toObject();
  EXPECT_EQ(words[QString::fromUtf8("তোমাকে")].toObject()["frequency"].toInt(), 1)
      << QJsonDocument(words).toJson().toStdString();
  EXPECT_TRUE(S_ISREG(lstatOf(pathOf(Store::kTypingStats)).st_mode));
  EXPECT_GT(readJson(pathOf(Store::kTypingStats))["totalKeystrokes"].toInt(), 0);
  EXPECT_TRUE(S_ISREG(lstatOf(pathOf(Store::kSettings)).st_mode));
  platform::Defaults settings(pathOf(Store::kSettings));
  EXPECT_EQ(settings.boolean(AppSettings::kOnboardingCompletedKey), true);

  // The thing itself, not a copy of what it reads as, under its new name beside the store.
  const QFileInfo info(path);
  const QString prefix = c.store == Store::kUserDictionary ? info.completeBaseName() + ".corrupt."
                                                           : info.fileName() + ".corrupt-";
  const QStringList aside =
      QDir(info.absolutePath())
          .entryList({prefix + QLatin1Char('*')}, QDir::AllEntries | QDir::System | QDir::Hidden);
  ASSERT_EQ(aside.size(), 1) << aside.join(' ').toStdString() << "\n" << errors();
  const QString kept = info.absolutePath() + QLatin1Char('/') + aside.first();
  switch (c.shape) {
    case Shape::kFifo:
      EXPECT_TRUE(S_ISFIFO(lstatOf(kept).st_mode));
      break;
    case Shape::kLinkToZero:
      EXPECT_EQ(QFile::symLinkTarget(kept), QStringLiteral("/dev/zero"));
      break;
    case Shape::kOversized:
      EXPECT_TRUE(readBytes(kept) == oversized);
      break;
  }
  const struct stat zeroAfter = lstatOf(QStringLiteral("/dev/zero"));
  EXPECT_TRUE(S_ISCHR(zeroAfter.st_mode));
  EXPECT_EQ(zeroAfter.st_ino, zeroBefore.st_ino);
  EXPECT_EQ(zeroAfter.st_rdev, zeroBefore.st_rdev);
}

INSTANTIATE_TEST_SUITE_P(
    Stores, UnreadableStoreTest,
    ::testing::Values(Case{"SettingsFifo", Store::kSettings, Shape::kFifo},
                      Case{"SettingsLinkToZero", Store::kSettings, Shape::kLinkToZero},
                      Case{"DictionaryFifo", Store::kUserDictionary, Shape::kFifo},
                      Case{"DictionaryLinkToZero", Store::kUserDictionary, Shape::kLinkToZero},
                      Case{"DictionaryOversized", Store::kUserDictionary, Shape::kOversized},
                      Case{"TypingStatsFifo", Store::kTypingStats, Shape::kFifo},
                      Case{"TypingStatsLinkToZero", Store::kTypingStats, Shape::kLinkToZero}),
    caseName);

// The largest dictionary a person's typing can leave (words and tombstones at the length bound,
// some 23 MB), which the program reads beside its first keys: words typed the moment the engine
// is selected are learned, and at SIGTERM the file holds every word and tombstone it held before.
TEST_F(ProgramOverStores, WordsTypedAsTheLargestDictionaryIsReadAreLearnedBesideAllOfIt) {
  // Under the cap, so that the two words learned evict nothing.
  constexpr int kWords = 9'990;
  constexpr int kTombstones = 10'000;
  static const char* const kLetters[] = {"ক", "খ", "গ", "ঘ", "চ", "ছ", "জ", "ঝ", "ট", "ঠ",
                                         "ড", "ঢ", "থ", "দ", "ধ", "ন", "প", "ফ", "ব", "ভ"};
  const auto word = [](int i, const char* first) {
    QByteArray w(first);
    for (int n = i + 1; n > 0; n /= 20) w += kLetters[n % 20];
    w += "ম";
    while (w.size() + 3 <= static_cast<qsizetype>(word_form::kMaxWordBytes)) w += "ল";
    return w;
  };
  const qint64 now = QDateTime::currentSecsSinceEpoch();
  QByteArray doc = R"({"reset_id":"","words":{)";
  for (int i = 0; i < kWords; ++i) {
    doc += (i ? ",\"" : "\"") + word(i, "স") + R"(":{"frequency":7,"last_used":)" +
           QByteArray::number(now - i) + "}";
  }
  doc += R"(},"tombstones":{)";
  for (int i = 0; i < kTombstones; ++i) {
    doc += (i ? ",\"" : "\"") + word(i, "হ") + "\":" + QByteArray::number(now - i);
  }
  doc += "}}";
  const QString dictionary = data_ + QStringLiteral("/user-dictionary.json");
  {
    QFile file(dictionary);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(doc), doc.size());
  }
  ASSERT_GT(doc.size(), 20'000'000);

  TestInputContext context(*harness_, "editor");
  ASSERT_NO_FATAL_FAILURE(activate(context));
  EXPECT_EQ(testing::typeKeys(context, "ami tomake "), 0);
  ASSERT_TRUE(harness_->waitFor([&] { return context.commits.size() == 2; }))
      << context.commits.join('|').toStdString() << "\n"
      << errors();
  ASSERT_NO_FATAL_FAILURE(terminate());

  const QJsonObject written = readJson(dictionary);
  const QJsonObject words = written["words"].toObject();
  const QJsonObject tombstones = written["tombstones"].toObject();
  EXPECT_EQ(words.size(), kWords + 2);
  EXPECT_EQ(tombstones.size(), kTombstones);
  EXPECT_EQ(words[QString::fromUtf8("তোমাকে")].toObject()["frequency"].toInt(), 1);
  EXPECT_EQ(words[QString::fromUtf8("আমি")].toObject()["frequency"].toInt(), 1);
  for (const int i : {0, 4'321, kWords - 1}) {
    EXPECT_EQ(words[QString::fromUtf8(word(i, "স"))].toObject()["frequency"].toInt(), 7) << i;
  }
  EXPECT_TRUE(tombstones.contains(QString::fromUtf8(word(kTombstones - 1, "হ"))));
}

}  // namespace
}  // namespace tolvani
