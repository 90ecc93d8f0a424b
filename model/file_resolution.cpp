// The resolve stage: embedded files written beside the model and texture names resolved against
// the model's folder, after the parse and apart from it.
#include "model/file_resolution.h"

#include <array>
#include <exception>
#include <string>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "model/texture_maps.h"
#include "platform/platform.h"

namespace quillmesh {
namespace {

class SystemFileSystem final : public ModelFileSystem {
  public:
    bool fileExists(const std::u16string& path) override { return platform::fileExists(path); }
    bool createNewFile(const std::u16string& path, std::span<const uint8_t> content) override {
        return platform::createNewFile(path, content);
    }
};

bool isAsciiLetter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z');
}

bool isSeparator(char16_t unit) {
    return unit == u'\\' || unit == u'/';
}

// Whether the rule of the version's layout lets an existing stored name be kept.
bool versionKeepsNames(int32_t version) {
    return usesNewMapLayout(version) ? version >= kNewLayoutKeptNameVersion
                                     : version == kOldLayoutKeptNameVersion;
}

class NameResolver {
  public:
    NameResolver(ModelFileSystem& files, std::u16string_view folder, int32_t version)
        : files_(files), folder_(folder), version_(version) {}

    // Whether `name` names an existing file; a relative name is looked up in the model's folder.
    // Each path is probed once: materials often share their textures.
    bool exists(const ModelName& name) {
        const std::u16string_view text = name.wide();
        if (text.empty() || reachesBeyondFiles(text)) {
            return false;
        }
        path_.clear();
        if (!namesItsPlace(text)) {
            path_.append(folder_);
        }
        path_.append(text);
        const auto known = probed_.find(path_);
        if (known != probed_.end()) {
            return known->second;
        }
        const bool found = files_.fileExists(path_);
        probed_.emplace(path_, found);
        return found;
    }

    // Keeps `name` or replaces it by `directory` and its file-name part. The probe is made only
    // when the version could keep the name.
    bool resolve(ModelName& name, std::u16string_view directory) {
        const bool found = versionKeepsNames(version_) && exists(name);
        return resolveTexturePath(name, directory, version_, found, name);
    }

    bool resolveMap(TextureMap& map) {
        const bool newLayout = usesNewMapLayout(version_);
        if (auto* layered = std::get_if<MapKind4Record>(&map.record)) {
            // New-layout layers were always resolved to their file-name part alone.
            const std::u16string_view directory = newLayout ? std::u16string_view() : folder_;
            for (MapLayer& layer : layered->layers) {
                if (!resolve(layer.fileName, directory)) {
                    return false;
                }
            }
            return true;
        }
        if (auto* faces = std::get_if<MapKind5Record>(&map.record)) {
            if (!newLayout) {
                for (ModelName& face : faces->faces) {
                    if (!resolve(face, folder_)) {
                        return false;
                    }
                }
                return true;
            }
            // The new layout keeps the six faces together or replaces them together.
            bool allExist = versionKeepsNames(version_);
            for (const ModelName& face : faces->faces) {
                if (!allExist) {
                    break;
                }
                allExist = exists(face);
            }
            for (ModelName& face : faces->faces) {
                if (!resolveTexturePath(face, folder_, version_, allExist, face)) {
                    return false;
                }
            }
            return true;
        }
        ModelName* single = map.fileName();
        return single == nullptr || resolve(*single, folder_);
    }

  private:
    ModelFileSystem& files_;
    std::u16string_view folder_;
    int32_t version_;
    std::u16string path_;
    std::unordered_map<std::u16string, bool> probed_;
};

// Writes `file` as the folder + the file-name part of its stored name, unless that part is not a
// plain file name. Failures are ignored: a file that cannot be written does not make the model
// unreadable.
void writeEmbeddedFile(ModelFileSystem& files, std::u16string_view folder,
                       const EmbeddedFile& file) {
    const std::u16string fileName = platform::fileNamePart(file.name.wide());
    // A ':' left in the name would make a Windows stream of another file; a device name would
    // send the content to a device (the console, a serial port) on Windows.
    if (fileName.empty() || fileName == u"." || fileName == u".." ||
        fileName.find(u':') != std::u16string::npos || platform::isDeviceName(fileName)) {
        return;
    }
    static_cast<void>(files.createNewFile(std::u16string(folder) + fileName, file.content));
}

void writeEmbeddedFiles(ModelFileSystem& files, std::u16string_view folder,
                        const std::vector<EmbeddedFile>& embedded, bool beforeMaterials) {
    for (const EmbeddedFile& file : embedded) {
        if (file.beforeMaterials == beforeMaterials) {
            writeEmbeddedFile(files, folder, file);
        }
    }
}

}  // namespace

ModelFileSystem& systemFileSystem() noexcept {
    static SystemFileSystem files;
    return files;
}

std::u16string modelDirectory(std::u16string_view sourcePath) {
    platform::PathParts parts = platform::splitPath(sourcePath);
    std::u16string directory = std::move(parts.drive) + parts.directory;
    if (!directory.empty() && directory.back() != u'\\' && directory.back() != u'/') {
        directory.push_back(u'\\');
    }
    return directory;
}

bool namesItsPlace(std::u16string_view name) noexcept {
    if (!name.empty() && (name[0] == u'\\' || name[0] == u'/')) {
        return true;
    }
    return name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == u':';
}

bool reachesBeyondFiles(std::u16string_view name) noexcept {
    if (name.size() >= 2 && isSeparator(name[0]) && isSeparator(name[1])) {
        return true;
    }
    // The object namespace: "\??\C:\x.png" goes to the system unchanged.
    if (name.size() >= 4 && isSeparator(name[0]) && name[1] == u'?' && name[2] == u'?' &&
        isSeparator(name[3])) {
        return true;
    }
    const std::size_t lastSeparator = name.find_last_of(u"\\/");
    std::u16string_view fileName = name;
    if (lastSeparator != std::u16string_view::npos) {
        fileName.remove_prefix(lastSeparator + 1);
    } else if (name.size() >= 2 && isAsciiLetter(name[0]) && name[1] == u':') {
        fileName.remove_prefix(2);
    }
    return platform::isDeviceName(fileName);
}

bool resolveTexturePath(const ModelName& stored, std::u16string_view directory, int32_t version,
                        bool exists, ModelName& out) noexcept {
    try {
        if (exists && versionKeepsNames(version)) {
            out = stored;
            return true;
        }
        // `out` may be `stored` itself: take the text before replacing anything.
        const std::u16string filePart = platform::fileNamePart(stored.wide());
        if (filePart.empty()) {
            // Nothing names a file here; the bare directory would not name one either.
            out.clear();
            return true;
        }
        return out.assignWide(std::u16string(directory) + filePart);
    } catch (const std::exception&) {
        return false;
    }
}

bool resolveModelFiles(ModelData& model, std::u16string_view folder,
                       ModelFileSystem& files) noexcept {
    bool resolved = true;
    try {
        writeEmbeddedFiles(files, folder, model.embeddedFiles, true);
        NameResolver resolver(files, folder, model.version);
        for (ModelMaterial& material : model.materials.items) {
            for (const std::unique_ptr<TextureMap>& map : material.maps) {
                if (resolved && map != nullptr) {
                    resolved = resolver.resolveMap(*map);
                }
            }
        }
        writeEmbeddedFiles(files, folder, model.embeddedFiles, false);
    } catch (const std::exception&) {
        resolved = false;
    }
    std::vector<EmbeddedFile>().swap(model.embeddedFiles);
    return resolved;
}

}  // namespace quillmesh
