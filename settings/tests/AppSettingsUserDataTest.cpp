#include "settings/AppSettingsUserData.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <iostream>
#include <thread>

#include "platform/testing/ChildProcess.h"
#include "platform/testing/ReturnsWithin.h"
#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

using Json = nlohmann::json;

using testing::describe;
using testing::FaultFileSystem;
using testing::keptAsPlaced;
using testing::placeUnreadable;
using testing::readBytes;
using testing::readJson;
using testing::Unreadable;
using testing::writeBytes;

// The engine of another process, one command a line: "load", "add WORD", "learn" (one change in
// each of the five stores), "sync", "reload", "words", "sizes", and "sync-gated", a sync that
// answers "locked" once it holds the first lock and goes on at the next line.
TOLVANI_CHILD_ROLE_WITHOUT_APPLICATION(UserDataEngine) {
  std::optional<engine::LearnedStores> stores;
  FaultFileSystem gate;
  auto run = [&](const std::string& command) -> std::string {
    engine::test_set_now_secs(testing::kNow);
    if (command == "load") {
      stores = engine::LearnedStores::load_all();
      return "loaded";
    }
    if (!stores) return "not loaded";
    engine::LearnedStores& s = *stores;
    if (command.starts_with("add ")) {
      s.user_dictionary.add(command.substr(4));
      return "added";
    }
    if (command == "learn") {
      s.user_dictionary.add("আমি");
      s.bigrams.record("আমি", "ভাত");
      s.trigrams.record("আমি", "ভাত", "খাই");
      s.selections.remember("ami", "আমি");
      s.rejections.record_rejection("ami", "আমী");
      return "learned";
    }
    if (command == "sync") return s.snapshot().sync() ? "synced" : "sync failed";
    if (command == "sync-gated") {
      bool held = false;
      gate.afterLock = [&] {
        if (std::exchange(held, true)) return;
        std::cout << "locked" << std::endl;
        std::string line;
        std::getline(std::cin, line);
      };
      engine::test_set_store_file_system(&gate);
      const bool ok = s.snapshot().sync();
      engine::test_set_store_file_system(nullptr);
      return ok ? "synced" : "sync failed";
    }
    if (command == "reload") return s.reload() ? "reloaded" : "reload failed";
    if (command == "words") {
      std::vector<std::string> words;
      for (const auto& [word, entry] : s.user_dictionary.words()) words.push_back(word);
      std::sort(words.begin(), words.end());
      std::string out;
      for (const std::string& w : words) out += (out.empty() ? "" : ",") + w;
      return "[" + out + "]";
    }
    if (command == "sizes")
      return std::to_string(s.user_dictionary.words().size()) + std::to_string(s.bigrams.size()) +
             std::to_string(s.trigrams.size()) + std::to_string(s.selections.size()) +
             std::to_string(s.rejections.size());
    return "unknown command";
  };
  for (std::string line; std::getline(std::cin, line);) std::cout << run(line) << std::endl;
  return 0;
}

class UserDataTest : public testing::LearnedDataTest {
 protected:
  static QString dictionary() { return AppSettings::userDictionaryURL(); }
  Json entry(const std::string& word) { return readJson(dictionary())["words"][word]; }
};

TEST_F(UserDataTest, OneFolderForBothSidesAndPrivateLockFiles) {
  const QString folder = dir_.path() + QStringLiteral("/tolvani");
  EXPECT_EQ(AppSettings::supportDirectoryURL(), folder);
  EXPECT_EQ(AppSettings::supportDirectoryURL().toStdString(),
            engine::user_data_directory().string());
  QStringList names;
  for (const QString& url : AppSettings::learnedDataURLs()) names << url.section('/', -1);
  EXPECT_EQ(names, (QStringList{"user-dictionary.json", "user-bigrams.json", "user-trigrams.json",
                                "rejections.json", "selection-memory.json", "english-pairs.json"}));
  EXPECT_EQ(AppSettings::englishPairsURL(), folder + QStringLiteral("/english-pairs.json"));

  // Moved for the engine, moved for this side too.
  qputenv("TOLVANI_DATA_DIR", (dir_.path() + "/moved").toUtf8());
  EXPECT_EQ(AppSettings::userRejectionsURL(), dir_.path() + "/moved/rejections.json");
  EXPECT_EQ(AppSettings::supportDirectoryURL().toStdString(),
            engine::user_data_directory().string());
  qunsetenv("TOLVANI_DATA_DIR");

  bool ran = false;
  const UserDataStatus status = AppSettings::withStoreLock(dictionary(), [&] {
    ran = true;
    return UserDataStatus::posixError(EPERM);
  });
  EXPECT_TRUE(ran);
  EXPECT_EQ(status.posixCode(), EPERM);  // the body's answer is passed on
  struct stat st {};
  ASSERT_EQ(::stat((folder + "/user-dictionary.lock").toUtf8().constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(QFile::exists(dictionary()));

  // A folder that cannot be made: the body never runs.
  writeBytes(dir_.path() + "/file", "x");
  ran = false;
  const UserDataStatus blocked = AppSettings::withStoreLock(dir_.path() + "/file/sub/x.json", [&] {
    ran = true;
    return UserDataStatus();
  });
  EXPECT_FALSE(blocked.ok());
  EXPECT_FALSE(ran);
}

TEST_F(UserDataTest, AddAndRemoveWords) {
  EXPECT_FALSE(AppSettings::addUserWord(QStringLiteral(" \t\n\u00A0")));
  EXPECT_FALSE(QFile::exists(dictionary()));
  EXPECT_TRUE(posts_.empty());

  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("word ")));
  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("word ")));
  EXPECT_EQ(entry("word ").dump(), R"({"frequency":2,"last_used":1700000000})");
  EXPECT_EQ(posts_, (std::vector<bool>{true, true}));

  // Decomposed input is stored composed.
  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("e\u0301")));
  EXPECT_TRUE(readJson(dictionary())["words"].contains("\u00e9"));

  struct Row {
    const char* name;
    const char* before;  // the user dictionary before the add
    const char* after;   // the entry of "w" after it
  };
  const Row rows[] = {
      {"saturated", R"({"words":{"w":{"frequency":4294967295,"last_used":5}}})",
       R"({"frequency":4294967295,"last_used":1700000000})"},
      {"tombstone ahead", R"({"words":{},"tombstones":{"w":1700000500}})",
       R"({"frequency":1,"last_used":1700000501})"},
      {"tombstone for ever", R"({"words":{},"tombstones":{"w":18446744073709551615}})",
       R"({"frequency":1,"last_used":18446744073709551615})"},
      {"other fields stay", R"({"words":{"w":{"frequency":3,"last_decay":9,"x":[1]}}})",
       R"({"frequency":4,"last_decay":9,"last_used":1700000000,"x":[1]})"},
      {"malformed counts read as 0", R"({"words":{"w":{"frequency":-4}},"tombstones":{"w":"x"}})",
       R"({"frequency":1,"last_used":1700000000})"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    writeBytes(dictionary(), row.before);
    ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("w")));
    EXPECT_EQ(entry("w").dump(), row.after);
  }

  // The tombstone outlives every time the removed word carried, and the document keeps the rest.
  writeBytes(dictionary(),
             R"({"reset_id":"r","v":1,"words":{"w":{"frequency":3,"last_used":1800000000},)"
             R"("k":{"frequency":1}},"tombstones":{"z":5}})");
  ASSERT_TRUE(AppSettings::removeUserWord(QStringLiteral("w")));
  ASSERT_TRUE(AppSettings::removeUserWord(QStringLiteral("never")));
  EXPECT_EQ(readBytes(dictionary()),
            R"({"reset_id":"r","tombstones":{"never":1700000000,"w":1800000000,"z":5},"v":1,)"
            R"("words":{"k":{"frequency":1}}})");
  EXPECT_TRUE(log_.lines().isEmpty()) << log_.lines().join('\n').toStdString();
}

// An edit that cannot read its store writes nothing: the file keeps every byte.
TEST_F(UserDataTest, UndecodableStoreIsNeverOverwritten) {
  const char* const unusable[] = {"{}",
                                  "[]",
                                  "{",
                                  R"({"words":[]})",
                                  R"({"words":{},"words":{"a":{"frequency":1}}})",
                                  "\xff\xfe",
                                  R"({"words":{}} x)"};
  for (const char* bytes : unusable) {
    SCOPED_TRACE(bytes);
    writeBytes(dictionary(), bytes);
    posts_.clear();
    platform::log::Capture log;
    EXPECT_FALSE(AppSettings::addUserWord(QStringLiteral("w")));
    EXPECT_FALSE(AppSettings::removeUserWord(QStringLiteral("w")));
    EXPECT_EQ(readBytes(dictionary()), bytes);
    EXPECT_TRUE(posts_.empty());
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_TRUE(
        log.lines()[0].startsWith("[Tolvani] failed to edit user dictionary: The file "
                                  "\u201Cuser-dictionary.json\u201D"))
        << log.lines()[0].toStdString();
  }

  const std::string selections = R"({"reset_id":"s","selections":{"ami":{"text":"x","count":1}}})";
  writeBytes(AppSettings::selectionMemoryURL(), selections);
  writeBytes(AppSettings::userRejectionsURL(), "{}");
  posts_.clear();
  platform::log::Capture log;
  EXPECT_FALSE(AppSettings::forgetCorrection(QStringLiteral("ami")));
  EXPECT_EQ(readBytes(AppSettings::userRejectionsURL()), "{}");
  EXPECT_EQ(readBytes(AppSettings::selectionMemoryURL()), selections);
  EXPECT_EQ(posts_, std::vector<bool>{true});
  ASSERT_EQ(log.lines().size(), 1);
  EXPECT_TRUE(log.lines()[0].startsWith("[Tolvani] Could not forget correction: "));
}

// The dictionary's file as what no store can be read from: each edit, the count and the editor's
// list answer at once that the file is not in the correct format, and the thing is left as it is.
TEST_F(UserDataTest, ADictionaryThatIsNoPlainFileOfASaneSizeIsRefusedAtOnceAndKept) {
  const std::string document = R"({"words":{"kept":{"frequency":9,"last_used":1}}})";
  for (const Unreadable shape :
       {Unreadable::kFifo, Unreadable::kLinkToZero, Unreadable::kOversized}) {
    SCOPED_TRACE(describe(shape));
    const std::string oversized = placeUnreadable(dictionary(), shape, document);
    posts_.clear();
    platform::log::Capture log;
    bool added = true;
    bool removed = true;
    int count = -1;
    UserDataResult<std::vector<UserWordEntry>> listed;
    // A generous bound: it tells an answer from a wait on the FIFO or on /dev/zero's end.
    EXPECT_TRUE(testing::returnsWithin(std::chrono::seconds(10), {dictionary()}, [&] {
      added = AppSettings::addUserWord(QStringLiteral("w"));
      removed = AppSettings::removeUserWord(QStringLiteral("kept"));
      count = AppSettings::learnedWordCount();
      listed = AppSettings::loadUserDictionaryEntries();
    }));
    EXPECT_FALSE(added);
    EXPECT_FALSE(removed);
    EXPECT_EQ(count, 0);
    EXPECT_FALSE(listed.value);
    EXPECT_TRUE(listed.status.isCorruptFile()) << listed.status.description().toStdString();
    EXPECT_TRUE(posts_.empty());
    ASSERT_EQ(log.lines().size(), 2);
    for (const QString& line : log.lines())
      EXPECT_EQ(
          line,
          "[Tolvani] failed to edit user dictionary: The file \u201Cuser-dictionary.json\u201D "
          "couldn\u2019t be opened because it isn\u2019t in the correct format.");
    EXPECT_TRUE(keptAsPlaced(dictionary(), shape, oversized));
    // No copy set aside, no temporary left: the settings side leaves the thing to the engine.
    QStringList names = QDir(AppSettings::supportDirectoryURL())
                            .entryList({QStringLiteral("user-dictionary*")},
                                       QDir::AllEntries | QDir::System | QDir::Hidden);
    names.removeAll(QStringLiteral("user-dictionary.lock"));
    EXPECT_EQ(names, QStringList{"user-dictionary.json"});
    ASSERT_TRUE(QFile::remove(dictionary()));
  }
}

TEST_F(UserDataTest, ListingReadsWhatAddWrites) {
  EXPECT_FALSE(AppSettings::loadUserDictionaryEntries().value);
  EXPECT_EQ(AppSettings::loadUserDictionaryEntries().status.posixCode(), ENOENT);
  EXPECT_EQ(AppSettings::learnedWordCount(), 0);

  // An add after a tombstone for ever writes the largest time there is, which reads back.
  writeBytes(dictionary(), R"({"words":{"a":{"frequency":7,"last_used":null}},)"
                           R"("tombstones":{"w":18446744073709551615}})");
  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("w")));
  auto loaded = AppSettings::loadUserDictionaryEntries();
  ASSERT_TRUE(loaded.value) << loaded.status.description().toStdString();
  std::sort(loaded.value->begin(), loaded.value->end(),
            [](const UserWordEntry& a, const UserWordEntry& b) { return a.word < b.word; });
  EXPECT_EQ(*loaded.value, (std::vector<UserWordEntry>{{"a", 7}, {"w", 1}}));
  EXPECT_EQ(AppSettings::learnedWordCount(), 2);

  for (const char* bytes :
       {R"({"words":{"a":{"last_used":1}}})", R"({"words":{"a":{"frequency":1.5}}})",
        R"({"words":{"a":{"frequency":1,"last_used":"x"}}})", R"({"w":{}})"}) {
    writeBytes(dictionary(), bytes);
    EXPECT_TRUE(AppSettings::loadUserDictionaryEntries().status.isCorruptFile()) << bytes;
    EXPECT_EQ(AppSettings::learnedWordCount(), 0) << bytes;
  }
}

// Only a key named twice at the top level makes a store unusable (either value would drop the
// other map); deeper down the later value counts, as the engine reads it. A dictionary as large as
// an imported one reads whole.
TEST_F(UserDataTest, KeysNamedTwiceCountOnlyAtTheTopLevel) {
  std::string many = R"({"words":{)";
  for (int i = 0; i < 20'000; ++i)
    many += (i ? ",\"w" : "\"w") + std::to_string(i) + R"(":{"frequency":)" +
            std::to_string(i % 7 + 1) + "}";
  many += "}";
  const struct {
    std::string bytes;
    int count;
    std::vector<UserWordEntry> sample;  // the entries of a small dictionary
  } cases[] = {
      {R"({"words":{"a":{"frequency":1},"a":{"frequency":5}}})", 1, {{"a", 5}}},
      {R"({"words":{"a":{"frequency":1,"frequency":2}}})", 1, {{"a", 2}}},
      {R"({"words":{"words":{"frequency":1}},"tombstones":{"words":1}})", 1, {{"words", 1}}},
      {R"({"x":[{"words":1},{"words":2}],"words":{"a":{"frequency":3}}})", 1, {{"a", 3}}},
      {R"({"tombstones":{},"words":{"a":{"frequency":1}},"tombstones":{}})", 0, {}},
      {many + "}", 20'000, {}},
      {many + R"(,"tombstones":{},"words":{}})", 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes.substr(0, 80));
    writeBytes(dictionary(), c.bytes);
    EXPECT_EQ(AppSettings::learnedWordCount(), c.count);
    if (!c.sample.empty()) {
      EXPECT_EQ(AppSettings::loadUserDictionaryEntries().value, c.sample);
    }
    EXPECT_EQ(AppSettings::addUserWord(QStringLiteral("নতুন")), c.count > 0);
    if (c.count == 0) {
      EXPECT_EQ(readBytes(dictionary()), c.bytes);  // never overwritten
    } else {
      EXPECT_EQ(AppSettings::learnedWordCount(), c.count + 1);
    }
  }
}

TEST_F(UserDataTest, CorrectionPreferencesAndForgetting) {
  EXPECT_TRUE(AppSettings::correctionPreferences().empty());

  // With no files, forgetting makes both, each with its map and a reset id of its own.
  ASSERT_TRUE(AppSettings::forgetCorrection(QStringLiteral("x")));
  Json rejections = readJson(AppSettings::userRejectionsURL());
  Json selections = readJson(AppSettings::selectionMemoryURL());
  EXPECT_EQ(rejections["entries"], Json::object());
  EXPECT_EQ(selections["selections"], Json::object());
  EXPECT_EQ(rejections.size(), 2u);
  EXPECT_EQ(selections.size(), 2u);
  EXPECT_NE(rejections["reset_id"], selections["reset_id"]);
  EXPECT_EQ(posts_, std::vector<bool>{true});

  writeBytes(AppSettings::selectionMemoryURL(),
             R"({"reset_id":"s","selections":{"ami":{"text":"আমি","count":2},"tumi":{"count":1},)"
             R"("bhat":{"text":"ভাত","count":1}}})");
  writeBytes(AppSettings::userRejectionsURL(),
             R"({"reset_id":"r","entries":{"ami":{"আমী":100,"আমি ":200},"kal":{"কাল":100}}})");
  EXPECT_EQ(AppSettings::correctionPreferences(),
            (std::vector<CorrectionPreference>{
                {"ami", QStringLiteral("আমি"), {QStringLiteral("আমি "), QStringLiteral("আমী")}},
                {"bhat", QStringLiteral("ভাত"), {}},
                {"kal", std::nullopt, {QStringLiteral("কাল")}},
                {"tumi", std::nullopt, {}}}));

  // Forgetting an input that neither store holds still renews both reset ids.
  ASSERT_TRUE(AppSettings::forgetCorrection(QStringLiteral("nothing")));
  ASSERT_TRUE(AppSettings::forgetCorrection(QStringLiteral("ami")));
  rejections = readJson(AppSettings::userRejectionsURL());
  selections = readJson(AppSettings::selectionMemoryURL());
  EXPECT_EQ(rejections["entries"].dump(), R"({"kal":{"কাল":100}})");
  EXPECT_EQ(selections["selections"].size(), 2u);
  EXPECT_NE(rejections["reset_id"], "r");
  EXPECT_NE(selections["reset_id"], "s");
  EXPECT_NE(rejections["reset_id"], selections["reset_id"]);

  writeBytes(AppSettings::selectionMemoryURL(), "[1]");
  writeBytes(AppSettings::userRejectionsURL(), R"({"entries":{"kal":[]}})");
  EXPECT_EQ(AppSettings::correctionPreferences(),
            (std::vector<CorrectionPreference>{{"kal", std::nullopt, {}}}));
}

// The second write fails (at its rename, or at the folder flush after the rename): both files are
// as they were, the first one restored from its old bytes or removed if it was new.
TEST_F(UserDataTest, ForgetCorrectionRollsBackWhenTheSecondWriteFails) {
  const std::string selections = R"({"reset_id":"s","selections":{"ami":{"text":"x","count":1}}})";
  const std::string rejections = R"({"reset_id":"r","entries":{"ami":{"y":100}}})";
  struct Row {
    const char* name;
    bool rejectionsExisted;
    bool failAtFlush;
  };
  for (const Row& row :
       {Row{"rename", true, false}, Row{"flush", true, true}, Row{"new file", false, false}}) {
    SCOPED_TRACE(row.name);
    QFile::remove(AppSettings::userRejectionsURL());
    if (row.rejectionsExisted) writeBytes(AppSettings::userRejectionsURL(), rejections);
    writeBytes(AppSettings::selectionMemoryURL(), selections);
    FaultFileSystem faults;
    if (row.failAtFlush)
      faults.failFlushAfterRenameTo = "selection-memory.json";
    else
      faults.failRenameTo["selection-memory.json"] = 0;
    AppSettings::testSetStoreFileSystem(&faults);
    posts_.clear();
    platform::log::Capture log;
    EXPECT_FALSE(AppSettings::forgetCorrection(QStringLiteral("ami")));
    AppSettings::testSetStoreFileSystem(nullptr);
    EXPECT_EQ(readBytes(AppSettings::userRejectionsURL()),
              row.rejectionsExisted ? rejections : "<missing>");
    EXPECT_EQ(readBytes(AppSettings::selectionMemoryURL()), selections);
    EXPECT_EQ(posts_, std::vector<bool>{true});
    EXPECT_EQ(log.lines(), QStringList{"[Tolvani] Could not forget correction: " +
                                       UserDataStatus::posixError(EIO).description()});
  }

  // When putting the first document back fails too, both failures are logged; never a success.
  writeBytes(AppSettings::userRejectionsURL(), rejections);
  struct Both : FaultFileSystem {
    store_io::IoStatus rename(const std::filesystem::path& from,
                              const std::filesystem::path& to) override {
      if (to.filename() == "rejections.json" && ++rejectionRenames > 1) return {ENOSPC};
      return FaultFileSystem::rename(from, to);
    }
    int rejectionRenames = 0;
  } both;
  both.failRenameTo["selection-memory.json"] = 0;
  AppSettings::testSetStoreFileSystem(&both);
  platform::log::Capture log;
  EXPECT_FALSE(AppSettings::forgetCorrection(QStringLiteral("ami")));
  AppSettings::testSetStoreFileSystem(nullptr);
  EXPECT_EQ(log.lines(), (QStringList{"[Tolvani] Could not forget correction: " +
                                          UserDataStatus::posixError(EIO).description(),
                                      "[Tolvani] Could not forget correction: " +
                                          UserDataStatus::posixError(ENOSPC).description()}));
  EXPECT_EQ(readBytes(AppSettings::selectionMemoryURL()), selections);
}

TEST_F(UserDataTest, ResetEmptiesEveryStoreUnderOneId) {
  writeBytes(dictionary(), "{ corrupt");
  writeBytes(AppSettings::englishPairsURL(), R"({"pairs":{"a":{"b":1}}})");
  ASSERT_TRUE(AppSettings::resetLearnedWords());
  EXPECT_EQ(posts_, std::vector<bool>{true});
  const std::string id = readJson(dictionary())["reset_id"];
  EXPECT_EQ(id.size(), 36u);
  for (const QString& url : AppSettings::learnedDataURLs()) {
    const Json doc = readJson(url);
    EXPECT_EQ(doc["reset_id"], id) << url.toStdString();
    EXPECT_EQ(doc.size(), 7u) << url.toStdString();
  }
  // Each engine store reads the document as its own empty map under that id.
  const engine::LearnedStores s = engine::LearnedStores::load_all();
  EXPECT_EQ((std::vector{s.user_dictionary.reset_id(), s.bigrams.reset_id(), s.trigrams.reset_id(),
                         s.selections.reset_id(), s.rejections.reset_id()}),
            std::vector<std::string>(5, id));

  // A failure stops the reset there; what was reset stays reset.
  FaultFileSystem faults;
  faults.failRenameTo["user-trigrams.json"] = 0;
  AppSettings::testSetStoreFileSystem(&faults);
  posts_.clear();
  platform::log::Capture log;
  EXPECT_FALSE(AppSettings::resetLearnedWords());
  AppSettings::testSetStoreFileSystem(nullptr);
  EXPECT_EQ(posts_, std::vector<bool>{true});
  EXPECT_NE(readJson(dictionary())["reset_id"], id);
  EXPECT_NE(readJson(AppSettings::userBigramsURL())["reset_id"], id);
  EXPECT_EQ(readJson(AppSettings::userTrigramsURL())["reset_id"], id);
  EXPECT_EQ(readJson(AppSettings::englishPairsURL())["reset_id"], id);
  EXPECT_EQ(log.lines(), QStringList{"[Tolvani] failed to reset learned data: " +
                                     UserDataStatus::posixError(EIO).description()});
}

TEST_F(UserDataTest, RemovedWordStaysRemovedWhenTheEngineSyncsItsOlderCopy) {
  testing::LineChild engine(QStringLiteral("UserDataEngine"));
  ASSERT_EQ(engine.call("load"), "loaded");
  ASSERT_EQ(engine.call("add আমি"), "added");
  ASSERT_EQ(engine.call("add ভাত"), "added");
  ASSERT_EQ(engine.call("sync"), "synced");
  ASSERT_EQ(engine.call("add আমি"), "added");  // unsaved, and still holding the word

  ASSERT_TRUE(AppSettings::removeUserWord(QStringLiteral("আমি")));
  ASSERT_TRUE(AppSettings::addUserWord(QStringLiteral("নতুন")));
  EXPECT_EQ(engine.call("sync"), "synced");
  Json words = readJson(dictionary())["words"];
  EXPECT_FALSE(words.contains("আমি"));
  EXPECT_TRUE(words.contains("ভাত"));
  EXPECT_TRUE(words.contains("নতুন"));
  EXPECT_EQ(engine.call("reload"), "reloaded");
  EXPECT_EQ(engine.call("words"), "[নতুন,ভাত]");
}

TEST_F(UserDataTest, AfterAResetTheEngineWritesNothingAndReloadsEmpty) {
  testing::LineChild engine(QStringLiteral("UserDataEngine"));
  ASSERT_EQ(engine.call("load"), "loaded");
  ASSERT_EQ(engine.call("learn"), "learned");
  ASSERT_EQ(engine.call("sync"), "synced");
  ASSERT_EQ(engine.call("learn"), "learned");
  ASSERT_EQ(engine.call("sizes"), "11111");

  ASSERT_TRUE(AppSettings::resetLearnedWords());
  std::vector<std::string> before;
  for (const QString& url : AppSettings::learnedDataURLs()) before.push_back(readBytes(url));
  EXPECT_EQ(engine.call("sync"), "synced");
  for (size_t i = 0; i < before.size(); ++i)
    EXPECT_EQ(readBytes(AppSettings::learnedDataURLs()[i]), before[i]) << i;
  EXPECT_EQ(engine.call("reload"), "reloaded");
  EXPECT_EQ(engine.call("sizes"), "00000");
}

// The engine of another process holds the dictionary's lock in the middle of its save: the add
// waits for it, then builds on what the engine wrote.
TEST_F(UserDataTest, AddWaitsForAnotherProcessHoldingTheLock) {
  testing::LineChild engine(QStringLiteral("UserDataEngine"));
  ASSERT_EQ(engine.call("load"), "loaded");
  ASSERT_EQ(engine.call("add আমি"), "added");
  engine.send("sync-gated");
  ASSERT_EQ(engine.line(), "locked");

  FaultFileSystem watch;
  std::atomic<bool> waiting{false};
  watch.beforeLock = [&] { waiting = true; };
  AppSettings::testSetStoreFileSystem(&watch);
  std::atomic<bool> done{false};
  bool added = false;
  std::thread adder([&] {
    added = AppSettings::addUserWord(QStringLiteral("ভাত"));
    done = true;
  });
  while (!waiting && !done) std::this_thread::yield();
  EXPECT_FALSE(done);
  EXPECT_FALSE(QFile::exists(dictionary()));
  engine.send("go");
  EXPECT_EQ(engine.line(), "synced");
  adder.join();
  AppSettings::testSetStoreFileSystem(nullptr);
  EXPECT_TRUE(added);
  const Json words = readJson(dictionary())["words"];
  EXPECT_TRUE(words.contains("আমি"));
  EXPECT_TRUE(words.contains("ভাত"));
  EXPECT_EQ(engine.call("reload"), "reloaded");
  EXPECT_EQ(engine.call("words"), "[আমি,ভাত]");
}

}  // namespace
}  // namespace tolvani
