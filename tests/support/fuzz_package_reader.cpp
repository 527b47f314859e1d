// Fuzz entry: the whole-file package reader (ReadPackage through ReadPackageFromMemory).
//
// Byte 0 of the input chooses how the rest becomes an updater file:
//   0  raw:    the rest is the file.
//   1  table:  engine length, body seed, zero-run table (positions relative to each
//              other), trailer fields and packed body from the input, behind a trailer
//              with a valid magic: the reader reaches the table and the unpacking.
//   2  body:   a firmware body (stretched by a zero run of up to 128 KiB) whose images get
//              correct word sums, packed by the writer and scrambled by the plain
//              form: reading it back must give the same body.
//   3  bounds: as 1, with the trailer's package offset and length moved or replaced.
// Every result is compared with the plain descrambler and unpacker. In AddressSanitizer
// builds the file buffer past the file is poisoned: no byte beyond the file is read.
#include <algorithm>
#include <cstring>
#include <vector>

#include "package/trailer.h"
#include "package/update_data.h"
#include "support/fuzz_targets.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_FUZZ_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VARNEL_FUZZ_ASAN 1
#endif
#ifdef VARNEL_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#define VARNEL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define VARNEL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define VARNEL_POISON(p, n) static_cast<void>(0)
#define VARNEL_UNPOISON(p, n) static_cast<void>(0)
#endif

namespace fuzz {

namespace {

constexpr uint8_t kEngineByte = 0x4D;

// Big-endian fields from the input; past its end they read as zero.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    uint32_t Take(int bytes) {
        uint32_t v = 0;
        for (int k = 0; k < bytes; ++k)
            v = (v << 8) | (m_pos < m_size ? m_data[m_pos++] : 0u);
        return v;
    }
    std::vector<uint8_t> Rest() const {
        return std::vector<uint8_t>(m_data + m_pos, m_data + m_size);
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// Two 4 MiB buffers per input would dominate the run time: the objects are kept and
// their values set back to the start values before each input.
CUpdateData& Object(int which) {
    static CUpdateData* objects[2] = {new CUpdateData, new CUpdateData};
    return *objects[which];
}

void Reset(CUpdateData& d) {
    for (std::string* s :
         {&d.m_strImageModel, &d.m_strTargetProduct, &d.m_strMainFile, &d.m_strMainSize,
          &d.m_strNewRevision, &d.m_strNewMinorRev, &d.m_strCoreFile, &d.m_strCoreSize,
          &d.m_strCurRevision, &d.m_strCurMinorRev, &d.m_strCustomer, &d.m_strRevFilter}) {
        s->clear();
    }
    d.m_byImageCustomer = 0;
    d.m_bMinorRevHidden = true;
    d.m_bLogMode = d.m_bFilterFreeMinor = d.m_bOnlyNewer = false;
    d.m_bHideCopyright = d.m_bSameCustomer = false;
    d.m_nEngineSize = d.m_nFileSize = d.m_nPackageOffset = d.m_nPackageLength = 0;
    d.m_nFirmwareLength = 0;
}

void PutSeed(uint8_t* p, uint16_t seed) {
    p[0] = static_cast<uint8_t>(seed >> 8);
    p[1] = static_cast<uint8_t>(seed);
}

// Appends a trailer with the package magic; fields holds trailer bytes 10 to 39.
void AppendTrailer(std::vector<uint8_t>& file, uint32_t offset, uint32_t length,
                   const uint8_t* fields, uint16_t seed) {
    uint8_t t[kTrailerSize] = {};
    WriteBE32(t + 2, offset);
    WriteBE32(t + 6, length);
    std::memcpy(t + 10, fields, 30);
    std::memcpy(t + 40, kPackageMagic, 32);
    CUpdateData::ScramblePlain(t + 2, kTrailerSize - 2, seed);
    PutSeed(t, seed);
    file.insert(file.end(), t, t + kTrailerSize);
}

// Modes 1 and 3: block and trailer from input fields.
std::vector<uint8_t> TableFile(Reader& in, bool moveBounds) {
    std::vector<uint8_t> file(in.Take(1) * 3, kEngineByte);
    const auto offset = static_cast<uint32_t>(file.size());
    const auto seed = static_cast<uint16_t>(in.Take(2));
    uint8_t table[kBlockHeaderSize] = {};
    const uint32_t count = in.Take(1) % (kRunEntries + 1);
    uint32_t pos = offset + kBlockHeaderSize;
    for (uint32_t j = 0; j < count; ++j) {
        const uint32_t delta = in.Take(2);
        pos = delta & 0x8000 ? pos - (delta & 0x7FFF) : pos + delta;
        WriteBE32(table + 4 + 4 * j, pos);
        WriteBE32(table + 260 + 4 * j, in.Take(3));
    }
    uint8_t fields[30];
    for (uint8_t& b : fields)
        b = static_cast<uint8_t>(in.Take(1));
    uint32_t trailerOffset = offset;
    uint32_t control = 0;
    if (moveBounds) {
        control = in.Take(1);
        trailerOffset += static_cast<uint32_t>(static_cast<int8_t>(in.Take(1)));
        if (control & 1)
            trailerOffset = in.Take(4);
    }
    const std::vector<uint8_t> packed = in.Rest();
    file.insert(file.end(), table, table + kBlockHeaderSize);
    file.insert(file.end(), packed.begin(), packed.end());
    CUpdateData::ScramblePlain(file.data() + offset + 2,
                               static_cast<int32_t>(file.size() - offset - 2), seed);
    PutSeed(file.data() + offset, seed);
    uint32_t length = static_cast<uint32_t>(file.size()) - offset + kTrailerSize;
    if (control & 2)
        length += static_cast<uint32_t>(static_cast<int8_t>(control >> 2));
    AppendTrailer(file, trailerOffset, length, fields, static_cast<uint16_t>(seed ^ 0x5A5A));
    return file;
}

// Gives each image that fits the body a word sum of 0xFFFF (header word 1020).
void FixImageSums(std::vector<uint8_t>& body) {
    size_t offset = 0;
    while (body.size() - offset >= kImageHeaderSize) {
        uint8_t* image = body.data() + offset;
        const uint64_t length = uint64_t{ReadBE32(image + 68)} + kImageHeaderSize;
        if (length > body.size() - offset)
            break;
        image[1020] = image[1021] = 0;
        uint32_t sum = 0;
        for (uint64_t k = 0; k < length; k += 2) {
            const uint32_t low = offset + k + 1 < body.size() ? image[k + 1] : 0u;
            sum += (uint32_t{image[k]} << 8) | low;
        }
        const auto fix = static_cast<uint16_t>(0xFFFF - (sum & 0xFFFF));
        image[1020] = static_cast<uint8_t>(fix >> 8);
        image[1021] = static_cast<uint8_t>(fix);
        offset += static_cast<size_t>(length);
    }
}

// Mode 2: the body comes back unchanged. Returns the file; body receives the body.
std::vector<uint8_t> BodyFile(Reader& in, std::vector<uint8_t>* body) {
    const uint32_t engine = in.Take(1) * 5;
    const auto seed = static_cast<uint16_t>(in.Take(2));
    const uint32_t stretchAt = in.Take(2);
    const uint32_t stretch = in.Take(2) * 2;  // up to 128 KiB: enough for a MAIN image
    *body = in.Rest();
    const size_t at = std::min<size_t>(stretchAt, body->size());
    body->insert(body->begin() + static_cast<std::ptrdiff_t>(at), stretch, 0);
    FixImageSums(*body);

    CUpdateData& w = Object(1);
    Reset(w);
    std::memset(w.m_pFileImage, kEngineByte, engine);
    w.m_nFileSize = engine;
    if (!body->empty())
        std::memcpy(w.m_pFirmware, body->data(), body->size());
    w.m_nFirmwareLength = static_cast<uint32_t>(body->size());
    FUZZ_CHECK(w.PackFirmware());
    uint8_t* block = w.m_pFileImage + w.m_nPackageOffset;
    CUpdateData::ScramblePlain(block + 2, static_cast<int32_t>(w.m_nPackageLength - 2), seed);
    PutSeed(block, seed);
    std::vector<uint8_t> file(w.m_pFileImage, w.m_pFileImage + w.m_nFileSize);
    static const uint8_t kFields[30] = {'F', 'U', 'Z', 'Z', 0};
    AppendTrailer(file, engine, w.m_nPackageLength + kTrailerSize, kFields,
                  static_cast<uint16_t>(seed - kTrailerSeedOffset));
    return file;
}

// The plain descrambler and unpacker on the same file must agree with the reader.
void CompareWithPlain(const CUpdateData& d, const std::vector<uint8_t>& file) {
    if (d.IsPackageEmpty() || d.GetPackageFault() == PackageFault::Bounds)
        return;
    CUpdateData& ref = Object(1);
    Reset(ref);
    const auto n = static_cast<uint32_t>(std::min<size_t>(file.size(), kBufferSize));
    std::memcpy(ref.m_pFileImage, file.data(), n);
    ref.m_nFileSize = d.m_nFileSize;
    ref.m_nPackageOffset = d.m_nPackageOffset;
    uint8_t* block = ref.m_pFileImage + d.m_nPackageOffset;
    CUpdateData::ScramblePlain(block + 2, static_cast<int32_t>(d.m_nPackageLength - 74),
                               static_cast<uint16_t>((block[0] << 8) | block[1]));
    const bool ok = ref.UnpackFirmwarePlain();
    FUZZ_CHECK(ok == (d.GetPackageFault() != PackageFault::RunTable));
    if (!ok)
        return;
    FUZZ_CHECK(ref.m_nFirmwareLength == d.m_nFirmwareLength);
    FUZZ_CHECK(std::memcmp(ref.m_pFirmware, d.m_pFirmware, d.m_nFirmwareLength) == 0);
}

}  // namespace

int PackageReader(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    Reader in(data + 1, size - 1);
    std::vector<uint8_t> file;
    std::vector<uint8_t> body;
    const int mode = data[0] % 4;
    switch (mode) {
        case 0:
            file = in.Rest();
            break;
        case 1:
        case 3:
            file = TableFile(in, mode == 3);
            break;
        default:
            file = BodyFile(in, &body);
            break;
    }

    CUpdateData& d = Object(0);
    Reset(d);
    const size_t n = std::min<size_t>(file.size(), kBufferSize);
    VARNEL_POISON(d.m_pFileImage + n, kBufferSize - n);
    d.ReadPackageFromMemory(file.data(), file.size(), "fuzz_1.05-AB.exe");
    VARNEL_UNPOISON(d.m_pFileImage, kBufferSize);

    // Only a signed file's package ends before the end of the file, and never past its table.
    CertificateTable table;
    const bool isSigned = d.GetSignature(&table);
    FUZZ_CHECK(d.m_nEngineSize == n);
    FUZZ_CHECK(d.m_nFileSize == n ||
               (isSigned && d.m_nFileSize <= table.offset && table.offset - d.m_nFileSize < 8));
    FUZZ_CHECK(d.GetFirmwareLength() <= kBufferSize);
    FUZZ_CHECK(d.IsPackageEmpty() ||
               d.m_nPackageOffset + uint64_t{d.m_nPackageLength} == d.m_nFileSize ||
               d.GetPackageFault() == PackageFault::Bounds);
    if (mode == 2) {
        FUZZ_CHECK(!d.IsPackageEmpty());
        FUZZ_CHECK(d.GetPackageFault() == PackageFault::None ||
                   d.GetPackageFault() == PackageFault::ImageCheck);
        FUZZ_CHECK(d.GetFirmwareLength() == body.size());
        FUZZ_CHECK(body.empty() || std::memcmp(d.GetFirmware(), body.data(), body.size()) == 0);
    }
    CompareWithPlain(d, file);
    const uint32_t length = d.GetFirmwareLength();
    for (const uint32_t from : {0u, 1u}) {
        if (length > from) {
            FUZZ_CHECK(d.VerifyChecksum(from, length - from) ==
                       d.VerifyChecksumPlain(from, length - from));
        }
    }
    return 0;
}

}  // namespace fuzz
