// The update package of an updater file as a value: what ParsePackage reads from the file's
// bytes, nothing else involved. CUpdateData loads it into its members.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "package/codec.h"
#include "package/pe_signature.h"
#include "package/program_image.h"
#include "package/trailer.h"

inline constexpr uint32_t kBufferSize = 4194304;       // the most of a file that is read
inline constexpr uint32_t kPackageModeSize = 1048576;  // larger files are updaters

// Why a detected package cannot be used.
enum class PackageFault : uint8_t {
    None,        // no package, or a usable one
    Bounds,      // trailer offset/length outside the file
    RunTable,    // zero-run table outside the packed body or overfilling the buffer
    ImageCheck,  // a program image failed its check
};

struct UpdatePackage {
    uint32_t fileSize = 0;  // bytes taken from the file: at most 4 MiB
    // Where the package ends: the end of the file, or for a signed file whose trailer lies in
    // front of its certificate table, the end of that trailer.
    uint32_t usedSize = 0;
    bool isSigned = false;
    CertificateTable signature;  // when isSigned
    bool trailerFound = false;   // the last 72 bytes in use carry the package magic
    PackageTrailer trailer;      // when trailerFound
    PackageFault fault = PackageFault::None;
    std::vector<ZeroRun> runs;          // the recorded zero runs, when the block lies in the file
    std::vector<uint8_t> firmware;      // the unpacked firmware body
    std::vector<ImageFacts> images;     // the image walk over it, up to the first failure
    CheckResult imageCheck = CHECK_OK;  // the result of that failure

    // A package was found: the magic matched and the trailer gives it a length.
    bool HasPackage() const { return trailerFound && trailer.packageLength != 0; }
};

// Reads the package of an updater file from its first 4 MiB: finds the trailer (in front of
// the certificate table of a signed file), descrambles and unpacks the block and walks the
// program images. Every offset the file claims is checked against its bytes; a package that
// cannot be used says why in fault.
UpdatePackage ParsePackage(std::span<const uint8_t> file);
// The same with the body unpacked into body (at most its size; what follows is not touched)
// instead of into firmware, which stays empty: *bodyLength is its length, the image walk
// is over those bytes. The file's bytes are only read and nothing of the body's size is
// allocated.
UpdatePackage ParsePackage(std::span<const uint8_t> file, std::span<uint8_t> body,
                           uint32_t* bodyLength);
// Whether file carries a package whose body is exactly body, read as ParsePackage reads it
// but compared a piece at a time instead of kept: *p receives the trailer, the bounds fault
// and the run table, no firmware and no images.
bool PackageBodyEquals(std::span<const uint8_t> file, std::span<const uint8_t> body,
                       UpdatePackage* p);
