#include "support/updater_builder.h"

#include <stdexcept>

#include "package/path_rules.h"
#include "package/sample_images.h"
#include "package/update_data.h"
#include "support/test_support.h"

namespace testsupport {

std::string BuildUpdater(const std::string& dir, const UpdaterSpec& spec) {
    SampleImageSpec mainSpec;
    mainSpec.revision = spec.revision;
    mainSpec.minor = spec.minor;
    mainSpec.codeSize = spec.mainCodeSize;
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
    if (spec.breakImage)
        data.m_pFirmware[kImageHeaderSize + 100] ^= 0x5A;
    data.SetTargetProduct(spec.product);
    data.SetRevisionFilter(spec.filter);
    data.m_bOnlyNewer = spec.onlyNewer;
    data.m_bHideCopyright = spec.hideCopyright;
    data.m_strCustomer = spec.customer;
    const std::string path = dir + kPathSeparator + spec.fileName;
    if (const uint8_t r = data.WritePackage(path)) {
        throw std::runtime_error("WritePackage " + std::to_string(r));
    }
    return path;
}

}  // namespace testsupport
