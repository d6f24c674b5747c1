#include "tests/support/TempFolder.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace wedgecard::test {

namespace fs = std::filesystem;

TTempFolder::TTempFolder() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path path = fs::temp_directory_path() /
                    ("wedgecard-test-" + std::to_string(stamp) + "-" + std::to_string(++counter));
    fs::create_directories(path);
    FPath = path.string();
}

TTempFolder::~TTempFolder() {
    std::error_code ignored;
    fs::remove_all(FPath, ignored);
}

std::string TTempFolder::File(const std::string& Name) const {
    return (fs::path(FPath) / Name).string();
}

std::string ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool FileExists(const std::string& Path) {
    return fs::exists(Path);
}

void WriteFile(const std::string& Path, const std::string& Content) {
    std::ofstream(Path, std::ios::binary) << Content;
}

}  // namespace wedgecard::test
