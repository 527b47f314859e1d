// Updater files for tests: the engine of tests/data with a package built from sample
// program images through CUpdateData (LoadParameterFile + WritePackage).
#pragma once

#include <string>

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

}  // namespace testsupport
