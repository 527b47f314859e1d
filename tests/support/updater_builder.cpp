#include "support/updater_builder.h"

#include <stdexcept>

#include "package/path_rules.h"
#include "package/sample_images.h"
#include "package/update_data.h"
#include "support/test_support.h"

namespace testsupport {

std::string BuildUpdater(const std::string& dir, const UpdaterSpec& wanted) {
    SampleImageSpec mainSpec;
    mainSpec.revision = wanted.revision;
    mainSpec.minor = wanted.minor;
    mainSpec.codeSize = wanted.mainCodeSize;
    SampleImageSpec coreSpec;
    coreSpec.main = false;
    std::string error;
    if (!WriteSampleSet(dir, mainSpec, coreSpec, &error))
        throw std::runtime_error(error);

    CUpdateData data;
    data.SetClock([] { return int64_t{1234567}; });
    data.ReadPackage(DataPath("engine.bin"));
    const std::string prm = dir + kPathSeparator + "sample.prm";
    if (const uint8_t r = data.LoadParameterFile(prm)) {
        throw std::runtime_error("LoadParameterFile " + std::to_string(r));
    }
    if (wanted.breakImage)
        data.m_pFirmware[kImageHeaderSize + 100] ^= 0x5A;
    data.SetTargetProduct(wanted.product);
    data.SetRevisionFilter(wanted.filter);
    data.m_bOnlyNewer = wanted.onlyNewer;
    data.m_bHideCopyright = wanted.hideCopyright;
    data.m_strCustomer = wanted.customer;
    const std::string path = dir + kPathSeparator + wanted.fileName;
    if (const uint8_t r = data.WritePackage(path)) {
        throw std::runtime_error("WritePackage " + std::to_string(r));
    }
    return path;
}

}  // namespace testsupport
