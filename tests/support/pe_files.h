// PE files for the signature tests: an engine with a PE header in front of the bytes of
// tests/data/engine.bin, and what a signing tool does to a file (zero bytes up to a
// multiple of 8, a certificate table behind them, its place in the security directory).
#pragma once

#include <cstdint>
#include <vector>

namespace testsupport {

// Offsets in the engine's header (PE32+; PE32 moves the directories 16 bytes forward).
inline constexpr uint32_t kPeHeaderOffset = 0x40;
inline constexpr uint32_t kPeSecurityEntry32Plus = 0x40 + 24 + 112 + 32;
inline constexpr uint32_t kPeSecurityEntry32 = 0x40 + 24 + 96 + 32;

// size bytes (at most 4096): engine.bin with a PE32+ (magic 0x20B) or PE32 (0x10B) header.
std::vector<uint8_t> PeEngine(uint32_t size, uint16_t magic = 0x20B);

// Signs file as a signing tool lays it out; the table holds tableSize bytes (at least 8).
void AppendSignature(std::vector<uint8_t>& file, uint32_t tableSize = 48);

// The security directory entry of a PE file made by PeEngine: offset and size.
uint32_t SecurityOffset(const std::vector<uint8_t>& file);
uint32_t SecuritySize(const std::vector<uint8_t>& file);

}  // namespace testsupport
