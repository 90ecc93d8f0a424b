// What the model reader needs of the operating system: whole-file reads and writes, the
// process's current directory, a file existence probe, path splitting and text conversions.
// platform_posix.cpp and platform_win32.cpp implement the system calls; path.cpp holds the
// portable parts. Paths are UTF-16 everywhere; no function throws except std::bad_alloc.
// A path that the system cannot be given faithfully (empty, holding a NUL, or on POSIX holding
// an unpaired surrogate) names no file: every file function fails for it. On POSIX '\\' in a
// path is taken as '/', since the texture names in ModelFiles are Windows paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/large_buffer.h"

namespace quillmesh::platform {

enum class FileReadStatus { kOk, kCannotOpen, kCannotRead, kTooLarge };

// Reads the whole file in one read into `out` (replaced). kTooLarge for files of 4 GiB or more.
// Only regular files open (a directory is kCannotOpen); kCannotRead also when the buffer cannot
// be allocated or the file ends early. On any failure `out` is left empty.
FileReadStatus readWholeFile(const std::u16string& path, std::vector<uint8_t>& out);

// Writes `bytes` as the whole file (created or replaced). False on any failure.
bool writeWholeFile(const std::u16string& path, std::span<const uint8_t> bytes);

// Creates `path` as a new file and writes `bytes` as its whole content. Never touches anything
// already at the path: an existing file, directory or link (even a dangling one) makes it fail,
// and a link is never followed. A failed write removes the partly written file. False on any
// failure.
bool createNewFile(const std::u16string& path, std::span<const uint8_t> bytes);

bool setCurrentDirectory(const std::u16string& directory);
std::u16string currentDirectory();  // empty on failure

// True when the file can be opened (probed without asking for read or write access on Windows;
// on POSIX an existing non-directory path).
bool fileExists(const std::u16string& path);

struct PathParts {
    std::u16string drive, directory, baseName, extension;
};

// Splits like the C runtime's path splitter: drive "C:" (only a letter followed by ':' at the
// start), directory up to and including the last separator, base name, extension from the last
// '.' of the file part (with the dot). BOTH '\\' and '/' are separators on every system, so
// "C:\\textures\\wood.png" gives file-name part "wood.png" on Linux too.
PathParts splitPath(std::u16string_view path);

// The base name followed by the extension.
std::u16string fileNamePart(std::u16string_view path);

// Whether Windows takes the file name `fileName` (no directory) for a device rather than a file:
// CON, PRN, AUX, NUL, CONIN$, CONOUT$, and COM or LPT followed by one of 0 to 9 or the
// superscript digits U+00B9, U+00B2 and U+00B3, with the ASCII letters in any case, alone or
// before an extension, trailing spaces ignored ("nul.txt", "Com1 .log", "Lpt0.x"). Such a
// name opens the device in any folder. Other text, ASCII or not, is a file name. The answer is
// the same on every system.
bool isDeviceName(std::u16string_view fileName);

// Text in the platform's narrow encoding: UTF-8 on POSIX; the ANSI code page on Windows.
// Unrepresentable characters become '?'; malformed input becomes U+FFFD; never throws except
// bad_alloc.
std::string wideToNarrow(std::u16string_view text);
std::u16string narrowToWide(std::string_view text);

// UTF-8 <-> UTF-16 on every system (for command lines and file names written by tools).
std::string toUtf8(std::u16string_view text);
std::u16string fromUtf8(std::string_view text);

}  // namespace quillmesh::platform
