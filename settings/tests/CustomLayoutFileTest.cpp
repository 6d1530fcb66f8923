// custom-layout.json on disk: what reads as overrides and what does not, the exact bytes written,
// a damaged file kept aside before it is replaced, a failed write that leaves the file as it was,
// and changes by another process noticed once.
#include "settings/CustomLayoutFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "settings/tests/SettingsTestSupport.h"

namespace tolvani {
namespace {

using CustomLayoutFile::Overrides;

class CustomLayoutFileTest : public testing::LearnedDataTest {
 protected:
  static std::string file() { return testing::readBytes(CustomLayoutFile::path()); }
  static void write(const std::string& bytes) {
    testing::writeBytes(CustomLayoutFile::path(), bytes);
  }
};

TEST_F(CustomLayoutFileTest, OnlyAnOverridesObjectOfStringsReads) {
  const struct {
    const char* document;
    bool reads;
  } rows[] = {
      {R"({"overrides":{}})", true},
      {R"({"overrides":{"default":{"k":"ক্ষ"},"mine":{}}, "extra": 1})", true},
      {R"({})", false},
      {R"({"overrides":[]})", false},
      {R"({"overrides":{"default":{"k":1}}})", false},
      {R"({"overrides":{"default":"k"}})", false},
      {R"([{"overrides":{}}])", false},
      {R"({"overrides":{"default":{"k":"a"}})", false},  // cut short
      {"", false},
  };
  for (const auto& row : rows)
    EXPECT_EQ(CustomLayoutFile::parse(row.document).has_value(), row.reads) << row.document;
  EXPECT_EQ(*CustomLayoutFile::parse(R"({"overrides":{"shift":{"A":"x","a":"y"}}})"),
            (Overrides{{"shift", {{"A", "x"}, {"a", "y"}}}}));
  const QByteArray huge = R"({"overrides":{"default":{"k":")" +
                          QByteArray(CustomLayoutFile::kMaxBytes, 'x') + R"("}}})";
  EXPECT_FALSE(CustomLayoutFile::parse(huge));
}

TEST_F(CustomLayoutFileTest, WritesSortedPrettyJsonAndKeepsADamagedFileAside) {
  EXPECT_FALSE(CustomLayoutFile::read().damaged);  // no file, no folder
  ASSERT_TRUE(CustomLayoutFile::update([](Overrides& o) {
    o["shift"]["K"] = "খ";
    o["default"]["k"] = "ক্ষ";
    o["default"]["a"] = "\"";
  }));
  EXPECT_EQ(file(),
            "{\n  \"overrides\": {\n    \"default\": {\n      \"a\": \"\\\"\",\n"
            "      \"k\": \"ক্ষ\"\n    },\n    \"shift\": {\n      \"K\": \"খ\"\n    }\n  }\n}\n");

  // Damaged, and left readable by all by an earlier version: the copy kept aside is private.
  write(R"({"overrides":{"default":{"k":7}}})");
  ASSERT_EQ(::chmod(QFile::encodeName(CustomLayoutFile::path()).constData(), 0644), 0);
  EXPECT_TRUE(CustomLayoutFile::read().damaged);
  EXPECT_TRUE(CustomLayoutFile::read().overrides.empty());
  ASSERT_TRUE(CustomLayoutFile::update([](Overrides& o) { o["alt"]["x"] = "y"; }));
  EXPECT_EQ(file(), "{\n  \"overrides\": {\n    \"alt\": {\n      \"x\": \"y\"\n    }\n  }\n}\n");
  const QString kept = CustomLayoutFile::path() + ".corrupt-1700000000";
  EXPECT_EQ(testing::readBytes(kept), R"({"overrides":{"default":{"k":7}}})");
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(kept).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(log_.lines().last(),
            "[Tolvani] kept the unreadable custom-layout.json as "
            "custom-layout.json.corrupt-1700000000");

  // A write that fails leaves the file as it was.
  const std::string before = file();
  testing::FaultFileSystem faults;
  faults.failRenameTo = {{"custom-layout.json", 0}};
  AppSettings::testSetStoreFileSystem(&faults);
  EXPECT_FALSE(CustomLayoutFile::update([](Overrides& o) { o["alt"]["z"] = "w"; }));
  AppSettings::testSetStoreFileSystem(nullptr);
  EXPECT_EQ(file(), before);
  EXPECT_TRUE(log_.lines().last().startsWith("[Tolvani] failed to save custom-layout.json: "));

  EXPECT_TRUE(CustomLayoutFile::remove());
  EXPECT_EQ(file(), "<missing>");
  EXPECT_TRUE(CustomLayoutFile::remove());
}

TEST_F(CustomLayoutFileTest, ChangesByOthersAreNoticedOnceAndOwnOnesNever) {
  QStringList answers;
  auto take = [&] { answers << (CustomLayoutFile::takeOutsideChange() ? "changed" : "same"); };
  take();
  ASSERT_TRUE(CustomLayoutFile::update([](Overrides& o) { o["default"]["k"] = "x"; }));
  take();
  write(R"({"overrides":{}})");  // another writer
  take();
  take();
  EXPECT_TRUE(CustomLayoutFile::remove());
  take();
  EXPECT_EQ(answers, QStringList({"same", "same", "changed", "same", "same"}));
}

}  // namespace
}  // namespace tolvani
