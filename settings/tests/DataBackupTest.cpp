#include "settings/DataBackup.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>

#include "persistence.h"
#include "platform/Clock.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/testing/ChildProcess.h"
#include "settings/AppSettings.h"
#include "settings/AppSettingsUserData.h"
#include "settings/TextShortcuts.h"
#include "settings/tests/SettingsTestSupport.h"
#include "store_documents.h"
#include "store_io.h"

namespace tolvani {
namespace {

using Json = nlohmann::json;
using Kind = LearnedDataImportResult::Kind;
namespace fs = std::filesystem;

using testing::FaultFileSystem;
using testing::readBytes;
using testing::writeBytes;

QString folder() { return AppSettings::supportDirectoryURL(); }
QString store(const char* name) { return QDir(folder()).filePath(QString::fromLatin1(name)); }

Json readJson(const char* name) { return Json::parse(readBytes(store(name))); }

// Every file of the user-data folder with its content, one per line.
std::string folderState(const QStringList& filter = {}) {
  std::string out;
  const QDir dir(folder());
  for (const QString& name : dir.entryList(filter, QDir::Files, QDir::Name))
    out += name.toStdString() + "=" + readBytes(dir.filePath(name)) + "\n";
  return out;
}

// The store files alone (lock files appear on first use and hold nothing).
std::string storeState() { return folderState({QStringLiteral("*.json")}); }

std::string kindName(const LearnedDataImportResult& r) {
  switch (r.kind) {
    case Kind::imported:
      return "imported " + std::to_string(r.words);
    case Kind::tooLarge:
      return "tooLarge";
    case Kind::invalid:
      return "invalid";
    case Kind::failed:
      return r.storesUnchanged ? "failed" : "failed, stores changed";
  }
  return "?";
}

std::string import(const std::string& document) {
  return kindName(AppSettings::importUserData(QByteArray::fromStdString(document)));
}

// A backup with one small, valid store of each kind.
Json fullBackup() {
  return Json::parse(R"({
    "version": 2, "exported_at": "2023-11-14T22:13:20Z",
    "dictionary": {"reset_id": "B", "words": {"আমি": {"frequency": 3, "last_used": 10}},
                   "tombstones": {"তুমি": 20}},
    "bigrams": {"pairs": {"আমি": {"ভাত": {"frequency": 2, "last_used": 10}}}},
    "trigrams": {"triples": {"আমি\tভাত": {"খাই": 2}}},
    "rejections": {"entries": {"ami": {"আমী": 1}}},
    "selection_memory": {"selections": {"ami": {"text": "আমি", "count": 4, "last_used": 10}}},
    "english_pairs": {"pairs": {"good": {"morning": 5}}}
  })");
}

class DataBackupTest : public testing::LearnedDataTest {
 protected:
  // Routes the import's reads, writes and locks through `fs`.
  void useFileSystem(FaultFileSystem& fs) { AppSettings::testSetStoreFileSystem(&fs); }
};

TEST_F(DataBackupTest, ExportHoldsEveryStoreThatReadsAsJson) {
  const QByteArray empty = *AppSettings::exportUserData();
  EXPECT_EQ(empty.toStdString(),
            "{\n  \"exported_at\": \"2023-11-14T22:13:20Z\",\n"
            "  \"version\": 2\n}");

  writeBytes(store("user-dictionary.json"),
             R"({"words":{"b":{"frequency":1},"a":{"frequency":2.5}},"reset_id":"R","x":[1]})");
  writeBytes(store("user-bigrams.json"), "[1,2]");
  writeBytes(store("user-trigrams.json"), "{");                // not JSON
  writeBytes(store("rejections.json"), "\"a string\"");        // not an object or an array
  writeBytes(store("selection-memory.json"), "{\"a\":\xff}");  // not UTF-8
  const Json exported = Json::parse(AppSettings::exportUserData()->toStdString());
  EXPECT_EQ(exported.dump(),
            R"({"bigrams":[1,2],"dictionary":{"reset_id":"R","words":{"a":{"frequency":2.5},)"
            R"("b":{"frequency":1}},"x":[1]},"exported_at":"2023-11-14T22:13:20Z","version":2})");
  EXPECT_TRUE(posts_.empty());
}

// What the engine learned, exported and imported again, is what it was: merging takes maxima,
// never sums; a second import writes the same bytes; and a fresh folder gets the same stores.
TEST_F(DataBackupTest, ExportThenImportLeavesEveryCountUnchanged) {
  {
    engine::LearnedStores stores = engine::LearnedStores::load_all();
    for (const char* word : {"আমি", "আমি", "ভাত", "খাই"}) stores.user_dictionary.add(word);
    stores.bigrams.record("আমি", "ভাত");
    stores.bigrams.record("আমি", "ভাত");
    stores.trigrams.record("আমি", "ভাত", "খাই");
    stores.selections.remember("ami", "আমি");
    stores.rejections.record_rejection("ami", "আমী");
    ASSERT_TRUE(stores.snapshot().sync());
  }
  writeBytes(store("english-pairs.json"), R"({"pairs":{"good":{"morning":3}}})");
  const char* names[] = {"user-dictionary.json", "user-bigrams.json",     "user-trigrams.json",
                         "rejections.json",      "selection-memory.json", "english-pairs.json"};
  std::map<std::string, Json> before;
  for (const char* name : names) before[name] = readJson(name);

  const QByteArray backup = *AppSettings::exportUserData();
  EXPECT_EQ(import(backup.toStdString()), "imported 3");
  for (const char* name : names) EXPECT_EQ(readJson(name), before[name]) << name;
  const std::string once = folderState();
  EXPECT_EQ(import(backup.toStdString()), "imported 3");
  EXPECT_EQ(folderState(), once);
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));

  // The engine reads what the import wrote.
  engine::UserDictionaryDocument dictionary;
  std::string error;
  ASSERT_TRUE(engine::decode_document(readBytes(store(names[0])), dictionary, error)) << error;
  EXPECT_EQ(dictionary.words.at("আমি").frequency, 2u);
  engine::SelectionMemoryDocument selections;
  EXPECT_TRUE(engine::decode_document(readBytes(store(names[4])), selections, error));

  // Into a new folder: the same stores, without the old reset ids.
  QTemporaryDir other;
  qputenv("XDG_DATA_HOME", other.path().toUtf8());
  EXPECT_EQ(import(backup.toStdString()), "imported 3");
  for (const char* name : names) {
    Json expected = before[name];
    expected.erase("reset_id");
    EXPECT_EQ(readJson(name), expected) << name;
  }
}

TEST_F(DataBackupTest, ImportCountsTheBackupsCleanedWords) {
  // The words are dropped by their own tombstones in the merge, yet the backup held three.
  EXPECT_EQ(
      import(R"({"dictionary":{"words":{"a":{"frequency":1,"last_used":5},)"
             R"("b":{"frequency":1},"c":{"frequency":1}},"tombstones":{"a":5,"b":2,"c":1}}})"),
      "imported 3");
  EXPECT_EQ(readJson("user-dictionary.json").dump(),
            R"({"tombstones":{"a":5,"b":2,"c":1},"words":{}})");
  EXPECT_EQ(import(R"({"bigrams":{"pairs":{"a":{"b":{"frequency":1}}}}})"), "imported 0");
  EXPECT_EQ(readJson("user-bigrams.json").dump(),
            R"({"pairs":{"a":{"b":{"frequency":1,"last_used":0}}}})");

  // Exactly the limit is read.
  std::string atLimit = R"({"english_pairs":{"pairs":{"a":{"b":2}}}})";
  atLimit += std::string(AppSettings::maxImportedUserDataBytes - atLimit.size(), ' ');
  EXPECT_EQ(import(atLimit), "imported 0");
  EXPECT_EQ(readJson("english-pairs.json").dump(), R"({"pairs":{"a":{"b":2}}})");
  EXPECT_EQ(posts_, std::vector<bool>({true, true, true}));
}

// Documents that are too large or unusable: the stores, their lock files and the folder stay as
// they were, and nothing is posted.
TEST_F(DataBackupTest, UnusableBackupsTouchNothing) {
  const std::string perfectDictionary = R"("dictionary":{"words":{"a":{"frequency":1}}})";
  std::string oversized = R"({"english_pairs":{"pairs":{"a":{"b":2}}}})";
  oversized += std::string(AppSettings::maxImportedUserDataBytes + 1 - oversized.size(), ' ');
  const struct {
    std::string document;
    std::string result;
  } rows[] = {
      {oversized, "tooLarge"},
      {"[]", "invalid"},
      {"\"x\"", "invalid"},
      {"{}", "invalid"},
      {"", "invalid"},
      {R"({"version":2,"exported_at":"2023-11-14T22:13:20Z"})", "invalid"},
      {"{" + perfectDictionary + R"(,"bigrams":[]})", "invalid"},
      {"{" + perfectDictionary + R"(,"bigrams":{"pairs":{"a":{"b":{"frequency":0}}}}})", "invalid"},
      {"{" + perfectDictionary + R"(,"trigrams":null})", "invalid"},
      {R"({"dictionary":{"words":{"a":{"frequency":"7"},"b":{"frequency":true}}}})", "invalid"},
      {R"({"dictionary":{"words":{"a":{"frequency":1000001},"b":{"frequency":-1}}}})", "invalid"},
      {R"({"selection_memory":{"selections":{"a":{"text":"x\u202Ey","count":1}}}})", "invalid"},
      {R"({"dictionary":{"words":{"a\u2067":{"frequency":1}}}})", "invalid"},
      {"{" + perfectDictionary + ",\"x\":" + std::string(100'000, '[') + std::string(100'000, ']') +
           "}",
       "invalid"},
      {"{\"dictionary\":{\"words\":{\"a\xC0\xAF\":{\"frequency\":1}}}}", "invalid"},
      {"{" + perfectDictionary + "} trailing", "invalid"},
  };
  writeBytes(store("user-dictionary.json"), R"({"words":{"z":{"frequency":1}}})");
  const std::string before = folderState();
  for (const auto& row : rows) {
    EXPECT_EQ(import(row.document), row.result) << row.document.substr(0, 80);
    EXPECT_EQ(folderState(), before) << row.document.substr(0, 80);
  }
  EXPECT_TRUE(posts_.empty());
  EXPECT_EQ(log_.lines(), QStringList{"[Tolvani] rejected oversized user data import"});
}

TEST_F(DataBackupTest, HostileButUsableBackupsAreCleaned) {
  // 100,000 keys, one in ten a word; controls, bidirectional marks and wrong values are dropped.
  std::string document = R"({"dictionary":{"words":{)";
  for (int i = 0; i < 100'000; ++i)
    document += "\"w" + std::to_string(100'000 + i) +
                "\":" + (i % 10 == 0 ? R"({"frequency":1})" : "0") + ",";
  document += R"("x\u202Ey":{"frequency":1},"x\ny":{"frequency":1}},"tombstones":[]},)"
              R"("rejections":{"entries":{"r":{"a":1,"b":1.5,"c":1e7,"d":{"x":1}},"s":7}}})";
  ASSERT_LE(document.size(), static_cast<std::size_t>(AppSettings::maxImportedUserDataBytes));
  EXPECT_EQ(import(document), "imported 10000");
  const Json words = readJson("user-dictionary.json")["words"];
  EXPECT_EQ(words.size(), 10'000u);
  EXPECT_FALSE(words.contains("x\u202Ey"));
  EXPECT_EQ(readJson("rejections.json").dump(), R"({"entries":{"r":{"a":1}}})");
}

// The third of six writes fails: the two before it get their old content back, latest first;
// the one that did not exist is removed again.
TEST_F(DataBackupTest, AFailedWriteRestoresTheEarlierStoresLatestFirst) {
  writeBytes(store("english-pairs.json"), R"({"pairs":{"good":{"night":1}},"reset_id":"E"})");
  writeBytes(store("selection-memory.json"), R"({"selections":{},"reset_id":"S"})");
  const std::string before = storeState();
  FaultFileSystem faults;
  faults.failRenameTo["selection-memory.json"] = 0;
  useFileSystem(faults);
  EXPECT_EQ(import(fullBackup().dump()), "failed");
  EXPECT_EQ(faults.operations,
            (std::vector<std::string>{"replace english-pairs.json", "replace rejections.json",
                                      "replace selection-memory.json failed",
                                      "remove rejections.json", "replace english-pairs.json"}));
  EXPECT_EQ(storeState(), before);
  EXPECT_EQ(posts_, std::vector<bool>{true});
  EXPECT_EQ(log_.lines().last(),
            "[Tolvani] learned data import failed: Input/output error (POSIX error 5)");
}

// A write that replaced its file but could not make that durable failed all the same: its file
// is put back first.
TEST_F(DataBackupTest, AWriteWhoseFolderFlushFailsIsUndoneToo) {
  writeBytes(store("selection-memory.json"), R"({"selections":{},"reset_id":"S"})");
  const std::string before = storeState();
  FaultFileSystem faults;
  faults.failFlushAfterRenameTo = "selection-memory.json";
  useFileSystem(faults);
  EXPECT_EQ(import(fullBackup().dump()), "failed");
  EXPECT_EQ(faults.operations, (std::vector<std::string>{
                                   "replace english-pairs.json", "replace rejections.json",
                                   "replace selection-memory.json", "replace selection-memory.json",
                                   "remove rejections.json", "remove english-pairs.json"}));
  EXPECT_EQ(storeState(), before);
}

// The undo of one store fails too: every other store is still put back, each failure is logged,
// and the result says that the stores changed.
TEST_F(DataBackupTest, AFailedUndoIsLoggedAndTheOtherStoresAreStillRestored) {
  writeBytes(store("english-pairs.json"), R"({"pairs":{"good":{"night":1}}})");
  writeBytes(store("rejections.json"), R"({"entries":{"x":{"y":2}},"reset_id":"R"})");
  FaultFileSystem faults;
  faults.failRenameTo["selection-memory.json"] = 0;
  faults.failRenameTo["rejections.json"] = 1;  // the merged copy goes in; the old one does not
  useFileSystem(faults);
  EXPECT_EQ(import(fullBackup().dump()), "failed, stores changed");
  EXPECT_EQ(
      faults.operations,
      (std::vector<std::string>{"replace english-pairs.json", "replace rejections.json",
                                "replace selection-memory.json failed",
                                "replace rejections.json failed", "replace english-pairs.json"}));
  EXPECT_EQ(readBytes(store("english-pairs.json")), R"({"pairs":{"good":{"night":1}}})");
  EXPECT_EQ(readJson("rejections.json").dump(),
            R"({"entries":{"ami":{"আমী":1},"x":{"y":2}},"reset_id":"R"})");
  EXPECT_FALSE(QFile::exists(store("selection-memory.json")));
  const QStringList lines = log_.lines();
  EXPECT_TRUE(
      lines.contains("[Tolvani] learned data import could not restore rejections.json: "
                     "Input/output error (POSIX error 5)"))
      << lines.join("\n").toStdString();
  EXPECT_EQ(lines.last(),
            "[Tolvani] learned data import failed: Input/output error (POSIX error 5)");
}

// A store on disk that the import cannot read fails it before anything is written, also the
// stores that come before it.
TEST_F(DataBackupTest, ACorruptStoreFailsTheImportWithNothingWritten) {
  const char* corrupt[] = {"{",
                           "[]",
                           "\"words\"",
                           R"({"words":[]})",
                           R"({"words":{},"tombstones":7})",
                           R"({"words":{"a":{}},"words":{}})",
                           "\xff"};
  for (const char* bytes : corrupt) {
    writeBytes(store("english-pairs.json"), R"({"pairs":{"good":{"night":1}}})");
    writeBytes(store("user-dictionary.json"), bytes);
    const std::string before = storeState();
    EXPECT_EQ(import(fullBackup().dump()), "failed") << bytes;
    EXPECT_EQ(storeState(), before) << bytes;
    EXPECT_EQ(log_.lines().last(),
              "[Tolvani] learned data import failed: The file \u201Cuser-dictionary.json\u201D "
              "couldn\u2019t be opened because it isn\u2019t in the correct format.")
        << bytes;
  }
  EXPECT_EQ(posts_, std::vector<bool>(std::size(corrupt), true));
}

// Holds the lock of the store given in the environment until its standard input gives a line,
// then writes a word into the dictionary, as the engine of another process would.
TOLVANI_CHILD_ROLE(BackupLockHolder) {
  const QString dictionary = AppSettings::userDictionaryURL();
  const UserDataStatus status = AppSettings::withStoreLock(dictionary, [&]() -> UserDataStatus {
    std::cout << "locked" << std::endl;
    std::string line;
    std::getline(std::cin, line);
    QFile file(dictionary);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
      return UserDataStatus::posixError(EIO);
    file.write(R"({"reset_id":"C","words":{"ঘর":{"frequency":4,"last_used":7}}})");
    return {};
  });
  return status.ok() ? 0 : 1;
}

TEST_F(DataBackupTest, ImportWaitsForAnotherProcessHoldingALock) {
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("TOLVANI_TEST_CHILD_ROLE"), QStringLiteral("BackupLockHolder"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  child.start(QCoreApplication::applicationFilePath(), {});
  while (!child.canReadLine()) ASSERT_TRUE(child.waitForReadyRead(60'000));
  ASSERT_EQ(child.readLine().trimmed(), "locked");

  FaultFileSystem watch;
  std::atomic<int> locks{0};
  watch.beforeLock = [&] { ++locks; };
  useFileSystem(watch);
  std::atomic<bool> done{false};
  std::string result;
  std::thread importer([&] {
    result = import(fullBackup().dump());
    done = true;
  });
  // The dictionary's lock comes fifth of six; while the child holds it nothing may be written.
  while (locks < 5 && !done) std::this_thread::yield();
  EXPECT_FALSE(done);
  EXPECT_EQ(storeState(), "");
  child.write("go\n");
  child.waitForBytesWritten(60'000);
  importer.join();
  ASSERT_TRUE(child.waitForFinished(60'000));
  EXPECT_EQ(child.exitCode(), 0);
  EXPECT_EQ(result, "imported 1");
  // Merged into what the child wrote while it held the lock.
  EXPECT_EQ(readJson("user-dictionary.json").dump(),
            R"({"reset_id":"C","tombstones":{"তুমি":20},"words":{"আমি":{"frequency":3,)"
            R"("last_used":10},"ঘর":{"frequency":4,"last_used":7}}})");
}

TEST_F(DataBackupTest, TextShortcutsImportAndExport) {
  AppSettings::setTextShortcuts({{"brb", "be right back"}});
  EXPECT_EQ(AppSettings::importTextShortcuts("no shortcuts here\n"), std::nullopt);
  EXPECT_EQ(AppSettings::importTextShortcuts("{}"), std::nullopt);
  EXPECT_TRUE(posts_.empty());
  EXPECT_EQ(AppSettings::importTextShortcuts(
                R"({"BRB":"ফিরছি","ty":"ধন্যবাদ","bad code!":"x","e":"a\u202Eb"})"),
            std::make_pair(2, 2));
  EXPECT_EQ(posts_, std::vector<bool>{false});
  const QMap<QString, QString> expected{{"brb", "ফিরছি"}, {"ty", "ধন্যবাদ"}};
  EXPECT_EQ(AppSettings::textShortcuts(), expected);
  const QByteArray exported = AppSettings::exportTextShortcuts();
  EXPECT_EQ(exported.toStdString(), Json::parse(R"({"brb":"ফিরছি","ty":"ধন্যবাদ"})").dump(2));
  AppSettings::resetTextShortcuts();
}

}  // namespace
}  // namespace tolvani
