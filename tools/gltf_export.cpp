#include "tools/gltf_export.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <exception>
#include <fstream>  // the library's file writers are compiled (never called) without its file system
#include <limits>
#include <map>
#include <new>
#include <ostream>
#include <span>
#include <streambuf>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "tools/scene_blocks.h"

// The library's implementation is compiled here, without its image codecs and file system
// routines: the model is serialised to a stream and images are only referred to by URI.
#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#define TINYGLTF_NO_FS
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wall"
#pragma GCC diagnostic ignored "-Wextra"
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wunused-variable"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wtype-limits"
#endif
#include <tiny_gltf.h>
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

namespace quillmesh::tool {
namespace {

namespace fs = std::filesystem;
using qmhost::Descriptor;
using qmhost::Value;
using qmhost::ValueKind;

constexpr std::size_t kPolygonMaterialOffset = 16;
constexpr int32_t kDiffuseSlot = 0;
// Below this many vertices a mesh's indices fit unsigned shorts (65,535 itself is reserved).
constexpr std::size_t kShortIndexVertices = 65535;
// A glTF buffer's length, and the whole of a binary file, must fit 32 bits; the JSON gets the
// last 16 MiB.
constexpr std::size_t kMaxBufferBytes = 0xFFFFFFFFu - (std::size_t{1} << 24);

// Little-endian writes, byte by byte (the reads are scene_blocks.h's).
void storeU16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void storeU32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}
void storeF32(std::vector<uint8_t>& out, float value) {
    storeU32(out, std::bit_cast<uint32_t>(value));
}

// `value` as a float when it is finite and within the float range (a conversion outside it is
// undefined).
std::optional<float> finiteFloat(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    return static_cast<float>(value);
}

using Float3 = std::array<float, 3>;
using Float2 = std::array<float, 2>;

std::optional<Float3> finiteFloat3(const uint8_t* bytes) {
    Float3 out{};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::optional<float> value = finiteFloat(loadF64(bytes + 8 * i));
        if (!value) {
            return std::nullopt;
        }
        out[i] = *value;
    }
    return out;
}

// The normal scaled to unit length, or nothing when it has no usable length.
std::optional<Float3> unitNormal(const uint8_t* bytes) {
    const double x = loadF64(bytes);
    const double y = loadF64(bytes + 8);
    const double z = loadF64(bytes + 16);
    const double length = std::hypot(x, y, z);
    if (!std::isnormal(length)) {
        return std::nullopt;
    }
    return Float3{static_cast<float>(x / length), static_cast<float>(y / length),
                  static_cast<float>(z / length)};
}

// The UV with V turned back: the host's V is 1 - glTF's.
std::optional<Float2> gltfUV(const uint8_t* bytes) {
    const std::optional<float> u = finiteFloat(loadF64(bytes));
    const std::optional<float> v = finiteFloat(1.0 - loadF64(bytes + 8));
    if (!u || !v) {
        return std::nullopt;
    }
    return Float2{*u, *v};
}

std::string nameOf(const Descriptor& descriptor) {
    return textOf(descriptor, "Nm  ");
}

// A float (or integer) value, or `fallback` when there is none or it is not finite.
double numberOr(const Descriptor& descriptor, const char (&code)[5], double fallback) {
    const Value* value = descriptor.find(qmhost::fourcc(code));
    double number = fallback;
    if (value != nullptr && value->kind() == ValueKind::Float) {
        number = value->asFloat();
    } else if (value != nullptr && value->kind() == ValueKind::Integer) {
        number = value->asInteger();
    }
    return std::isfinite(number) ? number : fallback;
}

// ---------------------------------------------------------------------------------------------
// Texture URIs

bool isUnreserved(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' || byte == '~';
}

void appendPercentEncoded(std::string& out, std::u8string_view segment) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    for (const char8_t unit : segment) {
        const auto byte = static_cast<unsigned char>(unit);
        if (isUnreserved(byte)) {
            out.push_back(static_cast<char>(byte));
        } else {
            out.push_back('%');
            out.push_back(kHex[byte >> 4]);
            out.push_back(kHex[byte & 0xF]);
        }
    }
}

// Text the file system can name exactly: no NUL and no unpaired surrogate (which would name
// another file once converted).
bool expressiblePath(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == 0) {
            return false;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

// `texturePath` relative to `folder` as a URI reference: its segments percent-encoded, joined by
// '/'. Nothing when the path is not rooted (on Windows \models\wood.png is rooted, on the
// drive of the folder when the folder has none either) or cannot be reached from the folder by a
// relative path (another drive or share), or names the folder itself.
std::optional<std::string> textureUri(std::u16string_view texturePath, const fs::path& folder) {
    if (texturePath.empty() || !expressiblePath(texturePath)) {
        return std::nullopt;
    }
    const std::string utf8 = platform::toUtf8(texturePath);
    const fs::path texture(std::u8string(utf8.begin(), utf8.end()));
    if (!texture.has_root_directory()) {
        return std::nullopt;
    }
    const fs::path relative =
        texture.lexically_normal().lexically_relative(folder.lexically_normal());
    if (relative.empty() || relative.has_root_path()) {
        return std::nullopt;
    }
    std::string uri;
    for (const fs::path& element : relative) {
        const std::u8string segment = element.u8string();
        if (segment.empty() || segment == u8".") {
            return std::nullopt;  // a folder, not a file
        }
        if (!uri.empty()) {
            uri.push_back('/');
        }
        appendPercentEncoded(uri, segment);
    }
    return uri.empty() ? std::nullopt : std::optional(uri);
}

// ---------------------------------------------------------------------------------------------
// Materials

struct MaterialSet {
    // glTF material per scene material, and its copy without texture (or -1 before it is needed)
    // for meshes without UVs, which a textured material cannot be used with.
    std::vector<int> textured;
    std::vector<int> untextured;
    std::vector<bool> hasTexture;
};

std::optional<std::u16string> diffuseTexturePath(const Descriptor& material) {
    const Value* maps = findKind(material, "mapl", ValueKind::List);
    if (maps == nullptr) {
        return std::nullopt;
    }
    for (const Value& map : maps->asList()) {
        if (map.kind() != ValueKind::Object) {
            continue;
        }
        const Value* slot = findKind(map.asObject(), "Type", ValueKind::Integer);
        const Value* path = findKind(map.asObject(), "Nm  ", ValueKind::Text);
        if (slot != nullptr && slot->asInteger() == kDiffuseSlot && path != nullptr &&
            !path->asText().empty()) {
            return path->asText();
        }
    }
    return std::nullopt;
}

constexpr double kHalfSqrt2 = 0.70710678118654752440;

double unitInterval(double value) {
    return std::clamp(value, 0.0, 1.0);
}

// The host's colours are display (sRGB) values; glTF's base colour factor is linear.
double linearFromDisplay(double value) {
    const double c = unitInterval(value);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

tinygltf::Material gltfMaterial(const Descriptor& material) {
    tinygltf::Material out;
    out.name = nameOf(material);
    const double opacity = unitInterval(1.0 - numberOr(material, "Trns", 0.0));
    out.pbrMetallicRoughness.baseColorFactor = {linearFromDisplay(numberOr(material, "dred", 1.0)),
                                                linearFromDisplay(numberOr(material, "dgrn", 1.0)),
                                                linearFromDisplay(numberOr(material, "dblu", 1.0)),
                                                opacity};
    out.pbrMetallicRoughness.metallicFactor = 0.0;
    out.pbrMetallicRoughness.roughnessFactor = 1.0;
    out.alphaMode = opacity < 1.0 ? "BLEND" : "OPAQUE";
    const Value* twoSided = findKind(material, "twos", ValueKind::Boolean);
    out.doubleSided = twoSided != nullptr && twoSided->asBoolean();
    return out;
}

MaterialSet addMaterials(const Descriptor& scene, const fs::path& outputFolder,
                         tinygltf::Model& model, GltfExportSummary& summary) {
    MaterialSet set;
    const Value* materials = findKind(scene, "mtll", ValueKind::List);
    if (materials == nullptr) {
        return set;
    }
    const std::vector<Value>& items = materials->asList();
    set.textured.reserve(items.size());
    set.untextured.assign(items.size(), -1);
    set.hasTexture.assign(items.size(), false);
    std::map<std::string, int> textureForUri;
    const Descriptor empty;
    for (std::size_t i = 0; i < items.size(); ++i) {
        // An item that is not an object still takes its place, so that polygons' material
        // positions keep naming the materials they name.
        const Descriptor& material =
            items[i].kind() == ValueKind::Object ? items[i].asObject() : empty;
        tinygltf::Material out = gltfMaterial(material);
        if (const std::optional<std::u16string> path = diffuseTexturePath(material)) {
            const std::optional<std::string> uri = textureUri(*path, outputFolder);
            if (!uri) {
                ++summary.texturesNotExpressible;
            } else {
                auto [found, added] =
                    textureForUri.try_emplace(*uri, static_cast<int>(model.textures.size()));
                if (added) {
                    tinygltf::Image image;
                    image.uri = *uri;
                    model.images.push_back(std::move(image));
                    tinygltf::Texture texture;
                    texture.source = static_cast<int>(model.images.size() - 1);
                    model.textures.push_back(std::move(texture));
                }
                out.pbrMetallicRoughness.baseColorTexture.index = found->second;
                set.hasTexture[i] = true;
            }
        }
        set.textured.push_back(static_cast<int>(model.materials.size()));
        model.materials.push_back(std::move(out));
    }
    return set;
}

// The glTF material for polygons of scene material `index` (-1: none) in a mesh with or without
// UVs.
int materialFor(MaterialSet& set, tinygltf::Model& model, std::size_t index, bool meshHasUVs) {
    if (index >= set.textured.size()) {
        return -1;
    }
    if (meshHasUVs || !set.hasTexture[index]) {
        return set.textured[index];
    }
    if (set.untextured[index] < 0) {
        tinygltf::Material copy = model.materials[static_cast<std::size_t>(set.textured[index])];
        copy.pbrMetallicRoughness.baseColorTexture = tinygltf::TextureInfo();
        set.untextured[index] = static_cast<int>(model.materials.size());
        model.materials.push_back(std::move(copy));
    }
    return set.untextured[index];
}

// ---------------------------------------------------------------------------------------------
// Meshes

struct MeshBlocks {
    std::span<const uint8_t> positions, normals, uvs, polygons, corners;
    std::size_t vertexCount = 0, normalCount = 0, uvCount = 0, polygonCount = 0, cornerCount = 0;
};

// The mesh's blocks; nothing when one is not a whole number of entries.
std::optional<MeshBlocks> meshBlocks(const Descriptor& mesh) {
    MeshBlocks blocks;
    blocks.positions = blockOf(mesh, "verl");
    blocks.normals = blockOf(mesh, "nrml");
    blocks.uvs = blockOf(mesh, "uvl ");
    blocks.polygons = blockOf(mesh, "facl");
    blocks.corners = blockOf(mesh, "faci");
    if (blocks.positions.size() % kVectorEntryBytes != 0 ||
        blocks.normals.size() % kVectorEntryBytes != 0 || blocks.uvs.size() % kUVEntryBytes != 0 ||
        blocks.polygons.size() % kPolygonEntryBytes != 0 ||
        blocks.corners.size() % kCornerEntryBytes != 0) {
        return std::nullopt;
    }
    blocks.vertexCount = blocks.positions.size() / kVectorEntryBytes;
    blocks.normalCount = blocks.normals.size() / kVectorEntryBytes;
    blocks.uvCount = blocks.uvs.size() / kUVEntryBytes;
    blocks.polygonCount = blocks.polygons.size() / kPolygonEntryBytes;
    blocks.cornerCount = blocks.corners.size() / kCornerEntryBytes;
    return blocks;
}

struct Corner {
    uint32_t vertex = 0;
    uint32_t normal = 0;
    uint32_t uv = 0;
    friend bool operator==(const Corner&, const Corner&) = default;
};

// Reads the polygons of a mesh in order: each polygon's corners follow the previous one's in
// "faci".
class PolygonWalk {
  public:
    explicit PolygonWalk(const MeshBlocks& blocks) : blocks_(blocks) {}

    enum class State { Valid, TooFewCorners, Invalid, PastCorners };
    struct Polygon {
        State state = State::Valid;
        std::size_t firstCorner = 0;
        std::size_t cornerCount = 0;
        int32_t material = 0;
    };

    // Polygon `index` (called for 0, 1, 2, ... in turn). Once one runs past the corners, all
    // later ones do.
    Polygon next(std::size_t index) {
        const uint8_t* record = blocks_.polygons.data() + index * kPolygonEntryBytes;
        Polygon polygon;
        polygon.cornerCount = loadU32(record);
        polygon.material = loadI32(record + kPolygonMaterialOffset);
        polygon.firstCorner = nextCorner_;
        if (pastCorners_ || polygon.cornerCount > blocks_.cornerCount - nextCorner_) {
            pastCorners_ = true;
            polygon.state = State::PastCorners;
            return polygon;
        }
        nextCorner_ += polygon.cornerCount;
        if (polygon.cornerCount < 3) {
            polygon.state = State::TooFewCorners;
            return polygon;
        }
        for (std::size_t k = 0; k < polygon.cornerCount; ++k) {
            const uint32_t vertex = cornerField(polygon.firstCorner + k, 0);
            if (vertex >= blocks_.vertexCount ||
                !finiteFloat3(blocks_.positions.data() + vertex * kVectorEntryBytes)) {
                polygon.state = State::Invalid;
                return polygon;
            }
        }
        return polygon;
    }

    // Field 0 (vertex), 1 (normal) or 2 (UV) of a corner; a negative index reads as one no block
    // holds.
    uint32_t cornerField(std::size_t corner, std::size_t field) const {
        return loadU32(blocks_.corners.data() + corner * kCornerEntryBytes + 4 * field);
    }

  private:
    const MeshBlocks& blocks_;
    std::size_t nextCorner_ = 0;
    bool pastCorners_ = false;
};

// Distinct corners, numbered in the order first seen: open addressing (linear probing) over
// indices into `corners`, sized once for `maxEntries` at a load of at most one half, so that it
// never grows and every probe ends.
class CornerTable {
  public:
    CornerTable(std::size_t maxEntries, std::size_t expectedEntries)
        : slots_(std::bit_ceil(std::max<std::size_t>(2 * maxEntries, 16)), 0),
          mask_(slots_.size() - 1) {
        corners.reserve(std::min(maxEntries, expectedEntries));
    }

    uint32_t indexOf(const Corner& corner) {
        std::size_t slot = hash(corner) & mask_;
        while (slots_[slot] != 0) {
            const uint32_t index = slots_[slot] - 1;
            if (corners[index] == corner) {
                return index;
            }
            slot = (slot + 1) & mask_;
        }
        const auto index = static_cast<uint32_t>(corners.size());
        corners.push_back(corner);
        slots_[slot] = index + 1;
        return index;
    }

    std::vector<Corner> corners;

  private:
    static std::size_t hash(const Corner& corner) {
        uint64_t h = (uint64_t{corner.vertex} << 32 | corner.normal) ^
                     (uint64_t{corner.uv} * 0x9E3779B97F4A7C15u);
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9u;
        h ^= h >> 27;
        h *= 0x94D049BB133111EBu;
        h ^= h >> 33;
        return static_cast<std::size_t>(h);
    }

    std::vector<uint32_t> slots_;  // index + 1, 0 for an empty slot
    std::size_t mask_;
};

class BufferWriter {
  public:
    explicit BufferWriter(tinygltf::Model& model) : model_(model) {}

    std::vector<uint8_t>& data() { return model_.buffers.front().data; }

    // Room for `bytes` more, growing geometrically across meshes.
    void reserve(std::size_t bytes) {
        std::vector<uint8_t>& out = data();
        if (bytes > kMaxBufferBytes - out.size()) {
            throw std::length_error("buffer");
        }
        if (out.capacity() - out.size() < bytes) {
            out.reserve(std::max(out.size() + bytes, 2 * out.capacity()));
        }
    }

    // A view of what `write` appends, from a 4-byte boundary.
    template <class Write>
    int view(int target, Write&& write) {
        std::vector<uint8_t>& out = data();
        out.resize((out.size() + 3) & ~std::size_t{3}, 0);
        tinygltf::BufferView bufferView;
        bufferView.buffer = 0;
        bufferView.byteOffset = out.size();
        bufferView.target = target;
        write(out);
        bufferView.byteLength = out.size() - bufferView.byteOffset;
        model_.bufferViews.push_back(bufferView);
        return static_cast<int>(model_.bufferViews.size() - 1);
    }

    int accessor(int bufferView, int componentType, int type, std::size_t count) {
        tinygltf::Accessor accessor;
        accessor.bufferView = bufferView;
        accessor.componentType = componentType;
        accessor.type = type;
        accessor.count = count;
        model_.accessors.push_back(std::move(accessor));
        return static_cast<int>(model_.accessors.size() - 1);
    }

  private:
    tinygltf::Model& model_;
};

class MeshExporter {
  public:
    MeshExporter(tinygltf::Model& model, MaterialSet& materials, GltfExportSummary& summary)
        : model_(model), materials_(materials), summary_(summary), buffer_(model) {}

    // The glTF mesh of one scene mesh, or -1 when it has no triangle to export.
    int add(const Descriptor& mesh) {
        const std::optional<MeshBlocks> found = meshBlocks(mesh);
        if (!found) {
            ++summary_.skippedMeshes;
            return -1;
        }
        const MeshBlocks& blocks = *found;

        // First pass: which polygons are kept, how many triangles each material gets, and
        // whether every kept corner can use its normal and UV.
        const std::size_t slots = materials_.textured.size() + 1;  // the last: no material
        std::vector<std::size_t> triangles(slots, 0);
        std::size_t keptCorners = 0;
        bool normalsUsable = blocks.normalCount != 0;
        bool uvsUsable = blocks.uvCount != 0;
        {
            PolygonWalk walk(blocks);
            for (std::size_t p = 0; p < blocks.polygonCount; ++p) {
                const PolygonWalk::Polygon polygon = walk.next(p);
                if (!countKept(polygon)) {
                    continue;
                }
                for (std::size_t k = 0; k < polygon.cornerCount; ++k) {
                    const std::size_t corner = polygon.firstCorner + k;
                    const uint32_t normal = walk.cornerField(corner, 1);
                    const uint32_t uv = walk.cornerField(corner, 2);
                    normalsUsable = normalsUsable && normal < blocks.normalCount &&
                                    unitNormal(blocks.normals.data() + normal * kVectorEntryBytes);
                    uvsUsable = uvsUsable && uv < blocks.uvCount &&
                                gltfUV(blocks.uvs.data() + uv * kUVEntryBytes);
                }
                keptCorners += polygon.cornerCount;
                triangles[slotOf(polygon.material, slots)] += polygon.cornerCount - 2;
                if (polygon.cornerCount > 3) {
                    ++summary_.fannedPolygons;
                }
                if (slotOf(polygon.material, slots) == slots - 1) {
                    ++summary_.unknownMaterialPolygons;
                }
            }
        }
        summary_.meshesWithoutNormals += normalsUsable ? 0 : 1;
        summary_.meshesWithoutUVs += uvsUsable ? 0 : 1;
        std::size_t triangleTotal = 0;
        std::vector<std::size_t> firstIndex(slots, 0);
        for (std::size_t slot = 0; slot < slots; ++slot) {
            firstIndex[slot] = 3 * triangleTotal;
            triangleTotal += triangles[slot];
        }
        if (triangleTotal == 0) {
            return -1;
        }

        // Second pass: the fans, through the distinct corners.
        // Most meshes have about one distinct corner per vertex.
        CornerTable table(keptCorners, blocks.vertexCount);
        std::vector<uint32_t> indices(3 * triangleTotal);
        {
            std::vector<std::size_t> written = firstIndex;
            PolygonWalk walk(blocks);
            const auto cornerAt = [&](std::size_t corner) {
                return table.indexOf(Corner{walk.cornerField(corner, 0),
                                            normalsUsable ? walk.cornerField(corner, 1) : 0,
                                            uvsUsable ? walk.cornerField(corner, 2) : 0});
            };
            for (std::size_t p = 0; p < blocks.polygonCount; ++p) {
                const PolygonWalk::Polygon polygon = walk.next(p);
                if (polygon.state != PolygonWalk::State::Valid) {
                    continue;
                }
                std::size_t& out = written[slotOf(polygon.material, slots)];
                const uint32_t first = cornerAt(polygon.firstCorner);
                uint32_t previous = cornerAt(polygon.firstCorner + 1);
                for (std::size_t k = 2; k < polygon.cornerCount; ++k) {
                    const uint32_t current = cornerAt(polygon.firstCorner + k);
                    indices[out++] = first;
                    indices[out++] = previous;
                    indices[out++] = current;
                    previous = current;
                }
            }
        }
        summary_.triangles += triangleTotal;
        summary_.vertices += table.corners.size();
        return writeMesh(mesh, blocks, table.corners, indices, triangles, firstIndex, normalsUsable,
                         uvsUsable);
    }

  private:
    static std::size_t slotOf(int32_t material, std::size_t slots) {
        return material >= 0 && static_cast<std::size_t>(material) < slots - 1
                   ? static_cast<std::size_t>(material)
                   : slots - 1;
    }

    // Counts a polygon that is not kept; true for one that is.
    bool countKept(const PolygonWalk::Polygon& polygon) {
        switch (polygon.state) {
            case PolygonWalk::State::Valid:
                return true;
            case PolygonWalk::State::TooFewCorners:
                ++summary_.droppedPolygons;
                return false;
            case PolygonWalk::State::Invalid:
            case PolygonWalk::State::PastCorners:
                ++summary_.invalidPolygons;
                return false;
        }
        return false;
    }

    int writeMesh(const Descriptor& mesh, const MeshBlocks& blocks,
                  const std::vector<Corner>& corners, const std::vector<uint32_t>& indices,
                  const std::vector<std::size_t>& triangles,
                  const std::vector<std::size_t>& firstIndex, bool withNormals, bool withUVs) {
        const std::size_t count = corners.size();
        const bool shortIndices = count < kShortIndexVertices;
        const std::size_t indexBytes = shortIndices ? 2 : 4;
        buffer_.reserve(count * (12 + (withNormals ? 12 : 0) + (withUVs ? 8 : 0)) +
                        indices.size() * indexBytes + 4 * (3 + triangles.size()));

        tinygltf::Primitive shared;
        shared.mode = TINYGLTF_MODE_TRIANGLES;
        {
            std::vector<double> minimum(3, std::numeric_limits<double>::infinity());
            std::vector<double> maximum(3, -std::numeric_limits<double>::infinity());
            const int view =
                buffer_.view(TINYGLTF_TARGET_ARRAY_BUFFER, [&](std::vector<uint8_t>& out) {
                    for (const Corner& corner : corners) {
                        // Every kept corner's position was checked in the first pass.
                        const Float3 position = *finiteFloat3(blocks.positions.data() +
                                                              corner.vertex * kVectorEntryBytes);
                        for (std::size_t axis = 0; axis < 3; ++axis) {
                            storeF32(out, position[axis]);
                            minimum[axis] = std::min<double>(minimum[axis], position[axis]);
                            maximum[axis] = std::max<double>(maximum[axis], position[axis]);
                        }
                    }
                });
            const int accessor =
                buffer_.accessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
            model_.accessors[static_cast<std::size_t>(accessor)].minValues = std::move(minimum);
            model_.accessors[static_cast<std::size_t>(accessor)].maxValues = std::move(maximum);
            shared.attributes["POSITION"] = accessor;
        }
        if (withNormals) {
            const int view =
                buffer_.view(TINYGLTF_TARGET_ARRAY_BUFFER, [&](std::vector<uint8_t>& out) {
                    for (const Corner& corner : corners) {
                        const Float3 normal =
                            *unitNormal(blocks.normals.data() + corner.normal * kVectorEntryBytes);
                        for (const float value : normal) {
                            storeF32(out, value);
                        }
                    }
                });
            shared.attributes["NORMAL"] =
                buffer_.accessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC3, count);
        }
        if (withUVs) {
            const int view =
                buffer_.view(TINYGLTF_TARGET_ARRAY_BUFFER, [&](std::vector<uint8_t>& out) {
                    for (const Corner& corner : corners) {
                        const Float2 uv = *gltfUV(blocks.uvs.data() + corner.uv * kUVEntryBytes);
                        storeF32(out, uv[0]);
                        storeF32(out, uv[1]);
                    }
                });
            shared.attributes["TEXCOORD_0"] =
                buffer_.accessor(view, TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_TYPE_VEC2, count);
        }

        tinygltf::Mesh out;
        out.name = nameOf(mesh);
        for (std::size_t slot = 0; slot < triangles.size(); ++slot) {
            if (triangles[slot] == 0) {
                continue;
            }
            const std::size_t first = firstIndex[slot];
            const std::size_t indexCount = 3 * triangles[slot];
            const int view = buffer_.view(
                TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, [&](std::vector<uint8_t>& bytes) {
                    for (std::size_t i = first; i < first + indexCount; ++i) {
                        if (shortIndices) {
                            storeU16(bytes, static_cast<uint16_t>(indices[i]));
                        } else {
                            storeU32(bytes, indices[i]);
                        }
                    }
                });
            tinygltf::Primitive primitive = shared;
            primitive.indices =
                buffer_.accessor(view,
                                 shortIndices ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT
                                              : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT,
                                 TINYGLTF_TYPE_SCALAR, indexCount);
            primitive.material = materialFor(materials_, model_, slot, withUVs);
            out.primitives.push_back(std::move(primitive));
        }
        model_.meshes.push_back(std::move(out));
        ++summary_.meshes;
        return static_cast<int>(model_.meshes.size() - 1);
    }

    tinygltf::Model& model_;
    MaterialSet& materials_;
    GltfExportSummary& summary_;
    BufferWriter buffer_;
};

// An output stream appending to a byte vector.
class ByteSink : public std::streambuf {
  public:
    explicit ByteSink(std::vector<uint8_t>& out) : out_(out) {}

  protected:
    int_type overflow(int_type ch) override {
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            out_.push_back(static_cast<uint8_t>(traits_type::to_char_type(ch)));
        }
        return traits_type::not_eof(ch);
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        out_.insert(out_.end(), reinterpret_cast<const uint8_t*>(text),
                    reinterpret_cast<const uint8_t*>(text) + count);
        return count;
    }

  private:
    std::vector<uint8_t>& out_;
};

std::optional<GltfExport> exportUnguarded(const Descriptor& scene, GltfForm form,
                                          const fs::path& outputFolder, std::string& error) {
    GltfExport result;
    tinygltf::Model model;
    model.asset.version = "2.0";
    model.asset.generator = "quillmesh-import";
    model.buffers.emplace_back();
    MaterialSet materials = addMaterials(scene, outputFolder, model, result.summary);

    tinygltf::Scene gltfScene;
    if (const Value* meshes = findKind(scene, "mshl", ValueKind::List)) {
        MeshExporter exporter(model, materials, result.summary);
        for (const Value& mesh : meshes->asList()) {
            if (mesh.kind() != ValueKind::Object) {
                ++result.summary.skippedMeshes;
                continue;
            }
            tinygltf::Node node;
            node.name = nameOf(mesh.asObject());
            // The host's axes have +Z up, glTF's +Y: the node turns its mesh a quarter round X
            // ((x, y, z) to (x, z, -y)), so that viewers show the model upright while the
            // positions stay those the host received.
            node.rotation = {-kHalfSqrt2, 0.0, 0.0, kHalfSqrt2};
            node.mesh = exporter.add(mesh.asObject());
            gltfScene.nodes.push_back(static_cast<int>(model.nodes.size()));
            model.nodes.push_back(std::move(node));
        }
    }
    result.summary.materials = model.materials.size();
    result.summary.textures = model.textures.size();
    model.scenes.push_back(std::move(gltfScene));
    model.defaultScene = 0;
    const std::size_t bufferBytes = model.buffers.front().data.size();
    if (bufferBytes == 0) {
        model.buffers.clear();  // a buffer must hold at least one byte
    }

    // The binary form holds the buffer once; the text form as base64.
    result.bytes.reserve(form == GltfForm::Binary ? bufferBytes + 65536
                                                  : bufferBytes / 3 * 4 + 65536);
    ByteSink sink(result.bytes);
    std::ostream stream(&sink);
    tinygltf::TinyGLTF writer;
    writer.SetImageWriter(nullptr, nullptr);
    const bool binary = form == GltfForm::Binary;
    if (!writer.WriteGltfSceneToStream(&model, stream, !binary, binary) || !stream) {
        error = "the glTF could not be serialised";
        return std::nullopt;
    }
    if (binary && (result.bytes.size() < 12 ||
                   loadU32(result.bytes.data() + 8) != static_cast<uint32_t>(result.bytes.size()) ||
                   result.bytes.size() > std::numeric_limits<uint32_t>::max())) {
        error = "the scene is too large for a binary glTF file (4 GiB at most)";
        return std::nullopt;
    }
    return result;
}

}  // namespace

std::optional<GltfForm> gltfFormFor(const fs::path& output) {
    std::string extension;
    for (const char8_t unit : output.extension().u8string()) {
        const auto byte = static_cast<char>(unit);
        extension.push_back(byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a')
                                                       : byte);
    }
    if (extension == ".gltf") {
        return GltfForm::Text;
    }
    if (extension == ".glb") {
        return GltfForm::Binary;
    }
    return std::nullopt;
}

std::optional<GltfExport> exportGltf(const qmhost::Descriptor& scene, const qmhost::IdRegistry&,
                                     GltfForm form, const fs::path& outputFolder,
                                     std::string& error) {
    try {
        return exportUnguarded(scene, form, outputFolder, error);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to build the glTF";
    } catch (const std::length_error&) {
        error = "the scene's geometry exceeds the 4 GiB a glTF buffer can hold";
    } catch (const std::exception& caught) {
        error = std::string("the glTF could not be built: ") + caught.what();
    }
    return std::nullopt;
}

}  // namespace quillmesh::tool
