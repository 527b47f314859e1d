// Program images: a 1024-byte header and the code a drive receives. The firmware body is one
// image after the other (MAIN, then CORE), each as long as its header's code size says. This is
// the one walk over a body and the one image check: loading, the download's check before it
// sends anything, varnel-pkg and the generation's read-back all use them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "package/results.h"

inline constexpr uint32_t kImageHeaderSize = 1024;
inline constexpr uint32_t kMainImageThreshold = 65536;  // images this long are MAIN

// What an image says of itself, as far as its check got.
struct ImageFacts {
    uint32_t offset = 0;  // in the body
    uint32_t length = 0;  // bytes checked
    bool main = false;
    CheckResult result = CHECK_OK;
    bool modelRead = false;  // the word sum is right: model holds header bytes 16 to 23
    std::string model;
    // A MAIN image with its tag: revision (header bytes 40 to 43) and the minor revision of
    // its info block (empty when it has none) are read.
    bool revisionRead = false;
    std::string revision;
    std::string minor;
    bool customerRead = false;  // the info block is tagged "ARMS": customer is byte 1279
    uint8_t customer = 0;
    std::string sizeText;  // of a valid image: the code size as "%06Xh"
};

// The 16-bit big-endian word sum of length bytes at p is 0xFFFF. For an odd length the
// last byte is the high half of the last word and next its low half.
bool WordSumValid(const uint8_t* p, uint32_t length, uint8_t next);

// The code size as shown: at least six upper-case hexadecimal digits and an 'h'.
std::string SizeText(uint32_t codeSize);

// Checks image as a MAIN or a CORE image, step by step: length, word sum (next: the byte
// after the image), model, tag, MAIN revision data, code size. The first failing step
// decides the result; what the steps before it read is in the facts.
ImageFacts InspectImage(std::span<const uint8_t> image, bool main, uint8_t next = 0);

// Where an image of a body lies by the code size of its header.
struct ImageSlot {
    enum class Fit : uint8_t {
        Whole,      // header and code inside the body
        HeaderCut,  // fewer than 1024 bytes are left for the header
        RunsPast,   // the code runs past the end of the body
    };
    uint32_t offset = 0;
    uint32_t length = 0;    // header and code; of an image that does not fit, what is left
    uint32_t codeSize = 0;  // header bytes 68 to 71 (0 when the header is cut)
    bool main = false;      // header and code are 64 KiB or more (never for a cut header)
    Fit fit = Fit::Whole;
};

// The images of body back to back, up to and including the first that does not fit whole.
std::vector<ImageSlot> LayOutImages(std::span<const uint8_t> body);

// The images of body checked in order, up to and including the first that fails (an image
// that does not fit whole fails as invalid, unread). Each image's next byte is the body's
// byte after it, zero at the end of the body.
std::vector<ImageFacts> InspectImages(std::span<const uint8_t> body);
