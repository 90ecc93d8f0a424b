// The POSIX half of the platform layer. Paths are handed to the system as UTF-8, with '\\'
// turned into '/': ModelFiles are written on Windows, and the names they carry use backslashes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <utility>

#include "platform/platform.h"

namespace quillmesh::platform {
namespace {

// Files of 4 GiB or more do not fit the 32-bit lengths of the ModelFile format.
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFu;
// Linux moves at most about 2 GiB per read or write call; asking for 1 GiB keeps every call
// within what the system does in one go.
constexpr size_t kMaxTransfer = size_t{1} << 30;

bool isSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}

// The path as the C library takes it, or nothing when the path cannot be named: it is empty,
// holds a NUL (the system would cut the path there and name another file) or an unpaired
// surrogate (which has no UTF-8 form).
std::optional<std::string> systemPath(const std::u16string& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    std::u16string adjusted = path;
    for (size_t i = 0; i < adjusted.size(); ++i) {
        char16_t& unit = adjusted[i];
        if (unit == u'\0') {
            return std::nullopt;
        }
        if (unit == u'\\') {
            unit = u'/';
        } else if (isSurrogate(unit)) {
            const bool pairedHigh = unit <= 0xDBFF && i + 1 < adjusted.size() &&
                                    adjusted[i + 1] >= 0xDC00 && adjusted[i + 1] <= 0xDFFF;
            if (!pairedHigh) {
                return std::nullopt;
            }
            ++i;
        }
    }
    return toUtf8(adjusted);
}

int openRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports the result: a failed close can mean data never reached the disk.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

  private:
    int fd_;
};

}  // namespace

FileReadStatus readWholeFile(const std::u16string& path, std::vector<uint8_t>& out) {
    out = std::vector<uint8_t>();
    const std::optional<std::string> name = systemPath(path);
    if (!name) {
        return FileReadStatus::kCannotOpen;
    }
    // O_NONBLOCK keeps a FIFO from holding the open until a writer comes; it does nothing for
    // the regular files that are read below.
    FileDescriptor file(openRetrying(name->c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file.valid()) {
        return FileReadStatus::kCannotOpen;
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return FileReadStatus::kCannotOpen;
    }
    if (static_cast<uint64_t>(info.st_size) > kMaxFileSize) {
        return FileReadStatus::kTooLarge;
    }
    const auto size = static_cast<size_t>(info.st_size);

    std::vector<uint8_t> buffer;
    try {
        reserveLarge(buffer, size);
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        return FileReadStatus::kCannotRead;
    }
    size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::read(file.get(), buffer.data() + done, std::min(size - done, kMaxTransfer));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // An error, or the file ended early because it shrank since fstat.
            return FileReadStatus::kCannotRead;
        }
        done += static_cast<size_t>(got);
    }
    out = std::move(buffer);
    return FileReadStatus::kOk;
}

bool writeWholeFile(const std::u16string& path, std::span<const uint8_t> bytes) {
    const std::optional<std::string> name = systemPath(path);
    if (!name) {
        return false;
    }
    FileDescriptor file(
        openRetrying(name->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
    if (!file.valid()) {
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t put =
            ::write(file.get(), bytes.data() + done, std::min(bytes.size() - done, kMaxTransfer));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return file.close();
}

bool createNewFile(const std::u16string& path, std::span<const uint8_t> bytes) {
    const std::optional<std::string> name = systemPath(path);
    if (!name) {
        return false;
    }
    // O_EXCL with O_CREAT fails for any existing entry, a symbolic link included (it is not
    // followed); O_NOFOLLOW says the same for systems that might read it otherwise.
    FileDescriptor file(openRetrying(
        name->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644));
    if (!file.valid()) {
        return false;
    }
    size_t done = 0;
    bool written = true;
    while (done < bytes.size()) {
        const ssize_t put =
            ::write(file.get(), bytes.data() + done, std::min(bytes.size() - done, kMaxTransfer));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            written = false;
            break;
        }
        done += static_cast<size_t>(put);
    }
    if (!file.close() || !written) {
        // The file is ours (just created exclusively); a partial copy is worse than none.
        ::unlink(name->c_str());
        return false;
    }
    return true;
}

bool setCurrentDirectory(const std::u16string& directory) {
    const std::optional<std::string> name = systemPath(directory);
    return name && ::chdir(name->c_str()) == 0;
}

std::u16string currentDirectory() {
    std::string buffer(256, '\0');
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    // A directory whose name is not UTF-8 has no faithful UTF-16 form; a path with U+FFFD in
    // it would name another directory, so report a failure instead.
    std::u16string directory = fromUtf8(buffer);
    if (toUtf8(directory) != buffer) {
        return {};
    }
    return directory;
}

bool fileExists(const std::u16string& path) {
    const std::optional<std::string> name = systemPath(path);
    struct stat info {};
    return name && ::stat(name->c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

std::string wideToNarrow(std::u16string_view text) {
    return toUtf8(text);
}

std::u16string narrowToWide(std::string_view text) {
    return fromUtf8(text);
}

}  // namespace quillmesh::platform
