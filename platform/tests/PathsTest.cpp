#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <functional>

namespace tolvani::platform {
namespace {

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value)
      : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
    if (value)
      qputenv(name, value);
    else
      qunsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      qputenv(name_, old_);
    else
      qunsetenv(name_);
  }

 private:
  const char* name_;
  bool had_;
  QByteArray old_;
};

TEST(PathsTest, XdgVariablesWinOnlyWhenAbsolute) {
  ScopedEnv home("HOME", "/home/someone");
  struct Row {
    const char* variable;
    std::function<QString()> read;
    const char* fallback;
  };
  const Row rows[] = {
      {"XDG_CONFIG_HOME", paths::configHome, "/home/someone/.config"},
      {"XDG_DATA_HOME", paths::dataHome, "/home/someone/.local/share"},
      {"XDG_CACHE_HOME", paths::cacheHome, "/home/someone/.cache"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.variable);
    {
      ScopedEnv set(row.variable, "/x/y/");
      EXPECT_EQ(row.read(), QStringLiteral("/x/y"));
    }
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/path"}) {
      ScopedEnv set(row.variable, ignored);
      EXPECT_EQ(row.read(), QString::fromLatin1(row.fallback));
    }
  }
  ScopedEnv data("XDG_DATA_HOME", "/d");
  EXPECT_EQ(paths::userDataFolder(), QStringLiteral("/d/tolvani"));
  EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/d/tolvani")));
}

TEST(PathsTest, RuntimeFolderFallsBackToAPrivateTemporaryFolder) {
  {
    ScopedEnv set("XDG_RUNTIME_DIR", "/run/user/7");
    EXPECT_EQ(paths::runtimeDir(), QStringLiteral("/run/user/7"));
  }
  ScopedEnv unset("XDG_RUNTIME_DIR", nullptr);
  const QString folder = paths::runtimeDir();
  EXPECT_TRUE(folder.startsWith(QDir::tempPath() + QStringLiteral("/tolvani-runtime-")));
  const QFileInfo info(folder);
  EXPECT_TRUE(info.isDir());
  EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
}

}  // namespace
}  // namespace tolvani::platform
