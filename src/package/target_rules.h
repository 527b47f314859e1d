// What a package asks of a drive before it takes it as a target: the product-name classes,
// the product and revision tests and the customer byte. Plain values; the search that asks
// the drives is download/target_search.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// Kind and series digit of a product name: 9 "ALL", 2 and 3 the KW/KY names, 1 the KVS names,
// 0 a name this program does not update.
struct ProductClass {
    int kind = 0;
    char series = 0;
};

ProductClass ClassifyProductName(const std::string& name);

// The drive's product without a leading type word: "DVD-RAM KVS-Q42R" and
// "DVDRAM_KVS-Q42R" both give "KVS-Q42R".
std::string DriveProductName(const std::string& field);

// The package's side of the tests, taken once per search.
struct TargetRule {
    std::string packageName;  // the target product name, or the image model without one
    ProductClass package;
    std::string filter;  // upper case, '*' for any character
    bool filterFree = false;
    bool anyFilterForFirstRevisions = false;  // customer rule for revisions "1."
    bool logMode = false;
    std::string newRevision;
    uint8_t requiredCustomer = 0;  // 0: any
    bool sameCustomer = false;
};

// A drive that passed the product test.
struct TargetCandidate {
    std::string compare;    // its revision as compared with the filter
    bool excluded = false;  // the unattended run leaves out a drive already at the revision
};

// The product and revision tests of a drive with these INQUIRY fields; nothing when its
// product does not fit.
std::optional<TargetCandidate> MatchTarget(const TargetRule& rule, const std::string& product,
                                           const std::string& revision);

// The drive's customer byte must be asked for.
inline bool AsksCustomer(const TargetRule& rule) {
    return rule.sameCustomer && rule.requiredCustomer != 0;
}

// A drive that reports this customer byte is not a target (0, a failed INQUIRY, never excludes).
inline bool CustomerExcludes(const TargetRule& rule, uint8_t customer) {
    return customer != 0 && customer != rule.requiredCustomer;
}

// The candidate is a target when nothing excluded it and its revision passes the filter.
inline bool IsTarget(const TargetRule& rule, const TargetCandidate& candidate) {
    return !candidate.excluded && candidate.compare == rule.filter;
}
