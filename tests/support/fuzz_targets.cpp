#include "support/fuzz_targets.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

std::function<void(const std::string&)>& Handler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

}  // namespace

const Target* Targets(size_t* count) {
#define VARNEL_FUZZ_ROW(name, entry) {#name, entry},
    static const Target kTargets[] = {VARNEL_FUZZ_TARGETS(VARNEL_FUZZ_ROW)};
#undef VARNEL_FUZZ_ROW
    *count = sizeof kTargets / sizeof kTargets[0];
    return kTargets;
}

void Fail(const std::string& what) {
    if (Handler())
        Handler()(what);
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

void SetFailHandler(std::function<void(const std::string&)> handler) {
    Handler() = std::move(handler);
}

}  // namespace fuzz
