#include "settings/DataBackup.h"

#include <gtest/gtest.h>

#include <QFile>
#include <atomic>
#include <iostream>
#include <set>
#include <thread>

#include "persistence.h"
#include "platform/testing/ChildProcess.h"
#include "platform/testing/ReturnsWithin.h"
#include "settings/tests/SettingsTestSupport.h"
#include "tolvani_engine.h"

namespace tolvani {
namespace {

using Json = nlohmann::json;
using Kind = LearnedDataImportResult::Kind;

using testing::describe;
using testing::FaultFileSystem;
using testing::kBackup;
using testing::keptAsPlaced;
using testing::placeUnreadable;
using testing::readBytes;
using testing::Unreadable;
using testing::writeBytes;

QString store(const char* name) {
  return QDir(AppSettings::supportDirectoryURL()).filePath(QString::fromLatin1(name));
}
Json readJson(const char* name) { return testing::readJson(store(name)); }

// Every file of the user-data folder with its content, one per line.
std::string folderState() { return testing::folderState(AppSettings::supportDirectoryURL()); }
// The store files alone (lock files appear on first use and hold nothing).
std::string storeState() {
  return testing::folderState(AppSettings::supportDirectoryURL(), {QStringLiteral("*.json")});
}

std::string import(const std::string& document) {
  const LearnedDataImportResult r =
      AppSettings::importUserData(QByteArray::fromStdString(document));
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

using DataBackupTest = testing::LearnedDataTest;

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

// "কোন" spelt with its vowel sign in two parts (ে + া), and its twin in one, imported three times,
// each import followed by an engine session that loads and saves the stores: the word is one word
// of count 5 every time, as for any other word, and the other stores, which the engine keeps as
// spelt, stay as they were. Every store file is the same after each round.
TEST_F(DataBackupTest, ADecomposedWordImportedAgainKeepsItsCount) {
  const std::string decomposed = "\u0995\u09C7\u09BE\u09A8";
  const std::string composed = "\u0995\u09CB\u09A8";
  const std::string recent = std::to_string(testing::kNow - 100);
  const std::string backup =
      R"({"dictionary":{"words":{")" + decomposed + R"(":{"frequency":5,"last_used":)" + recent +
      R"(},"আমি":{"frequency":3,"last_used":)" + recent +
      R"(}},"tombstones":{"\u0986\u09AE\u09C0":)" + recent + R"(}},"bigrams":{"pairs":{")" +
      decomposed + R"(":{"আমি":{"frequency":2,"last_used":)" + recent +
      R"(}}}},"trigrams":{"triples":{"আমি\t)" + decomposed + R"(":{"ভাত":2}}},)" +
      R"("english_pairs":{"pairs":{"good":{"morning":5}}}})";
  std::string firstRound;
  for (int round = 1; round <= 3; ++round) {
    EXPECT_EQ(import(backup), "imported 2") << round;
    TolvaniEngine* engine = tolvani_engine_create();
    ASSERT_NE(engine, nullptr);
    EXPECT_TRUE(tolvani_snapshot_write(tolvani_engine_snapshot(engine)));  // frees the snapshot
    tolvani_engine_destroy(engine);

    const Json words = readJson("user-dictionary.json")["words"];
    EXPECT_EQ(words.size(), 2u) << round;
    EXPECT_FALSE(words.contains(decomposed)) << round;
    EXPECT_EQ(words[composed]["frequency"], 5) << round;
    EXPECT_EQ(readJson("user-bigrams.json")["pairs"][decomposed]["আমি"]["frequency"], 2) << round;
    if (round == 1)
      firstRound = storeState();
    else
      EXPECT_EQ(storeState(), firstRound) << round;
  }
  // Twins in one backup, and a word on disk that is not in normal form, are one word too.
  EXPECT_EQ(import(R"({"dictionary":{"words":{")" + decomposed + R"(":{"frequency":7},")" +
                   composed + R"(":{"frequency":6}}}})"),
            "imported 1");
  EXPECT_EQ(readJson("user-dictionary.json")["words"][composed]["frequency"], 7);
  EXPECT_FALSE(readJson("user-dictionary.json")["words"].contains(decomposed));
}

// The count is of the backup's words that the dictionary holds after the import: it reported the
// backup's cleaned words, though the merge hid some under tombstones and the engine dropped more
// at its next save, which kept 9,000 of 10,030.
TEST_F(DataBackupTest, ImportCountsTheWordsTheDictionaryKeeps) {
  EXPECT_EQ(
      import(R"({"dictionary":{"words":{"a":{"frequency":1,"last_used":5},)"
             R"("b":{"frequency":1},"c":{"frequency":1}},"tombstones":{"a":5,"b":2,"c":1}}})"),
      "imported 0");
  EXPECT_EQ(readJson("user-dictionary.json").dump(),
            R"({"tombstones":{"a":5,"b":2,"c":1},"words":{}})");
  EXPECT_EQ(import(R"({"bigrams":{"pairs":{"a":{"b":{"frequency":1}}}}})"), "imported 0");
  EXPECT_EQ(readJson("user-bigrams.json").dump(),
            R"({"pairs":{"a":{"b":{"frequency":1,"last_used":0}}}})");
  EXPECT_EQ(posts_, std::vector<bool>({true, true}));

  // What the engine keeps when it next saves, after its load and one word learned.
  const auto engineKeeps = [] {
    engine::LearnedStores stores = engine::LearnedStores::load_all();
    stores.user_dictionary.add("জল");
    EXPECT_TRUE(stores.snapshot().sync());
    Json words = readJson("user-dictionary.json")["words"];
    words.erase("জল");
    return words;
  };
  const auto keys = [](const Json& words) {
    std::set<std::string> out;
    for (const auto& [word, entry] : words.items()) out.insert(word);
    return out;
  };

  // Used less than three times and idle for a month: dropped; at three uses or undated: kept.
  const std::string monthAgo = std::to_string(testing::kNow - 31 * 86'400);
  EXPECT_EQ(import(R"({"dictionary":{"words":{"idle":{"frequency":2,"last_used":)" + monthAgo +
                   R"(},"used":{"frequency":3,"last_used":)" + monthAgo +
                   R"(},"undated":{"frequency":1}}}})"),
            "imported 2");
  Json words = readJson("user-dictionary.json")["words"];
  EXPECT_EQ(keys(words), (std::set<std::string>{"undated", "used"}));
  EXPECT_EQ(keys(engineKeeps()), keys(words));

  // 10,000 words into 30 often used: 9,000 kept, the 30 among them.
  std::string current = R"({"words":{)";
  for (int i = 0; i < 30; ++i)
    current += (i ? ",\"mine" : "\"mine") + std::to_string(i) +
               R"(":{"frequency":50,"last_used":)" + std::to_string(testing::kNow - 100) + "}";
  writeBytes(store("user-dictionary.json"), current + "}}");
  std::string backup = R"({"dictionary":{"words":{)";
  for (int i = 0; i < 10'000; ++i)
    backup += (i ? ",\"w" : "\"w") + std::to_string(i) + R"(":{"frequency":)" +
              std::to_string(1 + i % 5) + R"(,"last_used":)" +
              std::to_string(testing::kNow - 10 * i) + "}";
  EXPECT_EQ(import(backup + "}}}"), "imported 8970");
  words = readJson("user-dictionary.json")["words"];
  EXPECT_EQ(words.size(), 9'000u);
  for (int i = 0; i < 30; ++i) EXPECT_TRUE(words.contains("mine" + std::to_string(i))) << i;
  EXPECT_EQ(keys(engineKeeps()), keys(words));
  EXPECT_EQ(AppSettings::learnedWordCount(), 9'001);
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

// A write fails (at its rename, or at the folder flush after it): the ones before it get their
// old content back, latest first, and a store that did not exist is removed again. When an undo
// fails too, the other stores are still put back, each failure is logged, and the result says so.
TEST_F(DataBackupTest, AFailedWriteRestoresTheEarlierStoresLatestFirst) {
  const std::string pairs = R"({"pairs":{"good":{"night":1}},"reset_id":"E"})";
  const std::string selections = R"({"selections":{},"reset_id":"S"})";
  const std::string rejections = R"({"entries":{"x":{"y":2}},"reset_id":"R"})";
  const std::string io = "Input/output error (POSIX error 5)";
  const struct {
    std::map<std::string, std::string> files;
    std::map<std::string, int> failRenameTo;
    std::string failFlushAfterRenameTo;
    std::string result;
    std::vector<std::string> operations;
    std::string after;  // the stores afterwards, when not as before
  } rows[] = {
      {{{"english-pairs.json", pairs}, {"selection-memory.json", selections}},
       {{"selection-memory.json", 0}},
       "",
       "failed",
       {"replace english-pairs.json", "replace rejections.json",
        "replace selection-memory.json failed", "remove rejections.json",
        "replace english-pairs.json"},
       ""},
      {{{"selection-memory.json", selections}},
       {},
       "selection-memory.json",
       "failed",
       {"replace english-pairs.json", "replace rejections.json", "replace selection-memory.json",
        "replace selection-memory.json", "remove rejections.json", "remove english-pairs.json"},
       ""},
      // The merged copy of the rejections goes in; the old one does not go back.
      {{{"english-pairs.json", pairs}, {"rejections.json", rejections}},
       {{"selection-memory.json", 0}, {"rejections.json", 1}},
       "",
       "failed, stores changed",
       {"replace english-pairs.json", "replace rejections.json",
        "replace selection-memory.json failed", "replace rejections.json failed",
        "replace english-pairs.json"},
       "english-pairs.json=" + pairs + "\nrejections.json=" +
           R"({"entries":{"ami":{"আমী":1},"x":{"y":2}},"reset_id":"R"})" + "\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.result + " " + row.failFlushAfterRenameTo);
    for (const char* name : {"english-pairs.json", "rejections.json", "selection-memory.json"})
      QFile::remove(store(name));
    for (const auto& [name, bytes] : row.files) writeBytes(store(name.c_str()), bytes);
    const std::string before = storeState();
    FaultFileSystem faults;
    faults.failRenameTo = row.failRenameTo;
    faults.failFlushAfterRenameTo = row.failFlushAfterRenameTo;
    AppSettings::testSetStoreFileSystem(&faults);
    posts_.clear();
    platform::log::Capture log;
    EXPECT_EQ(import(kBackup), row.result);
    AppSettings::testSetStoreFileSystem(nullptr);
    EXPECT_EQ(faults.operations, row.operations);
    EXPECT_EQ(storeState(), row.after.empty() ? before : row.after);
    EXPECT_EQ(posts_, std::vector<bool>{true});
    EXPECT_EQ(log.lines().last(),
              QString::fromStdString("[Tolvani] learned data import failed: " + io));
    if (row.result != "failed") {
      EXPECT_TRUE(log.lines().contains(QString::fromStdString(
          "[Tolvani] learned data import could not restore rejections.json: " + io)));
    }
  }
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
    EXPECT_EQ(import(kBackup), "failed") << bytes;
    EXPECT_EQ(storeState(), before) << bytes;
    EXPECT_EQ(log_.lines().last(),
              "[Tolvani] learned data import failed: The file \u201Cuser-dictionary.json\u201D "
              "couldn\u2019t be opened because it isn\u2019t in the correct format.")
        << bytes;
  }
  EXPECT_EQ(posts_, std::vector<bool>(std::size(corrupt), true));
}

// A store's file as what no store can be read from: the import answers at once that it is not in
// the correct format, writes nothing, and leaves the thing as it is.
TEST_F(DataBackupTest, AStoreThatIsNoPlainFileOfASaneSizeFailsTheImportAtOnceWithNothingWritten) {
  const std::pair<const char*, std::string> stores[] = {
      {"user-dictionary.json", R"({"words":{"kept":{"frequency":9}}})"},
      {"user-bigrams.json", R"({"pairs":{"kept":{"pair":{"frequency":9,"last_used":1}}}})"}};
  for (const auto& [name, document] : stores) {
    for (const Unreadable shape :
         {Unreadable::kFifo, Unreadable::kLinkToZero, Unreadable::kOversized}) {
      SCOPED_TRACE(std::string(name) + " as " + describe(shape));
      writeBytes(store("english-pairs.json"), R"({"pairs":{"good":{"night":1}}})");
      const std::string oversized = placeUnreadable(store(name), shape, document);
      // Only the regular files are read: the test must not wait on the thing either.
      const std::string before = storeState();
      std::string result;
      EXPECT_TRUE(testing::returnsWithin(std::chrono::seconds(10), {store(name)},
                                         [&] { result = import(kBackup); }));
      EXPECT_EQ(result, "failed");
      EXPECT_EQ(storeState(), before);
      EXPECT_TRUE(keptAsPlaced(store(name), shape, oversized));
      EXPECT_EQ(log_.lines().last(),
                QStringLiteral("[Tolvani] learned data import failed: The file "
                               "\u201C%1\u201D couldn\u2019t be opened "
                               "because it isn\u2019t in the correct format.")
                    .arg(QLatin1String(name)));
      ASSERT_TRUE(QFile::remove(store(name)));
    }
  }
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
  testing::LineChild child(QStringLiteral("BackupLockHolder"));
  ASSERT_EQ(child.line(), "locked");

  FaultFileSystem watch;
  std::atomic<int> locks{0};
  watch.beforeLock = [&] { ++locks; };
  AppSettings::testSetStoreFileSystem(&watch);
  std::atomic<bool> done{false};
  std::string result;
  std::thread importer([&] {
    result = import(kBackup);
    done = true;
  });
  // The dictionary's lock comes fifth of six; while the child holds it nothing may be written.
  while (locks < 5 && !done) std::this_thread::yield();
  EXPECT_FALSE(done);
  EXPECT_EQ(storeState(), "");
  child.send("go");
  importer.join();
  EXPECT_EQ(child.finish(), 0);
  EXPECT_EQ(result, "imported 1");
  // Merged into what the child wrote while it held the lock.
  EXPECT_EQ(readJson("user-dictionary.json").dump(),
            R"({"reset_id":"C","tombstones":{"তুমি":20},"words":{"আমি":{"frequency":3,)"
            R"("last_used":10},"ঘর":{"frequency":4,"last_used":7}}})");
}

}  // namespace
}  // namespace tolvani
