#include "package/customers.h"

#include "package/trailer.h"

namespace {

using enum CustomerStart;

// code, flag, rank, start, first revisions, title, warning, reboot codes, wait, short name
constexpr CustomerRule kRules[] = {
    {"FUJITSU1", PKGF_CUST_FUJITSU1, 1, AsAsked, false, false, false, false, false, false},
    {"DELL", PKGF_CUST_DELL, 2, AsAsked, false, false, true, false, false, false},
    {"HPBPC", PKGF_CUST_HPBPC, 3, Unattended, false, true, false, false, false, true},
    {"HPCPC", PKGF_CUST_HPCPC, 4, Unattended, false, false, false, false, true, true},
    {"HPDTOCPE", PKGF_CUST_HPDTOCPE, 6, Unattended, true, false, false, true, true, true},
    {"HPDTOENG", PKGF_CUST_HPDTOENG, 5, AsAsked, true, false, false, false, false, false},
    {"LENOVO", PKGF_CUST_LENOVO, 7, AllDrives, false, false, false, false, false, true},
};

constexpr CustomerRule kNoCustomer = {"", 0, 0, AsAsked, false, false, false, false, false, false};

}  // namespace

std::span<const CustomerRule> CustomerRules() {
    return kRules;
}

const CustomerRule& CustomerRuleOf(const std::string& code) {
    for (const CustomerRule& rule : kRules) {
        if (code == rule.code)
            return rule;
    }
    return kNoCustomer;
}
