#include "package/update_package.h"

#include <algorithm>

#include "package/scrambler.h"

namespace {

// The end of the bytes in use: the file's end, or for a signed file whose trailer lies in
// front of its certificate table, where that trailer ends.
uint32_t PackageEnd(const uint8_t* file, uint32_t size, UpdatePackage* p) {
    p->isSigned = FindCertificateTable(file, size, &p->signature);
    PackageTrailer trailer;
    // A file whose last 72 bytes are a trailer is read as it stands.
    if (!p->isSigned ||
        (size >= kTrailerSize && DecodeTrailer(file + size - kTrailerSize, &trailer)))
        return size;
    for (unsigned n = 0; n < 8; ++n) {
        uint32_t end = 0;
        if (SignedEndCandidate(file, p->signature, n, &end) && end >= kTrailerSize &&
            DecodeTrailer(file + end - kTrailerSize, &trailer)) {
            return end;
        }
    }
    return size;
}

}  // namespace

UpdatePackage ParsePackage(std::span<const uint8_t> bytes) {
    UpdatePackage p;
    p.fileSize = static_cast<uint32_t>(std::min<size_t>(bytes.size(), kBufferSize));
    const uint8_t* file = bytes.data();
    p.usedSize = PackageEnd(file, p.fileSize, &p);
    const uint32_t size = p.usedSize;
    p.trailerFound = size >= kTrailerSize && DecodeTrailer(file + size - kTrailerSize, &p.trailer);
    if (!p.HasPackage())
        return p;

    // The block must lie inside the file and end exactly at its end, as every writer makes
    // it; anything else is refused without touching a byte outside the file.
    const uint32_t offset = p.trailer.packageOffset;
    const uint32_t length = p.trailer.packageLength;
    if (length < kBlockHeaderSize + kTrailerSize || offset > size || length != size - offset) {
        p.fault = PackageFault::Bounds;
        return p;
    }
    // Descrambled: block bytes 2 up to the trailer, with the body seed in bytes 0 and 1.
    std::vector<uint8_t> block(file + offset, file + size - kTrailerSize);
    Scramble(block.data() + 2, static_cast<int32_t>(block.size() - 2),
             static_cast<uint16_t>(ReadBE16(block.data())));
    p.runs = RecordedRuns(block.data());
    p.firmware.resize(kBufferSize);
    uint32_t bodyLength = 0;
    if (!UnpackBody(block.data(), static_cast<uint32_t>(block.size()), offset, p.firmware.data(),
                    kBufferSize, &bodyLength)) {
        p.firmware.clear();
        p.fault = PackageFault::RunTable;
        return p;
    }
    p.firmware.resize(bodyLength);

    p.images = InspectImages(p.firmware);
    if (!p.images.empty() && p.images.back().result != CHECK_OK) {
        p.imageCheck = p.images.back().result;
        p.fault = PackageFault::ImageCheck;
    }
    return p;
}
