#include "package/update_package.h"

#include <algorithm>

#include "package/codec.h"

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

// Trailer and bounds: true when p has a package whose block lies where every writer puts it;
// block then spans the block from the package offset up to the trailer, as it lies in the
// file (scrambled), and p->runs holds its run table.
bool LocateBlock(std::span<const uint8_t> bytes, UpdatePackage* p, std::span<const uint8_t>* block,
                 uint64_t* bodyLength) {
    p->fileSize = static_cast<uint32_t>(std::min<size_t>(bytes.size(), kBufferSize));
    const uint8_t* file = bytes.data();
    p->usedSize = PackageEnd(file, p->fileSize, p);
    const uint32_t size = p->usedSize;
    p->trailerFound =
        size >= kTrailerSize && DecodeTrailer(file + size - kTrailerSize, &p->trailer);
    if (!p->HasPackage())
        return false;

    // The block must lie inside the file and end exactly at its end, as every writer makes
    // it; anything else is refused without touching a byte outside the file.
    const uint32_t offset = p->trailer.packageOffset;
    const uint32_t length = p->trailer.packageLength;
    if (length < kBlockHeaderSize + kTrailerSize || offset > size || length != size - offset) {
        p->fault = PackageFault::Bounds;
        return false;
    }
    *block = bytes.subspan(offset, length - kTrailerSize);
    uint8_t table[kBlockHeaderSize];
    DescrambleRunTable(block->data(), table);
    p->runs = RecordedRuns(table);
    *bodyLength = UnpackedLength(table, static_cast<uint32_t>(block->size()));
    return true;
}

// Unpacks the block into body; the image walk over what it gave.
void UnpackInto(std::span<const uint8_t> block, uint32_t offset, std::span<uint8_t> body,
                UpdatePackage* p, uint32_t* bodyLength) {
    *bodyLength = 0;
    const auto capacity = static_cast<uint32_t>(std::min<size_t>(body.size(), kBufferSize));
    if (!UnpackScrambledBody(block.data(), static_cast<uint32_t>(block.size()), offset, body.data(),
                             capacity, bodyLength)) {
        *bodyLength = 0;
        p->fault = PackageFault::RunTable;
        return;
    }
    p->images = InspectImages(body.first(*bodyLength));
    if (!p->images.empty() && p->images.back().result != CHECK_OK) {
        p->imageCheck = p->images.back().result;
        p->fault = PackageFault::ImageCheck;
    }
}

}  // namespace

UpdatePackage ParsePackage(std::span<const uint8_t> bytes) {
    UpdatePackage p;
    std::span<const uint8_t> block;
    uint64_t length = 0;
    if (!LocateBlock(bytes, &p, &block, &length))
        return p;
    // The body takes what its run table says, never more than the 4 MiB buffer would hold.
    if (length > kBufferSize) {
        p.fault = PackageFault::RunTable;
        return p;
    }
    p.firmware.resize(static_cast<size_t>(length));
    uint32_t bodyLength = 0;
    UnpackInto(block, p.trailer.packageOffset, p.firmware, &p, &bodyLength);
    p.firmware.resize(bodyLength);
    return p;
}

UpdatePackage ParsePackage(std::span<const uint8_t> bytes, std::span<uint8_t> body,
                           uint32_t* bodyLength) {
    UpdatePackage p;
    std::span<const uint8_t> block;
    uint64_t length = 0;
    *bodyLength = 0;
    if (LocateBlock(bytes, &p, &block, &length))
        UnpackInto(block, p.trailer.packageOffset, body, &p, bodyLength);
    return p;
}

bool PackageBodyEquals(std::span<const uint8_t> file, std::span<const uint8_t> body,
                       UpdatePackage* p) {
    *p = UpdatePackage();
    std::span<const uint8_t> block;
    uint64_t length = 0;
    return LocateBlock(file, p, &block, &length) && length == body.size() &&
           ScrambledBodyEquals(block.data(), static_cast<uint32_t>(block.size()),
                               p->trailer.packageOffset, body.data(),
                               static_cast<uint32_t>(body.size()));
}
