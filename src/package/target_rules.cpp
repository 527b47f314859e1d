#include "package/target_rules.h"

#include "base/text.h"

ProductClass ClassifyProductName(const std::string& name) {
    const std::string n = ToUpper(Trim(name));
    ProductClass pc;
    if (n == "ALL") {
        pc.kind = 9;
        return pc;
    }
    if (n.size() >= 5 && (StartsWith(n, "KW") || StartsWith(n, "KY"))) {
        if (n.size() == 5 && IsAsciiDigit(n[2]) && IsAsciiDigit(n[3]) && IsAsciiUpper(n[4])) {
            pc.kind = 2;
            pc.series = n[2];
        } else if (n.size() == 8 && IsAsciiDigit(n[2]) && IsAsciiDigit(n[3]) &&
                   IsAsciiUpper(n[4]) && IsAsciiUpper(n[5]) && IsAsciiDigit(n[6]) &&
                   IsAsciiDigit(n[7])) {
            pc.kind = 3;
            pc.series = n[6];
        }
        return pc;
    }
    if (n.size() >= 8 && StartsWith(n, "KVS") && n[3] == '-' && IsAsciiUpper(n[4]) &&
        IsAsciiDigit(n[5]) && IsAsciiDigit(n[6]) && IsAsciiUpper(n[7])) {
        pc.kind = 1;
        pc.series = n[5] == '8' ? '1' : 0;
    }
    return pc;
}

std::string DriveProductName(const std::string& field) {
    std::string p = Trim(field);
    if (!p.empty() && p.find(' ') != std::string::npos) {
        p.erase(0, p.find(' ') + 1);
    } else if (p.find('_') != std::string::npos) {
        p.erase(0, p.find('_') + 1);
    }
    return Trim(p);
}

std::optional<TargetCandidate> MatchTarget(const TargetRule& rule, const std::string& product,
                                           const std::string& revision) {
    const std::string p = DriveProductName(product);
    std::string r = ToUpper(revision);
    const ProductClass drive = ClassifyProductName(p);
    if (rule.package.kind == 0 || drive.kind == 0)
        return std::nullopt;

    std::string match = rule.packageName;
    if (rule.package.kind == 9 || StartsWith(r, "COR"))
        match = p;
    if (StartsWith(p, "KW8") || EndsWith(p, "80"))
        match = p;
    if (rule.filterFree && rule.package.series != 0 && rule.package.series == drive.series)
        match = p;
    if (p != match)
        return std::nullopt;

    if (StartsWith(r, "COR") || rule.filterFree ||
        (rule.anyFilterForFirstRevisions && StartsWith(r, "1."))) {
        r = rule.filter;
    } else {
        for (size_t k = 0; k < 4 && k < r.size() && k < rule.filter.size(); ++k) {
            if (rule.filter[k] == '*')
                r[k] = '*';
        }
    }
    // An excluded drive is marked apart from its revision, so that no filter text can match it.
    return TargetCandidate{r, rule.logMode && revision == rule.newRevision};
}
