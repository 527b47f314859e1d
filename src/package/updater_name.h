// Names of generated updaters: what kind of program the engine is, the ending that its
// updaters' file names get, and the parts that the image's model and revision give.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class EngineKind : uint8_t { Unknown, Windows, Linux };

// A Windows program ("MZ", and "PE\0\0" where the 32-bit little-endian value at 60 points), a
// Linux program (ELF: 7F 'E' 'L' 'F'), or neither, by the first size bytes of an engine.
EngineKind EngineKindOf(const uint8_t* data, size_t size);

// ".exe" for the updaters of a Windows engine; nothing for any other.
const char* UpdaterSuffixOf(EngineKind kind);

// The product part of an updater name from a model text: what follows its first '-', led by
// what precedes it when withPrefix is set; without a '-', what precedes its first blank
// (nothing without a blank either). "XY-12345" gives "12345", with the prefix "XY12345".
std::string ModelNameBase(const std::string& text, bool withPrefix);
