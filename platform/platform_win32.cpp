// The Win32 half of the platform layer: the wide file APIs, and the ANSI code page for narrow
// text. wchar_t appears only in the Windows sides of platform/, where the APIs ask for it
// (see win32_text.h).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

#include "platform/platform.h"
#include "platform/win32_text.h"

namespace quillmesh::platform {
namespace {

// Files of 4 GiB or more do not fit the 32-bit lengths of the ModelFile format.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;
// Largest piece handed to one ReadFile or WriteFile call.
constexpr DWORD kMaxTransfer = DWORD{1} << 30;
// Largest piece of text handed to one conversion call, well inside its int lengths.
constexpr size_t kMaxConversionChunk = size_t{1} << 24;
constexpr char16_t kReplacementCharacter = 0xFFFD;

// The path for the wide APIs, or false when it cannot be named: it is empty or holds a NUL
// (the system would cut the path there and name another file).
bool systemPath(const std::u16string& path, std::wstring& out) {
    if (path.empty() || path.find(u'\0') != std::u16string::npos) {
        return false;
    }
    out = toWide(path);
    return true;
}

class FileHandle {
  public:
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle() {
        if (valid()) {
            CloseHandle(handle_);
        }
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Closes now and reports the result: a failed close can mean data never reached the disk.
    bool close() {
        const HANDLE handle = std::exchange(handle_, INVALID_HANDLE_VALUE);
        return CloseHandle(handle) != 0;
    }

  private:
    HANDLE handle_;
};

// Shares reading and writing like the C runtime's fopen, so a file another program has open
// can still be imported.
HANDLE openFile(const std::wstring& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

// End of the next piece of wide text to convert: at most kMaxConversionChunk units, never
// between the two halves of a surrogate pair.
size_t wideChunkEnd(std::u16string_view text, size_t start) {
    if (text.size() - start <= kMaxConversionChunk) {
        return text.size();
    }
    size_t end = start + kMaxConversionChunk;
    if (isHighSurrogate(text[end - 1])) {
        --end;
    }
    return end;
}

// Length in bytes of the character starting at text[i] in a single- or double-byte code page;
// a lead byte at the very end counts alone.
size_t ansiCharacterLength(std::string_view text, size_t i, UINT codePage, bool doubleByte) {
    if (doubleByte && i + 1 < text.size() &&
        IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[i])) != 0) {
        return 2;
    }
    return 1;
}

// End of the next piece of narrow text to convert: at most kMaxConversionChunk bytes, never
// inside a double-byte character.
size_t narrowChunkEnd(std::string_view text, size_t start, UINT codePage, bool doubleByte) {
    if (text.size() - start <= kMaxConversionChunk) {
        return text.size();
    }
    const size_t limit = start + kMaxConversionChunk;
    size_t end = start;
    while (end < limit) {
        const size_t length = ansiCharacterLength(text, end, codePage, doubleByte);
        if (end + length > limit) {
            break;
        }
        end += length;
    }
    return end;
}

// Appends `piece` converted strictly, or returns false when it holds an invalid sequence.
bool appendAnsiStrict(std::string_view piece, UINT codePage, std::u16string& out) {
    const int pieceLength = static_cast<int>(piece.size());
    const int needed =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, piece.data(), pieceLength, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    std::wstring converted(static_cast<size_t>(needed), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, piece.data(), pieceLength,
                            converted.data(), needed) != needed) {
        return false;
    }
    out += fromWide(converted);
    return true;
}

// Appends the narrow text of one piece; a character the code page does not define becomes
// U+FFFD, one for each byte sequence the code page reads as one character.
void appendAnsi(std::string_view piece, UINT codePage, bool doubleByte, std::u16string& out) {
    if (piece.empty() || appendAnsiStrict(piece, codePage, out)) {
        return;
    }
    size_t i = 0;
    while (i < piece.size()) {
        const size_t length = ansiCharacterLength(piece, i, codePage, doubleByte);
        if (!appendAnsiStrict(piece.substr(i, length), codePage, out)) {
            out.push_back(kReplacementCharacter);
        }
        i += length;
    }
}

// Appends the ANSI form of one piece of wide text. WC_NO_BEST_FIT_CHARS keeps the system from
// putting a look-alike in place of a character the code page lacks: in a file name that could
// name another file. Such characters become '?'.
void appendWideAsAnsi(std::u16string_view piece, UINT codePage, std::string& out) {
    if (piece.empty()) {
        return;
    }
    const std::wstring wide = toWide(piece);
    const int wideLength = static_cast<int>(wide.size());
    const char defaultCharacter[] = "?";
    for (const DWORD flags : {DWORD{WC_NO_BEST_FIT_CHARS}, DWORD{0}}) {
        const int needed = WideCharToMultiByte(codePage, flags, wide.data(), wideLength, nullptr, 0,
                                               defaultCharacter, nullptr);
        if (needed <= 0) {
            continue;
        }
        const size_t start = out.size();
        out.resize(start + static_cast<size_t>(needed));
        if (WideCharToMultiByte(codePage, flags, wide.data(), wideLength, out.data() + start,
                                needed, defaultCharacter, nullptr) == needed) {
            return;
        }
        out.resize(start);
    }
    // The code page refuses the conversion altogether: every character is unrepresentable.
    for (size_t i = 0; i < piece.size(); ++i) {
        if (isHighSurrogate(piece[i]) && i + 1 < piece.size()) {
            ++i;
        }
        out.push_back('?');
    }
}

}  // namespace

std::wstring toWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string fromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

FileReadStatus readWholeFile(const std::u16string& path, std::vector<uint8_t>& out) {
    out = std::vector<uint8_t>();
    std::wstring name;
    if (!systemPath(path, name)) {
        return FileReadStatus::kCannotOpen;
    }
    // Without FILE_FLAG_BACKUP_SEMANTICS a directory does not open.
    FileHandle file(openFile(name, GENERIC_READ, OPEN_EXISTING));
    if (!file.valid()) {
        return FileReadStatus::kCannotOpen;
    }
    // Devices, consoles and pipes have no length to read.
    if (GetFileType(file.get()) != FILE_TYPE_DISK) {
        return FileReadStatus::kCannotOpen;
    }
    LARGE_INTEGER length{};
    if (GetFileSizeEx(file.get(), &length) == 0 || length.QuadPart < 0) {
        return FileReadStatus::kCannotRead;
    }
    if (static_cast<uint64_t>(length.QuadPart) > kMaxFileSize) {
        return FileReadStatus::kTooLarge;
    }
    const auto size = static_cast<size_t>(length.QuadPart);

    std::vector<uint8_t> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return FileReadStatus::kCannotRead;
    }
    size_t done = 0;
    while (done < size) {
        const auto request = static_cast<DWORD>(std::min<size_t>(size - done, kMaxTransfer));
        DWORD got = 0;
        if (ReadFile(file.get(), buffer.data() + done, request, &got, nullptr) == 0 || got == 0) {
            // An error, or the file ended early because it shrank since its length was taken.
            return FileReadStatus::kCannotRead;
        }
        done += got;
    }
    out = std::move(buffer);
    return FileReadStatus::kOk;
}

bool writeWholeFile(const std::u16string& path, std::span<const uint8_t> bytes) {
    std::wstring name;
    if (!systemPath(path, name)) {
        return false;
    }
    FileHandle file(openFile(name, GENERIC_WRITE, CREATE_ALWAYS));
    if (!file.valid()) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const auto request =
            static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kMaxTransfer));
        DWORD put = 0;
        if (WriteFile(file.get(), bytes.data() + done, request, &put, nullptr) == 0 || put == 0) {
            return false;
        }
        done += put;
    }
    return file.close();
}

bool createNewFile(const std::u16string& path, std::span<const uint8_t> bytes) {
    std::wstring name;
    if (!systemPath(path, name)) {
        return false;
    }
    // CREATE_NEW fails for any existing file; FILE_FLAG_OPEN_REPARSE_POINT keeps an existing
    // reparse point (a link) from being followed should the system ever reach it.
    FileHandle file(CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
        return false;
    }
    size_t done = 0;
    bool written = true;
    while (done < bytes.size()) {
        const auto request =
            static_cast<DWORD>(std::min<size_t>(bytes.size() - done, kMaxTransfer));
        DWORD put = 0;
        if (WriteFile(file.get(), bytes.data() + done, request, &put, nullptr) == 0 || put == 0) {
            written = false;
            break;
        }
        done += put;
    }
    if (!file.close() || !written) {
        // The file is ours (just created as new); a partial copy is worse than none.
        DeleteFileW(name.c_str());
        return false;
    }
    return true;
}

bool setCurrentDirectory(const std::u16string& directory) {
    std::wstring name;
    return systemPath(directory, name) && SetCurrentDirectoryW(name.c_str()) != 0;
}

std::u16string currentDirectory() {
    // The length asked for includes the terminator; the directory may change between the two
    // calls (another thread), so ask again until the buffer is large enough.
    DWORD capacity = GetCurrentDirectoryW(0, nullptr);
    while (capacity != 0) {
        std::wstring buffer(capacity, L'\0');
        const DWORD length = GetCurrentDirectoryW(capacity, buffer.data());
        if (length == 0) {
            return {};
        }
        if (length < capacity) {
            buffer.resize(length);
            return fromWide(buffer);
        }
        capacity = length;
    }
    return {};
}

// Access 0 asks for neither reading nor writing: the probe succeeds for a file that exists
// even when the file is locked or unreadable to us, and it changes nothing.
bool fileExists(const std::u16string& path) {
    std::wstring name;
    if (!systemPath(path, name)) {
        return false;
    }
    FileHandle file(openFile(name, 0, OPEN_EXISTING));
    return file.valid();
}

std::string wideToNarrow(std::u16string_view text) {
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8) {
        return toUtf8(text);
    }
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = wideChunkEnd(text, start);
        appendWideAsAnsi(text.substr(start, end - start), codePage, out);
        start = end;
    }
    return out;
}

std::u16string narrowToWide(std::string_view text) {
    const UINT codePage = GetACP();
    if (codePage == CP_UTF8) {
        return fromUtf8(text);
    }
    CPINFO info{};
    const bool doubleByte = GetCPInfo(codePage, &info) != 0 && info.MaxCharSize > 1;
    std::u16string out;
    out.reserve(text.size());
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = narrowChunkEnd(text, start, codePage, doubleByte);
        appendAnsi(text.substr(start, end - start), codePage, doubleByte, out);
        start = end;
    }
    return out;
}

}  // namespace quillmesh::platform
