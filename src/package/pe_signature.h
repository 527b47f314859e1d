// Authenticode signatures of updater files. A signing tool appends a certificate table to
// a PE file, zero bytes in front of it so that it starts at a multiple of 8, and records
// its place in the security directory entry of the optional header. The package of a
// signed updater therefore ends in front of that table instead of at the end of the file.
#pragma once

#include <cstdint>

struct CertificateTable {
    uint32_t entryOffset = 0;  // file offset of the security directory entry (8 bytes)
    uint32_t offset = 0;       // file offset of the table as recorded (0: none)
    uint32_t size = 0;         // its length as recorded
};

// The security directory entry of the PE image in data[0, size): false when the bytes
// are not a PE image with such an entry inside them. Every header offset is checked
// against size; the recorded table itself is not.
bool FindSecurityDirectory(const uint8_t* data, uint32_t size, CertificateTable* table);

// The certificate table of a signed file: the entry names a non-empty table that lies
// inside data and ends exactly at its end, where every signing tool puts it.
bool FindCertificateTable(const uint8_t* data, uint32_t size, CertificateTable* table);

// Where the signed bytes in front of a certificate table may end: the table offset less
// 0 to 7 zero bytes of alignment. Candidate number n (0 to 7) of table; false when that
// many bytes in front of the table are not all zero or do not exist.
bool SignedEndCandidate(const uint8_t* data, const CertificateTable& table, unsigned n,
                        uint32_t* end);

// Makes data[0, *size) an unsigned PE image: a certificate table at its end is cut off
// (*size becomes the table offset) and a non-empty security directory entry is cleared.
// Returns true when anything changed. Bytes that are not a PE image are left alone.
bool StripCertificateTable(uint8_t* data, uint32_t* size);
