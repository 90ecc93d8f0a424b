// The container layer: from a path or a byte image to a filled model. Reads the file whole,
// checks the header, decompresses a compressed body, and runs the counting pass, the allocation
// and the decoding pass. A load that does not succeed leaves an empty model and no image.
#include <exception>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include <zlib.h>

#include "model/kvt_plugin.h"
#include "platform/platform.h"

namespace quillmesh {
namespace {

// A zlib stream cannot expand its input more than about 1032 to 1; an image size beyond that
// for the stream's bytes is a lie, refused before allocating it.
constexpr uint64_t kMaxZlibExpansion = 1032;

// Image words filled by the second part of a short header.
constexpr std::size_t kShortHeaderFirstPart = 14;
constexpr std::size_t kShortHeaderSecondPartStart = 18;

std::size_t boundedLength(const char16_t* text, std::size_t limit) {
    std::size_t length = 0;
    while (length <= limit && text[length] != u'\0') {
        ++length;
    }
    return length;
}

}  // namespace

KVTPlugin::KVTPlugin() noexcept = default;

KVTPlugin::~KVTPlugin() {
    releaseBuffer();
    clearModel();
}

void ModelData::clearModel() noexcept {
    lights.release();
    cameras.release();
    groups.release();
    bones.release();
    // A material's maps go with it; a layered map's layers go before the map itself.
    materials.release();
    vertices.release();
    auxRecords.release();
    uvSets.release();
    animations.release();
    meshes.release();
    std::vector<EmbeddedFile>().swap(embeddedFiles);
    declaredCounts.fill(0);
    nameListCount = 0;
    cornerTotal = 0;
}

void KVTPlugin::releaseBuffer() noexcept {
    std::vector<uint8_t>().swap(fileBuffer_);
    bufferHeld_ = false;
    length_ = 0;
    readCursor = 0;
}

int KVTPlugin::loadModel(const char16_t* path) noexcept {
    releaseBuffer();
    clearModel();
    if (path == nullptr) {
        return kLoadCannotOpen;
    }
    const std::size_t pathLength = boundedLength(path, kSourcePathMaxLength);
    if (pathLength > kSourcePathMaxLength) {
        return kLoadCannotOpen;
    }
    try {
        const std::u16string pathText(path, pathLength);
        std::vector<uint8_t> image;
        switch (platform::readWholeFile(pathText, image)) {
            case platform::FileReadStatus::kOk:
                break;
            case platform::FileReadStatus::kCannotOpen:
                return kLoadCannotOpen;
            case platform::FileReadStatus::kCannotRead:
            case platform::FileReadStatus::kTooLarge:
                return kLoadFailed;
        }
        if (image.size() > std::numeric_limits<uint32_t>::max()) {
            return kLoadFailed;
        }
        sourcePath = pathText;
        fileBuffer_ = std::move(image);
    } catch (const std::bad_alloc&) {
        releaseBuffer();
        clearModel();
        return kLoadFailed;
    }
    length_ = static_cast<uint32_t>(fileBuffer_.size());
    bufferHeld_ = true;
    readCursor = 0;
    return loadHeldImage();
}

int KVTPlugin::loadModelFromMemory(std::span<const uint8_t> bytes,
                                   const std::u16string& path) noexcept {
    releaseBuffer();
    clearModel();
    if (path.size() > kSourcePathMaxLength) {
        return kLoadCannotOpen;
    }
    try {
        sourcePath = path;
    } catch (const std::bad_alloc&) {
        return kLoadFailed;
    }
    if (!holdImage(bytes)) {
        return kLoadFailed;
    }
    return loadHeldImage();
}

bool KVTPlugin::holdImage(std::span<const uint8_t> bytes) noexcept {
    releaseBuffer();
    if (bytes.size() > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    try {
        fileBuffer_.assign(bytes.begin(), bytes.end());
    } catch (const std::bad_alloc&) {
        releaseBuffer();
        return false;
    }
    length_ = static_cast<uint32_t>(fileBuffer_.size());
    bufferHeld_ = true;
    readCursor = 0;
    return true;
}

int KVTPlugin::loadHeldImage() noexcept {
    const int result = parseModel();
    releaseBuffer();
    if (result != kLoadSucceeded) {
        clearModel();
    }
    return result;
}

int KVTPlugin::readHeader(ModelHeader& image) noexcept {
    image.words.fill(0);
    for (std::size_t word = 0; word < 4; ++word) {
        if (!readUInt32(image.words[word])) {
            return 0;
        }
    }
    if (image.version() >= kLongHeaderVersion) {
        for (std::size_t word = 4; word < kHeaderImageWords; ++word) {
            if (!readUInt32(image.words[word])) {
                return 0;
            }
        }
        return 1;
    }
    for (std::size_t word = 4; word < kShortHeaderFirstPart; ++word) {
        if (!readUInt32(image.words[word])) {
            return 0;
        }
    }
    const std::size_t secondPartWords = kShortHeaderWords - kShortHeaderFirstPart;
    for (std::size_t word = 0; word < secondPartWords; ++word) {
        if (!readUInt32(image.words[kShortHeaderSecondPartStart + word])) {
            return 0;
        }
    }
    return 1;
}

int KVTPlugin::decompressBody(const ModelHeader& image) noexcept {
    return decompressStream(image.streamOffset(), image.totalLength());
}

int KVTPlugin::decompressStream(uint32_t streamOffset, uint32_t imageLength) noexcept {
    if (!bufferHeld_ || length_ == 0 || imageLength == 0) {
        return 0;
    }
    // An offset beyond the end leaves no stream at all (and must not wrap the source length).
    if (streamOffset > length_) {
        return 0;
    }
    const uint32_t sourceLength = length_ - streamOffset;
    if (imageLength > uint64_t{sourceLength} * kMaxZlibExpansion) {
        return 0;
    }
    std::vector<uint8_t> decompressed;
    try {
        decompressed.resize(imageLength);
    } catch (const std::bad_alloc&) {
        return 0;
    } catch (const std::length_error&) {
        return 0;
    }
    uLongf producedLength = imageLength;
    const int status = uncompress(decompressed.data(), &producedLength,
                                  fileBuffer_.data() + streamOffset, sourceLength);
    if (status != Z_OK || producedLength == 0) {
        return 0;
    }
    // producedLength <= imageLength, so shrinking never allocates.
    decompressed.resize(producedLength);
    fileBuffer_.swap(decompressed);
    length_ = static_cast<uint32_t>(producedLength);
    readCursor = 0;
    return 1;
}

int KVTPlugin::parseModel() noexcept {
    try {
        // Chunked files have a shorter header of their own, so they are told apart by the
        // version word alone: a small chunked file may be shorter than a classic header.
        uint32_t leadingWords[2]{};
        if (readUInt32(leadingWords[0]) && readUInt32(leadingWords[1]) &&
            leadingWords[1] >= kChunkedModelVersion) {
            return version34Reader();
        }
        readCursor = 0;
        ModelHeader image;
        if (!readHeader(image)) {
            return kLoadFailed;
        }
        if (image.magic() != kModelMagic) {
            return kLoadBadMagic;
        }
        if (image.version() < kMinimumModelVersion) {
            return kLoadUnsupportedVersion;
        }
        if (image.hasFlag(kFlagCompressed)) {
            if (!decompressBody(image)) {
                return kLoadFailed;
            }
            // The inner header is checked for magic, length and the lowest version only: its
            // compression bit and the chunked-version limit do not apply to it.
            if (!readHeader(image)) {
                return kLoadFailed;
            }
            if (image.magic() != kModelMagic) {
                return kLoadBadMagic;
            }
            if (image.totalLength() != length_) {
                return kLoadLengthMismatch;
            }
            if (image.version() < kMinimumModelVersion) {
                return kLoadUnsupportedVersion;
            }
        } else if (image.totalLength() != length_) {
            return kLoadLengthMismatch;
        }
        model.version = static_cast<int32_t>(image.version());

        const uint32_t bodyStart = readCursor;
        if (!countSections(image)) {
            return kLoadFailed;
        }
        model.nameListCount = image.nameListCount();
        if (!allocateSections()) {
            return kLoadFailed;
        }
        readCursor = bodyStart;
        return decodeSections(image) ? kLoadSucceeded : kLoadFailed;
    } catch (const std::exception&) {
        // Exhausted memory (or a container size error) inside a pass fails the load.
        return kLoadFailed;
    }
}

}  // namespace quillmesh
