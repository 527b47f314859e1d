// Valid program images and parameter files made from scratch, for demos and tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SampleImageSpec {
    bool main = true;
    std::string model = "XY-12345";
    std::string revision = "1.05";  // MAIN only
    std::string minor;              // MAIN only, 2 characters or empty
    uint8_t customer = 0;           // MAIN only
    uint32_t codeSize = 0;          // 0: 300 KiB for MAIN, 40 KiB for CORE
    uint32_t seed = 1;              // varies the code bytes
};

// A program image with header fields, an info block ("ARMS" tag) for MAIN images,
// code bytes with zero runs, and a word sum of 0xFFFF.
std::vector<uint8_t> MakeSampleImage(const SampleImageSpec& wanted);

// Writes main.bin, core.bin and sample.prm (CR LF lines) into dir. False on a write error.
bool WriteSampleSet(const std::string& dir, const SampleImageSpec& mainSpec,
                    const SampleImageSpec& coreSpec, std::string* error);
