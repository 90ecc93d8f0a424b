// The resolve stage: what a loaded model needs of the file system, kept apart from the parse so
// that parsing stays a function of the file's bytes. It runs after a successful parse, given the
// model's folder explicitly: version-34 embedded files are written into the folder, and stored
// texture file names are kept or replaced by a name in the folder, depending on whether the file
// they name exists.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/kvt_plugin.h"

namespace quillmesh {

// The file services of the resolve stage. The system's own are systemFileSystem(); tests and the
// fuzz target give their own.
class ModelFileSystem {
  public:
    virtual ~ModelFileSystem() = default;
    // Whether `path` names a file that can be opened.
    virtual bool fileExists(const std::u16string& path) = 0;
    // Creates `path` with `content`; never over anything that exists and never through a link.
    virtual bool createNewFile(const std::u16string& path, std::span<const uint8_t> content) = 0;
};

// The operating system's files (platform/).
ModelFileSystem& systemFileSystem() noexcept;

// The drive and directory of `sourcePath` with a separator appended unless the directory already
// ends in one ('\\' or '/'; '\\' is the one appended). A path without drive or directory gives
// the empty text: a bare name is then looked up in the current directory. Throws only
// std::bad_alloc.
std::u16string modelDirectory(std::u16string_view sourcePath);

// Whether a file name already says where it is: a drive ("X:" at its start) or a root ('\\' or
// '/' at its start, which includes network names). Other names are relative to a folder.
bool namesItsPlace(std::u16string_view name) noexcept;

// Whether opening `name` could reach beyond the files of this machine: a network or device path
// (two separators at its start, as in "\\server\share\x.png", "//server/x.png", "\\.\COM1"
// and "\\?\C:\x.png", or the object-namespace prefix "\??\"), or a name whose file-name part
// Windows takes for a device ("C:\maps\con.png", platform::isDeviceName). Even a probe of such a
// name can contact another machine, handing it the user's credentials, or open a device; the
// resolve stage never probes one and takes it for the name of no existing file.
bool reachesBeyondFiles(std::u16string_view name) noexcept;

// Old layout: a stored texture name existing on disk is kept only in files of this version.
inline constexpr int32_t kOldLayoutKeptNameVersion = 10;
// New layout: a stored texture name existing on disk is kept from this version on.
inline constexpr int32_t kNewLayoutKeptNameVersion = 33;

// The name kept in the model for the texture name `stored` read from a file of `version`
// (the version also selects the map-entry layout); `exists` tells whether `stored` names an
// existing file. The name is kept when it exists and the version allows it (old layout: version
// 10; new layout: version 33 and later); otherwise it is replaced by `directory` followed by its
// file-name part. Kept names are `stored` itself; replaced names are built from the wide text, so
// that folder and file names outside the 8-bit code page survive on Windows. A name without a
// file-name part (the empty name among others) names no file and is stored empty rather than as the
// bare directory. False only when memory runs out (`out` then unchanged).
bool resolveTexturePath(const ModelName& stored, std::u16string_view directory, int32_t version,
                        bool exists, ModelName& out) noexcept;

// The resolve stage for a model whose file lies in `folder` (modelDirectory of its path: empty or
// ending in a separator). Embedded files the file stored before its materials are written first,
// then every texture name is resolved (names relative to the folder are probed inside it; a path
// that several names lead to is probed once; a name that reachesBeyondFiles is never probed and
// counts as not existing), then the remaining embedded files are written.
// Embedded files go under their file-name part only, never over anything existing; one that
// cannot be written is skipped. The embedded contents are released afterwards. False only when
// memory runs out (names resolved so far stay resolved).
bool resolveModelFiles(ModelData& model, std::u16string_view folder,
                       ModelFileSystem& files) noexcept;

}  // namespace quillmesh
