// Settings stored by another writer of the file reach this process's observers as one
// settings-change notification; this process's own writes are announced by their writers only.
#include "settings/SettingsFileWatcher.h"

#include <gtest/gtest.h>

#include <QTest>

#include "settings/CustomLayoutFile.h"
#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

class SettingsFileWatcherTest : public testing::LearnedDataTest {};

TEST_F(SettingsFileWatcherTest, AnotherWritersChangeIsAnnouncedOnce) {
  AppSettings::setDefaultMode(KeyboardMode::phonetic);
  SettingsFileWatcher watcher;
  // Another process's suite on the same file.
  platform::Defaults other(AppSettings::suite().filePath());
  ASSERT_TRUE(other.set(AppSettings::kDefaultModeKey, qint64{1}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !posts_.empty(); }, 10'000));
  QTest::qWait(100);  // no second announcement follows
  EXPECT_EQ(posts_, std::vector<bool>{false});
  EXPECT_EQ(AppSettings::defaultMode(), KeyboardMode::probhat);

  // Our own write, and a rewrite of the same values elsewhere, are no news.
  AppSettings::setDefaultMode(KeyboardMode::national);
  ASSERT_TRUE(other.set(AppSettings::kSuggestionCountKey, qint64{7}));
  ASSERT_TRUE(QTest::qWaitFor([&] { return posts_.size() == 2; }, 10'000));
  ASSERT_TRUE(other.set(AppSettings::kSuggestionCountKey, qint64{7}));
  QTest::qWait(100);
  EXPECT_EQ(posts_, std::vector<bool>({false, false}));
  EXPECT_EQ(AppSettings::suggestionCount(), 7);
}

// Mappings written by another process ask for a user-data reload; the learned data the engines
// write beside them, and this process's own mappings, announce nothing here.
TEST_F(SettingsFileWatcherTest, AnotherWritersKeyMappingsAskForAReload) {
  SettingsFileWatcher watcher;
  testing::writeBytes(CustomLayoutFile::path(), R"({"overrides":{"default":{"k":"x"}}})");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !posts_.empty(); }, 10'000));
  testing::writeBytes(AppSettings::userDictionaryURL(), R"({"words":{}})");
  ASSERT_TRUE(
      CustomLayoutFile::update([](CustomLayoutFile::Overrides& o) { o["alt"]["y"] = "z"; }));
  QTest::qWait(100);
  EXPECT_EQ(posts_, std::vector<bool>{true});
}

}  // namespace
}  // namespace tolvani
