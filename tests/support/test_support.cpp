#include "support/test_support.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "base/path_rules.h"

namespace testsupport {

namespace fs = std::filesystem;

std::string DataPath(const std::string& name) {
    std::string dir = VARNEL_TEST_DATA_DIR;
    for (char& c : dir) {
        if (c == '/')
            c = kPathSeparator;
    }
    return dir + kPathSeparator + name;
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    fs::path p = fs::temp_directory_path() /
                 ("varnel-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(p);
    m_path = p.string();
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string TempDir::File(const std::string& name) const {
    return m_path + kPathSeparator + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

}  // namespace testsupport
