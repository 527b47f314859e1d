// Updater files for tests: the engine of tests/data with a package built from sample
// program images through CUpdateData (LoadParameterFile + WritePackage).
#pragma once

#include <cstdint>
#include <string>

class CUpdateData;

namespace testsupport {

struct UpdaterSpec {
    std::string product = "KVS-Q42R";  // target product name
    std::string filter = "1.0*";       // inquiry revision filter
    std::string revision = "1.05";     // revision of the MAIN image
    std::string minor;                 // minor revision of the MAIN image
    std::string customer;              // customer code, empty for none
    bool onlyNewer = false;
    bool hideCopyright = false;
    bool breakImage = false;           // a MAIN image that fails its check
    uint32_t mainCodeSize = 0;         // 0: the sample default
    std::string fileName = "upd.exe";  // file name in dir; decides whether minor is shown
};

// Writes the updater into dir and returns its path; throws on failure.
std::string BuildUpdater(const std::string& dir, const UpdaterSpec& wanted);

// Program files whose sizes and bytes the updater's image walk reads differently from the
// loader's checks: main.bin, core.bin and sample.prm in dir, with the code sizes given
// (0: the sample default) and the first byte of the Core image set to coreFirstByte (its
// word sum kept right). Returns the path of sample.prm; throws on failure.
std::string WriteImageSet(const std::string& dir, uint32_t mainCodeSize, uint32_t coreCodeSize,
                          uint8_t coreFirstByte = 0);

// Writes what WritePackage composes without the check that keeps it from writing an
// updater that would refuse its own package: for tests of broken packages. Throws on
// failure.
void WriteUncheckedUpdater(CUpdateData& data, const std::string& path);

}  // namespace testsupport
