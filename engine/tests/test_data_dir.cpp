// Every test process learns into a folder of its own, so that no test reads what another (or the
// user) learned, and nothing is written into the home folder. A test that sets TOLVANI_DATA_DIR
// itself overrides this.
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

struct PrivateDataDir {
  std::string path;

  PrivateDataDir() {
    const char* set = std::getenv("TOLVANI_DATA_DIR");
    if (set != nullptr && *set != '\0') return;
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvani-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    path = pattern;
    setenv("TOLVANI_DATA_DIR", path.c_str(), 1);
  }

  ~PrivateDataDir() {
    if (path.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

const PrivateDataDir g_private_data_dir;

}  // namespace
