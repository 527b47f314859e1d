// Helpers shared by the unit tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// Path of a file under tests/data, with the build's directory separator.
std::string DataPath(const std::string& name);

// A fresh empty folder under the system temp folder, removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    // path() + separator + name
    std::string File(const std::string& name) const;

private:
    std::string m_path;
};

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& data);

}  // namespace testsupport
