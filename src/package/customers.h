// The customer codes a package may carry (one flag bit of the trailer each), and what each
// one changes. Every rule that depends on the customer asks this table.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// How the updater starts for a customer.
enum class CustomerStart : uint8_t {
    AsAsked,     // as the command line says
    Unattended,  // silent, automatic start on all drives, automatic end
    AllDrives,   // automatic start on all drives
};

struct CustomerRule {
    const char* code;  // as the package carries it; empty for no customer
    uint32_t flag;     // its trailer flag bit
    // Reading a trailer with several customer bits, the one of the highest rank wins.
    uint8_t readingRank;
    CustomerStart start;
    // Search: a drive revision beginning with "1." passes any revision filter.
    bool anyFilterForFirstRevisions;
    // Dialog: the customer's own title and icon.
    bool ownTitle;
    // Dialog: with the minor revision hidden, a warning when the drive's revision is the
    // package's or newer.
    bool warnSameOrOlder;
    // Exit codes: reboot required after an update, its own code when no drive is found.
    bool rebootExitCodes;
    // A wait of 10 s before the automatic end.
    bool waitBeforeAutoExit;
    // Updater names carry only the first four characters of the revision.
    bool shortRevisionInName;
};

// The customers, in the order of the maintenance dialog's list.
std::span<const CustomerRule> CustomerRules();

// The rule of a customer code (exact match); for no code or any other text, a rule that
// changes nothing and has no flag bit.
const CustomerRule& CustomerRuleOf(const std::string& code);
