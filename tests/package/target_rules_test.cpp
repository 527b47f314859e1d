// The product-name classes of the target rules.
#include "package/target_rules.h"

#include <gtest/gtest.h>

#include "package/update_data.h"

TEST(ClassifyProductName, KindsAndSeriesDigits) {
    struct Case {
        const char* name;
        int kind;
        char series;
    } cases[] = {
        {"ALL", 9, 0},      {" all ", 9, 0},          {"ALLX", 0, 0},         {"KW31Q", 2, '3'},
        {"ky52a", 2, '5'},  {"KW3AQ", 0, 0},          {"KW31QR58", 3, '5'},   {"KY37QT62", 3, '6'},
        {"KW31Q158", 0, 0}, {"KW31QR5", 0, 0},        {"KW31QR580", 0, 0},    {"KW31QR", 0, 0},
        {"KVS-Q42R", 1, 0}, {"KVS-Q82R", 1, '1'},     {"KVS-Q82RX9", 1, '1'}, {"KVS-Q42", 0, 0},
        {"KVSQ-42R", 0, 0}, {"KVS-442R", 0, 0},       {"KW1", 0, 0},          {"", 0, 0},
        {"DVD-RAM", 0, 0},  {"\tkvs-q42r\r\n", 1, 0},
    };
    for (const Case& c : cases) {
        const ProductClass pc = CUpdateData::ClassifyProductName(c.name);
        EXPECT_EQ(pc.kind, c.kind) << c.name;
        EXPECT_EQ(pc.series, c.series) << c.name;
    }
}
