// The in-memory 3D scene handed from the model reader to the descriptor
// writers: lights, cameras, meshes, materials and animation key sets, each a
// list in insertion order, plus a few scene-wide settings. Its vocabulary is
// the host's, not the ModelFile's.
//
// The scene owns every element, array and record reachable from it. All of
// its memory comes from the scene allocation gate (scene/scene_memory.h);
// every operation below reports exhausted memory as a null or false result
// and leaves what it was adding to valid and unchanged. Nothing here checks
// indices (polygon corners, material indices): they are stored as given.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "scene/scene_memory.h"

namespace quillmesh {

// Longest texts, in bytes (the buffers they came from hold one byte more for
// the terminator).
inline constexpr std::size_t kSceneNameMaxLength = 255;
inline constexpr std::size_t kTexturePathMaxLength = 2047;
// Preservation texts have no buffer limit; they are bounded so that their
// length always fits the host's 32-bit data length.
inline constexpr std::size_t kPreservationTextMaxLength = 0x7FFFFFFF;

inline constexpr std::size_t kSceneTextureMapCount = 32;
// Array counts are 32-bit in the host's data; no array grows beyond this.
inline constexpr std::size_t kSceneMaxEntries = 0x7FFFFFFF;

// UTF-8 text of at most MaxLength bytes (names, texture paths and every other
// scene text; the descriptor writer hands each to the host as UTF-16). A text
// is taken up to its first NUL byte and then cut to MaxLength bytes, as a
// NUL-terminated copy into a buffer of MaxLength + 1 bytes would be, except
// that the cut moves back to the start of a character it would split, so a
// cut text is still well-formed UTF-8. Bytes that are not UTF-8 are kept as
// they are (the writer turns them into U+FFFD).
template <std::size_t MaxLength>
class SceneText {
  public:
    static constexpr std::size_t kMaxLength = MaxLength;

    SceneText() = default;
    // Throws std::bad_alloc when the gate refuses (scene code catches it).
    explicit SceneText(std::string_view text) : text_(clip(text)) {}

    // False, and the text unchanged, when memory is exhausted.
    bool assign(std::string_view text) noexcept {
        const std::string_view clipped = clip(text);
        try {
            text_.assign(clipped.data(), clipped.size());
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    std::string_view view() const noexcept { return {text_.data(), text_.size()}; }
    const char* c_str() const noexcept { return text_.c_str(); }
    std::size_t size() const noexcept { return text_.size(); }
    bool empty() const noexcept { return text_.empty(); }

    // `text` up to its first NUL: what the text holds before it is cut.
    static constexpr std::string_view untilNul(std::string_view text) noexcept {
        return text.substr(0, text.find('\0'));
    }

    // The stored form of `text`.
    static constexpr std::string_view clip(std::string_view text) noexcept {
        text = untilNul(text);
        if (text.size() <= MaxLength) {
            return text;
        }
        // text[cut] is the first byte left out. While it continues a
        // character, that character began before the cut: leave it out
        // whole. A character has at most three continuation bytes, so a
        // longer run is not UTF-8 and is cut where it stands.
        std::size_t cut = MaxLength;
        for (int stepped = 0;
             stepped < kMaxContinuationBytes && cut > 0 && isContinuationByte(text[cut]);
             ++stepped) {
            --cut;
        }
        if (isContinuationByte(text[cut])) {
            cut = MaxLength;
        }
        return text.substr(0, cut);
    }

  private:
    static constexpr int kMaxContinuationBytes = 3;
    static constexpr bool isContinuationByte(char byte) noexcept {
        return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u;
    }

    SceneString text_;
};

using SceneName = SceneText<kSceneNameMaxLength>;
using SceneTexturePath = SceneText<kTexturePathMaxLength>;
using ScenePreservationText = SceneText<kPreservationTextMaxLength>;

// Elements of one kind in insertion order. Each element is its own record
// (lights, cameras, meshes, materials and key sets are few and large), held
// in one contiguous array of owners, so an element never moves while its list
// lives and what points into it (the material index's names) stays valid.
template <class T>
class SceneList {
  public:
    template <class Element, class Slot>
    class Iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = std::remove_const_t<Element>;
        using difference_type = std::ptrdiff_t;
        using pointer = Element*;
        using reference = Element&;

        Iterator() = default;
        explicit Iterator(Slot* slot) : slot_(slot) {}
        reference operator*() const { return **slot_; }
        pointer operator->() const { return slot_->get(); }
        Iterator& operator++() {
            ++slot_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const Iterator&, const Iterator&) = default;

      private:
        Slot* slot_ = nullptr;
    };
    using Owners = SceneArray<SceneOwner<T>>;
    using iterator = Iterator<T, SceneOwner<T>>;
    using const_iterator = Iterator<const T, const SceneOwner<T>>;

    // Appends the element behind the last one. Null is ignored. Throws
    // std::bad_alloc when the array cannot grow (the element is then
    // released and the list is unchanged).
    void append(SceneOwner<T> element) {
        if (element) {
            elements_.push_back(std::move(element));
        }
    }

    T& operator[](std::size_t index) noexcept { return *elements_[index]; }
    const T& operator[](std::size_t index) const noexcept { return *elements_[index]; }
    std::size_t size() const noexcept { return elements_.size(); }
    bool empty() const noexcept { return elements_.empty(); }

    iterator begin() noexcept { return iterator(elements_.data()); }
    iterator end() noexcept { return iterator(elements_.data() + elements_.size()); }
    const_iterator begin() const noexcept { return const_iterator(elements_.data()); }
    const_iterator end() const noexcept {
        return const_iterator(elements_.data() + elements_.size());
    }

  private:
    Owners elements_;
};

// Optional record of data the host keeps for elements it wrote itself. An
// absent text (nullopt) differs from an empty one in the descriptor.
struct ScenePreservation {
    std::optional<ScenePreservationText> id;
    std::optional<ScenePreservationText> subId;
    std::optional<ScenePreservationText> name;
    std::optional<ScenePreservationText> extraData;
    int32_t flags = 0;
    std::optional<ScenePreservationText> controller;
    std::optional<ScenePreservationText> animations;
    std::optional<ScenePreservationText> effectProfiles;
};

struct SceneVector3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    friend bool operator==(const SceneVector3&, const SceneVector3&) = default;
};

struct SceneUV {
    double u = 0.0;
    double v = 0.0;
    friend bool operator==(const SceneUV&, const SceneUV&) = default;
};

// One line of a mesh: its first and second point arrays are written as
// "lncl" and "lnfl"; `value` is not written.
struct SceneLine {
    SceneVector3 first;
    SceneVector3 second;
    int32_t value = 0;
};

// One corner of a polygon. The four per-corner indices live together, so a
// polygon's index arrays can never disagree about its corner count.
struct SceneCorner {
    int32_t vertex = 0;
    int32_t normal = 0;
    int32_t uv = 0;
    int32_t auxiliary = 0;  // the conversion sets it equal to the vertex index
    friend bool operator==(const SceneCorner&, const SceneCorner&) = default;
};

// One polygon of a mesh: cornerCount entries of the mesh's corners from
// firstCorner. A mesh's polygons use its corner array in order, each polygon's
// corners following the previous polygon's.
struct ScenePolygon {
    uint32_t firstCorner = 0;
    uint32_t cornerCount = 0;
    int32_t attributeA = 0;
    int32_t attributeB = 0;
    int32_t materialIndex = 0;  // into the scene's material list, 0 = first
};

struct SceneLight {
    SceneName name;
    int32_t type = 0;
    double positionX = 0.0;
    double positionY = 0.0;
    double positionZ = 0.0;
    double targetX = 0.0;
    double targetY = 0.0;
    double targetZ = 0.0;
    double red = 0.0;
    double green = 0.0;
    double blue = 0.0;
    double hotspot = 0.0;
    double falloff = 0.0;
    int32_t shadow = 0;
    bool attenuationOn = false;
    int32_t attenuationType = 0;
    double attenuationA = 0.0;
    double attenuationB = 0.0;
    double attenuationC = 0.0;
    double outerRadius = 0.0;
    double innerRadius = 0.0;
    double multiplier = 0.0;
    bool switchedOn = false;
    double ssmlValue = 0.0;
    SceneOwner<ScenePreservation> preservation;
};

struct SceneCamera {
    SceneName name;
    double positionX = 0.0;
    double positionY = 0.0;
    double positionZ = 0.0;
    double targetX = 0.0;
    double targetY = 0.0;
    double targetZ = 0.0;
    double bank = 0.0;
    double lens = 0.0;
    bool orthographic = false;
    double aspectRatio = 0.0;
    double zoomFactor = 0.0;
    SceneOwner<ScenePreservation> preservation;
};

// Row-major 4 x 4: row 0 columns 0..3, then row 1, and so on.
using SceneMatrix = std::array<double, 16>;

struct SceneMesh {
    SceneName name;
    // The counts of the host's data are the arrays' sizes.
    SceneArray<SceneVector3> vertices;  // stored as (x, -z, y) of the model
    SceneArray<SceneUV> uvs;
    SceneArray<ScenePolygon> polygons;
    SceneArray<SceneCorner> corners;  // every polygon's corners, polygon after polygon
    SceneArray<SceneLine> lines;
    int32_t flags = 87;
    int32_t hidden = 0;
    int32_t shadow = 1;
    SceneMatrix matrix{};  // all 0.0, not the identity
    bool hmatFlag = false;
    // Set by the conversion when the mesh has no normals: the host derives them itself.
    bool hostDerivesNormals = false;
    SceneArray<SceneVector3> normals;  // stored as (x, -z, y) of the model
    SceneArray<SceneVector3> vertexVectors;
    bool misvFlag = false;
    bool miscFlag = true;
    bool missFlag = true;
    bool misiFlag = false;
    SceneOwner<ScenePreservation> preservation;

    // The polygon's corners; empty when its range lies outside the corner array.
    std::span<const SceneCorner> cornersOf(const ScenePolygon& polygon) const noexcept {
        const std::size_t first = polygon.firstCorner;
        const std::size_t count = polygon.cornerCount;
        if (first > corners.size() || count > corners.size() - first) {
            return {};
        }
        return {corners.data() + first, count};
    }
};

// One texture map slot of a material; the slot index is the map's type.
struct SceneTextureMap {
    SceneTexturePath path;
    double strength = 1.0;
    double uScale = 1.0;
    double vScale = 1.0;
    double uOffset = 0.0;
    double vOffset = 0.0;
    double angle = 0.0;
    int32_t flags = 16;
    double minimum = 0.0;
    double maximum = 1.0;
    bool mstyFlag = false;
    SceneName paintType;
    SceneName layerName;
};

struct SceneMaterial {
    SceneMaterial() : name() {}
    // Throws std::bad_alloc when the gate refuses (scene code catches it).
    explicit SceneMaterial(std::string_view materialName)
        : name(materialName), nameBeyondCut(wholeNameIfCut(materialName, name)) {}

    // The text the scene's name index finds the material by: the whole name it was created with
    // (up to a NUL), also where `name` holds only its first 255 bytes.
    std::string_view lookupName() const noexcept {
        return nameBeyondCut.empty() ? name.view() : std::string_view(nameBeyondCut);
    }

    // Fixed at creation: the scene's name index refers to it.
    const SceneName name;
    // The whole name when `name` had to cut it, else empty. Fixed at creation, as `name`.
    const SceneString nameBeyondCut;
    double ambientRed = 30.0 / 255.0;
    double ambientGreen = 30.0 / 255.0;
    double ambientBlue = 30.0 / 255.0;
    double diffuseRed = 192.0 / 255.0;
    double diffuseGreen = 192.0 / 255.0;
    double diffuseBlue = 192.0 / 255.0;
    double specularRed = 192.0 / 255.0;
    double specularGreen = 192.0 / 255.0;
    double specularBlue = 192.0 / 255.0;
    double emissiveRed = 0.0;
    double emissiveGreen = 0.0;
    double emissiveBlue = 0.0;
    double shininess = 0.2;
    double secondShininess = 1.0;
    double transparency = 0.0;
    double reflection = 0.15;
    int32_t selfValue = 0;
    int32_t shadValue = 4;
    std::array<SceneTextureMap, kSceneTextureMapCount> maps{};
    bool twoSided = true;
    bool wireframe = false;
    bool declFlag = false;
    double wfszValue = 0.0;
    double rfacValue = 1.0;
    SceneOwner<ScenePreservation> preservation;

  private:
    static SceneString wholeNameIfCut(std::string_view given, const SceneName& stored) {
        const std::string_view whole = SceneName::untilNul(given);
        return whole.size() > stored.size() ? SceneString(whole.data(), whole.size())
                                            : SceneString();
    }
};

// One animation key. The comments name the key each value is written under.
struct SceneKeyFrame {
    double frameNumber = 0.0;      // "KAfn"
    int32_t frameFlags = 0;        // "KAff"
    double tension = 0.0;          // "KAft"
    double continuity = 0.0;       // "KAfc"
    double bias = 0.0;             // "KAfb"
    double easeTo = 0.0;           // "KAet"
    double easeFrom = 0.0;         // "KAef"
    double rotation = 0.0;         // "KAro"
    double value = 0.0;            // "KAvl"
    double valueX = 0.0;           // "KAvx"
    double valueY = 0.0;           // "KAvy"
    double valueZ = 0.0;           // "KAvz"
    bool quaternionValid = false;  // "KAuq"
    double quaternionW = 0.0;      // "KAqw"
    double quaternionX = 0.0;      // "KAqx"
    double quaternionY = 0.0;      // "KAqy"
    double quaternionZ = 0.0;      // "KAqz"
};

struct SceneKeyTrack {
    SceneName name;
    int32_t flags = 0;
    SceneArray<SceneKeyFrame> keys;  // the key count is keys.size()
};

struct SceneKeySet {
    SceneName name;
    SceneName instanceName;
    int32_t nodeId = 0;
    int32_t parentId = 0;
    int32_t flagsO = 0;
    int32_t flagsT = 0;
    double pivotX = 0.0;
    double pivotY = 0.0;
    double pivotZ = 0.0;
    bool pivotPresent = false;
    bool localMatrix = false;
    SceneMatrix matrix{};
    bool rgblFlag = false;
    int32_t type = 0;
    SceneList<SceneKeyTrack> positionTracks;
    SceneList<SceneKeyTrack> rotationTracks;
    SceneList<SceneKeyTrack> scaleTracks;
    SceneList<SceneKeyTrack> colourTracks;
    SceneList<SceneKeyTrack> fieldOfViewTracks;
    SceneList<SceneKeyTrack> hotspotTracks;
    SceneList<SceneKeyTrack> falloffTracks;
    SceneList<SceneKeyTrack> rollTracks;
    SceneList<SceneKeyTrack> hiddenTracks;
    SceneList<SceneKeyTrack> morphTracks;
    SceneOwner<ScenePreservation> preservation;
};

struct SceneGeoLocation {
    double latitude = 0.0;
    double longitude = 0.0;
    double altitude = 0.0;
    int32_t altitudeMode = 0;
    double heading = 0.0;
    double tilt = 0.0;
    double roll = 0.0;
    double scaleX = 0.0;
    double scaleY = 0.0;
    double scaleZ = 0.0;
};

// Name -> position of the first material of that name in the scene's
// material list, kept by the scene for findOrCreateMaterial. Names are the
// materials' whole names (lookupName), not the stored 255 bytes, so names
// alike only in their first 255 bytes stay apart. Keys view the materials'
// own (fixed) names, which stay where they are while the list lives.
// Materials appended to the list are taken into the index at the next
// lookup, so it always agrees with the list; a name already present keeps its
// first material.
class SceneMaterialIndex {
  public:
    // The position of the first material whose lookupName is `name` (taken
    // up to a NUL, not cut), or nullopt. Throws std::bad_alloc when catching
    // up with the list needs memory.
    std::optional<std::size_t> find(const SceneList<SceneMaterial>& materials,
                                    std::string_view name);

  private:
    using Entry = std::pair<const std::string_view, std::size_t>;
    std::unordered_map<std::string_view, std::size_t, std::hash<std::string_view>,
                       std::equal_to<std::string_view>, SceneAllocator<Entry>>
        byName_;
    std::size_t indexed_ = 0;  // list positions below this are in the map
};

struct ImportScene {
    SceneList<SceneLight> lights;
    SceneList<SceneCamera> cameras;
    SceneList<SceneMesh> meshes;
    SceneList<SceneMaterial> materials;
    SceneList<SceneKeySet> keySets;
    // The single-precision 0.1 widened, as the host's own scenes carry it.
    double ambientRed = static_cast<double>(0.1f);
    double ambientGreen = static_cast<double>(0.1f);
    double ambientBlue = static_cast<double>(0.1f);
    double globalUnit = 1.0;
    SceneName globalName;
    int32_t animationStart = 0;
    int32_t frameCount = 0;
    double framesPerSecond = 30.0;
    SceneName sceneName;
    SceneOwner<SceneGeoLocation> geoLocation;
    bool flip = false;
    SceneMaterialIndex materialIndex;
};

// A new empty scene with its defaults, or null when memory is exhausted.
ImportScene* createImportScene();

// Frees the scene and everything it owns; null is ignored.
void releaseImportScene(ImportScene* scene);

struct ImportSceneDeleter {
    void operator()(ImportScene* scene) const { releaseImportScene(scene); }
};
using ImportSceneOwner = std::unique_ptr<ImportScene, ImportSceneDeleter>;

// A new scene read from the ModelFile at `path` (NUL-terminated UTF-16, at
// most 259 units), or null when the scene cannot be made or the file cannot
// be opened or loaded (damaged, truncated, not a ModelFile, an unsupported
// version). The conversion is scene/model_conversion.h's. The caller releases
// the scene with releaseImportScene.
ImportScene* loadSceneFromModelFile(const char16_t* path);

// Appends `element` to `list`. Null is ignored. False, with the element
// released and the list unchanged, when the list cannot grow.
template <class T>
bool appendElement(SceneList<T>& list, SceneOwner<T> element) noexcept {
    try {
        list.append(std::move(element));
    } catch (const std::exception&) {  // out of memory, or past an array's limit
        return false;
    }
    return true;
}

// The first material created with the name `name` byte for byte
// (case-sensitive), else a new material with the defaults, named by at most
// 255 bytes of `name` (UTF-8, SceneText::clip) and appended to the scene's
// materials. `name` is taken up to its first NUL and compared whole: two
// names that differ only after their first 255 bytes are two materials
// (stored under the same 255 bytes), and neither is the material of those
// 255 bytes alone. Null only when memory is exhausted (the list is then
// unchanged). `position`, when given, receives the material's position in
// the list. Constant time on average, however many materials there are.
SceneMaterial* findOrCreateMaterial(ImportScene& scene, std::string_view name,
                                    std::size_t* position = nullptr);

// A new mesh named by at most 255 bytes of `name`, with the mesh defaults and,
// for each positive count, an array of exactly that many zeroed entries (a
// count of 0 or less leaves the array empty). A positive polygon count gives
// polygons without corners. Null when any allocation fails; nothing is kept.
// The caller appends the mesh to the scene's mesh list.
SceneOwner<SceneMesh> createSceneMesh(std::string_view name, int32_t vertexCount,
                                      int32_t polygonCount, int32_t uvCount, int32_t normalCount,
                                      int32_t lineCount, int32_t vertexVectorCount);

// The scene's axes for a model position or normal (x, y, z): (x, -z, y).
constexpr SceneVector3 sceneAxes(double x, double y, double z) noexcept {
    return SceneVector3{x, -z, y};
}

// Appends a polygon with `corners` behind the mesh's last polygon. False, and
// the mesh unchanged, when memory is exhausted or the mesh would hold more
// than kSceneMaxEntries polygons or corners.
bool appendPolygon(SceneMesh& mesh, std::span<const SceneCorner> corners, int32_t attributeA,
                   int32_t attributeB, int32_t materialIndex) noexcept;

// Releases every array the mesh owns and its preservation record; the mesh
// itself stays, with no geometry.
void releaseSceneMeshContents(SceneMesh& mesh);

}  // namespace quillmesh
