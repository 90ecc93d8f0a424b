#include "scene/scene_writer.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/platform.h"
#include "scene/import_scene.h"
#include "scene/scene_memory.h"

namespace quillmesh {
namespace {

constexpr HostKey key(const char (&code)[5]) {
    return HOST_FOURCC(code[0], code[1], code[2], code[3]);
}

// The host's data lengths are signed 32-bit.
constexpr std::size_t kMaxBlockBytes = 0x7FFFFFFF;
constexpr std::size_t kVector3Bytes = 24;
constexpr std::size_t kUVBytes = 16;
constexpr std::size_t kPolygonRecordBytes = 36;
constexpr std::size_t kCornerRecordBytes = 16;
// Reserved bytes of a polygon record: after the corner count, and at the end.
constexpr std::size_t kPolygonGapBytes = 4;
constexpr std::size_t kPolygonTailBytes = 16;

// The routines the writer calls, checked once; references so that no call
// below can meet a null table.
struct Suites {
    const ActionDescriptorSuite& descriptor;
    const ActionListSuite& list;
    const ActionControlSuite& control;
    const ZStringSuite& zstring;
};

std::optional<Suites> usableSuites(const SceneWriterContext& context) {
    const ActionDescriptorSuite* descriptor = context.suites.descriptor;
    const ActionListSuite* list = context.suites.list;
    const ActionControlSuite* control = context.suites.control;
    const ZStringSuite* zstring = context.suites.zstring;
    if (descriptor == nullptr || list == nullptr || control == nullptr || zstring == nullptr) {
        return std::nullopt;
    }
    const bool complete = descriptor->make != nullptr && descriptor->free != nullptr &&
                          descriptor->putInteger != nullptr && descriptor->putFloat != nullptr &&
                          descriptor->putBoolean != nullptr && descriptor->putZString != nullptr &&
                          descriptor->putList != nullptr && descriptor->putObject != nullptr &&
                          descriptor->putData != nullptr && descriptor->asHandle != nullptr &&
                          list->make != nullptr && list->free != nullptr &&
                          list->putFloat != nullptr && list->putObject != nullptr &&
                          control->stringIDToTypeID != nullptr &&
                          zstring->makeFromUnicode != nullptr && zstring->release != nullptr;
    if (!complete) {
        return std::nullopt;
    }
    return Suites{*descriptor, *list, *control, *zstring};
}

// A descriptor or list the writer made, freed when the holder goes out of
// scope unless it was released to a caller. A make that reports an error is
// taken to have made nothing.
template <class Suite, class Ref>
class Owned {
  public:
    explicit Owned(const Suite& suite) : suite_(suite) {
        Ref made = nullptr;
        if (suite_.make(&made) == 0) {
            ref_ = made;
        }
    }
    Owned(const Suite& suite, Ref adopted) : suite_(suite), ref_(adopted) {}
    ~Owned() {
        if (ref_ != nullptr) {
            suite_.free(ref_);
        }
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;

    Ref get() const { return ref_; }
    explicit operator bool() const { return ref_ != nullptr; }
    Ref release() { return std::exchange(ref_, nullptr); }

  private:
    const Suite& suite_;
    Ref ref_ = nullptr;
};

struct OwnedDescriptor : Owned<ActionDescriptorSuite, DescriptorRef> {
    explicit OwnedDescriptor(const Suites& suites) : Owned(suites.descriptor) {}
    OwnedDescriptor(const Suites& suites, DescriptorRef adopted)
        : Owned(suites.descriptor, adopted) {}
};

struct OwnedList : Owned<ActionListSuite, ActionListRef> {
    explicit OwnedList(const Suites& suites) : Owned(suites.list) {}
};

// Typed puts on one descriptor. Their results are not examined: a value the
// host refuses is simply missing from the descriptor.
class Puts {
  public:
    Puts(const Suites& suites, DescriptorRef target) : suites_(suites), target_(target) {}

    void integer(HostKey key, int32_t value) const {
        suites_.descriptor.putInteger(target_, key, value);
    }
    void number(HostKey key, double value) const {
        suites_.descriptor.putFloat(target_, key, value);
    }
    void boolean(HostKey key, bool value) const {
        suites_.descriptor.putBoolean(target_, key, value ? 1 : 0);
    }
    // Scene texts are UTF-8; the host gets them as ZStrings made from their
    // UTF-16 form, so names and paths outside ASCII arrive intact. A text
    // that cannot be converted or made into a ZString is missing from the
    // descriptor, like a value the host refuses.
    void string(HostKey key, std::string_view utf8) const {
        std::u16string wide;
        try {
            wide = platform::fromUtf8(utf8);
        } catch (const std::exception&) {
            return;  // memory for the conversion ran out
        }
        if (wide.size() > std::numeric_limits<uint32_t>::max()) {
            return;
        }
        ZStringRef zstring = nullptr;
        const HostError error = suites_.zstring.makeFromUnicode(
            wide.c_str(), static_cast<uint32_t>(wide.size()), &zstring);
        if (zstring == nullptr) {
            return;
        }
        if (error == 0) {
            suites_.descriptor.putZString(target_, key, zstring);
        }
        suites_.zstring.release(zstring);
    }
    // `bytes` is at most kMaxBlockBytes long (every caller bounds it).
    void data(HostKey key, std::span<const uint8_t> bytes) const {
        suites_.descriptor.putData(target_, key, static_cast<int32_t>(bytes.size()), bytes.data());
    }
    void text(HostKey key, std::string_view text) const {
        data(key, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    void list(HostKey key, const OwnedList& list) const {
        suites_.descriptor.putList(target_, key, list.get());
    }
    // A host string ID, converted just before its put; 0 (refused by the put)
    // when the host cannot convert it.
    HostKey stringKey(const char* text) const {
        HostKey id = 0;
        if (suites_.control.stringIDToTypeID(text, &id) != 0) {
            id = 0;
        }
        return id;
    }

  private:
    const Suites& suites_;
    DescriptorRef target_;
};

void appendObject(const Suites& suites, const OwnedList& list, HostKey classKey,
                  const OwnedDescriptor& object) {
    suites.list.putObject(list.get(), classKey, object.get());
}

// A block's bytes, from the scene allocation gate and not zero-filled: every
// byte is written by the block's encoder.
class BlockBuffer {
  public:
    // False when entries x entryBytes does not fit the host's 32-bit length
    // or the gate refuses the buffer.
    bool allocate(std::size_t entries, std::size_t entryBytes) {
        if (entryBytes == 0 || entries > kMaxBlockBytes / entryBytes) {
            return false;
        }
        size_ = entries * entryBytes;
        try {
            bytes_.reset(static_cast<uint8_t*>(sceneAllocate(size_ == 0 ? 1 : size_)));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }
    uint8_t* data() { return bytes_.get(); }
    std::span<const uint8_t> bytes() const { return {bytes_.get(), size_}; }

  private:
    struct Release {
        void operator()(uint8_t* memory) const noexcept { sceneRelease(memory); }
    };
    std::unique_ptr<uint8_t[], Release> bytes_;
    std::size_t size_ = 0;
};

// Little-endian stores; each returns the position after what it wrote.
uint8_t* storeU32(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return out + 4;
}
uint8_t* storeI32(uint8_t* out, int32_t value) {
    return storeU32(out, static_cast<uint32_t>(value));
}
uint8_t* storeF64(uint8_t* out, double value) {
    const uint64_t bits = std::bit_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
    return out + 8;
}
uint8_t* storeVector3(uint8_t* out, const SceneVector3& value) {
    return storeF64(storeF64(storeF64(out, value.x), value.y), value.z);
}
uint8_t* storeZeros(uint8_t* out, std::size_t count) {
    std::memset(out, 0, count);
    return out + count;
}

// Scene arrays whose entries are, byte for byte, the block's little-endian
// records on a little-endian machine: such a block is put straight from the
// array, with no buffer in between.
constexpr bool kLittleEndian = std::endian::native == std::endian::little;
template <class T>
constexpr bool kStoredAsBlock = false;
template <>
constexpr bool kStoredAsBlock<SceneVector3> = kLittleEndian;
template <>
constexpr bool kStoredAsBlock<SceneUV> = kLittleEndian;
template <>
constexpr bool kStoredAsBlock<SceneCorner> = kLittleEndian;
static_assert(sizeof(SceneVector3) == kVector3Bytes && sizeof(SceneUV) == kUVBytes &&
              sizeof(SceneCorner) == kCornerRecordBytes);

// Puts one block with an entry per element of `entries`: the array's own
// bytes when they are the block's, else encoded by `store`. False when the
// block would not fit the host's 32-bit data length or its buffer cannot be
// obtained.
template <class Entry, class Store>
bool putBlock(const Puts& puts, HostKey blockKey, std::span<const Entry> entries,
              std::size_t entryBytes, Store store) {
    if (entries.size() > kMaxBlockBytes / entryBytes) {
        return false;
    }
    if constexpr (kStoredAsBlock<Entry>) {
        if (sizeof(Entry) == entryBytes) {
            puts.data(blockKey, std::span(reinterpret_cast<const uint8_t*>(entries.data()),
                                          entries.size_bytes()));
            return true;
        }
    }
    BlockBuffer block;
    if (!block.allocate(entries.size(), entryBytes)) {
        return false;
    }
    uint8_t* out = block.data();
    for (const Entry& entry : entries) {
        out = store(out, entry);
    }
    puts.data(blockKey, block.bytes());
    return true;
}

// Whether the mesh's polygons use its corner array in order, each following
// the previous, and use all of it: the "faci" block is then the corner array.
bool cornersInPolygonOrder(const SceneMesh& mesh) {
    std::size_t next = 0;
    for (const ScenePolygon& polygon : mesh.polygons) {
        if (polygon.firstCorner != next || polygon.cornerCount > mesh.corners.size() - next) {
            return false;
        }
        next += polygon.cornerCount;
    }
    return next == mesh.corners.size();
}

bool putMatrix(const Suites& suites, const Puts& puts, const SceneMatrix& matrix) {
    OwnedList list(suites);
    if (!list) {
        return false;
    }
    for (double value : matrix) {
        suites.list.putFloat(list.get(), value);
    }
    puts.list(key("Mtrx"), list);
    return true;
}

DescriptorRef buildPreservation(const Suites& suites, const ScenePreservation& record) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return nullptr;
    }
    const Puts puts(suites, descriptor.get());
    const auto textOrEmpty = [](const std::optional<ScenePreservationText>& text) {
        return text.has_value() ? text->view() : std::string_view();
    };
    // Each text is bounded by kPreservationTextMaxLength, so it fits a data length.
    const auto dataWhenPresent = [&](const char* keyText,
                                     const std::optional<ScenePreservationText>& text) {
        if (text.has_value()) {
            puts.text(puts.stringKey(keyText), text->view());
        }
    };
    puts.string(puts.stringKey("keyPreservationId"), textOrEmpty(record.id));
    puts.string(puts.stringKey("keyPreservationSubId"), textOrEmpty(record.subId));
    puts.string(puts.stringKey("keyPreservationName"), textOrEmpty(record.name));
    dataWhenPresent("keyPreservationExtra", record.extraData);
    puts.integer(puts.stringKey("keyPreservationFlags"), record.flags);
    dataWhenPresent("keyPreservationController", record.controller);
    dataWhenPresent("keyPreservationAnimations", record.animations);
    dataWhenPresent("keyPreservationEffectProfiles", record.effectProfiles);
    return descriptor.release();
}

// "pRes" on the element when it has a record. False when a descriptor or list
// cannot be made.
bool putPreservation(const Suites& suites, const Puts& element, const ScenePreservation* record) {
    if (record == nullptr) {
        return true;
    }
    OwnedList list(suites);
    if (!list) {
        return false;
    }
    const OwnedDescriptor descriptor(suites, buildPreservation(suites, *record));
    if (!descriptor) {
        return false;
    }
    appendObject(suites, list, key("pRob"), descriptor);
    element.list(key("pRes"), list);
    return true;
}

void putRootValues(const Puts& root, const ImportScene& scene) {
    root.integer(key("VrsM"), 1);
    root.integer(key("VrsN"), 0);
    root.number(key("GamR"), scene.ambientRed);
    root.number(key("GamG"), scene.ambientGreen);
    root.number(key("GamB"), scene.ambientBlue);
    root.number(key("Gunt"), scene.globalUnit);
    root.integer(key("Gast"), scene.animationStart);
    root.integer(key("Gfrm"), scene.frameCount);
    root.number(key("Gfps"), scene.framesPerSecond);
    root.string(key("GRNm"), scene.globalName.view());
    root.string(key("Nm  "), scene.sceneName.view());
    root.boolean(root.stringKey("flip"), scene.flip);
}

bool writeGeoLocation(const Suites& suites, const Puts& root, const SceneGeoLocation* geo) {
    if (geo == nullptr) {
        return true;
    }
    OwnedList list(suites);
    OwnedDescriptor descriptor(suites);
    if (!list || !descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.number(key("GeLa"), geo->latitude);
    puts.number(key("GeLo"), geo->longitude);
    puts.number(key("GeAl"), geo->altitude);
    puts.integer(key("GeAm"), geo->altitudeMode);
    puts.number(key("GeHd"), geo->heading);
    puts.number(key("GeTt"), geo->tilt);
    puts.number(key("GeRl"), geo->roll);
    puts.number(key("GeSx"), geo->scaleX);
    puts.number(key("GeSy"), geo->scaleY);
    puts.number(key("GeSz"), geo->scaleZ);
    appendObject(suites, list, key("GeoR"), descriptor);
    root.list(key("GeoL"), list);
    return true;
}

bool writeLight(const Suites& suites, const OwnedList& lights, const SceneLight& light) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.string(key("Nm  "), light.name.view());
    puts.number(key("X   "), light.positionX);
    puts.number(key("Y   "), light.positionY);
    puts.number(key("Z   "), light.positionZ);
    puts.number(key("tarx"), light.targetX);
    puts.number(key("tary"), light.targetY);
    puts.number(key("tarz"), light.targetZ);
    puts.number(key("Rd  "), light.red);
    puts.number(key("Grn "), light.green);
    puts.number(key("Bl  "), light.blue);
    puts.number(key("hots"), light.hotspot);
    puts.number(key("FlOf"), light.falloff);
    puts.integer(key("shdw"), light.shadow);
    puts.boolean(key("attn"), light.attenuationOn);
    puts.integer(key("attt"), light.attenuationType);
    puts.number(key("atta"), light.attenuationA);
    puts.number(key("attb"), light.attenuationB);
    puts.number(key("attc"), light.attenuationC);
    puts.number(key("orad"), light.outerRadius);
    puts.number(key("irad"), light.innerRadius);
    puts.number(key("mult"), light.multiplier);
    puts.integer(key("Type"), light.type);
    puts.integer(key("ison"), light.switchedOn ? 1 : 0);
    puts.number(key("ssml"), light.ssmlValue);
    if (!putPreservation(suites, puts, light.preservation.get())) {
        return false;
    }
    appendObject(suites, lights, key("litc"), descriptor);
    return true;
}

bool writeCamera(const Suites& suites, const OwnedList& cameras, const SceneCamera& camera) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.string(key("Nm  "), camera.name.view());
    puts.number(key("X   "), camera.positionX);
    puts.number(key("Y   "), camera.positionY);
    puts.number(key("Z   "), camera.positionZ);
    puts.number(key("tarx"), camera.targetX);
    puts.number(key("tary"), camera.targetY);
    puts.number(key("tarz"), camera.targetZ);
    puts.number(key("bank"), camera.bank);
    puts.number(key("Lns "), camera.lens);
    puts.boolean(key("orth"), camera.orthographic);
    puts.number(key("aspr"), camera.aspectRatio);
    puts.number(key("zmfc"), camera.zoomFactor);
    if (!putPreservation(suites, puts, camera.preservation.get())) {
        return false;
    }
    appendObject(suites, cameras, key("camc"), descriptor);
    return true;
}

// Releases an array whose block has been put, when the writer may.
template <class T>
void releaseWritten(SceneMesh* releasable, SceneArray<T> SceneMesh::*array) noexcept {
    if (releasable != nullptr) {
        SceneArray<T>().swap(releasable->*array);
    }
}

// The mesh's geometry blocks, each only when present; the first one that
// cannot be put ends this mesh's geometry. With `releasable` (the same mesh),
// each array is released once its block is put.
void putGeometry(const Puts& puts, const SceneMesh& mesh, SceneMesh* releasable) {
    const auto vector3 = [](uint8_t* out, const SceneVector3& entry) {
        return storeVector3(out, entry);
    };
    const auto lineSecond = [](uint8_t* out, const SceneLine& line) {
        return storeVector3(out, line.second);
    };
    const auto lineFirst = [](uint8_t* out, const SceneLine& line) {
        return storeVector3(out, line.first);
    };
    const auto uv = [](uint8_t* out, const SceneUV& entry) {
        return storeF64(storeF64(out, entry.u), entry.v);
    };
    // True when the block is put or there is nothing to put.
    const auto block = [&](HostKey blockKey, const auto& entries, std::size_t entryBytes,
                           auto store) {
        return entries.empty() || putBlock(puts, blockKey, std::span(entries), entryBytes, store);
    };
    if (!block(key("verl"), mesh.vertices, kVector3Bytes, vector3)) {
        return;
    }
    releaseWritten(releasable, &SceneMesh::vertices);
    if (!block(key("nrml"), mesh.normals, kVector3Bytes, vector3)) {
        return;
    }
    releaseWritten(releasable, &SceneMesh::normals);
    if (!block(key("lnfl"), mesh.lines, kVector3Bytes, lineSecond) ||
        !block(key("lncl"), mesh.lines, kVector3Bytes, lineFirst)) {
        return;
    }
    releaseWritten(releasable, &SceneMesh::lines);
    if (!block(key("vnvl"), mesh.vertexVectors, kVector3Bytes, vector3)) {
        return;
    }
    releaseWritten(releasable, &SceneMesh::vertexVectors);
    if (block(key("uvl "), mesh.uvs, kUVBytes, uv)) {
        releaseWritten(releasable, &SceneMesh::uvs);
    }
}

// "facl" and "faci", or nothing (false) when the polygons do not use the
// corner array in order, a block would not fit the host's 32-bit data length
// or the polygon block's buffer cannot be obtained.
bool putPolygons(const Puts& puts, const SceneMesh& mesh, SceneMesh* releasable) {
    if (!cornersInPolygonOrder(mesh) || mesh.corners.size() > kMaxBlockBytes / kCornerRecordBytes) {
        return false;
    }
    BlockBuffer polygonBlock;
    if (!polygonBlock.allocate(mesh.polygons.size(), kPolygonRecordBytes)) {
        return false;
    }
    uint8_t* out = polygonBlock.data();
    for (const ScenePolygon& polygon : mesh.polygons) {
        out = storeU32(out, polygon.cornerCount);
        out = storeZeros(out, kPolygonGapBytes);
        out = storeI32(out, polygon.attributeA);
        out = storeI32(out, polygon.attributeB);
        out = storeI32(out, polygon.materialIndex);
        out = storeZeros(out, kPolygonTailBytes);
    }
    puts.data(key("facl"), polygonBlock.bytes());
    releaseWritten(releasable, &SceneMesh::polygons);
    putBlock(puts, key("faci"), std::span<const SceneCorner>(mesh.corners), kCornerRecordBytes,
             [](uint8_t* out, const SceneCorner& corner) {
                 out = storeI32(out, corner.vertex);
                 out = storeI32(out, corner.normal);
                 out = storeI32(out, corner.uv);
                 return storeI32(out, corner.auxiliary);
             });
    releaseWritten(releasable, &SceneMesh::corners);
    return true;
}

bool writeMesh(const Suites& suites, const OwnedList& meshes, const SceneMesh& mesh,
               SceneMesh* releasable) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.string(key("Nm  "), mesh.name.view());
    putGeometry(puts, mesh, releasable);
    if (!mesh.corners.empty() && !putPolygons(puts, mesh, releasable)) {
        return false;
    }
    if (!putMatrix(suites, puts, mesh.matrix)) {
        return false;
    }
    puts.integer(key("flag"), mesh.flags);
    puts.integer(key("hidn"), mesh.hidden);
    puts.integer(key("shdw"), mesh.shadow);
    puts.boolean(key("hmat"), mesh.hmatFlag);
    puts.boolean(key("hsmt"), mesh.hostDerivesNormals);
    puts.boolean(key("misv"), mesh.misvFlag);
    puts.boolean(key("misc"), mesh.miscFlag);
    puts.boolean(key("miss"), mesh.missFlag);
    puts.boolean(key("misi"), mesh.misiFlag);
    if (!putPreservation(suites, puts, mesh.preservation.get())) {
        return false;
    }
    appendObject(suites, meshes, key("msho"), descriptor);
    return true;
}

// String-ID keys every texture map carries, converted once per descriptor.
struct MapKeys {
    HostKey minimum = 0;
    HostKey maximum = 0;
};

bool writeTextureMap(const Suites& suites, const MapKeys& mapKeys, const OwnedList& maps,
                     int32_t slot, const SceneTextureMap& map) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.integer(key("Type"), slot);
    puts.string(key("Nm  "), map.path.view());
    puts.number(key("srgh"), map.strength);
    puts.number(key("uscl"), map.uScale);
    puts.number(key("vscl"), map.vScale);
    puts.number(key("uoff"), map.uOffset);
    puts.number(key("voff"), map.vOffset);
    puts.number(mapKeys.minimum, map.minimum);
    puts.number(mapKeys.maximum, map.maximum);
    puts.number(key("Angl"), map.angle);
    puts.integer(key("flag"), map.flags);
    puts.boolean(key("msty"), map.mstyFlag);
    if (!map.paintType.empty()) {
        puts.text(puts.stringKey("key3DPaintType"), map.paintType.view());
    }
    if (!map.layerName.empty()) {
        puts.text(key("LyrN"), map.layerName.view());
    }
    appendObject(suites, maps, key("mapo"), descriptor);
    return true;
}

bool writeMaterial(const Suites& suites, const MapKeys& mapKeys, const OwnedList& materials,
                   const SceneMaterial& material) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.string(key("Nm  "), material.name.view());
    puts.number(key("ared"), material.ambientRed);
    puts.number(key("agrn"), material.ambientGreen);
    puts.number(key("ablu"), material.ambientBlue);
    puts.number(key("dred"), material.diffuseRed);
    puts.number(key("dgrn"), material.diffuseGreen);
    puts.number(key("dblu"), material.diffuseBlue);
    puts.number(key("sred"), material.specularRed);
    puts.number(key("sgrn"), material.specularGreen);
    puts.number(key("sblu"), material.specularBlue);
    puts.number(key("ered"), material.emissiveRed);
    puts.number(key("egrn"), material.emissiveGreen);
    puts.number(key("eblu"), material.emissiveBlue);
    puts.number(key("shin"), material.shininess);
    puts.number(key("shi2"), material.secondShininess);
    puts.number(key("Trns"), material.transparency);
    puts.number(key("refl"), material.reflection);
    puts.integer(key("self"), material.selfValue);
    puts.integer(key("shad"), material.shadValue);
    puts.boolean(key("twos"), material.twoSided);
    puts.boolean(key("wire"), material.wireframe);
    puts.boolean(key("decl"), material.declFlag);
    puts.number(key("wfsz"), material.wfszValue);
    puts.number(key("RfAc"), material.rfacValue);

    OwnedList maps(suites);
    if (!maps) {
        return false;
    }
    // The preservation goes on the material between its values and its maps.
    if (!putPreservation(suites, puts, material.preservation.get())) {
        return false;
    }
    for (std::size_t slot = 0; slot < material.maps.size(); ++slot) {
        if (!writeTextureMap(suites, mapKeys, maps, static_cast<int32_t>(slot),
                             material.maps[slot])) {
            return false;
        }
    }
    puts.list(key("mapl"), maps);
    appendObject(suites, materials, key("mtlo"), descriptor);
    return true;
}

struct TrackListKeys {
    SceneList<SceneKeyTrack> SceneKeySet::*tracks;
    HostKey listKey;
    HostKey elementKey;
};

// The order in which a key set's track lists are written.
constexpr TrackListKeys kTrackLists[] = {
    {&SceneKeySet::positionTracks, key("PosL"), key("acPs")},
    {&SceneKeySet::scaleTracks, key("SclL"), key("acSc")},
    {&SceneKeySet::rotationTracks, key("RotL"), key("acRt")},
    {&SceneKeySet::fieldOfViewTracks, key("FOVl"), key("acFV")},
    {&SceneKeySet::rollTracks, key("RolL"), key("acRl")},
    {&SceneKeySet::colourTracks, key("ColL"), key("acCl")},
    {&SceneKeySet::hotspotTracks, key("HotL"), key("acHt")},
    {&SceneKeySet::falloffTracks, key("FalL"), key("acFo")},
    {&SceneKeySet::hiddenTracks, key("HidL"), key("acHd")},
    {&SceneKeySet::morphTracks, key("MorL"), key("acMp")},
};

bool writeKeySet(const SceneWriterContext& context, const Suites& suites, const OwnedList& keySets,
                 const SceneKeySet& keySet) {
    OwnedDescriptor descriptor(suites);
    if (!descriptor) {
        return false;
    }
    const Puts puts(suites, descriptor.get());
    puts.string(key("Nm  "), keySet.name.view());
    puts.string(key("InsN"), keySet.instanceName.view());
    puts.integer(key("flgO"), keySet.flagsO);
    puts.integer(key("flgT"), keySet.flagsT);
    puts.integer(key("NoID"), keySet.nodeId);
    puts.integer(key("PrID"), keySet.parentId);
    puts.integer(key("tYpE"), keySet.type);
    {
        OwnedList pivots(suites);
        OwnedDescriptor pivot(suites);
        if (!pivots || !pivot) {
            return false;
        }
        const Puts pivotPuts(suites, pivot.get());
        pivotPuts.number(key("PvtX"), keySet.pivotX);
        pivotPuts.number(key("PvtY"), keySet.pivotY);
        pivotPuts.number(key("PvtZ"), keySet.pivotZ);
        appendObject(suites, pivots, key("PvtO"), pivot);
        puts.list(key("PvLs"), pivots);
    }
    if (!putMatrix(suites, puts, keySet.matrix)) {
        return false;
    }
    puts.boolean(key("PvPr"), keySet.pivotPresent);
    puts.boolean(key("LcMt"), keySet.localMatrix);
    puts.boolean(key("RgBl"), keySet.rgblFlag);
    for (const TrackListKeys& trackList : kTrackLists) {
        const SceneList<SceneKeyTrack>& tracks = keySet.*trackList.tracks;
        if (tracks.empty()) {
            continue;
        }
        OwnedList list(suites);
        if (!list) {
            return false;
        }
        for (const SceneKeyTrack& track : tracks) {
            const OwnedDescriptor trackDescriptor(suites, writeKeyTrack(context, track));
            if (!trackDescriptor) {
                return false;
            }
            appendObject(suites, list, trackList.elementKey, trackDescriptor);
        }
        puts.list(trackList.listKey, list);
    }
    if (!putPreservation(suites, puts, keySet.preservation.get())) {
        return false;
    }
    appendObject(suites, keySets, key("KeCS"), descriptor);
    return true;
}

// One list of elements put on the root under `listKey`; false as soon as one
// element cannot be written.
template <class T, class WriteOne>
bool writeList(const Suites& suites, const Puts& root, HostKey listKey, const SceneList<T>& items,
               WriteOne writeOne) {
    OwnedList list(suites);
    if (!list) {
        return false;
    }
    for (const T& item : items) {
        if (!writeOne(list, item)) {
            return false;
        }
    }
    root.list(listKey, list);
    return true;
}

}  // namespace

void writeMeshGeometry(const SceneWriterContext& context, const SceneMesh& mesh,
                       DescriptorRef meshDescriptor) {
    const std::optional<Suites> suites = usableSuites(context);
    if (suites) {
        putGeometry(Puts(*suites, meshDescriptor), mesh, nullptr);
    }
}

bool writePolygons(const SceneWriterContext& context, const SceneMesh& mesh,
                   DescriptorRef meshDescriptor) {
    const std::optional<Suites> suites = usableSuites(context);
    if (!suites) {
        return false;
    }
    return mesh.corners.empty() || putPolygons(Puts(*suites, meshDescriptor), mesh, nullptr);
}

DescriptorRef writeKeyTrack(const SceneWriterContext& context, const SceneKeyTrack& track) {
    const std::optional<Suites> suites = usableSuites(context);
    if (!suites || track.keys.size() > kSceneMaxEntries) {
        return nullptr;
    }
    OwnedDescriptor descriptor(*suites);
    OwnedList keys(*suites);
    if (!descriptor || !keys) {
        return nullptr;
    }
    const Puts puts(*suites, descriptor.get());
    puts.string(key("FlNn"), track.name.view());
    puts.integer(key("flag"), track.flags);
    puts.integer(key("KeyS"), static_cast<int32_t>(track.keys.size()));
    for (const SceneKeyFrame& frame : track.keys) {
        const OwnedDescriptor keyDescriptor(*suites);
        if (!keyDescriptor) {
            return nullptr;
        }
        const Puts keyPuts(*suites, keyDescriptor.get());
        keyPuts.number(key("KAfn"), frame.frameNumber);
        keyPuts.integer(key("KAff"), frame.frameFlags);
        keyPuts.number(key("KAft"), frame.tension);
        keyPuts.number(key("KAfc"), frame.continuity);
        keyPuts.number(key("KAfb"), frame.bias);
        keyPuts.number(key("KAet"), frame.easeTo);
        keyPuts.number(key("KAef"), frame.easeFrom);
        keyPuts.number(key("KAro"), frame.rotation);
        keyPuts.number(key("KAvl"), frame.value);
        keyPuts.number(key("KAvx"), frame.valueX);
        keyPuts.number(key("KAvy"), frame.valueY);
        keyPuts.number(key("KAvz"), frame.valueZ);
        keyPuts.boolean(key("KAuq"), frame.quaternionValid);
        keyPuts.number(key("KAqw"), frame.quaternionW);
        keyPuts.number(key("KAqx"), frame.quaternionX);
        keyPuts.number(key("KAqy"), frame.quaternionY);
        keyPuts.number(key("KAqz"), frame.quaternionZ);
        appendObject(*suites, keys, key("KAFC"), keyDescriptor);
    }
    puts.list(key("KAFL"), keys);
    return descriptor.release();
}

DescriptorRef writePreservation(const SceneWriterContext& context,
                                const ScenePreservation& record) {
    const std::optional<Suites> suites = usableSuites(context);
    if (!suites) {
        return nullptr;
    }
    return buildPreservation(*suites, record);
}

namespace {

// The scene descriptor of `scene`; with `releasable` (the same scene), each
// mesh's geometry is released as soon as the host holds its copy.
bool writeScene(const SceneWriterContext& context, const ImportScene& scene,
                ImportScene* releasable, HostHandle* out) {
    if (out == nullptr) {
        return false;
    }
    const std::optional<Suites> found = usableSuites(context);
    if (!found) {
        return false;
    }
    const Suites& suites = *found;
    // Everything made below is freed by its holder on the way out, so a
    // failure at any step leaves nothing behind.
    const OwnedDescriptor root(suites);
    if (!root) {
        return false;
    }
    const Puts puts(suites, root.get());
    putRootValues(puts, scene);
    if (!writeGeoLocation(suites, puts, scene.geoLocation.get())) {
        return false;
    }
    const MapKeys mapKeys{puts.stringKey("minimum"), puts.stringKey("maximum")};
    const auto writeMeshes = [&]() {
        OwnedList list(suites);
        if (!list) {
            return false;
        }
        for (std::size_t i = 0; i < scene.meshes.size(); ++i) {
            SceneMesh* const releasableMesh =
                releasable == nullptr ? nullptr : &releasable->meshes[i];
            if (!writeMesh(suites, list, scene.meshes[i], releasableMesh)) {
                return false;
            }
        }
        puts.list(key("mshl"), list);
        return true;
    };
    const bool written = writeList(suites, puts, key("lite"), scene.lights,
                                   [&](const OwnedList& list, const SceneLight& light) {
                                       return writeLight(suites, list, light);
                                   }) &&
                         writeList(suites, puts, key("caml"), scene.cameras,
                                   [&](const OwnedList& list, const SceneCamera& camera) {
                                       return writeCamera(suites, list, camera);
                                   }) &&
                         writeMeshes() &&
                         writeList(suites, puts, key("mtll"), scene.materials,
                                   [&](const OwnedList& list, const SceneMaterial& material) {
                                       return writeMaterial(suites, mapKeys, list, material);
                                   }) &&
                         writeList(suites, puts, key("KeFL"), scene.keySets,
                                   [&](const OwnedList& list, const SceneKeySet& keySet) {
                                       return writeKeySet(context, suites, list, keySet);
                                   });
    if (!written) {
        return false;
    }
    puts.integer(key("plyc"), 0);
    if (context.finishRoot && !context.finishRoot(root.get())) {
        return false;
    }
    HostHandle handle = nullptr;
    suites.descriptor.asHandle(root.get(), &handle);
    if (handle == nullptr) {
        return false;
    }
    *out = handle;
    return true;
}

}  // namespace

bool writeSceneDescriptor(const SceneWriterContext& context, const ImportScene* scene,
                          HostHandle* out) {
    return scene != nullptr && writeScene(context, *scene, nullptr, out);
}

bool writeSceneDescriptorReleasingGeometry(const SceneWriterContext& context, ImportScene& scene,
                                           HostHandle* out) {
    return writeScene(context, scene, &scene, out);
}

}  // namespace quillmesh
