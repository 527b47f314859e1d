// File access of the core: plain reads through the standard library, and a
// complete-or-nothing write that replaces the target only when all bytes are out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads up to max bytes from the start of the file. -1 when it cannot be opened.
int64_t ReadFilePrefix(const std::string& path, uint8_t* buffer, uint32_t max);

enum class WriteStatus { Ok, CannotCreate, WriteFailed };

// Writes an executable: data goes to a temporary file beside path, moved over path when
// complete.
// On failure the temporary file is removed and an existing file at path is untouched.
WriteStatus WriteFileReplacing(const std::string& path, const uint8_t* data, uint32_t size);

// Platform: moves from over to, replacing an existing file; the result is executable.
bool InstallExecutable(const std::string& from, const std::string& to);

// Creates or truncates path and writes size bytes. False on any failure.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// Reads the whole file into *text. False when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::string* text);

// Platform: moves from over to, replacing an existing file.
bool MoveReplacing(const std::string& from, const std::string& to);

// Platform: path taken against the current directory, with "." and ".." resolved; the
// path itself when that fails.
std::string MakeAbsolutePath(const std::string& path);
