// varnel-pkg sample --size: the MAIN code size of the sample set, from the smallest MAIN
// image an updater takes (64 KiB) to close to 4 MiB, always loaded as a MAIN image.
#include <gtest/gtest.h>

#include <sstream>

#include "app/pkg_tool.h"
#include "base/path_rules.h"
#include "package/update_data.h"
#include "support/test_support.h"

using testsupport::DataPath;
using testsupport::TempDir;

TEST(SampleSize, MainCodeSizeFromTheOption) {
    for (uint32_t size : {64512u, 300000u, 4194304u - 1024u - 41984u}) {
        SCOPED_TRACE(size);
        TempDir dir;
        std::ostringstream out, err;
        ASSERT_EQ(0, RunPkgTool({"sample", dir.path(), "--size", std::to_string(size)}, out, err))
            << err.str();
        EXPECT_EQ(testsupport::ReadAll(dir.File("main.bin")).size(), size + 1024u);
        CUpdateData data;
        data.ReadPackage(DataPath("engine.bin"));
        ASSERT_EQ(0, data.LoadParameterFile(dir.File("sample.prm")));
        EXPECT_EQ(data.GetFirmwareLength(), size + 1024u + 41984u);
        EXPECT_EQ(data.m_strNewRevision, "1.10");
    }
    for (const char* bad : {"64511", "4151297", "12x", ""}) {
        TempDir dir;
        std::ostringstream out, err;
        EXPECT_EQ(2, RunPkgTool({"sample", dir.path(), "--size", bad}, out, err)) << bad;
        EXPECT_NE(err.str().find("--size needs"), std::string::npos) << bad;
    }
}
