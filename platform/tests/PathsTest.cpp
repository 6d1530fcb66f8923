#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace tolvani::platform {
namespace {

struct ScopedEnv {
  ScopedEnv(const char* name, const char* value) : name(name) {
    if (qEnvironmentVariableIsSet(name)) old = qgetenv(name);
    value ? qputenv(name, value) : qunsetenv(name);
  }
  ~ScopedEnv() { old ? qputenv(name, *old) : qunsetenv(name); }
  const char* name;
  std::optional<QByteArray> old;
};

TEST(PathsTest, XdgVariablesWinOnlyWhenAbsolute) {
  ScopedEnv home("HOME", "/home/someone");
  const struct {
    const char* variable;
    QString (*read)();
    const char* fallback;
  } rows[] = {
      {"XDG_CONFIG_HOME", paths::configHome, "/home/someone/.config"},
      {"XDG_DATA_HOME", paths::dataHome, "/home/someone/.local/share"},
      {"XDG_CACHE_HOME", paths::cacheHome, "/home/someone/.cache"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.variable);
    for (const char* value : {"/x/y/", static_cast<const char*>(nullptr), "", "relative/path"}) {
      ScopedEnv set(row.variable, value);
      EXPECT_EQ(row.read(), value && *value == '/' ? QStringLiteral("/x/y")
                                                   : QString::fromLatin1(row.fallback));
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
  const QFileInfo info(paths::runtimeDir());
  EXPECT_TRUE(info.filePath().startsWith(QDir::tempPath() + QStringLiteral("/tolvani-runtime-")));
  EXPECT_TRUE(info.isDir());
  EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther), 0);
}

}  // namespace
}  // namespace tolvani::platform
