// Fuzz entry points. The libFuzzer programs (fuzz/) call them with generated inputs;
// the unit tests replay the seed corpus and every saved crash (fuzz/corpus/<name>,
// fuzz/regressions/<name>) through the same functions.
//
// Adding a target: tests/support/fuzz_<name>.cpp defining fuzz::<Entry>, and one line
// in the list below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#define VARNEL_FUZZ_TARGETS(X)       \
    X(package_reader, PackageReader) \
    X(parameter_file, ParameterFile) \
    X(command_line, CommandLine)     \
    X(drive_list, DriveList)         \
    X(download, Download)

namespace fuzz {

using Entry = int (*)(const uint8_t* data, size_t size);

#define VARNEL_FUZZ_DECLARE(name, entry) int entry(const uint8_t* data, size_t size);
VARNEL_FUZZ_TARGETS(VARNEL_FUZZ_DECLARE)
#undef VARNEL_FUZZ_DECLARE

struct Target {
    const char* name;  // folder name under fuzz/corpus and fuzz/regressions
    Entry entry;
};

// All targets of the list.
const Target* Targets(size_t* count);

// A broken expectation inside an entry: the handler (by default: print and abort, which
// libFuzzer records as a crash) is replaceable, so that tests can report it instead.
[[noreturn]] void Fail(const std::string& what);
void SetFailHandler(std::function<void(const std::string&)> handler);

#define FUZZ_CHECK(cond)                                                                     \
    do {                                                                                     \
        if (!(cond))                                                                         \
            ::fuzz::Fail(std::string(__FILE__ ":") + std::to_string(__LINE__) + ": " #cond); \
    } while (0)

}  // namespace fuzz
