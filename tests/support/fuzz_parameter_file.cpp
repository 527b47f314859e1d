// Fuzz entry: the parameter-file loader (LoadParameterFile) on parameter files of 0 to
// 120 bytes. The folder of the parameter file holds program files the input can name:
// "main.bin" and "core.bin" (valid), "m" (a valid MAIN image, short name), "c" (a valid
// CORE image), "b" (a CORE image with a wrong sum) and "x" (10 bytes).
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "base/path_rules.h"
#include "package/sample_images.h"
#include "package/update_data.h"
#include "support/fuzz_targets.h"

namespace fuzz {

namespace {

constexpr size_t kMaxParameterFile = 120;

void Write(const std::string& path, const void* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        Fail("cannot write " + path);
}

void Write(const std::string& path, const std::vector<uint8_t>& data) {
    Write(path, data.data(), data.size());
}

// The folder with the program files, made once per process and removed at its end.
class Folder {
public:
    Folder() {
        namespace fs = std::filesystem;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        m_path =
            (fs::temp_directory_path() / ("varnel-fuzz-prm-" + std::to_string(stamp))).string();
        fs::create_directories(m_path);
        SampleImageSpec main;
        main.codeSize = 70000;
        main.minor = "AB";
        SampleImageSpec core;
        core.main = false;
        core.codeSize = 3000;
        std::string error;
        if (!WriteSampleSet(m_path, SampleImageSpec(), core, &error))
            Fail(error);
        Write(File("m"), MakeSampleImage(main));
        std::vector<uint8_t> coreImage = MakeSampleImage(core);
        Write(File("c"), coreImage);
        coreImage[2000] ^= 1;
        Write(File("b"), coreImage);
        Write(File("x"), "0123456789", 10);
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    std::string File(const std::string& name) const { return m_path + kPathSeparator + name; }

private:
    std::string m_path;
};

}  // namespace

int ParameterFile(const uint8_t* data, size_t size) {
    if (size > kMaxParameterFile)
        return -1;  // not added to the corpus
    // A name that climbs out of the folder could reach devices such as a terminal.
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find("..") != std::string::npos)
        return -1;
    static Folder folder;
    static std::unique_ptr<CUpdateData> d = std::make_unique<CUpdateData>();
    const std::string prm = folder.File("p.prm");
    Write(prm, data, size);

    d->m_strMainFile = d->m_strCoreFile = "-";
    const uint8_t r = d->LoadParameterFile(prm);
    FUZZ_CHECK(r <= 8 || r == LOAD_MAIN_TOO_SMALL || r == LOAD_CORE_TOO_LARGE);
    FUZZ_CHECK(d->m_nFirmwareLength <= kBufferSize);
    if (size == 0 || size >= 100) {
        FUZZ_CHECK(r == 2 && d->m_nFirmwareLength == 0);
        FUZZ_CHECK(d->m_strMainFile == "-" && d->m_strCoreFile == "-");
    }
    if (r == 0) {
        // Only named files were read, and each named file was read whole.
        uint64_t expected = 0;
        for (const std::string* name : {&d->m_strMainFile, &d->m_strCoreFile}) {
            if (*name == "-" || name->empty())
                continue;
            std::error_code ec;
            expected += std::filesystem::file_size(folder.File(*name), ec);
            FUZZ_CHECK(!ec);
        }
        FUZZ_CHECK(d->m_nFirmwareLength == expected);
    }
    return 0;
}

}  // namespace fuzz
