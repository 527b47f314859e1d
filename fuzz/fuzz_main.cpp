// libFuzzer program for one entry of tests/support/fuzz_targets.h, named by
// VARNEL_FUZZ_ENTRY at compile time.
#include "support/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return fuzz::VARNEL_FUZZ_ENTRY(data, size);
}
