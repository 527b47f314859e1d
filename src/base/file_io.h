// File access of the core: reads of regular files only, and a complete-or-nothing write
// that replaces the target only when all bytes are out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Reads up to max bytes from the start of the file. -1 when it cannot be opened or is not
// a regular file (*why, when given, then says which).
int64_t ReadFilePrefix(const std::string& path, uint8_t* buffer, uint32_t max,
                       std::string* why = nullptr);

enum class ReadStatus { Ok, CannotOpen, TooLarge };

// Reads the whole file into *text when it holds at most limit bytes.
ReadStatus ReadWholeFile(const std::string& path, std::string* text, size_t limit);

enum class WriteStatus { Ok, CannotCreate, WriteFailed };

// What a written file is: a program (executable) or data (read and written by its owner,
// read by others).
enum class FileKind { Executable, Data };

// Writes a file whole or not at all: data goes to a new temporary file of its own in the
// folder of path, which gets the permissions of kind and is moved over path when complete
// (a link at path is replaced, never followed). An existing file at path that is read-only
// or may not be written is refused (CannotCreate). On failure the temporary file is removed
// and an existing file at path is untouched.
WriteStatus WriteFileReplacing(const std::string& path, const uint8_t* data, uint32_t size,
                               FileKind kind = FileKind::Executable);

// Name of a temporary file, the same length for every call and different at each call.
std::string TemporaryFileName();

// Creates or truncates path and writes size bytes. False on any failure.
bool WriteWholeFile(const std::string& path, const void* data, size_t size);

// Platform: opens path for binary reading only when it names a regular file; directories,
// pipes and devices are refused at once without blocking. Null on failure, with the
// reason in *why when given.
std::FILE* OpenRegularFile(const std::string& path, std::string* why);

// Platform: creates path as a new file for binary writing, never through an existing name
// (a symbolic link included). Null on failure; *exists tells whether the name was taken.
std::FILE* CreateNewFile(const std::string& path, bool* exists);

// Platform: marks the file being written as executable.
bool MakeExecutable(std::FILE* file);
// Platform: gives the file being written the permissions of a data file.
bool MakeDataFile(std::FILE* file);

// Platform: false when path names an existing file that is read-only or that this
// process may not write.
bool MayReplaceFile(const std::string& path);

// Platform: the folder part of path including its last separator; empty when none.
std::string FolderPrefix(const std::string& path);

// Platform: moves from over to, replacing an existing file.
bool MoveReplacing(const std::string& from, const std::string& to);

// Platform: path taken against the current directory, with "." and ".." resolved; the
// path itself when that fails.
std::string MakeAbsolutePath(const std::string& path);
