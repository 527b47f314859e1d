// Fuzz entry: the drive list file reader (ParseDriveList) on arbitrary bytes.
#include <cstring>
#include <vector>

#include "support/fuzz_targets.h"
#include "ui/mainte_dlg.h"

namespace fuzz {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

int DriveList(const uint8_t* data, size_t size) {
    const std::vector<DriveListRow> rows = ParseDriveList(data, size);
    FUZZ_CHECK(rows.size() <= kDriveListMaxRows);

    // Reading ends at the first 0xFF: what follows never matters.
    const void* ff = size ? std::memchr(data, 0xFF, size) : nullptr;
    const size_t used = ff ? static_cast<size_t>(static_cast<const uint8_t*>(ff) - data) : size;
    FUZZ_CHECK(ParseDriveList(data, used) == rows);

    size_t lines = 1;
    for (size_t i = 0; i < used; ++i)
        lines += data[i] == '\n';
    FUZZ_CHECK(rows.size() <= lines);

    size_t bytes = 0;
    for (const DriveListRow& row : rows) {
        for (const std::string& field : row) {
            bytes += field.size();
            FUZZ_CHECK(field.find('\n') == std::string::npos);
            FUZZ_CHECK(field.find('\xFF') == std::string::npos);
            FUZZ_CHECK(field.empty() || (!IsBlank(field.front()) && !IsBlank(field.back())));
        }
    }
    FUZZ_CHECK(bytes <= used);
    return 0;
}

}  // namespace fuzz
