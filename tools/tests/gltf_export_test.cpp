#include "tools/gltf_export.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstring>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/descriptors.h"

namespace quillmesh::tool {
namespace {

namespace fs = std::filesystem;
using qmhost::Descriptor;
using qmhost::fourcc;
using qmhost::Value;
using Json = nlohmann::json;
using Bytes = std::vector<uint8_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Little-endian blocks as the scene writer lays them out.
struct Block {
    Bytes bytes;
    Block& u32(std::initializer_list<int64_t> values) {
        for (const int64_t value : values) {
            for (int i = 0; i < 4; ++i) {
                bytes.push_back(static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i)));
            }
        }
        return *this;
    }
    Block& f64(std::initializer_list<double> values) {
        for (const double value : values) {
            const auto bits = std::bit_cast<uint64_t>(value);
            for (int i = 0; i < 8; ++i) {
                bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
            }
        }
        return *this;
    }
};

struct TestCorner {
    int32_t vertex, normal, uv;
};
struct TestPolygon {
    std::vector<TestCorner> corners{};
    int32_t material = 0;
    std::optional<uint32_t> cornerCount{};  // the count written instead of corners.size()
};

// A mesh whose vertex i lies at (i, 10 i, 0), with one normal (0, 0, 2) and the UVs given.
struct TestMesh {
    std::u16string name = u"Mesh";
    std::size_t vertices = 8;
    std::vector<std::array<double, 3>> normals{{0, 0, 2}};
    std::vector<std::array<double, 2>> uvs{{0.25, 0.1}, {0.75, 0.6}};
    std::vector<TestPolygon> polygons{};

    Descriptor descriptor() const {
        Descriptor mesh(fourcc("msho"));
        mesh.put(fourcc("Nm  "), Value::fromText(name));
        Block positions, normalBlock, uvBlock, polygonBlock, cornerBlock;
        for (std::size_t i = 0; i < vertices; ++i) {
            positions.f64({static_cast<double>(i), 10.0 * static_cast<double>(i), 0});
        }
        mesh.put(fourcc("verl"), Value::fromData(positions.bytes));
        for (const auto& normal : normals) {
            normalBlock.f64({normal[0], normal[1], normal[2]});
        }
        mesh.put(fourcc("nrml"), Value::fromData(normalBlock.bytes));
        for (const auto& uv : uvs) {
            uvBlock.f64({uv[0], uv[1]});
        }
        mesh.put(fourcc("uvl "), Value::fromData(uvBlock.bytes));
        for (const TestPolygon& polygon : polygons) {
            const uint32_t count = polygon.cornerCount.value_or(polygon.corners.size());
            polygonBlock.u32({count, 0, 0, 1, polygon.material, 0, 0, 0, 0});
            for (const TestCorner& corner : polygon.corners) {
                cornerBlock.u32({corner.vertex, corner.normal, corner.uv, corner.vertex});
            }
        }
        mesh.put(fourcc("facl"), Value::fromData(polygonBlock.bytes));
        mesh.put(fourcc("faci"), Value::fromData(cornerBlock.bytes));
        return mesh;
    }
};

struct TestMaterial {
    std::u16string name = u"Material";
    double transparency = 0;
    std::u16string texture{};  // slot 0's path; empty for none

    Value value() const {
        Descriptor material(fourcc("mtlo"));
        material.put(fourcc("Nm  "), Value::fromText(name));
        material.put(fourcc("dred"), Value::fromFloat(0.5));
        material.put(fourcc("dgrn"), Value::fromFloat(0.25));
        material.put(fourcc("dblu"), Value::fromFloat(1));
        material.put(fourcc("Trns"), Value::fromFloat(transparency));
        std::vector<Value> maps;
        for (int32_t slot = 0; slot < 2; ++slot) {
            Descriptor map(fourcc("mapo"));
            map.put(fourcc("Type"), Value::fromInteger(slot));
            // Slot 1 always has a path: only slot 0 is the diffuse texture.
            map.put(fourcc("Nm  "), Value::fromText(slot == 0 ? texture : u"/models/bump.png"));
            maps.push_back(Value::fromObject(fourcc("mapo"), std::move(map)));
        }
        material.put(fourcc("mapl"), Value::fromList(std::move(maps)));
        return Value::fromObject(fourcc("mtlo"), std::move(material));
    }
};

Descriptor scene(const std::vector<Value>& meshes, const std::vector<TestMaterial>& materials) {
    Descriptor root;
    root.put(fourcc("mshl"), Value::fromList(meshes));
    std::vector<Value> materialValues;
    for (const TestMaterial& material : materials) {
        materialValues.push_back(material.value());
    }
    root.put(fourcc("mtll"), Value::fromList(std::move(materialValues)));
    return root;
}

Descriptor scene(const TestMesh& mesh, const std::vector<TestMaterial>& materials = {{}}) {
    return scene({Value::fromObject(fourcc("msho"), mesh.descriptor())}, materials);
}

uint32_t loadU32(const Bytes& bytes, std::size_t offset) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<uint32_t>(bytes.at(offset + i)) << (8 * i);
    }
    return value;
}

// A binary glTF's JSON and buffer, and the values of its accessors.
struct Glb {
    Json json;
    Bytes bin;

    explicit Glb(const Bytes& bytes) {
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "glTF");
        EXPECT_EQ(loadU32(bytes, 8), bytes.size());
        const uint32_t jsonLength = loadU32(bytes, 12);
        json = Json::parse(bytes.begin() + 20, bytes.begin() + 20 + jsonLength);
        const std::size_t binStart = 20 + jsonLength;
        if (binStart < bytes.size()) {
            const uint32_t binLength = loadU32(bytes, binStart);
            bin.assign(bytes.begin() + static_cast<std::ptrdiff_t>(binStart) + 8,
                       bytes.begin() + static_cast<std::ptrdiff_t>(binStart + 8 + binLength));
        }
    }

    // The accessor's components as doubles (floats, unsigned shorts or unsigned ints).
    std::vector<double> values(int accessorIndex) const {
        const Json& accessor = json["accessors"][accessorIndex];
        const Json& view = json["bufferViews"][accessor["bufferView"].get<int>()];
        const std::size_t components = accessor["type"] == "VEC3"   ? 3
                                       : accessor["type"] == "VEC2" ? 2
                                                                    : 1;
        const int type = accessor["componentType"];
        const std::size_t size = type == 5123 ? 2 : 4;
        const std::size_t count = accessor["count"].get<std::size_t>() * components;
        const std::size_t offset = view.value("byteOffset", std::size_t{0});
        EXPECT_LE(offset + count * size, bin.size());
        EXPECT_EQ(view["byteLength"].get<std::size_t>(), count * size);
        std::vector<double> out;
        for (std::size_t i = 0; i < count && offset + (i + 1) * size <= bin.size(); ++i) {
            const std::size_t at = offset + i * size;
            if (type == 5126) {
                out.push_back(std::bit_cast<float>(loadU32(bin, at)));
            } else if (type == 5123) {
                out.push_back(bin[at] | bin[at + 1] << 8);
            } else {
                out.push_back(loadU32(bin, at));
            }
        }
        return out;
    }

    const Json& primitive(std::size_t index, std::size_t mesh = 0) const {
        return json["meshes"][mesh]["primitives"][index];
    }
    std::vector<double> attribute(const Json& primitive, const char* name) const {
        return values(primitive["attributes"][name].get<int>());
    }
};

GltfExport exported(const Descriptor& root, const fs::path& folder = "/models") {
    std::string error;
    const qmhost::IdRegistry ids;
    std::optional<GltfExport> result = exportGltf(root, ids, GltfForm::Binary, folder, error);
    EXPECT_TRUE(result.has_value()) << error;
    return result.value_or(GltfExport{});
}

TestPolygon fan(std::vector<int32_t> vertices, int32_t material = 0) {
    TestPolygon polygon{.material = material};
    for (const int32_t vertex : vertices) {
        polygon.corners.push_back({vertex, 0, 0});
    }
    return polygon;
}

TEST(GltfExport, FormFollowsTheExtensionInAnyCase) {
    EXPECT_EQ(gltfFormFor("out/scene.gltf"), GltfForm::Text);
    EXPECT_EQ(gltfFormFor("SCENE.GLTF"), GltfForm::Text);
    EXPECT_EQ(gltfFormFor("scene.GlB"), GltfForm::Binary);
    EXPECT_EQ(gltfFormFor("scene.glb.bak"), std::nullopt);
    EXPECT_EQ(gltfFormFor("gltf"), std::nullopt);
    EXPECT_EQ(gltfFormFor("scene.obj"), std::nullopt);
}

// Vertex i is at x = i, so the x of each index names the scene vertex it came from.
TEST(GltfExport, PolygonsBecomeFansInTheirOwnWinding) {
    TestMesh mesh;
    mesh.name = u"Tr\u00E4ger \U0001F332";
    mesh.polygons = {fan({0, 1, 2}), fan({3, 4, 5, 6}), fan({7, 6, 5, 4, 3}), fan({0, 1}), fan({})};
    const GltfExport out = exported(scene(mesh));
    EXPECT_EQ(out.summary.triangles, 1u + 2u + 3u);
    EXPECT_EQ(out.summary.fannedPolygons, 2u);
    EXPECT_EQ(out.summary.droppedPolygons, 2u);
    const Glb glb(out.bytes);
    EXPECT_EQ(glb.json["meshes"][0]["name"], "Tr\xC3\xA4ger \xF0\x9F\x8C\xB2");
    EXPECT_EQ(glb.json["nodes"][0]["name"], "Tr\xC3\xA4ger \xF0\x9F\x8C\xB2");
    const std::vector<double> positions = glb.attribute(glb.primitive(0), "POSITION");
    std::vector<double> corners;
    for (const double index : glb.values(glb.primitive(0)["indices"])) {
        corners.push_back(positions.at(3 * static_cast<std::size_t>(index)));
    }
    EXPECT_EQ(corners, (std::vector<double>{0, 1, 2, 3, 4, 5, 3, 5, 6, 7, 6, 5, 7, 5, 4, 7, 4, 3}));
    EXPECT_EQ(glb.json["accessors"][glb.primitive(0)["indices"].get<int>()]["componentType"], 5123);
}

TEST(GltfExport, CornersSharingAllIndicesShareAVertexWithVTurnedBack) {
    TestMesh mesh;
    mesh.polygons = {{.corners = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}},
                     {.corners = {{0, 0, 0}, {2, 0, 0}, {3, 0, 0}}},
                     {.corners = {{0, 0, 1}, {3, 0, 0}, {1, 0, 0}}}};
    const GltfExport out = exported(scene(mesh));
    EXPECT_EQ(out.summary.vertices, 5u);  // vertex 0 with UV 1 is a fifth
    const Glb glb(out.bytes);
    EXPECT_EQ(glb.values(glb.primitive(0)["indices"]),
              (std::vector<double>{0, 1, 2, 0, 2, 3, 4, 3, 1}));
    const std::vector<double> uvs = glb.attribute(glb.primitive(0), "TEXCOORD_0");
    EXPECT_EQ(std::vector<double>(uvs.begin() + 6, uvs.end()),
              (std::vector<double>{0.25f, 0.9f, 0.75f, 0.4f}));
    const std::vector<double> normals = glb.attribute(glb.primitive(0), "NORMAL");
    EXPECT_EQ(std::vector<double>(normals.end() - 3, normals.end()),
              (std::vector<double>{0, 0, 1}));
}

TEST(GltfExport, OnePrimitivePerMaterialUsedWithAlphaFromOpacity) {
    struct Case {
        double transparency;
        double alpha;
        const char* mode;
    };
    const Case cases[] = {
        {0, 1, "OPAQUE"}, {0.25, 0.75, "BLEND"}, {1.5, 0, "BLEND"}, {kNaN, 1, "OPAQUE"}};
    std::vector<TestMaterial> materials;
    TestMesh mesh;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        materials.push_back(
            {.name = u"\u00D6l " + std::u16string(1, static_cast<char16_t>(u'0' + i)),
             .transparency = cases[i].transparency});
        // Material i gets i + 1 triangles; material 1's polygons come first.
        for (std::size_t k = 0; k <= i; ++k) {
            mesh.polygons.insert(i == 1 ? mesh.polygons.begin() : mesh.polygons.end(),
                                 fan({0, 1, 2}, static_cast<int32_t>(i)));
        }
    }
    const GltfExport out = exported(scene(mesh, materials));
    const Glb glb(out.bytes);
    ASSERT_EQ(glb.json["meshes"][0]["primitives"].size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const Json& primitive = glb.primitive(i);
        EXPECT_EQ(primitive["material"], i);
        EXPECT_EQ(glb.json["accessors"][primitive["indices"].get<int>()]["count"], 3 * (i + 1));
        const Json& material = glb.json["materials"][i];
        EXPECT_EQ(material["name"], "\xC3\x96l " + std::to_string(i));
        // Display colours become linear ones.
        const Json& factor = material["pbrMetallicRoughness"]["baseColorFactor"];
        EXPECT_NEAR(factor[0].get<double>(), 0.21404, 1e-5);
        EXPECT_NEAR(factor[1].get<double>(), 0.05087, 1e-5);
        EXPECT_EQ(factor[2], 1.0);
        EXPECT_EQ(factor[3], cases[i].alpha);
        EXPECT_EQ(material.value("alphaMode", "OPAQUE"), cases[i].mode);
    }
}

TEST(GltfExport, DiffuseTextureUrisAreRelativeToTheOutputFolder) {
    struct Case {
        std::u16string texture;
        const char* folder;
        std::optional<std::string> uri;
    };
    const Case cases[] = {
        {u"/models/tex/wood.png", "/models", "tex/wood.png"},
        {u"/models/./tex/../wood.png", "/models/", "wood.png"},
        {u"/models/wood.png", "/out/glb", "../../models/wood.png"},
        {u"/models/grain 50%/\u00FCber#1.png", "/models", "grain%2050%25/%C3%BCber%231.png"},
        {u"wood.png", "/models", std::nullopt},
        {u"C:\\textures\\wood.png", "/models", std::nullopt},
        {u"/models/tex/", "/models", std::nullopt},
        {u"/models", "/models", std::nullopt},
        {std::u16string(u"/models/a") + char16_t(0xD800) + u".png", "/models", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        TestMesh mesh;
        mesh.polygons = {fan({0, 1, 2})};
        const GltfExport out = exported(scene(mesh, {{.texture = c.texture}}), c.folder);
        const Glb glb(out.bytes);
        const Json& material = glb.json["materials"][0]["pbrMetallicRoughness"];
        if (c.uri) {
            EXPECT_EQ(out.summary.textures, 1u);
            EXPECT_EQ(glb.json["images"][0]["uri"], *c.uri);
            EXPECT_EQ(material["baseColorTexture"]["index"], 0);
        } else {
            EXPECT_EQ(out.summary.texturesNotExpressible, 1u);
            EXPECT_FALSE(glb.json.contains("images"));
            EXPECT_FALSE(material.contains("baseColorTexture"));
        }
    }
}

TEST(GltfExport, LargeMeshesUseUnsignedIntIndices) {
    for (const std::size_t corners : {std::size_t{65534}, std::size_t{65535}}) {
        TestMesh mesh;
        mesh.vertices = corners;
        std::vector<int32_t> vertices(corners);
        for (std::size_t i = 0; i < corners; ++i) {
            vertices[i] = static_cast<int32_t>(i);
        }
        mesh.polygons = {fan(vertices)};
        const Glb glb(exported(scene(mesh)).bytes);
        const Json& indices = glb.json["accessors"][glb.primitive(0)["indices"].get<int>()];
        EXPECT_EQ(indices["componentType"], corners < 65535 ? 5123 : 5125) << corners;
        EXPECT_EQ(glb.values(glb.primitive(0)["indices"]).back(), corners - 1);
    }
}

// Damaged meshes: what is left out is counted, and what is written stays consistent.
TEST(GltfExport, DamagedMeshesAreCutDownAndCounted) {
    struct Case {
        const char* name;
        std::function<void(TestMesh&, Descriptor&)> damage;
        std::size_t GltfExportSummary::*counter;
        std::size_t triangles;  // of the four the mesh has undamaged
    };
    const auto setBlock = [](Descriptor& mesh, const char(&code)[5], Bytes bytes) {
        mesh.put(fourcc(code), Value::fromData(std::move(bytes)));
    };
    const Case cases[] = {
        {"PositionsNotWholeEntries",
         [&](TestMesh&, Descriptor& d) { setBlock(d, "verl", Bytes(25)); },
         &GltfExportSummary::skippedMeshes, 0},
        {"CornersNotWholeEntries",
         [&](TestMesh&, Descriptor& d) { setBlock(d, "faci", Bytes(17)); },
         &GltfExportSummary::skippedMeshes, 0},
        {"VertexOutOfRange", [](TestMesh& m, Descriptor&) { m.polygons[1].corners[1].vertex = 8; },
         &GltfExportSummary::invalidPolygons, 3},
        {"NegativeVertex", [](TestMesh& m, Descriptor&) { m.polygons[0].corners[0].vertex = -1; },
         &GltfExportSummary::invalidPolygons, 3},
        {"NonFinitePosition",
         [&](TestMesh&, Descriptor& d) {
             Block positions;
             for (int i = 0; i < 8; ++i) {
                 positions.f64({1.0 * i, i == 5 ? kNaN : 0, i == 6 ? 1e300 : 0});
             }
             setBlock(d, "verl", positions.bytes);
         },
         &GltfExportSummary::invalidPolygons, 2},
        {"CornerCountPastTheCorners",
         [](TestMesh& m, Descriptor&) { m.polygons[2].cornerCount = 0xFFFFFFFFu; },
         &GltfExportSummary::invalidPolygons, 2},
        {"NormalOutOfRange", [](TestMesh& m, Descriptor&) { m.polygons[0].corners[2].normal = 1; },
         &GltfExportSummary::meshesWithoutNormals, 4},
        {"ZeroNormal",
         [](TestMesh& m, Descriptor&) {
             m.normals = {{0, 0, 0}};
         },
         &GltfExportSummary::meshesWithoutNormals, 4},
        {"UVOutOfRange", [](TestMesh& m, Descriptor&) { m.polygons[0].corners[2].uv = -7; },
         &GltfExportSummary::meshesWithoutUVs, 4},
        {"NonFiniteUV", [](TestMesh& m, Descriptor&) { m.uvs[1][1] = kNaN; },
         &GltfExportSummary::meshesWithoutUVs, 4},
        {"MaterialOutOfRange", [](TestMesh& m, Descriptor&) { m.polygons[0].material = 9; },
         &GltfExportSummary::unknownMaterialPolygons, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestMesh mesh;
        // Vertices 5 and 6 are only in the quad, which comes last; the first polygon uses UV 1.
        mesh.polygons = {
            {.corners = {{0, 0, 0}, {1, 0, 1}, {2, 0, 0}}}, fan({2, 3, 4}), fan({4, 5, 6, 7})};
        Descriptor descriptor;
        c.damage(mesh, descriptor);
        Descriptor damaged = mesh.descriptor();
        for (const Descriptor::Item& item : descriptor.items()) {
            damaged.put(item.key, item.value);
        }
        const GltfExport out = exported(scene({Value::fromObject(fourcc("msho"), damaged)},
                                              {{.texture = u"/models/wood.png"}}));
        EXPECT_EQ(out.summary.*c.counter, 1u);
        EXPECT_EQ(out.summary.triangles, c.triangles);
        const Glb glb(out.bytes);
        if (c.triangles == 0) {
            EXPECT_FALSE(glb.json.contains("meshes"));
            EXPECT_FALSE(glb.json["nodes"][0].contains("mesh"));
            continue;
        }
        const bool normals = c.counter != &GltfExportSummary::meshesWithoutNormals;
        const bool uvs = c.counter != &GltfExportSummary::meshesWithoutUVs;
        const Json& primitives = glb.json["meshes"][0]["primitives"];
        for (const Json& primitive : primitives) {
            const std::size_t vertices = glb.attribute(primitive, "POSITION").size() / 3;
            for (const double index : glb.values(primitive["indices"])) {
                EXPECT_LT(index, vertices);
            }
            EXPECT_EQ(primitive["attributes"].contains("NORMAL"), normals);
            EXPECT_EQ(primitive["attributes"].contains("TEXCOORD_0"), uvs);
        }
        if (c.counter == &GltfExportSummary::unknownMaterialPolygons) {
            EXPECT_FALSE(primitives.back().contains("material"));
        } else {
            // Without UVs the mesh gets the material's copy without its texture.
            const Json& material = glb.json["materials"][primitives[0]["material"].get<int>()];
            EXPECT_EQ(material["pbrMetallicRoughness"].contains("baseColorTexture"), uvs);
        }
    }
}

TEST(GltfExport, ScenesWithoutMeshesOrWithOddItemsStillExport) {
    Descriptor root;
    root.put(fourcc("mshl"), Value::fromList({Value::fromInteger(3)}));
    root.put(fourcc("mtll"), Value::fromList({Value::fromText(u"not a material")}));
    const GltfExport out = exported(root);
    EXPECT_EQ(out.summary.skippedMeshes, 1u);
    EXPECT_EQ(out.summary.materials, 1u);
    const Glb glb(out.bytes);
    EXPECT_FALSE(glb.json.contains("buffers"));
    EXPECT_EQ(glb.json["asset"]["version"], "2.0");
    EXPECT_EQ(exported(Descriptor()).summary.meshes, 0u);
}

}  // namespace
}  // namespace quillmesh::tool
