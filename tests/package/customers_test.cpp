// The customer table: each code's flag bit and the behaviours it switches.
#include "package/customers.h"

#include <gtest/gtest.h>

#include "package/trailer.h"

TEST(Customers, EachCodeSwitchesItsBehaviours) {
    using enum CustomerStart;
    const struct Case {
        std::string code;
        uint32_t flag;
        CustomerStart start;
        bool firstRevisions, title, warning, rebootCodes, wait, shortName;
    } cases[] = {
        {"FUJITSU1", PKGF_CUST_FUJITSU1, AsAsked, false, false, false, false, false, false},
        {"DELL", PKGF_CUST_DELL, AsAsked, false, false, true, false, false, false},
        {"HPBPC", PKGF_CUST_HPBPC, Unattended, false, true, false, false, false, true},
        {"HPCPC", PKGF_CUST_HPCPC, Unattended, false, false, false, false, true, true},
        {"HPDTOCPE", PKGF_CUST_HPDTOCPE, Unattended, true, false, false, true, true, true},
        {"HPDTOENG", PKGF_CUST_HPDTOENG, AsAsked, true, false, false, false, false, false},
        {"LENOVO", PKGF_CUST_LENOVO, AllDrives, false, false, false, false, false, true},
        {"", 0, AsAsked, false, false, false, false, false, false},
        {"lenovo", 0, AsAsked, false, false, false, false, false, false},
        {"ACME", 0, AsAsked, false, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const CustomerRule& rule = CustomerRuleOf(c.code);
        EXPECT_EQ(c.flag, rule.flag);
        EXPECT_EQ(c.start, rule.start);
        EXPECT_EQ(c.firstRevisions, rule.anyFilterForFirstRevisions);
        EXPECT_EQ(c.title, rule.ownTitle);
        EXPECT_EQ(c.warning, rule.warnSameOrOlder);
        EXPECT_EQ(c.rebootCodes, rule.rebootExitCodes);
        EXPECT_EQ(c.wait, rule.waitBeforeAutoExit);
        EXPECT_EQ(c.shortName, rule.shortRevisionInName);
        if (c.flag != 0) {
            EXPECT_EQ(c.code, CustomerFromFlags(c.flag | PKGF_SAME_CUSTOMER));
        }
    }
    ASSERT_EQ(7u, CustomerRules().size());
    EXPECT_STREQ("FUJITSU1", CustomerRules().front().code);  // the maintenance list's order
    EXPECT_STREQ("LENOVO", CustomerRules().back().code);
}
