// Helpers of the fixed-layout tests: an empty user-data folder of the running test's own, and the
// code points of a text for messages that show which character differs.
#ifndef TOLVANI_ENGINE_TESTS_LAYOUT_TEST_UTIL_H_
#define TOLVANI_ENGINE_TESTS_LAYOUT_TEST_UTIL_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "probhat.h"
#include "utf8.h"

namespace tolvani::engine::layout_test {

inline std::string code_points(std::string_view text) {
  std::string out;
  for (size_t pos = 0; pos < text.size();) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X ", static_cast<unsigned>(utf8::decode_next(text, pos)));
    out += buf;
  }
  return out.empty() ? "<nothing>" : out;
}

// TOLVANI_DATA_DIR pointed at an empty folder while it lives (ctest runs tests in parallel
// processes), then set back as it was, with no custom overrides left loaded in the process.
class DataFolder {
 public:
  explicit DataFolder(std::string_view prefix) {
    const char* saved = std::getenv("TOLVANI_DATA_DIR");
    if (saved != nullptr) saved_ = saved;
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("tolvani-" + std::string(prefix) + "-" + std::to_string(::getpid()) + "-" +
             (info != nullptr ? info->name() : "run"));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    setenv("TOLVANI_DATA_DIR", path_.c_str(), 1);
    probhat::reload_custom_overrides();
  }
  ~DataFolder() {
    if (saved_) {
      setenv("TOLVANI_DATA_DIR", saved_->c_str(), 1);
    } else {
      unsetenv("TOLVANI_DATA_DIR");
    }
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
    probhat::reload_custom_overrides();
  }
  DataFolder(const DataFolder&) = delete;
  DataFolder& operator=(const DataFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
  std::optional<std::string> saved_;
};

}  // namespace tolvani::engine::layout_test

#endif  // TOLVANI_ENGINE_TESTS_LAYOUT_TEST_UTIL_H_
