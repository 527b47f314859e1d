#include "support/updater_builder.h"

#include <stdexcept>

#include "base/path_rules.h"
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
    if (wanted.breakImage) {
        WriteUncheckedUpdater(data, path);
    } else if (const uint8_t r = data.WritePackage(path)) {
        throw std::runtime_error("WritePackage " + std::to_string(r));
    }
    return path;
}

void WriteUncheckedUpdater(CUpdateData& data, const std::string& path) {
    if (const uint8_t r = data.ComposePackage())
        throw std::runtime_error("ComposePackage " + std::to_string(r));
    WriteAll(path, std::vector<uint8_t>(data.m_pFileImage, data.m_pFileImage + data.m_nFileSize));
}

std::string WriteImageSet(const std::string& dir, uint32_t mainCodeSize, uint32_t coreCodeSize,
                          uint8_t coreFirstByte) {
    SampleImageSpec mainSpec;
    mainSpec.codeSize = mainCodeSize;
    SampleImageSpec coreSpec;
    coreSpec.main = false;
    coreSpec.codeSize = coreCodeSize;
    std::string error;
    if (!WriteSampleSet(dir, mainSpec, coreSpec, &error))
        throw std::runtime_error(error);
    if (coreFirstByte != 0) {
        // Header bytes 0 to 3 are zero: word 0 grows by what word 1 loses.
        const std::string core = dir + kPathSeparator + "core.bin";
        std::vector<uint8_t> image = ReadAll(core);
        image[0] = coreFirstByte;
        image[2] = static_cast<uint8_t>(0x100 - coreFirstByte);
        WriteAll(core, image);
    }
    return dir + kPathSeparator + "sample.prm";
}

}  // namespace testsupport
