#include "package/sample_images.h"

#include <cstdio>
#include <cstring>

#include "base/file_io.h"
#include "base/path_rules.h"
#include "package/trailer.h"

namespace {

constexpr uint32_t kHeader = 1024;
constexpr uint32_t kFixWord = 1020;  // header word that balances the sum

}  // namespace

std::vector<uint8_t> MakeSampleImage(const SampleImageSpec& wanted) {
    const uint32_t codeSize =
        wanted.codeSize ? wanted.codeSize : (wanted.main ? 300 * 1024 : 40 * 1024);
    std::vector<uint8_t> image(kHeader + codeSize, 0);
    PutField(image.data() + 16, 8, wanted.model);
    PutField(image.data() + 24, 4, wanted.main ? "MAIN" : "CORE");
    if (wanted.main)
        PutField(image.data() + 40, 4, wanted.revision);
    WriteBE32(image.data() + 68, codeSize);

    // Code: pseudo-random bytes with zero runs of assorted lengths, like real firmware.
    uint32_t x = wanted.seed * 2654435761u + 12345u;
    size_t k = kHeader;
    while (k < image.size()) {
        x = x * 1664525u + 1013904223u;
        const uint32_t r = x >> 8;
        if ((r & 1023) == 0) {
            const size_t run = 16 + (r >> 10) % 1200;
            k += run < image.size() - k ? run : image.size() - k;  // zeros already there
        } else {
            image[k++] = static_cast<uint8_t>(r | 1);
        }
    }
    if (wanted.main && image.size() >= 1280) {
        std::memset(image.data() + 1248, 0, 32);
        PutField(image.data() + 1248, 4, "ARMS");
        if (wanted.minor.size() == 2) {
            image[1268] = 1;
            PutField(image.data() + 1269, 2, wanted.minor);
        }
        image[1279] = wanted.customer;
    }

    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < image.size(); i += 2)
        sum += (uint32_t{image[i]} << 8) | image[i + 1];
    if (image.size() & 1)
        sum += uint32_t{image.back()} << 8;
    const auto fix = static_cast<uint16_t>(0xFFFF - (sum & 0xFFFF));
    image[kFixWord] = static_cast<uint8_t>(fix >> 8);
    image[kFixWord + 1] = static_cast<uint8_t>(fix);
    return image;
}

bool WriteSampleSet(const std::string& dir, const SampleImageSpec& mainSpec,
                    const SampleImageSpec& coreSpec, std::string* error) {
    const std::vector<uint8_t> mainImage = MakeSampleImage(mainSpec);
    const std::vector<uint8_t> coreImage = MakeSampleImage(coreSpec);
    const std::string prefix = dir.empty() ? std::string() : dir + kPathSeparator;
    // The number only tells the kinds apart (Main above 262144): a small Main image still
    // gets a Main number.
    const size_t mainNumber = mainImage.size() > 262144 ? mainImage.size() : 262145;
    const std::string prm = "main.bin " + std::to_string(mainNumber) + "\r\ncore.bin " +
                            std::to_string(coreImage.size()) + "\r\n";
    const struct {
        std::string name;
        const void* data;
        size_t size;
    } files[] = {{"main.bin", mainImage.data(), mainImage.size()},
                 {"core.bin", coreImage.data(), coreImage.size()},
                 {"sample.prm", prm.data(), prm.size()}};
    for (const auto& f : files) {
        if (!WriteWholeFile(prefix + f.name, f.data, f.size)) {
            if (error)
                *error = "cannot write " + prefix + f.name;
            return false;
        }
    }
    return true;
}
